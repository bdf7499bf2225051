// The first way's run without the window: one Param for every file, one Rep
// per file on a pool of at most `--jobs` threads, each report queued to the
// main thread as the window receives it. The time runs from the first job
// handed to the pool to the last report taken.
#include "automation/excelapp/excelapp.h"
#include "automation/libreoffice/libreoffice.h"
#include "benchargs.h"
#include "engine/rep.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFuture>
#include <QThreadPool>
#include <QVector>
#include <QtConcurrent>

// The LibreOffice instances the run started (for .xls files): how many, the
// seconds each took to answer, and their summed proportional memory in MB.
static QString instanceReport()
{
    const QList<libreoffice::InstanceInfo> list = libreoffice::instances();
    if (list.isEmpty())
        return QString();
    QStringList starts;
    double pssKb = 0;
    for (const libreoffice::InstanceInfo &i : list) {
        starts << QString::number(i.startSeconds, 'f', 2);
        QFile f(QStringLiteral("/proc/%1/smaps_rollup").arg(i.pid));
        if (f.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : f.readAll().split('\n')) {
                if (line.startsWith("Pss:"))
                    pssKb += line.mid(4).trimmed().split(' ').value(0).toDouble();
            }
        }
    }
    return QStringLiteral(" lo_instances=%1 lo_start_s=%2 lo_pss_mb=%3")
        .arg(list.size())
        .arg(starts.join(QLatin1Char(',')))
        .arg(pssKb / 1024, 0, 'f', 1);
}

static const char usage[] =
    "usage: bench_run_engine --pairs FILE [--sheets CHOICE] [--jobs N] FILE|DIR...";

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qRegisterMetaType<STATE>("STATE");
    excelapp::registerApplication();
    benchrun::Args args;
    if (!benchrun::parseArgs(QCoreApplication::arguments(), usage, &args))
        return 2;

    Param par;
    par.sheetIndex = args.sheets;
    par.keys = args.pairs;

    const int total = args.files.size();
    int reports = 0;
    int counts[3] = {0, 0, 0};
    // Lives on the main thread: the reports of the pool's jobs are queued to it.
    QObject receiver;

    QElapsedTimer timer;
    timer.start();
    {
        QThreadPool pool;
        pool.setMaxThreadCount(args.jobs);
        QVector<QFuture<void>> futures;
        for (int i = 0; i < total; ++i) {
            futures.append(QtConcurrent::run(&pool, [&, i]() {
                Rep *rep = new Rep(args.files.at(i), par, i);
                QObject::connect(rep, &Rep::done, &receiver, [&](Rep *r, STATE state, int) {
                    ++reports;
                    if (state >= SUCCESS && state <= LOST)
                        ++counts[state];
                    delete r;
                });
                rep->run();
            }));
        }
        pool.waitForDone();
    }
    while (reports < total)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = timer.nsecsElapsed() / 1e9;

    benchrun::printResult(total, counts[SUCCESS], counts[FAIL], counts[LOST], seconds,
                          QStringLiteral("jobs=%1").arg(args.jobs) + instanceReport());
    return counts[SUCCESS] == total ? 0 : 1;
}
