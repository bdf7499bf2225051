// List files: where each value goes, how a file is read back, the files seen by openpyxl, and
// files that cannot be read or written.
#include "tst_listfiles.h"

#include "listfiles_helpers.h"
#include "testsupport.h"
#include "ui/listfile.h"
#include "ui/mainwindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStandardPaths>
#include <QtTest>

using namespace lftest;

namespace {

// A sheet given as "R<row>C<col>" -> text.
listfile::CellText grid(const QMap<QString, QString> &cells)
{
    return [cells](int row, int column) {
        return cells.value(QStringLiteral("R%1C%2").arg(row).arg(column));
    };
}

} // namespace

void TestListFiles::initTestCase()
{
    // Options live in a home of this test's own, never the user's.
    QVERIFY(m_dir.isValid());
    useOwnOptions(m_home);
}

QString TestListFiles::make(const QString &name, const QJsonObject &spec)
{
    const QString p = path(name);
    QFile::remove(p);
    QString error;
    if (!testsupport::makeWorkbook(p, spec, &error))
        qWarning("makeWorkbook %s: %s", qPrintable(name), qPrintable(error));
    return p;
}

// Imports through the tab's own import button (the tab is made current
// first, as a user would do).
void TestListFiles::importInto(MainWindow &w, int way, const QString &file)
{
    tabs(&w)->setCurrentIndex(way - 1);
    Modals modals({file});
    button(&w, way == 1 ? "pushButton_list1_Import" : "pushButton_list2_Import")->click();
}

// ---------------------------------------------------------------- pure logic

void TestListFiles::normalisePath_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("slashes unchanged") << "C:/data/a.xlsx"
                                       << "C:/data/a.xlsx";
    QTest::newRow("single backslashes") << "C:\\data\\a.xlsx"
                                        << "C:/data/a.xlsx";
    QTest::newRow("doubled backslashes") << "C:\\\\data\\\\a.xlsx"
                                         << "C:/data/a.xlsx";
    QTest::newRow("network path") << "\\\\server\\share\\a.xlsx"
                                  << "/server/share/a.xlsx";
    QTest::newRow("three backslashes") << "a\\\\\\b"
                                       << "a//b";
    QTest::newRow("mixed separators") << "C:\\data/sub\\\\a.xls"
                                      << "C:/data/sub/a.xls";
    QTest::newRow("empty") << ""
                           << "";
}

void TestListFiles::normalisePath()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    QCOMPARE(listfile::normalisePath(in), out);
}

void TestListFiles::parseFirstWay_data()
{
    QTest::addColumn<QVariantMap>("files");
    QTest::addColumn<int>("filesLastRow");
    QTest::addColumn<QVariantMap>("keys");
    QTest::addColumn<int>("keysLastRow");
    QTest::addColumn<QStringList>("expFiles");
    QTest::addColumn<QStringList>("expFinds");
    QTest::addColumn<QStringList>("expReplacements");

    const QVariantMap header{{"R1C1", "被替换关键字:"}, {"R1C2", "欲替换为:"}};
    auto withHeader = [header](QVariantMap m) {
        for (auto it = header.begin(); it != header.end(); ++it)
            m.insert(it.key(), it.value());
        return m;
    };

    QTest::newRow("all read")
        << QVariantMap{{"R1C1", "/a"}, {"R2C1", "C:\\b.xls"}} << 2
        << withHeader({{"R2C1", "k1"}, {"R2C2", "v1"}, {"R3C1", "k2"}, {"R3C2", "v2"}}) << 3
        << QStringList{"/a", "C:/b.xls"} << QStringList{"k1", "k2"} << QStringList{"v1", "v2"};
    QTest::newRow("empty path ends the files")
        << QVariantMap{{"R1C1", "/a"}, {"R3C1", "/c"}} << 3 << withHeader({}) << 1
        << QStringList{"/a"} << QStringList{} << QStringList{};
    QTest::newRow("empty key ends the keys")
        << QVariantMap{} << 1
        << withHeader({{"R2C1", "k1"}, {"R2C2", "v1"}, {"R3C2", "lost"}, {"R4C1", "k3"}}) << 4
        << QStringList{} << QStringList{"k1"} << QStringList{"v1"};
    QTest::newRow("empty value still pairs")
        << QVariantMap{} << 1 << withHeader({{"R2C1", "k1"}, {"R3C1", "k2"}, {"R3C2", "v2"}}) << 3
        << QStringList{} << QStringList{"k1", "k2"} << QStringList{"", "v2"};
    QTest::newRow("reading stops at the last used row")
        << QVariantMap{{"R1C1", "/a"}, {"R2C1", "/b"}} << 1
        << withHeader({{"R2C1", "k1"}, {"R3C1", "k2"}}) << 2 << QStringList{"/a"}
        << QStringList{"k1"} << QStringList{""};
    QTest::newRow("duplicates kept")
        << QVariantMap{{"R1C1", "/a"}, {"R2C1", "/a"}} << 2 << withHeader({}) << 1
        << QStringList{"/a", "/a"} << QStringList{} << QStringList{};
}

