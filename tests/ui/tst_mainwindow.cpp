// The main window as a user meets it: first start, form, status bar, status texts, file count,
// menu and shortcuts.
#include "tst_mainwindow.h"
#include "automation/excelapp/excelapp.h"
#include "uidriver.h"

#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include "ui/codeeditor.h"
#include "ui/qtablewidgetex.h"
#include "ui/translations.h"

using namespace uidriver;

QStringList TstMainWindow::makeFiles(const QStringList &names)
{
    QStringList paths;
    for (const QString &n : names) {
        const QString p = files.path() + QLatin1Char('/') + n;
        QFile f(p);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(p));
        paths << p;
    }
    return paths;
}

void TstMainWindow::initTestCase()
{
    excelapp::registerApplication();
    quietOffscreenWarnings();
    QVERIFY(data.isValid());
    QVERIFY(files.isValid());
    useDataDir(data.path());
}

void TstMainWindow::init()
{
    QFile::remove(options());
}

void TstMainWindow::firstStart()
{
    QVERIFY(!QFile::exists(options()));
    MainWindow w;
    QVERIFY(w.windowState() & Qt::WindowMaximized);
    QVERIFY(w.isVisible());
    auto *tabs = child<QTabWidget>(&w, "tabWidget_1");
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->tabText(tabs->currentIndex()), QStringLiteral("方式1"));
    QCOMPARE(child<QLineEdit>(&w, "lineEdit_Separator")->text(), QStringLiteral("|"));
    QVERIFY(child<QRadioButton>(&w, "radioButton_key")->isChecked());
    QVERIFY(!child<QRadioButton>(&w, "radioButton_position")->isChecked());
    QVERIFY(!child<QCheckBox>(&w, "checkBox_lookAt")->isChecked());
    QVERIFY(!child<QCheckBox>(&w, "checkBox_matchCase")->isChecked());
    QCOMPARE(child<QComboBox>(&w, "comboBox_searchOrder")->currentText(), QStringLiteral("按行"));
    auto *sheet = child<QComboBox>(&w, "comboBox");
    QCOMPARE(sheet->currentText(), QStringLiteral("默认页"));
    QVERIFY(!sheet->isEditable());
    for (const char *name : {"checkBox_lookAt", "checkBox_matchCase", "comboBox_searchOrder",
                             "pushButton_replace", "pushButton_ClearAll"})
        QVERIFY2(child<QWidget>(&w, name)->isEnabled(), name);
}

void TstMainWindow::title()
{
    MainWindow w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Trelvix V5.0.0.3"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Trelvix V") + QCoreApplication::applicationVersion());
}

void TstMainWindow::tooltips_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("tip");
    QTest::newRow("run") << "pushButton_replace"
                         << "替换(CTRL_SHIFT+H)";
    QTest::newRow("clear all") << "pushButton_ClearAll"
                               << "清空(CTRL_SHIFT+C)";
    for (const char *way : {"1", "2"}) {
        const QString prefix = QStringLiteral("pushButton_list%1_").arg(way);
        QTest::addRow("list %s folders", way) << prefix + "Adds"
                                              << "Ctrl+P";
        QTest::addRow("list %s files", way) << prefix + "Add"
                                            << "Ctrl+F";
        QTest::addRow("list %s export", way) << prefix + "Save"
                                             << "Ctrl+S";
        QTest::addRow("list %s import", way) << prefix + "Import"
                                             << "Ctrl+I";
        QTest::addRow("list %s clear", way) << prefix + "Clear"
                                            << "Ctrl+Del";
    }
    QTest::newRow("remove 1 has none") << "pushButton_list1_Remove"
                                       << "";
    QTest::newRow("remove rows has none") << "pushButton_list2_RemoveRow"
                                          << "";
    QTest::newRow("remove columns has none") << "pushButton_list2_RemoveColumn"
                                             << "";
    QTest::newRow("key clear has none") << "pushButton_keyClear"
                                        << "";
}

void TstMainWindow::tooltips()
{
    QFETCH(QString, button);
    QFETCH(QString, tip);
    MainWindow w;
    auto *b = w.findChild<QPushButton *>(button);
    QVERIFY(b);
    QCOMPARE(b->toolTip(), tip);
}

