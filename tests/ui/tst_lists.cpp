// The two file lists as a user meets them: the add files and add folder dialogs, folder scans
// and duplicates, and the menu entries that open them.
#include "tst_lists.h"

#include "lists_helpers.h"
#include "uidriver.h"

#include <QAction>
#include <QCheckBox>
#include <QGridLayout>
#include <QListView>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

using namespace listui;
using namespace uidriver;

namespace {

// What a table shows: file names (rows of list 1, headers of list 2).
QStringList shownNames(MainWindow &w, int way)
{
    QTableWidget *t = table(w, way);
    QStringList names;
    if (way == 1) {
        for (int r = 0; r < t->rowCount(); ++r)
            names << (t->item(r, 0) ? t->item(r, 0)->text() : QStringLiteral("<none>"));
    } else {
        for (int c = 1; c < t->columnCount(); ++c)
            names << t->horizontalHeaderItem(c)->text();
    }
    return names;
}

struct FolderDialogSeen
{
    QString title;
    QString directory;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    bool nonNative = false;
    bool dirsOnly = false;
    int selectionMode = -1;
    QString boxText;
    bool boxChecked = false;
    int boxRow = -1, boxColumn = -1, boxRowSpan = -1, boxColumnSpan = -1;
};

// Answers the add-folder dialog: notes what it shows, sets its box, and
// accepts the folders (or cancels when `folders` is empty).
std::function<void(QFileDialog *)> answerFolders(FolderDialogSeen *seen, bool tick,
                                                 const QStringList &folders)
{
    return [=](QFileDialog *d) {
        seen->title = d->windowTitle();
        seen->directory = d->directory().absolutePath();
        seen->mode = d->fileMode();
        seen->nonNative = d->testOption(QFileDialog::DontUseNativeDialog);
        seen->dirsOnly = d->testOption(QFileDialog::ShowDirsOnly);
        if (auto *v = d->findChild<QListView *>(QStringLiteral("listView")))
            seen->selectionMode = v->selectionMode();
        QCheckBox *box = d->findChild<QCheckBox *>();
        if (box) {
            seen->boxText = box->text();
            seen->boxChecked = box->isChecked();
            auto *grid = qobject_cast<QGridLayout *>(d->layout());
            const int at = grid ? grid->indexOf(box) : -1;
            if (at >= 0)
                grid->getItemPosition(at, &seen->boxRow, &seen->boxColumn, &seen->boxRowSpan,
                                      &seen->boxColumnSpan);
            if (box->isChecked() != tick)
                box->click();
        }
        if (folders.isEmpty()) {
            d->reject();
            return;
        }
        typePaths(d, folders);
        static_cast<QDialog *>(d)->accept();
    };
}

bool addFolders(MainWindow &w, int way, bool tick, const QStringList &folders,
                FolderDialogSeen *seen = nullptr)
{
    FolderDialogSeen local;
    OnModal<QFileDialog> answer(answerFolders(seen ? seen : &local, tick, folders));
    button(w, way, "Adds")->click();
    return answer.fired();
}

} // namespace

QStringList TstLists::touch(const QString &dir, const QStringList &names)
{
    QStringList paths;
    QDir().mkpath(dir);
    for (const QString &n : names) {
        const QString p = dir + QLatin1Char('/') + n;
        QDir().mkpath(QFileInfo(p).path());
        QFile f(p);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(p));
        paths << p;
    }
    return paths;
}

void TstLists::initTestCase()
{
    QVERIFY(data.isValid());
    QVERIFY(work.isValid());
    useDataDir(data.path());
    quietOffscreenWarnings();
    tree = work.path() + QStringLiteral("/tree");
    touch(tree, {"a.xlsx", "b.xls", "c.XLSX", "d.xlsm", "e.txt", "M.xlsx", "z.xlsx", "sub/f.xlsx",
                 "sub/a.xlsx", "sub/deeper/g.xls", "sub/deeper/h.csv", "Sub2/y.xls"});
}

void TstLists::init()
{
    QFile::remove(options());
}

// ---- add files ---------------------------------------------------------------

void TstLists::addFiles_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("list 1") << 1;
    QTest::newRow("list 2") << 2;
}

