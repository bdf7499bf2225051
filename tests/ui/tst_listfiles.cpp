// List files: where each value goes, how a file is read back, the files seen
// by openpyxl, and the export and import buttons of the real window.
#include "listfiles_helpers.h"
#include "testsupport.h"
#include "ui/listfile.h"
#include "ui/mainwindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace lftest;

namespace {

// A sheet given as "R<row>C<col>" -> text.
listfile::CellText grid(const QMap<QString, QString> &cells)
{
    return [cells](int row, int column) {
        return cells.value(QStringLiteral("R%1C%2").arg(row).arg(column));
    };
}

QStringList codes(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).toString();
    return out;
}

// Makes a folder refuse new files for as long as it lives: by its permission
// bits, or, for root (whom they do not stop), by the immutable attribute.
class LockedFolder
{
public:
    explicit LockedFolder(const QString &dir) : m_dir(dir)
    {
        if (::geteuid() != 0) {
            m_locked = QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
            m_byChmod = true;
        } else {
            m_locked =
                QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), dir}) == 0;
        }
    }
    ~LockedFolder()
    {
        if (!m_locked)
            return;
        if (m_byChmod)
            QFile::setPermissions(m_dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        else
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), m_dir});
    }
    bool locked() const { return m_locked; }

private:
    QString m_dir;
    bool m_locked = false;
    bool m_byChmod = false;
};

} // namespace

class TestListFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    // Pure logic.
    void normalisePath_data();
    void normalisePath();
    void parseFirstWay_data();
    void parseFirstWay();
    void parseSecondWay_data();
    void parseSecondWay();

    // Real files.
    void exportedFilesAsOpenpyxlSeesThem_data();
    void exportedFilesAsOpenpyxlSeesThem();
    void exportReplacesOldFileWhole();
    void openpyxlFilesLoad_data();
    void openpyxlFilesLoad();
    void refusedFilesAreLeftAlone_data();
    void refusedFilesAreLeftAlone();
    void failedSaveKeepsOldFile_data();
    void failedSaveKeepsOldFile();

    // The window.
    void firstWayRoundTrip();
    void secondWayRoundTripFromMenu();
    void firstWayImportEdgeCases_data();
    void firstWayImportEdgeCases();
    void secondWayImportEdgeCases_data();
    void secondWayImportEdgeCases();
    void refusalsLeaveWindowAsItWas_data();
    void refusalsLeaveWindowAsItWas();
    void exportCancelled_data();
    void exportCancelled();
    void exportFailureIsReported_data();
    void exportFailureIsReported();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString make(const QString &name, const QJsonObject &spec);
    void importInto(MainWindow &w, int way, const QString &file);

    QTemporaryDir m_dir;
    QTemporaryDir m_home;
};

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

// ---------------------------------------------------------------- the window

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
#include "tst_listfiles.moc"
