// The batch run: checking the input of the shown way, one job per listed file
// on the run's own pool, and the tallies and progress of the reports.
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QThreadPool>
#include <QVector>
#include <QtConcurrent>

namespace {

// At most this many workbooks are open at once in one run.
constexpr int maxJobsAtOnce = 8;
// While a run waits, the window handles its events at least this often.
constexpr int waitSliceMs = 15;

// Appends a pair for every non-empty part of `keys` split at `separator`.
void appendPairs(QVector<KeyPair> &pairs, const QString &keys, const QString &separator,
                 const QString &value)
{
    const QStringList parts = keys.split(separator, Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (const QString &part : parts) {
        if (!part.isEmpty())
            pairs.append(KeyPair(part, value));
    }
}

QStringList blockTexts(const QPlainTextEdit *edit)
{
    QStringList lines;
    for (QTextBlock b = edit->document()->begin(); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

} // namespace

void MainWindow::on_pushButton_replace_clicked()
{
    if (running)
        return; // one run at a time
    emit stateChangedSignals(49);
    resetCounters();
    setReplaceControlsEnabled(false);
    const QString separator = ui->lineEdit_Separator->text();
    runTab = ui->tabWidget_1->currentIndex();

    const auto refuse = [this](int code, const QString &title = QString(),
                               const QString &text = QString()) {
        emit stateChangedSignals(code);
        if (!title.isEmpty())
            QMessageBox::warning(this, title, text, QMessageBox::Ok, QMessageBox::NoButton);
        setReplaceControlsEnabled(true);
    };

    // The options of keyword mode are taken only in keyword mode.
    const auto options = [this]() {
        Param par;
        par.isKeyMode = ui->radioButton_key->isChecked();
        if (par.isKeyMode) {
            par.matchCase = ui->checkBox_matchCase->isChecked();
            par.lookAt = 2 - (ui->checkBox_lookAt->isChecked() ? 1 : 0);
            par.searchOrder = ui->comboBox_searchOrder->currentIndex() + 1;
        }
        par.sheetIndex = ui->comboBox->currentText();
        return par;
    };

    QThreadPool pool;

    if (runTab == 0) {
        const QString keyText = ui->plainTextEdit_s1->toPlainText();
        if (files1.isEmpty())
            return refuse(51, QStringLiteral("警告"), QStringLiteral("Excel文件列表为空,请添加!"));
        if (keyText.contains(QStringLiteral("\n\n")))
            return refuse(51, QStringLiteral("警告"),
                          QStringLiteral("【被替换关键字】存在空行，请检查!"));
        if (ui->plainTextEdit_s1->blockCount() != ui->plainTextEdit_s2->blockCount())
            return refuse(
                51, QStringLiteral("警告"),
                QStringLiteral("【被替换关键字】与【欲替换为】内容条目数量不一致，请检查!"));
        if (keyText.isEmpty())
            return refuse(51, QStringLiteral("警告!"),
                          QStringLiteral("无【被替换关键字】内容，请填写!"));
        total = files1.size();

        const QStringList keyLines = blockTexts(ui->plainTextEdit_s1);
        const QStringList valueLines = blockTexts(ui->plainTextEdit_s2);
        for (const QString &line : keyLines) {
            if (line.isEmpty())
                return refuse(50);
        }
        QVector<KeyPair> pairs;
        for (int i = 0; i < keyLines.size(); ++i)
            appendPairs(pairs, keyLines.at(i), separator, valueLines.value(i));

        Param par = options();
        par.keys = pairs;

        pool.setMaxThreadCount(maxJobsAtOnce);
        for (int i = 0; i < total; ++i) {
            if (QFileInfo(files1.at(i)).isFile()) {
                qDebug() << i;
                QtConcurrent::run(&pool, this, &MainWindow::replaceJob1, i, par);
            } else {
                qWarning().noquote() << Rep::unreachableReason(files1.at(i));
                onRepDone(nullptr, LOST, i);
            }
        }
    } else if (runTab == 1) {
        if (files2.isEmpty()) {
            emit stateChangedSignals(51);
            QMessageBox::warning(this, QStringLiteral("警告"),
                                 QStringLiteral("excel文件列表为空,请添加excel文件到列表!"),
                                 QMessageBox::Ok, QMessageBox::NoButton);
            ui->pushButton_replace->setText(QStringLiteral("开始替换(CTRL+SHIFT+H)"));
            setReplaceControlsEnabled(true);
            return;
        }
        total = files2.size();
        QTableWidget *table = ui->tableWidget_list2;
        for (int r = 0; r < table->rowCount() - 1; ++r) {
            const QTableWidgetItem *item = table->item(r, 0);
            if (!item || item->text().isEmpty())
                return refuse(50);
        }
        const Param par = options();

        QList<QStringList> keyRows;
        for (int r = 0; r < table->rowCount() - 1; ++r) {
            QStringList row;
            for (int c = 0; c <= files2.size(); ++c) {
                const QTableWidgetItem *item = table->item(r, c);
                row << (item ? item->text() : QString());
            }
            keyRows << row;
        }

        // One thread per file, bounded like the first way: hundreds of
        // workbooks open at once could exhaust memory.
        pool.setMaxThreadCount(qMin(total, maxJobsAtOnce));
        for (int i = 0; i < total; ++i)
            QtConcurrent::run(&pool, this, &MainWindow::replaceJob2, separator, i, par, keyRows);
    } else {
        return;
    }

    waitForJobs(pool);
}

void MainWindow::waitForJobs(QThreadPool &pool)
{
    // The window goes on repainting and showing the jobs' reports as they
    // arrive, while the user's input waits until the run has ended; drops and
    // close requests, which are not input events, are held off by `running`.
    // No job ever runs on this thread (a job enters its own apartment), so
    // the pool is waited on, never a future.
    running = true;
    while (!pool.waitForDone(waitSliceMs))
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    // The reports of the last jobs, in the order they were sent.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    // Every job has returned: its Rep is no longer in use on its thread.
    qDeleteAll(handledReps);
    handledReps.clear();
    running = false;

    if (quitAfterRun)
        QMetaObject::invokeMethod(
            this, [this] { on_action_Quit_triggered(); }, Qt::QueuedConnection);
    else if (closeAfterRun)
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
    closeAfterRun = quitAfterRun = false;
}

void MainWindow::replaceJob1(int i, Param par)
{
    qDebug() << i;
    Rep *rep = new Rep(files1.at(i), par, i);
    connect(rep, &Rep::done, this, &MainWindow::onRepDone);
    rep->run();
}

void MainWindow::replaceJob2(QString separator, int i, Param par, QList<QStringList> keyRows)
{
    QVector<KeyPair> pairs;
    for (const QStringList &row : qAsConst(keyRows))
        appendPairs(pairs, row.value(0), separator, row.value(i + 1));

    const QString path = files2.at(i);
    if (!QFileInfo(path).isFile()) {
        qWarning().noquote() << Rep::unreachableReason(path);
        QMetaObject::invokeMethod(
            this, [this, i]() { onRepDone(nullptr, LOST, i); }, Qt::QueuedConnection);
        return;
    }
    par.keys = pairs;
    Rep *rep = new Rep(path, par, i);
    connect(rep, &Rep::done, this, &MainWindow::onRepDone);
    rep->run();
}

void MainWindow::onRepDone(Rep *rep, STATE state, int index)
{
    ++doneCount;
    const auto mark = [this, index](const QColor &color) {
        if (runTab == 0) {
            if (QTableWidgetItem *item = ui->tableWidget_list1->item(index, 0))
                item->setBackground(QBrush(color, Qt::SolidPattern));
        } else if (runTab == 1) {
            // A second-way file owns a column: colour its header text and the
            // background of its cells.
            QTableWidget *table = ui->tableWidget_list2;
            const QSignalBlocker noEdit(table); // a colour is no edit of the table
            const int column = index + 1;
            if (QTableWidgetItem *header = table->horizontalHeaderItem(column))
                header->setForeground(QBrush(color, Qt::SolidPattern));
            for (int r = 0; r < table->rowCount(); ++r) {
                if (QTableWidgetItem *item = table->item(r, column))
                    item->setBackground(QBrush(color, Qt::SolidPattern));
            }
        }
    };
    switch (state) {
    case SUCCESS:
        ++successCount;
        successLabel->setText(QStringLiteral(" 成功(%1)").arg(successCount));
        break;
    case FAIL:
        ++failCount;
        failLabel->setText(QStringLiteral(" <font color='red'>失败(%1)</font>").arg(failCount));
        mark(Qt::red);
        break;
    case LOST:
        ++missingCount;
        missingLabel->setText(
            QStringLiteral(" <font color='blue'>丢失(%1)</font>").arg(missingCount));
        mark(Qt::blue);
        break;
    }
    if (doneCount >= total) {
        statusLabel->setText(QStringLiteral("文件替换处理全部完成!"));
        setReplaceControlsEnabled(true);
    } else {
        statusLabel->setText(
            QStringLiteral("文件替换处理中...已完成[%1/%2]").arg(doneCount).arg(total));
    }
    // A report handled while the run waits may come while its job is still
    // returning from the emission on its own thread: such a Rep is deleted
    // once the pool has ended every job.
    if (running && rep)
        handledReps.append(rep);
    else
        delete rep;
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
    if (on)
        ui->pushButton_replace->setShortcut(
            QKeySequence(QStringLiteral("CTRL+SHIFT+H"), QKeySequence::NativeText));
    QWidget *const controls[] = {ui->radioButton_position, ui->radioButton_key,
                                 ui->checkBox_lookAt,      ui->checkBox_matchCase,
                                 ui->comboBox_searchOrder, ui->pushButton_replace,
                                 ui->pushButton_ClearAll};
    for (QWidget *w : controls)
        w->setEnabled(on);
}
