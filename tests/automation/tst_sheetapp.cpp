// The embedded spreadsheet application driven through the Excel:: wrappers on
// pool threads, on workbooks written by openpyxl and xlsxwriter, checked with
// openpyxl.
#include "automation/apartment.h"
#include "automation/excel.h"
#include "automation/excelapp/excelapp.h"
#include "automation/sheetapp/sheetapp.h"
#include "jobs.h"
#include "testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

using jobs::compact;
using jobs::json;
using jobs::Outcome;
using jobs::Pair;
using jobs::Request;

namespace {

QJsonObject sheetOf(const QJsonObject &dump, const QString &name)
{
    for (const QJsonValue &s : dump.value(QStringLiteral("sheets")).toArray()) {
        if (s.toObject().value(QStringLiteral("name")).toString() == name)
            return s.toObject();
    }
    return QJsonObject();
}

// Cells of a workbook spec as openpyxl reads them back ({"f": "=X"} is "=X").
QJsonObject asRead(const QJsonObject &cells)
{
    QJsonObject out;
    for (auto it = cells.begin(); it != cells.end(); ++it) {
        const QJsonObject o = it.value().toObject();
        out.insert(it.key(),
                   o.contains(QLatin1String("f")) ? o.value(QLatin1String("f")) : it.value());
    }
    return out;
}

// The XML of workbook.xml, [Content_Types].xml and the workbook relationships.
QString part(const QJsonObject &inspected, const char *name)
{
    return inspected.value(QStringLiteral("parts"))
        .toObject()
        .value(QLatin1String(name))
        .toString();
}

QStringList entries(const QJsonObject &inspected)
{
    QStringList out;
    for (const QJsonValue &v : inspected.value(QStringLiteral("entries")).toArray())
        out << v.toString();
    return out;
}

} // namespace

class SheetAppTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void replace_data();
    void replace();
    void limits_data();
    void limits();
    void sharedFormulas_data();
    void sharedFormulas();
    void sharedStringUsedByAnotherSheet();
    void rangeForms_data();
    void rangeForms();
    void sheetKinds_data();
    void sheetKinds();
    void protectedSheet_data();
    void protectedSheet();
    void tableHeader_data();
    void tableHeader();
    void openRefusals_data();
    void openRefusals();
    void sameFileTwoJobs();
    void objectsAfterQuit();
    void memberChecks_data();
    void memberChecks();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString make(const QString &name, const QJsonObject &spec);
    QString makeKind(const QString &kind);

    QTemporaryDir m_dir;
};

void SheetAppTest::initTestCase()
{
    excelapp::registerApplication();
    QVERIFY(m_dir.isValid());
}

QString SheetAppTest::make(const QString &name, const QJsonObject &spec)
{
    const QString p = path(name);
    QFile::remove(p);
    QString error;
    if (!testsupport::makeWorkbook(p, spec, &error))
        qWarning("cannot write %s: %s", qPrintable(p), qPrintable(error));
    return p;
}

QString SheetAppTest::makeKind(const QString &kind)
{
    const QString p = path(kind + QStringLiteral(".xlsx"));
    QFile::remove(p);
    return jobs::writeWithTool(p, {QStringLiteral("make"), kind, p});
}

// ---------------------------------------------------------------------------

