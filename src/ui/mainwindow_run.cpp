#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QLabel>

void MainWindow::on_pushButton_replace_clicked() {}

void MainWindow::replaceJob1(int i, Param par)
{
    Q_UNUSED(i);
    Q_UNUSED(par);
}

void MainWindow::replaceJob2(QString separator, int i, Param par, QList<QStringList> keyRows)
{
    Q_UNUSED(separator);
    Q_UNUSED(i);
    Q_UNUSED(par);
    Q_UNUSED(keyRows);
}

void MainWindow::onRepDone(Rep *rep, STATE state, int index)
{
    Q_UNUSED(rep);
    Q_UNUSED(state);
    Q_UNUSED(index);
}

void MainWindow::resetCounters()
{
    doneCount = 0;
    successCount = 0;
    failCount = 0;
    missingCount = 0;
    successLabel->setText(QStringLiteral(" 成功(0)"));
    failLabel->setText(QStringLiteral(" 失败(0)"));
    missingLabel->setText(QStringLiteral(" 丢失(0)"));
}

void MainWindow::setReplaceControlsEnabled(bool on)
{
    Q_UNUSED(on);
}