void TstMainWindow::tablesInitialShape()
{
    MainWindow w;
    auto *list1 = child<QTableWidget>(&w, "tableWidget_list1");
    QCOMPARE(list1->rowCount(), 0);
    QCOMPARE(list1->columnCount(), 1);
    QCOMPARE(list1->horizontalHeaderItem(0)->text(), QStringLiteral("文件名"));
    QCOMPARE(list1->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(list1->showGrid());
    QCOMPARE(list1->horizontalHeader()->sectionResizeMode(0), QHeaderView::ResizeToContents);
    QVERIFY(list1->testAttribute(Qt::WA_MouseTracking));

    auto *list2 = child<QTableWidget>(&w, "tableWidget_list2");
    QCOMPARE(list2->rowCount(), 1);
    QCOMPARE(list2->columnCount(), 1);
    QCOMPARE(list2->horizontalHeaderItem(0)->text(), QStringLiteral("关键字或位置"));
    QVERIFY(list2->showGrid());
    QCOMPARE(list2->horizontalHeader()->sectionResizeMode(0), QHeaderView::ResizeToContents);
    QVERIFY(list2->item(0, 0));
    QVERIFY(list2->item(0, 0)->text().isEmpty());
    QVERIFY(list2->item(0, 0)->flags() & Qt::ItemIsEditable);
    QVERIFY(list2->editTriggers() != QAbstractItemView::NoEditTriggers);
    QVERIFY(list2->testAttribute(Qt::WA_MouseTracking));
}

void TstMainWindow::statusBar()
{
    MainWindow w;
    QCoreApplication::processEvents();
    QCOMPARE(statusTexts(&w), (QStringList{" 文件(0)", " 成功(0)", " 失败(0)", " 丢失(0)",
                                           " 就绪★★★处理之前请自行对文件进行备份★★★"}));
    // The status text takes the room that is left.
    const QList<QLabel *> labels = statusLabels(&w);
    QVERIFY(labels.last()->width() > labels.first()->width());
}

void TstMainWindow::stateTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const QMap<int, QString> table = {
        {1, "添加目录文件中..."},
        {2, "添加目录文件完毕!"},
        {3, "添加目录文件被取消!"},
        {9, "添加文件中..."},
        {10, "添加文件完毕!"},
        {11, "添加文件被取消!"},
        {13, "文件已存在!"},
        {17, "删除文件中..."},
        {18, "文件删除完毕!"},
        {25, "列表导出中,请稍后..."},
        {26, "列表导出完毕!"},
        {27, "列表导出被取消!"},
        {33, "列表导入中,请稍后..."},
        {34, "列表导入完毕!"},
        {35, "没有找到对应的列表文件!"},
        {36, "清单数量不足!"},
        {37, "没有在列表043文件中找到对应的清单!"},
        {41, "列表被清空!"},
        {49, "文件替换处理中..."},
        {50, "发现被替换关键字有[空]行,请检查!"},
        {51, "文件替换处理被取消!"},
        {57, "不支持同时拖入被添加文件 和 文件列表文件(.xlsx)!"},
        {58, "拖入文件类型不受支持!"},
    };
    // Every code of the range, the gaps taking the fallback, and codes
    // beyond it on both sides.
    QList<int> codes = {-2147483647 - 1, -58, -1, 59, 64, 100, 2147483647};
    for (int c = 0; c <= 58; ++c)
        codes << c;
    for (int c : codes) {
        const QString text = table.contains(c)
                                 ? table.value(c)
                                 : QString::number(c) + QStringLiteral(" 咦?这是神马操作?");
        QTest::addRow("code %d", c) << c << text;
    }
}

void TstMainWindow::stateTexts()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    MainWindow w;
    emit w.stateChangedSignals(code);
    QCOMPARE(statusLabels(&w).last()->text(), text);
    // Nothing else of the status bar changes.
    QCOMPARE(statusTexts(&w).mid(0, 4),
             (QStringList{" 文件(0)", " 成功(0)", " 失败(0)", " 丢失(0)"}));
}