void SheetAppTest::replace_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<QJsonObject>("cells");
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<int>("lookAt");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<int>("searchOrder");
    QTest::addColumn<QJsonObject>("expected"); // every cell of the sheet afterwards
    QTest::addColumn<QJsonObject>("types");    // openpyxl data types of some cells

    const QJsonObject hello = json(R"({"A1":"Hello World","A2":"say hello","A3":"HELLO"})");
    QTest::newRow("part, any case")
        << "openpyxl" << hello << "hello"
        << "bye" << 2 << false << 1 << json(R"({"A1":"bye World","A2":"say bye","A3":"bye"})")
        << QJsonObject();
    QTest::newRow("part, match case")
        << "openpyxl" << hello << "hello"
        << "bye" << 2 << true << 1 << json(R"({"A1":"Hello World","A2":"say bye","A3":"HELLO"})")
        << QJsonObject();
    QTest::newRow("whole, any case")
        << "openpyxl" << hello << "hello"
        << "bye" << 1 << false << 1 << json(R"({"A1":"Hello World","A2":"say hello","A3":"bye"})")
        << QJsonObject();
    QTest::newRow("whole, match case finds nothing")
        << "openpyxl" << hello << "hello"
        << "bye" << 1 << true << 1 << hello << QJsonObject();
    QTest::newRow("part, by columns")
        << "xlsxwriter" << hello << "HELLO"
        << "bye" << 2 << false << 2 << json(R"({"A1":"bye World","A2":"say bye","A3":"bye"})")
        << QJsonObject();
    QTest::newRow("star, part") << "openpyxl" << hello << "W*d"
                                << "Earth" << 2 << true << 1
                                << json(R"({"A1":"Hello Earth","A2":"say hello","A3":"HELLO"})")
                                << QJsonObject();
    QTest::newRow("question marks, whole")
        << "openpyxl" << hello << "h?ll?"
        << "x" << 1 << false << 1 << json(R"({"A1":"Hello World","A2":"say hello","A3":"x"})")
        << QJsonObject();
    QTest::newRow("escaped star, whole")
        << "openpyxl" << json(R"({"A1":"a*b","A2":"axb"})") << "a~*b"
        << "c" << 1 << true << 1 << json(R"({"A1":"c","A2":"axb"})") << QJsonObject();
    QTest::newRow("star, whole, takes numbers and booleans too")
        << "openpyxl" << json(R"({"A1":"x","A2":5,"A3":true})") << "*"
        << "y" << 1 << true << 1 << json(R"({"A1":"y","A2":"y","A3":"y"})")
        << json(R"({"A2":"s","A3":"s"})");
    QTest::newRow("number stays a number")
        << "openpyxl" << json(R"({"A1":2023,"A2":"2023"})") << "2023"
        << "2024" << 1 << true << 1 << json(R"({"A1":2024,"A2":"2024"})")
        << json(R"({"A1":"n","A2":"s"})");
    QTest::newRow("number, part, still a number")
        << "xlsxwriter" << json(R"({"A1":1.5})") << "5"
        << "25" << 2 << true << 1 << json(R"({"A1":1.25})") << json(R"({"A1":"n"})");
    QTest::newRow("number shown in shortest form")
        << "openpyxl" << json(R"({"A1":0.1,"A2":1200000})") << "0.1"
        << "0.2" << 1 << true << 1 << json(R"({"A1":0.2,"A2":1200000})") << json(R"({"A1":"n"})");
    QTest::newRow("number becomes text when not a number")
        << "openpyxl" << json(R"({"A1":2023})") << "20"
        << "x" << 2 << true << 1 << json(R"({"A1":"x23"})") << json(R"({"A1":"s"})");
    QTest::newRow("number with leading zeros becomes text")
        << "openpyxl" << json(R"({"A1":10})") << "1"
        << "0" << 2 << true << 1 << json(R"({"A1":"00"})") << json(R"({"A1":"s"})");
    QTest::newRow("text is never made a formula")
        << "openpyxl" << json(R"({"A1":"x"})") << "x"
        << "=1+1" << 1 << true << 1 << json(R"({"A1":"=1+1"})") << json(R"({"A1":"s"})");
    const QJsonObject sum = json(R"J({"A1":1,"A2":2,"A3":{"f":"=SUM(A1:A2)"}})J");
    QTest::newRow("formula, part")
        << "openpyxl" << sum << "sum"
        << "MAX" << 2 << false << 1 << json(R"J({"A1":1,"A2":2,"A3":"=MAX(A1:A2)"})J")
        << json(R"({"A3":"f"})");
    QTest::newRow("formula, whole with the equals sign")
        << "xlsxwriter" << sum << "=SUM(A1:A2)"
        << "=A1" << 1 << true << 1 << json(R"({"A1":1,"A2":2,"A3":"=A1"})")
        << json(R"({"A3":"f"})");
    QTest::newRow("formula becomes text without equals sign")
        << "openpyxl" << sum << "=SUM(*"
        << "total" << 1 << true << 1 << json(R"({"A1":1,"A2":2,"A3":"total"})")
        << json(R"({"A3":"s"})");
    QTest::newRow("broken formula is not written")
        << "openpyxl" << sum << ")"
        << "" << 2 << true << 1 << json(R"J({"A1":1,"A2":2,"A3":"=SUM(A1:A2)"})J")
        << json(R"({"A3":"f"})");
    const QJsonObject concat = json(R"J({"A1":{"f":"=_xlfn.CONCAT(\"a\",\"b\")"}})J");
    QTest::newRow("function prefix hidden and kept")
        << "openpyxl" << concat << "=CONCAT(\"a\",\"b\")"
        << "=CONCAT(\"c\")" << 1 << true << 1 << json(R"J({"A1":"=_xlfn.CONCAT(\"c\")"})J")
        << QJsonObject();
    QTest::newRow("function prefix is not matched")
        << "openpyxl" << concat << "xlfn"
        << "q" << 2 << false << 1 << json(R"J({"A1":"=_xlfn.CONCAT(\"a\",\"b\")"})J")
        << QJsonObject();
    QTest::newRow("booleans and errors are matched on their text")
        << "openpyxl" << json(R"({"A1":true,"A2":"#N/A"})") << "#?/A"
        << "x" << 1 << false << 1 << json(R"({"A1":true,"A2":"x"})")
        << json(R"({"A1":"b","A2":"s"})");
    QTest::newRow("rich text matched flattened")
        << "xlsxwriter" << json(R"({"A1":{"rich":["ab","cd"]}})") << "bc"
        << "X" << 2 << true << 1 << json(R"({"A1":"aXd"})") << QJsonObject();
    QTest::newRow("chinese") << "xlsxwriter" << json(R"({"A1":"北京市北京路"})") << "北京"
                             << "上海" << 2 << true << 1 << json(R"({"A1":"上海市上海路"})")
                             << QJsonObject();
    QTest::newRow("greek case folding")
        << "openpyxl" << json(R"({"A1":"ΣΟΦΙΑ","A2":"σοφια"})") << "Σοφια"
        << "x" << 1 << false << 1 << json(R"({"A1":"x","A2":"x"})") << QJsonObject();
    QTest::newRow("empty what changes nothing") << "openpyxl" << hello << ""
                                                << "x" << 2 << false << 1 << hello << QJsonObject();
    QTest::newRow("replacement same as text")
        << "openpyxl" << hello << "HELLO"
        << "HELLO" << 1 << true << 1 << hello << QJsonObject();
}

