#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include <cstdlib>

void writeIni(const QString &path, const QString &group, const QString &key, const QString &value)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(group);
    settings.setValue(key, value);
    settings.endGroup();
}

QString readIni(const QString &path, const QString &group, const QString &key, const QString &def)
{
    QSettings settings(path, QSettings::IniFormat);
    return settings.value(group + QLatin1Char('/') + key, def).toString();
}

namespace {

// The words stored for the fixed sheet choices, by combo box entry.
const char *const sheetWords[] = {"Default", "First", "Last", "All"};
const int sheetWordCount = 4;
const int typedSheetEntry = 4; // "指定表"

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    appVersion = QCoreApplication::applicationVersion();
    settingsDirName = QStringLiteral("qvoRt_") + appVersion;
    settingsPath = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                   QLatin1Char('/') + settingsDirName + QStringLiteral("/qvoRt");
    runTab = 0;

    ui->setupUi(this);
    showMaximized();
    setWindowTitle(QStringLiteral("Trelvix V") + appVersion);
    ui->pushButton_replace->setToolTip(QStringLiteral("替换(CTRL_SHIFT+H)"));
    ui->pushButton_ClearAll->setToolTip(QStringLiteral("清空(CTRL_SHIFT+C)"));

    qRegisterMetaType<STATE>("STATE");
    qRegisterMetaType<STATE>("STATE&");

    // Restore the run options.
    const QString set = QStringLiteral("set");
    ui->tabWidget_1->setCurrentIndex(readIni(settingsPath, set, "way", QString()).toInt());
    ui->lineEdit_Separator->setText(readIni(settingsPath, set, "separator", "|"));
    const int key = readIni(settingsPath, set, "key", "1").toInt();
    if (key == 0)
        ui->radioButton_position->setChecked(true);
    else if (key == 1)
        ui->radioButton_key->setChecked(true);
    if (ui->radioButton_key->isChecked()) {
        ui->checkBox_matchCase->setChecked(readIni(settingsPath, set, "matchCase", "0").toInt() !=
                                           0);
        ui->comboBox_searchOrder->setCurrentIndex(
            readIni(settingsPath, set, "searchOrder", "0").toInt());
        ui->checkBox_lookAt->setChecked(readIni(settingsPath, set, "lookAt", "0").toInt() != 0);
    }
    const QString comIndex = readIni(settingsPath, set, "comIndex", QString());
    int fixed = comIndex.isEmpty() ? 0 : -1;
    for (int i = 0; i < sheetWordCount && fixed < 0; ++i) {
        if (comIndex == QLatin1String(sheetWords[i]))
            fixed = i;
    }
    if (fixed >= 0) {
        ui->comboBox->setCurrentIndex(fixed);
    } else {
        // A typed sheet list: select "指定表" first so that the text is saved
        // again on the next close, then put the text in the edit field.
        ui->comboBox->setCurrentIndex(typedSheetEntry);
        ui->comboBox->setEditable(true);
        ui->comboBox->setCurrentText(comIndex);
    }
    ui->radioButton_position->setChecked(!ui->radioButton_key->isChecked());

    ui->tableWidget_list1->setAttribute(Qt::WA_MouseTracking);
    ui->tableWidget_list2->setAttribute(Qt::WA_MouseTracking);

    connect(
        ui->tableWidget_list1, &QTableWidgetEx::mouseLeftDoubled, ui->tableWidget_list1,
        [this] { openList1Folder(); }, Qt::DirectConnection);
    connect(
        ui->tableWidget_list2, &QTableWidgetEx::mouseLeftDoubled, ui->tableWidget_list2,
        [this] { openList2Folder(); }, Qt::DirectConnection);

    ui->pushButton_list1_Adds->setToolTip(QStringLiteral("Ctrl+P"));
    ui->pushButton_list1_Add->setToolTip(QStringLiteral("Ctrl+F"));
    ui->pushButton_list1_Save->setToolTip(QStringLiteral("Ctrl+S"));
    ui->pushButton_list1_Import->setToolTip(QStringLiteral("Ctrl+I"));
    ui->pushButton_list1_Clear->setToolTip(QStringLiteral("Ctrl+Del"));
    ui->pushButton_list2_Adds->setToolTip(QStringLiteral("Ctrl+P"));
    ui->pushButton_list2_Add->setToolTip(QStringLiteral("Ctrl+F"));
    ui->pushButton_list2_Save->setToolTip(QStringLiteral("Ctrl+S"));
    ui->pushButton_list2_Import->setToolTip(QStringLiteral("Ctrl+I"));
    ui->pushButton_list2_Clear->setToolTip(QStringLiteral("Ctrl+Del"));

