// Reading workbooks: files written by openpyxl and xlsxwriter, and packages
// built here to hold the XML variants that real producers write.
#include "packagehelpers.h"
#include "testsupport.h"
#include "xlsx/document.h"
#include "xlsx/document_p.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

using namespace xlsx;

Q_DECLARE_METATYPE(xlsx::CellType)
Q_DECLARE_METATYPE(xlsx::FormulaKind)

class TestRead : public QObject
{
    Q_OBJECT
private slots:
    void writers_data();
    void writers();
    void variants_data();
    void variants();
    void textPrecheck_data();
    void textPrecheck();
    void usedRange_data();
    void usedRange();
    void cellRefs_data();
    void cellRefs();
    void protectionAndStyles();
    void tables();

private:
    QTemporaryDir m_tmp;
};

void TestRead::writers_data()
{
    QTest::addColumn<QString>("writer");
    QTest::newRow("openpyxl") << QStringLiteral("openpyxl");
    QTest::newRow("xlsxwriter") << QStringLiteral("xlsxwriter");
}

void TestRead::writers()
{
    QFETCH(QString, writer);
    const QString path = m_tmp.filePath(writer + QStringLiteral(".xlsx"));
    QJsonObject cells{
        {"A1", "plain text"},
        {"A2", QStringLiteral("中文 テキスト")},
        {"A3", "  spaced  "},
        {"B1", 42},
        {"B2", 1.5},
        {"B3", -7.25},
        {"C1", true},
        {"C2", false},
        {"D1", QJsonObject{{"f", "=SUM(B1:B2)"}}},
        {"E1", QJsonObject{{"date", "2024-01-31"}}},
    };
    // Each writer makes what the other cannot: rich text (xlsxwriter), very hidden sheets
    // (openpyxl).
    const bool xw = writer == QLatin1String("xlsxwriter");
    if (xw)
        cells.insert("F1", QJsonObject{{"rich", QJsonArray{"ab", "cd", "ef"}}});
    else
        cells.insert("F1", "abcdef");
    const QJsonObject spec{
        {"writer", writer},
        {"active", 1},
        {"sheets",
         QJsonArray{
             QJsonObject{{"name", "Data"}, {"cells", cells}},
             QJsonObject{{"name", QStringLiteral("第二页")}, {"cells", QJsonObject{{"A1", "x"}}}},
             QJsonObject{
                 {"name", "Hidden"}, {"state", "hidden"}, {"cells", QJsonObject{{"C5", 1}}}},
             QJsonObject{{"name", "Very"}, {"state", xw ? "hidden" : "veryHidden"}},
         }},
    };
    QString error;
    QVERIFY2(testsupport::makeWorkbook(path, spec, &error), qPrintable(error));
    Document doc;
    QVERIFY2(doc.open(path, &error), qPrintable(error));
    QCOMPARE(doc.sheetNames(), QStringList({"Data", QStringLiteral("第二页"), "Hidden", "Very"}));
    QCOMPARE(doc.activeSheetIndex(), 1);
    QCOMPARE(doc.sheetInfo(0).visibility, SheetVisibility::Visible);
    QCOMPARE(doc.sheetInfo(2).visibility, SheetVisibility::Hidden);
    QCOMPARE(doc.sheetInfo(3).visibility,
             xw ? SheetVisibility::Hidden : SheetVisibility::VeryHidden);
    QCOMPARE(doc.sheetInfo(3).kind, SheetKind::Worksheet);

    Worksheet *ws = doc.worksheet(QStringLiteral("Data"), &error);
    QVERIFY2(ws, qPrintable(error));
    QCOMPARE(ws->cellCount(), cells.size());
    const struct
    {
        const char *ref;
        CellType type;
        QString text;
    } expected[] = {
        {"A1", CellType::SharedString, "plain text"},
        {"A2", CellType::SharedString, QStringLiteral("中文 テキスト")},
        {"A3", CellType::SharedString, "  spaced  "},
        {"B1", CellType::Number, "42"},
        {"B2", CellType::Number, "1.5"},
        {"B3", CellType::Number, "-7.25"},
        {"C1", CellType::Boolean, "1"},
        {"C2", CellType::Boolean, "0"},
        {"E1", CellType::Number, "45322"},
        {"F1", CellType::SharedString, "abcdef"},
    };
    for (const auto &e : expected) {
        const CellRef r = CellRef::fromString(QLatin1String(e.ref));
        const Cell c = ws->cell(r.row, r.column);
        QVERIFY2(c.exists, e.ref);
        if (writer == QLatin1String("openpyxl") && e.type == CellType::SharedString)
            QVERIFY2(c.isString(), e.ref); // openpyxl may write inline strings
        else
            QCOMPARE(c.type, e.type);
        QCOMPARE(c.text, e.text);
        QCOMPARE(c.hasFormula(), false);
    }
    const Cell f = ws->cell(1, 4);
    QCOMPARE(f.formula, QStringLiteral("SUM(B1:B2)"));
    QCOMPARE(f.formulaKind, FormulaKind::Normal);
    QVERIFY(ws->hasFormulas());
    QVERIFY(doc.hasFormulas());
    QCOMPARE(ws->usedRange(), CellRange(1, 1, 3, 6));
    Worksheet *hidden = doc.worksheet(2, &error);
    QVERIFY(hidden);
    QCOMPARE(hidden->cell(5, 3).text, QStringLiteral("1"));
    QCOMPARE(hidden->usedRange(), CellRange(5, 3, 5, 3));
    Worksheet *empty = doc.worksheet(3, &error);
    QVERIFY(empty);
    QCOMPARE(empty->cellCount(), 0);
    QCOMPARE(empty->usedRange(), CellRange(1, 1, 1, 1));
    QVERIFY(!doc.isModified());
}

