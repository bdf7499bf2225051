// The main window as a user meets it. tst_mainwindow.cpp: first start, form, status bar,
// status texts, file count, menu and shortcuts; tst_mainwindow_options.cpp: the options kept
// between starts.
#pragma once

#include "uidriver.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TstMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void firstStart();
    void title();
    void tooltips_data();
    void tooltips();
    void tablesInitialShape();
    void statusBar();
    void stateTexts_data();
    void stateTexts();
    void fileCountFollowsTab();

    void optionsRestored_data();
    void optionsRestored();
    void optionsSaved_data();
    void optionsSaved();
    void typedSheetListSurvivesRestarts();
    void otherVersionStartsFromDefaults();
    void quitExitsWithoutSaving();
    void closeSaves();

    void formKeepsObjectName();
    void menus();
    void shortcuts_data();
    void shortcuts();
    void help();
    void qtTextsInChinese();
    void about();
    void sheetChoice_data();
    void sheetChoice();
    void sheetListCommittedWithEnter();
    void keywordOptionsFollowMode();

    void screenshot();

private:
    QTemporaryDir data;
    QTemporaryDir files;
    QString options() const { return uidriver::optionsPath(data.path()); }
    QStringList makeFiles(const QStringList &names);
};

// The child process of quitExitsWithoutSaving and closeSaves, started with --quit-child or
// --close-child.
int quitChild(int argc, char **argv);
