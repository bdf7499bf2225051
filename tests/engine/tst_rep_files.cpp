// The job of one file on real workbooks, through the embedded spreadsheet
// application, checked afterwards with openpyxl.
#include "automation/excelapp/excelapp.h"
#include "engine/rep.h"
#include "testsupport.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtConcurrent>
#include <QtTest>

using testsupport::cellValue;
using testsupport::dumpWorkbook;

namespace {

STATE runOnPool(const QString &path, const Param &par)
{
    STATE state = LOST;
    int reports = 0;
    testsupport::Handoff handoff;
    QThreadPool pool;
    QtConcurrent::run(&pool, [&]() {
        {
            Rep rep(path, par, 0);
            QObject::connect(
                &rep, &Rep::done, &rep,
                [&](Rep *, STATE s, int) {
                    state = s;
                    ++reports;
                },
                Qt::DirectConnection);
            rep.run();
        }
        handoff.done();
    }).waitForFinished();
    handoff.wait();
    return reports == 1 ? state : LOST;
}

Param keys(const QString &sheets, const QVector<KeyPair> &pairs, int lookAt = 2,
           bool matchCase = false, int order = 1)
{
    Param p;
    p.sheetIndex = sheets;
    p.keys = pairs;
    p.isKeyMode = true;
    p.lookAt = lookAt;
    p.matchCase = matchCase;
    p.searchOrder = order;
    return p;
}

Param positions(const QString &sheets, const QVector<KeyPair> &pairs)
{
    Param p;
    p.sheetIndex = sheets;
    p.keys = pairs;
    p.isKeyMode = false;
    return p;
}

// Four sheets S1..S4 (S3 active); each holds its own number in A1 and the
// words of `words` down column B.
QJsonObject spec(const QString &writer)
{
    QJsonArray sheets;
    for (int i = 1; i <= 4; ++i) {
        sheets.append(QJsonObject{
            {QStringLiteral("name"), QStringLiteral("S%1").arg(i)},
            {QStringLiteral("cells"),
             QJsonObject{{QStringLiteral("A1"), QStringLiteral("sheet %1").arg(i)},
                         {QStringLiteral("B1"), QStringLiteral("Cat")},
                         {QStringLiteral("B2"), QStringLiteral("cat nap")},
                         {QStringLiteral("C1"), QStringLiteral("cat")},
                         {QStringLiteral("C2"), 2023}}}});
    }
    return QJsonObject{{QStringLiteral("writer"), writer},
                       {QStringLiteral("active"), 2},
                       {QStringLiteral("sheets"), sheets}};
}

} // namespace

class TestRepFiles : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void keywordOptions_data();
    void keywordOptions();
    void sheetChoice_data();
    void sheetChoice();
    void positionMode();
    void emptyPairsSaveUnchanged();
    void notAWorkbook();
    void badReferenceAfterWritesSavesNothing();

private:
    QString fresh(const QString &writer = QStringLiteral("openpyxl"));
    QTemporaryDir m_dir;
    QMap<QString, QString> m_pristine;
    int m_n = 0;
};

void TestRepFiles::initTestCase()
{
    excelapp::registerApplication();
    qRegisterMetaType<STATE>("STATE");
    QVERIFY(m_dir.isValid());
    for (const QString &w : {QStringLiteral("openpyxl"), QStringLiteral("xlsxwriter")}) {
        const QString p = m_dir.filePath(w + QStringLiteral(".xlsx"));
        QString error;
        QVERIFY2(testsupport::makeWorkbook(p, spec(w), &error), qPrintable(error));
        m_pristine[w] = p;
    }
}

QString TestRepFiles::fresh(const QString &writer)
{
    const QString p = m_dir.filePath(QStringLiteral("job%1.xlsx").arg(++m_n));
    QFile::copy(m_pristine.value(writer), p);
    return p;
}

void TestRepFiles::keywordOptions_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<int>("lookAt");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("expected"); // B1, B2, C1

    for (const QString &w : {QStringLiteral("openpyxl"), QStringLiteral("xlsxwriter")}) {
        for (int order : {1, 2}) {
            const QByteArray o = order == 1 ? "by rows" : "by columns";
            QTest::newRow(qPrintable(QStringLiteral("%1, part, any case, %2").arg(w, o)))
                << w << 2 << false << order
                << QStringList{QStringLiteral("dog"), QStringLiteral("dog nap"), QStringLiteral("dog")};
            QTest::newRow(qPrintable(QStringLiteral("%1, part, case, %2").arg(w, o)))
                << w << 2 << true << order
                << QStringList{QStringLiteral("Cat"), QStringLiteral("dog nap"), QStringLiteral("dog")};
            QTest::newRow(qPrintable(QStringLiteral("%1, whole, any case, %2").arg(w, o)))
                << w << 1 << false << order
                << QStringList{QStringLiteral("dog"), QStringLiteral("cat nap"), QStringLiteral("dog")};
            QTest::newRow(qPrintable(QStringLiteral("%1, whole, case, %2").arg(w, o)))
                << w << 1 << true << order
                << QStringList{QStringLiteral("Cat"), QStringLiteral("cat nap"), QStringLiteral("dog")};
        }
    }
}

