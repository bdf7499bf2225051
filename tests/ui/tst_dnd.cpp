// Drops onto the real window: real drag-enter and drop events carrying
// text/uri-list data, as the desktop's file manager sends them.
#include "listfiles_helpers.h"
#include "testsupport.h"
#include "ui/mainwindow.h"

#include <QAbstractScrollArea>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

using namespace lftest;

namespace {

// Sends a drag entering the window; true when the window takes it.
bool sendDragEnter(QWidget *target, const QMimeData &data)
{
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    return enter.isAccepted();
}

void drop(QWidget *target, const QMimeData &data)
{
    QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestDnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dragEnter_data();
    void dragEnter();
    void listFileIsImportedIntoItsTab_data();
    void listFileIsImportedIntoItsTab();
    void droppedItemsJoinTheShownList_data();
    void droppedItemsJoinTheShownList();
    void unsupportedSingleItemChangesNothing_data();
    void unsupportedSingleItemChangesNothing();
    void dropOverChildWidgetsReachesTheWindow_data();
    void dropOverChildWidgetsReachesTheWindow();
    void sameWorkbookTwiceIsListedOnce();
    void droppedPathsAreKeptAsGiven();

private:
    // Drops the named files of the test folder (a name ending in "/" is a
    // folder) onto the window.
    void dropNames(MainWindow &w, const QStringList &names);
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    QTemporaryDir m_home;
};

void TestDnd::initTestCase()
{
    // Options live in a home of this test's own, never the user's.
    QVERIFY(m_dir.isValid());
    useOwnOptions(m_home);
    auto make = [this](const QString &name, const QJsonObject &spec) {
        QString error;
        QVERIFY2(testsupport::makeWorkbook(path(name), spec, &error), qPrintable(error));
    };
    auto plain = [this](const QString &name, const QByteArray &bytes) {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    const QJsonObject list1 = firstWayBook({"/data/one.xlsx", "/data/two.xls"}, {"k"}, {"v"});
    const QJsonObject list2 = secondWayBook({"/data/x.xlsx"}, {{"key", "value"}});
    make(QStringLiteral("Tabrix方式一文件列表.xlsx"), list1);
    make(QStringLiteral("Tabrix方式一文件列表.backup.xlsx"), list1);
    make(QStringLiteral("Tabrix方式一文件列表 (2).xlsx"), list1);
    make(QStringLiteral("Tabrix方式二替换列表.xlsx"), list2);
    QVERIFY(QDir().mkpath(path(QStringLiteral("wrong"))));
    make(QStringLiteral("wrong/Tabrix方式一文件列表.xlsx"), book({sheet("A"), sheet("B")}));
    make(QStringLiteral("book.xlsx"), book({sheet("Sheet1", {{"A1", "x"}})}));
    plain(QStringLiteral("old.xls"), QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    plain(QStringLiteral("data.csv"), "a,b\n1,2\n");
    plain(QStringLiteral("notes.txt"), "text\n");
    QVERIFY(QDir().mkpath(path(QStringLiteral("folder/sub"))));
    make(QStringLiteral("folder/a.xlsx"), book({sheet("S")}));
    plain(QStringLiteral("folder/b.xls"), QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    plain(QStringLiteral("folder/c.txt"), "c");
    make(QStringLiteral("folder/sub/d.xlsx"), book({sheet("S")}));
}

void TestDnd::dropNames(MainWindow &w, const QStringList &names)
{
    QList<QUrl> urls;
    for (const QString &n : names)
        urls << (n.contains(QLatin1String("://")) ? QUrl(n) : QUrl::fromLocalFile(path(n)));
    QMimeData data;
    data.setUrls(urls);
    QVERIFY(sendDragEnter(&w, data));
    drop(&w, data);
}

void TestDnd::dragEnter_data()
{
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("one file") << QStringList{"file:///tmp/a.xlsx"} << QString() << true;
    QTest::newRow("a file and a folder")
        << QStringList{"file:///tmp/a.xlsx", "file:///tmp/"} << QString() << true;
    // The type of what is dragged is judged only at the drop.
    QTest::newRow("a text file") << QStringList{"file:///tmp/a.txt"} << QString() << true;
    QTest::newRow("plain text") << QStringList{} << QStringLiteral("/tmp/a.xlsx") << false;
    QTest::newRow("nothing") << QStringList{} << QString() << false;
}

void TestDnd::dragEnter()
{
    QFETCH(QStringList, urls);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    MainWindow w;
    QMimeData data;
    QList<QUrl> list;
    for (const QString &u : urls)
        list << QUrl(u);
    if (!list.isEmpty())
        data.setUrls(list);
    if (!text.isEmpty())
        data.setText(text);
    QCOMPARE(sendDragEnter(&w, data), accepted);
}

void TestDnd::listFileIsImportedIntoItsTab_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("shownTab");
    QTest::addColumn<int>("expectedTab");

    QTest::newRow("first-way list on the second tab")
        << QStringLiteral("Tabrix方式一文件列表.xlsx") << 1 << 0;
    QTest::newRow("first-way list, further dotted part")
        << QStringLiteral("Tabrix方式一文件列表.backup.xlsx") << 1 << 0;
    QTest::newRow("second-way list on the first tab")
        << QStringLiteral("Tabrix方式二替换列表.xlsx") << 0 << 1;
}

void TestDnd::listFileIsImportedIntoItsTab()
{
    QFETCH(QString, name);
    QFETCH(int, shownTab);
    QFETCH(int, expectedTab);

    MainWindow w;
    tabs(&w)->setCurrentIndex(0); // the tab of the last window is restored
    // The other tab holds something that must stay.
    dropNames(w, {QStringLiteral("book.xlsx")});
    tabs(&w)->setCurrentIndex(1 - expectedTab);
    dropNames(w, {QStringLiteral("book.xlsx")});
    tabs(&w)->setCurrentIndex(shownTab);
    const QStringList before = visibleState(&w);
    const QByteArray hash = testsupport::sha256(path(name));

    QSignalSpy spy(&w, &MainWindow::stateChangedSignals);
    dropNames(w, {name});
    QCOMPARE(tabs(&w)->currentIndex(), expectedTab);
    QVERIFY(codes(spy).contains(QStringLiteral("34")));
    QCOMPARE(statusTexts(&w).last(), QStringLiteral("添加目录文件完毕!"));
    QCOMPARE(testsupport::sha256(path(name)), hash);

    // The other tab's list is as it was.
    const QString other = expectedTab == 0 ? QStringLiteral("list2") : QStringLiteral("list1");
    auto linesOf = [&other](const QStringList &state) {
        QStringList out;
        for (const QString &line : state)
            if (line.startsWith(other))
                out << line;
        return out;
    };
    QCOMPARE(linesOf(visibleState(&w)), linesOf(before));
    if (expectedTab == 0) {
        QCOMPARE(rowTexts(list1(&w), 0), (QStringList{"one.xlsx", "two.xls"}));
        QCOMPARE(editor(&w, 1)->toPlainText(), QStringLiteral("k"));
        QCOMPARE(editor(&w, 2)->toPlainText(), QStringLiteral("v"));
        QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(2)"));
    } else {
        QCOMPARE(headerTexts(list2(&w)), (QStringList{"关键字或位置", "x.xlsx"}));
        QCOMPARE(rowTexts(list2(&w), 0), (QStringList{"key", ""}));
        QCOMPARE(rowTexts(list2(&w), 1), (QStringList{"value", ""}));
        QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(1)"));
    }
}

void TestDnd::droppedItemsJoinTheShownList_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<int>("unsupported");

    const QString first = QStringLiteral("Tabrix方式一文件列表.xlsx");
    const QString second = QStringLiteral("Tabrix方式二替换列表.xlsx");
    for (int tab : {0, 1}) {
        const QByteArray t = tab == 0 ? "tab 1, " : "tab 2, ";
        QTest::newRow(t + "renamed list file")
            << tab << QStringList{"Tabrix方式一文件列表 (2).xlsx"}
            << QStringList{"Tabrix方式一文件列表 (2).xlsx"} << 0;
        QTest::newRow(t + "refused list file")
            << tab << QStringList{"wrong/" + first} << QStringList{first} << 0;
        QTest::newRow(t + "two list files together")
            << tab << QStringList{first, second} << QStringList{first, second} << 0;
        QTest::newRow(t + ".xls workbook")
            << tab << QStringList{"old.xls"} << QStringList{"old.xls"} << 0;
        QTest::newRow(t + ".csv with a workbook")
            << tab << QStringList{"data.csv", "book.xlsx", "notes.txt"} << QStringList{"book.xlsx"}
            << 2;
        QTest::newRow(t + "folder")
            << tab << QStringList{"folder"} << QStringList{"a.xlsx", "b.xls"} << 0;
        QTest::newRow(t + "web address with a workbook")
            << tab << QStringList{"https://example.com/a.xlsx", "book.xlsx"}
            << QStringList{"book.xlsx"} << 1;
    }
}

void TestDnd::droppedItemsJoinTheShownList()
{
    QFETCH(int, tab);
    QFETCH(QStringList, names);
    QFETCH(QStringList, listed);
    QFETCH(int, unsupported);

    MainWindow w;
    tabs(&w)->setCurrentIndex(tab);
    const QStringList editorsBefore{editor(&w, 1)->toPlainText(), editor(&w, 2)->toPlainText()};
    QSignalSpy spy(&w, &MainWindow::stateChangedSignals);
    QSignalSpy counts(&w, &MainWindow::fileNumChangedSignals);
    dropNames(w, names);

    QCOMPARE(tabs(&w)->currentIndex(), tab);
    if (tab == 0) {
        QCOMPARE(rowTexts(list1(&w), 0), listed);
        QCOMPARE(list2(&w)->columnCount(), 1);
    } else {
        QCOMPARE(headerTexts(list2(&w)), QStringList{"关键字或位置"} + listed);
        QCOMPARE(list1(&w)->rowCount(), 0);
    }
    QCOMPARE(codes(spy).count(QStringLiteral("58")), unsupported);
    QVERIFY(!codes(spy).contains(QStringLiteral("34")));
    QCOMPARE(statusTexts(&w).last(), QStringLiteral("添加目录文件完毕!"));
    QCOMPARE(statusTexts(&w).first(), QStringLiteral(" 文件(%1)").arg(listed.size()));
    QVERIFY(counts.count() >= 1);
    QCOMPARE((QStringList{editor(&w, 1)->toPlainText(), editor(&w, 2)->toPlainText()}),
             editorsBefore);
}

void TestDnd::unsupportedSingleItemChangesNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow(".csv") << QStringLiteral("data.csv");
    QTest::newRow("text file") << QStringLiteral("notes.txt");
    QTest::newRow("web address") << QStringLiteral("https://example.com/a.xlsx");
}

void TestDnd::unsupportedSingleItemChangesNothing()
{
    QFETCH(QString, name);
    MainWindow w;
    tabs(&w)->setCurrentIndex(0);
    dropNames(w, {QStringLiteral("book.xlsx")});
    const QStringList before = visibleState(&w);
    QSignalSpy spy(&w, &MainWindow::stateChangedSignals);
    QSignalSpy counts(&w, &MainWindow::fileNumChangedSignals);
    dropNames(w, {name});
    QCOMPARE(codes(spy), QStringList{"58"});
    QCOMPARE(counts.count(), 0);
    QCOMPARE(statusTexts(&w).last(), QStringLiteral("拖入文件类型不受支持!"));
    QCOMPARE(visibleState(&w), before);
}

void TestDnd::dropOverChildWidgetsReachesTheWindow_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("widget");
    QTest::newRow("first file list") << 0 << QStringLiteral("tableWidget_list1");
    QTest::newRow("second-way table") << 1 << QStringLiteral("tableWidget_list2");
    QTest::newRow("tab widget") << 0 << QStringLiteral("tabWidget_1");
}