void TstMainWindow::fileCountFollowsTab()
{
    const QStringList three = makeFiles({"count1.xlsx", "count2.xlsx", "count3.xls"});
    MainWindow w;
    auto *tabs = child<QTabWidget>(&w, "tabWidget_1");
    QVERIFY(addFilesThroughDialog(child<QPushButton>(&w, "pushButton_list1_Add"), three));
    QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(3)"));

    tabs->setCurrentIndex(1);
    QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(0)"));
    QVERIFY(addFilesThroughDialog(child<QPushButton>(&w, "pushButton_list2_Add"), three.mid(0, 1)));
    QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(1)"));

    tabs->setCurrentIndex(0);
    QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(3)"));
    tabs->setCurrentIndex(1);
    QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(1)"));

    // A signal for the other list's change still counts the shown one.
    emit w.fileNumChangedSignals();
    QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(1)"));
}

void TstMainWindow::formKeepsObjectName()
{
    QMainWindow named;
    named.setObjectName(QStringLiteral("mine"));
    Ui::MainWindow a;
    a.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("mine"));
    QVERIFY(named.acceptDrops());
    QCOMPARE(named.size(), QSize(802, 411));

    QMainWindow plain;
    Ui::MainWindow b;
    b.setupUi(&plain);
    QCOMPARE(plain.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(plain.windowTitle(), QStringLiteral("MainWindow"));
    QVERIFY(!b.tabWidget_1->acceptDrops());
    QVERIFY(!b.tableWidget_list1->acceptDrops());
    QVERIFY(!b.tableWidget_list2->acceptDrops());
    QCOMPARE(b.lineEdit_Separator->maximumWidth(), 30);
    QCOMPARE(b.splitter->handleWidth(), 2);
    QCOMPARE(b.splitter->orientation(), Qt::Horizontal);
    QCOMPARE(b.label_8->frameShape(), QFrame::VLine);
    QCOMPARE(b.buttonGroup->buttons(),
             (QList<QAbstractButton *>{b.radioButton_key, b.radioButton_position}));
    QVERIFY(b.buttonGroup->exclusive());
    QCOMPARE(b.label->text(),
             QStringLiteral(
                 "方式一：多个文件相同文本替换成相同文本  多个EXCEL中的A全部替换成B 相同内容"));
    QCOMPARE(b.label_2->text(),
             QStringLiteral(
                 "方式二：多个文件相同文本分别替换成不同文本  多个EXCEL中的A分别替换成B、C、D... "
                 "不同内容"));
    QStringList items;
    for (int i = 0; i < b.comboBox->count(); ++i)
        items << b.comboBox->itemText(i);
    QCOMPARE(items, (QStringList{"默认页", "首表", "尾表", "所有表", "指定表"}));
    QCOMPARE(b.comboBox_searchOrder->itemText(1), QStringLiteral("按列"));
}

void TstMainWindow::menus()
{
    MainWindow w;
    QStringList bar;
    for (QAction *a : w.menuBar()->actions())
        bar << a->text();
    QCOMPARE(bar, (QStringList{"文件(&F)", "帮助(&H)"}));
    QStringList file;
    for (QAction *a : child<QMenu>(&w, "menu_F")->actions())
        file << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    QCOMPARE(file, (QStringList{"action_Adds", "action_Add", "-", "action_Save", "action_Import",
                                "-", "action_Clear", "-", "action_Quit"}));
    QStringList help;
    for (QAction *a : child<QMenu>(&w, "menu_H")->actions())
        help << a->text();
    QCOMPARE(help, (QStringList{"说明文档(&H)", "关于(&P)"}));
}

void TstMainWindow::shortcuts_data()
{
    QTest::addColumn<QString>("object");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text");
    const int C = Qt::ControlModifier, CS = Qt::ControlModifier | Qt::ShiftModifier;
    QTest::newRow("F1 help") << "action" << int(Qt::Key_F1) << 0 << "说明文档(&H)";
    QTest::newRow("F12 about") << "action_P" << int(Qt::Key_F12) << 0 << "关于(&P)";
    QTest::newRow("Ctrl+P folders") << "action_Adds" << int(Qt::Key_P) << C << "添加目录(&P)";
    QTest::newRow("Ctrl+F files") << "action_Add" << int(Qt::Key_F) << C << "添加文件(&A)";
    QTest::newRow("Ctrl+S export") << "action_Save" << int(Qt::Key_S) << C << "导出列表(&S)";
    QTest::newRow("Ctrl+I import") << "action_Import" << int(Qt::Key_I) << C << "导入列表(&I)";
    QTest::newRow("Ctrl+Del clear") << "action_Clear" << int(Qt::Key_Delete) << C << "清空列表(&C)";
    QTest::newRow("Ctrl+Shift+H run") << "pushButton_replace" << int(Qt::Key_H) << CS << "开始替换";
    QTest::newRow("Ctrl+Shift+C clear all")
        << "pushButton_ClearAll" << int(Qt::Key_C) << CS << "全部清空";
}

