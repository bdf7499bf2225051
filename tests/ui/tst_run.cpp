// The batch run through the real window: files listed through the add
// dialogs, keywords typed, the run button clicked, then the workbooks on disk
// read back with openpyxl and the status bar, row colours and controls
// checked.
#include "tst_run.h"
#include "automation/excelapp/excelapp.h"
#include "testsupport.h"
#include "ui/mainwindow.h"
#include "uidriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using testsupport::cellValue;
using testsupport::dumpWorkbook;

namespace {

// Three sheets; "Data" (the second) is active.
QJsonObject bookSpec()
{
    const auto sheet = [](const QString &name, const QString &tag) {
        return QJsonObject{{QStringLiteral("name"), name},
                           {QStringLiteral("cells"),
                            QJsonObject{{QStringLiteral("A1"), QStringLiteral("apple pie")},
                                        {QStringLiteral("B1"), QStringLiteral("Apple")},
                                        {QStringLiteral("A2"), tag},
                                        {QStringLiteral("C3"), 2023}}}};
    };
    return QJsonObject{{QStringLiteral("active"), 1},
                       {QStringLiteral("sheets"),
                        QJsonArray{sheet(QStringLiteral("First"), QStringLiteral("one")),
                                   sheet(QStringLiteral("Data"), QStringLiteral("two")),
                                   sheet(QStringLiteral("Last"), QStringLiteral("three"))}}};
}

// Records the status text each time a queued call reaches the window: the
// text that the reports before it left.
class StatusRecorder : public QObject
{
public:
    explicit StatusRecorder(QMainWindow *w) : m_w(w) { w->installEventFilter(this); }
    QStringList seen;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::MetaCall)
            seen << uidriver::statusTexts(m_w).value(4);
        return false;
    }

private:
    QMainWindow *m_w;
};

} // namespace

void TestRun::initTestCase()
{
    excelapp::registerApplication();
    QVERIFY(m_dir.isValid());
    uidriver::useDataDir(m_dir.filePath(QStringLiteral("data")));
    m_pristine = m_dir.filePath(QStringLiteral("pristine.xlsx"));
    QString error;
    QVERIFY2(testsupport::makeWorkbook(m_pristine, bookSpec(), &error), qPrintable(error));
}

void TestRun::init()
{
    // Each test starts from default options and an empty window.
    QDir(m_dir.filePath(QStringLiteral("data"))).removeRecursively();
    m_win = new MainWindow;
    m_win->show();
    QApplication::setActiveWindow(m_win);
    QVERIFY(QTest::qWaitForWindowActive(m_win));
}

void TestRun::cleanup()
{
    delete m_win;
    m_win = nullptr;
}

QString TestRun::makeBook(const QString &name)
{
    const QString path = m_dir.filePath(name);
    QFile::remove(path);
    QFile::copy(m_pristine, path);
    QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    return path;
}

void TestRun::listFiles(int tab, const QStringList &paths)
{
    w<QTabWidget>("tabWidget_1")->setCurrentIndex(tab);
    QVERIFY(uidriver::addFilesThroughDialog(
        w<QPushButton>(tab == 0 ? "pushButton_list1_Add" : "pushButton_list2_Add"), paths));
    // The closed dialog hands the activation back to the window.
    QApplication::setActiveWindow(m_win);
    QVERIFY(QTest::qWaitForWindowActive(m_win));
}

void TestRun::typeKeys(const QString &keys, const QString &values)
{
    auto *s1 = w<QPlainTextEdit>("plainTextEdit_s1");
    auto *s2 = w<QPlainTextEdit>("plainTextEdit_s2");
    s1->clear();
    s2->clear();
    uidriver::typeText(s1, keys);
    uidriver::typeText(s2, values);
}

void TestRun::typeCell(int r, int c, const QString &text)
{
    auto *table = w<QTableWidget>("tableWidget_list2");
    table->setFocus();
    table->setCurrentCell(r, c);
    // The first key opens the cell's editor, which then has the focus.
    uidriver::typeText(table->viewport(), text.left(1));
    QWidget *editor = QApplication::focusWidget();
    QVERIFY(editor && editor != table);
    uidriver::typeText(editor, text.mid(1));
    QTest::keyClick(editor, Qt::Key_Return);
}