void TestDnd::dropOverChildWidgetsReachesTheWindow()
{
    QFETCH(int, tab);
    QFETCH(QString, widget);
    MainWindow w;
    tabs(&w)->setCurrentIndex(tab);
    QWidget *target = w.findChild<QWidget *>(widget);
    QVERIFY(target);
    if (auto *view = qobject_cast<QAbstractScrollArea *>(target))
        target = view->viewport(); // what lies under the mouse
    // Delivered as the application delivers it: up from the widget under the
    // mouse to the first one that takes drops.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path(QStringLiteral("book.xlsx")))});
    QVERIFY(sendDragEnter(target, data));
    drop(target, data);
    if (tab == 0)
        QCOMPARE(rowTexts(list1(&w), 0), QStringList{"book.xlsx"});
    else
        QCOMPARE(headerTexts(list2(&w)), (QStringList{"关键字或位置", "book.xlsx"}));
}

void TestDnd::sameWorkbookTwiceIsListedOnce()
{
    MainWindow w;
    tabs(&w)->setCurrentIndex(0);
    dropNames(w, {QStringLiteral("book.xlsx")});
    QSignalSpy spy(&w, &MainWindow::stateChangedSignals);
    dropNames(w, {QStringLiteral("book.xlsx")});
    QCOMPARE(rowTexts(list1(&w), 0), QStringList{"book.xlsx"});
    QVERIFY(codes(spy).contains(QStringLiteral("13")));
    QVERIFY(!codes(spy).contains(QStringLiteral("10")));
}

void TestDnd::droppedPathsAreKeptAsGiven()
{
    // The full paths reach the list as the drop gives them: the export shows them.
    MainWindow w;
    tabs(&w)->setCurrentIndex(0);
    dropNames(w, {QStringLiteral("old.xls"), QStringLiteral("book.xlsx")});
    const QString exported = path(QStringLiteral("out/exported.xlsx"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("out"))));
    {
        Modals save({exported});
        button(&w, "pushButton_list1_Save")->click();
    }
    QString error;
    const QJsonObject dump = testsupport::dumpWorkbook(exported, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    QCOMPARE(dumpedCells(dump, filesSheet1()),
             (QStringList{"A1=" + path(QStringLiteral("old.xls")),
                          "A2=" + path(QStringLiteral("book.xlsx"))}));
}

QTEST_MAIN(TestDnd)
#include "tst_dnd.moc"
