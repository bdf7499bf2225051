// Every real-world workbook of the corpus through the embedded application:
// open it, replace a word that occurs in it, save; every zip entry the change
// did not need stays byte-identical, and openpyxl reads the expected values.
#include "automation/excel.h"
#include "automation/excelapp/excelapp.h"
#include "corpuswords.h"
#include "jobs.h"
#include "testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using corpuswords::changeable;
using corpuswords::isFormula;
using corpuswords::manifestArea;
using corpuswords::pickWord;

namespace {

// Files that must be refused: not packages, damaged, or unreadable by design.
bool mustBeRefused(const QString &name)
{
    static const QStringList refused{
        "poi_clusterfuzz-testcase-minimized-POIXSSFFuzzer-6123461607817216.xlsx",
        "exceljs_invalid-xml.xlsx",
        "szxx_invalid.xlsx",
        "poi_duplicate-filename.xlsx",
        "xlnt_5_encrypted_agile.xlsx",
        "xlnt_6_encrypted_libre.xlsx",
        "poi_password.xls", // a password to open
    };
    return refused.contains(name);
}

// Strict Open XML may be refused (cleanly) or supported.
bool mayBeRefused(const QString &name)
{
    return name.contains(QLatin1String("strict"), Qt::CaseInsensitive);
}

// Entries a replace in cells may need to rewrite.
bool mayChange(const QString &entry)
{
    if (entry.startsWith(QLatin1String("xl/worksheets/")) &&
        !entry.contains(QLatin1String("_rels")))
        return true;
    if (entry.startsWith(QLatin1String("xl/tables/")) && !entry.contains(QLatin1String("_rels")))
        return true;
    // A string every cell referring to it takes alike is replaced in the shared strings.
    if (entry.endsWith(QLatin1String("sharedStrings.xml"), Qt::CaseInsensitive))
        return true;
    static const QStringList book{"xl/workbook.xml", "[Content_Types].xml",
                                  "xl/_rels/workbook.xml.rels", "xl/calcChain.xml"};
    return book.contains(entry);
}

struct CorpusOutcome
{
    bool opened = false;
    bool saved = false;
    int replaced = 0;
    int sheets = 0;
    int live = -1;
};

// Replaces on every worksheet (chart sheets have no cells) and saves.
CorpusOutcome replaceEverywhere(const QString &file, const QString &what, const QString &with)
{
    CorpusOutcome out;
    out.live = jobs::onPoolThread([&] {
        Excel::Application app;
        app.setDisplayAlerts(false);
        app.setVisible(false);
        std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
        std::unique_ptr<Excel::Workbook> book(books ? books->Open(file) : nullptr);
        out.opened = book != nullptr;
        if (!book)
            return;
        std::unique_ptr<Excel::Sheets> sheets(book->Sheets());
        out.sheets = sheets ? sheets->Count() : 0;
        for (int i = 1; i <= out.sheets && !what.isEmpty(); ++i) {
            std::unique_ptr<Excel::Worksheet> ws(sheets->Item(i));
            std::unique_ptr<Excel::Range> used(ws ? ws->UsedRange() : nullptr);
            if (used && used->Replace(what, with, 2, 1, true))
                ++out.replaced;
        }
        out.saved = book->Save();
        app.Quit();
    });
    return out;
}

} // namespace

class SheetAppCorpusTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void corpus_data();
    void corpus();

private:
    QTemporaryDir m_dir;
};

void SheetAppCorpusTest::initTestCase()
{
    excelapp::registerApplication();
    if (jobs::unheld)
        qInfo("every sheet read a row at a time");
    QVERIFY(m_dir.isValid());
    TRELVIX_SKIP_WITHOUT_CORPUS(testsupport::corpusFiles());
    // A refusal is reported as a warning by the client; those are expected here.
    qputenv("QT_LOGGING_RULES", "default.warning=false");
}

void SheetAppCorpusTest::corpus_data()
{
    QTest::addColumn<QString>("source");
    for (const QString &f : testsupport::corpusFiles())
        QTest::newRow(qPrintable(QFileInfo(f).fileName())) << f;
}