void SheetAppTest::replace()
{
    QFETCH(QString, writer);
    QFETCH(QJsonObject, cells);
    QFETCH(QString, what);
    QFETCH(QString, replacement);
    QFETCH(int, lookAt);
    QFETCH(bool, matchCase);
    QFETCH(int, searchOrder);
    QFETCH(QJsonObject, expected);
    QFETCH(QJsonObject, types);

    QJsonObject sheet{{"name", "S"}, {"cells", cells}};
    const QString file = make(QStringLiteral("replace.xlsx"),
                              QJsonObject{{"writer", writer}, {"sheets", QJsonArray{sheet}}});
    Request req;
    req.path = file;
    req.pairs = {{what, replacement}};
    req.lookAt = lookAt;
    req.matchCase = matchCase;
    req.searchOrder = searchOrder;
    JOBS_SKIP_IF_SAME_UNHELD(req.path);
    const Outcome out = jobs::run(req);
    QVERIFY(out.opened);
    QVERIFY(out.complete);
    QVERIFY(out.saved);
    QCOMPARE(out.liveAtExit, 0);
    QCOMPARE(out.replaced.size(), 1);
    QCOMPARE(out.replaced.first(), expected != asRead(cells));

    QString error;
    const QJsonObject dump = testsupport::dumpWorkbook(file, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    const QJsonObject s = sheetOf(dump, QStringLiteral("S"));
    QCOMPARE(compact(s.value(QStringLiteral("cells")).toObject()), compact(expected));
    const QJsonObject gotTypes = s.value(QStringLiteral("types")).toObject();
    for (auto it = types.begin(); it != types.end(); ++it)
        QCOMPARE(gotTypes.value(it.key()).toString(), it.value().toString());
}

// ---------------------------------------------------------------------------

void SheetAppTest::limits_data()
{
    QTest::addColumn<QString>("cell"); // the cell's content
    QTest::addColumn<bool>("formula");
    QTest::addColumn<int>("replacementSize"); // "x" replaced by this many "y"
    QTest::addColumn<bool>("changed");

    QTest::newRow("text at the limit") << "x" << false << 32767 << true;
    QTest::newRow("text over the limit") << "x" << false << 32768 << false;
    QTest::newRow("text over the limit by growth") << "xx" << false << 16384 << false;
    QTest::newRow("formula at the limit") << "=\"x\"" << true << 8192 - 3 << true;
    QTest::newRow("formula over the limit") << "=\"x\"" << true << 8192 - 2 << false;
}

void SheetAppTest::limits()
{
    QFETCH(QString, cell);
    QFETCH(bool, formula);
    QFETCH(int, replacementSize);
    QFETCH(bool, changed);

    const QJsonValue value = formula ? QJsonValue(QJsonObject{{"f", cell}}) : QJsonValue(cell);
    const QString file =
        make(QStringLiteral("limits.xlsx"),
             QJsonObject{{"sheets", QJsonArray{QJsonObject{
                                        {"name", "S"}, {"cells", QJsonObject{{"A1", value}}}}}}});
    const QByteArray before = testsupport::sha256(file);
    Request req;
    req.path = file;
    req.pairs = {{QStringLiteral("x"), QString(replacementSize, QLatin1Char('y'))}};
    JOBS_SKIP_IF_SAME_UNHELD(req.path);
    const Outcome out = jobs::run(req);
    QVERIFY(out.saved);
    QCOMPARE(out.replaced.value(0), changed);
    const QVariant got = testsupport::cellValue(testsupport::dumpWorkbook(file), "S", "A1");
    if (changed) {
        QVERIFY(!got.toString().contains(QLatin1Char('x')));
        QVERIFY(got.toString().size() >= replacementSize);
    } else {
        QCOMPARE(got.toString(), cell);
    }
    Q_UNUSED(before);
}

// ---------------------------------------------------------------------------

void SheetAppTest::sharedFormulas_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<int>("lookAt");
    QTest::addColumn<QStringList>("column"); // B1..B4 afterwards
    QTest::addColumn<bool>("formulaChanged");

    QTest::newRow("one member's own text")
        << "A2"
        << "A1" << 2 << QStringList{"=A1*2", "=A1*2", "=A3*2", "=A4*2"} << true;
    QTest::newRow("every cell of the group")
        << "~*2"
        << "*3" << 2 << QStringList{"=A1*3", "=A2*3", "=A3*3", "=A4*3"} << true;
    QTest::newRow("the master only")
        << "=A1*2"
        << "=A1*5" << 1 << QStringList{"=A1*5", "=A2*2", "=A3*2", "=A4*2"} << true;
    QTest::newRow("a value, no formula")
        << "10"
        << "11" << 1 << QStringList{"=A1*2", "=A2*2", "=A3*2", "=A4*2"} << false;
}

