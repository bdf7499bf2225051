// A job gives the same workbook however its sheets are held: each job runs on copies of one
// workbook, once with every sheet held cell by cell and then with every sheet read and
// rewritten a window of rows at a time, as a large one is, in windows of several sizes; the
// Replace and Value answers, a failure, and every cell read back (value, type, style and stored
// form, by openpyxl) must be the same. Workbooks: generated ones of every kind of cell, and the
// real-world corpus.
#include "automation/excel.h"
#include "automation/excelapp/excelapp.h"
#include "corpuswords.h"
#include "jobs.h"
#include "testsupport.h"
#include "xlsx/document_p.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <climits>

namespace {

// How the sheets of a workbook are held while a job runs: every sheet with its cells, or
// every sheet only checked on opening (holdBelow 0) and read and rewritten a window of rows at a
// time: a window of about `windowBytes` of XML (0: as large sheets are), a row at least.
struct Mode
{
    const char *label;
    int holdBelow;
    int windowBytes;
};
const Mode kModes[] = {{"held", INT_MAX, 0},
                       {"windows of a row", 0, 1},
                       {"windows of 4 KiB", 0, 4096},
                       {"windows of 2 MiB", 0, 0}};

// What a job did, as text: "failed to open", or the answers of its calls (1 or 0, -1 where
// the sheet or range was not there) and whether it saved.
struct Outcome
{
    QString text;
    bool saved = false;
    int live = -1;
};

// One call of a job, [sheet, what, with, options], on the sheet `index`: a Replace on its used
// range, with options naming "whole", "columns" and "case" (part, by rows, any case without
// them), or with "write", a Value write of `with` into the cell `what`.
int apply(Excel::Sheets *sheets, int index, const QJsonArray &step)
{
    const QString what = step.at(1).toString();
    const QString with = step.at(2).toString();
    const QString options = step.at(3).toString();
    std::unique_ptr<Excel::Worksheet> sheet(sheets ? sheets->Item(index) : nullptr);
    if (sheet && options == QLatin1String("write")) {
        std::unique_ptr<Excel::Range> cell(sheet->Range(what));
        return cell ? cell->setValue(with) : -1;
    }
    std::unique_ptr<Excel::Range> used(sheet ? sheet->UsedRange() : nullptr);
    return used ? used->Replace(what, with, options.contains(QLatin1String("whole")) ? 1 : 2,
                                options.contains(QLatin1String("columns")) ? 2 : 1,
                                options.contains(QLatin1String("case")))
                : -1;
}

// Opens the workbook, makes every call of `job` (on every sheet in turn where its sheet is 0)
// and saves it.
Outcome run(const QString &path, const QJsonArray &job)
{
    Outcome out;
    out.live = jobs::onPoolThread([&] {
        Excel::Application app;
        app.setDisplayAlerts(false);
        app.setVisible(false);
        std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
        std::unique_ptr<Excel::Workbook> book(books ? books->Open(path) : nullptr);
        out.text = QStringLiteral("failed to open");
        if (!book)
            return;
        std::unique_ptr<Excel::Sheets> sheets(book->Sheets());
        const int count = sheets ? sheets->Count() : 0;
        out.text = QStringLiteral("answers");
        for (const QJsonValue &v : job) {
            const int sheet = v.toArray().at(0).toInt();
            for (int i = sheet ? sheet : 1; i <= (sheet ? sheet : count); ++i)
                out.text += QLatin1Char(' ') + QString::number(apply(sheets.get(), i, v.toArray()));
        }
        out.saved = book->Save();
        out.text += out.saved ? QStringLiteral(", saved") : QStringLiteral(", not saved");
        app.Quit();
    });
    return out;
}

QJsonObject readCells(const QString &path, QString *error)
{
    QByteArray out;
    if (!testsupport::runTool({QStringLiteral("cells"), path}, {}, &out, error))
        return {};
    return QJsonDocument::fromJson(out).object();
}

// A workbook saved by a job, and its zip entries' hashes.
struct Saved
{
    QString path;
    QMap<QString, QString> entries;
};

// An entry that holds only cells: a worksheet or the shared strings.
bool isCellPart(const QString &entry)
{
    return (entry.startsWith(QLatin1String("xl/worksheets/sheet")) &&
            entry.endsWith(QLatin1String(".xml"))) ||
           entry == QLatin1String("xl/sharedStrings.xml");
}

// What differs between the workbook saved held and the one saved by `mode`: one line per cell
// (and for the tables' columns and the defined names), none when the zip entries are alike.
QStringList differences(const Saved &held, const Saved &other, const QString &mode)
{
    if (!held.entries.isEmpty() && held.entries == other.entries)
        return {};
    // Where only sheets and shared strings differ, their stored cells (with the index of their
    // style) say all; openpyxl reads them where they differ, to say how.
    const QStringList changed = testsupport::changedEntries(held.entries, other.entries);
    QByteArray heldCells;
    QByteArray otherCells;
    if (std::all_of(changed.begin(), changed.end(), isCellPart) &&
        testsupport::runTool({QStringLiteral("stored"), held.path}, {}, &heldCells, nullptr) &&
        testsupport::runTool({QStringLiteral("stored"), other.path}, {}, &otherCells, nullptr) &&
        heldCells == otherCells) {
        qInfo("%s: the same cells, other bytes in %s", qPrintable(mode),
              qPrintable(changed.join(", ")));
        return {};
    }
    QString error;
    const QJsonObject a = readCells(held.path, &error);
    const QJsonObject b = a.isEmpty() ? a : readCells(other.path, &error);
    if (a.isEmpty() || b.isEmpty())
        return {QStringLiteral("openpyxl cannot read what was saved: ") + error};
    QStringList out;
    QStringList keys = a.keys() + b.keys();
    keys.removeDuplicates();
    const auto text = [](const QJsonValue &v) {
        return v.isUndefined() ? QStringLiteral("no cell") : jobs::compact(v);
    };
    for (const QString &key : keys) {
        if (a.value(key) != b.value(key))
            out << QStringLiteral("%1: held %2, %3 %4")
                       .arg(key, text(a.value(key)), mode, text(b.value(key)));
    }
    if (out.isEmpty())
        qInfo("%s: the same cells, other bytes in %s", qPrintable(mode),
              qPrintable(changed.join(", ")));
    return out;
}

// Every kind of cell, on five sheets (streamdiff_kinds.json): Kinds (strings shared, inline and
// rich, numbers, dates, times, booleans, errors, formulas ordinary and array, a text result),
// Other (strings Kinds shares), Locked (protected, with unlocked cells), Tables (one table with
// a header row and a structured reference to it, one without) and Shared (a shared formula
// group).
QJsonObject kindsSpec()
{
    return QJsonDocument::fromJson(testsupport::readAll(QFINDTESTDATA("streamdiff_kinds.json")))
        .object();
}

// 300 rows of strings (unique and repeated), numbers, dates and formulas, with gaps, and a
// second sheet that shares some of its strings.
QJsonObject rowsSpec(const QString &writer)
{
    static const char *const words[] = {"apple", "pear", "已取消", "plum"};
    QJsonObject data;
    for (int r = 1; r <= 300; ++r) {
        if (r % 13 == 0)
            continue;
        const QString n = QString::number(r);
        data.insert("A" + n, QStringLiteral("item %1").arg(r));
        data.insert("B" + n, QString::fromUtf8(words[r % 4]));
        data.insert("C" + n, r * 1.5);
        data.insert("D" + n, QStringLiteral("apple pie %1").arg(r % 10));
        if (r % 10 == 0)
            data.insert("E" + n, QJsonObject{{"date", QStringLiteral("2024-01-%1").arg(r / 10)}});
        if (r % 7 == 0)
            data.insert("F" + n, QJsonObject{{"f", QStringLiteral("=C%1*2").arg(r)}});
    }
    const QJsonObject ref{{"A1", "apple"}, {"A2", QStringLiteral("已取消")}, {"B1", 1.5}};
    return QJsonObject{{"writer", writer},
                       {"sheets", QJsonArray{QJsonObject{{"name", "Data"}, {"cells", data}},
                                             QJsonObject{{"name", "Ref"}, {"cells", ref}}}}};
}

// Jobs on the 300 rows, for both writers.
const char *const kRowsJobs[][2] = {
    {"empty whole cells", R"([[0, "已取消", "", "whole"]])"},
    {"part, every sheet", R"([[0, "apple", "pear"]])"},
    {"wildcard by columns", R"([[1, "item 1?", "x", "whole columns"]])"},
    {"numbers, a write between", R"([[1, "1.5", "9"], [1, "C5", "7", "write"], [1, "apple", ""]])"},
};

} // namespace

class StreamDiffTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void generated_data();
    void generated();
    void corpus_data();
    void corpus();

private:
    QString book(const QString &name);
    // Runs the job on a copy of `source` in every mode and compares each with the held one.
    void compareModes(const QString &source, const QJsonArray &job);

    QTemporaryDir m_dir;
    QMap<QString, QString> m_books;
    int m_copies = 0;
};

void StreamDiffTest::initTestCase()
{
    excelapp::registerApplication();
    QVERIFY(m_dir.isValid());
    // A refused workbook is reported as a warning by the client; those are expected here.
    qputenv("QT_LOGGING_RULES", "default.warning=false");
}

// The generated workbook `name`, written on first use.
QString StreamDiffTest::book(const QString &name)
{
    if (m_books.contains(name))
        return m_books.value(name);
    const QString path = m_dir.filePath(name + QStringLiteral(".xlsx"));
    QString error;
    bool made = false;
    if (name == QLatin1String("kinds"))
        made = testsupport::makeWorkbook(path, kindsSpec(), &error);
    else if (name.startsWith(QLatin1String("rows ")))
        made = testsupport::makeWorkbook(path, rowsSpec(name.mid(5)), &error);
    else if (name == QLatin1String("badxml"))
        made = testsupport::sheetappTool({QStringLiteral("broken"), name, path}, nullptr, &error);
    if (!made)
        qWarning("cannot write %s: %s", qPrintable(name), qPrintable(error));
    m_books.insert(name, path);
    return path;
}

