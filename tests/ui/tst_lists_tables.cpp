// The two file lists as a user meets them: removing files, keyword rows and file columns,
// clearing, the keyword table's rule, the folder opened by a double-click and the hover
// tooltips.
#include "tst_lists.h"

#include "lists_helpers.h"
#include "uidriver.h"

#include <QAction>
#include <QDesktopServices>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolTip>
#include <QtTest>

using namespace listui;
using namespace uidriver;

namespace {

// Sets a cell's text, giving it an item first when it has none.
void setCell(QTableWidget *t, int row, int column, const QString &text)
{
    if (QTableWidgetItem *item = t->item(row, column))
        item->setText(text);
    else
        t->setItem(row, column, new QTableWidgetItem(text));
}

} // namespace

// ---- removing ----------------------------------------------------------------

void TstLists::removeFromList1_data()
{
    QTest::addColumn<QList<QPoint>>("cells"); // (row, column) selected
    QTest::addColumn<QList<int>>("left");     // indexes of the files that stay
    QTest::newRow("rows 1 and 3") << QList<QPoint>{{1, 0}, {3, 0}} << QList<int>{0, 2, 4};
    QTest::newRow("rows 3 and 1, selected in that order")
        << QList<QPoint>{{3, 0}, {1, 0}} << QList<int>{0, 2, 4};
    QTest::newRow("first and last") << QList<QPoint>{{0, 0}, {4, 0}} << QList<int>{1, 2, 3};
    QTest::newRow("nothing selected") << QList<QPoint>{} << QList<int>{0, 1, 2, 3, 4};
    QTest::newRow("all") << QList<QPoint>{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}} << QList<int>{};
}

void TstLists::removeFromList1()
{
    QFETCH(QList<QPoint>, cells);
    QFETCH(QList<int>, left);
    const QStringList files =
        touch(work.path() + "/rm1", {"f0.xlsx", "f1.xlsx", "f2.xlsx", "f3.xlsx", "f4.xlsx"});
    MainWindow w;
    QVERIFY(addFilesThroughDialog(button(w, 1, "Add"), files));
    QTableWidget *t = table(w, 1);
    t->item(2, 0)->setBackground(Qt::red); // as a failed run leaves it
    t->setSelectionMode(QAbstractItemView::MultiSelection);
    for (const QPoint &c : cells)
        t->setCurrentCell(c.x(), c.y(), QItemSelectionModel::Select);
    QSignalSpy states(&w, &MainWindow::stateChangedSignals);
    QSignalSpy counts(&w, &MainWindow::fileNumChangedSignals);
    button(w, 1, "Remove")->click();

    QStringList expected;
    for (int i : left)
        expected << files[i];
    QCOMPARE(listed(w, 1), expected);
    QCOMPARE(codes(states), (QList<int>{17, 2, 18}));
    QCOMPARE(counts.size(), 2);
    QVERIFY(t->selectedItems().isEmpty());
    QCOMPARE(statusTexts(&w).last(), QStringLiteral("文件删除完毕!"));
    QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(%1)").arg(left.size()));
    for (int r = 0; r < t->rowCount(); ++r)
        QCOMPARE(t->item(r, 0)->background(), QBrush());
}

void TstLists::removeKeywordRows_data()
{
    QTest::addColumn<QList<QPoint>>("cells");
    QTest::addColumn<QStringList>("keywords"); // column 0 afterwards, entry row included
    QTest::newRow("rows 0 and 2") << QList<QPoint>{{0, 0}, {2, 1}} << QStringList{"k1", "k3", ""};
    QTest::newRow("several cells of one row")
        << QList<QPoint>{{1, 0}, {1, 1}, {1, 2}} << QStringList{"k0", "k2", "k3", ""};
    QTest::newRow("only the entry row")
        << QList<QPoint>{{4, 0}} << QStringList{"k0", "k1", "k2", "k3", ""};
    QTest::newRow("entry row with others")
        << QList<QPoint>{{4, 1}, {3, 0}} << QStringList{"k0", "k1", "k2", ""};
    QTest::newRow("nothing") << QList<QPoint>{} << QStringList{"k0", "k1", "k2", "k3", ""};
}