void SheetAppTest::sharedFormulas()
{
    QFETCH(QString, what);
    QFETCH(QString, replacement);
    QFETCH(int, lookAt);
    QFETCH(QStringList, column);
    QFETCH(bool, formulaChanged);

    const QString file = makeKind(QStringLiteral("shared"));
    QString error;
    const QMap<QString, QString> before = testsupport::zipEntryHashes(file, &error);
    QVERIFY2(before.contains(QStringLiteral("xl/calcChain.xml")), qPrintable(error));

    Request req;
    req.path = file;
    req.sheets = {1};
    req.pairs = {{what, replacement}};
    req.lookAt = lookAt;
    req.matchCase = true;
    JOBS_SKIP_IF_SAME_UNHELD(req.path);
    const Outcome out = jobs::run(req);
    QVERIFY(out.saved);
    QCOMPARE(out.replaced, QVector<bool>{true});

    const QJsonObject dump = testsupport::dumpWorkbook(file, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    for (int r = 1; r <= 4; ++r) {
        const QString ref = QStringLiteral("B%1").arg(r);
        QCOMPARE(testsupport::cellValue(dump, "Calc", ref).toString(), column[r - 1]);
    }
    // Cells around the group keep their formulas.
    QCOMPARE(testsupport::cellValue(dump, "Calc", "C1").toString(),
             QStringLiteral("=_xlfn.CONCAT(\"x\",A1)"));
    QCOMPARE(testsupport::cellValue(dump, "Other", "A1").toString(), QStringLiteral("=Calc!A1+1"));

    const QJsonObject inspected = jobs::inspect(file);
    const QString workbook = part(inspected, "xl/workbook.xml");
    QVERIFY2(workbook.contains(QStringLiteral("fullCalcOnLoad=\"1\"")), qPrintable(workbook));
    const bool chainKept = entries(inspected).contains(QStringLiteral("xl/calcChain.xml"));
    QCOMPARE(chainKept, !formulaChanged);
    QCOMPARE(part(inspected, "[Content_Types].xml").contains(QStringLiteral("calcChain")),
             !formulaChanged);
    QCOMPARE(part(inspected, "xl/_rels/workbook.xml.rels").contains(QStringLiteral("calcChain")),
             !formulaChanged);

    QStringList allowed{"xl/worksheets/sheet1.xml", "xl/workbook.xml"};
    if (formulaChanged)
        allowed << "[Content_Types].xml"
                << "xl/_rels/workbook.xml.rels"
                << "xl/calcChain.xml";
    allowed.sort();
    QCOMPARE(testsupport::changedEntries(before, testsupport::zipEntryHashes(file)), allowed);
}

void SheetAppTest::sharedStringUsedByAnotherSheet()
{
    const QString file = make(QStringLiteral("sst.xlsx"), json(R"({"writer":"xlsxwriter","sheets":[
               {"name":"One","cells":{"A1":"shared text","A2":"other"}},
               {"name":"Two","cells":{"A1":"shared text"}}]})"));
    const QMap<QString, QString> before = testsupport::zipEntryHashes(file);
    Request req;
    req.path = file;
    req.sheets = {1};
    req.pairs = {{QStringLiteral("shared"), QStringLiteral("own")}};
    JOBS_SKIP_IF_SAME_UNHELD(req.path);
    QVERIFY(jobs::run(req).saved);
    const QJsonObject dump = testsupport::dumpWorkbook(file);
    QCOMPARE(testsupport::cellValue(dump, "One", "A1").toString(), QStringLiteral("own text"));
    QCOMPARE(testsupport::cellValue(dump, "One", "A2").toString(), QStringLiteral("other"));
    QCOMPARE(testsupport::cellValue(dump, "Two", "A1").toString(), QStringLiteral("shared text"));
    QCOMPARE(testsupport::changedEntries(before, testsupport::zipEntryHashes(file)),
             QStringList{"xl/worksheets/sheet1.xml"});
}

// ---------------------------------------------------------------------------

void SheetAppTest::rangeForms_data()
{
    QTest::addColumn<QString>("ref");
    QTest::addColumn<QStringList>("cells"); // cells that hold "new" afterwards; empty: refused

    QTest::newRow("lower case") << "b2" << QStringList{"B2"};
    QTest::newRow("anchored") << "$C$3" << QStringList{"C3"};
    QTest::newRow("number cell") << "A1" << QStringList{"A1"};
    QTest::newRow("empty cell") << "D5" << QStringList{"D5"};
    QTest::newRow("rectangle") << "B2:C3" << QStringList{"B2", "B3", "C2", "C3"};
    QTest::newRow("rectangle, corners swapped") << "c3:b2" << QStringList{"B2", "B3", "C2", "C3"};
    QTest::newRow("last cell of the sheet") << "XFD1048576" << QStringList{"XFD1048576"};
    QTest::newRow("whole column") << "A:A" << QStringList();
    QTest::newRow("whole row") << "1:1" << QStringList();
    QTest::newRow("name") << "Total" << QStringList();
    QTest::newRow("union") << "A1,B2" << QStringList();
    QTest::newRow("sheet qualified") << "S!A1" << QStringList();
    QTest::newRow("empty") << "" << QStringList();
    QTest::newRow("past the last column") << "XFE1" << QStringList();
    QTest::newRow("past the last row") << "A1048577" << QStringList();
    QTest::newRow("row zero") << "A0" << QStringList();
    QTest::newRow("blank") << "A 1" << QStringList();
}

void SheetAppTest::rangeForms()
{
    QFETCH(QString, ref);
    QFETCH(QStringList, cells);

    const QString file = makeKind(QStringLiteral("styled"));
    const QJsonObject stylesBefore =
        jobs::inspect(file).value("styles").toObject().value("S").toObject();
    const QByteArray hashBefore = testsupport::sha256(file);
    Request req;
    req.path = file;
    req.keyMode = false;
    req.pairs = {{ref, QStringLiteral("new")}};
    JOBS_SKIP_IF_SAME_UNHELD(req.path);
    const Outcome out = jobs::run(req);
    QVERIFY(out.opened);
    QCOMPARE(out.liveAtExit, 0);
    if (cells.isEmpty()) {
        QVERIFY(!out.complete);
        QVERIFY(!out.saved);
        QCOMPARE(testsupport::sha256(file), hashBefore);
        return;
    }
    QVERIFY(out.complete);
    QVERIFY(out.saved);
    QCOMPARE(out.written, QVector<bool>{true});

    if (cells == QStringList{"XFD1048576"}) {
        // Too far out for openpyxl to read in reasonable time.
        xlsx::Document doc;
        QVERIFY(doc.open(file));
        const xlsx::Cell c = doc.worksheet(0)->cell(1048576, 16384);
        QCOMPARE(c.text, QStringLiteral("new"));
        QVERIFY(c.isString());
        return;
    }
    const QJsonObject dump = testsupport::dumpWorkbook(file);
    const QJsonObject s = sheetOf(dump, QStringLiteral("S"));
    const QJsonObject got = s.value(QStringLiteral("cells")).toObject();
    for (const QString &c : cells) {
        QCOMPARE(got.value(c).toString(), QStringLiteral("new"));
        QCOMPARE(s.value(QStringLiteral("types")).toObject().value(c).toString(),
                 QStringLiteral("s"));
    }
    // Cells not written keep their values; written ones keep their styles.
    const QJsonObject original{{"A1", 0.25}, {"B2", "plain"}, {"C3", "keep"}};
    for (auto it = original.begin(); it != original.end(); ++it) {
        if (!cells.contains(it.key()))
            QCOMPARE(got.value(it.key()), it.value());
    }
    const QJsonObject stylesAfter =
        jobs::inspect(file).value("styles").toObject().value("S").toObject();
    for (auto it = stylesBefore.begin(); it != stylesBefore.end(); ++it)
        QCOMPARE(compact(stylesAfter.value(it.key()).toObject()), compact(it.value().toObject()));
}

