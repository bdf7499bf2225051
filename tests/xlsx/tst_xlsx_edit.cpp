// Editing and saving: the independent reader sees exactly the edits, every
// other cell and every untouched zip entry stay as they were.
#include "packagehelpers.h"
#include "testsupport.h"
#include "xlsx/book.h"
#include "xlsx/document.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using namespace xlsx;

class TestEdit : public QObject
{
    Q_OBJECT
private slots:
    void editCells_data();
    void editCells();
    void sharedFormulas_data();
    void sharedFormulas();
    void arrayFormulaRefused();
    void calcChainDropped();
    void sharedStringKeptForOtherCells();
    void sharedStringEdits_data();
    void sharedStringEdits();
    void prefixedAndUnnumbered_data();
    void prefixedAndUnnumbered();
    void unmodifiedSaveKeepsContent();
    void saveTwice();
    void failedSaveKeepsFile();
    void addSheetToExisting();
    void listBook_data();
    void listBook();
    void listBookReadsForeignFiles();
    void threads();

private:
    QString makeBase(const QString &writer);
    QTemporaryDir m_tmp;
};

static const char *const kTextCell = "A1";

QString TestEdit::makeBase(const QString &writer)
{
    const QString path = m_tmp.filePath(writer + QStringLiteral("_base.xlsx"));
    const QJsonObject spec{
        {"writer", writer},
        {"sheets",
         QJsonArray{QJsonObject{{"name", "One"},
                                {"cells", QJsonObject{{"A1", "shared"},
                                                      {"A2", "shared"},
                                                      {"B1", 10},
                                                      {"B2", 20},
                                                      {"C1", QJsonObject{{"f", "=B1+B2"}}},
                                                      {"D5", "far"}}}},
                    QJsonObject{{"name", "Two"}, {"cells", QJsonObject{{"A1", "other"}}}}}},
    };
    QString error;
    if (!testsupport::makeWorkbook(path, spec, &error))
        qWarning() << error;
    return path;
}

void TestEdit::editCells_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<QString>("ref");
    QTest::addColumn<QString>("kind"); // string, number, formula, bool
    QTest::addColumn<QString>("value");
    // As openpyxl reads it: it leaves _xHHHH_ escapes of inline strings undecoded (the
    // spreadsheet application and our reader decode them).
    QTest::addColumn<QVariant>("expected");
    for (const QString &w : {QStringLiteral("openpyxl"), QStringLiteral("xlsxwriter")}) {
        const QByteArray p = w.toLatin1() + ": ";
        QTest::newRow(p + "string over a shared string") << w << kTextCell << "string"
                                                         << "new 文本" << QVariant("new 文本");
        QTest::newRow(p + "string with spaces and markup")
            << w << "B1"
            << "string"
            << "  <a & b>  " << QVariant("  <a & b>  ");
        QTest::newRow(p + "string looking like an escape")
            << w << "B1"
            << "string"
            << "_x0041_" << QVariant("_x005F_x0041_");
        QTest::newRow(p + "string with a control character")
            << w << "B1"
            << "string" << QString("a\u0001b") << QVariant("a_x0001_b");
        QTest::newRow(p + "number over a number") << w << "B2"
                                                  << "number"
                                                  << "-1.5E-3" << QVariant(-0.0015);
        QTest::newRow(p + "formula over a number") << w << "B2"
                                                   << "formula"
                                                   << "B1*3" << QVariant("=B1*3");
        QTest::newRow(p + "string over a formula") << w << "C1"
                                                   << "string"
                                                   << "was formula" << QVariant("was formula");
        QTest::newRow(p + "new cell in an existing row") << w << "C2"
                                                         << "string"
                                                         << "in row" << QVariant("in row");
        QTest::newRow(p + "new cell before existing ones") << w << "C5"
                                                           << "number"
                                                           << "7" << QVariant(7);
        QTest::newRow(p + "new row in between") << w << "A3"
                                                << "string"
                                                << "between" << QVariant("between");
        QTest::newRow(p + "new row at the end") << w << "Z100"
                                                << "bool"
                                                << "1" << QVariant(true);
    }
}