void TestRun::clickRun()
{
    QTest::mouseClick(w<QPushButton>("pushButton_replace"), Qt::LeftButton);
}

void TestRun::firstWayKeywords_data()
{
    QTest::addColumn<bool>("wholeCell");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<int>("order");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("values");
    QTest::addColumn<QString>("a1");
    QTest::addColumn<QString>("b1");

    QTest::newRow("part, any case") << false << false << 0 << "apple"
                                    << "pear"
                                    << "pear pie"
                                    << "pear";
    QTest::newRow("part, case") << false << true << 0 << "apple"
                                << "pear"
                                << "pear pie"
                                << "Apple";
    QTest::newRow("whole cell") << true << false << 1 << "apple"
                                << "pear"
                                << "apple pie"
                                << "pear";
    QTest::newRow("two keywords on one line share a value") << false << false << 0 << "pie|Apple"
                                                            << "X"
                                                            << "X X"
                                                            << "X";
    QTest::newRow("two lines in order") << false << true << 1 << "apple\npear"
                                        << "pear\nplum"
                                        << "plum pie"
                                        << "Apple";
}

void TestRun::firstWayKeywords()
{
    QFETCH(bool, wholeCell);
    QFETCH(bool, matchCase);
    QFETCH(int, order);
    QFETCH(QString, keys);
    QFETCH(QString, values);
    QFETCH(QString, a1);
    QFETCH(QString, b1);

    const QStringList files = {makeBook(QStringLiteral("k1.xlsx")),
                               makeBook(QStringLiteral("k2.xlsx")),
                               makeBook(QStringLiteral("k3.xlsx"))};
    listFiles(0, files);
    QCOMPARE(w<QTableWidget>("tableWidget_list1")->rowCount(), 3);
    w<QCheckBox>("checkBox_lookAt")->setChecked(wholeCell);
    w<QCheckBox>("checkBox_matchCase")->setChecked(matchCase);
    w<QComboBox>("comboBox_searchOrder")->setCurrentIndex(order);
    w<QComboBox>("comboBox")->setCurrentText(QStringLiteral("所有表"));
    typeKeys(keys, values);
    clickRun();

    QTRY_COMPARE(uidriver::statusTexts(m_win).value(4), QStringLiteral("文件替换处理全部完成!"));
    const QStringList status = uidriver::statusTexts(m_win);
    QCOMPARE(status.mid(0, 4),
             QStringList({QStringLiteral(" 文件(3)"), QStringLiteral(" 成功(3)"),
                          QStringLiteral(" 失败(0)"), QStringLiteral(" 丢失(0)")}));
    QVERIFY(w<QPushButton>("pushButton_replace")->isEnabled());
    QVERIFY(w<QPushButton>("pushButton_ClearAll")->isEnabled());

    for (const QString &f : files) {
        const QJsonObject dump = dumpWorkbook(f);
        for (const QString &sheet :
             {QStringLiteral("First"), QStringLiteral("Data"), QStringLiteral("Last")}) {
            QCOMPARE(cellValue(dump, sheet, QStringLiteral("A1")).toString(), a1);
            QCOMPARE(cellValue(dump, sheet, QStringLiteral("B1")).toString(), b1);
            QCOMPARE(cellValue(dump, sheet, QStringLiteral("C3")).toInt(), 2023);
        }
    }
}

void TestRun::progressCountsUp()
{
    listFiles(0, {makeBook(QStringLiteral("p1.xlsx")), makeBook(QStringLiteral("p2.xlsx")),
                  makeBook(QStringLiteral("p3.xlsx"))});
    typeKeys(QStringLiteral("pie"), QStringLiteral("cake"));
    StatusRecorder recorder(m_win);
    clickRun();
    // The reports are handled one after another, in the order they were sent.
    QTRY_COMPARE(uidriver::statusTexts(m_win).value(4), QStringLiteral("文件替换处理全部完成!"));
    QCOMPARE(recorder.seen.mid(0, 3),
             QStringList({QStringLiteral("文件替换处理中..."),
                          QStringLiteral("文件替换处理中...已完成[1/3]"),
                          QStringLiteral("文件替换处理中...已完成[2/3]")}));
    QCOMPARE(uidriver::statusTexts(m_win).value(1), QStringLiteral(" 成功(3)"));
}

