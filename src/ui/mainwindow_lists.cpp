#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_list1_Add_clicked() {}
void MainWindow::on_pushButton_list1_Adds_clicked() {}
void MainWindow::on_pushButton_list1_Remove_clicked() {}
void MainWindow::on_pushButton_list1_Clear_clicked() {}
void MainWindow::on_pushButton_keyClear_clicked() {}
void MainWindow::on_tableWidget_list2_itemChanged(QTableWidgetItem *) {}
void MainWindow::on_pushButton_list2_Add_clicked() {}
void MainWindow::on_pushButton_list2_Adds_clicked() {}
void MainWindow::on_pushButton_list2_RemoveRow_clicked() {}
void MainWindow::on_pushButton_list2_RemoveColumn_clicked() {}
void MainWindow::on_pushButton_list2_Clear_clicked() {}
void MainWindow::on_pushButton_ClearAll_clicked() {}
void MainWindow::on_radioButton_key_toggled(bool) {}
void MainWindow::on_tableWidget_list1_cellEntered(int, int) {}
void MainWindow::on_tableWidget_list2_cellEntered(int, int) {}
void MainWindow::on_action_Adds_triggered() {}
void MainWindow::on_action_Add_triggered() {}
void MainWindow::on_action_Clear_triggered() {}
bool MainWindow::containsFile(const QStringList &, const QString &)
{
    return false;
}
void MainWindow::scanDir(const QString &, QStringList &, bool) {}
void MainWindow::addDirToList1(const QString &) {}
void MainWindow::addDirToList2(const QString &) {}
void MainWindow::refillList1() {}
void MainWindow::rebuildList2Headers() {}
void MainWindow::openList1Folder() {}
void MainWindow::openList2Folder() {}