void SheetAppCorpusTest::corpus()
{
    QFETCH(QString, source);
    const QString name = QFileInfo(source).fileName();
    // Legacy .xls workbooks go to LibreOffice: tst_xls reads them back.
    if (name.endsWith(QLatin1String(".xls")) && !mustBeRefused(name))
        QSKIP("an .xls workbook, edited through LibreOffice");
    const QString file = m_dir.filePath(name);
    QFile::remove(file);
    QVERIFY(QFile::copy(source, file));
    QFile(file).setPermissions(QFile::ReadOwner | QFile::WriteOwner);

    const QByteArray bytesBefore = testsupport::sha256(file);
    const QMap<QString, QString> before = testsupport::zipEntryHashes(file);
    // openpyxl walks every row and column of a sheet's extent and needs about
    // a minute for each read of half a million cells: such workbooks get the
    // zip entry checks only.
    const bool readable = manifestArea(name) <= 400000;
    QString dumpError;
    const QJsonObject dumpBefore =
        readable ? testsupport::dumpWorkbook(file, &dumpError) : QJsonObject();
    QJsonObject protection;
    if (!dumpBefore.isEmpty()) {
        QByteArray json;
        QVERIFY(testsupport::sheetappTool({QStringLiteral("protection"), file}, &json));
        protection = QJsonDocument::fromJson(json).object();
    }
    // Where no word can be changed, one that occurs nowhere: nothing may change.
    QString word = dumpBefore.isEmpty() ? QString() : pickWord(dumpBefore, protection);
    const bool occurs = !word.isEmpty();
    if (!occurs)
        word = QStringLiteral("Zz9Qx");
    const QString replacement = word + QStringLiteral("Zq");

    const CorpusOutcome out = replaceEverywhere(file, word, replacement);
    QCOMPARE(out.live, 0);
    if (!out.opened) {
        QVERIFY2(mustBeRefused(name) || mayBeRefused(name), "a readable workbook was refused");
        QCOMPARE(testsupport::sha256(file), bytesBefore);
        return;
    }
    QVERIFY2(!mustBeRefused(name), "a damaged or foreign file was opened");
    QVERIFY(out.sheets > 0);
    QVERIFY(out.saved);

    // Only the parts the change needed were rewritten.
    const QMap<QString, QString> after = testsupport::zipEntryHashes(file);
    QVERIFY(!after.isEmpty());
    const QStringList changed = testsupport::changedEntries(before, after);
    for (const QString &entry : changed)
        QVERIFY2(mayChange(entry), qPrintable(entry));
    if (out.replaced == 0)
        QVERIFY2(changed.isEmpty(), qPrintable(changed.join(QLatin1String(", "))));

    if (!occurs)
        QCOMPARE(out.replaced, 0);
    if (dumpBefore.isEmpty())
        return;
    if (occurs)
        QVERIFY(out.replaced > 0);
    const QJsonObject dumpAfter = testsupport::dumpWorkbook(file, &dumpError);
    QVERIFY2(!dumpAfter.isEmpty(), qPrintable(dumpError));
    const QJsonArray sheetsBefore = dumpBefore.value(QStringLiteral("sheets")).toArray();
    const QJsonArray sheetsAfter = dumpAfter.value(QStringLiteral("sheets")).toArray();
    QCOMPARE(sheetsAfter.size(), sheetsBefore.size());
    QCOMPARE(dumpAfter.value(QStringLiteral("active")), dumpBefore.value(QStringLiteral("active")));
    for (int i = 0; i < sheetsBefore.size(); ++i) {
        const QJsonObject sb = sheetsBefore[i].toObject();
        const QJsonObject sa = sheetsAfter[i].toObject();
        QCOMPARE(sa.value("name"), sb.value("name"));
        QCOMPARE(sa.value("state"), sb.value("state"));
        QCOMPARE(sa.value("kind"), sb.value("kind"));
        const QJsonObject cellsBefore = sb.value(QStringLiteral("cells")).toObject();
        const QJsonObject typesBefore = sb.value(QStringLiteral("types")).toObject();
        const QJsonObject cellsAfter = sa.value(QStringLiteral("cells")).toObject();
        const QJsonObject typesAfter = sa.value(QStringLiteral("types")).toObject();
        QCOMPARE(cellsAfter.keys(), cellsBefore.keys());
        for (auto it = cellsBefore.begin(); it != cellsBefore.end(); ++it) {
            QJsonValue expected = it.value();
            const QString sheet = sb.value("name").toString();
            if ((typesBefore.value(it.key()).toString() == QLatin1String("s") ||
                 isFormula(typesBefore, it.key())) &&
                changeable(protection, sheet, it.key()))
                expected = expected.toString().replace(word, replacement);
            const QString where = sb.value("name").toString() + QLatin1Char('!') + it.key();
            QVERIFY2(cellsAfter.value(it.key()) == expected,
                     qPrintable(where + QStringLiteral(": ") +
                                cellsAfter.value(it.key()).toVariant().toString() +
                                QStringLiteral(" instead of ") + expected.toVariant().toString()));
            QVERIFY2(typesAfter.value(it.key()) == typesBefore.value(it.key()), qPrintable(where));
        }
    }
}

TRELVIX_CORPUS_TEST_MAIN(SheetAppCorpusTest)
#include "tst_sheetapp_corpus.moc"