static QMap<QString, QString> toCells(const QVariantMap &m)
{
    QMap<QString, QString> out;
    for (auto it = m.begin(); it != m.end(); ++it)
        out.insert(it.key(), it.value().toString());
    return out;
}

void TestListFiles::parseFirstWay()
{
    QFETCH(QVariantMap, files);
    QFETCH(int, filesLastRow);
    QFETCH(QVariantMap, keys);
    QFETCH(int, keysLastRow);
    QFETCH(QStringList, expFiles);
    QFETCH(QStringList, expFinds);
    QFETCH(QStringList, expReplacements);
    const listfile::FirstWay c = listfile::parseFirstWay(grid(toCells(files)), filesLastRow,
                                                         grid(toCells(keys)), keysLastRow);
    QCOMPARE(c.files, expFiles);
    QCOMPARE(c.finds, expFinds);
    QCOMPARE(c.replacements, expReplacements);
}

void TestListFiles::parseSecondWay_data()
{
    QTest::addColumn<QVariantMap>("cells");
    QTest::addColumn<int>("lastRow");
    QTest::addColumn<int>("lastColumn");
    QTest::addColumn<QStringList>("expFiles");
    QTest::addColumn<QList<QStringList>>("expRows");

    const QVariantMap twoFiles{
        {"R1C1", "关键字或位置"}, {"R1C2", "C:\\\\a.xlsx"}, {"R1C3", "/b.xlsx"}};
    auto with = [twoFiles](QVariantMap m) {
        for (auto it = twoFiles.begin(); it != twoFiles.end(); ++it)
            m.insert(it.key(), it.value());
        return m;
    };
    QTest::newRow("paths and rows")
        << with({{"R2C1", "k1"}, {"R2C2", "a1"}, {"R2C3", "b1"}, {"R3C1", "k2"}, {"R3C3", "b2"}})
        << 3 << 3 << QStringList{"C:/a.xlsx", "/b.xlsx"}
        << QList<QStringList>{{"k1", "a1", "b1"}, {"k2", "", "b2"}};
    QTest::newRow("paths only") << with({}) << 1 << 3 << QStringList{"C:/a.xlsx", "/b.xlsx"}
                                << QList<QStringList>{};
    QTest::newRow("empty header cell ends the files; later columns ignored")
        << QVariantMap{{"R1C2", "/a"},
                       {"R1C4", "/c"},
                       {"R2C1", "k"},
                       {"R2C2", "va"},
                       {"R2C4", "vc"}}
        << 2 << 4 << QStringList{"/a"} << QList<QStringList>{{"k", "va"}};
    QTest::newRow("empty key ends the rows")
        << with({{"R2C1", "k1"}, {"R3C2", "x"}, {"R4C1", "k3"}}) << 4 << 3
        << QStringList{"C:/a.xlsx", "/b.xlsx"} << QList<QStringList>{{"k1", "", ""}};
    QTest::newRow("empty sheet") << QVariantMap{} << 1 << 1 << QStringList{}
                                 << QList<QStringList>{};
}

void TestListFiles::parseSecondWay()
{
    QFETCH(QVariantMap, cells);
    QFETCH(int, lastRow);
    QFETCH(int, lastColumn);
    QFETCH(QStringList, expFiles);
    QFETCH(QList<QStringList>, expRows);
    const listfile::SecondWay c =
        listfile::parseSecondWay(grid(toCells(cells)), lastRow, lastColumn);
    QCOMPARE(c.files, expFiles);
    QCOMPARE(c.rows.toList(), expRows);
}

