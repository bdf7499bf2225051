// List files through the real window: round trips through the export and import buttons and
// the menu, imports of odd and refused files, and exports cancelled or failing.
#include "tst_listfiles.h"

#include "listfiles_helpers.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

using namespace lftest;

void TestListFiles::firstWayRoundTrip()
{
    // Files of every form, imported from a file that openpyxl wrote.
    const QString source =
        make(QStringLiteral("rt1-source.xlsx"),
             firstWayBook({"C:\\data\\甲.xlsx", "/srv/b.xls", "/srv/b.xls"}, {}, {}));
    const QByteArray sourceHash = testsupport::sha256(source);
    MainWindow w1;
    QSignalSpy spy(&w1, &MainWindow::stateChangedSignals);
    importInto(w1, 1, source);
    QCOMPARE(codes(spy).first(), QStringLiteral("33"));
    QCOMPARE(codes(spy).last(), QStringLiteral("34"));
    QCOMPARE(statusTexts(&w1).last(), QStringLiteral("列表导入完毕!"));
    QCOMPARE(rowTexts(list1(&w1), 0), (QStringList{"甲.xlsx", "b.xls", "b.xls"}));
    // The import reads and never writes.
    QCOMPARE(testsupport::sha256(source), sourceHash);

    editor(&w1, 1)->setPlainText(QStringLiteral("k1\nk2\n键三"));
    editor(&w1, 2)->setPlainText(QStringLiteral("v1\n\n值三"));
    const QString exported = path(QStringLiteral("rt1-export.xlsx"));
    spy.clear();
    {
        Modals modals({exported});
        button(&w1, "pushButton_list1_Save")->click();
        QCOMPARE(codes(spy), (QStringList{"25", "26"}));
        QCOMPARE(modals.dialogTitles, QStringList{QStringLiteral("选择保存目录:")});
        QCOMPARE(modals.proposedNames, QStringList{QStringLiteral("Tabrix方式一文件列表.xlsx")});
        QCOMPARE(modals.dialogFolders, QStringList{QDir::currentPath()});
    }

    QString error;
    const QJsonObject dump = testsupport::dumpWorkbook(exported, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    QCOMPARE(dumpedSheetNames(dump), (QStringList{filesSheet1(), keysSheet1()}));
    QCOMPARE(dumpedCells(dump, filesSheet1()),
             (QStringList{"A1=C:/data/甲.xlsx", "A2=/srv/b.xls", "A3=/srv/b.xls"}));
    QCOMPARE(dumpedCells(dump, keysSheet1()),
             (QStringList{"A1=被替换关键字:", "A2=k1", "A3=k2", "A4=键三", "B1=欲替换为:", "B2=v1",
                          "B4=值三"}));

    // A second window takes it back through the menu, on the first tab.
    MainWindow w2;
    tabs(&w2)->setCurrentIndex(0);
    {
        Modals open({exported});
        action(&w2, "action_Import")->trigger();
        QCOMPARE(open.dialogTitles, QStringList{QStringLiteral("选择文件列表E文件:")});
    }
    QCOMPARE(visibleState(&w2), visibleState(&w1));
    // Exported again, it gives the same cells.
    const QString again = path(QStringLiteral("rt1-again.xlsx"));
    {
        Modals save({again});
        action(&w2, "action_Save")->trigger();
    }
    const QJsonObject dump2 = testsupport::dumpWorkbook(again, &error);
    QVERIFY2(!dump2.isEmpty(), qPrintable(error));
    QCOMPARE(dumpedCells(dump2, filesSheet1()), dumpedCells(dump, filesSheet1()));
    QCOMPARE(dumpedCells(dump2, keysSheet1()), dumpedCells(dump, keysSheet1()));
}

void TestListFiles::secondWayRoundTripFromMenu()
{
    const QString source = make(
        QStringLiteral("rt2-source.xlsx"),
        secondWayBook({"/x/a.xlsx", "D:\\\\y\\\\b.xls"}, {{"k1", "a1", "b1"}, {"k2", "", "b2"}}));
    MainWindow w1;
    // Something on the first tab that the second-way import must not touch.
    editor(&w1, 1)->setPlainText(QStringLiteral("keep"));
    tabs(&w1)->setCurrentIndex(1);
    {
        Modals open({source});
        action(&w1, "action_Import")->trigger();
    }
    const QTableWidget *t = list2(&w1);
    QCOMPARE(t->rowCount(), 3);
    QCOMPARE(t->columnCount(), 3);
    QCOMPARE(headerTexts(t), (QStringList{"关键字或位置", "a.xlsx", "b.xls"}));
    QCOMPARE(rowTexts(t, 0), (QStringList{"k1", "k2", ""}));
    QCOMPARE(rowTexts(t, 1), (QStringList{"a1", "", ""}));
    QCOMPARE(rowTexts(t, 2), (QStringList{"b1", "b2", ""}));
    for (int c = 0; c < 3; ++c)
        QVERIFY2(!t->item(2, c), "the entry row has no items after an import");
    QCOMPARE(editor(&w1, 1)->toPlainText(), QStringLiteral("keep"));
    QCOMPARE(statusTexts(&w1).first(), QStringLiteral(" 文件(2)"));

    const QString exported = path(QStringLiteral("rt2-export.xlsx"));
    {
        Modals save({exported});
        action(&w1, "action_Save")->trigger();
        QCOMPARE(save.proposedNames, QStringList{QStringLiteral("Tabrix方式二替换列表.xlsx")});
    }
    QString error;
    const QJsonObject dump = testsupport::dumpWorkbook(exported, &error);
    QCOMPARE(dumpedSheetNames(dump), QStringList{sheet2()});
    QCOMPARE(dumpedCells(dump, sheet2()),
             (QStringList{"A1=关键字或位置", "A2=k1", "A3=k2", "B1=/x/a.xlsx", "B2=a1",
                          "C1=D:/y/b.xls", "C2=b1", "C3=b2"}));

    MainWindow w2;
    tabs(&w2)->setCurrentIndex(1);
    {
        Modals open({exported});
        button(&w2, "pushButton_list2_Import")->click();
    }
    QStringList s1 = visibleState(&w1), s2 = visibleState(&w2);
    s1.removeAll(QStringLiteral("s1: keep"));
    s2.removeAll(QStringLiteral("s1: "));
    QCOMPARE(s2, s1);
}

void TestListFiles::firstWayImportEdgeCases_data()
{
    QTest::addColumn<QJsonObject>("spec");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("s1");
    QTest::addColumn<QString>("s2");

    QTest::newRow("empty line ends the keys")
        << firstWayBook({"/a.xlsx"}, {"k1", "", "k3"}, {"v1", "v2", "v3"}) << QStringList{"a.xlsx"}
        << "k1"
        << "v1";
    QTest::newRow("empty value keeps the pairs")
        << firstWayBook({}, {"k1", "k2", "k3"}, {"", "v2", ""}) << QStringList{} << "k1\nk2\nk3"
        << "\nv2\n";
    QTest::newRow("empty editor exported")
        << firstWayBook({"/a.xlsx"}, {""}, {""}) << QStringList{"a.xlsx"} << ""
        << "";
    QTest::newRow("empty path in the middle")
        << firstWayBook({"/a.xlsx", "", "/c.xlsx"}, {}, {}) << QStringList{"a.xlsx"} << ""
        << "";
    QTest::newRow("network and doubled paths")
        << firstWayBook({"\\\\srv\\share\\n.xlsx", "E:\\\\d\\\\m.xls"}, {}, {})
        << QStringList{"n.xlsx", "m.xls"} << ""
        << "";
}

void TestListFiles::firstWayImportEdgeCases()
{
    QFETCH(QJsonObject, spec);
    QFETCH(QStringList, names);
    QFETCH(QString, s1);
    QFETCH(QString, s2);
    const QString file = make(QStringLiteral("edge1.xlsx"), spec);
    MainWindow w;
    // What was there before is replaced.
    editor(&w, 1)->setPlainText(QStringLiteral("old\nold"));
    editor(&w, 2)->setPlainText(QStringLiteral("old"));
    importInto(w, 1, file);
    QCOMPARE(rowTexts(list1(&w), 0), names);
    QCOMPARE(editor(&w, 1)->toPlainText(), s1);
    QCOMPARE(editor(&w, 2)->toPlainText(), s2);
    QCOMPARE(editor(&w, 1)->document()->blockCount(), editor(&w, 2)->document()->blockCount());
    QCOMPARE(statusTexts(&w).last(), QStringLiteral("列表导入完毕!"));
}

void TestListFiles::secondWayImportEdgeCases_data()
{
    QTest::addColumn<QJsonObject>("spec");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("firstFile");

    QTest::newRow("paths and no keyword rows")
        << secondWayBook({"/a.xlsx", "/b.xls"}, {})
        << QStringList{"关键字或位置", "a.xlsx", "b.xls"} << QStringList{""} << QStringList{""};
    QTest::newRow("emptied key ends the rows")
        << secondWayBook({"/a.xlsx"}, {{"k1", "v1"}, {"", "lost"}, {"k3", "v3"}})
        << QStringList{"关键字或位置", "a.xlsx"} << QStringList{"k1", ""} << QStringList{"v1", ""};
    QTest::newRow("keys without paths")
        << secondWayBook({}, {{"k1"}, {"k2"}}) << QStringList{"关键字或位置"}
        << QStringList{"k1", "k2", ""} << QStringList{};
}

void TestListFiles::secondWayImportEdgeCases()
{
    QFETCH(QJsonObject, spec);
    QFETCH(QStringList, headers);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, firstFile);
    MainWindow w;
    importInto(w, 2, make(QStringLiteral("edge2.xlsx"), spec));
    const QTableWidget *t = list2(&w);
    QCOMPARE(headerTexts(t), headers);
    QCOMPARE(rowTexts(t, 0), keys);
    if (t->columnCount() > 1)
        QCOMPARE(rowTexts(t, 1), firstFile);
    QCOMPARE(statusTexts(&w).last(), QStringLiteral("列表导入完毕!"));
}