void StreamDiffTest::compareModes(const QString &source, const QJsonArray &job)
{
    const int defaultHold = xlsx::DocumentData::holdBelow;
    const int defaultWindow = xlsx::DocumentData::windowBytes;
    const QByteArray original = testsupport::sha256(source);
    QVERIFY(!original.isEmpty());
    QVector<Outcome> outcomes;
    QStringList files;
    for (const Mode &mode : kModes) {
        files << m_dir.filePath(QStringLiteral("%1-%2.%3")
                                    .arg(++m_copies)
                                    .arg(QLatin1String(mode.label), QFileInfo(source).suffix()));
        QVERIFY(QFile::copy(source, files.last()));
        QFile(files.last()).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        xlsx::DocumentData::holdBelow = mode.holdBelow;
        xlsx::DocumentData::windowBytes = mode.windowBytes ? mode.windowBytes : defaultWindow;
        outcomes << run(files.last(), job);
        xlsx::DocumentData::holdBelow = defaultHold;
        xlsx::DocumentData::windowBytes = defaultWindow;
        QCOMPARE(outcomes.last().live, 0);
    }
    QStringList problems;
    QVector<Saved> saved;
    for (int i = 0; i < files.size(); ++i)
        saved << Saved{files[i], outcomes[i].saved ? testsupport::zipEntryHashes(files[i])
                                                   : QMap<QString, QString>()};
    QVector<bool> differs(outcomes.size());
    for (int i = 1; i < outcomes.size(); ++i) {
        const QString mode = QLatin1String(kModes[i].label);
        int same = 1; // a workbook saved alike by an earlier mode is compared once
        while (same < i && !(saved[same].entries == saved[i].entries &&
                             outcomes[same].text == outcomes[i].text))
            ++same;
        QStringList found;
        if (same < i) {
            if (differs[same])
                found << QStringLiteral("%1: as %2").arg(mode, QLatin1String(kModes[same].label));
        } else if (outcomes[i].text != outcomes[0].text) {
            found
                << QStringLiteral("held: %1; %2: %3").arg(outcomes[0].text, mode, outcomes[i].text);
        } else if (!outcomes[i].saved) { // a failed job leaves its file as it was
            if (testsupport::sha256(files[0]) != original ||
                testsupport::sha256(files[i]) != original)
                found << mode + QStringLiteral(": the job failed and changed a file");
        } else {
            found = differences(saved[0], saved[i], mode);
        }
        differs[i] = !found.isEmpty();
        if (found.size() > 12)
            found = found.mid(0, 10) << QStringLiteral("... %1 more").arg(found.size() - 10);
        problems << found;
    }
    for (const QString &f : files)
        QFile::remove(f);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

void StreamDiffTest::generated_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<QByteArray>("job");
    const auto row = [](const char *label, const char *book, const char *job) {
        QTest::addRow("%s: %s", book, label) << QString::fromLatin1(book) << QByteArray(job);
    };
    row("part, every sheet", "kinds", R"([[0, "apple", "pear"]])");
    row("whole, every sheet", "kinds", R"([[0, "apple", "pear", "whole"]])");
    row("match case", "kinds", R"([[0, "Apple", "Pear", "case"], [1, "ple", "PLE", "case"]])");
    row("by columns", "kinds", R"([[1, "a", "o", "columns"]])");
    row("wildcards", "kinds",
        R"([[1, "a~*c", "Z"], [1, "a~~c", "W"], [1, "a~?c", "V"], [1, "a?c", "Y"],
            [1, "a*c", "X", "whole"], [2, "a?p", "U"], [1, "*pie", "tart", "whole"]])");
    row("typed results", "kinds",
        R"([[1, "x", "=1+1", "whole"], [1, "12", "13", "whole"], [1, "flag", "TRUE"],
            [1, "oops", "#N/A"], [1, "apple", "42", "whole"], [1, "B1*2", "B1*3"],
            [0, "gone", "", "whole"]])");
    row("numbers, dates, times", "kinds",
        R"([[1, "2024", "2025"], [1, "12:00", "13:30"], [1, "1.5", "2.5"], [1, "8:30", "9:45"],
            [1, "123", "abc"]])");
    row("booleans, errors", "kinds",
        R"([[1, "TRUE", "FALSE", "whole"], [1, "FALSE", "no"], [1, "#N/A", "#REF!"],
            [1, "#DIV/0!", "0"]])");
    row("formulas", "kinds",
        R"([[1, "B1", "B3"], [1, "B2~*2", "B2*3"], [1, "app", "ban"], [1, "IF(", "IF(("],
            [5, "~*2", "*5"]])");
    row("protected sheet", "kinds", R"([[3, "apple", "pear"], [3, "gone", "", "whole"]])");
    row("tables", "kinds",
        R"([[4, "Qty", "Count"], [4, "Column1", "Key"], [4, "apple", "pear"], [4, "Name", "=1"]])");
    row("header rename by columns", "kinds", R"([[4, "a", "e", "columns"]])");
    row("a string another sheet shares", "kinds", R"([[2, "apple", "pear", "whole"]])");
    row("Value writes after Replace", "kinds",
        R"([[1, "apple", "pear"], [1, "A10", "apple new", "write"], [1, "pear", "plum"],
            [1, "B3", "=B1+1", "write"], [1, "plum", ""]])");
    row("a sheet that is not there", "kinds", R"([[9, "apple", "pear"]])");
    row("a damaged sheet", "badxml", R"([[0, "hello", "bye"]])");
    for (const char *writer : {"rows xlsxwriter", "rows openpyxl"}) {
        for (const auto &job : kRowsJobs)
            row(job[0], writer, job[1]);
    }
}

