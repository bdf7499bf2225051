// The .xls workbooks through LibreOffice: replacing, positions, typed input, sheet choice and
// kinds and the corpus in tst_xls.cpp; refused files, ended instances and killed saves in
// tst_xls_failures.cpp.
#pragma once

#include "jobs.h"

#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

class XlsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void keyword_data();
    void keyword();
    void position_data();
    void position();
    void typedInput_data();
    void typedInput();
    void sheetChoice_data();
    void sheetChoice();
    void sheetKinds_data();
    void sheetKinds();
    void corpus_data();
    void corpus();
    void refused_data();
    void refused();
    void instanceEnded_data();
    void instanceEnded();
    void killedSave_data();
    void killedSave();

private:
    // A fresh copy of the made workbook.
    QString copyOfBook(const QString &name);
    // Runs the job and checks the cells it should change against xlrd; every
    // other cell keeps its value.
    void checkRun(const jobs::Request &req, const QString &file, const QStringList &changed);
    // A job whose instance gets `signal` once the workbook is open: FAIL, file untouched.
    void runKilledJob(jobs::Request req, int signal, qint64 *victim);

    // "Sheet!A1" -> value, for every cell of every sheet; a date as "date:<serial>".
    static QMap<QString, QVariant> cellsOf(const QString &path);
    // Temporary and lock files LibreOffice or the save left in `dir`.
    static QString leftovers(const QString &dir);

    QTemporaryDir m_dir;
    QString m_book;
    QMap<QString, QVariant> m_before;
    QSet<qint64> m_pids;
};