void TestRepFiles::keywordOptions()
{
    QFETCH(QString, writer);
    QFETCH(int, lookAt);
    QFETCH(bool, matchCase);
    QFETCH(int, order);
    QFETCH(QStringList, expected);

    const QString f = fresh(writer);
    QCOMPARE(runOnPool(f, keys(QStringLiteral("首表"), {{QStringLiteral("cat"), QStringLiteral("dog")}},
                               lookAt, matchCase, order)),
             SUCCESS);
    const QJsonObject d = dumpWorkbook(f);
    QCOMPARE(cellValue(d, QStringLiteral("S1"), QStringLiteral("B1")).toString(), expected.at(0));
    QCOMPARE(cellValue(d, QStringLiteral("S1"), QStringLiteral("B2")).toString(), expected.at(1));
    QCOMPARE(cellValue(d, QStringLiteral("S1"), QStringLiteral("C1")).toString(), expected.at(2));
    QCOMPARE(cellValue(d, QStringLiteral("S2"), QStringLiteral("C1")).toString(), QStringLiteral("cat"));
    QCOMPARE(cellValue(d, QStringLiteral("S1"), QStringLiteral("C2")).toInt(), 2023);
}

void TestRepFiles::sheetChoice_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("changed"); // digits of the sheets whose A1 changed

    QTest::newRow("active sheet") << "默认页" << "3";
    QTest::newRow("first") << "首表" << "1";
    QTest::newRow("last") << "尾表" << "4";
    QTest::newRow("all") << "所有表" << "1234";
    QTest::newRow("typed, order and repeats") << "4,2,2" << "24";
    QTest::newRow("typed, the last sheet") << "4" << "4";
    QTest::newRow("typed, out of range") << "0,5" << "";
    QTest::newRow("typed, letters") << "a,b" << "";
    QTest::newRow("fullwidth comma") << "1，2" << "";
    QTest::newRow("fixed word with a trailing blank") << "所有表 " << "";
    QTest::newRow("the choice entry itself") << "指定表" << "";
}

void TestRepFiles::sheetChoice()
{
    QFETCH(QString, choice);
    QFETCH(QString, changed);

    const QString f = fresh();
    // "sheet" -> "page": a sheet processed twice would not change further.
    QCOMPARE(runOnPool(f, keys(choice, {{QStringLiteral("sheet"), QStringLiteral("page")}})), SUCCESS);
    const QJsonObject d = dumpWorkbook(f);
    for (int i = 1; i <= 4; ++i) {
        const QString expected = changed.contains(QString::number(i)) ? QStringLiteral("page %1").arg(i)
                                                                      : QStringLiteral("sheet %1").arg(i);
        QCOMPARE(cellValue(d, QStringLiteral("S%1").arg(i), QStringLiteral("A1")).toString(), expected);
    }
}

void TestRepFiles::positionMode()
{
    const QString f = fresh(QStringLiteral("xlsxwriter"));
    QCOMPARE(runOnPool(f, positions(QStringLiteral("1,3"), {{QStringLiteral("A1"), QStringLiteral("新")},
                                                            {QStringLiteral("$E$9"), QStringLiteral("12")},
                                                            {QStringLiteral("c2"), QStringLiteral("x")}})),
             SUCCESS);
    const QJsonObject d = dumpWorkbook(f);
    for (const QString &s : {QStringLiteral("S1"), QStringLiteral("S3")}) {
        QCOMPARE(cellValue(d, s, QStringLiteral("A1")).toString(), QStringLiteral("新"));
        // Position mode writes typed input: "12" is a number.
        QVERIFY(cellValue(d, s, QStringLiteral("E9")).type() != QVariant::String);
        QCOMPARE(cellValue(d, s, QStringLiteral("E9")).toDouble(), 12.0);
        QCOMPARE(cellValue(d, s, QStringLiteral("C2")).toString(), QStringLiteral("x"));
    }
    QCOMPARE(cellValue(d, QStringLiteral("S2"), QStringLiteral("A1")).toString(), QStringLiteral("sheet 2"));
}

void TestRepFiles::emptyPairsSaveUnchanged()
{
    const QString f = fresh();
    const QMap<QString, QString> before = testsupport::zipEntryHashes(f);
    QCOMPARE(runOnPool(f, keys(QStringLiteral("所有表"), {})), SUCCESS);
    QCOMPARE(testsupport::zipEntryHashes(f), before);
}

void TestRepFiles::notAWorkbook()
{
    const QString f = m_dir.filePath(QStringLiteral("text.xlsx"));
    QFile file(f);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("just some text, not a zip");
    file.close();
    const QByteArray before = testsupport::readAll(f);
    QCOMPARE(runOnPool(f, keys(QStringLiteral("首表"), {{QStringLiteral("t"), QStringLiteral("T")}})), FAIL);
    QCOMPARE(testsupport::readAll(f), before);
}

void TestRepFiles::badReferenceAfterWritesSavesNothing()
{
    const QString f = fresh();
    const QByteArray before = testsupport::readAll(f);
    QCOMPARE(runOnPool(f, positions(QStringLiteral("所有表"), {{QStringLiteral("A1"), QStringLiteral("w")},
                                                               {QStringLiteral("B2"), QStringLiteral("w")},
                                                               {QStringLiteral("not a cell"), QStringLiteral("w")}})),
             FAIL);
    QCOMPARE(testsupport::readAll(f), before);
}

QTEST_GUILESS_MAIN(TestRepFiles)
#include "tst_rep_files.moc"
