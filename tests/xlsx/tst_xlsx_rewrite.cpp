// Rewriting sheets of some size: cells edited again and again (longer, shorter, other kinds),
// the rewritten part streamed into the saved package in pieces, the sheet read back from the
// saved package afterwards; zip entries written piece by piece.
#include "packagehelpers.h"
#include "testsupport.h"
#include "xlsx/document.h"
#include "xlsx/xml_p.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace xlsx;

class TestRewrite : public QObject
{
    Q_OBJECT
private slots:
    void manyEditsStreamed();
    void rewriteSameCell_data();
    void rewriteSameCell();
    void stringItems_data();
    void stringItems();
    void cellShapes_data();
    void cellShapes();
    void escapedTexts_data();
    void escapedTexts();
    void zipEntryInPieces();

private:
    QTemporaryDir m_tmp;
};

namespace {

constexpr int kRows = 6000; // the rewritten part is several times the streaming chunk

QByteArray bigSheetData()
{
    QByteArray d;
    for (int r = 1; r <= kRows; ++r) {
        const QByteArray n = QByteArray::number(r);
        d += "<row r=\"" + n + "\" spans=\"1:4\"><c r=\"A" + n + "\" t=\"inlineStr\"><is><t>row " +
             n + "</t></is></c><c r=\"B" + n + "\" s=\"1\"><v>" + n + "</v></c><c r=\"C" + n +
             "\" t=\"s\"><v>" + QByteArray::number(r % 3) + "</v></c><c r=\"D" + n + "\"><f>B" + n +
             "*2</f><v>" + QByteArray::number(2 * r) + "</v></c></row>";
    }
    return d;
}

const QByteArray kStrings =
    pkgtest::xmlHead() +
    "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"3\" "
    "uniqueCount=\"3\"><si><t>zero</t></si><si><r><t>o</t></r><r><rPr><b/></rPr><t>ne</t></r>"
    "</si><si><t xml:space=\"preserve\"> two&amp;</t><rPh sb=\"0\" eb=\"1\"><t>x</t>"
    "</rPh></si></sst>";

// The parts of a package with the given sheets, shared strings and a styles part with four
// cell formats.
pkgtest::Parts partsWithStyles(const QVector<QByteArray> &sheets, const QByteArray &strings = {})
{
    pkgtest::Parts parts = pkgtest::minimalParts(sheets, strings);
    for (auto &part : parts) {
        if (part.first == QLatin1String("[Content_Types].xml"))
            part.second.replace("</Types>",
                                "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/"
                                "vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
                                "</Types>");
        else if (part.first == QLatin1String("xl/_rels/workbook.xml.rels"))
            part.second.replace("</Relationships>",
                                "<Relationship Id=\"rIdSt\" Type=\"http://schemas.openxmlformats."
                                "org/officeDocument/2006/relationships/styles\" "
                                "Target=\"styles.xml\"/></Relationships>");
    }
    QByteArray xfs;
    for (int i = 0; i < 4; ++i)
        xfs += "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>";
    parts.append(
        {QStringLiteral("xl/styles.xml"),
         pkgtest::xmlHead() +
             "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
             "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
             "<fills count=\"1\"><fill><patternFill patternType=\"none\"/></fill></fills>"
             "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border>"
             "</borders><cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
             "borderId=\"0\"/></cellStyleXfs><cellXfs count=\"4\">" +
             xfs + "</cellXfs></styleSheet>"});
    return parts;
}

QString sharedText(int r)
{
    static const char *const texts[] = {"zero", "one", " two&"};
    return QString::fromUtf8(texts[r % 3]);
}

} // namespace