void TestRun::firstWaySheetChoice_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QStringList>("changed");

    QTest::newRow("active sheet") << "默认页" << QStringList{QStringLiteral("Data")};
    QTest::newRow("first") << "首表" << QStringList{QStringLiteral("First")};
    QTest::newRow("last") << "尾表" << QStringList{QStringLiteral("Last")};
    QTest::newRow("all") << "所有表"
                         << QStringList{QStringLiteral("First"), QStringLiteral("Data"),
                                        QStringLiteral("Last")};
    QTest::newRow("typed list") << "3,1"
                                << QStringList{QStringLiteral("First"), QStringLiteral("Last")};
    QTest::newRow("typed list out of range") << "4,0" << QStringList();
}

void TestRun::firstWaySheetChoice()
{
    QFETCH(QString, choice);
    QFETCH(QStringList, changed);

    const QString file = makeBook(QStringLiteral("choice.xlsx"));
    listFiles(0, {file});
    auto *combo = w<QComboBox>("comboBox");
    const int idx = combo->findText(choice);
    if (idx >= 0) {
        combo->setCurrentIndex(idx);
    } else {
        combo->setCurrentIndex(combo->findText(QStringLiteral("指定表")));
        combo->setCurrentText(choice);
    }
    QCOMPARE(combo->currentText(), choice);
    typeKeys(QStringLiteral("pie"), QStringLiteral("cake"));
    clickRun();
    QTRY_COMPARE(uidriver::statusTexts(m_win).value(4), QStringLiteral("文件替换处理全部完成!"));
    QCOMPARE(uidriver::statusTexts(m_win).value(1), QStringLiteral(" 成功(1)"));

    const QJsonObject dump = dumpWorkbook(file);
    for (const QString &sheet :
         {QStringLiteral("First"), QStringLiteral("Data"), QStringLiteral("Last")}) {
        const QString expected =
            changed.contains(sheet) ? QStringLiteral("apple cake") : QStringLiteral("apple pie");
        QCOMPARE(cellValue(dump, sheet, QStringLiteral("A1")).toString(), expected);
    }
}

void TestRun::firstWayPositionMode()
{
    const QString file = makeBook(QStringLiteral("pos.xlsx"));
    listFiles(0, {file});
    // The keyword options are ignored in position mode.
    w<QCheckBox>("checkBox_lookAt")->setChecked(true);
    w<QRadioButton>("radioButton_position")->click();
    w<QComboBox>("comboBox")->setCurrentText(QStringLiteral("首表"));
    typeKeys(QStringLiteral("A1|D4\nC3"), QStringLiteral("新值\n2024"));
    clickRun();
    QTRY_COMPARE(uidriver::statusTexts(m_win).value(4), QStringLiteral("文件替换处理全部完成!"));
    QCOMPARE(uidriver::statusTexts(m_win).value(1), QStringLiteral(" 成功(1)"));
    // After the run the keyword options are enabled again, whatever the mode.
    QVERIFY(w<QCheckBox>("checkBox_lookAt")->isEnabled());

    const QJsonObject dump = dumpWorkbook(file);
    QCOMPARE(cellValue(dump, QStringLiteral("First"), QStringLiteral("A1")).toString(),
             QStringLiteral("新值"));
    QCOMPARE(cellValue(dump, QStringLiteral("First"), QStringLiteral("D4")).toString(),
             QStringLiteral("新值"));
    QCOMPARE(cellValue(dump, QStringLiteral("First"), QStringLiteral("C3")).toString(),
             QStringLiteral("2024"));
    QCOMPARE(cellValue(dump, QStringLiteral("Data"), QStringLiteral("A1")).toString(),
             QStringLiteral("apple pie"));
}

