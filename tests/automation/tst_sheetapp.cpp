// The embedded spreadsheet application's Replace and cell writes, driven through the
// Excel:: wrappers on pool threads, on workbooks written by openpyxl and xlsxwriter, checked
// with openpyxl.
#include "tst_sheetapp.h"
#include "automation/apartment.h"
#include "automation/excel.h"
#include "automation/excelapp/excelapp.h"
#include "jobs.h"
#include "testsupport.h"

#include <QFile>
#include <QJsonArray>
#include <QtTest>

using jobs::compact;
using jobs::json;
using jobs::Outcome;
using jobs::Pair;
using jobs::Request;
using jobs::sheetOf;

namespace {

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

QTEST_GUILESS_MAIN(SheetAppTest)
