// What one replacement or one Value write makes of a cell, by type: dates and
// times, booleans, error constants, numbers, array formulas, empty results,
// typed input, future functions and table headers. Workbooks are written by
// openpyxl and read back by openpyxl; where a formula's value matters,
// LibreOffice computes it.
#include "automation/excelapp/excelapp.h"
#include "jobs.h"
#include "testsupport.h"
#include "typedinput_rows.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

using jobs::compact;
using jobs::json;
using jobs::Outcome;
using jobs::Request;

namespace {

// {"S": {ref: [value, type, format]}, ...}, "tables", "names": as sheetapp_tool.py reads it.
QJsonObject readBack(const QString &path, bool recalc, QString *error)
{
    QByteArray out;
    QStringList args{QStringLiteral("read"), path};
    if (recalc)
        args << QStringLiteral("recalc");
    if (!testsupport::sheetappTool(args, &out, error))
        return QJsonObject();
    return QJsonDocument::fromJson(out).object();
}

// Checks `expected` ({"S!A1" or "A1": [value, type] or [value, type, format]}) against what
// was read; a cell not in `got` reads as [null].
void compareCells(const QJsonObject &got, const QJsonObject &expected)
{
    const QJsonObject cells = got.value(QStringLiteral("cells")).toObject();
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        QString sheet = QStringLiteral("S");
        QString ref = it.key();
        if (ref.contains(QLatin1Char('!'))) {
            sheet = ref.section(QLatin1Char('!'), 0, 0);
            ref = ref.section(QLatin1Char('!'), 1);
        }
        const QJsonArray want = it.value().toArray();
        const QJsonArray have = cells.value(sheet).toObject().value(ref).toArray();
        QJsonArray cut;
        for (int i = 0; i < want.size(); ++i)
            cut.append(have.at(i));
        QVERIFY2(cut == want, qPrintable(QStringLiteral("%1!%2: %3, expected %4")
                                             .arg(sheet, ref, compact(have), compact(want))));
    }
}

} // namespace

class TypedCellsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        excelapp::registerApplication();
        QVERIFY(m_dir.isValid());
    }
    void replaceTyped_data();
    void replaceTyped();
    void valueTyped_data();
    void valueTyped();
    void formulasComputed_data();
    void formulasComputed();
    void saveWithoutChange();

private:
    QString make(const QJsonObject &spec);
    QTemporaryDir m_dir;
    int m_files = 0;
};

QString TypedCellsTest::make(const QJsonObject &spec)
{
    const QString path = m_dir.filePath(QStringLiteral("book%1.xlsx").arg(++m_files));
    return jobs::writeWithTool(path, {QStringLiteral("cells"), path}, QJsonDocument(spec).toJson());
}

// ---------------------------------------------------------------------------
// Replace: what a cell of each type matches, and the type of its result.

