// A job gives the same workbook however its sheets are held: each job runs on copies of one
// workbook, once with every sheet held cell by cell and once with every sheet only checked on
// opening (as a large one is) and written as it is saved; the Replace and Value answers, a
// failure, and every cell read back (value, type, style and stored form, by openpyxl) must be
// the same. Workbooks: generated ones of every kind of cell, and the real-world corpus.
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

#include <climits>

namespace {

// How the sheets of a workbook are held while a job runs: every sheet with its cells, or
// every sheet only checked on opening (holdBelow 0).
struct Mode
{
    const char *label;
    int holdBelow;
};
const Mode kModes[] = {{"held", INT_MAX}, {"unheld", 0}};

// One call of a job: a Replace on the used range of a sheet (0: of every sheet in turn), or
// with `cell`, a Value write.
struct Step
{
    int sheet = 0;
    QString cell;
    QString what;
    QString with;
    int lookAt = 2;
    int order = 1;
    bool matchCase = false;
};

// [[sheet, what, with, options]...]: options names "whole", "columns" and "case" for a Replace
// (part, by rows, any case without them), or is "write" for a Value write into the cell `what`.
QVector<Step> parseSteps(const QByteArray &text)
{
    QVector<Step> steps;
    const QJsonDocument doc = QJsonDocument::fromJson(text);
    if (!doc.isArray())
        qFatal("bad job in a test table: %s", text.constData());
    for (const QJsonValue &v : doc.array()) {
        const QJsonArray a = v.toArray();
        const QString options = a.at(3).toString();
        Step s;
        s.sheet = a.at(0).toInt();
        (options == QLatin1String("write") ? s.cell : s.what) = a.at(1).toString();
        s.with = a.at(2).toString();
        s.lookAt = options.contains(QLatin1String("whole")) ? 1 : 2;
        s.order = options.contains(QLatin1String("columns")) ? 2 : 1;
        s.matchCase = options.contains(QLatin1String("case"));
        steps << s;
    }
    return steps;
}

struct Outcome
{
    bool opened = false;
    QVector<int> answers; // per call: 1 or 0, -1 when the sheet or range was not there
    bool saved = false;
    int live = -1;

