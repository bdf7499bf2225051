// Legacy .xls workbooks through a real LibreOffice: made at test time
// (xlsxwriter, converted by soffice) or taken from the corpus, edited through
// the Excel:: wrappers as the replace job does, and read back by xlrd.
#include "automation/excelapp/excelapp.h"
#include "automation/libreoffice/libreoffice.h"
#include "automation/sheetapp/filekind.h"
#include "jobs.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

using jobs::Outcome;
using jobs::Request;

namespace {

// "Sheet!A1" -> value, for every cell of every sheet.
QMap<QString, QVariant> cellsOf(const QString &path)
{
    QMap<QString, QVariant> cells;
    for (const QJsonValue &s : testsupport::dumpXls(path).value("sheets").toArray()) {
        const QJsonObject sheet = s.toObject();
        const QJsonObject values = sheet.value("cells").toObject();
        for (auto it = values.begin(); it != values.end(); ++it)
            cells.insert(sheet.value("name").toString() + '!' + it.key(), it.value().toVariant());
    }
    return cells;
}

QString leftovers(const QString &dir)
{
    return QDir(dir)
        .entryList(QStringList{"*.tmp*", ".*.tmp*", ".~lock*"}, QDir::Files | QDir::Hidden)
        .join(", ");
}

} // namespace

class XlsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void keyword_data();
    void keyword();
    void position_data();
    void position();
    void sheetChoice_data();
    void sheetChoice();
    void corpus_data();
    void corpus();
    void refused_data();
    void refused();
    void instanceEnded_data();
    void instanceEnded();

private:
    // A fresh copy of the made workbook.
    QString copyOfBook(const QString &name);
    // Runs the job and checks the cells it should change against xlrd; every
    // other cell keeps its value.
    void checkRun(const Request &req, const QString &file, const QStringList &changed);
    // A job whose instance gets `signal` once the workbook is open: FAIL, file untouched.
    void runKilledJob(Request req, int signal, qint64 *victim);

    QTemporaryDir m_dir;
    QString m_book;
    QMap<QString, QVariant> m_before;
    QSet<qint64> m_pids;
};

void XlsTest::initTestCase()
{
    excelapp::registerApplication();
    if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
        QSKIP("LibreOffice is not installed");
    QVERIFY(m_dir.isValid());
    const QJsonObject spec = QJsonDocument::fromJson(R"({"writer": "xlsxwriter", "active": 1,
        "sheets": [
          {"name": "First", "cells": {"A1": "apple pie", "A2": "Apple", "A3": "apple",
             "B1": "a*c", "B2": "a?c", "B3": "abc", "C1": 1234.5, "C2": {"date": "2024-01-31"},
             "C3": {"f": "=C1*2"}, "D1": "x~y", "D2": "red apple", "D3": "apple"}},
          {"name": "Second", "cells": {"A1": "apple", "B5": "apple tree"}},
          {"name": "Hidden", "state": "hidden", "cells": {"A1": "apple"}}]})")
                                 .object();
    const QString xlsx = m_dir.filePath(QStringLiteral("book.xlsx"));
    QString error;
    QVERIFY2(testsupport::makeXls(xlsx, spec, m_dir.filePath(QStringLiteral("profile")), &error),
             qPrintable(error));
    m_book = m_dir.filePath(QStringLiteral("book.xls"));
    m_before = cellsOf(m_book);
    QCOMPARE(m_before.value("First!A1").toString(), QStringLiteral("apple pie"));
    // The converter leaves the formula uncomputed; every save computes it.
    m_before.insert(QStringLiteral("First!C3"), 2469.0);
}

void XlsTest::cleanupTestCase()
{
    for (const libreoffice::InstanceInfo &i : libreoffice::instances())
        m_pids.insert(i.pid);
    libreoffice::shutdownInstances();
    QVERIFY(libreoffice::instances().isEmpty());
    // Every instance this test saw has ended.
    for (qint64 pid : qAsConst(m_pids))
        QVERIFY2(::kill(pid_t(pid), 0) != 0, qPrintable(QString::number(pid)));
}