void TypedCellsTest::replaceTyped_data()
{
    QTest::addColumn<QJsonObject>("cells");
    QTest::addColumn<bool>("date1904");
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<int>("lookAt");
    QTest::addColumn<QJsonObject>("expected");

    const QJsonObject date = json(R"J({"A1":{"v":45306,"fmt":"yyyy-mm-dd"}})J");
    QTest::newRow("date: the year as shown")
        << date << false << "2024"
        << "2025" << 2 << json(R"J({"A1":["2025-01-15T00:00:00","d"]})J");
    QTest::newRow("date: digits of the serial are not matched")
        << date << false << "45"
        << "99" << 2 << json(R"J({"A1":["2024-01-15T00:00:00","d"]})J");
    QTest::newRow("date: whole, as the formula bar shows it")
        << date << false << "2024/1/15"
        << "2024/2/1" << 1 << json(R"J({"A1":["2024-02-01T00:00:00","d","yyyy-mm-dd"]})J");
    QTest::newRow("date: a result that is no date is text")
        << date << false << "2024/1/15"
        << "someday" << 1 << json(R"J({"A1":["someday","s"]})J");
    QTest::newRow("date: a number result is text too")
        << date << false << "2024/1/15"
        << "45" << 1 << json(R"J({"A1":["45","s"]})J");
    const QJsonObject time = json(R"J({"A1":{"v":0.5,"fmt":"h:mm"}})J");
    QTest::newRow("time: the serial's digits are not matched")
        << time << false << "5"
        << "7" << 2 << json(R"J({"A1":["12:00:00","d"]})J");
    QTest::newRow("time: h:mm:ss") << time << false << "12:00:00"
                                   << "13:30:00" << 1 << json(R"J({"A1":["13:30:00","d"]})J");
    QTest::newRow("date and time")
        << json(R"J({"A1":{"v":45306.5,"fmt":"yyyy/m/d h:mm"}})J") << false << "12:00"
        << "18:00" << 2 << json(R"J({"A1":["2024-01-15T18:00:00","d"]})J");
    QTest::newRow("CJK built-in date format 31")
        << json(R"J({"A1":{"v":45306,"fmt":31}})J") << false << "2024"
        << "2023" << 2 << json(R"J({"A1":[44941,"n"]})J");
    QTest::newRow("CJK built-in time format 32")
        << json(R"J({"A1":{"v":0.75,"fmt":32}})J") << false << "18:00:00"
        << "6:00:00" << 1 << json(R"J({"A1":[0.25,"n"]})J");
    QTest::newRow("custom format with quoted text")
        << json(R"J({"A1":{"v":45306,"fmt":"yyyy\"年\"m\"月\"d\"日\""}})J") << false << "1/15"
        << "1/16" << 2 << json(R"J({"A1":["2024-01-16T00:00:00","d"]})J");
    QTest::newRow("1904 date system")
        << json(R"J({"A1":{"v":43844,"fmt":"yyyy/m/d"}})J") << true << "2024/1/15"
        << "2024/1/16" << 1 << json(R"J({"A1":["2024-01-16T00:00:00","d"]})J");
    QTest::newRow("not a date format: the number")
        << json(R"J({"A1":{"v":45306,"fmt":"0.00"}})J") << false << "45"
        << "46" << 2 << json(R"J({"A1":[46306,"n"]})J");
    QTest::newRow("boolean on its text")
        << json(R"J({"A1":true,"A2":false})J") << false << "TRUE"
        << "FALSE" << 1 << json(R"J({"A1":[false,"b"],"A2":[false,"b"]})J");
    QTest::newRow("boolean, lower case result stays a boolean")
        << json(R"J({"A1":false})J") << false << "false"
        << "true" << 1 << json(R"J({"A1":[true,"b"]})J");
    QTest::newRow("boolean, part result is text") << json(R"J({"A1":true})J") << false << "RU"
                                                  << "XX" << 2 << json(R"J({"A1":["TXXE","s"]})J");
    QTest::newRow("error constant on its text")
        << json(R"J({"A1":{"error":"#N/A"}})J") << false << "#N/A"
        << "#DIV/0!" << 1 << json(R"J({"A1":["#DIV/0!","e"]})J");
    QTest::newRow("error constant to text")
        << json(R"J({"A1":{"error":"#N/A"}})J") << false << "#N/A"
        << "missing" << 1 << json(R"J({"A1":["missing","s"]})J");
    QTest::newRow("wildcard whole takes booleans and errors")
        << json(R"J({"A1":true,"A2":{"error":"#REF!"},"A3":7})J") << false << "*"
        << "y" << 1 << json(R"J({"A1":["y","s"],"A2":["y","s"],"A3":["y","s"]})J");
    QTest::newRow("one-cell array formula")
        << json(R"J({"A1":1,"A2":2,"A3":{"array":"=SUM(A1:A2)"}})J") << false << "SUM"
        << "MAX" << 2 << json(R"J({"A3":["=MAX(A1:A2)","array"]})J");
    QTest::newRow("multi-cell array formula stays")
        << json(R"J({"A1":1,"A2":2,"B1":{"array":"=A1:A2*2","ref":"B1:B2"}})J") << false << "A1"
        << "A2" << 2 << json(R"J({"B1":["=A1:A2*2","array"]})J");
    QTest::newRow("binary noise: 15 significant digits")
        << json(R"J({"A1":0.30000000000000004})J") << false << "0.3"
        << "0.4" << 1 << json(R"J({"A1":[0.4,"n"]})J");
    QTest::newRow("more than 15 digits stay text")
        << json(R"J({"A1":5})J") << false << "5"
        << "1234567890123456" << 1 << json(R"J({"A1":["1234567890123456","s"]})J");
    QTest::newRow("empty result empties the cell, style kept")
        << json(R"J({"A1":{"v":"abc","fmt":"0.00"},"A2":"abcd"})J") << false << "abc"
        << "" << 1 << json(R"J({"A1":[null,"n","0.00"],"A2":["abcd","s"]})J");
    QTest::newRow("empty result of a formula and a date")
        << json(R"J({"A1":{"f":"=1+1","fmt":"0.0"},"A2":{"v":45306,"fmt":"yyyy/m/d"}})J") << false
        << "*"
        << "" << 1 << json(R"J({"A1":[null,"n","0.0"],"A2":[null,"n","yyyy/m/d"]})J");
    QTest::newRow("number-like text stays text") << json(R"J({"A1":"x12"})J") << false << "x"
                                                 << "" << 2 << json(R"J({"A1":["12","s"]})J");
}

void TypedCellsTest::replaceTyped()
{
    QFETCH(QJsonObject, cells);
    QFETCH(bool, date1904);
    QFETCH(QString, what);
    QFETCH(QString, replacement);
    QFETCH(int, lookAt);
    QFETCH(QJsonObject, expected);

    Request req;
    req.path =
        make(QJsonObject{{"date1904", date1904},
                         {"sheets", QJsonArray{QJsonObject{{"name", "S"}, {"cells", cells}}}}});
    req.pairs = {{what, replacement}};
    req.lookAt = lookAt;
    const Outcome out = jobs::run(req);
    QVERIFY(out.complete);
    QVERIFY(out.saved);
    QString error;
    const QJsonObject got = readBack(req.path, false, &error);
    QVERIFY2(!got.isEmpty(), qPrintable(error));
    compareCells(got, expected);
}

// ---------------------------------------------------------------------------
// Range.Value: typed input.

void TypedCellsTest::valueTyped_data()
{
    QTest::addColumn<QString>("cells");
    QTest::addColumn<QString>("text"); // written to A1
    QTest::addColumn<QJsonArray>("expected");

    for (const typedinput::Row &row : typedinput::rows())
        QTest::newRow(row.name) << row.cells << row.text << typedinput::array(row.xlsx);
}

void TypedCellsTest::valueTyped()
{
    QFETCH(QString, cells);
    QFETCH(QString, text);
    QFETCH(QJsonArray, expected);

    Request req;
    req.path = typedinput::make(m_dir.filePath(QStringLiteral("book%1.xlsx").arg(++m_files)),
                                cells.toUtf8().constData());
    QString error;
    const bool quoted = expected.size() > 3;
    const int xfsBefore =
        quoted ? readBack(req.path, false, &error).value(QStringLiteral("xfs")).toInt() : 0;
    req.keyMode = false;
    req.pairs = {{QStringLiteral("A1"), text}};
    const Outcome out = jobs::run(req);
    QCOMPARE(out.written, QVector<bool>{true});
    QVERIFY(out.saved);
    const QJsonObject got = readBack(req.path, false, &error);
    QVERIFY2(!got.isEmpty(), qPrintable(error));
    compareCells(got, QJsonObject{{"A1", expected}, {"Z9", QJsonArray{"keep", "s"}}});
    // A cell style with the quote prefix is added only when the cell's own has none.
    if (quoted)
        QCOMPARE(got.value(QStringLiteral("xfs")).toInt(),
                 xfsBefore + (expected[3].toBool() ? 1 : 0));
}

// ---------------------------------------------------------------------------
// Formulas, computed by LibreOffice after the job: Value writes feeding formulas, future
// functions and renamed table columns.

void TypedCellsTest::formulasComputed_data()
{
    QTest::addColumn<QJsonObject>("spec");
    QTest::addColumn<int>("mode"); // 0: Value write; 1, 2: Replace with this LookAt
    QTest::addColumn<QStringList>("pair");
    QTest::addColumn<QJsonObject>("computed"); // cells as LibreOffice computes them
    QTest::addColumn<QJsonObject>("stored");   // cells, tables and names as stored

    const QJsonObject sum = json(R"J({"sheets":[{"name":"S","cells":{"A2":5,
        "A3":{"f":"=SUM(A1:A2)"}}}]})J");
    QTest::newRow("value: a number feeds the sum")
        << sum << 0 << QStringList{"A1", "12"} << json(R"J({"A3":[17],"A1":[12]})J")
        << QJsonObject();
    QTest::newRow("value: a formula is computed")
        << sum << 0 << QStringList{"A1", "=2*3"} << json(R"J({"A1":[6],"A3":[11]})J")
        << QJsonObject();
    QTest::newRow("value: a future function gets its prefix")
        << sum << 0 << QStringList{"A1", "=CONCAT(\"a\",\"b\")"} << json(R"J({"A1":["ab"]})J")
        << json(R"J({"cells":{"A1":["=_xlfn.CONCAT(\"a\",\"b\")","f"]}})J");
    QTest::newRow("replace: a future function gets its prefix")
        << json(R"J({"sheets":[{"name":"S","cells":{"A1":{"f":"=CONCATENATE(\"a\",\"b\")"}}}]})J")
        << 2 << QStringList{"CONCATENATE", "CONCAT"} << json(R"J({"A1":["ab"]})J")
        << json(R"J({"cells":{"A1":["=_xlfn.CONCAT(\"a\",\"b\")","f"]}})J");
    QTest::newRow("replace: a worksheet future function")
        << json(R"J({"sheets":[{"name":"S","cells":{"A1":1,"B1":{"f":"=SUM(ABS(A1:A2))"}}}]})J")
        << 2 << QStringList{"ABS", "SORT"} << QJsonObject()
        << json(R"J({"cells":{"B1":["=SUM(_xlfn._xlws.SORT(A1:A2))","f"]}})J");

    const QJsonObject table = json(R"J({"sheets":[{"name":"S","cells":{
          "A1":"Name","B1":"Qty","C1":"Calc",
          "A2":"a","B2":1,"C2":{"f":"=Stock[[#This Row],[Qty]]*10"},
          "A3":"b","B3":2,"C3":{"f":"=Stock[[#This Row],[Qty]]*10"},
          "E1":{"f":"=SUM(Stock[Qty])"},"E2":{"f":"=SUM(Tot)"},
          "E3":{"f":"=SUM(Stock[[Name]:[Qty]])"},
          "G1":{"array":"=Stock[Qty]*2","ref":"G1:G2"},
          "H2":{"shared":"=Stock[[#This Row],[Qty]]+B2","ref":"H2:H3"},"H3":{"si":0}},
        "table":{"name":"Stock","ref":"A1:C3"}},
        {"name":"T","cells":{"A1":{"f":"=SUM(Stock[Qty])*2"}}}],
        "names":{"Tot":"Stock[Qty]"}})J");
    const QJsonObject followed = json(R"J({"E1":[3],"E2":[3],"E3":[3],"C2":[10],"C3":[20],
        "G1":[2],"G2":[4],"H2":[2],"H3":[4],"T!A1":[6]})J");
    QTest::newRow("header rename follows every reference")
        << table << 1 << QStringList{"Qty", "Amount"} << followed
        << json(R"J({"tables":{"Stock":["Name","Amount","Calc"]},"names":{"Tot":"Stock[Amount]"},
            "cells":{"E1":["=SUM(Stock[Amount])","f"],"T!A1":["=SUM(Stock[Amount])*2","f"],
            "G1":["=Stock[Amount]*2","array"],"H3":["=Stock[[#This Row],[Amount]]+B3","f"]}})J");
    QTest::newRow("header rename to a name with a blank")
        << table << 1 << QStringList{"Qty", "Net Qty"} << followed
        << json(R"J({"tables":{"Stock":["Name","Net Qty","Calc"]},
            "cells":{"E1":["=SUM(Stock[[Net Qty]])","f"]}})J");
    QTest::newRow("header written by value")
        << table << 0 << QStringList{"B1", "Amount"} << followed
        << json(
               R"J({"tables":{"Stock":["Name","Amount","Calc"]},"names":{"Tot":"Stock[Amount]"}})J");
    QJsonObject indirect = table;
    {
        QJsonArray sheets = indirect.value("sheets").toArray();
        QJsonObject s = sheets[0].toObject();
        QJsonObject cells = s.value("cells").toObject();
        cells.insert("E4", json(R"J({"f":"=SUM(INDIRECT(\"Stock[Qty]\"))"})J"));
        s.insert("cells", cells);
        sheets[0] = s;
        indirect.insert("sheets", sheets);
    }
    QTest::newRow("header kept when a text names the column")
        << indirect << 1 << QStringList{"Qty", "Amount"}
        << json(R"J({"E1":[3],"E4":[3],"B1":["Qty"]})J")
        << json(R"J({"tables":{"Stock":["Name","Qty","Calc"]},"names":{"Tot":"Stock[Qty]"}})J");

    // The column named in a text literal too, which the same Replace rewrites.
    const QString unitPrice = QStringLiteral(R"J({"sheets":[{"name":"S","cells":{
          "A1":"Name","B1":"Unit Price","C1":"Total","A2":"a","B2":2,"A3":"b","B3":3,
          "C2":{"f":"=Table1[[#This Row],[Unit Price]]*2"},"C3":{"f":"=Table1[[#This Row],[Unit Price]]*2"},
          "E1":{"f":"=SUM(Table1[Unit Price])"},"E2":{"f":"=SUM(Table1[[Name]:[Unit Price]])"},
          "E3":{"f":"=SUM(INDIRECT(\"Table1[Unit Price]\"))"}},
        "table":{"name":"Table1","ref":"A1:C3"}%1}]})J");
    const QStringList cost{"Unit Price", "Unit Cost"};
    QTest::newRow("header rename with the column in a literal the same Replace rewrites")
        << json(unitPrice.arg(QString()).toUtf8()) << 2 << cost
        << json(R"J({"B1":["Unit Cost"],"C2":[4],"C3":[6],"E1":[5],"E2":[5],"E3":[5]})J")
        << json(R"J({"tables":{"Table1":["Name","Unit Cost","Total"]},"cells":{
            "E1":["=SUM(Table1[[Unit Cost]])","f"],"E2":["=SUM(Table1[[Name]:[Unit Cost]])","f"],
            "E3":["=SUM(INDIRECT(\"Table1[Unit Cost]\"))","f"],
            "C2":["=Table1[[#This Row],[Unit Cost]]*2","f"]}})J");
    QTest::newRow("header kept by a validation: no formula names a missing column")
        << json(unitPrice
                    .arg(QStringLiteral(
                        R"J(,"validation":{"sqref":"G1","formula":"INDIRECT(\"Table1[Name]\")"})J"))
                    .toUtf8())
        << 2 << cost
        << json(R"J({"B1":["Unit Price"],"C2":[4],"C3":[6],"E1":[5],"E2":[5],"E3":[5]})J")
        << json(R"J({"tables":{"Table1":["Name","Unit Price","Total"]},"cells":{
            "E1":["=SUM(Table1[Unit Price])","f"],"E2":["=SUM(Table1[[Name]:[Unit Price]])","f"],
            "E3":["=SUM(INDIRECT(\"Table1[Unit Price]\"))","f"],
            "C2":["=Table1[[#This Row],[Unit Price]]*2","f"]}})J");
    // Formulas met before the header (above it, and on a sheet done first) wait for the rename.
    QTest::newRow("formulas before the header follow its rename")
        << json(R"J({"run":[2,1],"sheets":[{"name":"S","cells":{
          "A1":{"f":"=SUM(Table1[Unit Price])"},"A2":"Name","B2":"Unit Price","C2":"Total",
          "A3":"a","B3":2,"A4":"b","B4":3,"C3":{"f":"=Table1[[#This Row],[Unit Price]]*2"},
          "C4":{"f":"=Table1[[#This Row],[Unit Price]]*2"}},"table":{"name":"Table1","ref":"A2:C4"}},
          {"name":"T","cells":{"A1":{"f":"=SUM(Table1[Unit Price])*2"}}}]})J")
        << 2 << cost << json(R"J({"A1":[5],"B2":["Unit Cost"],"C4":[6],"T!A1":[10]})J")
        << json(R"J({"tables":{"Table1":["Name","Unit Cost","Total"]},"cells":{
            "A1":["=SUM(Table1[[Unit Cost]])","f"],"T!A1":["=SUM(Table1[[Unit Cost]])*2","f"]}})J");
    // A result naming a table or a special item that does not exist is refused; the header
    // is renamed once, and the references it rewrote are not replaced again.
    QTest::newRow("replace reaching a table name and its special items")
        << json(R"J({"sheets":[{"name":"S","cells":{
          "A1":"Dept","B1":"Sales Amount","C1":"Double","A2":"x","B2":10,"A3":"y","B3":20,
          "C2":{"f":"=DeptSales[[#This Row],[Sales Amount]]*2"},
          "C3":{"f":"=DeptSales[[#This Row],[Sales Amount]]*2"},
          "E1":{"f":"=SUM(DeptSales[Sales Amount])"},"E2":{"f":"=COUNTA(DeptSales[#Headers])"}},
        "table":{"name":"DeptSales","ref":"A1:C3"}}]})J")
        << 2 << QStringList{"s", "s1"} << json(R"J({"C2":[20],"C3":[40],"E1":[30]})J")
        << json(R"J({"tables":{"DeptSales":["Dept","Sales1 Amount","Double"]},"cells":{
            "B1":["Sales1 Amount","s"],"E1":["=SUM(DeptSales[[Sales1 Amount]])","f"],
            "C2":["=DeptSales[[#This Row],[Sales1 Amount]]*2","f"],
            "E2":["=COUNTA(DeptSales[#Headers])","f"]}})J");
    // From the shared corpus: a table whose name and columns hold both texts. (LibreOffice
    // computes no value from this table's references, before the job as after it: every
    // reference is checked as stored.)
    QTest::newRow("corpus: structured references, two replacements")
        << json(R"J({"corpus":"poi_StructuredReferences.xlsx","run":[1,2]})J") << 2
        << QStringList{"a", "QQ", "e", ""} << QJsonObject()
        << json(R"J({"tables":{"\\_Prime.1":["cQQlc=#*#","NQQm","Numbr"]},"cells":{
            "Formulas!A1":["=SUM(\\_Prime.1[[cQQlc='#*'#]])","f"],
            "Formulas!A2":["=\\_Prime.1[NQQm]","f"],"Formulas!A3":["=\\_Prime.1[NQQm]","f"],
            "Table!B2":["on","s"],
            "Table!A2":["=\\_Prime.1[[#This Row],[Numbr]]*\\_Prime.1[[#This Row],[Numbr]]","f"]}})J");
    QTest::newRow("header kept by a value write too")
        << indirect << 0 << QStringList{"B1", "Amount"}
        << json(R"J({"E1":[3],"E4":[3],"B1":["Qty"]})J")
        << json(R"J({"tables":{"Stock":["Name","Qty","Calc"]},"names":{"Tot":"Stock[Qty]"}})J");
}

