// Legacy .xls workbooks through a real LibreOffice: made at test time (xlsxwriter, converted
// by soffice) or taken from the corpus, edited through the Excel:: wrappers as the replace job
// does, and read back by xlrd: replacing, positions, typed input, the sheets a job sees.
#include "tst_xls.h"
#include "automation/excelapp/excelapp.h"
#include "automation/libreoffice/libreoffice.h"
#include "automation/sheetapp/filekind.h"
#include "jobs.h"
#include "testsupport.h"
#include "typedinput_rows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

using jobs::Outcome;
using jobs::Request;

namespace {

// A date's serial number as the tests write it: "date:45306.5".
QString dateText(double serial)
{
    return QStringLiteral("date:") + QString::number(serial, 'g', 12);
}

} // namespace

// "Sheet!A1" -> value, for every cell of every sheet; a date as dateText.
QMap<QString, QVariant> XlsTest::cellsOf(const QString &path)
{
    QMap<QString, QVariant> cells;
    for (const QJsonValue &s : testsupport::dumpXls(path).value("sheets").toArray()) {
        const QJsonObject sheet = s.toObject();
        const QJsonObject values = sheet.value("cells").toObject();
        const QJsonObject serials = sheet.value("serials").toObject();
        for (auto it = values.begin(); it != values.end(); ++it)
            cells.insert(sheet.value("name").toString() + '!' + it.key(),
                         serials.contains(it.key())
                             ? QVariant(dateText(serials.value(it.key()).toDouble()))
                             : it.value().toVariant());
    }
    return cells;
}

QString XlsTest::leftovers(const QString &dir)
{
    return QDir(dir)
        .entryList(QStringList{"*.tmp*", ".*.tmp*", ".~lock*"}, QDir::Files | QDir::Hidden)
        .join(", ");
}

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
             "C3": {"f": "=C1*2"}, "D1": "x~y", "D2": "red apple", "D3": "apple",
             "C4": {"date": "1899-12-31T12:00:00", "format": "h:mm:ss"},
             "C5": {"date": "2024-01-15T12:00:00", "format": "yyyy/m/d h:mm:ss"},
             "C6": {"date": "2024-01-15", "format": "yyyy/m/d"},
             "C7": {"date": "1899-12-31T08:30:00", "format": "h:mm:ss"}}},
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
    QCOMPARE(m_before.value("First!C5").toString(), dateText(45306.5));
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
    // Dates and times match in their Chinese form, not in the en-US one, and stay dates and
    // times. LibreOffice writes the month and day of a date-time and the hour of a time with
    // two digits, and a date in an ISO format in that format.
    QTest::newRow("date, Chinese form")
        << "2024/1/15"
        << "2024/2/1" << 1 << 1 << false << QStringList{"First!C6=date:45323"};
    QTest::newRow("date, en-US form") << "01/15/2024"
                                      << "02/01/2024" << 2 << 1 << false << QStringList();
    QTest::newRow("date in an ISO format")
        << "2024-01-31"
        << "2024/2/1" << 1 << 1 << false << QStringList{"First!C2=date:45323"};
    QTest::newRow("time and date-time, Chinese form")
        << "12:00:00"
        << "13:00:00" << 2 << 1 << false
        << QStringList{"First!C4=date:0.541666666667", "First!C5=date:45306.5416667"};
    QTest::newRow("time, en-US form") << "12:00:00 PM"
                                      << "1:00:00 PM" << 2 << 1 << false << QStringList();
    QTest::newRow("time before ten, two-digit hour")
        << "08:30:00"
        << "9:15:00" << 1 << 1 << false << QStringList{"First!C7=date:0.385416666667"};
    QTest::newRow("date-time, Chinese form, whole")
        << "2024/01/15 12:00:00"
        << "2024/1/16 6:30:00" << 1 << 1 << false << QStringList{"First!C5=date:45307.2708333"};
    QTest::newRow("date-time, en-US form") << "01/15/2024 12:00:00 PM"
                                           << "x" << 1 << 1 << false << QStringList();
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
    QTest::newRow("ISO date stays text") << "E4"
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
// The typed input rows of the .xlsx path, on .xls.

