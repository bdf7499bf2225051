// Gathering, removing and clearing the files of both lists, the keyword table
// and the smaller list interactions.
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QListView>
#include <QMap>
#include <QMessageBox>
#include <QSet>
#include <QSignalBlocker>
#include <QToolTip>
#include <QUrl>

#include <functional>

namespace {

// Distinct rows (or columns) of the selected cells, in ascending order.
QList<int> selectedLines(const QTableWidget *table, bool columns)
{
    QMap<int, bool> lines;
    for (const QModelIndex &index : table->selectionModel()->selectedIndexes())
        lines.insert(columns ? index.column() : index.row(), true);
    return lines.keys();
}

bool isSpreadsheetPath(const QString &path)
{
    return path.right(5) == QLatin1String(".xlsx") || path.right(4) == QLatin1String(".xls");
}

} // namespace

// ---- gathering files ----------------------------------------------------------

bool MainWindow::containsFile(const QStringList &list, const QString &path)
{
    for (const QString &entry : list) {
        if (entry == path) {
            emit stateChangedSignals(13);
            return true;
        }
    }
    return false;
}

void MainWindow::scanDir(const QString &dir, QStringList &list, bool topOnly)
{
    // A folder is entered once per scan, judged by its canonical path, so that
    // a link leading back to one of its own ancestors ends the descent.
    QSet<QString> entered;
    std::function<void(const QString &, bool)> scan = [&](const QString &folder, bool top) {
        entered.insert(QFileInfo(folder).canonicalFilePath());
        const QFileInfoList entries = QDir(folder).entryInfoList();
        for (const QFileInfo &info : entries) {
            if (info.isFile()) {
                const QString path = info.filePath();
                if (isSpreadsheetPath(path) && !containsFile(list, path))
                    list.append(path);
            } else if (!top && info.fileName() != QLatin1String(".") &&
                       info.fileName() != QLatin1String("..")) {
                const QString canonical = info.canonicalFilePath();
                if (!canonical.isEmpty() && !entered.contains(canonical))
                    scan(info.absoluteFilePath(), false);
            }
        }
    };
    scan(dir, topOnly);
}

void MainWindow::addDirToList1(const QString &dir)
{
    const int sub =
        readIni(settingsPath, QStringLiteral("check"), QStringLiteral("c1"), QString()).toInt();
    scanDir(dir, files1, sub == 0);
}

void MainWindow::addDirToList2(const QString &dir)
{
    const int sub =
        readIni(settingsPath, QStringLiteral("check"), QStringLiteral("c2"), QString()).toInt();
    scanDir(dir, files2, sub == 0);
}

void MainWindow::refillList1()
{
    QTableWidget *table = ui->tableWidget_list1;
    table->setRowCount(files1.size());
    for (int i = 0; i < files1.size(); ++i)
        table->setItem(i, 0, new QTableWidgetItem(QFileInfo(files1.at(i)).fileName()));
    emit stateChangedSignals(2);
    emit fileNumChangedSignals();
}

void MainWindow::rebuildList2Headers()
{
    QTableWidget *table = ui->tableWidget_list2;
    table->setColumnCount(files2.size() + 1);
    // Fresh header items and plain file cells, so that no marking of an
    // earlier run stays behind. A colour is no edit: the keyword check of
    // itemChanged must not see it.
    const QSignalBlocker noEdit(table);
    table->setHorizontalHeaderItem(0, new QTableWidgetItem(QStringLiteral("关键字或位置")));
    for (int i = 0; i < files2.size(); ++i) {
        table->setHorizontalHeaderItem(i + 1,
                                       new QTableWidgetItem(QFileInfo(files2.at(i)).fileName()));
        for (int r = 0; r < table->rowCount(); ++r) {
            if (QTableWidgetItem *item = table->item(r, i + 1))
                item->setBackground(QBrush());
        }
    }
    emit stateChangedSignals(2);
    emit fileNumChangedSignals();
}