void TstLists::addFiles()
{
    QFETCH(int, way);
    const QStringList files = touch(work.path() + "/add", {"one.xlsx", "two.xls", "三.xlsx"});
    MainWindow w;
    child<QTabWidget>(&w, "tabWidget_1")->setCurrentIndex(way - 1);
    QSignalSpy states(&w, &MainWindow::stateChangedSignals);
    QSignalSpy counts(&w, &MainWindow::fileNumChangedSignals);

    QString title, filter;
    QString directory;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    OnModal<QFileDialog> answer([&](QFileDialog *d) {
        title = d->windowTitle();
        filter = d->nameFilters().join(QLatin1Char(';'));
        directory = d->directory().absolutePath();
        mode = d->fileMode();
        typePaths(d, files);
        static_cast<QDialog *>(d)->accept();
    });
    button(w, way, "Add")->click();
    QVERIFY(answer.fired());
    QCOMPARE(title, QStringLiteral("选择Excel文档:"));
    QCOMPARE(filter, QStringLiteral("Excel文件(*.xls *.xlsx)"));
    QCOMPARE(directory, QDir::currentPath());
    QCOMPARE(mode, QFileDialog::ExistingFiles);

    QCOMPARE(listed(w, way), files);
    QCOMPARE(shownNames(w, way), (QStringList{"one.xlsx", "two.xls", "三.xlsx"}));
    QCOMPARE(codes(states), (QList<int>{9, 2, 10}));
    QCOMPARE(counts.size(), 2);
    QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(3)"));
    QCOMPARE(statusTexts(&w).last(), QStringLiteral("添加文件完毕!"));
}

void TstLists::addFilesSkipsDuplicates()
{
    const QStringList files = touch(work.path() + "/dup", {"a.xlsx", "b.xlsx", "c.xlsx"});
    MainWindow w;
    QVERIFY(addFilesThroughDialog(button(w, 1, "Add"), files.mid(0, 2)));
    QSignalSpy states(&w, &MainWindow::stateChangedSignals);
    QVERIFY(addFilesThroughDialog(button(w, 1, "Add"), {files[2], files[1], files[0]}));
    QCOMPARE(listed(w, 1), (QStringList{files[0], files[1], files[2]}));
    QCOMPARE(codes(states), (QList<int>{9, 13, 13, 2, 10}));
    QCOMPARE(statusTexts(&w).last(), QStringLiteral("添加文件完毕!"));
}

void TstLists::addFilesCancelled()
{
    const QStringList files = touch(work.path() + "/cancel", {"a.xlsx"});
    MainWindow w;
    QVERIFY(addFilesThroughDialog(button(w, 1, "Add"), files));
    QSignalSpy states(&w, &MainWindow::stateChangedSignals);
    QSignalSpy counts(&w, &MainWindow::fileNumChangedSignals);
    OnModal<QFileDialog> cancel([](QFileDialog *d) { d->reject(); });
    button(w, 1, "Add")->click();
    QVERIFY(cancel.fired());
    QCOMPARE(codes(states), (QList<int>{9, 11}));
    QCOMPARE(counts.size(), 0);
    QCOMPARE(listed(w, 1), files);
    QCOMPARE(statusTexts(&w).last(), QStringLiteral("添加文件被取消!"));
}

void TstLists::sameFileInBothLists()
{
    const QStringList files = touch(work.path() + "/both", {"a.xlsx"});
    MainWindow w;
    QVERIFY(addFilesThroughDialog(button(w, 1, "Add"), files));
    QSignalSpy states(&w, &MainWindow::stateChangedSignals);
    QVERIFY(addFilesThroughDialog(button(w, 2, "Add"), files));
    QVERIFY(!codes(states).contains(13));
    QCOMPARE(listed(w, 1), files);
    QCOMPARE(listed(w, 2), files);
}

void TstLists::addFilesKeepsKeywordColumn()
{
    const QStringList files = touch(work.path() + "/cols", {"a.xlsx", "b.xlsx"});
    MainWindow w;
    QTableWidget *t = table(w, 2);
    t->item(0, 0)->setText(QStringLiteral("k1"));
    t->item(1, 0)->setText(QStringLiteral("k2"));
    QCOMPARE(t->rowCount(), 3);
    QVERIFY(addFilesThroughDialog(button(w, 2, "Add"), files));
    QCOMPARE(t->columnCount(), 3);
    QCOMPARE(t->rowCount(), 3);
    QCOMPARE(t->horizontalHeaderItem(0)->text(), QStringLiteral("关键字或位置"));
    QCOMPARE(t->item(0, 0)->text(), QStringLiteral("k1"));
    QCOMPARE(t->item(1, 0)->text(), QStringLiteral("k2"));
    QVERIFY(!t->item(0, 1));
    QVERIFY(!t->item(1, 2));
}