void TestRewrite::manyEditsStreamed()
{
    const QString path = m_tmp.filePath(QStringLiteral("big.xlsx"));
    const QByteArray other = pkgtest::sheetXml("<row r=\"1\"><c r=\"A1\"><v>7</v></c></row>");
    QVERIFY(pkgtest::writeZip(
        path, partsWithStyles({pkgtest::sheetXml(bigSheetData()), other}, kStrings)));
    const auto before = pkgtest::rawEntries(path);

    Document doc;
    QString error;
    QVERIFY2(doc.open(path, &error), qPrintable(error));
    Worksheet *ws = doc.worksheet(0, &error);
    QVERIFY2(ws, qPrintable(error));
    QCOMPARE(ws->cellCount(), 4 * kRows);

    // Expected values by reference; formulas with their "=".
    QHash<QString, QVariant> want;
    for (int r = 1; r <= kRows; ++r) {
        const QString n = QString::number(r);
        want.insert(QLatin1Char('A') + n, QStringLiteral("row ") + n);
        want.insert(QLatin1Char('B') + n, double(r));
        want.insert(QLatin1Char('C') + n, sharedText(r));
        want.insert(QLatin1Char('D') + n, QStringLiteral("=B%1*2").arg(r));
    }
    for (int r = 1; r <= kRows; ++r) {
        const QString n = QString::number(r);
        if (r % 3 == 0) {
            // Longer, then shorter (into the room of the longer), then longer again.
            QVERIFY(ws->setString(r, 1, QStringLiteral("改 %1 with a longer text").arg(r), &error));
            QVERIFY(ws->setString(r, 1, QStringLiteral("短%1").arg(r), &error));
            QCOMPARE(ws->cell(r, 1).text, QStringLiteral("短%1").arg(r));
            const QString last = QStringLiteral("  改 %1 & <again>").arg(r);
            QVERIFY(ws->setString(r, 1, last, &error));
            want.insert(QLatin1Char('A') + n, last);
        }
        if (r % 5 == 0) {
            QVERIFY(ws->setNumber(r, 3, QStringLiteral("-%1.5").arg(r), &error));
            QVERIFY(ws->setString(r, 3, QStringLiteral("s%1").arg(r), &error));
            want.insert(QLatin1Char('C') + n, QStringLiteral("s%1").arg(r));
        }
        if (r % 7 == 0) {
            QVERIFY(ws->setFormula(r, 4, QStringLiteral("B%1+1").arg(r), &error));
            want.insert(QLatin1Char('D') + n, QStringLiteral("=B%1+1").arg(r));
        }
        if (r % 11 == 0) {
            QVERIFY(ws->setBoolean(r, 6, true, &error));
            QVERIFY(ws->setNumber(r, 6, QString::number(r), &error));
            QVERIFY(ws->setString(r, 5, QStringLiteral("new"), &error));
            want.insert(QLatin1Char('E') + n, QStringLiteral("new"));
            want.insert(QLatin1Char('F') + n, double(r));
        }
    }
    QVERIFY(ws->setString(kRows + 3, 2, QStringLiteral("after"), &error));
    want.insert(QStringLiteral("B%1").arg(kRows + 3), QStringLiteral("after"));
    QCOMPARE(ws->cell(30, 1).text, want.value(QStringLiteral("A30")).toString());
    QCOMPARE(ws->cell(35, 3).text, QStringLiteral("s35"));
    QCOMPARE(ws->cell(34, 3).text, QStringLiteral("one"));
    QCOMPARE(ws->cell(77, 4).formula, QStringLiteral("B77+1"));
    QCOMPARE(ws->cell(2, 2).style, 1);
    const int count = ws->cellCount();

    QVERIFY2(doc.save(&error), qPrintable(error));

    // The independent reader sees every cell, edited or not.
    const QJsonObject dump = testsupport::dumpWorkbook(path, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    for (auto it = want.constBegin(); it != want.constEnd(); ++it) {
        const QVariant got = testsupport::cellValue(dump, QStringLiteral("Sheet1"), it.key());
        if (it.value().type() == QVariant::Double)
            QVERIFY2(got.toDouble() == it.value().toDouble(), qPrintable(it.key()));
        else
            QVERIFY2(got.toString() == it.value().toString(),
                     qPrintable(it.key() + QStringLiteral(": ") + got.toString()));
    }
    // Untouched entries are copied as they were.
    const auto after = pkgtest::rawEntries(path);
    for (const char *name : {"xl/worksheets/sheet2.xml", "xl/sharedStrings.xml", "xl/styles.xml"})
        QCOMPARE(after.value(QLatin1String(name)), before.value(QLatin1String(name)));

    // The sheet is read again from the saved package.
    QVERIFY(!ws->isModified());
    QCOMPARE(ws->cellCount(), count);
    QCOMPARE(ws->cell(30, 1).text, want.value(QStringLiteral("A30")).toString());
    QCOMPARE(ws->cell(31, 1).text, QStringLiteral("row 31"));
    QCOMPARE(ws->cell(34, 3).text, QStringLiteral("one"));
    QCOMPARE(ws->cell(77, 4).formula, QStringLiteral("B77+1"));
    QCOMPARE(ws->cell(kRows + 3, 2).text, QStringLiteral("after"));
    QVERIFY(ws->setString(31, 1, QStringLiteral("again"), &error));
    QVERIFY(doc.save(&error));
    QCOMPARE(testsupport::cellValue(testsupport::dumpWorkbook(path), "Sheet1", "A31").toString(),
             QStringLiteral("again"));
}

void TestRewrite::rewriteSameCell_data()
{
    QTest::addColumn<QByteArray>("cellXml");
    QTest::addColumn<QByteArray>("prefix");
    QTest::newRow("inline string")
        << QByteArray("<c r=\"B2\" t=\"inlineStr\"><is><t>abc</t></is></c>") << QByteArray();
    QTest::newRow("number with style")
        << QByteArray("<c r=\"B2\" s=\"3\"><v>12</v></c>") << QByteArray();
    QTest::newRow("formula") << QByteArray("<c r=\"B2\"><f>1+1</f><v>2</v></c>") << QByteArray();
    QTest::newRow("prefixed") << QByteArray("<x:c r=\"B2\" s=\"2\"><x:v>5</x:v></x:c>")
                              << QByteArray("x");
}

void TestRewrite::rewriteSameCell()
{
    QFETCH(QByteArray, cellXml);
    QFETCH(QByteArray, prefix);
    const QByteArray p = prefix.isEmpty() ? QByteArray() : prefix + ":";
    const QString path =
        m_tmp.filePath(QStringLiteral("same_%1.xlsx").arg(QTest::currentDataTag()));
    const QByteArray data = "<" + p + "row r=\"2\"><" + p + "c r=\"A2\"><" + p + "v>1</" + p +
                            "v></" + p + "c>" + cellXml + "<" + p + "c r=\"C2\"><" + p + "v>3</" +
                            p + "v></" + p + "c></" + p + "row>";
    QVERIFY(pkgtest::writeZip(path, partsWithStyles({pkgtest::sheetXml(data, prefix)})));
    Document doc;
    QString error;
    QVERIFY2(doc.open(path, &error), qPrintable(error));
    Worksheet *ws = doc.worksheet(0, &error);
    QVERIFY2(ws, qPrintable(error));
    const int style = ws->cell(2, 2).style;
    // Each edit's value is read back at once, through sizes going up and down.
    const QStringList texts{QStringLiteral("a much longer text than before"), QStringLiteral("b"),
                            QStringLiteral("cc"), QString(300, QLatin1Char('d')),
                            QStringLiteral("中文")};
    for (const QString &t : texts) {
        QVERIFY(ws->setString(2, 2, t, &error));
        const Cell c = ws->cell(2, 2);
        QCOMPARE(c.text, t);
        QCOMPARE(c.type, CellType::InlineString);
        QCOMPARE(c.style, style);
        QVERIFY(!c.hasFormula());
    }
    QVERIFY(ws->setNumber(2, 2, QStringLiteral("4.5"), &error));
    QCOMPARE(ws->cell(2, 2).type, CellType::Number);
    QCOMPARE(ws->cell(2, 2).text, QStringLiteral("4.5"));
    QVERIFY(ws->setFormula(2, 2, QStringLiteral("A2+C2"), &error));
    QCOMPARE(ws->cell(2, 2).formula, QStringLiteral("A2+C2"));
    QVERIFY(ws->hasFormulas());
    QVERIFY(ws->setString(2, 2, QStringLiteral("end"), &error));
    QVERIFY(!ws->hasFormulas());
    QCOMPARE(ws->cellCount(), 3);
    QVERIFY2(doc.save(&error), qPrintable(error));
    const QJsonObject dump = testsupport::dumpWorkbook(path, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    QCOMPARE(testsupport::cellValue(dump, "Sheet1", "B2").toString(), QStringLiteral("end"));
    QCOMPARE(testsupport::cellValue(dump, "Sheet1", "A2").toInt(), 1);
    QCOMPARE(testsupport::cellValue(dump, "Sheet1", "C2").toInt(), 3);
}

void TestRewrite::stringItems_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << QByteArray("<t>abc</t>") << true << QStringLiteral("abc");
    QTest::newRow("empty") << QByteArray("<t></t>") << true << QString();
    QTest::newRow("preserved blanks")
        << QByteArray("<t xml:space=\"preserve\"> a </t>") << true << QStringLiteral(" a ");
    QTest::newRow("prefixed") << QByteArray("<x:t>p</x:t>") << true << QStringLiteral("p");
    QTest::newRow("entities and escapes")
        << QByteArray("<t>a&amp;b&#x4E2D;_x0041__x005F_x0041_</t>") << true
        << QStringLiteral("a&b中A_x0041_");
    QTest::newRow("rich runs") << QByteArray("<r><t>a</t></r><r><rPr><b/></rPr><t>b</t></r>")
                               << true << QStringLiteral("ab");
    QTest::newRow("phonetic run left out")
        << QByteArray("<t>漢</t><rPh sb=\"0\" eb=\"1\"><t>カン</t></rPh>") << true
        << QStringLiteral("漢");
    QTest::newRow("cdata") << QByteArray("<t><![CDATA[<x>]]></t>") << true << QStringLiteral("<x>");
    QTest::newRow("other element named like t") << QByteArray("<at>no</at>") << true << QString();
    QTest::newRow("mismatched end") << QByteArray("<t>a</x>") << false << QString();
    QTest::newRow("bad entity") << QByteArray("<t>a&bogus;</t>") << false << QString();
    QTest::newRow("unterminated") << QByteArray("<t>a") << false << QString();
}

void TestRewrite::stringItems()
{
    QFETCH(QByteArray, item);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    QString out;
    QCOMPARE(flattenStringItem(item.constData(), item.constData() + item.size(), &out), ok);
    if (ok)
        QCOMPARE(out, text);
}

void TestRewrite::cellShapes_data()
{
    // One row of cells; what is read of the cell at column 2 (or the error).
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("error");
    const int num = int(CellType::Number), str = int(CellType::FormulaString);
    QTest::newRow("plain number") << QByteArray("<c r=\"B1\" s=\"2\"><v>1.5</v></c>") << num
                                  << QStringLiteral("1.5") << 2 << QString();
    QTest::newRow("attributes in another order")
        << QByteArray("<c t=\"e\" s=\"1\" r=\"B1\"><v>#N/A</v></c>") << int(CellType::Error)
        << QStringLiteral("#N/A") << 1 << QString();
    QTest::newRow("shared string")
        << QByteArray("<c r=\"B1\" t=\"s\"><v>0</v></c>") << int(CellType::SharedString)
        << QStringLiteral("first") << 0 << QString();
    QTest::newRow("empty element") << QByteArray("<c r=\"B1\" s=\"3\"></c>") << int(CellType::Empty)
                                   << QString() << 3 << QString();
    QTest::newRow("self-closing") << QByteArray("<c r=\"B1\" s=\"3\"/>") << int(CellType::Empty)
                                  << QString() << 3 << QString();
    QTest::newRow("no reference") << QByteArray("<c r=\"A1\"><v>1</v></c><c t=\"str\"><v>x</v></c>")
                                  << str << QStringLiteral("x") << 0 << QString();
    QTest::newRow("single quotes") << QByteArray("<c r='B1' t='str'><v>q</v></c>") << str
                                   << QStringLiteral("q") << 0 << QString();
    QTest::newRow("entity in value") << QByteArray("<c r=\"B1\" t=\"str\"><v>a&amp;b</v></c>")
                                     << str << QStringLiteral("a&b") << 0 << QString();
    QTest::newRow("blanks inside") << QByteArray("<c r=\"B1\" t=\"str\">\n <v>w</v>\n</c>") << str
                                   << QStringLiteral("w") << 0 << QString();
    QTest::newRow("unknown type") << QByteArray("<c r=\"B1\" t=\"zz\"><v>7</v></c>") << num
                                  << QStringLiteral("7") << 0 << QString();
    QTest::newRow("other attribute") << QByteArray("<c r=\"B1\" cm=\"1\"><v>8</v></c>") << num
                                     << QStringLiteral("8") << 0 << QString();
    QTest::newRow("cell-like element deeper in the row")
        << QByteArray("<c r=\"B1\"><v>2</v></c><extLst><c r=\"C1\"><v>3</v></c></extLst>") << num
        << QStringLiteral("2") << 0 << QString();
    QTest::newRow("duplicate attribute")
        << QByteArray("<c r=\"B1\" s=\"1\" s=\"2\"><v>1</v></c>") << 0 << QString() << 0
        << QStringLiteral("duplicate attribute");
    QTest::newRow("bad style") << QByteArray("<c r=\"B1\" s=\"x\"><v>1</v></c>") << 0 << QString()
                               << 0 << QStringLiteral("bad style index");
    QTest::newRow("bad reference") << QByteArray("<c r=\"1B\"><v>1</v></c>") << 0 << QString() << 0
                                   << QStringLiteral("bad cell reference");
    QTest::newRow("unclosed value") << QByteArray("<c r=\"B1\"><v>1</c>") << 0 << QString() << 0
                                    << QStringLiteral("mismatched end tag");
}

void TestRewrite::cellShapes()
{
    QFETCH(QByteArray, row);
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(int, style);
    QFETCH(QString, error);
    const QString path =
        m_tmp.filePath(QStringLiteral("shape_%1.xlsx").arg(QTest::currentDataTag()));
    const QByteArray strings =
        pkgtest::xmlHead() +
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>first"
        "</t></si></sst>";
    QVERIFY(pkgtest::writePackage(path, {pkgtest::sheetXml("<row r=\"1\">" + row + "</row>")},
                                  strings));
    Document doc;
    QString why;
    QVERIFY2(doc.open(path, &why), qPrintable(why));
    Worksheet *ws = doc.worksheet(0, &why);
    if (!error.isEmpty()) {
        QVERIFY(!ws);
        QVERIFY2(why.contains(error), qPrintable(why));
        return;
    }
    QVERIFY2(ws, qPrintable(why));
    const Cell c = ws->cell(1, 2);
    QVERIFY(c.exists);
    QCOMPARE(int(c.type), type);
    QCOMPARE(c.text, text);
    QCOMPARE(c.style, style);
    QVERIFY(!ws->hasCell(1, 3));
}

void TestRewrite::escapedTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("escaped");
    QTest::newRow("plain") << QStringLiteral("abc 中文") << QByteArray("abc 中文");
    QTest::newRow("markup") << QStringLiteral("a<b>&\"c'") << QByteArray("a&lt;b&gt;&amp;&quot;c'");
    QTest::newRow("tab and line feed") << QStringLiteral("a\tb\nc") << QByteArray("a\tb\nc");
    QTest::newRow("carriage return") << QStringLiteral("a\r\nb") << QByteArray("a_x000D_\nb");
    QTest::newRow("control character")
        << QString(QChar(1)) + QStringLiteral("<") << QByteArray("_x0001_&lt;");
    QTest::newRow("text that reads as an escape")
        << QStringLiteral("_x0041_ and _x00") << QByteArray("_x005F_x0041_ and _x00");
    QTest::newRow("surrogate pair")
        << QString::fromUtf8("\xF0\x9F\x98\x80&") << QByteArray("\xF0\x9F\x98\x80&amp;");
    QTest::newRow("lone surrogate")
        << QString(QChar(0xD800)) + QStringLiteral("x") << QByteArray("_xD800_x");
    QTest::newRow("noncharacter") << QString(QChar(0xFFFF)) << QByteArray("_xFFFF_");
}