void TestRun::missingAndBrokenFiles()
{
    const QString good = makeBook(QStringLiteral("good.xlsx"));
    const QString gone = makeBook(QStringLiteral("gone.xlsx"));
    const QString broken = m_dir.filePath(QStringLiteral("broken.xlsx"));
    {
        QFile f(broken);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<html><body>not a workbook</body></html>");
    }
    const QByteArray brokenBytes = testsupport::readAll(broken);
    listFiles(0, {good, gone, broken});
    QVERIFY(QFile::remove(gone));
    typeKeys(QStringLiteral("pie"), QStringLiteral("cake"));
    clickRun();
    QTRY_COMPARE(uidriver::statusTexts(m_win).value(4), QStringLiteral("文件替换处理全部完成!"));
    const QStringList status = uidriver::statusTexts(m_win);
    QCOMPARE(status.value(1), QStringLiteral(" 成功(1)"));
    QCOMPARE(status.value(2), QStringLiteral(" <font color='red'>失败(1)</font>"));
    QCOMPARE(status.value(3), QStringLiteral(" <font color='blue'>丢失(1)</font>"));

    auto *table = w<QTableWidget>("tableWidget_list1");
    QCOMPARE(table->item(0, 0)->background().style(), Qt::NoBrush);
    QCOMPARE(table->item(1, 0)->background().color(), QColor(Qt::blue));
    QCOMPARE(table->item(2, 0)->background().color(), QColor(Qt::red));
    QCOMPARE(testsupport::readAll(broken), brokenBytes);
    QCOMPARE(cellValue(dumpWorkbook(good), QStringLiteral("Data"), QStringLiteral("A1")).toString(),
             QStringLiteral("apple cake"));
}

void TestRun::refusals_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<bool>("withFiles");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("values");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("status");

    const QString cancelled = QStringLiteral("文件替换处理被取消!");              // code 51
    const QString emptyLine = QStringLiteral("发现被替换关键字有[空]行,请检查!"); // code 50
    const QString counts =
        QStringLiteral("【被替换关键字】与【欲替换为】内容条目数量不一致，请检查!");
    QTest::newRow("first way, no files") << 0 << false << "a"
                                         << "b"
                                         << "警告"
                                         << "Excel文件列表为空,请添加!" << cancelled;
    QTest::newRow("first way, empty line inside")
        << 0 << true << "a\n\nb"
        << "1\n2\n3"
        << "警告"
        << "【被替换关键字】存在空行，请检查!" << cancelled;
    QTest::newRow("first way, counts differ") << 0 << true << "a\nb\nc"
                                              << "1\n2"
                                              << "警告" << counts << cancelled;
    QTest::newRow("first way, no keywords") << 0 << true << ""
                                            << "x"
                                            << "警告!"
                                            << "无【被替换关键字】内容，请填写!" << cancelled;
    QTest::newRow("first way, counts before emptiness") << 0 << true << ""
                                                        << "x\ny"
                                                        << "警告" << counts << cancelled;
    QTest::newRow("first way, leading empty line") << 0 << true << "\na"
                                                   << "1\n2"
                                                   << ""
                                                   << "" << emptyLine;
    QTest::newRow("first way, trailing empty line") << 0 << true << "a\n"
                                                    << "1\n2"
                                                    << ""
                                                    << "" << emptyLine;
    QTest::newRow("second way, no files")
        << 1 << false << ""
        << ""
        << "警告"
        << "excel文件列表为空,请添加excel文件到列表!" << cancelled;
    QTest::newRow("second way, a keyword row without its keyword") << 1 << true << ""
                                                                   << ""
                                                                   << ""
                                                                   << "" << emptyLine;
}

