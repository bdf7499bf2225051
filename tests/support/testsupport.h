// Helpers shared by the tests: an independent reader and writer of .xlsx
// files (Debian's python3-openpyxl and python3-xlsxwriter) and the corpus of
// real-world workbooks.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <condition_variable>
#include <mutex>

namespace testsupport {

// The end of work handed to other threads, marked so that ThreadSanitizer sees it (Qt 5's own
// locks, under QThreadPool, QFuture and QThread::wait, are not instrumented): each of `count`
// workers calls done() last; wait() returns once all have, and what they wrote is then seen.
class Handoff
{
public:
    explicit Handoff(int count = 1) : m_left(count) {}
    void done()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (--m_left == 0)
            m_finished.notify_all();
    }
    void wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_finished.wait(lock, [this] { return m_left <= 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_finished;
    int m_left;
};

// The interpreter that has openpyxl and xlsxwriter (Debian's, not a venv).
QString python();

// Runs `python3 xlsx_tool.py args...`; false with *error on a non-zero exit.
bool runTool(const QStringList &args, const QByteArray &input, QByteArray *output, QString *error);

// Runs `python3 sheetapp_tool.py args...` (tests/automation) with `input` on
// its standard input; false with *error on a non-zero exit.
bool sheetappTool(const QStringList &args, QByteArray *output = nullptr, QString *error = nullptr,
                  const QByteArray &input = QByteArray());

// Runs `python3 xls_tool.py args...` (tests/automation: xlrd and LibreOffice
// for .xls files); false with *error on a non-zero exit.
bool xlsTool(const QStringList &args, QByteArray *output = nullptr, QString *error = nullptr);

// Writes the workbook `xlsx` from a JSON spec (see xlsx_tool.py) and converts it
// with LibreOffice, whose profile goes to `profile`, into an .xls of the same
// name beside it.
bool makeXls(const QString &xlsx, const QJsonObject &spec, const QString &profile, QString *error);

// Reads an .xls workbook with xlrd (`xls_tool.py dump`). Empty object on failure.
QJsonObject dumpXls(const QString &path);

// Writes a workbook described by a JSON spec (see xlsx_tool.py).
bool makeWorkbook(const QString &path, const QJsonObject &spec, QString *error = nullptr);

// Reads a workbook with openpyxl. Empty object (and *error) on failure.
QJsonObject dumpWorkbook(const QString &path, QString *error = nullptr);

// The value of one cell from a dump; an invalid QVariant when it is empty.
QVariant cellValue(const QJsonObject &dump, const QString &sheet, const QString &ref);

// Zip entry name -> sha256 of its inflated content, read by Python's zipfile.
QMap<QString, QString> zipEntryHashes(const QString &path, QString *error = nullptr);

// Entries whose inflated bytes differ between two hash maps, or that appear or
// disappear, in name order.
QStringList changedEntries(const QMap<QString, QString> &before,
                           const QMap<QString, QString> &after);

// Folder of real-world workbooks, or an empty string when it is not there.
QString corpusDir();
// Every workbook of the corpus (absolute paths), sorted.
QStringList corpusFiles();

// The exit code of a test that needs the corpus when it is missing: kMissingData, which ctest
// shows as not run, or 1 where the corpus must be there (TRELVIX_REQUIRE_CORPUS set, as in CI).
// Says so on the standard error.
constexpr int kMissingData = 77;
int missingCorpus();
// Whether a missing corpus is a failure (TRELVIX_REQUIRE_CORPUS set).
bool corpusRequired();

QByteArray readAll(const QString &path);
QByteArray sha256(const QString &path);

} // namespace testsupport

// Skips the calling test function when `files` (of the corpus) is empty, or fails it where the
// corpus is required.
#define TRELVIX_SKIP_WITHOUT_CORPUS(files)                                                         \
    do {                                                                                           \
        if ((files).isEmpty()) {                                                                   \
            if (testsupport::corpusRequired())                                                     \
                QFAIL("the corpus of real-world workbooks is not there");                          \
            QSKIP("the corpus of real-world workbooks is not there");                              \
        }                                                                                          \
    } while (false)

// QTEST_GUILESS_MAIN for a test that is all about the corpus: without it the whole test is
// not run (or fails where the corpus is required).
#define TRELVIX_CORPUS_TEST_MAIN(TestObject)                                                       \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        if (testsupport::corpusFiles().isEmpty())                                                  \
            return testsupport::missingCorpus();                                                   \
        QCoreApplication app(argc, argv);                                                          \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