// ---------------------------------------------------------------- real files

void TestListFiles::exportedFilesAsOpenpyxlSeesThem_data()
{
    QTest::addColumn<int>("way");
    QTest::addColumn<QStringList>("sheets");
    QTest::addColumn<QStringList>("firstSheetCells");
    QTest::addColumn<QStringList>("secondSheetCells");

    QTest::newRow("first way") << 1 << QStringList{filesSheet1(), keysSheet1()}
                               << QStringList{"A1=/data/甲.xlsx", "A2=C:/b.xls", "A3=/data/甲.xlsx"}
                               << QStringList{"A1=被替换关键字:", "A2=k1", "A3=12", "A4=k3",
                                              "B1=欲替换为:",     "B2=v1"};
    QTest::newRow("second way") << 2 << QStringList{sheet2()}
                                << QStringList{"A1=关键字或位置", "A2=k1", "A3=k2",
                                               "B1=/x/a.xlsx",    "B2=a1", "C1=/y/b.xls",
                                               "C2=b1",           "C3=07"}
                                << QStringList{};
}

void TestListFiles::exportedFilesAsOpenpyxlSeesThem()
{
    QFETCH(int, way);
    QFETCH(QStringList, sheets);
    QFETCH(QStringList, firstSheetCells);
    QFETCH(QStringList, secondSheetCells);

    const QString target = path(QStringLiteral("exported-%1.xlsx").arg(way));
    QString error;
    if (way == 1) {
        const listfile::FirstWay content{
            {"/data/甲.xlsx", "C:/b.xls", "/data/甲.xlsx"}, {"k1", "12", "k3"}, {"v1", ""}};
        // Each editor column is as long as its own editor.
        QVERIFY2(listfile::saveFirstWay(target, content, &error), qPrintable(error));
    } else {
        listfile::SecondWay content;
        content.files = QStringList{"/x/a.xlsx", "/y/b.xls"};
        content.rows = {{"k1", "a1", "b1"}, {"k2", "", "07"}};
        QVERIFY2(listfile::saveSecondWay(target, content, &error), qPrintable(error));
    }
    const QJsonObject dump = testsupport::dumpWorkbook(target, &error);
    QVERIFY2(!dump.isEmpty(), qPrintable(error));
    QCOMPARE(dumpedSheetNames(dump), sheets);
    firstSheetCells.sort();
    secondSheetCells.sort();
    QCOMPARE(dumpedCells(dump, sheets.at(0)), firstSheetCells);
    if (sheets.size() > 1)
        QCOMPARE(dumpedCells(dump, sheets.at(1)), secondSheetCells);
    // Every value is written as a string, also those that look like numbers.
    for (const QJsonValue &s : dump.value(QStringLiteral("sheets")).toArray()) {
        const QJsonObject types = s.toObject().value(QStringLiteral("types")).toObject();
        for (auto it = types.begin(); it != types.end(); ++it)
            QCOMPARE(it.value().toString(), QStringLiteral("s"));
    }
}

void TestListFiles::exportReplacesOldFileWhole()
{
    // An earlier file with other sheets and more rows leaves nothing behind.
    const QString target =
        make(QStringLiteral("old-list.xlsx"),
             book({sheet(QStringLiteral("Other"), {{"A1", "old"}}),
                   sheet(filesSheet1(), {{"A1", "/old1"}, {"A2", "/old2"}, {"A3", "/old3"}})}));
    QString error;
    QVERIFY2(listfile::saveFirstWay(target, {{"/new"}, {"k"}, {"v"}}, &error), qPrintable(error));
    const QJsonObject dump = testsupport::dumpWorkbook(target, &error);
    QCOMPARE(dumpedSheetNames(dump), (QStringList{filesSheet1(), keysSheet1()}));
    QCOMPARE(dumpedCells(dump, filesSheet1()), QStringList{"A1=/new"});
}