void TestEdit::editCells()
{
    QFETCH(QString, writer);
    QFETCH(QString, ref);
    QFETCH(QString, kind);
    QFETCH(QString, value);
    QFETCH(QVariant, expected);
    const QString base = makeBase(writer);
    QString error;
    const QJsonObject before = testsupport::dumpWorkbook(base, &error);
    QVERIFY2(!before.isEmpty(), qPrintable(error));

    Document doc;
    QVERIFY2(doc.open(base, &error), qPrintable(error));
    Worksheet *ws = doc.worksheet(0, &error);
    QVERIFY2(ws, qPrintable(error));
    const CellRef r = CellRef::fromString(ref);
    const int styleBefore = ws->cell(r.row, r.column).style;
    bool ok = false;
    if (kind == QLatin1String("string"))
        ok = ws->setString(r.row, r.column, value, &error);
    else if (kind == QLatin1String("number"))
        ok = ws->setNumber(r.row, r.column, value, &error);
    else if (kind == QLatin1String("formula"))
        ok = ws->setFormula(r.row, r.column, value, &error);
    else
        ok = ws->setBoolean(r.row, r.column, value == QLatin1String("1"), &error);
    QVERIFY2(ok, qPrintable(error));
    QVERIFY(ws->isModified());
    QVERIFY(doc.isModified());
    const QString out = m_tmp.filePath(QStringLiteral("edited.xlsx"));
    QVERIFY2(doc.saveAs(out, &error), qPrintable(error));

    // openpyxl: the edited cell has the new value, every other cell its old one.
    const QJsonObject after = testsupport::dumpWorkbook(out, &error);
    QVERIFY2(!after.isEmpty(), qPrintable(error));
    const QVariant got = testsupport::cellValue(after, QStringLiteral("One"), ref);
    if (expected.type() == QVariant::Double || expected.type() == QVariant::Int)
        QCOMPARE(got.toDouble(), expected.toDouble());
    else
        QCOMPARE(got, expected);
    for (int s = 0; s < 2; ++s) {
        QJsonObject c1 = before["sheets"].toArray()[s].toObject()["cells"].toObject();
        QJsonObject c2 = after["sheets"].toArray()[s].toObject()["cells"].toObject();
        if (s == 0) {
            c1.remove(ref);
            c2.remove(ref);
        }
        QCOMPARE(c2, c1);
    }
    // Our reader sees the same, and the style stayed.
    Document again;
    QVERIFY2(again.open(out, &error), qPrintable(error));
    const Cell c = again.worksheet(0)->cell(r.row, r.column);
    QCOMPARE(c.style, styleBefore);
    if (kind == QLatin1String("formula"))
        QCOMPARE(c.formula, value);
    else if (kind == QLatin1String("bool"))
        QCOMPARE(c.type, CellType::Boolean);
    else
        QCOMPARE(c.text, value);

    // Only the sheet and the workbook part (recalculation flag) changed; everything else
    // kept its compressed bytes.
    const auto h1 = testsupport::zipEntryHashes(base), h2 = testsupport::zipEntryHashes(out);
    const auto r1 = pkgtest::rawEntries(base), r2 = pkgtest::rawEntries(out);
    QCOMPARE(h2.keys(), h1.keys());
    for (const QString &name : h1.keys()) {
        if (name == QLatin1String("xl/worksheets/sheet1.xml") ||
            name == QLatin1String("xl/workbook.xml"))
            continue;
        QVERIFY2(h2.value(name) == h1.value(name), qPrintable(name));
        QVERIFY2(r2.value(name) == r1.value(name), qPrintable(name));
    }
    QVERIFY(h2.value("xl/worksheets/sheet1.xml") != h1.value("xl/worksheets/sheet1.xml"));
    // The workbook has formulas: the spreadsheet application must recalculate on load.
    QByteArray wb;
    {
        ZipArchive z;
        QVERIFY(z.load(testsupport::readAll(out), out, &error));
        QVERIFY(z.read(QStringLiteral("xl/workbook.xml"), &wb, &error));
    }
    QVERIFY2(wb.contains("fullCalcOnLoad=\"1\""), wb.constData());
}

static QByteArray sharedSheet()
{
    return pkgtest::sheetXml(
        "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\" s=\"0\"><f t=\"shared\" ref=\"B1:B3\" "
        "si=\"0\">A1*2</f><v>2</v></c></row><row r=\"2\"><c r=\"A2\"><v>2</v></c><c "
        "r=\"B2\"><f t=\"shared\" si=\"0\"/><v>4</v></c></row><row r=\"3\"><c "
        "r=\"A3\"><v>3</v></c><c r=\"B3\"><f t=\"shared\" si=\"0\"/><v>6</v></c></row>",
        {}, "<dimension ref=\"A1:B3\"/>");
}