void XlsTest::typedInput_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QJsonArray>("expected");

    // One workbook per kind of cell, converted by one LibreOffice run.
    QMap<QString, QString> books; // cells -> .xls
    QStringList made;
    for (const typedinput::Row &row : typedinput::rows()) {
        if (books.contains(row.cells))
            continue;
        const QString xlsx = m_dir.filePath(QStringLiteral("typed%1.xlsx").arg(books.size()));
        made << typedinput::make(xlsx, row.cells);
        books.insert(row.cells, xlsx.chopped(1));
    }
    QString error;
    QVERIFY2(
        testsupport::xlsTool(QStringList{"convert", m_dir.filePath("profile"), m_dir.path()} + made,
                             nullptr, &error),
        qPrintable(error));
    for (const typedinput::Row &row : typedinput::rows())
        QTest::newRow(row.name) << books.value(row.cells) << row.text << typedinput::array(row.xls);
}

void XlsTest::typedInput()
{
    QFETCH(QString, file);
    QFETCH(QString, text);
    QFETCH(QJsonArray, expected);

    Request req;
    req.path = m_dir.filePath(QStringLiteral("typed.xls"));
    QFile::remove(req.path);
    QVERIFY(QFile::copy(file, req.path));
    req.keyMode = false;
    req.pairs = {{QStringLiteral("A1"), text}};
    const Outcome out = jobs::run(req);
    QCOMPARE(out.written, QVector<bool>{true});
    QVERIFY(out.saved);

    const QJsonObject sheet =
        testsupport::dumpXls(req.path).value("sheets").toArray()[0].toObject();
    QCOMPARE(sheet.value("cells").toObject().value("Z9").toString(), QStringLiteral("keep"));
    const QJsonArray got{sheet.value("cells").toObject().value("A1"),
                         sheet.value("types").toObject().value("A1"),
                         sheet.value("serials").toObject().value("A1")};
    for (int i = 0; i < expected.size(); ++i) {
        const bool same =
            i == 2 ? qAbs(got[i].toDouble() - expected[i].toDouble()) < 1e-9
                   : (got[i] == expected[i] || (got[i].isUndefined() && expected[i].isNull()));
        QVERIFY2(same, qPrintable(QStringLiteral("A1: %1, expected %2")
                                      .arg(jobs::compact(got), jobs::compact(expected))));
    }
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

void XlsTest::sheetKinds_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<QVector<int>>("sheets");
    QTest::addColumn<QString>("what"); // replaced by "pear"
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("outcome"); // saved, untouched, refused (the save), no cells
    QTest::addColumn<QString>("logged");

    // Books made by Spreadsheet::WriteExcel (BIFF8) with a chart sheet last, an Excel 4
    // macro sheet or a dialog sheet second, and an Excel 95 one with a macro sheet.
    QProcess perl;
    perl.start(QStringLiteral("perl"), {"-MSpreadsheet::WriteExcel", "-e", "1"});
    if (!perl.waitForFinished() || perl.exitStatus() != QProcess::NormalExit || perl.exitCode())
        QSKIP("Perl's Spreadsheet::WriteExcel is not installed");
    const QString kinds = m_dir.filePath(QStringLiteral("kinds"));
    QDir().mkpath(kinds + QStringLiteral("/work"));
    QString error;
    QVERIFY2(testsupport::xlsTool({"kinds", kinds + "/work", kinds}, nullptr, &error),
             qPrintable(error));

    const QStringList chart{"Data", "Last", "Chart1"};
    const QStringList macro{"Data", "Macro", "Last"};
    const QStringList dialog{"Data", "Dialog", "Last"};
    const QStringList biff5{QStringLiteral("Pr\u00fcfung \u20ac"), "Macro", "Last"};
    QTest::newRow("worksheets only, changed")
        << "" << QVector<int>{1} << "apple" << QStringList{"First", "Second", "Hidden"} << "saved"
        << "";
    QTest::newRow("chart sheet, a change refused")
        << "chart" << QVector<int>{1} << "apple" << chart << "refused"
        << "LibreOffice would store its chart sheet \"Chart1\" as a worksheet";
    QTest::newRow("chart sheet, nothing found")
        << "chart" << QVector<int>{1, 2} << "zebra" << chart << "untouched"
        << "";
    QTest::newRow("chart sheet last, no used range")
        << "chart" << QVector<int>{3} << "zebra" << chart << "no cells"
        << "sheet \"Chart1\" is a chart sheet, it has no cells";
    QTest::newRow("chart sheet, all sheets")
        << "chart" << QVector<int>{1, 2, 3} << "zebra" << chart << "no cells"
        << "sheet \"Chart1\" is a chart sheet, it has no cells";
    QTest::newRow("macro sheet searched, nothing found")
        << "macro" << QVector<int>{1, 2, 3} << "zebra" << macro << "untouched"
        << "";
    QTest::newRow("macro sheet, a change refused")
        << "macro" << QVector<int>{2} << "apple" << macro << "refused"
        << "LibreOffice would store its Excel 4 macro sheet \"Macro\" as a worksheet";
    QTest::newRow("dialog sheet, all sheets")
        << "dialog" << QVector<int>{1, 2, 3} << "zebra" << dialog << "no cells"
        << "sheet \"Dialog\" is a dialog sheet, it has no cells";
    QTest::newRow("dialog sheet, a change refused")
        << "dialog" << QVector<int>{3} << "apple" << dialog << "refused"
        << "LibreOffice would store its dialog sheet \"Dialog\" as a worksheet";
    QTest::newRow("Excel 95, name in the code page, nothing found")
        << "biff5" << QVector<int>{1, 3} << "zebra" << biff5 << "untouched"
        << "";
    QTest::newRow("Excel 95, macro sheet, a change refused")
        << "biff5" << QVector<int>{1} << "apple" << biff5 << "refused"
        << "LibreOffice would store its Excel 4 macro sheet \"Macro\" as a worksheet";
}