void TstMainWindow::shortcuts()
{
    QFETCH(QString, object);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, text);

    UrlCatcher urls;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &urls, "open");
    MainWindow w;
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QObject *target = w.findChild<QObject *>(object);
    QVERIFY(target);
    std::unique_ptr<QSignalSpy> spy;
    if (auto *a = qobject_cast<QAction *>(target)) {
        QCOMPARE(a->text(), text);
        spy.reset(new QSignalSpy(a, &QAction::triggered));
    } else {
        auto *b = qobject_cast<QAbstractButton *>(target);
        QCOMPARE(b->text(), text);
        spy.reset(new QSignalSpy(b, &QAbstractButton::clicked));
    }
    {
        DismissAll dismiss; // whatever the action opens is cancelled
        QTest::keyClick(&w, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        // A button's shortcut animates a click, which ends a moment later.
        if (spy->isEmpty())
            QVERIFY(spy->wait(10000));
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(spy->count(), 1);
}

void TstMainWindow::help()
{
    UrlCatcher urls;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &urls, "open");
    MainWindow w;
    child<QAction>(&w, "action")->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    // help.chm of the working folder, named absolutely: the desktop's opener
    // rejects a relative file URL.
    QCOMPARE(urls.urls, (QList<QUrl>{QUrl::fromLocalFile(
                            QDir::current().absoluteFilePath(QStringLiteral("help.chm")))}));
    QVERIFY(QDir::isAbsolutePath(urls.urls.value(0).toLocalFile()));
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void TstMainWindow::qtTextsInChinese()
{
    QObject owner; // the translations are removed with it
    QVERIFY(installQtTranslations(&owner));
    MainWindow w;
    QStringList seen;
    {
        OnModal<QMessageBox> about([&seen](QMessageBox *box) {
            seen << box->buttons().value(0)->text();
            box->buttons().value(0)->click();
        });
        child<QAction>(&w, "action_P")->trigger();
    }
    {
        OnModal<QFileDialog> files([&seen](QFileDialog *d) {
            seen << d->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->text();
            seen << d->findChild<QLabel *>(QStringLiteral("fileTypeLabel"))->text();
            d->reject();
        });
        child<QPushButton>(&w, "pushButton_list1_Add")->click();
    }
    QCOMPARE(seen, (QStringList{QStringLiteral("确定"), QStringLiteral("取消"),
                                QStringLiteral("文件类型：")}));
}

void TstMainWindow::about()
{
    MainWindow w;
    BoxSeen seen;
    OnModal<QMessageBox> answer(closeBox(&seen));
    child<QAction>(&w, "action_P")->trigger();
    QVERIFY(answer.fired());
    QCOMPARE(seen.title, QStringLiteral("关于Tabrix"));
    const QStringList lines = seen.text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.first(), QStringLiteral("提供建议、意见 或定做软件。"));
    QVERIFY(!lines.last().isEmpty());
    QVERIFY(!lines.last().contains(QStringLiteral("5.0.0.3")));
    QCOMPARE(seen.buttons, 1);
    QCOMPARE(seen.standardButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

void TstMainWindow::sheetChoice_data()
{
    QTest::addColumn<QList<int>>("choices");
    QTest::addColumn<bool>("editable");
    QTest::newRow("指定表") << QList<int>{4} << true;
    QTest::newRow("指定表 twice") << QList<int>{4, 4} << true;
    QTest::newRow("指定表 then 默认页") << QList<int>{4, 0} << false;
    QTest::newRow("指定表 then 首表") << QList<int>{4, 1} << false;
    QTest::newRow("指定表 then 尾表") << QList<int>{4, 2} << false;
    QTest::newRow("指定表 then 所有表") << QList<int>{4, 3} << false;
    QTest::newRow("尾表") << QList<int>{2} << false;
}

void TstMainWindow::sheetChoice()
{
    QFETCH(QList<int>, choices);
    QFETCH(bool, editable);
    MainWindow w;
    auto *sheet = child<QComboBox>(&w, "comboBox");
    for (int c : choices)
        sheet->setCurrentIndex(c);
    QCOMPARE(sheet->isEditable(), editable);
    QCOMPARE(sheet->currentIndex(), choices.last());
}

void TstMainWindow::sheetListCommittedWithEnter()
{
    MainWindow w;
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto *sheet = child<QComboBox>(&w, "comboBox");
    sheet->setCurrentIndex(4);
    QVERIFY(sheet->isEditable());
    sheet->lineEdit()->selectAll();
    QTest::keyClicks(sheet->lineEdit(), QStringLiteral("2,5"));
    QTest::keyClick(sheet->lineEdit(), Qt::Key_Return);
    QCOMPARE(sheet->count(), 6);
    QCOMPARE(sheet->currentIndex(), 5);
    QCOMPARE(sheet->currentText(), QStringLiteral("2,5"));
    QVERIFY(!sheet->isEditable());
}

void TstMainWindow::keywordOptionsFollowMode()
{
    MainWindow w;
    const auto enabled = [&] {
        return QList<bool>{child<QWidget>(&w, "checkBox_matchCase")->isEnabled(),
                           child<QWidget>(&w, "checkBox_lookAt")->isEnabled(),
                           child<QWidget>(&w, "comboBox_searchOrder")->isEnabled()};
    };
    auto *position = child<QRadioButton>(&w, "radioButton_position");
    auto *key = child<QRadioButton>(&w, "radioButton_key");
    QTest::mouseClick(position, Qt::LeftButton, Qt::NoModifier, QPoint(4, position->height() / 2));
    QVERIFY(!key->isChecked());
    QCOMPARE(enabled(), (QList<bool>{false, false, false}));
    QTest::mouseClick(key, Qt::LeftButton, Qt::NoModifier, QPoint(4, key->height() / 2));
    QVERIFY(!position->isChecked());
    QCOMPARE(enabled(), (QList<bool>{true, true, true}));
}

void TstMainWindow::screenshot()
{
    const QStringList listed =
        makeFiles({"季度报表.xlsx", "客户名单.xls", "inventory-2024.xlsx", "合同台账.xlsx"});
    MainWindow w;
    // The offscreen screen is small; show the window as on a desktop.
    w.showNormal();
    w.resize(1280, 560);
    QVERIFY(addFilesThroughDialog(child<QPushButton>(&w, "pushButton_list1_Add"), listed));
    child<CodeEditor>(&w, "plainTextEdit_s1")->setPlainText("北京|上海\n旧公司名称\nA1");
    child<CodeEditor>(&w, "plainTextEdit_s2")->setPlainText("广州\n新公司名称\n2024年");
    QCoreApplication::processEvents();
    QVERIFY(w.grab().save(QDir::temp().filePath(QStringLiteral("trelvix_window_tab1.png"))));

    auto *tabs = child<QTabWidget>(&w, "tabWidget_1");
    tabs->setCurrentIndex(1);
    QVERIFY(
        addFilesThroughDialog(child<QPushButton>(&w, "pushButton_list2_Add"), listed.mid(0, 2)));
    auto *table = child<QTableWidget>(&w, "tableWidget_list2");
    table->item(0, 0)->setText(QStringLiteral("北京"));
    table->setItem(0, 1, new QTableWidgetItem(QStringLiteral("广州")));
    table->setItem(0, 2, new QTableWidgetItem(QStringLiteral("深圳")));
    QCoreApplication::processEvents();
    QVERIFY(w.grab().save(QDir::temp().filePath(QStringLiteral("trelvix_window_tab2.png"))));
}

int main(int argc, char **argv)
{

    if (argc > 1 &&
        (qstrcmp(argv[1], "--quit-child") == 0 || qstrcmp(argv[1], "--close-child") == 0))
        return quitChild(argc, argv);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TstMainWindow tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
