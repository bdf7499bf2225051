// Many jobs at once, as the window runs them: 50 jobs on a pool of 8 threads, two of them on
// the same file (the later to open it while the other has it fails, leaving it alone). Every
// file is read back with openpyxl afterwards.
#include "automation/excelapp/excelapp.h"
#include "engine/rep.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtConcurrent>
#include <QtTest>

#include <atomic>

using testsupport::cellValue;

namespace {

constexpr int kJobs = 50;
constexpr int kThreads = 8;

// Two sheets of words; job i replaces "cat" by "c<i>" in part and "dog" by "d<i>" whole on
// every sheet, and writes nothing else.
QJsonObject spec(const QString &writer)
{
    QJsonArray sheets;
    for (int s = 1; s <= 2; ++s) {
        QJsonObject cells{{QStringLiteral("A1"), QStringLiteral("cat nap")},
                          {QStringLiteral("A2"), QStringLiteral("dog")},
                          {QStringLiteral("B1"), QStringLiteral("hot dog")},
                          {QStringLiteral("B2"), 42}};
        for (int r = 3; r <= 40; ++r)
            cells.insert(QStringLiteral("C%1").arg(r), QStringLiteral("cat %1").arg(r));
        sheets.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("S%1").arg(s)},
                                  {QStringLiteral("cells"), cells}});
    }
    return QJsonObject{{QStringLiteral("writer"), writer}, {QStringLiteral("sheets"), sheets}};
}

Param jobParam(int i)
{
    Param p;
    p.sheetIndex = QStringLiteral("所有表");
    p.keys = {{QStringLiteral("cat"), QStringLiteral("c%1").arg(i)},
              {QStringLiteral("dog"), QStringLiteral("d%1").arg(i)}};
    p.lookAt = 2;
    return p;
}

// What job i makes of the workbook, as "sheet!ref" -> value.
QMap<QString, QVariant> expected(int i)
{
    QMap<QString, QVariant> m;
    for (int s = 1; s <= 2; ++s) {
        const QString sheet = QStringLiteral("S%1!").arg(s);
        m[sheet + QStringLiteral("A1")] = QStringLiteral("c%1 nap").arg(i);
        m[sheet + QStringLiteral("A2")] = QStringLiteral("d%1").arg(i);
        m[sheet + QStringLiteral("B1")] = QStringLiteral("hot d%1").arg(i);
        m[sheet + QStringLiteral("B2")] = 42;
        for (int r = 3; r <= 40; ++r)
            m[sheet + QStringLiteral("C%1").arg(r)] = QStringLiteral("c%1 %2").arg(i).arg(r);
    }
    return m;
}

// The cells of a workbook as openpyxl reads it, in the form of expected().
QMap<QString, QVariant> readBack(const QString &path, QString *error)
{
    QMap<QString, QVariant> m;
    const QJsonObject dump = testsupport::dumpWorkbook(path, error);
    for (const QJsonValue &s : dump.value(QStringLiteral("sheets")).toArray()) {
        const QString sheet = s.toObject().value(QStringLiteral("name")).toString();
        const QJsonObject cells = s.toObject().value(QStringLiteral("cells")).toObject();
        for (auto it = cells.begin(); it != cells.end(); ++it)
            m[sheet + QLatin1Char('!') + it.key()] = it.value().toVariant();
    }
    return m;
}

} // namespace

class TestRepConcurrent : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qRegisterMetaType<STATE>("STATE");
        excelapp::registerApplication();
    }
    void manyJobs_data();
    void manyJobs();
};

void TestRepConcurrent::manyJobs_data()
{
    QTest::addColumn<QString>("writer");
    QTest::newRow("inline strings (openpyxl)") << QStringLiteral("openpyxl");
    QTest::newRow("shared strings (xlsxwriter)") << QStringLiteral("xlsxwriter");
}

void TestRepConcurrent::manyJobs()
{
    QFETCH(QString, writer);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pristine = dir.filePath(QStringLiteral("pristine.xlsx"));
    QString error;
    QVERIFY2(testsupport::makeWorkbook(pristine, spec(writer), &error), qPrintable(error));

    // Jobs 0 and 1 share a file; every other job has one of its own.
    QStringList paths;
    for (int i = 0; i < kJobs; ++i) {
        paths << dir.filePath(QStringLiteral("book%1.xlsx").arg(qMax(i, 1)));
        if (i != 0)
            QVERIFY(QFile::copy(pristine, paths.last()));
    }

    QVector<STATE> states(kJobs, LOST);
    std::atomic<int> reports{0};
    QThreadPool pool;
    pool.setMaxThreadCount(kThreads);
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    testsupport::Handoff handoff(kJobs);
    for (int i = 0; i < kJobs; ++i) {
        QtConcurrent::run(&pool, [&, i]() {
            const int now = ++running;
            for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            {
                Rep rep(paths[i], jobParam(i), i);
                QObject::connect(
                    &rep, &Rep::done, &rep,
                    [&](Rep *, STATE s, int index) {
                        states[index] = s;
                        ++reports;
                    },
                    Qt::DirectConnection);
                rep.run();
            }
            --running;
            handoff.done();
        });
    }
    handoff.wait();
    pool.waitForDone();

    QCOMPARE(reports.load(), kJobs);
    QVERIFY(most.load() <= kThreads);
    // Of the two jobs on one file, one may find it open in the other and fail without touching
    // it; every other job succeeds.
    QVERIFY2(states[0] == SUCCESS || states[1] == SUCCESS, "both jobs on the shared file failed");
    for (int i = 2; i < kJobs; ++i)
        QVERIFY2(states[i] == SUCCESS,
                 qPrintable(QStringLiteral("job %1: state %2").arg(i).arg(int(states[i]))));
    for (int i = 1; i < kJobs; ++i) {
        const QMap<QString, QVariant> got = readBack(paths[i], &error);
        QVERIFY2(!got.isEmpty(), qPrintable(paths[i] + QStringLiteral(": ") + error));
        if (i > 1) {
            QCOMPARE(got, expected(i));
            continue;
        }
        // The shared file holds the work of a job that succeeded: of the only one, or of the
        // first when both did (the second then found none of its words left).
        const bool first = states[0] == SUCCESS && got == expected(0);
        const bool second = states[1] == SUCCESS && got == expected(1);
        QVERIFY2(first || second,
                 qPrintable(QStringLiteral("the shared file holds no succeeded job's work: "
                                           "A1 %1, states %2 %3")
                                .arg(got.value(QStringLiteral("S1!A1")).toString())
                                .arg(int(states[0]))
                                .arg(int(states[1]))));
    }
    // Nothing but the original and the 49 workbooks is left (no temporary of a save).
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1 + (kJobs - 1));
}

QTEST_GUILESS_MAIN(TestRepConcurrent)
#include "tst_rep_concurrent.moc"