    QTableWidget *list1 = ui->tableWidget_list1;
    list1->setRowCount(0);
    list1->setColumnCount(1);
    list1->setHorizontalHeaderLabels({QStringLiteral("文件名")});
    list1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list1->setShowGrid(true);
    list1->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    QTableWidget *list2 = ui->tableWidget_list2;
    list2->setRowCount(1);
    list2->setColumnCount(1);
    list2->setHorizontalHeaderLabels({QStringLiteral("关键字或位置")});
    list2->setShowGrid(true);
    list2->setItem(0, 0, new QTableWidgetItem());
    list2->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    fileCountLabel = new QLabel(QStringLiteral(" 文件(0)"));
    successLabel = new QLabel();
    failLabel = new QLabel();
    missingLabel = new QLabel();
    statusLabel = new QLabel(QStringLiteral(" 就绪★★★处理之前请自行对文件进行备份★★★"));
    ui->statusbar->addWidget(fileCountLabel, 0);
    ui->statusbar->addWidget(successLabel, 0);
    ui->statusbar->addWidget(failLabel, 0);
    ui->statusbar->addWidget(missingLabel, 0);
    ui->statusbar->addWidget(statusLabel, -1);

    resetCounters();

    connect(
        this, &MainWindow::fileNumChangedSignals, this, [this] { updateFileCount(); },
        Qt::DirectConnection);
    connect(this, &MainWindow::stateChangedSignals, this, &MainWindow::showStateText);
}

MainWindow::~MainWindow()
{
    const QString set = QStringLiteral("set");
    writeIni(settingsPath, set, "way", QString::number(ui->tabWidget_1->currentIndex()));
    writeIni(settingsPath, set, "separator", ui->lineEdit_Separator->text());
    const int sheet = ui->comboBox->currentIndex();
    writeIni(settingsPath, set, "comIndex",
             sheet >= 0 && sheet < sheetWordCount ? QString::fromLatin1(sheetWords[sheet])
                                                  : ui->comboBox->currentText());
    writeIni(settingsPath, set, "key", QString::number(ui->radioButton_key->isChecked()));
    writeIni(settingsPath, set, "matchCase", QString::number(ui->checkBox_matchCase->isChecked()));
    writeIni(settingsPath, set, "searchOrder",
             QString::number(ui->comboBox_searchOrder->currentIndex()));
    writeIni(settingsPath, set, "lookAt", QString::number(ui->checkBox_lookAt->isChecked()));
    delete ui;
}

void MainWindow::showStateText(int stateCode)
{
    static const QHash<int, QString> texts = {
        {1, QStringLiteral("添加目录文件中...")},
        {2, QStringLiteral("添加目录文件完毕!")},
        {3, QStringLiteral("添加目录文件被取消!")},
        {9, QStringLiteral("添加文件中...")},
        {10, QStringLiteral("添加文件完毕!")},
        {11, QStringLiteral("添加文件被取消!")},
        {13, QStringLiteral("文件已存在!")},
        {17, QStringLiteral("删除文件中...")},
        {18, QStringLiteral("文件删除完毕!")},
        {25, QStringLiteral("列表导出中,请稍后...")},
        {26, QStringLiteral("列表导出完毕!")},
        {27, QStringLiteral("列表导出被取消!")},
        {33, QStringLiteral("列表导入中,请稍后...")},
        {34, QStringLiteral("列表导入完毕!")},
        {35, QStringLiteral("没有找到对应的列表文件!")},
        {36, QStringLiteral("清单数量不足!")},
        {37, QStringLiteral("没有在列表043文件中找到对应的清单!")},
        {41, QStringLiteral("列表被清空!")},
        {49, QStringLiteral("文件替换处理中...")},
        {50, QStringLiteral("发现被替换关键字有[空]行,请检查!")},
        {51, QStringLiteral("文件替换处理被取消!")},
        {57, QStringLiteral("不支持同时拖入被添加文件 和 文件列表文件(.xlsx)!")},
        {58, QStringLiteral("拖入文件类型不受支持!")},
    };
    const auto it = texts.constFind(stateCode);
    statusLabel->setText(it != texts.constEnd() ? *it
                                                : QString::number(stateCode, 10) +
                                                      QStringLiteral(" 咦?这是神马操作?"));
}

void MainWindow::updateFileCount()
{
    int n;
    switch (ui->tabWidget_1->currentIndex()) {
    case 0:
        n = files1.size();
        break;
    case 1:
        n = files2.size();
        break;
    default:
        return;
    }
    fileCountLabel->setText(QStringLiteral(" 文件(") + QString::number(n) + QLatin1Char(')'));
}

void MainWindow::on_action_triggered()
{
    // help.chm of the working folder, by its absolute path: the desktop's
    // opener takes no relative file URL.
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("help.chm"))));
}

void MainWindow::on_action_P_triggered()
{
    QMessageBox::information(this, QStringLiteral("关于Tabrix"),
                             QStringLiteral("提供建议、意见 或定做软件。\n"
                                            "请通过本项目的问题跟踪页面与作者联系。"),
                             QMessageBox::Ok, QMessageBox::NoButton);
}

void MainWindow::on_action_Quit_triggered()
{
    // A run ends first: no workbook is left half-saved.
    if (running) {
        quitAfterRun = true;
        return;
    }
    std::exit(0);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (running) {
        closeAfterRun = true;
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::on_tabWidget_1_currentChanged(int /*index*/)
{
    emit fileNumChangedSignals();
}

void MainWindow::on_comboBox_currentIndexChanged(QString arg1)
{
    ui->comboBox->setEditable(arg1 == QStringLiteral("指定表"));
}
