// Odd inputs as users give them: sheets of unusual shapes edited through the embedded
// application and read back by openpyxl, files and folders that cannot be saved over (with
// the reason), and packages from other producers that must be read.
#include "automation/dispatch.h"
#include "automation/excelapp/excelapp.h"
#include "packagehelpers.h"
#include "testsupport.h"
#include "xlsx/document_p.h"
#include "xlsx/savefile.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace xlsx;
using automation::DispatchPtr;

class TestHarden : public QObject
{
    Q_OBJECT
private slots:
    void damage_data();
    void damage();
    void unreadableRewriteRefused();
    void files_data();
    void files();
    void accepted_data();
    void accepted();
    void partNameCase_data();
    void partNameCase();

private:
    QTemporaryDir m_tmp;
};

namespace {

const QByteArray kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

QByteArray inlineCell(const QByteArray &ref, const QByteArray &text)
{
    return "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
}

QByteArray sst(const QByteArray &items)
{
    return pkgtest::xmlHead() + "<sst xmlns=\"" + kMain + "\">" + items + "</sst>";
}

// Runs one keyword replacement (or, with `find` empty, one Value write at `ref`) on the
// first sheet and saves; the error of the step that failed, or an empty string.
QString runJob(const QString &path, const QString &find, const QString &ref, const QString &put)
{
    DispatchPtr app = excelapp::createApplication();
    const auto open = app->invoke("Workbooks", {}).object->invoke("Open", {path});
    if (!open.ok)
        return open.error;
    const auto item = open.object->invoke("Sheets", {}).object->invoke("Item", {1});
    if (!item.ok)
        return item.error;
    DispatchPtr sheet = item.object;
    QString error;
    if (find.isEmpty()) {
        const auto range = sheet->invoke("Range", {ref});
        if (!range.ok)
            return range.error;
        if (!range.object->setProperty("Value", put, &error))
            return error;
    } else {
        sheet->invoke("UsedRange", {}).object->invoke("Replace", {find, put, 2, 1, false});
    }
    const auto saved = open.object->invoke("Save", {});
    app->invoke("Quit", {});
    // Save answers nothing; a save that fails is a failed call.
    return saved.ok ? QString() : saved.error;
}

struct Mount
{
    QString at;
    ~Mount()
    {
        if (!at.isEmpty())
            umount(QFile::encodeName(at).constData());
    }
};

} // namespace

