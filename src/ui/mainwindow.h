// The program's one window: both ways of stating replacements, their file
// lists, the run options, the batch run and the status bar.
#pragma once

#include "engine/rep.h"

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>

class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QTableWidgetItem;
class QThreadPool;

namespace Ui {
class MainWindow;
}

// The only access to the options file: one complete open, write and close
// (or open, read and close) of the INI file at path per call.
void writeIni(const QString &path, const QString &group, const QString &key, const QString &value);
QString readIni(const QString &path, const QString &group, const QString &key, const QString &def);

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private:
    Ui::MainWindow *ui;
    QString appVersion;
    QString settingsDirName;
    QString settingsPath;
    QStringList files1;
    QStringList files2;
    int total = 0;
    int doneCount = 0;
    QLabel *fileCountLabel = nullptr;
    int successCount = 0;
    QLabel *successLabel = nullptr;
    int missingCount = 0;
    QLabel *missingLabel = nullptr;
    int failCount = 0;
    QLabel *failLabel = nullptr;
    QLabel *statusLabel = nullptr;
    int runTab = 0;
    // While a run waits for its jobs: nothing may change the lists, and a
    // request to close or quit is carried out once every job has ended.
    bool running = false;
    bool closeAfterRun = false;
    bool quitAfterRun = false;
    QList<Rep *> handledReps; // reported during the wait, deleted after it

signals:
    void fileNumChangedSignals();
    void stateChangedSignals(int stateCode);

private slots:
    void on_pushButton_list1_Add_clicked();
    void on_pushButton_list1_Adds_clicked();
    void on_pushButton_list1_Remove_clicked();
    void on_pushButton_list1_Save_clicked();
    void on_pushButton_list1_Import_clicked();
    void on_pushButton_list1_Clear_clicked();
    void on_pushButton_keyClear_clicked();
    void on_tableWidget_list2_itemChanged(QTableWidgetItem *item);
    void on_pushButton_list2_Add_clicked();
    void on_pushButton_list2_Adds_clicked();
    void on_pushButton_list2_RemoveRow_clicked();
    void on_pushButton_list2_RemoveColumn_clicked();
    void on_pushButton_list2_Save_clicked();
    void on_pushButton_list2_Import_clicked();
    void on_pushButton_list2_Clear_clicked();
    void on_pushButton_ClearAll_clicked();
    void on_pushButton_replace_clicked();
    void on_radioButton_key_toggled(bool checked);
    void on_tableWidget_list1_cellEntered(int row, int column);
    void on_tableWidget_list2_cellEntered(int row, int column);
    void on_tabWidget_1_currentChanged(int index);
    void on_action_Adds_triggered();
    void on_action_Add_triggered();
    void on_action_Save_triggered();
    void on_action_Import_triggered();
    void on_action_Clear_triggered();
    void on_action_Quit_triggered();
    void on_action_P_triggered();
    void on_action_triggered();
    void on_comboBox_currentIndexChanged(QString arg1);

private:
    // Results and progress of a run.
    void onRepDone(Rep *rep, STATE state, int index);
    void resetCounters();
    void setReplaceControlsEnabled(bool on);

    // Status bar.
    void showStateText(int stateCode);
    void updateFileCount();

    // Gathering files.
    bool containsFile(const QStringList &list, const QString &path);
    void scanDir(const QString &dir, QStringList &list, bool topOnly);
    void addDirToList1(const QString &dir);
    void addDirToList2(const QString &dir);
    void refillList1();
    void rebuildList2Headers();

    // List files: true when the file was taken in.
    bool importList1(const QString &path);
    bool importList2(const QString &path);

    // A left double-click on a listed file opens its folder.
    void openList1Folder();
    void openList2Folder();

    // Waits until every job of the pool has ended, handling meanwhile all
    // events but the user's input.
    void waitForJobs(QThreadPool &pool);

    // The jobs of a run, executed on the run's pool threads.
    void replaceJob1(int i, Param par);
    void replaceJob2(QString separator, int i, Param par, QList<QStringList> keyRows);

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};