void StreamDiffTest::generated()
{
    QFETCH(QString, book);
    QFETCH(QByteArray, job);
    compareModes(this->book(book), QJsonDocument::fromJson(job).array());
}

void StreamDiffTest::corpus_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("empty");
    for (const QString &f : testsupport::corpusFiles()) {
        const QString name = QFileInfo(f).fileName();
        if (name.endsWith(QLatin1String(".xls")))
            continue; // edited through LibreOffice, held or not
        QTest::addRow("%s: a word", qPrintable(name)) << f << false;
        QTest::addRow("%s: whole cells emptied", qPrintable(name)) << f << true;
    }
    if (testsupport::corpusFiles().isEmpty())
        QTest::newRow("no corpus") << QString() << false;
}

// The word tst_sheetapp_corpus replaces (case matched, every sheet), and the text that most
// cells hold replaced by nothing.
void StreamDiffTest::corpus()
{
    TRELVIX_SKIP_WITHOUT_CORPUS(testsupport::corpusFiles());
    QFETCH(QString, source);
    QFETCH(bool, empty);
    QJsonObject dump;
    QJsonObject protection;
    // openpyxl needs minutes for a sheet of a million rows: nothing is picked there.
    if (corpuswords::manifestArea(QFileInfo(source).fileName()) <= 400000)
        dump = testsupport::dumpWorkbook(source);
    QByteArray json;
    if (!dump.isEmpty() && testsupport::sheetappTool({QStringLiteral("protection"), source}, &json))
        protection = QJsonDocument::fromJson(json).object();
    QString what = empty ? corpuswords::pickWholeCell(dump, protection)
                         : corpuswords::pickWord(dump, protection);
    if (what.isEmpty())
        what = QStringLiteral("Zz9Qx"); // occurs nowhere: nothing may change
    QJsonArray job;
    job.append(QJsonArray{0, what, empty ? QString() : what + QStringLiteral("Zq"),
                          empty ? QStringLiteral("whole case") : QStringLiteral("case")});
    compareModes(source, job);
}

int main(int argc, char *argv[])
{
    // ctest runs each function alone: the corpus one, without the corpus, is not run.
    if (argc > 1 && qstrcmp(argv[1], "corpus") == 0 && testsupport::corpusFiles().isEmpty())
        return testsupport::missingCorpus();
    QCoreApplication app(argc, argv);
    StreamDiffTest tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_streamdiff.moc"