void TestRead::variants_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QByteArray>("sst");
    QTest::addColumn<QString>("ref");
    QTest::addColumn<CellType>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("formula");
    QTest::addColumn<FormulaKind>("kind");

    const QByteArray sst =
        pkgtest::xmlHead() +
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "count=\"3\" uniqueCount=\"3\">"
        "<si><t>first</t></si>"
        "<si><r><rPr><b/></rPr><t>ri</t></r><r><t xml:space=\"preserve\">ch </t>"
        "</r><rPh sb=\"0\" eb=\"1\"><t>フリガナ</t></rPh><phoneticPr fontId=\"1\"/></si>"
        "<si><t>line_x000D_break _x005F_x0041_</t></si></sst>";
    auto sheet = [](const QByteArray &data) { return pkgtest::sheetXml(data); };
    QTest::newRow("shared string") << sheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>")
                                   << sst << "A1" << CellType::SharedString << "first"
                                   << "" << FormulaKind::None;
    QTest::newRow("rich text with phonetic run")
        << sheet("<row r=\"1\"><c r=\"B1\" t=\"s\" s=\"2\"><v>1</v></c></row>") << sst << "B1"
        << CellType::SharedString << "rich "
        << "" << FormulaKind::None;
    QTest::newRow("office escapes")
        << sheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>2</v></c></row>") << sst << "A1"
        << CellType::SharedString << "line\rbreak _x0041_"
        << "" << FormulaKind::None;
    QTest::newRow("inline rich string")
        << sheet("<row r=\"3\"><c r=\"C3\" t=\"inlineStr\"><is><r><t>a&amp;</t></r><r><rPr/>"
                 "<t>&lt;b&gt;</t></r></is></c></row>")
        << QByteArray() << "C3" << CellType::InlineString << "a&<b>"
        << "" << FormulaKind::None;
    QTest::newRow("rows and cells without r")
        << sheet("<row><c t=\"inlineStr\"><is><t>a</t></is></c></row><row><c><v>1</v></c>"
                 "<c t=\"inlineStr\"><is><t>b2</t></is></c></row>")
        << QByteArray() << "B2" << CellType::InlineString << "b2"
        << "" << FormulaKind::None;
    QTest::newRow("cells without r after a cell with r")
        << sheet("<row r=\"4\"><c r=\"C4\"><v>1</v></c><c><v>2</v></c></row>") << QByteArray()
        << "D4" << CellType::Number << "2"
        << "" << FormulaKind::None;
    QTest::newRow("x: prefixed elements")
        << pkgtest::sheetXml("<x:row r=\"2\"><x:c r=\"A2\" t=\"inlineStr\"><x:is><x:t>pre</x:t>"
                             "</x:is></x:c></x:row>",
                             "x")
        << QByteArray() << "A2" << CellType::InlineString << "pre"
        << "" << FormulaKind::None;
    QTest::newRow("formula string result")
        << sheet("<row r=\"1\"><c r=\"A1\" t=\"str\"><f>\"a\"&amp;\"b\"</f><v>ab</v></c></row>")
        << QByteArray() << "A1" << CellType::FormulaString << "ab"
        << "\"a\"&\"b\"" << FormulaKind::Normal;
    QTest::newRow("error value")
        << sheet("<row r=\"1\"><c r=\"A1\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c></row>")
        << QByteArray() << "A1" << CellType::Error << "#DIV/0!"
        << "1/0" << FormulaKind::Normal;
    QTest::newRow("iso date")
        << sheet("<row r=\"1\"><c r=\"A1\" t=\"d\"><v>2024-01-31T00:00:00</v></c></row>")
        << QByteArray() << "A1" << CellType::IsoDate << "2024-01-31T00:00:00"
        << "" << FormulaKind::None;
    QTest::newRow("styled empty cell") << sheet("<row r=\"1\"><c r=\"A1\" s=\"3\"/></row>")
                                       << QByteArray() << "A1" << CellType::Empty << ""
                                       << "" << FormulaKind::None;
    QTest::newRow("CDATA in value")
        << sheet("<row r=\"1\"><c r=\"A1\" t=\"str\"><f>X</f><v><![CDATA[<raw>]]></v></c></row>")
        << QByteArray() << "A1" << CellType::FormulaString << "<raw>"
        << "X" << FormulaKind::Normal;
    const QByteArray shared = "<row r=\"1\"><c r=\"B1\"><f t=\"shared\" ref=\"B1:B3\" si=\"0\">A1*2"
                              "</f><v>2</v></c></row><row r=\"2\"><c r=\"B2\"><f t=\"shared\" "
                              "si=\"0\"/><v>4</v></c></row><row r=\"3\"><c r=\"B3\"><f "
                              "t=\"shared\" si=\"0\"/><v>6</v></c></row>";
    QTest::newRow("shared formula master")
        << sheet(shared) << QByteArray() << "B1" << CellType::Number << "2"
        << "A1*2" << FormulaKind::SharedMaster;
    QTest::newRow("shared formula member shifted")
        << sheet(shared) << QByteArray() << "B3" << CellType::Number << "6"
        << "A3*2" << FormulaKind::SharedMember;
    QTest::newRow("array formula master")
        << sheet("<row r=\"1\"><c r=\"A1\"><f t=\"array\" ref=\"A1:A2\">B1:B2*2</f><v>1</v></c>"
                 "</row><row r=\"2\"><c r=\"A2\"><v>2</v></c></row>")
        << QByteArray() << "A1" << CellType::Number << "1"
        << "B1:B2*2" << FormulaKind::ArrayMaster;
    QTest::newRow("entities and numeric references")
        << sheet("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>&#x4E2D;&#25991;&quot;&apos;"
                 "</t></is></c></row>")
        << QByteArray() << "A1" << CellType::InlineString << QStringLiteral("中文\"'") << ""
        << FormulaKind::None;
    QTest::newRow("comments and processing instructions")
        << sheet("<!-- note --><row r=\"1\"><?pi x?><c r=\"A1\"><v>5</v><!-- c --></c></row>")
        << QByteArray() << "A1" << CellType::Number << "5"
        << "" << FormulaKind::None;
}