void TestListFiles::openpyxlFilesLoad_data()
{
    QTest::addColumn<int>("way");
    QTest::addColumn<QJsonObject>("spec");
    QTest::addColumn<QStringList>("expFiles");
    QTest::addColumn<QStringList>("expKeys");   // first way: finds; second way: "k|v|v"
    QTest::addColumn<QStringList>("expValues"); // first way: replacements

    QTest::newRow("first way, backslash paths")
        << 1
        << firstWayBook({"C:\\data\\a.xlsx", "C:\\\\data\\\\a.xlsx", "\\\\srv\\share\\b.xls"},
                        {"k1", "k2"}, {"v1", ""})
        << QStringList{"C:/data/a.xlsx", "C:/data/a.xlsx", "/srv/share/b.xls"}
        << QStringList{"k1", "k2"} << QStringList{"v1", ""};
    QJsonObject numbers = firstWayBook({"/a.xlsx"}, {}, {});
    {
        QJsonArray sheets = numbers.value("sheets").toArray();
        QJsonObject keys = sheets.at(1).toObject();
        QJsonObject cells = keys.value("cells").toObject();
        cells.insert("A2", 42);
        cells.insert("B2", 1.5);
        keys.insert("cells", cells);
        sheets.replace(1, keys);
        // Order of the sheets does not matter, further sheets are ignored.
        sheets.prepend(sheet("Notes", {{"A1", "x"}}));
        const QJsonValue files = sheets.at(1);
        sheets.replace(1, sheets.at(2));
        sheets.replace(2, files);
        numbers.insert("sheets", sheets);
    }
    QTest::newRow("first way, numbers, sheets reordered, extra sheet")
        << 1 << numbers << QStringList{"/a.xlsx"} << QStringList{"42"} << QStringList{"1.5"};
    QJsonObject numbers2 = secondWayBook({"/a.xlsx", "D:\\b.xls"}, {{"k1", "x"}, {"k2"}});
    {
        QJsonArray sheets = numbers2.value("sheets").toArray();
        QJsonObject s = sheets.at(0).toObject();
        QJsonObject cells = s.value("cells").toObject();
        cells.insert("C2", 3);
        cells.insert("B3", 2.25);
        s.insert("cells", cells);
        sheets.replace(0, s);
        numbers2.insert("sheets", sheets);
    }
    QTest::newRow("second way, number cells as text")
        << 2 << numbers2 << QStringList{"/a.xlsx", "D:/b.xls"} << QStringList{"k1|x|3", "k2|2.25|"}
        << QStringList{};
    QJsonObject byXlsxwriter = secondWayBook({"/a.xlsx"}, {{"k", "v"}});
    byXlsxwriter.insert("writer", "xlsxwriter");
    QTest::newRow("second way by xlsxwriter")
        << 2 << byXlsxwriter << QStringList{"/a.xlsx"} << QStringList{"k|v"} << QStringList{};
}

void TestListFiles::openpyxlFilesLoad()
{
    QFETCH(int, way);
    QFETCH(QJsonObject, spec);
    QFETCH(QStringList, expFiles);
    QFETCH(QStringList, expKeys);
    QFETCH(QStringList, expValues);
    const QString file = make(QStringLiteral("load-%1.xlsx").arg(QTest::currentDataTag()), spec);
    QString error;
    if (way == 1) {
        listfile::FirstWay c;
        QCOMPARE(listfile::loadFirstWay(file, &c, &error), listfile::LoadResult::Loaded);
        QCOMPARE(c.files, expFiles);
        QCOMPARE(c.finds, expKeys);
        QCOMPARE(c.replacements, expValues);
    } else {
        listfile::SecondWay c;
        QCOMPARE(listfile::loadSecondWay(file, &c, &error), listfile::LoadResult::Loaded);
        QCOMPARE(c.files, expFiles);
        QStringList rows;
        for (const QStringList &r : c.rows)
            rows << r.join(QLatin1Char('|'));
        QCOMPARE(rows, expKeys);
    }
}

void TestListFiles::refusedFilesAreLeftAlone_data()
{
    QTest::addColumn<int>("way");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("result");

    const int noPath = int(listfile::LoadResult::NoPath);
    const int few = int(listfile::LoadResult::TooFewSheets);
    const int missing = int(listfile::LoadResult::SheetMissing);
    for (int way : {1, 2}) {
        const QByteArray w = way == 1 ? "first way, " : "second way, ";
        QTest::newRow(w + "empty path") << way << "empty" << noPath;
        QTest::newRow(w + "no such file") << way << "absent" << few;
        QTest::newRow(w + "HTML named .xlsx") << way << "html" << few;
        QTest::newRow(w + "truncated zip") << way << "truncated" << few;
        QTest::newRow(w + "other sheet names") << way << "names" << missing;
    }
    QTest::newRow("first way, one sheet") << 1 << "one" << few;
    QTest::newRow("first way, only one of its sheets") << 1 << "half" << missing;
}