namespace {

// Runs the add-files dialog; the chosen paths, or false when it was cancelled.
bool chooseFiles(QWidget *parent, QStringList *paths)
{
    QFileDialog dialog(parent, QString(), QString(), QString());
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setWindowTitle(QStringLiteral("选择Excel文档:"));
    dialog.setDirectory(QStringLiteral("."));
    dialog.setNameFilter(QStringLiteral("Excel文件(*.xls *.xlsx)"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *paths = dialog.selectedFiles();
    return true;
}

// Runs the add-folder dialog with its include-sub-folders box, whose state is
// kept under check/key in the options file; false when it was cancelled.
bool chooseFolders(QWidget *parent, const QString &title, const QString &settingsPath,
                   const QString &key, QStringList *folders)
{
    QFileDialog dialog(parent, QString(), QString(), QString());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setWindowTitle(title);
    dialog.setDirectory(QStringLiteral("."));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (auto *view = dialog.findChild<QListView *>(QStringLiteral("listView")))
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);

    QCheckBox box(QStringLiteral("包含子目录文件"));
    box.setChecked(readIni(settingsPath, QStringLiteral("check"), key, QString()).toInt() != 0);
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout()))
        grid->addWidget(&box, 4, 0, 1, 5);

    if (dialog.exec() != QDialog::Accepted)
        return false;
    writeIni(settingsPath, QStringLiteral("check"), key, QString::number(box.isChecked()));
    *folders = dialog.selectedFiles();
    return true;
}

} // namespace

namespace {

// The add-files road of either list; `take` appends the chosen paths that the
// list lacks and redraws its table.
void addFilesRoad(MainWindow *w, const std::function<void(const QStringList &)> &take)
{
    emit w->stateChangedSignals(9);
    QStringList paths;
    if (!chooseFiles(w, &paths)) {
        emit w->stateChangedSignals(11);
        return;
    }
    take(paths);
    emit w->stateChangedSignals(10);
    emit w->fileNumChangedSignals();
}

// The add-folder road of either list; `take` scans the chosen folders into
// the list and redraws its table.
void addFoldersRoad(MainWindow *w, const QString &title, const QString &settingsPath,
                    const QString &key, const std::function<void(const QStringList &)> &take)
{
    emit w->stateChangedSignals(1);
    QStringList folders;
    if (!chooseFolders(w, title, settingsPath, key, &folders)) {
        emit w->stateChangedSignals(3);
        return;
    }
    take(folders);
}

// Menu actions work on the list of the tab that is shown.
void byTab(int tab, const std::function<void()> &first, const std::function<void()> &second)
{
    if (tab == 0)
        first();
    else if (tab == 1)
        second();
}

} // namespace

void MainWindow::on_pushButton_list1_Add_clicked()
{
    addFilesRoad(this, [this](const QStringList &paths) {
        for (const QString &path : paths) {
            if (!containsFile(files1, path))
                files1.append(path);
        }
        refillList1();
    });
}

void MainWindow::on_pushButton_list2_Add_clicked()
{
    addFilesRoad(this, [this](const QStringList &paths) {
        for (const QString &path : paths) {
            if (!containsFile(files2, path))
                files2.append(path);
        }
        rebuildList2Headers();
    });
}

void MainWindow::on_pushButton_list1_Adds_clicked()
{
    addFoldersRoad(this, QStringLiteral("选择文本文档所在目录:"), settingsPath,
                   QStringLiteral("c1"), [this](const QStringList &folders) {
                       for (const QString &folder : folders)
                           addDirToList1(folder);
                       refillList1();
                   });
}

void MainWindow::on_pushButton_list2_Adds_clicked()
{
    addFoldersRoad(this, QStringLiteral("选择Excel文档所在目录:"), settingsPath,
                   QStringLiteral("c2"), [this](const QStringList &folders) {
                       for (const QString &folder : folders)
                           addDirToList2(folder);
                       rebuildList2Headers();
                   });
}

void MainWindow::on_action_Add_triggered()
{
    byTab(
        ui->tabWidget_1->currentIndex(), [this] { on_pushButton_list1_Add_clicked(); },
        [this] { on_pushButton_list2_Add_clicked(); });
}

void MainWindow::on_action_Adds_triggered()
{
    byTab(
        ui->tabWidget_1->currentIndex(), [this] { on_pushButton_list1_Adds_clicked(); },
        [this] { on_pushButton_list2_Adds_clicked(); });
}

// ---- removing files -----------------------------------------------------------

void MainWindow::on_pushButton_list1_Remove_clicked()
{
    emit stateChangedSignals(17);
    QTableWidget *table = ui->tableWidget_list1;
    const QList<int> rows = selectedLines(table, false);
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        if (*it >= 0 && *it < files1.size())
            files1.removeAt(*it);
    }
    table->clearSelection();
    refillList1();
    emit stateChangedSignals(18);
    emit fileNumChangedSignals();
}

void MainWindow::on_pushButton_list2_RemoveRow_clicked()
{
    emit stateChangedSignals(17);
    QTableWidget *table = ui->tableWidget_list2;
    const QList<int> rows = selectedLines(table, false);
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        if (*it < table->rowCount() - 1)
            table->removeRow(*it);
    }
    table->clearSelection();
    emit stateChangedSignals(18);
    emit fileNumChangedSignals();
}