void TypedCellsTest::formulasComputed()
{
    QFETCH(QJsonObject, spec);
    QFETCH(int, mode);
    QFETCH(QStringList, pair);
    QFETCH(QJsonObject, computed);
    QFETCH(QJsonObject, stored);

    Request req;
    const QString corpus = spec.value("corpus").toString();
    if (corpus.isEmpty()) {
        req.path = make(spec);
    } else {
        const QString from = testsupport::corpusDir() + QLatin1Char('/') + corpus;
        if (!QFileInfo::exists(from))
            QSKIP(qPrintable(QStringLiteral("corpus file %1 is not there").arg(from)));
        req.path = m_dir.filePath(QStringLiteral("book%1.xlsx").arg(++m_files));
        QVERIFY(QFile::copy(from, req.path));
        QVERIFY(QFile::setPermissions(req.path, QFile::ReadOwner | QFile::WriteOwner));
    }
    const QJsonArray run = spec.value("run").toArray(); // the sheets in this order, if given
    req.sheets = run.isEmpty() ? QVector<int>{1} : QVector<int>();
    for (const QJsonValue v : run)
        req.sheets << v.toInt();
    req.keyMode = mode != 0;
    req.lookAt = mode == 0 ? 1 : mode;
    req.matchCase = true;
    req.pairs.clear();
    for (int i = 0; i + 1 < pair.size(); i += 2)
        req.pairs.append({pair[i], pair[i + 1]});
    const Outcome out = jobs::run(req);
    QVERIFY(out.complete);
    QVERIFY(out.saved);

    QString error;
    const QJsonObject got = readBack(req.path, false, &error);
    QVERIFY2(!got.isEmpty(), qPrintable(error));
    if (!stored.isEmpty()) {
        compareCells(got, stored.value("cells").toObject());
        for (const char *key : {"tables", "names"}) {
            const QJsonObject want = stored.value(key).toObject();
            for (auto it = want.begin(); it != want.end(); ++it)
                QCOMPARE(compact(got.value(key).toObject().value(it.key())), compact(it.value()));
        }
    }
    if (!computed.isEmpty()) {
        const QJsonObject values = readBack(req.path, true, &error);
        QVERIFY2(!values.isEmpty(), qPrintable(error));
        compareCells(values, computed);
        // No formula computes to an error value.
        static const QStringList errors{"#NULL!", "#DIV/0!", "#VALUE!", "#REF!",
                                        "#NAME?", "#NUM!",   "#N/A"};
        const QJsonObject sheets = got.value("cells").toObject();
        for (auto sh = sheets.begin(); sh != sheets.end(); ++sh) {
            const QJsonObject cells = sh.value().toObject();
            for (auto c = cells.begin(); c != cells.end(); ++c) {
                if (c.value().toArray().at(1).toString() != QLatin1String("f"))
                    continue;
                const QJsonValue v = values.value("cells")
                                         .toObject()
                                         .value(sh.key())
                                         .toObject()
                                         .value(c.key())
                                         .toArray()
                                         .at(0);
                QVERIFY2(!errors.contains(v.toString()),
                         qPrintable(QStringLiteral("%1!%2 %3 computes to %4")
                                        .arg(sh.key(), c.key(),
                                             c.value().toArray().at(0).toString(), v.toString())));
            }
        }
    }
}

// ---------------------------------------------------------------------------

void TypedCellsTest::saveWithoutChange()
{
    Request req;
    req.path = make(json(R"J({"sheets":[{"name":"S","cells":{"A1":"x","A2":{"f":"=1+1"}}}]})J"));
    const QByteArray before = testsupport::sha256(req.path);
    const QDateTime modified = QFileInfo(req.path).lastModified();
    QTest::qSleep(20); // so that a rewrite would show in the modification time
    req.pairs = {{QStringLiteral("nowhere"), QStringLiteral("y")}};
    const Outcome out = jobs::run(req);
    QVERIFY(out.saved);
    QCOMPARE(testsupport::sha256(req.path), before);
    QCOMPARE(QFileInfo(req.path).lastModified(), modified);
}

QTEST_GUILESS_MAIN(TypedCellsTest)
#include "tst_typedcells.moc"