QString XlsTest::copyOfBook(const QString &name)
{
    const QString file = m_dir.filePath(name);
    QFile::remove(file);
    QFile::copy(m_book, file);
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    return file;
}

void XlsTest::checkRun(const Request &req, const QString &file, const QStringList &changed)
{
    const QFile::Permissions permissions = QFileInfo(file).permissions();
    const QByteArray hash = testsupport::sha256(file);
    const Outcome out = jobs::run(req, [this] {
        for (const libreoffice::InstanceInfo &i : libreoffice::instances())
            m_pids.insert(i.pid);
    });
    QVERIFY(out.opened);
    QVERIFY(out.complete);
    QVERIFY(out.saved);
    QCOMPARE(out.liveAtExit, 0);
    QCOMPARE(out.sheetCount, 3); // the hidden sheet counts
    QVERIFY2(leftovers(m_dir.path()).isEmpty(), qPrintable(leftovers(m_dir.path())));
    QCOMPARE(QFileInfo(file).permissions(), permissions);
    // Without a change the file stays as it was.
    if (changed.isEmpty()) {
        QCOMPARE(testsupport::sha256(file), hash);
        return;
    }

    QMap<QString, QVariant> expected = m_before;
    for (const QString &c : changed) {
        const QString ref = c.section('=', 0, 0);
        const QString value = c.section('=', 1);
        bool isNumber = false;
        const double number = value.toDouble(&isNumber);
        if (value.isEmpty())
            expected.remove(ref);
        else
            expected.insert(ref, isNumber ? QVariant(number) : QVariant(value));
    }
    const QMap<QString, QVariant> got = cellsOf(file);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QVERIFY2(
            got.value(it.key()) == it.value(),
            qPrintable(QStringLiteral("%1: %2, expected %3")
                           .arg(it.key(), got.value(it.key()).toString(), it.value().toString())));
    QCOMPARE(got.keys(), expected.keys());
}

// ---------------------------------------------------------------------------

void XlsTest::keyword_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<int>("lookAt");
    QTest::addColumn<int>("searchOrder");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<QStringList>("changed");

    const QStringList pears{"First!A1=pear pie", "First!A2=pear", "First!A3=pear",
                            "First!D2=red pear", "First!D3=pear"};
    QTest::newRow("part, any case") << "apple"
                                    << "pear" << 2 << 1 << false << pears;
    QTest::newRow("part, by columns") << "apple"
                                      << "pear" << 2 << 2 << false << pears;
    QTest::newRow("part, match case")
        << "apple"
        << "pear" << 2 << 1 << true
        << QStringList{"First!A1=pear pie", "First!A3=pear", "First!D2=red pear", "First!D3=pear"};
    QTest::newRow("whole, any case")
        << "APPLE"
        << "pear" << 1 << 1 << false
        << QStringList{"First!A2=pear", "First!A3=pear", "First!D3=pear"};
    QTest::newRow("whole, match case") << "Apple"
                                       << "Pear" << 1 << 1 << true << QStringList{"First!A2=Pear"};
    QTest::newRow("star, part, greedy")
        << "a*e"
        << "X" << 2 << 1 << false
        << QStringList{"First!A1=X", "First!A2=X", "First!A3=X", "First!D2=red X", "First!D3=X"};
    QTest::newRow("question marks, whole")
        << "a?c"
        << "X" << 1 << 1 << false << QStringList{"First!B1=X", "First!B2=X", "First!B3=X"};
    QTest::newRow("escaped star") << "a~*c"
                                  << "X" << 1 << 1 << false << QStringList{"First!B1=X"};
    QTest::newRow("escaped question mark") << "a~?c"
                                           << "X" << 2 << 1 << false << QStringList{"First!B2=X"};
    QTest::newRow("escaped tilde") << "x~~y"
                                   << "X" << 1 << 1 << false << QStringList{"First!D1=X"};
    QTest::newRow("replacement taken literally")
        << "pie"
        << "&$1\\n*" << 2 << 1 << false << QStringList{"First!A1=apple &$1\\n*"};
    QTest::newRow("number, result typed as a number")
        << "1234"
        << "99" << 2 << 1 << false << QStringList{"First!C1=99.5", "First!C3=199"};
    QTest::newRow("formula text") << "C1*2"
                                  << "C1*3" << 2 << 1 << false << QStringList{"First!C3=3703.5"};
    QTest::newRow("nothing found") << "zebra"
                                   << "X" << 2 << 1 << false << QStringList();
}