void TestRewrite::escapedTexts()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, escaped);
    QCOMPARE(escapeOfficeText(text), escaped);
    // And back through a string item.
    const QByteArray item = "<t>" + escaped + "</t>";
    QString back;
    QVERIFY(flattenStringItem(item.constData(), item.constData() + item.size(), &back));
    if (!text.contains(QChar(0xD800)))
        QCOMPARE(back, text);
}

void TestRewrite::zipEntryInPieces()
{
    // Pieces of every size, some larger than zlib's buffers, give an entry too large to be
    // held whole back whole.
    QByteArray whole;
    for (int i = 0; whole.size() < 6 * 1024 * 1024; ++i)
        whole +=
            "<c r=\"A" + QByteArray::number(i) + "\"><v>" + QByteArray::number(i * 7) + "</v></c>";
    const QString path = m_tmp.filePath(QStringLiteral("pieces.zip"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        ZipWriter w;
        QString error;
        QVERIFY(w.begin(&f, &error));
        QVERIFY(w.addData(QStringLiteral("first.xml"), "<a/>", QDateTime(), 6, &error));
        QVERIFY(w.openEntry(QStringLiteral("big.xml"), QDateTime(), kDeflateLevel, &error));
        int pos = 0, step = 1;
        while (pos < whole.size()) {
            const int n = qMin(step, whole.size() - pos);
            QVERIFY(w.writeEntry(whole.constData() + pos, n));
            pos += n;
            step = step * 3 % 700000 + 1;
        }
        QVERIFY2(w.closeEntry(&error), qPrintable(error));
        QVERIFY(w.addData(QStringLiteral("last.xml"), "<b/>", QDateTime(), 6, &error));
        QVERIFY(w.finish(&error));
    }
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    ZipArchive z;
    QString error;
    QVERIFY2(z.load(f.readAll(), path, &error), qPrintable(error));
    QCOMPARE(z.entries().size(), 3);
    QByteArray back;
    QVERIFY2(z.read(QStringLiteral("big.xml"), &back, &error), qPrintable(error));
    QCOMPARE(back.size(), whole.size());
    QVERIFY(back == whole);
    QVERIFY(z.read(QStringLiteral("last.xml"), &back, &error));
    QCOMPARE(back, QByteArray("<b/>"));
    // The independent reader agrees.
    const auto hashes = testsupport::zipEntryHashes(path, &error);
    QCOMPARE(
        hashes.value(QStringLiteral("big.xml")),
        QString::fromLatin1(QCryptographicHash::hash(whole, QCryptographicHash::Sha256).toHex()));

    // Writing without an open entry fails, and says which entry.
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    ZipWriter bad;
    QVERIFY(bad.begin(&buffer, &error));
    QVERIFY(!bad.writeEntry("x", 1));
    QVERIFY(!bad.closeEntry(&error));
}

QTEST_GUILESS_MAIN(TestRewrite)
#include "tst_xlsx_rewrite.moc"