    bool operator==(const Outcome &o) const
    {
        return opened == o.opened && answers == o.answers && saved == o.saved;
    }
    QString text() const
    {
        QStringList a;
        for (int v : answers)
            a << QString::number(v);
        return QStringLiteral("opened %1, answers [%2], saved %3")
            .arg(opened)
            .arg(a.join(QLatin1Char(' ')))
            .arg(saved);
    }
};

int apply(Excel::Sheets *sheets, int index, const Step &s)
{
    std::unique_ptr<Excel::Worksheet> sheet(sheets ? sheets->Item(index) : nullptr);
    if (!sheet)
        return -1;
    if (!s.cell.isEmpty()) {
        std::unique_ptr<Excel::Range> cell(sheet->Range(s.cell));
        return cell ? cell->setValue(s.with) : -1;
    }
    std::unique_ptr<Excel::Range> used(sheet->UsedRange());
    return used ? used->Replace(s.what, s.with, s.lookAt, s.order, s.matchCase) : -1;
}

// Opens the workbook, makes every call and saves it.
Outcome run(const QString &path, const QVector<Step> &steps)
{
    Outcome out;
    out.live = jobs::onPoolThread([&] {
        Excel::Application app;
        app.setDisplayAlerts(false);
        app.setVisible(false);
        std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
        std::unique_ptr<Excel::Workbook> book(books ? books->Open(path) : nullptr);
        out.opened = book != nullptr;
        if (!book)
            return;
        std::unique_ptr<Excel::Sheets> sheets(book->Sheets());
        const int count = sheets ? sheets->Count() : 0;
        for (const Step &s : steps) {
            for (int i = s.sheet ? s.sheet : 1; i <= (s.sheet ? s.sheet : count); ++i)
                out.answers << apply(sheets.get(), i, s);
        }
        out.saved = book->Save();
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

// What differs between the workbook saved held and the one saved by `mode`: one line per cell
// (and for the tables' columns and the defined names), none when the zip entries are alike.
QStringList differences(const QString &held, const QString &other, const QString &mode)
{
    const QMap<QString, QString> heldEntries = testsupport::zipEntryHashes(held);
    const QMap<QString, QString> otherEntries = testsupport::zipEntryHashes(other);
    if (!heldEntries.isEmpty() && heldEntries == otherEntries)
        return {};
    QString error;
    const QJsonObject a = readCells(held, &error);
    const QJsonObject b = a.isEmpty() ? a : readCells(other, &error);
    if (a.isEmpty() || b.isEmpty())
        return {QStringLiteral("openpyxl cannot read what was saved: ") + error};
    QStringList out;
    const QJsonObject sa = a.value(QStringLiteral("sheets")).toObject();
    const QJsonObject sb = b.value(QStringLiteral("sheets")).toObject();
    QStringList sheets = sa.keys() + sb.keys();
    sheets.removeDuplicates();
    for (const QString &sheet : sheets) {
        const QJsonObject ca = sa.value(sheet).toObject();
        const QJsonObject cb = sb.value(sheet).toObject();
        QStringList refs = ca.keys() + cb.keys();
        refs.removeDuplicates();
        for (const QString &ref : refs) {
            if (ca.value(ref) != cb.value(ref))
                out << QStringLiteral("%1!%2: held %3, %4 %5")
                           .arg(sheet, ref, jobs::compact(ca.value(ref)), mode,
                                jobs::compact(cb.value(ref)));
        }
    }
    for (const QString &key : {QStringLiteral("tables"), QStringLiteral("names")}) {
        if (a.value(key) != b.value(key))
            out << QStringLiteral("%1: held %2, %3 %4")
                       .arg(key, jobs::compact(a.value(key)), mode, jobs::compact(b.value(key)));
    }
    if (out.isEmpty())
        qInfo("%s: the same cells, other bytes in %s", qPrintable(mode),
              qPrintable(testsupport::changedEntries(heldEntries, otherEntries).join(", ")));
    return out;
}

// Every kind of cell, on four sheets: Kinds (strings shared, inline and rich, numbers, dates,
// times, booleans, errors, formulas ordinary, shared and array, a text result), Other (strings
// Kinds shares), Locked (protected, with unlocked cells) and Tables (one table with a header
// row and a structured reference to it, one without).
const char kKinds[] = R"({"writer": "xlsxwriter", "sheets": [
 {"name": "Kinds", "cells": {
  "A1": "apple pie", "A2": "Apple", "A3": "apple", "A4": {"rich": ["ap", "ple tart"]},
  "A5": {"raw": "<is><t>apple inline</t></is>", "t": "inlineStr"},
  "A6": {"raw": "<is><r><t>ap</t></r><r><rPr><b/></rPr><t>ple bold</t></r></is>",
         "t": "inlineStr"},
  "A7": {"text": "apple", "format": "@"},
  "B1": 123, "B2": 1.5, "B3": 12, "B4": {"date": "2024-01-31", "format": "yyyy/m/d"},
  "B5": {"date": "1899-12-31T12:00:00", "format": "h:mm:ss"},
  "B6": {"date": "2024-01-15T08:30:00", "format": "yyyy/m/d h:mm"},
  "C1": true, "C2": false, "C3": {"raw": "<v>#N/A</v>", "t": "e"},
  "C4": {"raw": "<v>#DIV/0!</v>", "t": "e"},
  "D1": {"f": "=B1*2"}, "D2": {"raw": "<f t='shared' ref='D2:D4' si='0'>B2*2</f><v>3</v>"},
  "D3": {"raw": "<f t='shared' si='0'/><v>24</v>"},
  "D4": {"raw": "<f t='shared' si='0'/><v>0</v>"},
  "D5": {"raw": "<f t='array' ref='D5:D6'>B1:B2*2</f><v>246</v>"}, "D6": {"raw": "<v>3</v>"},
  "D7": {"raw": "<f>&quot;app&quot;&amp;&quot;le&quot;</f><v>apple</v>", "t": "str"},
  "D8": {"raw": "<f>IF(A1=&quot;apple pie&quot;,1,0)</f><v>1</v>"},
  "E1": "12", "E2": "x", "E3": "flag", "E4": "oops", "E5": "gone", "E6": "apple",
  "F1": "a*c", "F2": "a?c", "F3": "a~c", "F4": "abc", "F5": "axyzc", "F6": "ABC"}},
 {"name": "Other", "cells": {"A1": "apple", "A2": "apple pie", "B1": 12, "B2": "gone"}},
 {"name": "Locked", "protected": true, "cells": {
  "A1": "apple", "A2": {"text": "apple", "locked": false}, "A3": "apple pie",
  "B1": {"text": "gone", "locked": false}, "B2": "gone"}},
 {"name": "Tables", "cells": {
  "A2": "apple", "B2": 1, "A3": "pear", "B3": 2, "C1": {"f": "=SUM(Stock[Qty])*2"},
  "E1": "apple", "F1": 3, "E2": "gone", "F2": 4},
  "tables": [{"ref": "A1:B3", "name": "Stock", "header": ["Name", "Qty"]},
             {"ref": "E1:F2", "name": "Plain", "header": false}]}]})";

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
    void compareModes(const QString &source, const QVector<Step> &steps);

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
        made = testsupport::makeWorkbook(path, jobs::json(kKinds), &error);
    else if (name.startsWith(QLatin1String("rows ")))
        made = testsupport::makeWorkbook(path, rowsSpec(name.mid(5)), &error);
    else if (name == QLatin1String("badxml"))
        made = testsupport::sheetappTool({QStringLiteral("broken"), name, path}, nullptr, &error);
    if (!made)
        qWarning("cannot write %s: %s", qPrintable(name), qPrintable(error));
    m_books.insert(name, path);
    return path;
}

