// The batch run through the real window. tst_run.cpp: what a run does to the workbooks, the
// status bar and the lists; tst_run_concurrency.cpp: jobs at once, the window while a run goes
// on, and quitting during a run.
#pragma once

#include "ui/mainwindow.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TestRun : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstWayKeywords_data();
    void firstWayKeywords();
    void progressCountsUp();
    void firstWaySheetChoice_data();
    void firstWaySheetChoice();
    void firstWayPositionMode();
    void missingAndBrokenFiles();
    void refusals_data();
    void refusals();
    void secondWay();
    void secondWayMissingFileMarksColumn();
    void samePathTwiceNeverWrittenTwiceAtOnce();
    void atMostEightJobsAtOnce_data();
    void atMostEightJobsAtOnce();
    void windowLivesDuringRun_data();
    void windowLivesDuringRun();
    void recolouringKeepsTypedValues_data();
    void recolouringKeepsTypedValues();
    void quitWaitsForRun();

private:
    QString makeBook(const QString &name);
    void listFiles(int tab, const QStringList &paths);
    void typeKeys(const QString &keys, const QString &values);
    void clickRun();
    void typeCell(int r, int c, const QString &text);
    template <typename T> T *w(const char *name)
    {
        return m_win->findChild<T *>(QLatin1String(name));
    }

    QTemporaryDir m_dir;
    QString m_pristine;
    MainWindow *m_win = nullptr;
};

// The child process of quitWaitsForRun, started with --quit-during-run and the workbooks.
int quitDuringRunChild(int argc, char **argv);