void TestRead::variants()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QByteArray, sst);
    QFETCH(QString, ref);
    QFETCH(CellType, type);
    QFETCH(QString, text);
    QFETCH(QString, formula);
    QFETCH(FormulaKind, kind);
    const QString path = m_tmp.filePath(QStringLiteral("variant.xlsx"));
    QVERIFY(pkgtest::writePackage(path, {sheet}, sst));
    Document doc;
    QString error;
    QVERIFY2(doc.open(path, &error), qPrintable(error));
    Worksheet *ws = doc.worksheet(0, &error);
    QVERIFY2(ws, qPrintable(error));
    const CellRef r = CellRef::fromString(ref);
    const Cell c = ws->cell(r.row, r.column);
    QVERIFY(c.exists);
    QCOMPARE(c.type, type);
    QCOMPARE(c.text, text);
    QCOMPARE(c.formula, formula);
    QCOMPARE(c.formulaKind, kind);
    // The same cell is reached through row-major order.
    const int i = ws->indexOf(r.row, r.column);
    QVERIFY(i >= 0);
    QCOMPARE(ws->cellAt(i).text, text);
    // The stored bytes searches pass cells over by, when they are offered, hold the cell's
    // text as it is, however it is stored (runs, escapes, phonetic runs, prefixes).
    const char *b = nullptr;
    const char *e = nullptr;
    if (ws->plainStoredText(i, &b, &e)) {
        const QByteArray stored(b, int(e - b));
        const int open = stored.indexOf('>') + 1;
        QCOMPARE(stored.mid(open, stored.lastIndexOf('<') - open), text.toUtf8());
    }
}