void StreamDiffTest::compareModes(const QString &source, const QVector<Step> &steps)
{
    const int defaultHold = xlsx::DocumentData::holdBelow;
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
        outcomes << run(files.last(), steps);
        xlsx::DocumentData::holdBelow = defaultHold;
        QCOMPARE(outcomes.last().live, 0);
    }
    QStringList problems;
    for (int i = 1; i < outcomes.size(); ++i) {
        const QString mode = QLatin1String(kModes[i].label);
        if (!(outcomes[i] == outcomes[0])) {
            problems << QStringLiteral("held: %1; %2: %3")
                            .arg(outcomes[0].text(), mode, outcomes[i].text());
        } else if (!outcomes[i].saved) {
            // A failed job leaves its file as it was.
            for (int j : {0, i}) {
                if (testsupport::sha256(files[j]) != original)
                    problems << QLatin1String(kModes[j].label) +
                                    QStringLiteral(": the job failed and changed the file");
            }
        } else {
            problems << differences(files[0], files[i], mode);
        }
    }
    for (const QString &f : files)
        QFile::remove(f);
    if (problems.size() > 20)
        problems = problems.mid(0, 20) << QStringLiteral("... %1 more").arg(problems.size() - 20);
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
        R"([[1, "B1", "B3"], [1, "B2~*2", "B2*3"], [1, "app", "ban"], [1, "IF(", "IF(("]])");
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
    compareModes(this->book(book), parseSteps(job));
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
    Step step;
    step.matchCase = true;
    if (empty) {
        step.what = corpuswords::pickWholeCell(dump, protection);
        step.lookAt = 1;
    } else {
        step.what = corpuswords::pickWord(dump, protection);
        step.with = step.what + QStringLiteral("Zq");
    }
    if (step.what.isEmpty())
        step.what = QStringLiteral("Zz9Qx");
    compareModes(source, {step});
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
