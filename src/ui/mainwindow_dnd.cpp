#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QDragEnterEvent>
#include <QDropEvent>

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    Q_UNUSED(event);
}

void MainWindow::dropEvent(QDropEvent *event)
{
    Q_UNUSED(event);
}