void TestHarden::damage_data()
{
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QByteArray>("strings");
    QTest::addColumn<QString>("find"); // empty: a Value write at `ref`
    QTest::addColumn<QString>("ref");
    QTest::addColumn<QString>("put");
    QTest::addColumn<QString>("error");    // the job's error must contain it; empty: success
    QTest::addColumn<QVariantMap>("want"); // cells as openpyxl reads them afterwards

    const QByteArray c3 = "<row r=\"3\"><c r=\"C3\"><v>3</v></c></row>";
    QTest::newRow("empty sheetData before the real one, row added above")
        << pkgtest::sheetXml(c3, {}, "<sheetData/>") << QByteArray() << ""
        << "A1"
        << "new"
        << "" << QVariantMap{{"A1", "new"}, {"C3", 3}};
    QTest::newRow("empty sheetData before the real one, row added below")
        << pkgtest::sheetXml(c3, {}, "<sheetData/>") << QByteArray() << ""
        << "B7"
        << "new"
        << "" << QVariantMap{{"B7", "new"}, {"C3", 3}};
    QTest::newRow("empty sheetData after the real one")
        << pkgtest::sheetXml(c3, {}, {}, "<sheetData/>") << QByteArray() << ""
        << "A9"
        << "new"
        << "" << QVariantMap{{"A9", "new"}, {"C3", 3}};
    QTest::newRow("CR LF in an inline string")
        << pkgtest::sheetXml("<row r=\"1\">" + inlineCell("A1", "line\r\nbreak") + "</row>")
        << QByteArray() << "line"
        << ""
        << "LINE"
        << "" << QVariantMap{{"A1", "LINE\nbreak"}};
    QTest::newRow("CR LF in a shared string")
        << pkgtest::sheetXml("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>")
        << sst("<si><t>a\r\nb\r\n</t></si>") << "a"
        << ""
        << "x"
        << "" << QVariantMap{{"A1", "x\nb\n"}};
    QTest::newRow("lone CR and CR LF in CDATA")
        << pkgtest::sheetXml("<row r=\"1\">" + inlineCell("A1", "a\rb<![CDATA[\r\nc]]>") + "</row>")
        << QByteArray() << "b"
        << ""
        << "B"
        << "" << QVariantMap{{"A1", "a\nB\nc"}};
    QTest::newRow("CR found across a line break")
        << pkgtest::sheetXml("<row r=\"1\">" + inlineCell("A1", "x\r\ny") + "</row>")
        << QByteArray() << "x\ny"
        << ""
        << "z"
        << "" << QVariantMap{{"A1", "z"}};
    const QByteArray wholeSheet = "<row r=\"1\"><c r=\"A1\"><f t=\"array\" ref=\"A1:XFD1048576\">"
                                  "1</f><v>1</v></c>" +
                                  inlineCell("B1", "a") + "</row>";
    QTest::newRow("write into an array formula over the whole sheet")
        << pkgtest::sheetXml(wholeSheet) << QByteArray() << ""
        << "C5"
        << "x"
        << "array formula" << QVariantMap{{"B1", "a"}};
    // Parts that are not what they say: refused, the file left as it was.
    const QByteArray twoShared = pkgtest::sheetXml(
        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c></row>");
    QTest::newRow("string item nested in another")
        << twoShared << sst("<si><t>a</t><si><t>b</t></si></si><si><t>c</t></si>") << "a"
        << ""
        << "x"
        << "string item inside another" << QVariantMap();
    QTest::newRow("element inside a shared string's text")
        << twoShared << sst("<si><t>a<b/>b</t></si><si><t>c</t></si>") << "a"
        << ""
        << "x"
        << "element inside the text" << QVariantMap();
    QTest::newRow("element inside an inline string's text")
        << pkgtest::sheetXml("<row r=\"1\">" + inlineCell("A1", "a<x>b</x>") + "</row>")
        << QByteArray() << "a"
        << ""
        << "x"
        << "element inside the text" << QVariantMap();
    QTest::newRow("cell given twice in a row")
        << pkgtest::sheetXml("<row r=\"1\">" + inlineCell("A1", "a") + inlineCell("A1", "b") +
                             "</row>")
        << QByteArray() << "a"
        << ""
        << "x"
        << "cell A1 is given twice" << QVariantMap();
    QTest::newRow("cell given twice in a row, out of order")
        << pkgtest::sheetXml("<row r=\"1\">" + inlineCell("B1", "a") + inlineCell("A1", "b") +
                             inlineCell("B1", "c") + "</row>")
        << QByteArray() << ""
        << "C1"
        << "x"
        << "cell B1 is given twice" << QVariantMap();
    QTest::newRow("row number past INT_MAX")
        << pkgtest::sheetXml("<row r=\"4294967297\">" + inlineCell("A1", "a") + "</row>")
        << QByteArray() << "a"
        << ""
        << "x"
        << "bad row number \"4294967297\"" << QVariantMap();
    QTest::newRow("row past the last row")
        << pkgtest::sheetXml("<row r=\"1048577\"><c><v>1</v></c></row>") << QByteArray() << ""
        << "A1"
        << "x"
        << "bad row number \"1048577\"" << QVariantMap();
    QTest::newRow("row after the last row, unnumbered")
        << pkgtest::sheetXml("<row r=\"1048576\"/><row><c><v>1</v></c></row>") << QByteArray()
        << ""
        << "A1"
        << "x"
        << "a row after row 1048576" << QVariantMap();
    QTest::newRow("cell reference past INT_MAX")
        << pkgtest::sheetXml("<row r=\"1\">" + inlineCell("A4294967297", "a") + "</row>")
        << QByteArray() << "a"
        << ""
        << "x"
        << "bad cell reference \"A4294967297\"" << QVariantMap();
    QTest::newRow("column past XFD")
        << pkgtest::sheetXml("<row r=\"1\">" + inlineCell("XFE1", "a") + "</row>")
        << QByteArray() << "a"
        << ""
        << "x"
        << "bad cell reference \"XFE1\"" << QVariantMap();
    // Rows read a window at a time must come out as rows read whole.
    QTest::newRow("a row tag in CDATA")
        << pkgtest::sheetXml("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t><![CDATA[<row "
                             "r=\"9\">]]></t></is></c></row><row r=\"2\">" +
                             inlineCell("A2", "a") + "</row>")
        << QByteArray() << "a"
        << ""
        << "b"
        << "" << QVariantMap{{"A1", "<row r=\"9\">"}, {"A2", "b"}};
    QTest::newRow("a row tag in a comment between rows")
        << pkgtest::sheetXml("<row r=\"1\">" + inlineCell("A1", "a") +
                             "</row><!-- <row r=\"5\"> --><row r=\"2\">" + inlineCell("A2", "xa") +
                             "</row>")
        << QByteArray() << "a"
        << ""
        << "b"
        << "" << QVariantMap{{"A1", "b"}, {"A2", "xb"}};
    QTest::newRow("shared formula whose master is rows before its members")
        << pkgtest::sheetXml(
               "<row r=\"1\"><c r=\"B1\"><f t=\"shared\" ref=\"B1:B3\" si=\"0\">A1&amp;\"a\"</f>"
               "</c></row><row r=\"2\"><c r=\"B2\"><f t=\"shared\" si=\"0\"/></c></row>"
               "<row r=\"3\"><c r=\"B3\"><f t=\"shared\" si=\"0\"/></c></row>")
        << QByteArray() << "a"
        << ""
        << "b"
        << "" << QVariantMap{{"B2", "=b2&\"b\""}, {"B3", "=b3&\"b\""}};
    QTest::newRow("shared formula member changed alone")
        << pkgtest::sheetXml(
               "<row r=\"1\"><c r=\"B1\"><f t=\"shared\" ref=\"B1:B3\" si=\"0\">A1+1</f>"
               "</c></row><row r=\"2\"><c r=\"B2\"><f t=\"shared\" si=\"0\"/></c></row>"
               "<row r=\"3\"><c r=\"B3\"><f t=\"shared\" si=\"0\"/></c></row>")
        << QByteArray() << "A3"
        << ""
        << "C3"
        << "" << QVariantMap{{"B1", "=A1+1"}, {"B2", "=A2+1"}, {"B3", "=C3+1"}};
    QTest::newRow("replace inside an array formula over the whole sheet")
        << pkgtest::sheetXml(wholeSheet) << QByteArray() << "a"
        << ""
        << "b"
        << "" << QVariantMap{{"B1", "a"}};
}

void TestHarden::damage()
{
    QFETCH(QByteArray, sheet);
    QFETCH(QByteArray, strings);
    QFETCH(QString, find);
    QFETCH(QString, ref);
    QFETCH(QString, put);
    QFETCH(QString, error);
    QFETCH(QVariantMap, want);
    // Held whole, and read as a large sheet is: a window of rows at a time (here each row).
    for (const bool windows : {false, true}) {
        const pkgtest::ReadMode readMode(windows);
        const QString path = m_tmp.filePath(QStringLiteral("damage.xlsx"));
        QVERIFY(pkgtest::writePackage(path, {sheet}, strings));
        const QByteArray before = testsupport::readAll(path);
        const QString got = runJob(path, find, ref, put);
        const char *mode = windows ? "in windows" : "held";
        if (error.isEmpty())
            QVERIFY2(got.isEmpty(), qPrintable(got + mode));
        else
            QVERIFY2(got.contains(error), qPrintable(got + mode));
        if (!error.isEmpty())
            QCOMPARE(testsupport::readAll(path), before);
        if (want.isEmpty())
            continue;
        QString why;
        const QJsonObject dump = testsupport::dumpWorkbook(path, &why);
        QVERIFY2(!dump.isEmpty(), qPrintable(why));
        for (auto it = want.constBegin(); it != want.constEnd(); ++it)
            QVERIFY2(testsupport::cellValue(dump, QStringLiteral("Sheet1"), it.key()) == it.value(),
                     qPrintable(it.key() + QLatin1Char(' ') + mode));
    }
}

void TestHarden::unreadableRewriteRefused()
{
    // The check a save makes before it replaces the file: a rewritten part that does not
    // read back stops it, whatever the writer got wrong.
    const QByteArray bad =
        pkgtest::sheetXml("<row r=\"1\"></row>").replace("<sheetData>", "<sheetData/>>");
    DocumentData check;
    check.path = QStringLiteral("book.xlsx");
    QString error;
    QVERIFY(!check.readBack(pkgtest::zipBytes(pkgtest::minimalParts({bad})),
                            {QStringLiteral("xl/worksheets/sheet1.xml")}, &error));
    QVERIFY2(error.contains(QLatin1String("sheet1.xml")), qPrintable(error));
    DocumentData good;
    QVERIFY2(good.readBack(
                 pkgtest::zipBytes(pkgtest::minimalParts({pkgtest::sheetXml("")})),
                 {QStringLiteral("xl/worksheets/sheet1.xml"), QStringLiteral("xl/workbook.xml")},
                 &error),
             qPrintable(error));
}

void TestHarden::files_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("error"); // empty: the save succeeds

    QTest::newRow("read-only file") << "mode 0444"
                                    << "read-only";
    QTest::newRow("read-only for all but the owner's read") << "mode 0400"
                                                            << "read-only";
    QTest::newRow("mode kept") << "mode 0640"
                               << "";
    QTest::newRow("owner and group kept") << "owner"
                                          << "";
    QTest::newRow("name of 255 bytes") << "long name"
                                       << "";
    QTest::newRow("name of 256 bytes") << "too long"
                                       << "name is too long";
    QTest::newRow("stale temporaries removed") << "stale"
                                               << "";
    QTest::newRow("full disk") << "full"
                               << "no space left on the device";
    QTest::newRow("folder given as a workbook") << "folder"
                                                << "not a regular file";
    QTest::newRow("FIFO given as a workbook") << "fifo"
                                              << "not a regular file";
    QTest::newRow("rewritten by another program while open") << "other write"
                                                            << "another program has changed the file";
    QTest::newRow("OpenDocument spreadsheet renamed") << "ods"
                                                      << "an OpenDocument spreadsheet";
}