void TstLists::removeKeywordRows()
{
    QFETCH(QList<QPoint>, cells);
    QFETCH(QStringList, keywords);
    const QStringList files = touch(work.path() + "/rmrow", {"a.xlsx", "b.xlsx"});
    MainWindow w;
    child<QTabWidget>(&w, "tabWidget_1")->setCurrentIndex(1);
    QVERIFY(addFilesThroughDialog(button(w, 2, "Add"), files));
    QTableWidget *t = table(w, 2);
    for (int r = 0; r < 4; ++r) {
        setCell(t, r, 0, QStringLiteral("k%1").arg(r));
        setCell(t, r, 1, QStringLiteral("a%1").arg(r));
    }
    QCOMPARE(t->rowCount(), 5);
    t->setSelectionMode(QAbstractItemView::MultiSelection);
    for (const QPoint &c : cells)
        t->setCurrentCell(c.x(), c.y(), QItemSelectionModel::Select);
    QSignalSpy states(&w, &MainWindow::stateChangedSignals);
    QSignalSpy counts(&w, &MainWindow::fileNumChangedSignals);
    button(w, 2, "RemoveRow")->click();

    QStringList got;
    for (int r = 0; r < t->rowCount(); ++r) {
        got << t->item(r, 0)->text();
        // Each keyword keeps its own file texts.
        if (r + 1 < t->rowCount())
            QCOMPARE(t->item(r, 1)->text(), QStringLiteral("a") + got.last().mid(1));
    }
    QCOMPARE(got, keywords);
    QCOMPARE(codes(states), (QList<int>{17, 18}));
    QCOMPARE(counts.size(), 1);
    QCOMPARE(listed(w, 2), files);
    QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(2)"));
    QVERIFY(t->selectedItems().isEmpty());
}

void TstLists::removeFileColumns_data()
{
    QTest::addColumn<QList<QPoint>>("cells");
    QTest::addColumn<QList<int>>("left");
    QTest::newRow("middle file") << QList<QPoint>{{0, 2}, {1, 2}} << QList<int>{0, 2};
    QTest::newRow("first and last") << QList<QPoint>{{1, 1}, {0, 3}} << QList<int>{1};
    QTest::newRow("keyword column only") << QList<QPoint>{{0, 0}, {1, 0}} << QList<int>{0, 1, 2};
    QTest::newRow("keyword column and a file") << QList<QPoint>{{0, 0}, {2, 3}} << QList<int>{0, 1};
}

void TstLists::removeFileColumns()
{
    QFETCH(QList<QPoint>, cells);
    QFETCH(QList<int>, left);
    const QStringList files = touch(work.path() + "/rmcol", {"f0.xlsx", "f1.xlsx", "f2.xlsx"});
    MainWindow w;
    child<QTabWidget>(&w, "tabWidget_1")->setCurrentIndex(1);
    QVERIFY(addFilesThroughDialog(button(w, 2, "Add"), files));
    QTableWidget *t = table(w, 2);
    for (int r = 0; r < 2; ++r) {
        t->item(r, 0)->setText(QStringLiteral("k%1").arg(r));
        for (int f = 0; f < 3; ++f)
            setCell(t, r, f + 1, QStringLiteral("r%1 of f%2").arg(r).arg(f));
    }
    // A run's failure marking on a header is gone after the renewal.
    t->horizontalHeaderItem(2)->setForeground(Qt::red);
    t->setSelectionMode(QAbstractItemView::MultiSelection);
    for (const QPoint &c : cells)
        t->setCurrentCell(c.x(), c.y(), QItemSelectionModel::Select);
    QSignalSpy states(&w, &MainWindow::stateChangedSignals);
    QSignalSpy counts(&w, &MainWindow::fileNumChangedSignals);
    button(w, 2, "RemoveColumn")->click();

    QStringList expected;
    for (int f : left)
        expected << files[f];
    QCOMPARE(listed(w, 2), expected);
    QCOMPARE(t->columnCount(), left.size() + 1);
    for (int c = 1; c < t->columnCount(); ++c) {
        const int f = left[c - 1];
        QCOMPARE(t->horizontalHeaderItem(c)->text(), QStringLiteral("f%1.xlsx").arg(f));
        QCOMPARE(t->horizontalHeaderItem(c)->foreground(), QBrush());
        for (int r = 0; r < 2; ++r)
            QCOMPARE(t->item(r, c)->text(), QStringLiteral("r%1 of f%2").arg(r).arg(f));
    }
    QCOMPARE(t->item(1, 0)->text(), QStringLiteral("k1"));
    QCOMPARE(codes(states), (QList<int>{17, 2, 18}));
    QCOMPARE(counts.size(), 2);
    QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(%1)").arg(left.size()));
}

// ---- clearing ----------------------------------------------------------------