// ---------------------------------------------------------------------------

void SheetAppTest::sheetKinds_data()
{
    QTest::addColumn<QString>("kind");          // of the second sheet (sheetapp_tool.py make)
    QTest::addColumn<QStringList>("addresses"); // UsedRange address per sheet, "-" for none
    QTest::addColumn<QJsonObject>("after");     // "Sheet!A1" -> value read back
    QTest::addColumn<QStringList>("changed");   // zip entries whose content changed

    // Chart and dialog sheets have no cells; an Excel 4 macro sheet is a worksheet. The
    // second and third sheets are searched; the text of Data!A1 is shared with Macro!A1.
    QTest::newRow("chart sheet") << "chartsheet" << QStringList{"$A$1:$B$2", "-", "$A$1", "$A$1"}
                                 << json(R"({"Data!A1":"apple","Hidden!A1":"plum hidden"})")
                                 << QStringList{"xl/worksheets/sheet2.xml"};
    QTest::newRow("macro sheet")
        << "macrosheet" << QStringList{"$A$1:$B$2", "$A$1:$A$2", "$A$1", "$A$1"}
        << json(R"({"Data!A1":"apple","Macro!A1":"plum","Macro!A2":"plum macro",
                    "Hidden!A1":"plum hidden"})")
        << QStringList{"xl/macrosheets/sheet1.xml", "xl/sharedStrings.xml"};
    QTest::newRow("dialog sheet") << "dialogsheet" << QStringList{"$A$1:$B$2", "-", "$A$1", "$A$1"}
                                  << json(R"({"Data!A1":"apple","Hidden!A1":"plum hidden"})")
                                  << QStringList{"xl/sharedStrings.xml"};
}

void SheetAppTest::sheetKinds()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, addresses);
    QFETCH(QJsonObject, after);
    QFETCH(QStringList, changed);

    const QString file = makeKind(kind);
    const QMap<QString, QString> before = testsupport::zipEntryHashes(file);
    const QString second = kind == QLatin1String("chartsheet")   ? QStringLiteral("Chart")
                           : kind == QLatin1String("macrosheet") ? QStringLiteral("Macro")
                                                                 : QStringLiteral("Dialog");

    struct Seen
    {
        int count = 0;
        QString folder;
        QStringList names;
        QStringList addresses; // UsedRange address per sheet, "-" for none
        QString active;
        bool zeroItem = true;
        bool pastItem = true;
        bool secondRange = false;
        bool replacedHidden = false;
        bool saved = false;
    } seen;
    const int live = jobs::onPoolThread([&file, &seen] {
        Excel::Application app;
        std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
        std::unique_ptr<Excel::Workbook> book(books->Open(file));
        if (!book)
            return;
        seen.folder = book->Path();
        std::unique_ptr<Excel::Sheets> sheets(book->Sheets());
        seen.count = sheets->Count();
        for (int i = 1; i <= seen.count; ++i) {
            std::unique_ptr<Excel::Worksheet> ws(sheets->Item(i));
            if (!ws)
                continue;
            seen.names << ws->object()->dynamicCall("Name()").toString();
            std::unique_ptr<Excel::Range> used(ws->UsedRange());
            seen.addresses << (used ? used->object()->dynamicCall("Address()").toString()
                                    : QStringLiteral("-"));
            if (used && (i == 2 || i == 3)) {
                const bool replaced =
                    used->Replace(QStringLiteral("apple"), QStringLiteral("plum"), 2, 1, false);
                if (i == 3)
                    seen.replacedHidden = replaced;
            }
            if (i == 2) {
                std::unique_ptr<Excel::Range> cell(ws->Range(QStringLiteral("A1")));
                seen.secondRange = cell != nullptr;
            }
        }
        std::unique_ptr<Excel::Worksheet> active(book->ActiveSheet());
        seen.active = active ? active->object()->dynamicCall("Name()").toString() : QString();
        std::unique_ptr<Excel::Worksheet> zero(sheets->Item(0));
        seen.zeroItem = zero != nullptr;
        std::unique_ptr<Excel::Worksheet> past(sheets->Item(seen.count + 1));
        seen.pastItem = past != nullptr;
        seen.saved = book->Save();
        app.Quit();
    });
    QCOMPARE(live, 0);
    QCOMPARE(seen.count, 4);
    QCOMPARE(seen.folder, QFileInfo(file).absolutePath());
    QVERIFY(!seen.folder.endsWith(QLatin1Char('/')));
    QCOMPARE(seen.names, (QStringList{"Data", second, "Hidden", "Empty"}));
    QCOMPARE(seen.addresses, addresses);
    QCOMPARE(seen.active, QStringLiteral("Hidden"));
    QVERIFY(!seen.zeroItem);
    QVERIFY(!seen.pastItem);
    QCOMPARE(seen.secondRange, addresses.at(1) != QLatin1String("-"));
    QVERIFY(seen.replacedHidden);
    QVERIFY(seen.saved);

    const QJsonObject dump = testsupport::dumpWorkbook(file);
    for (auto it = after.begin(); it != after.end(); ++it)
        QCOMPARE(testsupport::cellValue(dump, it.key().section('!', 0, 0), it.key().section('!', 1))
                     .toString(),
                 it.value().toString());
    if (kind == QLatin1String("chartsheet"))
        QCOMPARE(sheetOf(dump, "Chart").value("kind").toString(), QStringLiteral("chartsheet"));
    QCOMPARE(sheetOf(dump, "Hidden").value("state").toString(), QStringLiteral("hidden"));
    QCOMPARE(testsupport::changedEntries(before, testsupport::zipEntryHashes(file)), changed);
}