void TestRead::textPrecheck_data()
{
    QTest::addColumn<QByteArray>("cell");
    QTest::addColumn<QByteArray>("needle");
    QTest::addColumn<bool>("may");

    QTest::newRow("plain inline, absent")
        << QByteArray("<is><t>上海</t></is>") << QByteArray("北京") << false;
    QTest::newRow("plain inline, present")
        << QByteArray("<is><t>在北京</t></is>") << QByteArray("北京") << true;
    QTest::newRow("inline runs split the text")
        << QByteArray("<is><r><t>北</t></r><r><t>京</t></r></is>") << QByteArray("北京") << true;
    QTest::newRow("inline with an entity")
        << QByteArray("<is><t>a&amp;b</t></is>") << QByteArray("a&b") << true;
    QTest::newRow("inline with an office escape")
        << QByteArray("<is><t>a_x0042_</t></is>") << QByteArray("aB") << true;
    QTest::newRow("plain shared, absent") << QByteArray("s:0") << QByteArray("two") << false;
    QTest::newRow("plain shared, present") << QByteArray("s:0") << QByteArray("one") << true;
    QTest::newRow("shared runs split the text") << QByteArray("s:1") << QByteArray("北京") << true;
    QTest::newRow("a number") << QByteArray("n:12") << QByteArray("x") << true;
}

void TestRead::textPrecheck()
{
    QFETCH(QByteArray, cell);
    QFETCH(QByteArray, needle);
    QFETCH(bool, may);
    const QByteArray sst =
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"2\" "
        "uniqueCount=\"2\"><si><t>北京 one</t></si><si><r><t>北</t></r><r><t>京</t></r></si></sst>";
    QByteArray c;
    if (cell.startsWith("s:"))
        c = "<c r=\"A1\" t=\"s\"><v>" + cell.mid(2) + "</v></c>";
    else if (cell.startsWith("n:"))
        c = "<c r=\"A1\"><v>" + cell.mid(2) + "</v></c>";
    else
        c = "<c r=\"A1\" t=\"inlineStr\">" + cell + "</c>";
    const QString path = m_tmp.filePath(QStringLiteral("precheck.xlsx"));
    QVERIFY(pkgtest::writePackage(path, {pkgtest::sheetXml("<row r=\"1\">" + c + "</row>")}, sst));
    Document doc;
    QString error;
    QVERIFY2(doc.open(path, &error), qPrintable(error));
    Worksheet *ws = doc.worksheet(0, &error);
    QVERIFY2(ws, qPrintable(error));
    // Only the bytes of a plain stored text can rule a needle out.
    const char *b = nullptr;
    const char *e = nullptr;
    const bool plain = ws->plainStoredText(0, &b, &e);
    QCOMPARE(!plain || QByteArray::fromRawData(b, int(e - b)).contains(needle), may);
}

