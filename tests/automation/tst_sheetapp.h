// The embedded spreadsheet application's test, driven through the Excel:: wrappers on pool
// threads: replacing and writing cells in tst_sheetapp.cpp; opening workbooks, their sheets
// and the life of the objects in tst_sheetapp_objects.cpp.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

class SheetAppTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void replace_data();
    void replace();
    void limits_data();
    void limits();
    void sharedFormulas_data();
    void sharedFormulas();
    void sharedStringUsedByAnotherSheet();
    void rangeForms_data();
    void rangeForms();
    void sheetKinds_data();
    void sheetKinds();
    void protectedSheet_data();
    void protectedSheet();
    void tableHeader_data();
    void tableHeader();
    void openRefusals_data();
    void openRefusals();
    void sameFileTwoJobs();
    void objectsAfterQuit();
    void memberChecks_data();
    void memberChecks();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString make(const QString &name, const QJsonObject &spec);
    QString makeKind(const QString &kind);

    QTemporaryDir m_dir;
};
