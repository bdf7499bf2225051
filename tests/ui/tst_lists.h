// The two file lists as a user meets them. tst_lists.cpp: the add dialogs, folder scans and
// duplicates; tst_lists_tables.cpp: removing, clearing, the keyword table's rule, the folder
// opened by a double-click and the hover tooltips.
#pragma once

#include "uidriver.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TstLists : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void addFiles_data();
    void addFiles();
    void addFilesSkipsDuplicates();
    void addFilesCancelled();
    void sameFileInBothLists();
    void addFilesKeepsKeywordColumn();

    void addFolder_data();
    void addFolder();
    void addFolderDialog_data();
    void addFolderDialog();
    void addFolderCancelledKeepsOption();
    void folderBoxesIndependent();
    void addFolderTwiceSkipsDuplicates();
    void symlinkLoopEnds();
    void menuDispatch_data();
    void menuDispatch();

    void removeFromList1_data();
    void removeFromList1();
    void removeKeywordRows_data();
    void removeKeywordRows();
    void removeFileColumns_data();
    void removeFileColumns();

    void clears_data();
    void clears();
    void keywordTableGrows();
    void keywordTableRefusesRowWithoutKeywordAbove_data();
    void keywordTableRefusesRowWithoutKeywordAbove();

    void doubleClickOpensFolder_data();
    void doubleClickOpensFolder();
    void hoverShowsPath();

private:
    QTemporaryDir data;
    QTemporaryDir work;
    QString tree; // a.xlsx b.xls c.XLSX d.xlsm e.txt M.xlsx sub/... z.xlsx
    QString options() const { return uidriver::optionsPath(data.path()); }
    QStringList touch(const QString &dir, const QStringList &names);
};