void TstLists::clears_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("trigger"); // a button or an action
    QTest::addColumn<bool>("list1Emptied");
    QTest::addColumn<bool>("list2Emptied");
    QTest::addColumn<bool>("editorsEmptied");
    QTest::addColumn<bool>("talliesReset");
    QTest::addColumn<QList<int>>("expectedCodes");
    const QList<int> once{41}, twice{41, 41};
    QTest::newRow("list 1 button")
        << 0 << "pushButton_list1_Clear" << true << false << false << true << once;
    QTest::newRow("list 2 button")
        << 1 << "pushButton_list2_Clear" << false << true << false << true << once;
    QTest::newRow("editors button")
        << 0 << "pushButton_keyClear" << false << false << true << false << once;
    QTest::newRow("clear all, tab 1")
        << 0 << "pushButton_ClearAll" << true << false << true << true << twice;
    QTest::newRow("clear all, tab 2")
        << 1 << "pushButton_ClearAll" << false << true << false << true << once;
    QTest::newRow("menu, tab 1") << 0 << "action_Clear" << true << false << false << true << once;
    QTest::newRow("menu, tab 2") << 1 << "action_Clear" << false << true << false << true << once;
}

void TstLists::clears()
{
    QFETCH(int, tab);
    QFETCH(QString, trigger);
    QFETCH(bool, list1Emptied);
    QFETCH(bool, list2Emptied);
    QFETCH(bool, editorsEmptied);
    QFETCH(bool, talliesReset);
    QFETCH(QList<int>, expectedCodes);

    const QStringList files = touch(work.path() + "/clear", {"a.xlsx", "b.xlsx"});
    MainWindow w;
    QVERIFY(addFilesThroughDialog(button(w, 1, "Add"), files));
    QVERIFY(addFilesThroughDialog(button(w, 2, "Add"), files.mid(0, 1)));
    QTableWidget *t2 = table(w, 2);
    t2->item(0, 0)->setText(QStringLiteral("kw"));
    setCell(t2, 0, 1, QStringLiteral("new"));
    child<QPlainTextEdit>(&w, "plainTextEdit_s1")->setPlainText(QStringLiteral("a\nb"));
    child<QPlainTextEdit>(&w, "plainTextEdit_s2")->setPlainText(QStringLiteral("x\ny"));
    child<QTabWidget>(&w, "tabWidget_1")->setCurrentIndex(tab);
    // The tallies of an earlier run.
    const QList<QLabel *> labels = statusLabels(&w);
    labels[1]->setText(QStringLiteral(" 成功(3)"));
    labels[2]->setText(QStringLiteral(" <font color='red'>失败(1)</font>"));
    labels[3]->setText(QStringLiteral(" <font color='blue'>丢失(2)</font>"));

    QSignalSpy states(&w, &MainWindow::stateChangedSignals);
    QObject *target = w.findChild<QObject *>(trigger);
    if (auto *a = qobject_cast<QAction *>(target))
        a->trigger();
    else
        qobject_cast<QPushButton *>(target)->click();

    QCOMPARE(codes(states), expectedCodes);
    QCOMPARE(statusTexts(&w).last(), QStringLiteral("列表被清空!"));
    QCOMPARE(table(w, 1)->rowCount(), list1Emptied ? 0 : 2);
    QCOMPARE(listed(w, 1).size(), list1Emptied ? 0 : 2);
    QCOMPARE(table(w, 1)->horizontalHeaderItem(0)->text(), QStringLiteral("文件名"));
    if (list2Emptied) {
        QCOMPARE(t2->rowCount(), 1);
        QCOMPARE(t2->columnCount(), 1);
        QVERIFY(t2->item(0, 0));
        QCOMPARE(t2->item(0, 0)->text(), QString());
        QCOMPARE(t2->horizontalHeaderItem(0)->text(), QStringLiteral("关键字或位置"));
    } else {
        QCOMPARE(t2->columnCount(), 2);
        QCOMPARE(t2->item(0, 0)->text(), QStringLiteral("kw"));
    }
    QCOMPARE(child<QPlainTextEdit>(&w, "plainTextEdit_s1")->toPlainText().isEmpty(),
             editorsEmptied);
    QCOMPARE(child<QPlainTextEdit>(&w, "plainTextEdit_s2")->toPlainText().isEmpty(),
             editorsEmptied);
    const QStringList tallies = statusTexts(&w).mid(1, 3);
    if (talliesReset)
        QCOMPARE(tallies, (QStringList{" 成功(0)", " 失败(0)", " 丢失(0)"}));
    else
        QCOMPARE(tallies.first(), QStringLiteral(" 成功(3)"));
    const int shown = tab == 0 ? (list1Emptied ? 0 : 2) : (list2Emptied ? 0 : 1);
    QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(%1)").arg(shown));
}