void TestHarden::files()
{
    QFETCH(QString, setup);
    QFETCH(QString, error);
    QTemporaryDir dir(m_tmp.filePath(QStringLiteral("files-XXXXXX")));
    QString path = dir.filePath(QStringLiteral("book.xlsx"));
    const bool root = geteuid() == 0;
    Mount small;
    if (setup == QLatin1String("full")) {
        if (!root)
            QSKIP("needs root to mount a small file system");
        const QString at = dir.filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(at));
        if (mount("tmpfs", QFile::encodeName(at).constData(), "tmpfs", 0, "size=192k") != 0)
            QSKIP("cannot mount a small file system here");
        small.at = at;
        path = at + QStringLiteral("/book.xlsx");
    } else if (setup == QLatin1String("long name")) {
        path = dir.filePath(QString(82, QChar(0x4E2D)) + QStringLiteral("abcd.xlsx"));
        QCOMPARE(QFileInfo(path).fileName().toUtf8().size(), 255);
    }
    // A package with an incompressible part of 100 KiB: one copy fits the small file
    // system, two do not.
    pkgtest::Parts parts = pkgtest::minimalParts(
        {pkgtest::sheetXml("<row r=\"1\">" + inlineCell("A1", "a") + "</row>")});
    QByteArray noise(100 * 1024, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char(QRandomGenerator::global()->generate());
    parts.append({QStringLiteral("xl/media/noise.bin"), noise});
    QByteArray bytes = pkgtest::zipBytes(parts);
    if (setup == QLatin1String("ods")) {
        pkgtest::Parts ods{
            {QStringLiteral("mimetype"), "application/vnd.oasis.opendocument.spreadsheet"},
            {QStringLiteral("content.xml"), "<office:document-content/>"}};
        bytes = pkgtest::zipBytes(ods);
    }
    if (setup == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path));
    } else if (setup == QLatin1String("fifo")) {
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    } else {
        QVERIFY(pkgtest::writeBytes(path, bytes));
    }
    const QByteArray file = QFile::encodeName(path);
    if (setup.startsWith(QLatin1String("mode ")))
        QCOMPARE(chmod(file.constData(), setup.mid(5).toUInt(nullptr, 8)), 0);
    if (setup == QLatin1String("owner")) {
        if (!root)
            QSKIP("needs root to give the file to another user");
        QCOMPARE(chown(file.constData(), 4321, 8765), 0);
    }
    // Temporaries of a killed earlier save of this file and of another one.
    // A save in progress of this file keeps its temporary.
    QString stale, other;
    std::unique_ptr<SaveFile> inProgress;
    if (setup == QLatin1String("stale")) {
        auto killed = [](const QString &temp) {
            return temp.left(temp.size() - 12) + QStringLiteral("0badf00d.tmp");
        };
        inProgress.reset(new SaveFile(path));
        QString err;
        QVERIFY2(inProgress->open(&err), qPrintable(err));
        stale = killed(inProgress->tempPath());
        QVERIFY(QFile::copy(inProgress->tempPath(), stale));
        SaveFile elsewhere(dir.filePath(QStringLiteral("other.xlsx")));
        QVERIFY(elsewhere.open(&err));
        other = killed(elsewhere.tempPath());
        QVERIFY(QFile::copy(elsewhere.tempPath(), other));
    }
    struct stat before = {};
    stat(file.constData(), &before);

    QString got;
    QString target = path;
    if (setup == QLatin1String("too long")) {
        Document doc;
        QVERIFY2(doc.open(path, &got), qPrintable(got));
        QVERIFY(doc.worksheet(0)->setString(1, 1, QStringLiteral("b")));
        target = dir.filePath(QString(256 - 5, QLatin1Char('n')) + QStringLiteral(".xlsx"));
        if (!doc.saveAs(target, &got))
            QVERIFY(!got.isEmpty());
    } else if (setup == QLatin1String("other write")) {
        // Another program writes the workbook between the job's opening and its save: the
        // save fails and that program's version stays.
        Document doc;
        QVERIFY2(doc.open(path, &got), qPrintable(got));
        QVERIFY(doc.worksheet(0)->setString(1, 1, QStringLiteral("b")));
        pkgtest::Parts theirs = pkgtest::minimalParts(
            {pkgtest::sheetXml("<row r=\"1\">" + inlineCell("A1", "theirs") + "</row>")});
        bytes = pkgtest::zipBytes(theirs);
        QVERIFY(pkgtest::writeBytes(path, bytes));
        QVERIFY(!doc.save(&got));
    } else {
        got = runJob(path, QString(), QStringLiteral("A1"), QStringLiteral("b"));
    }
    if (error.isEmpty()) {
        QVERIFY2(got.isEmpty(), qPrintable(got));
        Document doc;
        QVERIFY2(doc.open(path, &got), qPrintable(got));
        QCOMPARE(doc.worksheet(0)->cell(1, 1).text, QStringLiteral("b"));
    } else {
        // The job's reason may be a plain "not saved": the save logged the cause. Saving
        // directly gives it.
        if (got == QLatin1String("not saved")) {
            Document doc;
            QVERIFY(doc.open(path, &got));
            QVERIFY(doc.worksheet(0)->setString(1, 1, QStringLiteral("b")));
            QVERIFY(!doc.save(&got));
        }
        QVERIFY2(got.contains(error), qPrintable(got));
        QVERIFY2(got.contains(QFileInfo(target).fileName()), qPrintable(got));
        if (QFileInfo(path).isFile())
            QCOMPARE(testsupport::readAll(path), bytes);
    }
    struct stat after = {};
    stat(file.constData(), &after);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    const QStringList left =
        QDir(QFileInfo(path).absolutePath())
            .entryList({QStringLiteral(".trelvix-*")}, QDir::Files | QDir::Hidden);
    if (setup == QLatin1String("stale")) {
        QVERIFY(!QFile::exists(stale));
        QStringList want{QFileInfo(other).fileName(), QFileInfo(inProgress->tempPath()).fileName()};
        want.sort();
        QCOMPARE(left, want);
    } else {
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
    }
}