void TestRead::usedRange_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QString>("range");
    QTest::newRow("no dimension")
        << pkgtest::sheetXml("<row r=\"2\"><c r=\"B2\"><v>1</v></c><c r=\"D2\"><v>1</v></c></row>"
                             "<row r=\"7\"><c r=\"C7\" s=\"1\"/></row>")
        << "B2:D7";
    QTest::newRow("dimension too small")
        << pkgtest::sheetXml("<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"M3\"><v>1</v></c></row>",
                             {}, "<dimension ref=\"N3\"/>")
        << "A1:M3";
    QTest::newRow("dimension too large")
        << pkgtest::sheetXml("<row r=\"2\"><c r=\"B2\"><v>1</v></c></row>", {},
                             "<dimension ref=\"A1:Z99\"/>")
        << "B2";
    QTest::newRow("empty sheet") << pkgtest::sheetXml("") << "A1";
    QTest::newRow("rows without cells") << pkgtest::sheetXml("<row r=\"5\"/>") << "A1";
    QTest::newRow("unsorted cells")
        << pkgtest::sheetXml("<row r=\"9\"><c r=\"B9\"><v>1</v></c></row><row r=\"3\"><c "
                             "r=\"E3\"><v>1</v></c></row>")
        << "B3:E9";
}

void TestRead::usedRange()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QString, range);
    const QString path = m_tmp.filePath(QStringLiteral("range.xlsx"));
    QVERIFY(pkgtest::writePackage(path, {sheet}));
    Document doc;
    QString error;
    QVERIFY2(doc.open(path, &error), qPrintable(error));
    Worksheet *ws = doc.worksheet(0, &error);
    QVERIFY2(ws, qPrintable(error));
    QCOMPARE(ws->usedRange().toString(), range);
    // Row-major order holds even when the file's order does not.
    for (int i = 1; i < ws->cellCount(); ++i) {
        const Cell a = ws->cellAt(i - 1), b = ws->cellAt(i);
        QVERIFY(a.row < b.row || (a.row == b.row && a.column < b.column));
    }
}

void TestRead::cellRefs_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::newRow("A1") << "A1" << 1 << 1;
    QTest::newRow("lower case") << "b3" << 3 << 2;
    QTest::newRow("anchored") << "$AA$10" << 10 << 27;
    QTest::newRow("last cell") << "XFD1048576" << 1048576 << 16384;
    QTest::newRow("column past the end") << "XFE1" << 0 << 0;
    QTest::newRow("row past the end") << "A1048577" << 0 << 0;
    QTest::newRow("row zero") << "A0" << 0 << 0;
    QTest::newRow("no row") << "AB" << 0 << 0;
    QTest::newRow("trailing text") << "A1x" << 0 << 0;
    QTest::newRow("empty") << "" << 0 << 0;
}

void TestRead::cellRefs()
{
    QFETCH(QString, text);
    QFETCH(int, row);
    QFETCH(int, column);
    const CellRef r = CellRef::fromString(text);
    QCOMPARE(r.row, row);
    QCOMPARE(r.column, column);
    if (row > 0)
        QCOMPARE(r.toString(), text.toUpper().remove(QLatin1Char('$')));
}

void TestRead::protectionAndStyles()
{
    const QByteArray styles =
        pkgtest::xmlHead() +
        "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
        "<cellStyleXfs count=\"1\"><xf><protection locked=\"0\"/></xf></cellStyleXfs>"
        "<cellXfs count=\"3\"><xf/><xf applyProtection=\"1\"><protection locked=\"0\"/></xf>"
        "<xf><protection hidden=\"1\"/></xf></cellXfs></styleSheet>";
    pkgtest::Parts parts = pkgtest::minimalParts(
        {pkgtest::sheetXml("<row r=\"1\"><c r=\"A1\" s=\"1\"><v>1</v></c></row>", {}, {},
                           "<sheetProtection sheet=\"1\" objects=\"1\"/>"),
         pkgtest::sheetXml("")});
    parts[3].second.replace("</Relationships>",
                            "<Relationship Id=\"rIdSt\" Type=\"http://schemas.openxmlformats.org/"
                            "officeDocument/2006/relationships/styles\" Target=\"styles.xml\"/>"
                            "</Relationships>");
    parts.append({QStringLiteral("xl/styles.xml"), styles});
    const QString path = m_tmp.filePath(QStringLiteral("prot.xlsx"));
    QVERIFY(pkgtest::writeZip(path, parts));
    Document doc;
    QString error;
    QVERIFY2(doc.open(path, &error), qPrintable(error));
    QVERIFY(doc.worksheet(0)->isProtected());
    QVERIFY(!doc.worksheet(1)->isProtected());
    QVERIFY(doc.isStyleLocked(0));
    QVERIFY(!doc.isStyleLocked(1));
    QVERIFY(doc.isStyleLocked(2));
    QVERIFY(doc.isStyleLocked(99));
    QCOMPARE(doc.worksheet(0)->cell(1, 1).style, 1);
}

