// List files. tst_listfiles.cpp: where each value goes, how a file is read back and the files
// seen by openpyxl; tst_listfiles_window.cpp: the export and import buttons of the real window.
#pragma once

#include "ui/mainwindow.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

class TestListFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    // Pure logic.
    void normalisePath_data();
    void normalisePath();
    void parseFirstWay_data();
    void parseFirstWay();
    void parseSecondWay_data();
    void parseSecondWay();

    // Real files.
    void exportedFilesAsOpenpyxlSeesThem_data();
    void exportedFilesAsOpenpyxlSeesThem();
    void exportReplacesOldFileWhole();
    void openpyxlFilesLoad_data();
    void openpyxlFilesLoad();
    void refusedFilesAreLeftAlone_data();
    void refusedFilesAreLeftAlone();
    void failedSaveKeepsOldFile_data();
    void failedSaveKeepsOldFile();

    // The window.
    void firstWayRoundTrip();
    void secondWayRoundTripFromMenu();
    void firstWayImportEdgeCases_data();
    void firstWayImportEdgeCases();
    void secondWayImportEdgeCases_data();
    void secondWayImportEdgeCases();
    void refusalsLeaveWindowAsItWas_data();
    void refusalsLeaveWindowAsItWas();
    void exportCancelled_data();
    void exportCancelled();
    void exportFailureIsReported_data();
    void exportFailureIsReported();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString make(const QString &name, const QJsonObject &spec);
    void importInto(MainWindow &w, int way, const QString &file);

    QTemporaryDir m_dir;
    QTemporaryDir m_home;
};
