#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_pushButton_list1_Save_clicked() {}

void MainWindow::on_pushButton_list1_Import_clicked() {}

void MainWindow::on_pushButton_list2_Save_clicked() {}

void MainWindow::on_pushButton_list2_Import_clicked() {}

void MainWindow::on_action_Save_triggered() {}

void MainWindow::on_action_Import_triggered() {}

bool MainWindow::importList1(const QString &path)
{
    Q_UNUSED(path);
    return false;
}

bool MainWindow::importList2(const QString &path)
{
    Q_UNUSED(path);
    return false;
}