void MainWindow::on_pushButton_list2_RemoveColumn_clicked()
{
    emit stateChangedSignals(17);
    QTableWidget *table = ui->tableWidget_list2;
    const QList<int> columns = selectedLines(table, true);
    for (auto it = columns.crbegin(); it != columns.crend(); ++it) {
        if (*it >= 1 && *it - 1 < files2.size()) {
            files2.removeAt(*it - 1);
            table->removeColumn(*it);
        }
    }
    table->clearSelection();
    rebuildList2Headers();
    emit stateChangedSignals(18);
    emit fileNumChangedSignals();
}

// ---- list interactions --------------------------------------------------------

namespace {

// The folder that holds path, with its trailing "/"; empty when the path has
// no folder part.
QString folderOf(QString path)
{
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

void openFolderOf(const QString &path)
{
    const QString folder = folderOf(path);
    if (!folder.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void showPathTip(const QString &path)
{
    QToolTip::showText(QCursor::pos(), path + QStringLiteral(" 【右键双击】可打开"), nullptr);
}

} // namespace

void MainWindow::openList1Folder()
{
    const int row = ui->tableWidget_list1->currentRow();
    if (row >= 0 && row < files1.size())
        openFolderOf(files1.at(row));
}

void MainWindow::openList2Folder()
{
    const int column = ui->tableWidget_list2->currentColumn();
    if (column >= 1 && column - 1 < files2.size())
        openFolderOf(files2.at(column - 1));
}

void MainWindow::on_tableWidget_list1_cellEntered(int row, int /*column*/)
{
    if (row >= 0 && row < files1.size())
        showPathTip(files1.at(row));
}

void MainWindow::on_tableWidget_list2_cellEntered(int /*row*/, int column)
{
    if (column > 0 && column - 1 < files2.size())
        showPathTip(files2.at(column - 1));
}

void MainWindow::on_pushButton_list1_Clear_clicked()
{
    ui->tableWidget_list1->setRowCount(0);
    files1.clear();
    resetCounters();
    emit stateChangedSignals(41);
    emit fileNumChangedSignals();
}

void MainWindow::on_pushButton_list2_Clear_clicked()
{
    QTableWidget *table = ui->tableWidget_list2;
    table->setRowCount(1);
    table->setColumnCount(1);
    table->setItem(0, 0, new QTableWidgetItem());
    files2.clear();
    resetCounters();
    emit stateChangedSignals(41);
    emit fileNumChangedSignals();
}

void MainWindow::on_pushButton_keyClear_clicked()
{
    ui->plainTextEdit_s1->clear();
    ui->plainTextEdit_s2->clear();
    emit stateChangedSignals(41);
}

void MainWindow::on_pushButton_ClearAll_clicked()
{
    resetCounters();
    if (ui->tabWidget_1->currentIndex() == 0) {
        on_pushButton_list1_Clear_clicked();
        on_pushButton_keyClear_clicked();
    } else {
        on_pushButton_list2_Clear_clicked();
    }
}

void MainWindow::on_action_Clear_triggered()
{
    byTab(
        ui->tabWidget_1->currentIndex(), [this] { on_pushButton_list1_Clear_clicked(); },
        [this] { on_pushButton_list2_Clear_clicked(); });
}

void MainWindow::on_tableWidget_list2_itemChanged(QTableWidgetItem *item)
{
    if (item->text().isEmpty())
        return;
    QTableWidget *table = ui->tableWidget_list2;
    const int row = item->row();
    if (row > 0) {
        const QTableWidgetItem *above = table->item(row - 1, 0);
        if (above == nullptr || above->text().isEmpty()) {
            QMessageBox::warning(this, QStringLiteral("警告"),
                                 QStringLiteral("上一条[被替换关键字]为空,请补充!"),
                                 QMessageBox::Ok, QMessageBox::NoButton);
            item->setText(QString());
            return;
        }
    }
    if (row == table->rowCount() - 1) {
        const int last = table->rowCount();
        table->setRowCount(last + 1);
        for (int c = 0; c < table->columnCount(); ++c)
            table->setItem(last, c, new QTableWidgetItem());
    }
}

void MainWindow::on_radioButton_key_toggled(bool checked)
{
    ui->checkBox_matchCase->setEnabled(checked);
    ui->checkBox_lookAt->setEnabled(checked);
    ui->comboBox_searchOrder->setEnabled(checked);
}
