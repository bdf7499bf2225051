// Files, folders and list files dropped onto the window.
#include "ui/mainwindow.h"

#include "ui/listfile.h"
#include "ui_mainwindow.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QList>
#include <QMimeData>
#include <QMimeDatabase>
#include <QUrl>

namespace {

enum class DroppedKind
{
    Folder,
    Xls,
    Xlsx,
    Unsupported
};

// Status codes of a drop.
enum : int
{
    FileAdded = 10,
    UnsupportedType = 58,
};

// The kind of a dropped item, judged by its MIME type (not by its suffix).
DroppedKind kindOf(const QString &localPath)
{
    const QString name = QMimeDatabase().mimeTypeForFile(localPath).name();
    if (name == QLatin1String("inode/directory"))
        return DroppedKind::Folder;
    if (name == QLatin1String("application/vnd.ms-excel"))
        return DroppedKind::Xls;
    if (name == QLatin1String("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"))
        return DroppedKind::Xlsx;
    return DroppedKind::Unsupported;
}

} // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    // The lists stay as they are while a run's jobs read them.
    if (running) {
        event->ignore();
        return;
    }
    const QMimeData *data = event->mimeData();
    if (data->urls().isEmpty())
        return;
    if (data->hasFormat(QStringLiteral("text/uri-list")))
        event->acceptProposedAction();
    else
        event->ignore();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    if (running) {
        event->ignore();
        return;
    }
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty())
        return;

    // One list file alone is imported into its own tab.
    if (urls.size() == 1) {
        const QString path = urls.first().toLocalFile();
        const DroppedKind kind = kindOf(path);
        if (kind == DroppedKind::Unsupported) {
            emit stateChangedSignals(UnsupportedType);
            return;
        }
        if (kind == DroppedKind::Xlsx) {
            const QString baseName = QFileInfo(path).baseName();
            if (baseName == listfile::firstWayBaseName() && importList1(path)) {
                refillList1();
                ui->tabWidget_1->setCurrentIndex(0);
                emit fileNumChangedSignals();
                return;
            }
            if (baseName == listfile::secondWayBaseName() && importList2(path)) {
                rebuildList2Headers();
                ui->tabWidget_1->setCurrentIndex(1);
                emit fileNumChangedSignals();
                return;
            }
        }
    }

    // Everything else goes into the list of the tab that is shown.
    const int tab = ui->tabWidget_1->currentIndex();
    if (tab != 0 && tab != 1)
        return;
    QStringList &list = tab == 0 ? files1 : files2;
    for (const QUrl &url : urls) {
        const QString path = url.toLocalFile();
        switch (kindOf(path)) {
        case DroppedKind::Folder:
            if (tab == 0)
                addDirToList1(path);
            else
                addDirToList2(path);
            break;
        case DroppedKind::Xls:
        case DroppedKind::Xlsx:
            if (!containsFile(list, path)) {
                list.append(path);
                emit stateChangedSignals(FileAdded);
            }
            break;
        case DroppedKind::Unsupported:
            emit stateChangedSignals(UnsupportedType);
            break;
        }
    }
    if (tab == 0)
        refillList1();
    rebuildList2Headers();
    emit fileNumChangedSignals();
}