void XlsTest::keyword()
{
    QFETCH(QString, what);
    QFETCH(QString, replacement);
    QFETCH(int, lookAt);
    QFETCH(int, searchOrder);
    QFETCH(bool, matchCase);
    QFETCH(QStringList, changed);

    Request req;
    req.path = copyOfBook(QStringLiteral("keyword.xls"));
    req.sheets = {1};
    req.pairs = {{what, replacement}};
    req.lookAt = lookAt;
    req.searchOrder = searchOrder;
    req.matchCase = matchCase;
    checkRun(req, req.path, changed);
}

// ---------------------------------------------------------------------------

void XlsTest::position_data()
{
    QTest::addColumn<QString>("ref");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("changed"); // empty list and no "ok": refused

    QTest::newRow("text") << "E1"
                          << "hello" << QStringList{"First!E1=hello"};
    QTest::newRow("number typed") << "e2"
                                  << "42" << QStringList{"First!E2=42"};
    QTest::newRow("formula typed") << "$E$3"
                                   << "=C1+1" << QStringList{"First!E3=1235.5"};
    QTest::newRow("date typed") << "E4"
                                << "2024-02-29" << QStringList{"First!E4=2024-02-29"};
    QTest::newRow("overwrites a dependency") << "C1"
                                             << "1" << QStringList{"First!C1=1", "First!C3=2"};
    QTest::newRow("rectangle") << "F2:F1"
                               << "x" << QStringList{"First!F1=x", "First!F2=x"};
    QTest::newRow("not a reference") << "XX0"
                                     << "x" << QStringList{"refused"};
    QTest::newRow("past the last row of .xls") << "A70000"
                                               << "x" << QStringList{"refused"};
}

void XlsTest::position()
{
    QFETCH(QString, ref);
    QFETCH(QString, value);
    QFETCH(QStringList, changed);

    Request req;
    req.path = copyOfBook(QStringLiteral("position.xls"));
    req.sheets = {1};
    req.keyMode = false;
    req.pairs = {{ref, value}};
    if (changed != QStringList{"refused"}) {
        checkRun(req, req.path, changed);
        return;
    }
    const QByteArray before = testsupport::sha256(req.path);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Range"));
    const Outcome out = jobs::run(req);
    QVERIFY(out.opened);
    QVERIFY(!out.complete);
    QVERIFY(!out.saved);
    QCOMPARE(testsupport::sha256(req.path), before);
}

// ---------------------------------------------------------------------------

void XlsTest::sheetChoice_data()
{
    QTest::addColumn<QVector<int>>("sheets");
    QTest::addColumn<QStringList>("changed");

    const QStringList first{"First!A1=pear pie", "First!A2=pear", "First!A3=pear",
                            "First!D2=red pear", "First!D3=pear"};
    const QStringList second{"Second!A1=pear", "Second!B5=pear tree"};
    const QStringList hidden{"Hidden!A1=pear"};
    QTest::newRow("active sheet") << QVector<int>{0} << second;
    QTest::newRow("first") << QVector<int>{1} << first;
    QTest::newRow("last, hidden") << QVector<int>{3} << hidden;
    QTest::newRow("all") << QVector<int>{1, 2, 3} << first + second + hidden;
    QTest::newRow("typed list, twice") << QVector<int>{3, 2, 3} << second + hidden;
}

