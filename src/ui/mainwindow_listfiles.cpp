// Export and import of the list files of both tabs.
#include "ui/mainwindow.h"

#include "ui/listfile.h"
#include "ui/savefailure.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <QTextBlock>
#include <QTextDocument>

namespace {

const char *const kFileFilter = "XLS表格(*.xlsx)";

// Every line of the editor in document order, one per text block (an empty
// editor still has one empty line).
QStringList editorLines(const QPlainTextEdit *editor)
{
    QStringList lines;
    for (QTextBlock b = editor->document()->begin(); b.isValid(); b = b.next())
        lines.append(b.text());
    return lines;
}

QString askSavePath(QWidget *parent, const QString &proposedName)
{
    return QFileDialog::getSaveFileName(parent, QStringLiteral("选择保存目录:"),
                                        QStringLiteral("./") + proposedName +
                                            QStringLiteral(".xlsx"),
                                        QString::fromUtf8(kFileFilter));
}

QString askOpenPath(QWidget *parent)
{
    return QFileDialog::getOpenFileName(parent, QStringLiteral("选择文件列表E文件:"),
                                        QStringLiteral("."), QString::fromUtf8(kFileFilter));
}

// The user reads the reason in Chinese; the library's own words, which name
// the file and the part, go to the log.
void warnSaveFailed(QWidget *parent, const QString &path, const QString &error)
{
    qWarning().noquote() << "list export failed:" << error;
    QMessageBox::warning(parent, QStringLiteral("警告"),
                         QStringLiteral("列表导出失败:\n%1\n%2")
                             .arg(QDir::toNativeSeparators(path), saveFailureReason(path)),
                         QMessageBox::Ok, QMessageBox::NoButton);
}

// Status codes of the list files.
enum : int
{
    ExportStarted = 25,
    ExportDone = 26,
    ExportCancelled = 27,
    ImportStarted = 33,
    ImportDone = 34,
    NoListFile = 35,
    TooFewSheets = 36,
    SheetMissing = 37,
};

int refusalCode(listfile::LoadResult result)
{
    switch (result) {
    case listfile::LoadResult::NoPath:
        return NoListFile;
    case listfile::LoadResult::TooFewSheets:
        return TooFewSheets;
    case listfile::LoadResult::SheetMissing:
    case listfile::LoadResult::Loaded:
        break;
    }
    return SheetMissing;
}

} // namespace

void MainWindow::on_pushButton_list1_Save_clicked()
{
    emit stateChangedSignals(ExportStarted);
    const QString path = askSavePath(this, listfile::firstWayBaseName());
    if (path.isEmpty()) {
        emit stateChangedSignals(ExportCancelled);
        return;
    }
    const listfile::FirstWay content{files1, editorLines(ui->plainTextEdit_s1),
                                     editorLines(ui->plainTextEdit_s2)};
    QString error;
    if (!listfile::saveFirstWay(path, content, &error)) {
        warnSaveFailed(this, path, error);
        emit stateChangedSignals(ExportCancelled);
        return;
    }
    emit stateChangedSignals(ExportDone);
}

void MainWindow::on_pushButton_list2_Save_clicked()
{
    emit stateChangedSignals(ExportStarted);
    const QString path = askSavePath(this, listfile::secondWayBaseName());
    if (path.isEmpty()) {
        emit stateChangedSignals(ExportCancelled);
        return;
    }
    // Every row but the last (the empty entry row), every column; a cell
    // without an item is written as empty text.
    listfile::SecondWay content;
    content.files = files2;
    const QTableWidget *table = ui->tableWidget_list2;
    for (int r = 0; r < table->rowCount() - 1; ++r) {
        QStringList row;
        for (int c = 0; c < table->columnCount(); ++c) {
            const QTableWidgetItem *item = table->item(r, c);
            row.append(item ? item->text() : QString());
        }
        content.rows.append(row);
    }
    QString error;
    if (!listfile::saveSecondWay(path, content, &error)) {
        warnSaveFailed(this, path, error);
        emit stateChangedSignals(ExportCancelled);
        return;
    }
    emit stateChangedSignals(ExportDone);
}

void MainWindow::on_pushButton_list1_Import_clicked()
{
    emit stateChangedSignals(ImportStarted);
    importList1(askOpenPath(this));
    emit fileNumChangedSignals();
}

void MainWindow::on_pushButton_list2_Import_clicked()
{
    emit stateChangedSignals(ImportStarted);
    importList2(askOpenPath(this));
    emit fileNumChangedSignals();
}

void MainWindow::on_action_Save_triggered()
{
    switch (ui->tabWidget_1->currentIndex()) {
    case 0:
        on_pushButton_list1_Save_clicked();
        break;
    case 1:
        on_pushButton_list2_Save_clicked();
        break;
    default:
        break;
    }
}

void MainWindow::on_action_Import_triggered()
{
    switch (ui->tabWidget_1->currentIndex()) {
    case 0:
        on_pushButton_list1_Import_clicked();
        break;
    case 1:
        on_pushButton_list2_Import_clicked();
        break;
    default:
        break;
    }
}

bool MainWindow::importList1(const QString &path)
{
    // The whole file is read before anything of the window changes, so that a
    // refused file leaves the window as it was.
    listfile::FirstWay content;
    const listfile::LoadResult result = listfile::loadFirstWay(path, &content);
    if (result != listfile::LoadResult::Loaded) {
        emit stateChangedSignals(refusalCode(result));
        return false;
    }

    // Empty the first-way side as "全部清空" does on the first tab.
    resetCounters();
    on_pushButton_list1_Clear_clicked();
    on_pushButton_keyClear_clicked();

    files1 = content.files;
    QTableWidget *table = ui->tableWidget_list1;
    table->setRowCount(files1.size());
    for (int i = 0; i < files1.size(); ++i)
        table->setItem(i, 0, new QTableWidgetItem(QFileInfo(files1.at(i)).fileName()));

    // The editors are filled as whole texts: appending an empty line to an
    // empty editor would not add a line and the pairs would shift.
    if (!content.finds.isEmpty()) {
        ui->plainTextEdit_s1->setPlainText(content.finds.join(QLatin1Char('\n')));
        ui->plainTextEdit_s2->setPlainText(content.replacements.join(QLatin1Char('\n')));
    }

    emit stateChangedSignals(ImportDone);
    return true;
}

bool MainWindow::importList2(const QString &path)
{
    listfile::SecondWay content;
    const listfile::LoadResult result = listfile::loadSecondWay(path, &content);
    if (result != listfile::LoadResult::Loaded) {
        emit stateChangedSignals(refusalCode(result));
        return false;
    }

    // Empty the second-way side as "全部清空" does on the second tab.
    resetCounters();
    on_pushButton_list2_Clear_clicked();

    files2 = content.files;
    QTableWidget *table = ui->tableWidget_list2;
    table->setColumnCount(files2.size() + 1);
    rebuildList2Headers();

    // Each row is added before its items are set, so the row being filled is
    // never the last one and the table's edit rule neither grows it nor
    // objects. The row added last stays as the empty entry row.
    for (int r = 0; r < content.rows.size(); ++r) {
        table->setRowCount(table->rowCount() + 1);
        const QStringList &row = content.rows.at(r);
        for (int j = 0; j <= files2.size(); ++j)
            table->setItem(r, j, new QTableWidgetItem(row.value(j)));
    }

    emit stateChangedSignals(ImportDone);
    return true;
}