// ---- keyword table -----------------------------------------------------------

namespace {

// Types text into a cell of the table through its editor, as a user does.
void typeIntoCell(QTableWidget *t, int row, int column, const QString &text)
{
    t->setCurrentCell(row, column);
    t->edit(t->model()->index(row, column));
    // Editors closed earlier are hidden until they are deleted.
    QLineEdit *editor = nullptr;
    for (QLineEdit *e : t->viewport()->findChildren<QLineEdit *>()) {
        if (e->isVisibleTo(t))
            editor = e;
    }
    if (!editor)
        qFatal("no cell editor");
    editor->selectAll();
    editor->insert(text); // as an input method commits it
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the view commits the editor's text queued
}

} // namespace

void TstLists::keywordTableGrows()
{
    MainWindow w;
    w.show();
    QTableWidget *t = table(w, 2);
    child<QTabWidget>(&w, "tabWidget_1")->setCurrentIndex(1);
    typeIntoCell(t, 0, 0, QStringLiteral("北京"));
    QCOMPARE(t->rowCount(), 2);
    QVERIFY(t->item(1, 0));
    QCOMPARE(t->item(1, 0)->text(), QString());

    const QStringList files = touch(work.path() + "/grow", {"a.xlsx"});
    QVERIFY(addFilesThroughDialog(button(w, 2, "Add"), files));
    typeIntoCell(t, 1, 0, QStringLiteral("上海"));
    QCOMPARE(t->rowCount(), 3);
    QVERIFY(t->item(2, 0));
    QVERIFY(t->item(2, 1)); // the new file's column too
    QCOMPARE(t->item(2, 1)->text(), QString());

    // Typing into a row that is not the last, or erasing, adds nothing.
    typeIntoCell(t, 0, 1, QStringLiteral("广州"));
    QCOMPARE(t->rowCount(), 3);
    t->item(1, 0)->setText(QString());
    QCOMPARE(t->rowCount(), 3);
    typeIntoCell(t, 2, 0, QString());
    QCOMPARE(t->rowCount(), 3);
}

void TstLists::keywordTableRefusesRowWithoutKeywordAbove_data()
{
    QTest::addColumn<QStringList>("keywords"); // typed first into rows 0.. of column 0
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("rowsAfter");
    // Rows are made by typing k0 and k1, then emptying some keyword again.
    QTest::newRow("row 2 under an empty keyword, keyword column")
        << QStringList{"", "k1"} << 1 << 0 << true << 3;
    QTest::newRow("row 2 under an empty keyword, file column")
        << QStringList{"", "k1"} << 1 << 1 << true << 3;
    QTest::newRow("only the row directly above counts")
        << QStringList{"", "k1"} << 2 << 0 << false << 4;
    QTest::newRow("keyword above present") << QStringList{"k0", "k1"} << 2 << 1 << false << 4;
    QTest::newRow("first row never refused") << QStringList{"", "k1"} << 0 << 1 << false << 3;
}

void TstLists::keywordTableRefusesRowWithoutKeywordAbove()
{
    QFETCH(QStringList, keywords);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(bool, refused);
    QFETCH(int, rowsAfter);

    const QStringList files = touch(work.path() + "/refuse", {"a.xlsx"});
    MainWindow w;
    w.show();
    child<QTabWidget>(&w, "tabWidget_1")->setCurrentIndex(1);
    QVERIFY(addFilesThroughDialog(button(w, 2, "Add"), files));
    QTableWidget *t = table(w, 2);
    t->item(0, 0)->setText(QStringLiteral("k0"));
    t->item(1, 0)->setText(QStringLiteral("k1"));
    for (int r = 0; r < keywords.size(); ++r)
        t->item(r, 0)->setText(keywords[r]);
    QCOMPARE(t->rowCount(), 3);

    BoxSeen seen;
    OnModal<QMessageBox> box(closeBox(&seen));
    typeIntoCell(t, row, column, QStringLiteral("typed"));
    QCOMPARE(box.fired(), refused);
    if (refused) {
        QCOMPARE(seen.title, QStringLiteral("警告"));
        QCOMPARE(seen.text, QStringLiteral("上一条[被替换关键字]为空,请补充!"));
        QCOMPARE(seen.buttons, 1);
        QCOMPARE(t->item(row, column)->text(), QString());
    } else {
        QCOMPARE(t->item(row, column)->text(), QStringLiteral("typed"));
    }
    QCOMPARE(t->rowCount(), rowsAfter);
}