void TestRun::refusals()
{
    QFETCH(int, tab);
    QFETCH(bool, withFiles);
    QFETCH(QString, keys);
    QFETCH(QString, values);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, status);

    const QString file = makeBook(QStringLiteral("refused.xlsx"));
    const QByteArray before = testsupport::readAll(file);
    if (withFiles)
        listFiles(tab, {file});
    w<QTabWidget>("tabWidget_1")->setCurrentIndex(tab);
    typeKeys(keys, values);
    if (tab == 1 && withFiles) {
        // A value typed in a file's column of the entry row makes a keyword
        // row whose keyword cell is empty.
        typeCell(0, 1, QStringLiteral("v"));
    }

    uidriver::BoxSeen box;
    {
        uidriver::OnModal<QMessageBox> answer(uidriver::closeBox(&box));
        clickRun();
        QCOMPARE(answer.fired(), !title.isEmpty());
    }
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, text);
    if (!title.isEmpty())
        QCOMPARE(box.buttons, 1);

    const QStringList texts = uidriver::statusTexts(m_win);
    QCOMPARE(texts.value(4), status);
    QCOMPARE(texts.mid(1, 3), QStringList({QStringLiteral(" 成功(0)"), QStringLiteral(" 失败(0)"),
                                           QStringLiteral(" 丢失(0)")}));
    QVERIFY(w<QPushButton>("pushButton_replace")->isEnabled());
    QCOMPARE(testsupport::readAll(file), before);
    if (tab == 1 && !withFiles) {
        QCOMPARE(w<QPushButton>("pushButton_replace")->text(),
                 QStringLiteral("开始替换(CTRL+SHIFT+H)"));
        // The shortcut still starts a run after the button's text changed.
        uidriver::OnModal<QMessageBox> answer(uidriver::closeBox(&box));
        QApplication::setActiveWindow(m_win);
        QVERIFY(QTest::qWaitForWindowActive(m_win));
        QTest::keyClick(m_win, Qt::Key_H, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_VERIFY(answer.fired()); // a shortcut clicks the button animated
    }
}

void TestRun::secondWay()
{
    const QString f1 = makeBook(QStringLiteral("s1.xlsx"));
    const QString f2 = makeBook(QStringLiteral("s2.xlsx"));
    listFiles(1, {f1, f2});
    auto *table = w<QTableWidget>("tableWidget_list2");
    QCOMPARE(table->columnCount(), 3);
    w<QComboBox>("comboBox")->setCurrentText(QStringLiteral("所有表"));

    // Row 0: "pie|one" -> per-file values; typing into the entry row grows the table.
    table->setFocus();
    typeCell(0, 0, QStringLiteral("pie|one"));
    typeCell(0, 1, QStringLiteral("cake"));
    typeCell(0, 2, QStringLiteral("tart"));
    QTRY_COMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("pie|one"));

    clickRun();
    QTRY_COMPARE(uidriver::statusTexts(m_win).value(4), QStringLiteral("文件替换处理全部完成!"));
    QCOMPARE(uidriver::statusTexts(m_win).value(1), QStringLiteral(" 成功(2)"));

    const QJsonObject d1 = dumpWorkbook(f1);
    const QJsonObject d2 = dumpWorkbook(f2);
    QCOMPARE(cellValue(d1, QStringLiteral("Data"), QStringLiteral("A1")).toString(),
             QStringLiteral("apple cake"));
    QCOMPARE(cellValue(d1, QStringLiteral("First"), QStringLiteral("A2")).toString(),
             QStringLiteral("cake"));
    QCOMPARE(cellValue(d2, QStringLiteral("Last"), QStringLiteral("A1")).toString(),
             QStringLiteral("apple tart"));
    QCOMPARE(cellValue(d2, QStringLiteral("First"), QStringLiteral("A2")).toString(),
             QStringLiteral("tart"));
}