// ---------------------------------------------------------------------------

void SheetAppTest::protectedSheet_data()
{
    QTest::addColumn<bool>("keyMode");
    QTest::addColumn<int>("sheet");          // 1: "Locked" (protected), 2: "Free"
    QTest::addColumn<QString>("cell");       // position mode: where "public" is written
    QTest::addColumn<bool>("written");       // position mode: the write's result
    QTest::addColumn<QJsonObject>("locked"); // cells of "Locked" afterwards
    QTest::addColumn<QJsonObject>("free");   // cells of "Free" afterwards

    const QJsonObject untouched = json(R"({"A1":"secret","A2":"secret"})");
    const QJsonObject freeUntouched = json(R"({"A1":"secret"})");
    QTest::newRow("replace skips locked cells, changes unlocked ones")
        << true << 1 << "" << false << json(R"({"A1":"secret","A2":"public"})") << freeUntouched;
    QTest::newRow("replace on an unprotected sheet")
        << true << 2 << "" << false << untouched << json(R"({"A1":"public"})");
    QTest::newRow("value, locked cell")
        << false << 1 << "A1" << false << untouched << freeUntouched;
    QTest::newRow("value, unlocked cell")
        << false << 1 << "A2" << true << json(R"({"A1":"secret","A2":"public"})") << freeUntouched;
    QTest::newRow("value, range with a locked cell")
        << false << 1 << "A1:A2" << false << untouched << freeUntouched;
    QTest::newRow("value, empty cell of a protected sheet")
        << false << 1 << "C9" << false << untouched << freeUntouched;
}

void SheetAppTest::protectedSheet()
{
    QFETCH(bool, keyMode);
    QFETCH(int, sheet);
    QFETCH(QString, cell);
    QFETCH(bool, written);
    QFETCH(QJsonObject, locked);
    QFETCH(QJsonObject, free);

    const QString file = makeKind(QStringLiteral("protected"));
    Request req;
    req.path = file;
    req.sheets = {sheet};
    req.keyMode = keyMode;
    req.pairs = {keyMode ? Pair{QStringLiteral("secret"), QStringLiteral("public")}
                         : Pair{cell, QStringLiteral("public")}};
    JOBS_SKIP_IF_SAME_UNHELD(req.path);
    const Outcome out = jobs::run(req);
    QVERIFY(out.saved);
    if (!keyMode)
        QCOMPARE(out.written, QVector<bool>{written});

    const QJsonObject dump = testsupport::dumpWorkbook(file);
    QCOMPARE(compact(sheetOf(dump, "Locked").value("cells").toObject()), compact(locked));
    QCOMPARE(compact(sheetOf(dump, "Free").value("cells").toObject()), compact(free));
}

// ---------------------------------------------------------------------------

void SheetAppTest::tableHeader_data()
{
    QTest::addColumn<bool>("keyMode");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("headerCell");
    QTest::addColumn<QStringList>("headers"); // the header row afterwards = the column names

    QTest::newRow("replace renames the column") << true << "Qty"
                                                << "Amount"
                                                << "B1" << QStringList{"Name", "Amount", "Note"};
    QTest::newRow("replace to a taken name") << true << "Qty"
                                             << "name"
                                             << "B1" << QStringList{"Name", "name2", "Note"};
    QTest::newRow("value renames the column") << false << "C1"
                                              << "Remark"
                                              << "C1" << QStringList{"Name", "Qty", "Remark"};
    QTest::newRow("value empties a header") << false << "B1"
                                            << ""
                                            << "B1" << QStringList{"Name", "Column2", "Note"};
    QTest::newRow("data cell leaves the names") << false << "B2"
                                                << "Qty"
                                                << "B1" << QStringList{"Name", "Qty", "Note"};
}

void SheetAppTest::tableHeader()
{
    QFETCH(bool, keyMode);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, headerCell);
    QFETCH(QStringList, headers);

    const QString file = makeKind(QStringLiteral("table"));
    Request req;
    req.path = file;
    req.keyMode = keyMode;
    req.lookAt = 1;
    req.matchCase = true;
    req.pairs = {{first, second}};
    JOBS_SKIP_IF_SAME_UNHELD(req.path);
    const Outcome out = jobs::run(req);
    QVERIFY(out.saved);

    const QJsonObject dump = testsupport::dumpWorkbook(file);
    QStringList row;
    for (const char *c : {"A1", "B1", "C1"})
        row << testsupport::cellValue(dump, "T", c).toString();
    QCOMPARE(row, headers);
    const QJsonArray names = jobs::inspect(file)
                                 .value("tables")
                                 .toObject()
                                 .value("T")
                                 .toObject()
                                 .value("Stock")
                                 .toArray();
    QStringList got;
    for (const QJsonValue &v : names)
        got << v.toString();
    QCOMPARE(got, headers);
    Q_UNUSED(headerCell);
}

