// The first way's run without the window: one Param for every file, one Rep
// per file on a pool of at most `--jobs` threads, each report queued to the
// main thread as the window receives it. The time runs from the first job
// handed to the pool to the last report taken.
#include "benchargs.h"
#include "engine/rep.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFuture>
#include <QThreadPool>
#include <QVector>
#include <QtConcurrent>

static const char usage[] =
    "usage: bench_run_engine --pairs FILE [--sheets CHOICE] [--jobs N] FILE|DIR...";

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qRegisterMetaType<STATE>("STATE");
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
                          QStringLiteral("jobs=%1").arg(args.jobs));
    return counts[SUCCESS] == total ? 0 : 1;
}
