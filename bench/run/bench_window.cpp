// The first way's run through the real main window, offscreen: the files
// listed through the add-files dialog, the replacements typed into the two
// editors, "所有表" chosen, the run button clicked. The time runs from the
// click to the status bar's final text.
#include "automation/excelapp/excelapp.h"
#include "benchargs.h"
#include "ui/mainwindow.h"
#include "uidriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

static const char usage[] =
    "usage: bench_run_window --pairs FILE [--sheets CHOICE] FILE|DIR...\n"
    "(the files must share one folder; the window runs at most 8 jobs at once)";

namespace {

// The number in a status text such as " 成功(12)"; -1 when there is none.
int countIn(const QString &text)
{
    const int open = text.indexOf(QLatin1Char('('));
    const int close = text.indexOf(QLatin1Char(')'), open + 1);
    if (open < 0 || close < 0)
        return -1;
    // Counts other than success are wrapped in a font tag.
    return text.mid(open + 1, close - open - 1).toInt();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window keeps its options under the per-user data folder: use a
    // throwaway one.
    QTemporaryDir dataDir;
    uidriver::useDataDir(dataDir.path());
    QApplication app(argc, argv);
    uidriver::useDataDir(dataDir.path());
    excelapp::registerApplication();

    benchrun::Args args;
    if (!benchrun::parseArgs(QCoreApplication::arguments(), usage, &args))
        return 2;
    if (args.jobs != 8)
        std::fprintf(stderr, "the window always runs 8 jobs at once; --jobs is ignored\n");

    MainWindow win;
    win.show();
    QApplication::setActiveWindow(&win);
    if (!QTest::qWaitForWindowActive(&win)) {
        std::fprintf(stderr, "the window did not become active\n");
        return 2;
    }

    QElapsedTimer listing;
    listing.start();
    const bool listed = uidriver::addFilesThroughDialog(
        uidriver::child<QPushButton>(&win, "pushButton_list1_Add"), args.files);
    const double listingSeconds = listing.nsecsElapsed() / 1e9;
    const int rows = uidriver::child<QTableWidget>(&win, "tableWidget_list1")->rowCount();
    if (!listed || rows != args.files.size()) {
        std::fprintf(stderr, "listed %d of %d files\n", rows, int(args.files.size()));
        return 2;
    }
    // The closed dialog hands the activation back to the window.
    QApplication::setActiveWindow(&win);
    if (!QTest::qWaitForWindowActive(&win)) {
        std::fprintf(stderr, "the window did not become active again\n");
        return 2;
    }

    auto *sheets = uidriver::child<QComboBox>(&win, "comboBox");
    const int choice = sheets->findText(args.sheets);
    if (choice >= 0) {
        sheets->setCurrentIndex(choice);
    } else {
        sheets->setCurrentIndex(sheets->findText(QStringLiteral("指定表")));
        sheets->setCurrentText(args.sheets);
    }
    uidriver::child<QCheckBox>(&win, "checkBox_lookAt")->setChecked(false);
    uidriver::child<QCheckBox>(&win, "checkBox_matchCase")->setChecked(false);
    uidriver::child<QComboBox>(&win, "comboBox_searchOrder")->setCurrentIndex(0);

    QStringList keys;
    QStringList values;
    for (const KeyPair &p : qAsConst(args.pairs)) {
        keys << p.first;
        values << p.second;
    }
    auto *s1 = uidriver::child<QPlainTextEdit>(&win, "plainTextEdit_s1");
    auto *s2 = uidriver::child<QPlainTextEdit>(&win, "plainTextEdit_s2");
    uidriver::typeText(s1, keys.join(QLatin1Char('\n')));
    uidriver::typeText(s2, values.join(QLatin1Char('\n')));
    if (s1->toPlainText() != keys.join(QLatin1Char('\n')) ||
        s2->toPlainText() != values.join(QLatin1Char('\n'))) {
        std::fprintf(stderr, "the editors do not hold the typed replacements\n");
        return 2;
    }

    const QString finished = QStringLiteral("文件替换处理全部完成!");
    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(uidriver::child<QPushButton>(&win, "pushButton_replace"), Qt::LeftButton);
    while (uidriver::statusTexts(&win).value(4) != finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double seconds = timer.nsecsElapsed() / 1e9;

    const QStringList status = uidriver::statusTexts(&win);
    const int ok = countIn(status.value(1));
    const int failed = countIn(status.value(2));
    const int lost = countIn(status.value(3));
    benchrun::printResult(
        args.files.size(), ok, failed, lost, seconds,
        QStringLiteral("jobs=8 listing_seconds=%1").arg(listingSeconds, 0, 'f', 6));
    return ok == args.files.size() ? 0 : 1;
}