void TestHarden::accepted_data()
{
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<QStringList>("names"); // the sheet list
    QTest::addColumn<QString>("text");      // of A1 of the first sheet, before and after

    const QByteArray sheet =
        pkgtest::sheetXml("<row r=\"1\">" + inlineCell("A1", "\xc3\xa9t\xc3\xa9") + "</row>");
    pkgtest::Parts hidden = pkgtest::minimalParts({sheet});
    hidden[2].second.replace("</sheets>", "<sheet name=\"Hidden\" sheetId=\"9\" "
                                          "state=\"veryHidden\" r:id=\"\"/></sheets>");
    QTest::newRow("very hidden sheet with an empty relationship id")
        << pkgtest::zipBytes(hidden) << QStringList{"Sheet1", "Hidden"} << QString::fromUtf8("été");

    // Qt's UTF-16 codecs write a byte order mark.
    auto encoded = [](const QByteArray &xml, const char *codec, bool bom) {
        QByteArray x = xml;
        x.replace("encoding=\"UTF-8\"", QByteArray("encoding=\"") + codec + "\"");
        const QByteArray out = QTextCodec::codecForName(codec)->fromUnicode(QString::fromUtf8(x));
        return bom || !QByteArray(codec).startsWith("UTF-16") ? out : out.mid(2);
    };
    for (const char *codec : {"UTF-16LE", "UTF-16BE"}) {
        pkgtest::Parts p = pkgtest::minimalParts({sheet});
        for (auto &part : p)
            if (part.first.endsWith(QLatin1String(".xml")) || part.first.endsWith(".rels"))
                part.second = encoded(part.second, codec, true);
        QTest::newRow(qPrintable(QStringLiteral("every part in %1 with a BOM").arg(codec)))
            << pkgtest::zipBytes(p) << QStringList{"Sheet1"} << QString::fromUtf8("été");
    }
    pkgtest::Parts noBom = pkgtest::minimalParts({sheet});
    noBom[4].second = encoded(sheet, "UTF-16LE", false);
    QTest::newRow("worksheet in UTF-16 without a BOM")
        << pkgtest::zipBytes(noBom) << QStringList{"Sheet1"} << QString::fromUtf8("été");
    pkgtest::Parts latin = pkgtest::minimalParts({sheet});
    latin[4].second = encoded(sheet, "ISO-8859-1", false);
    QTest::newRow("worksheet declared ISO-8859-1")
        << pkgtest::zipBytes(latin) << QStringList{"Sheet1"} << QString::fromUtf8("été");
}