void TestRead::tables()
{
    pkgtest::Parts parts = pkgtest::minimalParts({pkgtest::sheetXml(
        "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Name</t></is></c><c r=\"B1\" "
        "t=\"inlineStr\"><is><t>Qty</t></is></c></row><row r=\"2\"><c r=\"A2\" "
        "t=\"inlineStr\"><is><t>x</t></is></c><c r=\"B2\"><v>1</v></c></row>",
        {}, {}, "<tableParts count=\"1\"><tablePart r:id=\"rId7\"/></tableParts>")});
    parts.append({QStringLiteral("xl/worksheets/_rels/sheet1.xml.rels"),
                  pkgtest::xmlHead() +
                      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                      "relationships\"><Relationship Id=\"rId7\" Type=\"http://"
                      "schemas.openxmlformats.org/officeDocument/2006/relationships/table\" "
                      "Target=\"/xl/tables/table1.xml\"/></Relationships>"});
    parts.append({QStringLiteral("xl/tables/table1.xml"),
                  pkgtest::xmlHead() +
                      "<table xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                      "id=\"1\" name=\"T1\" displayName=\"T1\" ref=\"A1:B2\"><autoFilter "
                      "ref=\"A1:B2\"/><tableColumns count=\"2\"><tableColumn id=\"1\" "
                      "name=\"Name\"/><tableColumn id=\"2\" name=\"Qty\"/></tableColumns>"
                      "<tableStyleInfo name=\"TableStyleMedium2\"/></table>"});
    const QString path = m_tmp.filePath(QStringLiteral("table.xlsx"));
    QVERIFY(pkgtest::writeZip(path, parts));
    Document doc;
    QString error;
    QVERIFY2(doc.open(path, &error), qPrintable(error));
    Worksheet *ws = doc.worksheet(0);
    QCOMPARE(ws->tables().size(), 1);
    const TableInfo t = ws->tables().first();
    QCOMPARE(t.name, QStringLiteral("T1"));
    QCOMPARE(t.ref, CellRange(1, 1, 2, 2));
    QCOMPARE(t.headerRowCount, 1);
    QCOMPARE(t.columnNames, QStringList({"Name", "Qty"}));
    QCOMPARE(t.partName, QStringLiteral("/xl/tables/table1.xml"));

    // Renaming a column rewrites that part only; the header cell is the caller's business.
    QVERIFY2(ws->setString(1, 2, QStringLiteral("数量 & <n>"), &error), qPrintable(error));
    QVERIFY2(ws->renameTableColumn(0, 1, QStringLiteral("数量 & <n>"), &error), qPrintable(error));
    QVERIFY(!ws->renameTableColumn(0, 2, QStringLiteral("x"), &error));
    QVERIFY(!ws->renameTableColumn(1, 0, QStringLiteral("x"), &error));
    QCOMPARE(ws->tables().first().columnNames, QStringList({"Name", QStringLiteral("数量 & <n>")}));
    const QString copy = m_tmp.filePath(QStringLiteral("table2.xlsx"));
    QVERIFY2(doc.saveAs(copy, &error), qPrintable(error));
    const QJsonObject dump = testsupport::dumpWorkbook(copy, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    QCOMPARE(testsupport::cellValue(dump, "Sheet1", "B1").toString(), QStringLiteral("数量 & <n>"));
    Document again;
    QVERIFY(again.open(copy, &error));
    QCOMPARE(again.worksheet(0)->tables().first().columnNames,
             QStringList({"Name", QStringLiteral("数量 & <n>")}));
    const auto h1 = testsupport::zipEntryHashes(path), h2 = testsupport::zipEntryHashes(copy);
    QCOMPARE(h2.value("xl/tables/table1.xml") == h1.value("xl/tables/table1.xml"), false);
    QCOMPARE(h2.value("xl/worksheets/_rels/sheet1.xml.rels"),
             h1.value("xl/worksheets/_rels/sheet1.xml.rels"));
}

QTEST_GUILESS_MAIN(TestRead)
#include "tst_xlsx_read.moc"