// ---- double-click and hover --------------------------------------------------

namespace {

// Lists paths in the current tab's list the way a drop of files does.
void dropPaths(MainWindow &w, const QStringList &paths)
{
    auto *mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromLocalFile(p);
    mime->setUrls(urls);
    // The drop goes to the widget that took the drag's entry.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    delete mime;
}

void doubleClick(QTableWidget *t, int row, int column, Qt::MouseButton button)
{
    const QPoint at = t->visualRect(t->model()->index(row, column)).center();
    QTest::mousePress(t->viewport(), button, Qt::NoModifier, at);
    QTest::mouseRelease(t->viewport(), button, Qt::NoModifier, at);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, at, t->viewport()->mapToGlobal(at), button, button,
                    Qt::NoModifier);
    QApplication::sendEvent(t->viewport(), &dbl);
    QTest::mouseRelease(t->viewport(), button, Qt::NoModifier, at);
}

} // namespace

void TstLists::doubleClickOpensFolder_data()
{
    QTest::addColumn<int>("way");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("column"); // list 2: the cell's column
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("opened"); // empty: nothing is opened
    const int L = Qt::LeftButton, R = Qt::RightButton;
    QTest::newRow("list 1 file") << 1 << "/srv/data/a.xlsx" << 0 << L << "/srv/data/";
    QTest::newRow("list 1 back slashes") << 1 << "/srv/x\\y\\z.xls" << 0 << L << "/srv/x/y/";
    QTest::newRow("list 1 no folder part") << 1 << "plain.xlsx" << 0 << L << "";
    QTest::newRow("list 1 right button") << 1 << "/srv/data/a.xlsx" << 0 << R << "";
    QTest::newRow("list 2 file column") << 2 << "/srv/two/b.xlsx" << 1 << L << "/srv/two/";
    QTest::newRow("list 2 keyword column") << 2 << "/srv/two/b.xlsx" << 0 << L << "";
    QTest::newRow("list 2 right button") << 2 << "/srv/two/b.xlsx" << 1 << R << "";
}

void TstLists::doubleClickOpensFolder()
{
    QFETCH(int, way);
    QFETCH(QString, path);
    QFETCH(int, column);
    QFETCH(int, button);
    QFETCH(QString, opened);

    MainWindow w;
    w.show();
    child<QTabWidget>(&w, "tabWidget_1")->setCurrentIndex(way - 1);
    dropPaths(w, {path});
    QCOMPARE(listed(w, way), QStringList{path});
    QTableWidget *t = table(w, way);
    if (way == 1)
        t->item(0, 0)->setFlags(t->item(0, 0)->flags() | Qt::ItemIsEditable);

    UrlCatcher urls;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &urls, "open");
    doubleClick(t, 0, way == 1 ? 0 : column, Qt::MouseButton(button));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    if (opened.isEmpty())
        QVERIFY(urls.urls.isEmpty());
    else
        QCOMPARE(urls.urls, QList<QUrl>{QUrl::fromLocalFile(opened)});
}

void TstLists::hoverShowsPath()
{
    const QStringList files = touch(work.path() + "/hover", {"h0.xlsx", "h1.xlsx"});
    MainWindow w;
    w.showNormal();
    w.resize(900, 500);
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(addFilesThroughDialog(button(w, 1, "Add"), files));
    QTableWidget *t = table(w, 1);
    QToolTip::hideText();
    // No button is held: mouse tracking reports the cell.
    QTest::mouseMove(t->viewport(), t->visualRect(t->model()->index(1, 0)).center());
    QCOMPARE(QToolTip::text(), files[1] + tipTail);

    child<QTabWidget>(&w, "tabWidget_1")->setCurrentIndex(1);
    QVERIFY(addFilesThroughDialog(button(w, 2, "Add"), files));
    QTableWidget *t2 = table(w, 2);
    QToolTip::hideText();
    QTest::mouseMove(t2->viewport(), t2->visualRect(t2->model()->index(0, 0)).center());
    QCOMPARE(QToolTip::text(), QString()); // the keyword column has none
    QTest::mouseMove(t2->viewport(), t2->visualRect(t2->model()->index(0, 2)).center());
    QCOMPARE(QToolTip::text(), files[1] + tipTail);
}

QTEST_MAIN(TstLists)