void TestHarden::accepted()
{
    QFETCH(QByteArray, package);
    QFETCH(QStringList, names);
    QFETCH(QString, text);
    const QString path = m_tmp.filePath(QStringLiteral("accepted.xlsx"));
    QVERIFY(pkgtest::writeBytes(path, package));
    QString error;
    {
        Document doc;
        QVERIFY2(doc.open(path, &error), qPrintable(error));
        QCOMPARE(doc.sheetNames(), names);
        for (int i = 1; i < doc.sheetCount(); ++i) {
            Worksheet *ws = doc.worksheet(i, &error);
            QVERIFY2(ws, qPrintable(error));
            QCOMPARE(ws->cellCount(), 0);
            QVERIFY(!ws->setString(1, 1, QStringLiteral("x"), &error));
            QVERIFY2(error.contains(QLatin1String("no part")), qPrintable(error));
        }
        Worksheet *first = doc.worksheet(0, &error);
        QVERIFY2(first, qPrintable(error));
        QCOMPARE(first->cell(1, 1).text, text);
    }
    QVERIFY2(runJob(path, QStringLiteral("t"), QString(), QStringLiteral("T")).isEmpty(), "");
    QString why;
    const QJsonObject dump = testsupport::dumpWorkbook(path, &why);
    QVERIFY2(!dump.isEmpty(), qPrintable(why));
    QCOMPARE(testsupport::cellValue(dump, QStringLiteral("Sheet1"), QStringLiteral("A1")),
             QVariant(QString(text).replace(QLatin1Char('t'), QLatin1Char('T'))));
    Document doc;
    QVERIFY2(doc.open(path, &error), qPrintable(error));
    QCOMPARE(doc.sheetNames(), names);
    // The rewritten worksheet is UTF-8 and says so.
    QByteArray xml;
    QVERIFY(pkgtest::rawEntries(path).contains(QStringLiteral("xl/worksheets/sheet1.xml")));
    ZipArchive z;
    QVERIFY(z.load(testsupport::readAll(path), path, &error));
    QVERIFY(z.read(QStringLiteral("xl/worksheets/sheet1.xml"), &xml, &error));
    QVERIFY2(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\""), xml.left(60).constData());
}