// ---- add folders -------------------------------------------------------------

void TstLists::addFolder_data()
{
    QTest::addColumn<int>("way");
    QTest::addColumn<bool>("subFolders");
    QTest::addColumn<QStringList>("expected"); // relative to the tree

    const QStringList top = {"a.xlsx", "b.xls", "M.xlsx", "z.xlsx"};
    const QStringList all = {"a.xlsx",           "b.xls",      "M.xlsx",     "sub/a.xlsx",
                             "sub/deeper/g.xls", "sub/f.xlsx", "Sub2/y.xls", "z.xlsx"};
    QTest::newRow("list 1, this folder only") << 1 << false << top;
    QTest::newRow("list 1, with sub-folders") << 1 << true << all;
    QTest::newRow("list 2, this folder only") << 2 << false << top;
    QTest::newRow("list 2, with sub-folders") << 2 << true << all;
}

void TstLists::addFolder()
{
    QFETCH(int, way);
    QFETCH(bool, subFolders);
    QFETCH(QStringList, expected);
    MainWindow w;
    child<QTabWidget>(&w, "tabWidget_1")->setCurrentIndex(way - 1);
    QSignalSpy states(&w, &MainWindow::stateChangedSignals);
    QSignalSpy counts(&w, &MainWindow::fileNumChangedSignals);
    QVERIFY(addFolders(w, way, subFolders, {tree}));

    QStringList paths;
    for (const QString &e : expected)
        paths << tree + QLatin1Char('/') + e;
    QCOMPARE(listed(w, way), paths);
    QCOMPARE(codes(states), (QList<int>{1, 2}));
    QCOMPARE(counts.size(), 1);
    QCOMPARE(statusTexts(&w).last(), QStringLiteral("添加目录文件完毕!"));
    QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(%1)").arg(expected.size()));
    QCOMPARE(readIni(options(), "check", way == 1 ? "c1" : "c2", QString()),
             QString::number(subFolders));
}

void TstLists::addFolderDialog_data()
{
    QTest::addColumn<int>("way");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("list 1, no option") << 1 << QString() << "选择文本文档所在目录:" << false;
    QTest::newRow("list 1, 1") << 1 << "1"
                               << "选择文本文档所在目录:" << true;
    QTest::newRow("list 1, 0") << 1 << "0"
                               << "选择文本文档所在目录:" << false;
    QTest::newRow("list 2, 1") << 2 << "1"
                               << "选择Excel文档所在目录:" << true;
    QTest::newRow("list 2, 2 counts as on") << 2 << "2"
                                            << "选择Excel文档所在目录:" << true;
    QTest::newRow("list 2, not a number") << 2 << "yes"
                                          << "选择Excel文档所在目录:" << false;
}

void TstLists::addFolderDialog()
{
    QFETCH(int, way);
    QFETCH(QString, stored);
    QFETCH(QString, title);
    QFETCH(bool, ticked);
    if (!stored.isNull())
        writeIni(options(), "check", way == 1 ? "c1" : "c2", stored);
    MainWindow w;
    FolderDialogSeen seen;
    QVERIFY(addFolders(w, way, ticked, {tree}, &seen));
    QCOMPARE(seen.title, title);
    QCOMPARE(seen.directory, QDir::currentPath());
    QCOMPARE(seen.mode, QFileDialog::Directory);
    QVERIFY(seen.nonNative);
    QVERIFY(seen.dirsOnly);
    QCOMPARE(seen.selectionMode, int(QAbstractItemView::ExtendedSelection));
    QCOMPARE(seen.boxText, QStringLiteral("包含子目录文件"));
    QCOMPARE(seen.boxChecked, ticked);
    QCOMPARE(seen.boxRow, 4);
    QCOMPARE(seen.boxColumn, 0);
    QCOMPARE(seen.boxRowSpan, 1);
    QCOMPARE(seen.boxColumnSpan, 5);
    // The depth follows the box as the dialog stored it.
    QCOMPARE(listed(w, way).contains(tree + "/sub/f.xlsx"), ticked);
}