void XlsTest::sheetChoice()
{
    QFETCH(QVector<int>, sheets);
    QFETCH(QStringList, changed);

    Request req;
    req.path = copyOfBook(QStringLiteral("sheets.xls"));
    req.sheets = sheets;
    req.pairs = {{QStringLiteral("apple"), QStringLiteral("pear")}};
    checkRun(req, req.path, changed);
}

// ---------------------------------------------------------------------------

void XlsTest::corpus_data()
{
    QTest::addColumn<QString>("name");
    const QStringList files = QDir(testsupport::corpusDir()).entryList({"*.xls"}, QDir::Files);
    if (files.isEmpty())
        QSKIP("no corpus");
    for (const QString &f : files)
        QTest::newRow(qPrintable(f)) << f;
}

void XlsTest::corpus()
{
    QFETCH(QString, name);
    const QString file = m_dir.filePath(QStringLiteral("corpus-") + name);
    QFile::remove(file);
    QVERIFY(QFile::copy(testsupport::corpusDir() + '/' + name, file));
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray hash = testsupport::sha256(file);
    const QMap<QString, QVariant> before = cellsOf(file);

    Request req;
    req.path = file;
    if (sheetapp::fileKind(file) == sheetapp::FileKind::EncryptedWorkbook) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("password to open"));
        QVERIFY(!jobs::run(req).opened);
        QCOMPARE(testsupport::sha256(file), hash);
        return;
    }
    // A word of a text cell that no sheet name holds (formulas name sheets),
    // replaced on every sheet.
    QSet<QString> names;
    for (const QString &key : before.keys())
        names.insert(key.section('!', 0, 0));
    QString word;
    static const QRegularExpression letters(QStringLiteral("\\p{L}{3,}"));
    for (auto it = before.cbegin(); it != before.cend() && word.isEmpty(); ++it) {
        if (it.value().type() != QVariant::String)
            continue;
        auto m = letters.globalMatch(it.value().toString());
        while (m.hasNext() && word.isEmpty()) {
            const QString w = m.next().captured();
            if (std::none_of(names.cbegin(), names.cend(),
                             [&w](const QString &n) { return n.contains(w, Qt::CaseInsensitive); }))
                word = w;
        }
    }
    QVERIFY(!word.isEmpty());
    for (int i = 1; i <= names.size(); ++i)
        req.sheets << i;
    req.pairs = {{word, QStringLiteral("Zqxw")}};
    req.matchCase = true;
    const Outcome out = jobs::run(req);
    QVERIFY(out.saved);

    const QMap<QString, QVariant> after = cellsOf(file);
    QCOMPARE(after.keys(), before.keys());
    int replaced = 0;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        QVariant want = it.value();
        if (want.type() == QVariant::String && want.toString().contains(word)) {
            want = want.toString().replace(word, QStringLiteral("Zqxw"));
            ++replaced;
        }
        QVERIFY2(after.value(it.key()) == want, qPrintable(it.key()));
    }
    QVERIFY(replaced > 0);
}

// ---------------------------------------------------------------------------

void XlsTest::refused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("logged");

    QTest::newRow("LibreOffice cannot load it") << "garbled"
                                                << "book-garbled.xls: LibreOffice";
    QTest::newRow("damaged compound file") << "damaged"
                                           << "book-damaged.xls: an OLE compound file that holds "
                                              "neither a readable .xls workbook";
    QTest::newRow("read-only file") << "readonly"
                                    << "book-readonly.xls: cannot save: the file is read-only";
    QTest::newRow("LibreOffice not installed")
        << "missing"
        << "book-missing.xls: no LibreOffice instance: LibreOffice is not installed";
}