void XlsTest::sheetKinds()
{
    QFETCH(QString, book);
    QFETCH(QVector<int>, sheets);
    QFETCH(QString, what);
    QFETCH(QStringList, names);
    QFETCH(QString, outcome);
    QFETCH(QString, logged);

    Request req;
    req.path = copyOfBook(QStringLiteral("kind-%1.xls").arg(book));
    if (!book.isEmpty()) {
        QFile::remove(req.path);
        QVERIFY(QFile::copy(m_dir.filePath(QStringLiteral("kinds/%1.xls").arg(book)), req.path));
    }
    req.sheets = sheets;
    req.pairs = {{what, QStringLiteral("pear")}};
    req.listSheets = true;
    const QByteArray hash = testsupport::sha256(req.path);
    if (!logged.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(logged)));
    const Outcome out = jobs::run(req);
    QVERIFY(out.opened);
    QCOMPARE(out.sheetNames, names);
    QCOMPARE(out.liveAtExit, 0);
    QCOMPARE(out.complete, outcome != QLatin1String("no cells"));
    QCOMPARE(out.saved, outcome == QLatin1String("saved") || outcome == QLatin1String("untouched"));
    QCOMPARE(testsupport::sha256(req.path) == hash, outcome != QLatin1String("saved"));
    QVERIFY2(leftovers(m_dir.path()).isEmpty(), qPrintable(leftovers(m_dir.path())));
    // xlrd reads the worksheets of what was saved, the text replaced.
    const QMap<QString, QVariant> cells = cellsOf(req.path);
    QVERIFY(!cells.isEmpty());
    if (outcome == QLatin1String("saved"))
        QCOMPARE(cells.value(QStringLiteral("First!A2")).toString(), QStringLiteral("pear"));
}

// ---------------------------------------------------------------------------

void XlsTest::corpus_data()
{
    QTest::addColumn<QString>("name");
    const QString corpus = testsupport::corpusDir();
    const QStringList files =
        corpus.isEmpty() ? QStringList() : QDir(corpus).entryList({"*.xls"}, QDir::Files);
    TRELVIX_SKIP_WITHOUT_CORPUS(files);
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

QTEST_GUILESS_MAIN(XlsTest)