void TestListFiles::refusedFilesAreLeftAlone()
{
    QFETCH(int, way);
    QFETCH(QString, kind);
    QFETCH(int, result);

    QString file;
    const QString name = QStringLiteral("refused-%1-%2.xlsx").arg(way).arg(kind);
    if (kind == QLatin1String("absent")) {
        file = path(name);
    } else if (kind == QLatin1String("html")) {
        file = path(name);
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<html><body>not a workbook</body></html>");
    } else if (kind == QLatin1String("truncated")) {
        file = make(name, firstWayBook({"/a"}, {"k"}, {"v"}));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.resize(f.size() / 2));
    } else if (kind == QLatin1String("names")) {
        file = make(name, book({sheet("Sheet1", {{"A1", "/a"}}), sheet("Sheet2")}));
    } else if (kind == QLatin1String("one")) {
        file = make(name, book({sheet(filesSheet1(), {{"A1", "/a"}})}));
    } else if (kind == QLatin1String("half")) {
        file = make(name, book({sheet(filesSheet1(), {{"A1", "/a"}}), sheet("Sheet2")}));
    }
    const QByteArray before = file.isEmpty() ? QByteArray() : testsupport::sha256(file);
    const bool existed = QFileInfo::exists(file);

    QString error;
    listfile::FirstWay c1{{"untouched"}, {}, {}};
    listfile::SecondWay c2;
    c2.files = QStringList{"untouched"};
    const listfile::LoadResult got = way == 1 ? listfile::loadFirstWay(file, &c1, &error)
                                              : listfile::loadSecondWay(file, &c2, &error);
    QCOMPARE(int(got), result);
    QCOMPARE(c1.files, QStringList{"untouched"});
    QCOMPARE(c2.files, QStringList{"untouched"});
    if (!file.isEmpty()) {
        QVERIFY2(error.contains(file), qPrintable(error));
        QCOMPARE(QFileInfo::exists(file), existed);
        if (existed)
            QCOMPARE(testsupport::sha256(file), before);
    }
}

void TestListFiles::failedSaveKeepsOldFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("target is a folder") << "folder";
    QTest::newRow("folder does not exist") << "missing";
    QTest::newRow("read-only folder") << "locked";
}

void TestListFiles::failedSaveKeepsOldFile()
{
    QFETCH(QString, kind);
    const QString dir = path(QStringLiteral("save-") + kind);
    QVERIFY(QDir().mkpath(dir));
    QString target = dir + QStringLiteral("/list.xlsx");
    QByteArray before;
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(target));
        QFile inside(target + QStringLiteral("/keep.txt"));
        QVERIFY(inside.open(QIODevice::WriteOnly));
        inside.write("keep");
    } else if (kind == QLatin1String("missing")) {
        target = dir + QStringLiteral("/no/such/folder/list.xlsx");
    } else {
        make(QStringLiteral("save-locked/list.xlsx"), firstWayBook({"/old"}, {}, {}));
        before = testsupport::sha256(target);
    }

    LockedFolder lock(dir);
    if (kind == QLatin1String("locked") && !lock.locked())
        QSKIP("this folder cannot be made read-only here");
    QString error;
    QVERIFY(!listfile::saveFirstWay(target, {{"/new"}, {"k"}, {"v"}}, &error));
    QVERIFY2(error.contains(target) || error.contains(QDir::toNativeSeparators(target)),
             qPrintable(error));
    if (kind == QLatin1String("folder")) {
        QVERIFY(QFileInfo(target).isDir());
        QVERIFY(QFileInfo::exists(target + QStringLiteral("/keep.txt")));
    } else if (kind == QLatin1String("missing")) {
        QVERIFY(!QFileInfo::exists(target));
    } else {
        QCOMPARE(testsupport::sha256(target), before);
        QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList{"list.xlsx"});
    }
}
