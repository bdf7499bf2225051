// Every real-world workbook of the corpus: opened (or refused when it must be),
// one cell edited, saved to a copy; nothing else may change.
#include "packagehelpers.h"
#include "testsupport.h"
#include "xlsx/document.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

using namespace xlsx;

class TestCorpus : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
};

static bool mustRefuse(const QString &name)
{
    static const QStringList refused = {
        QStringLiteral("poi_clusterfuzz-testcase-minimized-POIXSSFFuzzer-6123461607817216.xlsx"),
        QStringLiteral("exceljs_invalid-xml.xlsx"),
        QStringLiteral("szxx_invalid.xlsx"),
        QStringLiteral("poi_duplicate-filename.xlsx"),
        QStringLiteral("xlnt_5_encrypted_agile.xlsx"),
        QStringLiteral("xlnt_6_encrypted_libre.xlsx"),
        // Strict Open XML is refused.
        QStringLiteral("poi_sample.strict.xlsx"),
        QStringLiteral("poi_SimpleStrict.xlsx"),
    };
    return refused.contains(name) || name.endsWith(QLatin1String(".xls"));
}

void TestCorpus::roundTrip_data()
{
    QTest::addColumn<QString>("path");
    const QStringList files = testsupport::corpusFiles();
    TRELVIX_SKIP_WITHOUT_CORPUS(files);
    for (const QString &f : files)
        QTest::newRow(qPrintable(QFileInfo(f).fileName())) << f;
}

// Opens the document and loads every worksheet; false with *error on the first failure.
static bool openAll(Document *doc, const QString &path, QString *error)
{
    if (!doc->open(path, error))
        return false;
    for (int i = 0; i < doc->sheetCount(); ++i)
        if (doc->sheetInfo(i).kind == SheetKind::Worksheet && !doc->worksheet(i, error))
            return false;
    return true;
}