void TestListFiles::refusalsLeaveWindowAsItWas_data()
{
    QTest::addColumn<int>("way");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("status");

    for (int way : {1, 2}) {
        const QByteArray w = way == 1 ? "first way, " : "second way, ";
        QTest::newRow(w + "dialog cancelled (35)")
            << way << "cancel" << QStringLiteral("没有找到对应的列表文件!");
        QTest::newRow(w + "not a workbook (36)")
            << way << "html" << QStringLiteral("清单数量不足!");
        QTest::newRow(w + "wrong sheet names (37)")
            << way << "names" << QStringLiteral("没有在列表043文件中找到对应的清单!");
    }
    QTest::newRow("first way, one sheet (36)") << 1 << "one" << QStringLiteral("清单数量不足!");
    QTest::newRow("second way, a first-way file (37)")
        << 2 << "other way" << QStringLiteral("没有在列表043文件中找到对应的清单!");
}

void TestListFiles::refusalsLeaveWindowAsItWas()
{
    QFETCH(int, way);
    QFETCH(QString, kind);
    QFETCH(QString, status);

    // Both tabs hold something first.
    MainWindow w;
    importInto(w, 1,
               make(QStringLiteral("before1.xlsx"), firstWayBook({"/p/a.xlsx"}, {"k"}, {"v"})));
    importInto(w, 2,
               make(QStringLiteral("before2.xlsx"), secondWayBook({"/q/b.xlsx"}, {{"k", "v"}})));
    tabs(&w)->setCurrentIndex(way - 1);
    const QStringList before = visibleState(&w);

    QString file;
    if (kind == QLatin1String("html")) {
        file = path(QStringLiteral("bad.xlsx"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<html></html>");
    } else if (kind == QLatin1String("names")) {
        file = make(QStringLiteral("bad-names.xlsx"), book({sheet("A"), sheet("B")}));
    } else if (kind == QLatin1String("one")) {
        file = make(QStringLiteral("bad-one.xlsx"), book({sheet(filesSheet1())}));
    } else if (kind == QLatin1String("other way")) {
        file = make(QStringLiteral("bad-other.xlsx"), firstWayBook({"/a"}, {}, {}));
    }
    const QByteArray hash = file.isEmpty() ? QByteArray() : testsupport::sha256(file);

    QSignalSpy spy(&w, &MainWindow::stateChangedSignals);
    QSignalSpy counts(&w, &MainWindow::fileNumChangedSignals);
    {
        Modals open({file});
        button(&w, way == 1 ? "pushButton_list1_Import" : "pushButton_list2_Import")->click();
    }
    QCOMPARE(codes(spy).size(), 2);
    QCOMPARE(codes(spy).first(), QStringLiteral("33"));
    QCOMPARE(statusTexts(&w).last(), status);
    QCOMPARE(counts.count(), 1);
    QCOMPARE(visibleState(&w), before);
    if (!file.isEmpty())
        QCOMPARE(testsupport::sha256(file), hash);
}

void TestListFiles::exportCancelled_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("first way") << 1;
    QTest::newRow("second way") << 2;
}

void TestListFiles::exportCancelled()
{
    QFETCH(int, way);
    MainWindow w;
    tabs(&w)->setCurrentIndex(way - 1);
    const QStringList before = QDir::current().entryList(QDir::Files);
    QSignalSpy spy(&w, &MainWindow::stateChangedSignals);
    Modals cancel({QString()});
    button(&w, way == 1 ? "pushButton_list1_Save" : "pushButton_list2_Save")->click();
    QCOMPARE(cancel.dialogTitles.size(), 1);
    QCOMPARE(codes(spy), (QStringList{"25", "27"}));
    QCOMPARE(statusTexts(&w).last(), QStringLiteral("列表导出被取消!"));
    QCOMPARE(cancel.boxTitles, QStringList{});
    QCOMPARE(QDir::current().entryList(QDir::Files), before);
}

void TestListFiles::exportFailureIsReported_data()
{
    QTest::addColumn<int>("way");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    for (int way : {1, 2}) {
        const QByteArray w = way == 1 ? "first way, " : "second way, ";
        QTest::newRow(w + "folder does not exist")
            << way << "missing" << QStringLiteral("保存位置的文件夹不存在。");
        QTest::newRow(w + "read-only folder keeps the old file")
            << way << "locked" << QStringLiteral("没有写入该文件夹的权限（文件夹只读或受保护）。");
    }
}

void TestListFiles::exportFailureIsReported()
{
    QFETCH(int, way);
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QString dir = path(QStringLiteral("export-fail-%1-%2").arg(way).arg(kind));
    QVERIFY(QDir().mkpath(dir));
    QString target;
    QByteArray before;
    if (kind == QLatin1String("missing")) {
        target = dir + QStringLiteral("/gone/list.xlsx");
    } else {
        target = dir + QStringLiteral("/list.xlsx");
        QString error;
        QVERIFY(testsupport::makeWorkbook(target, firstWayBook({"/old"}, {}, {}), &error));
        before = testsupport::sha256(target);
    }
    LockedFolder lock(dir);
    if (kind == QLatin1String("locked") && !lock.locked())
        QSKIP("this folder cannot be made read-only here");

    MainWindow w;
    tabs(&w)->setCurrentIndex(way - 1);
    editor(&w, 1)->setPlainText(QStringLiteral("k"));
    QSignalSpy spy(&w, &MainWindow::stateChangedSignals);
    Modals modals({target});
    button(&w, way == 1 ? "pushButton_list1_Save" : "pushButton_list2_Save")->click();
    QCOMPARE(codes(spy), (QStringList{"25", "27"}));
    QCOMPARE(modals.boxTitles, QStringList{QStringLiteral("警告")});
    // The path once, then the reason in the window's language.
    QCOMPARE(modals.boxTexts.first(), QStringLiteral("列表导出失败:\n") +
                                          QDir::toNativeSeparators(target) + QLatin1Char('\n') +
                                          reason);
    if (kind == QLatin1String("missing")) {
        QVERIFY(!QFileInfo::exists(target));
    } else {
        QCOMPARE(modals.questionsAnswered, 1); // the dialog asked before replacing
        QCOMPARE(testsupport::sha256(target), before);
    }
}

QTEST_MAIN(TestListFiles)