void XlsTest::refused()
{
    QFETCH(QString, kind);
    QFETCH(QString, logged);

    const QString file = copyOfBook(QStringLiteral("book-%1.xls").arg(kind));
    if (kind == QLatin1String("garbled"))
        QVERIFY(testsupport::xlsTool({QStringLiteral("garble"), file}));
    if (kind == QLatin1String("damaged")) {
        // The header stays; the sectors that locate the streams are overwritten.
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.seek(512));
        QVERIFY(f.write(QByteArray(int(f.size()) - 512, '\xff')) > 0);
    }
    if (kind == QLatin1String("readonly"))
        QFile::setPermissions(file, QFile::ReadOwner);
    if (kind == QLatin1String("missing")) {
        libreoffice::shutdownInstances();
        qputenv("TRELVIX_LO_PROGRAM_DIR", m_dir.filePath(QStringLiteral("nowhere")).toUtf8());
    }
    const QByteArray hash = testsupport::sha256(file);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(logged)));
    Request req;
    req.path = file;
    req.pairs = {{QStringLiteral("apple"), QStringLiteral("pear")}};
    const Outcome out = jobs::run(req);
    qunsetenv("TRELVIX_LO_PROGRAM_DIR");
    QVERIFY(!out.saved);
    QCOMPARE(out.liveAtExit, 0);
    QCOMPARE(testsupport::sha256(file), hash);
    QVERIFY2(leftovers(m_dir.path()).isEmpty(), qPrintable(leftovers(m_dir.path())));
}

// ---------------------------------------------------------------------------

void XlsTest::instanceEnded_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("duringJob"); // else while it waits in the pool
    QTest::newRow("killed during the job") << int(SIGKILL) << true;
    QTest::newRow("hangs during the job") << int(SIGSTOP) << true;
    QTest::newRow("killed while idle") << int(SIGKILL) << false;
}

void XlsTest::instanceEnded()
{
    QFETCH(int, signal);
    QFETCH(bool, duringJob);

    qint64 victim = 0;
    Request req;
    req.sheets = {1};
    req.pairs = {{QStringLiteral("apple"), QStringLiteral("pear")}};
    if (!duringJob) {
        // The instance the last job gave back.
        const QList<libreoffice::InstanceInfo> idle = libreoffice::instances();
        QVERIFY(!idle.isEmpty());
        victim = idle.first().pid;
        ::kill(pid_t(victim), signal);
    }
    if (duringJob)
        runKilledJob(req, signal, &victim);
    QVERIFY(victim > 0);
    m_pids.insert(victim);

    // The next job gets a fresh instance and succeeds.
    req.path = copyOfBook(QStringLiteral("after-ended.xls"));
    checkRun(req, req.path,
             {"First!A1=pear pie", "First!A2=pear", "First!A3=pear", "First!D2=red pear",
              "First!D3=pear"});
    for (const libreoffice::InstanceInfo &i : libreoffice::instances())
        QVERIFY(i.pid != victim);
}

void XlsTest::runKilledJob(Request req, int signal, qint64 *victim)
{
    const QString file = copyOfBook(QStringLiteral("ended.xls"));
    const QByteArray hash = testsupport::sha256(file);
    libreoffice::setCallLimit(3000);
    req.path = file;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("/ended.xls: LibreOffice"));
    const Outcome out = jobs::run(req, [victim, signal] {
        for (const libreoffice::InstanceInfo &i : libreoffice::instances()) {
            if (i.leased)
                *victim = i.pid;
        }
        ::kill(pid_t(*victim), signal);
    });
    libreoffice::setCallLimit(0);
    QVERIFY(out.opened);
    QVERIFY(!out.saved);
    QCOMPARE(testsupport::sha256(file), hash);
}

QTEST_GUILESS_MAIN(XlsTest)
#include "tst_xls.moc"