void TstLists::addFolderCancelledKeepsOption()
{
    writeIni(options(), "check", "c1", "1");
    MainWindow w;
    QSignalSpy states(&w, &MainWindow::stateChangedSignals);
    FolderDialogSeen seen;
    QVERIFY(addFolders(w, 1, false, {}, &seen)); // untick, then cancel
    QVERIFY(seen.boxChecked);
    QCOMPARE(codes(states), (QList<int>{1, 3}));
    QCOMPARE(readIni(options(), "check", "c1", QString()), QStringLiteral("1"));
    QCOMPARE(table(w, 1)->rowCount(), 0);
    QCOMPARE(statusTexts(&w).last(), QStringLiteral("添加目录文件被取消!"));

    FolderDialogSeen again;
    QVERIFY(addFolders(w, 1, true, {}, &again));
    QVERIFY(again.boxChecked);
}

void TstLists::folderBoxesIndependent()
{
    MainWindow w;
    QVERIFY(addFolders(w, 1, true, {tree}));
    QCOMPARE(readIni(options(), "check", "c1", QString()), QStringLiteral("1"));
    QCOMPARE(readIni(options(), "check", "c2", QStringLiteral("absent")), QStringLiteral("absent"));
    FolderDialogSeen seen;
    QVERIFY(addFolders(w, 2, false, {tree}, &seen));
    QVERIFY(!seen.boxChecked);
    QCOMPARE(listed(w, 2).size(), 4);
    QCOMPARE(listed(w, 1).size(), 8);
}

void TstLists::addFolderTwiceSkipsDuplicates()
{
    MainWindow w;
    QVERIFY(addFolders(w, 1, false, {tree}));
    QVERIFY(addFolders(w, 1, true, {tree + "/sub"}));
    QCOMPARE(listed(w, 1).size(), 7);
    QSignalSpy states(&w, &MainWindow::stateChangedSignals);
    // Two folders in one dialog, holding one new file between them.
    QVERIFY(addFolders(w, 1, true, {tree + "/Sub2", tree + "/sub"}));
    QCOMPARE(codes(states), (QList<int>{1, 13, 13, 13, 2}));
    QCOMPARE(listed(w, 1),
             (QStringList{tree + "/a.xlsx", tree + "/b.xls", tree + "/M.xlsx", tree + "/z.xlsx",
                          tree + "/sub/a.xlsx", tree + "/sub/deeper/g.xls", tree + "/sub/f.xlsx",
                          tree + "/Sub2/y.xls"}));
}

void TstLists::symlinkLoopEnds()
{
    const QString root = work.path() + QStringLiteral("/loop");
    touch(root, {"top.xlsx", "inner/in.xlsx"});
    QVERIFY(QFile::link(root, root + QStringLiteral("/inner/back")));
    QVERIFY(QFile::link(root + QStringLiteral("/inner"), root + QStringLiteral("/again")));
    MainWindow w;
    QVERIFY(addFolders(w, 1, true, {root}));
    const QStringList got = listed(w, 1);
    // Every folder is entered once: the link to the inner folder is met first
    // ("again" sorts before "inner"), the loop back to the root never.
    QCOMPARE(got, (QStringList{root + "/again/in.xlsx", root + "/top.xlsx"}));
}

void TstLists::menuDispatch_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("action");
    QTest::newRow("add files, tab 1") << 0 << "action_Add";
    QTest::newRow("add files, tab 2") << 1 << "action_Add";
    QTest::newRow("add folders, tab 1") << 0 << "action_Adds";
    QTest::newRow("add folders, tab 2") << 1 << "action_Adds";
}

void TstLists::menuDispatch()
{
    QFETCH(int, tab);
    QFETCH(QString, action);
    const QStringList files = touch(work.path() + "/menu", {"m.xlsx"});
    MainWindow w;
    child<QTabWidget>(&w, "tabWidget_1")->setCurrentIndex(tab);
    QString title;
    OnModal<QFileDialog> answer([&](QFileDialog *d) {
        title = d->windowTitle();
        typePaths(d, action == "action_Add" ? files : QStringList{tree});
        static_cast<QDialog *>(d)->accept();
    });
    w.findChild<QAction *>(action)->trigger();
    QVERIFY(answer.fired());
    const int way = tab + 1;
    QVERIFY(!listed(w, way).isEmpty());
    QVERIFY(listed(w, 3 - way).isEmpty());
    if (action == "action_Adds")
        QCOMPARE(title, way == 1 ? QStringLiteral("选择文本文档所在目录:")
                                 : QStringLiteral("选择Excel文档所在目录:"));
}