// ---------------------------------------------------------------------------

void SheetAppTest::openRefusals_data()
{
    QTest::addColumn<QString>("kind");

    QTest::newRow("missing file") << "missing";
    QTest::newRow("folder") << "folder";
    QTest::newRow("legacy or encrypted (OLE)") << "ole";
    QTest::newRow("html under an xlsx name") << "html";
    QTest::newRow("empty file") << "empty";
    QTest::newRow("binary workbook") << "xlsb";
    QTest::newRow("zip that is no workbook") << "notworkbook";
    QTest::newRow("truncated zip") << "truncated";
    QTest::newRow("malformed sheet") << "badxml";
    QTest::newRow("DTD with an external entity") << "dtd";
    QTest::newRow("DTD in a worksheet") << "dtdsheet";
    QTest::newRow("entry inflating out of proportion") << "bomb";
    QTest::newRow("duplicate entries") << "duplicate";
}

void SheetAppTest::openRefusals()
{
    QFETCH(QString, kind);
    QString file = path(QStringLiteral("refused-%1.xlsx").arg(kind));
    if (kind == QLatin1String("folder")) {
        QDir(m_dir.path()).mkpath(QStringLiteral("folder.xlsx"));
        file = path(QStringLiteral("folder.xlsx"));
    } else if (kind != QLatin1String("missing")) {
        QString error;
        QVERIFY2(testsupport::sheetappTool({QStringLiteral("broken"), kind, file}, nullptr, &error),
                 qPrintable(error));
    }
    const QByteArray before = QFileInfo(file).isFile() ? testsupport::sha256(file) : QByteArray();
    const QDateTime modified = QFileInfo(file).lastModified();

    Request req;
    req.path = file;
    req.pairs = {{QStringLiteral("hello"), QStringLiteral("bye")}};
    JOBS_SKIP_IF_SAME_UNHELD(req.path);
    const Outcome out = jobs::run(req);
    QVERIFY(!out.opened);
    QVERIFY(!out.saved);
    QCOMPARE(out.liveAtExit, 0);
    if (!before.isEmpty()) {
        QCOMPARE(testsupport::sha256(file), before);
        QCOMPARE(QFileInfo(file).lastModified(), modified);
    }
    // Refusing it held nothing open.
    const QString canonical = QFileInfo(file).canonicalFilePath();
    if (!canonical.isEmpty())
        QVERIFY(!sheetapp::isFileHeld(canonical));
    QStringList leftovers =
        QDir(m_dir.path()).entryList(QStringList{"*.tmp*", ".*.tmp*"}, QDir::Files | QDir::Hidden);
    QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(", ")));
}

// ---------------------------------------------------------------------------

void SheetAppTest::sameFileTwoJobs()
{
    const QString file = make(QStringLiteral("shared-by-two.xlsx"),
                              json(R"({"sheets":[{"name":"S","cells":{"A1":"one"}}]})"));
    const QString link = path(QStringLiteral("link-to-it.xlsx"));
    QVERIFY(QFile::link(file, link));

    QSemaphore firstHolds;
    QSemaphore secondTried;
    bool firstOpened = false;
    bool firstReopened = false;
    bool firstSaved = false;
    bool secondOpened = true;
    bool secondByLink = true;

    QThreadPool pool;
    pool.setMaxThreadCount(2);
    pool.start(QRunnable::create([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            Excel::Application app;
            std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
            std::unique_ptr<Excel::Workbook> book(books->Open(file));
            firstOpened = book != nullptr;
            // The same application asking again gets the workbook it holds.
            std::unique_ptr<Excel::Workbook> again(books->Open(file));
            firstReopened = again != nullptr;
            firstHolds.release();
            secondTried.acquire();
            firstSaved = book && book->Save();
            app.Quit();
        }
        CoUninitialize();
    }));
    pool.start(QRunnable::create([&] {
        firstHolds.acquire();
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            Excel::Application app;
            std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
            std::unique_ptr<Excel::Workbook> book(books->Open(file));
            secondOpened = book != nullptr;
            std::unique_ptr<Excel::Workbook> byLink(books->Open(link));
            secondByLink = byLink != nullptr;
            app.Quit();
        }
        CoUninitialize();
        secondTried.release();
    }));
    pool.waitForDone();
    QVERIFY(firstOpened);
    QVERIFY(firstReopened);
    QVERIFY(firstSaved);
    QVERIFY(!secondOpened);
    QVERIFY(!secondByLink);

    // Quit gave the file back: a later job opens it, and one that never quits
    // gives it back when its application object goes.
    Request req;
    req.path = link;
    req.pairs = {{QStringLiteral("one"), QStringLiteral("two")}};
    JOBS_SKIP_IF_SAME_UNHELD(req.path);
    QVERIFY(jobs::run(req).saved);
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(testsupport::cellValue(testsupport::dumpWorkbook(file), "S", "A1").toString(),
             QStringLiteral("two"));

    bool held = false;
    jobs::onPoolThread([&] {
        Excel::Application app;
        std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
        std::unique_ptr<Excel::Workbook> book(books->Open(file));
        held = book && sheetapp::isFileHeld(QFileInfo(file).canonicalFilePath());
    });
    QVERIFY(held);
    QVERIFY(!sheetapp::isFileHeld(QFileInfo(file).canonicalFilePath()));
}