void TestHarden::partNameCase_data()
{
    QTest::addColumn<QString>("entry"); // as the relationships name it
    QTest::addColumn<QString>("stored"); // the zip entry's own name
    QTest::addColumn<QString>("find");  // empty: a Value write into B1
    QTest::addColumn<QString>("want");  // in A1 or B1 afterwards

    QTest::newRow("worksheet, replaced")
        << "xl/worksheets/sheet1.xml"
        << "xl/worksheets/Sheet1.xml"
        << "a"
        << "A1=new";
    QTest::newRow("worksheet, written")
        << "xl/worksheets/sheet1.xml"
        << "XL/Worksheets/SHEET1.XML"
        << ""
        << "B1=new";
    QTest::newRow("shared strings, replaced")
        << "xl/sharedStrings.xml"
        << "xl/SharedStrings.xml"
        << "a"
        << "A1=new";
}

void TestHarden::partNameCase()
{
    // A part stored under another letter case than its relationship names it: every edit is
    // written into that entry, under its own name.
    QFETCH(QString, entry);
    QFETCH(QString, stored);
    QFETCH(QString, find);
    QFETCH(QString, want);
    const QByteArray sheet = pkgtest::sheetXml("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>");
    pkgtest::Parts parts = pkgtest::minimalParts({sheet}, sst("<si><t>a</t></si>"));
    bool renamed = false;
    for (auto &part : parts) {
        if (part.first == entry) {
            part.first = stored;
            renamed = true;
        }
    }
    QVERIFY(renamed);
    const QString path = m_tmp.filePath(QStringLiteral("case.xlsx"));
    QVERIFY(pkgtest::writeZip(path, parts));
    const QStringList names = pkgtest::rawEntries(path).keys();
    const QString got = runJob(path, find, QStringLiteral("B1"), QStringLiteral("new"));
    QVERIFY2(got.isEmpty(), qPrintable(got));
    QCOMPARE(pkgtest::rawEntries(path).keys(), names);
    // openpyxl looks entries up by the exact name: it reads a copy with the name as named.
    ZipArchive z;
    QString error;
    QVERIFY(z.load(testsupport::readAll(path), path, &error));
    pkgtest::Parts copy;
    for (const ZipEntry &e : z.entries()) {
        QByteArray data;
        QVERIFY2(z.read(e.name, &data, &error), qPrintable(error));
        copy.append({e.name == stored ? entry : e.name, data});
    }
    const QString readable = m_tmp.filePath(QStringLiteral("case-copy.xlsx"));
    QVERIFY(pkgtest::writeZip(readable, copy));
    QString why;
    const QJsonObject dump = testsupport::dumpWorkbook(readable, &why);
    QVERIFY2(!dump.isEmpty(), qPrintable(why));
    const QStringList cell = want.split(QLatin1Char('='));
    QCOMPARE(testsupport::cellValue(dump, QStringLiteral("Sheet1"), cell[0]), QVariant(cell[1]));
}

QTEST_GUILESS_MAIN(TestHarden)
#include "tst_xlsx_harden.moc"