void TestRun::secondWayMissingFileMarksColumn()
{
    const QString f1 = makeBook(QStringLiteral("m1.xlsx"));
    const QString f2 = makeBook(QStringLiteral("m2.xlsx"));
    listFiles(1, {f1, f2});
    typeCell(0, 0, QStringLiteral("pie"));
    typeCell(0, 1, QStringLiteral("cake"));
    typeCell(0, 2, QStringLiteral("tart"));
    QVERIFY(QFile::remove(f1));
    clickRun();
    QTRY_COMPARE(uidriver::statusTexts(m_win).value(4), QStringLiteral("文件替换处理全部完成!"));
    QCOMPARE(uidriver::statusTexts(m_win).value(3),
             QStringLiteral(" <font color='blue'>丢失(1)</font>"));
    QCOMPARE(uidriver::statusTexts(m_win).value(1), QStringLiteral(" 成功(1)"));
    auto *table = w<QTableWidget>("tableWidget_list2");
    QCOMPARE(table->horizontalHeaderItem(1)->foreground().color(), QColor(Qt::blue));
    QCOMPARE(table->horizontalHeaderItem(2)->foreground().style(), Qt::NoBrush);

    QCOMPARE(table->item(0, 1)->background().color(), QColor(Qt::blue));
    QCOMPARE(table->item(0, 2)->background().style(), Qt::NoBrush);

    const QString shot = QDir::temp().filePath(QStringLiteral("trelvix-run-second-way.png"));
    m_win->grab().save(shot);

    // Listing another file rebuilds the headers and clears the marking.
    QVERIFY(QFile::copy(m_pristine, f1));
    listFiles(1, {makeBook(QStringLiteral("m3.xlsx"))});
    QCOMPARE(table->horizontalHeaderItem(1)->foreground().style(), Qt::NoBrush);
    QCOMPARE(table->item(0, 1)->background().style(), Qt::NoBrush);
}

void TestRun::recolouringKeepsTypedValues_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("a file added") << "add";
    QTest::newRow("a file removed") << "remove";
    QTest::newRow("a file dropped onto the first tab") << "drop";
}

// After a run has marked a missing file's column, the user empties the
// keyword of the first row; a later change of the file list redraws the
// columns without a colour of the run and without a warning, and the value
// typed in the second row stays.
void TestRun::recolouringKeepsTypedValues()
{
    QFETCH(QString, change);
    const QString f1 = makeBook(QStringLiteral("c1.xlsx"));
    const QString f2 = makeBook(QStringLiteral("c2.xlsx"));
    listFiles(1, {f1, f2});
    typeCell(0, 0, QStringLiteral("pie"));
    typeCell(0, 1, QStringLiteral("cake"));
    typeCell(1, 0, QStringLiteral("apple"));
    typeCell(1, 1, QStringLiteral("pear"));
    typeCell(1, 2, QStringLiteral("plum"));
    QVERIFY(QFile::remove(f1));
    clickRun();
    QTRY_COMPARE(uidriver::statusTexts(m_win).value(4), QStringLiteral("文件替换处理全部完成!"));
    auto *table = w<QTableWidget>("tableWidget_list2");
    QCOMPARE(table->item(1, 1)->background().color(), QColor(Qt::blue));
    table->item(0, 0)->setText(QString());

    QStringList boxes; // every message box is counted and closed
    QTimer boxWatch;
    connect(&boxWatch, &QTimer::timeout, [&boxes] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxes << box->text();
            box->reject();
        }
    });
    boxWatch.start(1);
    if (change == QLatin1String("add")) {
        listFiles(1, {makeBook(QStringLiteral("c3.xlsx"))});
    } else if (change == QLatin1String("remove")) {
        table->setCurrentCell(0, 2);
        QTest::mouseClick(w<QPushButton>("pushButton_list2_RemoveColumn"), Qt::LeftButton);
    } else {
        w<QTabWidget>("tabWidget_1")->setCurrentIndex(0);
        uidriver::dropFiles(m_win, {makeBook(QStringLiteral("c3.xlsx"))});
    }
    QCOMPARE(boxes, QStringList());
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("apple"));
    QCOMPARE(table->item(1, 1)->text(), QStringLiteral("pear"));
    QCOMPARE(table->item(1, 1)->background().style(), Qt::NoBrush);
}

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--quit-during-run") == 0)
        return quitDuringRunChild(argc, argv);
    QApplication app(argc, argv);
    TestRun tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