// ---------------------------------------------------------------------------

void SheetAppTest::objectsAfterQuit()
{
    const QString file = make(QStringLiteral("after-quit.xlsx"),
                              json(R"({"sheets":[{"name":"S","cells":{"A1":"x"}}]})"));
    const QByteArray before = testsupport::sha256(file);
    bool saved = true;
    bool replaced = true;
    bool written = true;
    bool gotSheets = true;
    bool gotBooks = true;
    const int live = jobs::onPoolThread([&] {
        Excel::Application app;
        std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
        std::unique_ptr<Excel::Workbook> book(books->Open(file));
        std::unique_ptr<Excel::Sheets> sheets(book->Sheets());
        std::unique_ptr<Excel::Worksheet> ws(sheets->Item(1));
        std::unique_ptr<Excel::Range> used(ws->UsedRange());
        app.Quit();
        // Every object below the application now fails cleanly.
        replaced = used->Replace(QStringLiteral("x"), QStringLiteral("y"), 2, 1, false);
        written = used->setValue(QStringLiteral("z"));
        saved = book->Save();
        std::unique_ptr<Excel::Sheets> s2(book->Sheets());
        gotSheets = s2 != nullptr;
        std::unique_ptr<Excel::Workbooks> b2(app.Workbooks());
        gotBooks = b2 != nullptr;
    });
    QCOMPARE(live, 0);
    QVERIFY(!saved);
    QVERIFY(!replaced);
    QVERIFY(!written);
    QVERIFY(!gotSheets);
    QVERIFY(!gotBooks);
    QCOMPARE(testsupport::sha256(file), before);
}

// ---------------------------------------------------------------------------

void SheetAppTest::memberChecks_data()
{
    QTest::addColumn<QString>("object"); // which object is called
    QTest::addColumn<QString>("member");
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<bool>("ok");

    QTest::newRow("misspelt member") << "workbook"
                                     << "Svae" << QVariantList() << false;
    QTest::newRow("Save with an argument") << "workbook"
                                           << "Save" << QVariantList{1} << false;
    QTest::newRow("Count with an argument") << "sheets"
                                            << "Count" << QVariantList{1} << false;
    QTest::newRow("Item without argument") << "sheets"
                                           << "Item" << QVariantList() << false;
    QTest::newRow("Item by name") << "sheets"
                                  << "Item" << QVariantList{"S"} << true;
    QTest::newRow("Item by unknown name") << "sheets"
                                          << "Item" << QVariantList{"Nope"} << false;
    QTest::newRow("Item 1.5") << "sheets"
                              << "Item" << QVariantList{1.5} << false;
    QTest::newRow("Range with two arguments") << "sheet"
                                              << "Range" << QVariantList{"A1", "B2"} << false;
    QTest::newRow("Range with a number") << "sheet"
                                         << "Range" << QVariantList{1} << false;
    QTest::newRow("Replace with one argument") << "range"
                                               << "Replace" << QVariantList{"x"} << false;
    QTest::newRow("Replace with two arguments") << "range"
                                                << "Replace" << QVariantList{"x", "y"} << true;
    QTest::newRow("Replace, LookAt 3") << "range"
                                       << "Replace" << QVariantList{"x", "y", 3, 1, false} << false;
    QTest::newRow("Replace, SearchOrder 0")
        << "range"
        << "Replace" << QVariantList{"x", "y", 1, 0, false} << false;
    QTest::newRow("Replace, six arguments")
        << "range"
        << "Replace" << QVariantList{"x", "y", 1, 1, false, false} << false;
    QTest::newRow("Open without file") << "workbooks"
                                       << "Open" << QVariantList() << false;
    QTest::newRow("Quit with an argument") << "application"
                                           << "Quit" << QVariantList{1} << false;
}

void SheetAppTest::memberChecks()
{
    QFETCH(QString, object);
    QFETCH(QString, member);
    QFETCH(QVariantList, args);
    QFETCH(bool, ok);

    // The server objects directly: the results, not the client's warnings.
    const QString file = make(QStringLiteral("members.xlsx"),
                              json(R"({"sheets":[{"name":"S","cells":{"A1":"x"}}]})"));
    automation::DispatchPtr app = excelapp::createApplication();
    automation::DispatchPtr books = app->invoke("Workbooks", {}).object;
    automation::DispatchPtr book = books->invoke("Open", {file}).object;
    QVERIFY(book);
    automation::DispatchPtr sheets = book->invoke("Sheets", {}).object;
    automation::DispatchPtr sheet = sheets->invoke("Item", {1}).object;
    automation::DispatchPtr range = sheet->invoke("UsedRange", {}).object;
    QVERIFY(range);
    const QMap<QString, automation::DispatchPtr> objects{{"application", app}, {"workbooks", books},
                                                         {"workbook", book},   {"sheets", sheets},
                                                         {"sheet", sheet},     {"range", range}};
    const automation::CallResult r = objects.value(object)->invoke(member.toLatin1(), args);
    QCOMPARE(r.ok, ok);
    if (!ok)
        QVERIFY(!r.error.isEmpty());

    QString error;
    QVERIFY(!app->setProperty("Visibel", true, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(range->setProperty("Value", QVariant(QVariantList{1, 2}), &error) == false);
    QVERIFY(app->invoke("Quit", {}).ok);
    QVERIFY(!sheetapp::isFileHeld(QFileInfo(file).canonicalFilePath()));
}

QTEST_GUILESS_MAIN(SheetAppTest)
#include "tst_sheetapp.moc"