void TestCorpus::roundTrip()
{
    QFETCH(QString, path);
    const QString name = QFileInfo(path).fileName();
    const QByteArray before = testsupport::sha256(path);
    Document doc;
    QString error;
    const bool opened = openAll(&doc, path, &error);
    QCOMPARE(testsupport::sha256(path), before);
    if (mustRefuse(name)) {
        QVERIFY2(!opened, qPrintable(name));
        QVERIFY(!error.isEmpty());
        QVERIFY2(error.contains(path), qPrintable(error));
        return;
    }
    QVERIFY2(opened, qPrintable(error));

    // Edit one cell of the active worksheet (or the first worksheet): an existing plain value
    // when there is one, else a new cell to the right of the used range.
    int sheet = doc.activeSheetIndex();
    if (doc.sheetInfo(sheet).kind != SheetKind::Worksheet)
        for (sheet = 0; doc.sheetInfo(sheet).kind != SheetKind::Worksheet; ++sheet)
            ;
    Worksheet *ws = doc.worksheet(sheet, &error);
    QVERIFY2(ws, qPrintable(error));
    int row = 0, col = 0;
    for (int i = 0; i < ws->cellCount() && row == 0; ++i) {
        const Cell c = ws->cellAt(i);
        if (c.exists && !c.hasFormula() && !c.inArrayRange && c.type != CellType::Empty) {
            row = c.row;
            col = c.column;
        }
    }
    if (row == 0) {
        const CellRange used = ws->usedRange();
        row = used.firstRow;
        col = qMin(used.lastColumn + 1, kMaxColumns);
    }
    const QString text = QStringLiteral("edited ✓ <&> \"x\"");
    QVERIFY2(ws->setString(row, col, text, &error), qPrintable(error));
    QCOMPARE(ws->cell(row, col).text, text);

    QTemporaryDir tmp;
    const QString copy = tmp.filePath(QStringLiteral("copy.") + QFileInfo(path).suffix());
    QVERIFY2(doc.saveAs(copy, &error), qPrintable(error));
    QCOMPARE(testsupport::sha256(path), before);

    // Our own reader sees the edit and every other cell as it was.
    Document orig, again;
    QVERIFY(orig.open(path, &error));
    QVERIFY2(again.open(copy, &error), qPrintable(error));
    QCOMPARE(again.sheetNames(), orig.sheetNames());
    Worksheet *a = again.worksheet(sheet, &error);
    Worksheet *o = orig.worksheet(sheet, &error);
    QVERIFY2(a && o, qPrintable(error));
    QCOMPARE(a->cell(row, col).text, text);
    QCOMPARE(a->cell(row, col).style, o->cell(row, col).style);
    for (int i = 0; i < o->cellCount(); ++i) {
        const Cell oc = o->cellAt(i);
        if (oc.row == row && oc.column == col)
            continue;
        const Cell ac = a->cell(oc.row, oc.column);
        QVERIFY2(ac.exists, qPrintable(CellRef(oc.row, oc.column).toString()));
        QCOMPARE(int(ac.type), int(oc.type));
        QCOMPARE(ac.text, oc.text);
        QCOMPARE(ac.formula, oc.formula);
        QCOMPARE(ac.style, oc.style);
    }
    QCOMPARE(a->cellCount(), o->cellCount() + (o->hasCell(row, col) ? 0 : 1));

    // Entries: only the edited sheet and the workbook part (recalculation flag) may differ;
    // every other entry keeps its compressed bytes.
    const QString sheetEntry = doc.sheetInfo(sheet).partName.mid(1);
    const QMap<QString, QString> h1 = testsupport::zipEntryHashes(path, &error);
    const QMap<QString, QString> h2 = testsupport::zipEntryHashes(copy, &error);
    QVERIFY2(!h2.isEmpty(), qPrintable(error));
    const QMap<QString, QByteArray> r1 = pkgtest::rawEntries(path);
    const QMap<QString, QByteArray> r2 = pkgtest::rawEntries(copy);
    QCOMPARE(r2.keys(), r1.keys());
    int changed = 0;
    for (auto it = h1.constBegin(); it != h1.constEnd(); ++it) {
        if (it.key() == sheetEntry) {
            QVERIFY(h2.value(it.key()) != it.value());
            continue;
        }
        if (h2.value(it.key()) != it.value()) {
            ++changed;
            QVERIFY2(it.key().endsWith(QLatin1String("workbook.xml")), qPrintable(it.key()));
            continue;
        }
        QVERIFY2(r2.value(it.key()) == r1.value(it.key()), qPrintable(it.key()));
    }
    QVERIFY(changed <= 1);

    // The independent reader agrees, where it could read the original. It takes minutes on
    // the biggest workbooks, which our own reader has covered above.
    qint64 cells = 0, area = 0;
    for (int i = 0; i < orig.sheetCount(); ++i) {
        if (Worksheet *w = orig.worksheet(i)) {
            cells += w->cellCount();
            area = qMax(area, qint64(w->usedRange().rowCount()) * w->usedRange().columnCount());
        }
    }
    if (cells > 100000 || area > 1000000)
        return;
    QString dumpError;
    const QJsonObject d1 = testsupport::dumpWorkbook(path, &dumpError);
    if (d1.isEmpty())
        return;
    const QJsonObject d2 = testsupport::dumpWorkbook(copy, &dumpError);
    QVERIFY2(!d2.isEmpty(), qPrintable(dumpError));
    const QJsonArray s1 = d1.value(QLatin1String("sheets")).toArray();
    const QJsonArray s2 = d2.value(QLatin1String("sheets")).toArray();
    QCOMPARE(s2.size(), s1.size());
    const QString ref = CellRef(row, col).toString();
    for (int i = 0; i < s1.size(); ++i) {
        QJsonObject c1 = s1[i].toObject().value(QLatin1String("cells")).toObject();
        QJsonObject c2 = s2[i].toObject().value(QLatin1String("cells")).toObject();
        if (s1[i].toObject().value(QLatin1String("name")).toString() == doc.sheetInfo(sheet).name) {
            QCOMPARE(c2.value(ref).toString(), text);
            c1.remove(ref);
            c2.remove(ref);
        }
        QVERIFY2(c1 == c2, qPrintable(s1[i].toObject().value(QLatin1String("name")).toString()));
    }
}

TRELVIX_CORPUS_TEST_MAIN(TestCorpus)
#include "tst_xlsx_corpus.moc"