void TestEdit::sharedFormulas_data()
{
    QTest::addColumn<QString>("edited");
    QTest::addColumn<QStringList>("formulas"); // B1..B3 as openpyxl reads them afterwards
    QTest::newRow("master") << "B1" << QStringList({"x", "=A2*2", "=A3*2"});
    QTest::newRow("middle member") << "B2" << QStringList({"=A1*2", "x", "=A3*2"});
    QTest::newRow("last member") << "B3" << QStringList({"=A1*2", "=A2*2", "x"});
}

void TestEdit::sharedFormulas()
{
    QFETCH(QString, edited);
    QFETCH(QStringList, formulas);
    const QString path = m_tmp.filePath(QStringLiteral("shared.xlsx"));
    QVERIFY(pkgtest::writePackage(path, {sharedSheet()}));
    Document doc;
    QString error;
    QVERIFY2(doc.open(path, &error), qPrintable(error));
    Worksheet *ws = doc.worksheet(0);
    const CellRef r = CellRef::fromString(edited);
    QVERIFY2(ws->setString(r.row, r.column, QStringLiteral("x"), &error), qPrintable(error));
    for (int row = 1; row <= 3; ++row) {
        const Cell c = ws->cell(row, 2);
        if (row == r.row) {
            QCOMPARE(c.text, QStringLiteral("x"));
            QVERIFY(!c.hasFormula());
        } else {
            QCOMPARE(QStringLiteral("=") + c.formula, formulas[row - 1]);
            QCOMPARE(c.text, QString::number(row * 2)); // cached value kept
        }
    }
    const QString out = m_tmp.filePath(QStringLiteral("shared_out.xlsx"));
    QVERIFY2(doc.saveAs(out, &error), qPrintable(error));
    const QJsonObject dump = testsupport::dumpWorkbook(out, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    for (int row = 1; row <= 3; ++row)
        QCOMPARE(testsupport::cellValue(dump, "Sheet1", QStringLiteral("B%1").arg(row)).toString(),
                 formulas[row - 1]);
    for (int row = 1; row <= 3; ++row)
        QCOMPARE(testsupport::cellValue(dump, "Sheet1", QStringLiteral("A%1").arg(row)).toInt(),
                 row);
}

void TestEdit::arrayFormulaRefused()
{
    const QString path = m_tmp.filePath(QStringLiteral("array.xlsx"));
    QVERIFY(pkgtest::writePackage(
        path, {pkgtest::sheetXml("<row r=\"1\"><c r=\"A1\"><f t=\"array\" ref=\"A1:A2\">B1:B2</f>"
                                 "<v>1</v></c><c r=\"B1\"><v>1</v></c></row><row r=\"2\"><c "
                                 "r=\"A2\"><v>2</v></c><c r=\"B2\"><v>2</v></c></row>")}));
    Document doc;
    QString error;
    QVERIFY(doc.open(path, &error));
    Worksheet *ws = doc.worksheet(0);
    QVERIFY(ws->cell(2, 1).inArrayRange);
    QVERIFY(!ws->setString(2, 1, QStringLiteral("x"), &error));
    QVERIFY(error.contains(QLatin1String("array")));
    QVERIFY(!ws->setNumber(1, 1, QStringLiteral("3"), &error));
    QVERIFY(!ws->setNumber(1, 2, QStringLiteral("not a number"), &error));
    QVERIFY(!ws->isModified());
    QVERIFY(ws->setNumber(1, 2, QStringLiteral("5"), &error));
    QCOMPARE(ws->cell(1, 2).text, QStringLiteral("5"));
}

void TestEdit::calcChainDropped()
{
    pkgtest::Parts parts = pkgtest::minimalParts({pkgtest::sheetXml(
        "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f>A1+1</f><v>2</v></c></row>")});
    parts[0].second.replace("</Types>", "<Override PartName=\"/xl/calcChain.xml\" "
                                        "ContentType=\"application/vnd.openxmlformats-"
                                        "officedocument.spreadsheetml.calcChain+xml\"/></Types>");
    parts[2].second.replace("</sheets>", "</sheets><calcPr calcId=\"191029\"/>");
    parts[3].second.replace("</Relationships>",
                            "<Relationship Id=\"rIdC\" Type=\"http://schemas.openxmlformats.org/"
                            "officeDocument/2006/relationships/calcChain\" "
                            "Target=\"calcChain.xml\"/></Relationships>");
    parts.append({QStringLiteral("xl/calcChain.xml"),
                  pkgtest::xmlHead() +
                      "<calcChain xmlns=\"http://schemas.openxmlformats.org/"
                      "spreadsheetml/2006/main\"><c r=\"B1\" i=\"1\"/></calcChain>"});
    const QString path = m_tmp.filePath(QStringLiteral("chain.xlsx"));
    QVERIFY(pkgtest::writeZip(path, parts));
    Document doc;
    QString error;
    QVERIFY(doc.open(path, &error));
    QVERIFY(doc.hasCalcChain());
    QVERIFY(doc.worksheet(0)->setString(1, 2, QStringLiteral("no formula"), &error));
    const QString out = m_tmp.filePath(QStringLiteral("chain_out.xlsx"));
    QVERIFY2(doc.saveAs(out, &error), qPrintable(error));
    QVERIFY(!doc.hasCalcChain());
    ZipArchive z;
    QVERIFY(z.load(testsupport::readAll(out), out, &error));
    QCOMPARE(z.find(QStringLiteral("xl/calcChain.xml")), -1);
    QByteArray ct, rels, wb;
    QVERIFY(z.read(QStringLiteral("[Content_Types].xml"), &ct, &error));
    QVERIFY(z.read(QStringLiteral("xl/_rels/workbook.xml.rels"), &rels, &error));
    QVERIFY(z.read(QStringLiteral("xl/workbook.xml"), &wb, &error));
    QVERIFY(!ct.contains("calcChain"));
    QVERIFY(!rels.contains("calcChain"));
    QVERIFY(wb.contains("<calcPr calcId=\"191029\" fullCalcOnLoad=\"1\"/>"));
    const QJsonObject dump = testsupport::dumpWorkbook(out, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    QCOMPARE(testsupport::cellValue(dump, "Sheet1", "B1").toString(), QStringLiteral("no formula"));
}

void TestEdit::sharedStringKeptForOtherCells()
{
    const QString base = makeBase(QStringLiteral("xlsxwriter"));
    Document doc;
    QString error;
    QVERIFY(doc.open(base, &error));
    Worksheet *ws = doc.worksheet(0);
    QCOMPARE(ws->cell(1, 1).type, CellType::SharedString);
    QCOMPARE(ws->cell(2, 1).type, CellType::SharedString);
    QVERIFY(ws->setString(1, 1, QStringLiteral("changed"), &error));
    QCOMPARE(ws->cell(2, 1).text, QStringLiteral("shared"));
    const QString out = m_tmp.filePath(QStringLiteral("sst.xlsx"));
    QVERIFY(doc.saveAs(out, &error));
    const QJsonObject dump = testsupport::dumpWorkbook(out, &error);
    QCOMPARE(testsupport::cellValue(dump, "One", "A1").toString(), QStringLiteral("changed"));
    QCOMPARE(testsupport::cellValue(dump, "One", "A2").toString(), QStringLiteral("shared"));
    QCOMPARE(testsupport::zipEntryHashes(out).value("xl/sharedStrings.xml"),
             testsupport::zipEntryHashes(base).value("xl/sharedStrings.xml"));
}

void TestEdit::sharedStringEdits_data()
{
    // A shared strings part of three items (the middle one given new text), read back by
    // openpyxl from cells A1:A3 that refer to them.
    QTest::addColumn<QByteArray>("sst");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("middleWas");
    const QByteArray ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    auto part = [&](const QByteArray &middle, const QByteArray &p = {}) {
        const QByteArray q = p.isEmpty() ? QByteArray() : p + ":";
        return pkgtest::xmlHead() + "<" + q + "sst xmlns" + (p.isEmpty() ? "" : ":" + p) + "=\"" +
               ns + "\" count=\"3\" uniqueCount=\"3\"><" + q + "si><" + q + "t>first</" + q +
               "t></" + q + "si>\n" + middle + "\n<" + q + "si><" + q + "t>last</" + q + "t></" +
               q + "si></" + q + "sst>";
    };
    QTest::newRow("plain item") << part("<si><t>old</t></si>") << "new"
                                << "old";
    QTest::newRow("prefixed part") << part("<x:si><x:t>old</x:t></x:si>", "x") << "new"
                                   << "old";
    QTest::newRow("empty self-closing item") << part("<si/>") << "new"
                                             << "";
    QTest::newRow("rich text and phonetic runs become plain text")
        << part("<si><r><rPr><b/></rPr><t>ri</t></r><r><t>ch</t></r><rPh sb=\"0\" eb=\"1\">"
                "<t>ふ</t></rPh><phoneticPr fontId=\"1\"/></si>")
        << QString::fromUtf8("漢字") << "rich";
    QTest::newRow("markup, spaces and a line break")
        << part("<si><t>old</t></si>") << " a & <b>\"c\"\nd "
        << "old";
    QTest::newRow("text that looks like an escape")
        << part("<si><t>old</t></si>") << "_x0041_ stays as typed"
        << "old";
    QByteArray utf16;
    const QString text16 = QString::fromUtf8(
        part("<si><t>old</t></si>").replace("encoding=\"UTF-8\"", "encoding=\"UTF-16\""));
    utf16 += "\xFF\xFE";
    for (QChar c : text16) {
        utf16 += char(c.unicode() & 0xff);
        utf16 += char(c.unicode() >> 8);
    }
    QTest::newRow("part stored in UTF-16") << utf16 << "new"
                                           << "old";
}

void TestEdit::sharedStringEdits()
{
    QFETCH(QByteArray, sst);
    QFETCH(QString, text);
    QFETCH(QString, middleWas);
    const QString in = m_tmp.filePath(QStringLiteral("sst-in.xlsx"));
    const QString out = m_tmp.filePath(QStringLiteral("sst-out.xlsx"));
    QVERIFY(pkgtest::writePackage(
        in,
        {pkgtest::sheetXml("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row><row r=\"2\">"
                           "<c r=\"A2\" t=\"s\"><v>1</v></c></row><row r=\"3\"><c r=\"A3\" "
                           "t=\"s\"><v>2</v></c></row>")},
        sst));
    Document doc;
    QString error;
    QVERIFY2(doc.open(in, &error), qPrintable(error));
    QCOMPARE(doc.sharedString(1), middleWas);
    QVERIFY2(doc.setSharedString(1, text, &error), qPrintable(error));
    QCOMPARE(doc.worksheet(0)->cell(2, 1).text, text);
    QVERIFY(doc.isModified());
    QVERIFY2(doc.saveAs(out, &error), qPrintable(error));
    const QJsonObject dump = testsupport::dumpWorkbook(out, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    const QString sheet =
        dump.value("sheets").toArray().first().toObject().value("name").toString();
    QCOMPARE(testsupport::cellValue(dump, sheet, "A1").toString(), QStringLiteral("first"));
    QCOMPARE(testsupport::cellValue(dump, sheet, "A2").toString(), text);
    QCOMPARE(testsupport::cellValue(dump, sheet, "A3").toString(), QStringLiteral("last"));
    // Read again by this library, the cells still refer to the shared strings.
    Document again;
    QVERIFY2(again.open(out, &error), qPrintable(error));
    QCOMPARE(again.worksheet(0)->cell(2, 1).type, CellType::SharedString);
    QCOMPARE(again.worksheet(0)->cell(2, 1).text, text);
}

void TestEdit::prefixedAndUnnumbered_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QString>("ref");
    QTest::addColumn<QStringList>("keep"); // "ref=value" that must survive
    QTest::newRow("x: prefix, existing cell")
        << pkgtest::sheetXml("<x:row r=\"1\" spans=\"1:2\"><x:c r=\"A1\" t=\"inlineStr\"><x:is>"
                             "<x:t>a</x:t></x:is></x:c><x:c r=\"B1\"><x:v>2</x:v></x:c></x:row>",
                             "x")
        << "A1" << QStringList({"B1=2"});
    QTest::newRow("x: prefix, new row")
        << pkgtest::sheetXml("<x:row r=\"1\"><x:c r=\"A1\"><x:v>1</x:v></x:c></x:row>", "x") << "C4"
        << QStringList({"A1=1"});
    QTest::newRow("no r: edit second row")
        << pkgtest::sheetXml("<row><c><v>1</v></c><c><v>2</v></c></row><row><c><v>3</v></c>"
                             "<c><v>4</v></c></row>")
        << "A2" << QStringList({"A1=1", "B1=2", "B2=4"});
    QTest::newRow("no r: append to a row")
        << pkgtest::sheetXml("<row><c><v>1</v></c><c><v>2</v></c></row>") << "E1"
        << QStringList({"A1=1", "B1=2"});
    QTest::newRow("empty sheetData")
        << pkgtest::xmlHead() + "<worksheet xmlns=\"http://schemas.openxmlformats.org/"
                                "spreadsheetml/2006/main\"><dimension ref=\"A1\"/><sheetData/>"
                                "</worksheet>"
        << "B2" << QStringList();
    QTest::newRow("empty row element")
        << pkgtest::sheetXml("<row r=\"2\" spans=\"1:1\" ht=\"20\" customHeight=\"1\"/><row "
                             "r=\"3\"><c r=\"A3\"><v>3</v></c></row>")
        << "B2" << QStringList({"A3=3"});
}

void TestEdit::prefixedAndUnnumbered()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QString, ref);
    QFETCH(QStringList, keep);
    const QString path = m_tmp.filePath(QStringLiteral("variant.xlsx"));
    QVERIFY(pkgtest::writePackage(path, {sheet}));
    Document doc;
    QString error;
    QVERIFY(doc.open(path, &error));
    const CellRef r = CellRef::fromString(ref);
    QVERIFY2(doc.worksheet(0)->setString(r.row, r.column, QStringLiteral("new"), &error),
             qPrintable(error));
    const QString out = m_tmp.filePath(QStringLiteral("variant_out.xlsx"));
    QVERIFY2(doc.saveAs(out, &error), qPrintable(error));
    const QJsonObject dump = testsupport::dumpWorkbook(out, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    QCOMPARE(testsupport::cellValue(dump, "Sheet1", ref).toString(), QStringLiteral("new"));
    for (const QString &k : keep) {
        const QStringList kv = k.split(QLatin1Char('='));
        QCOMPARE(testsupport::cellValue(dump, "Sheet1", kv[0]).toString(), kv[1]);
    }
    QCOMPARE(dump["sheets"].toArray()[0].toObject()["cells"].toObject().size(), keep.size() + 1);
    Document again;
    QVERIFY(again.open(out, &error));
    QCOMPARE(again.worksheet(0)->cell(r.row, r.column).text, QStringLiteral("new"));
}

void TestEdit::unmodifiedSaveKeepsContent()
{
    const QString base = makeBase(QStringLiteral("openpyxl"));
    const QString copy = m_tmp.filePath(QStringLiteral("same.xlsx"));
    QVERIFY(QFile::copy(base, copy));
    Document doc;
    QString error;
    QVERIFY(doc.open(copy, &error));
    QVERIFY(doc.worksheet(0));
    QVERIFY(!doc.isModified());
    QVERIFY2(doc.save(&error), qPrintable(error));
    QCOMPARE(testsupport::zipEntryHashes(copy), testsupport::zipEntryHashes(base));
    QCOMPARE(pkgtest::rawEntries(copy), pkgtest::rawEntries(base));
}

void TestEdit::saveTwice()
{
    const QString path = m_tmp.filePath(QStringLiteral("twice.xlsx"));
    QVERIFY(QFile::copy(makeBase(QStringLiteral("openpyxl")), path));
    Document doc;
    QString error;
    QVERIFY(doc.open(path, &error));
    Worksheet *ws = doc.worksheet(0);
    QVERIFY(ws->setString(1, 1, QStringLiteral("first"), &error));
    QVERIFY(doc.save(&error));
    QVERIFY(!ws->isModified());
    QCOMPARE(ws->cell(1, 1).text, QStringLiteral("first"));
    QVERIFY(ws->setString(9, 9, QStringLiteral("second"), &error));
    QVERIFY(ws->setString(1, 1, QStringLiteral("third"), &error));
    QVERIFY(doc.save(&error));
    const QJsonObject dump = testsupport::dumpWorkbook(path, &error);
    QCOMPARE(testsupport::cellValue(dump, "One", "A1").toString(), QStringLiteral("third"));
    QCOMPARE(testsupport::cellValue(dump, "One", "I9").toString(), QStringLiteral("second"));
    QCOMPARE(testsupport::cellValue(dump, "One", "D5").toString(), QStringLiteral("far"));
}

void TestEdit::failedSaveKeepsFile()
{
    const QString path = m_tmp.filePath(QStringLiteral("keep.xlsx"));
    QVERIFY(QFile::copy(makeBase(QStringLiteral("openpyxl")), path));
    const QByteArray before = testsupport::sha256(path);
    Document doc;
    QString error;
    QVERIFY(doc.open(path, &error));
    QVERIFY(doc.worksheet(0)->setString(1, 1, QStringLiteral("x"), &error));
    const QString bad = m_tmp.filePath(QStringLiteral("no/such/dir/out.xlsx"));
    QVERIFY(!doc.saveAs(bad, &error));
    QVERIFY(error.contains(bad));
    QVERIFY(!QFile::exists(bad));
    QCOMPARE(testsupport::sha256(path), before);
    // The document is still usable and bound to its file.
    QCOMPARE(doc.path(), path);
    QVERIFY(doc.save(&error));
    QCOMPARE(testsupport::cellValue(testsupport::dumpWorkbook(path), "One", "A1").toString(),
             QStringLiteral("x"));
}

void TestEdit::addSheetToExisting()
{
    const QString path = m_tmp.filePath(QStringLiteral("add.xlsx"));
    QVERIFY(QFile::copy(makeBase(QStringLiteral("xlsxwriter")), path));
    Document doc;
    QString error;
    QVERIFY(doc.open(path, &error));
    QCOMPARE(doc.addSheet(QStringLiteral("one"), &error), -1); // names are case-insensitive
    QCOMPARE(doc.addSheet(QStringLiteral("a/b"), &error), -1);
    QCOMPARE(doc.addSheet(QString(32, QLatin1Char('x')), &error), -1);
    const int i = doc.addSheet(QStringLiteral("新表"), &error);
    QCOMPARE(i, 2);
    QVERIFY(doc.worksheet(i)->setString(2, 3, QStringLiteral("v"), &error));
    QVERIFY2(doc.save(&error), qPrintable(error));
    const QJsonObject dump = testsupport::dumpWorkbook(path, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    QCOMPARE(dump["sheets"].toArray().size(), 3);
    QCOMPARE(dump["sheets"].toArray()[2].toObject()["name"].toString(), QStringLiteral("新表"));
    QCOMPARE(testsupport::cellValue(dump, QStringLiteral("新表"), "C2").toString(),
             QStringLiteral("v"));
    QCOMPARE(testsupport::cellValue(dump, "One", "D5").toString(), QStringLiteral("far"));
}

void TestEdit::listBook_data()
{
    QTest::addColumn<int>("rows");
    QTest::newRow("empty lists") << 0;
    QTest::newRow("a few rows") << 3;
    QTest::newRow("many rows") << 2000;
}

void TestEdit::listBook()
{
    QFETCH(int, rows);
    const QString path = m_tmp.filePath(QStringLiteral("列表.xlsx"));
    QFile::remove(path);
    {
        Book book(path);
        QVERIFY(book.loadError().isEmpty());
        QVERIFY(book.sheetNames().isEmpty());
        QVERIFY(book.addSheet(QStringLiteral("Tabrix方式一_文件列表")));
        for (int i = 0; i < rows; ++i)
            QVERIFY(book.write(i + 1, 1, QStringLiteral("C:/数据/文件%1.xlsx").arg(i)));
        QVERIFY(book.addSheet(QStringLiteral("Tabrix方式一_关键字列表")));
        QVERIFY(book.write(QStringLiteral("A1"), QStringLiteral("被替换关键字:")));
        QVERIFY(book.write(QStringLiteral("B1"), QStringLiteral("欲替换为:")));
        QVERIFY(book.write(2, 1, QString()));
        QVERIFY(book.write(2, 2, QStringLiteral(" lead & trail ")));
        QString error;
        QVERIFY2(book.save(&error), qPrintable(error));
    }
    QString error;
    const QJsonObject dump = testsupport::dumpWorkbook(path, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    QCOMPARE(dump["sheets"].toArray().size(), 2);
    QCOMPARE(
        testsupport::cellValue(dump, QStringLiteral("Tabrix方式一_关键字列表"), "A1").toString(),
        QStringLiteral("被替换关键字:"));
    QCOMPARE(
        testsupport::cellValue(dump, QStringLiteral("Tabrix方式一_关键字列表"), "B2").toString(),
        QStringLiteral(" lead & trail "));
    if (rows > 0)
        QCOMPARE(testsupport::cellValue(dump, QStringLiteral("Tabrix方式一_文件列表"),
                                        QStringLiteral("A%1").arg(rows))
                     .toString(),
                 QStringLiteral("C:/数据/文件%1.xlsx").arg(rows - 1));

    Book back(path);
    QVERIFY(back.loadError().isEmpty());
    QCOMPARE(back.sheetNames(), QStringList({QStringLiteral("Tabrix方式一_文件列表"),
                                             QStringLiteral("Tabrix方式一_关键字列表")}));
    QVERIFY(back.selectSheet(QStringLiteral("Tabrix方式一_文件列表")));
    QCOMPARE(back.dimension().rowCount(), qMax(rows, 1));
    for (int i = 0; i < rows; ++i)
        QCOMPARE(back.read(i + 1, 1), QStringLiteral("C:/数据/文件%1.xlsx").arg(i));
    QVERIFY(back.selectSheet(QStringLiteral("Tabrix方式一_关键字列表")));
    QCOMPARE(back.dimension(), CellRange(1, 1, 2, 2));
    QCOMPARE(back.read(1, 2), QStringLiteral("欲替换为:"));
    QCOMPARE(back.read(2, 1), QString());
    QCOMPARE(back.read(QStringLiteral("Z9")), QString());
    QVERIFY(!back.selectSheet(QStringLiteral("missing")));
    QVERIFY(back.save(&error));
}

void TestEdit::listBookReadsForeignFiles()
{
    const QString path = m_tmp.filePath(QStringLiteral("foreign.xlsx"));
    const QJsonObject spec{
        {"writer", "openpyxl"},
        {"sheets",
         QJsonArray{QJsonObject{
             {"name", "L"},
             {"cells",
              QJsonObject{{"A1", "path"}, {"B1", 12}, {"C1", 2.5}, {"D1", true}, {"A3", "x"}}}}}},
    };
    QString error;
    QVERIFY2(testsupport::makeWorkbook(path, spec, &error), qPrintable(error));
    Book book(path);
    QVERIFY(book.loadError().isEmpty());
    QVERIFY(book.selectSheet(QStringLiteral("L")));
    QCOMPARE(book.dimension(), CellRange(1, 1, 3, 4));
    QCOMPARE(book.read(1, 1), QStringLiteral("path"));
    QCOMPARE(book.read(1, 2), QStringLiteral("12"));
    QCOMPARE(book.read(1, 3), QStringLiteral("2.5"));
    QCOMPARE(book.read(1, 4), QStringLiteral("true"));
    QCOMPARE(book.read(2, 1), QString());

    // A file that cannot be read is never overwritten.
    const QString junk = m_tmp.filePath(QStringLiteral("junk.xlsx"));
    {
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<html>not a workbook</html>");
    }
    Book bad(junk);
    QVERIFY(!bad.loadError().isEmpty());
    QVERIFY(bad.sheetNames().isEmpty());
    QVERIFY(!bad.write(1, 1, QStringLiteral("x")));
    QVERIFY(!bad.save(&error));
    QCOMPARE(testsupport::readAll(junk), QByteArray("<html>not a workbook</html>"));
}

void TestEdit::threads()
{
    const QString base = makeBase(QStringLiteral("xlsxwriter"));
    constexpr int kThreads = 4;
    QStringList paths;
    for (int i = 0; i < kThreads; ++i) {
        paths.append(m_tmp.filePath(QStringLiteral("thread%1.xlsx").arg(i)));
        QFile::remove(paths.last());
        QVERIFY(QFile::copy(base, paths.last()));
    }
    bool results[kThreads] = {};
    std::vector<std::thread> pool;
    for (int i = 0; i < kThreads; ++i) {
        pool.emplace_back([&, i] {
            bool ok = true;
            for (int round = 0; round < 5 && ok; ++round) {
                Document doc;
                ok = doc.open(paths[i]) && doc.worksheet(0) &&
                     doc.worksheet(0)->setString(round + 1, 5,
                                                 QStringLiteral("t%1r%2").arg(i).arg(round)) &&
                     doc.save();
            }
            results[i] = ok;
        });
    }
    for (auto &t : pool)
        t.join();
    for (int i = 0; i < kThreads; ++i) {
        QVERIFY(results[i]);
        const QJsonObject dump = testsupport::dumpWorkbook(paths[i]);
        for (int round = 0; round < 5; ++round)
            QCOMPARE(testsupport::cellValue(dump, "One", QStringLiteral("E%1").arg(round + 1))
                         .toString(),
                     QStringLiteral("t%1r%2").arg(i).arg(round));
    }
}

QTEST_GUILESS_MAIN(TestEdit)
#include "tst_xlsx_edit.moc"
