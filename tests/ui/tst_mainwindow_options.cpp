// The main window's options: restored at start, saved on close, a typed sheet list kept over
// restarts, another version's options ignored, and a quit from the menu that saves nothing.
#include "tst_mainwindow.h"

#include "uidriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QtTest>

using namespace uidriver;

namespace {

// What the window shows of the seven options, one "name=value" per option.
QStringList shownOptions(MainWindow &w)
{
    auto *sheet = child<QComboBox>(&w, "comboBox");
    return {
        QStringLiteral("tab=%1").arg(child<QTabWidget>(&w, "tabWidget_1")->currentIndex()),
        QStringLiteral("separator=") + child<QLineEdit>(&w, "lineEdit_Separator")->text(),
        QStringLiteral("key=%1").arg(child<QRadioButton>(&w, "radioButton_key")->isChecked()),
        QStringLiteral("position=%1")
            .arg(child<QRadioButton>(&w, "radioButton_position")->isChecked()),
        QStringLiteral("matchCase=%1").arg(child<QCheckBox>(&w, "checkBox_matchCase")->isChecked()),
        QStringLiteral("searchOrder=%1")
            .arg(child<QComboBox>(&w, "comboBox_searchOrder")->currentIndex()),
        QStringLiteral("lookAt=%1").arg(child<QCheckBox>(&w, "checkBox_lookAt")->isChecked()),
        QStringLiteral("optionsEnabled=%1")
            .arg(child<QCheckBox>(&w, "checkBox_lookAt")->isEnabled()),
        QStringLiteral("sheet=%1 %2 editable=%3")
            .arg(sheet->currentIndex())
            .arg(sheet->currentText())
            .arg(sheet->isEditable()),
    };
}

QStringList defaults()
{
    return {"tab=0",      "separator=|",      "key=1",
            "position=0", "matchCase=0",      "searchOrder=0",
            "lookAt=0",   "optionsEnabled=1", "sheet=0 默认页 editable=0"};
}

QStringList with(QStringList base, const QStringList &changes)
{
    for (const QString &c : changes) {
        const QString name = c.section(QLatin1Char('='), 0, 0) + QLatin1Char('=');
        for (QString &b : base) {
            if (b.startsWith(name))
                b = c;
        }
    }
    return base;
}

} // namespace

void TstMainWindow::optionsRestored_data()
{
    QTest::addColumn<QStringList>("stored"); // "key=value" lines of group set
    QTest::addColumn<QStringList>("shown");

    const QStringList d = defaults();
    QTest::newRow("no file") << QStringList{} << d;
    QTest::newRow("second tab") << QStringList{"way=1"} << with(d, {"tab=1"});
    QTest::newRow("tab beyond the tabs") << QStringList{"way=5"} << d;
    QTest::newRow("tab not a number") << QStringList{"way=x"} << d;
    QTest::newRow("empty separator") << QStringList{"separator="} << with(d, {"separator="});
    QTest::newRow("separator kept as typed")
        << QStringList{"separator= ;# "} << with(d, {"separator= ;# "});
    QTest::newRow("position mode reads no keyword options")
        << QStringList{"key=0", "matchCase=1", "searchOrder=1", "lookAt=1"}
        << with(d, {"key=0", "position=1", "optionsEnabled=0"});
    QTest::newRow("key 2 keeps keyword mode")
        << QStringList{"key=2", "matchCase=1"} << with(d, {"matchCase=1"});
    QTest::newRow("key not a number is position mode")
        << QStringList{"key=on"} << with(d, {"key=0", "position=1", "optionsEnabled=0"});
    QTest::newRow("keyword options")
        << QStringList{"key=1", "matchCase=1", "searchOrder=1", "lookAt=1"}
        << with(d, {"matchCase=1", "searchOrder=1", "lookAt=1"});
    QTest::newRow("any non-zero number ticks")
        << QStringList{"matchCase=7", "lookAt=-1"} << with(d, {"matchCase=1", "lookAt=1"});
    QTest::newRow("Default") << QStringList{"comIndex=Default"} << d;
    QTest::newRow("First") << QStringList{"comIndex=First"} << with(d, {"sheet=1 首表 editable=0"});
    QTest::newRow("Last") << QStringList{"comIndex=Last"} << with(d, {"sheet=2 尾表 editable=0"});
    QTest::newRow("All") << QStringList{"comIndex=All"} << with(d, {"sheet=3 所有表 editable=0"});
    QTest::newRow("word in other case is a typed list")
        << QStringList{"comIndex=all"} << with(d, {"sheet=4 all editable=1"});
    QTest::newRow("typed list") << QStringList{"comIndex=1,3"}
                                << with(d, {"sheet=4 1,3 editable=1"});
    QTest::newRow("everything") << QStringList{"way=1",        "separator=;",   "key=1",
                                               "matchCase=1",  "searchOrder=1", "lookAt=1",
                                               "comIndex=Last"}
                                << with(d, {"tab=1", "separator=;", "matchCase=1", "searchOrder=1",
                                            "lookAt=1", "sheet=2 尾表 editable=0"});
}

void TstMainWindow::optionsRestored()
{
    QFETCH(QStringList, stored);
    QFETCH(QStringList, shown);
    {
        QSettings ini(options(), QSettings::IniFormat);
        for (const QString &line : stored)
            ini.setValue(QStringLiteral("set/") + line.section(QLatin1Char('='), 0, 0),
                         line.section(QLatin1Char('='), 1));
    }
    MainWindow w;
    QCOMPARE(shownOptions(w), shown);
}

namespace {

// Changes the window's options as a user would; one "what=value" per step.
void changeOptions(MainWindow &w, const QStringList &steps)
{
    for (const QString &s : steps) {
        const QString what = s.section(QLatin1Char('='), 0, 0);
        const QString value = s.section(QLatin1Char('='), 1);
        if (what == QLatin1String("tab")) {
            child<QTabWidget>(&w, "tabWidget_1")->setCurrentIndex(value.toInt());
        } else if (what == QLatin1String("separator")) {
            auto *e = child<QLineEdit>(&w, "lineEdit_Separator");
            e->clear();
            QTest::keyClicks(e, value);
        } else if (what == QLatin1String("sheet")) {
            child<QComboBox>(&w, "comboBox")->setCurrentIndex(value.toInt());
        } else if (what == QLatin1String("type")) {
            auto *c = child<QComboBox>(&w, "comboBox");
            c->lineEdit()->clear();
            QTest::keyClicks(c->lineEdit(), value);
        } else if (what == QLatin1String("click")) {
            QWidget *b = w.findChild<QWidget *>(value);
            QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, QPoint(4, b->height() / 2));
        } else if (what == QLatin1String("order")) {
            child<QComboBox>(&w, "comboBox_searchOrder")->setCurrentIndex(value.toInt());
        } else {
            qFatal("unknown step %s", qPrintable(s));
        }
    }
}

} // namespace

void TstMainWindow::optionsSaved_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("written");

    const QStringList d = {"way=0",       "separator=|",   "comIndex=Default", "key=1",
                           "matchCase=0", "searchOrder=0", "lookAt=0"};
    QTest::newRow("untouched") << QStringList{} << d;
    QTest::newRow("second tab") << QStringList{"tab=1"} << with(d, {"way=1"});
    QTest::newRow("separator") << QStringList{"separator=##"} << with(d, {"separator=##"});
    QTest::newRow("empty separator") << QStringList{"separator="} << with(d, {"separator="});
    QTest::newRow("First") << QStringList{"sheet=1"} << with(d, {"comIndex=First"});
    QTest::newRow("Last") << QStringList{"sheet=2"} << with(d, {"comIndex=Last"});
    QTest::newRow("All") << QStringList{"sheet=3"} << with(d, {"comIndex=All"});
    QTest::newRow("typed list") << QStringList{"sheet=4", "type=1,3"} << with(d, {"comIndex=1,3"});
    QTest::newRow("typed word is saved as the word")
        << QStringList{"sheet=4", "type=All"} << with(d, {"comIndex=All"});
    QTest::newRow("keyword options")
        << QStringList{"click=checkBox_matchCase", "click=checkBox_lookAt", "order=1"}
        << with(d, {"matchCase=1", "lookAt=1", "searchOrder=1"});
    QTest::newRow("position mode writes all seven")
        << QStringList{"click=checkBox_matchCase", "order=1", "click=radioButton_position"}
        << with(d, {"key=0", "matchCase=1", "searchOrder=1"});
}

void TstMainWindow::optionsSaved()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, written);
    {
        MainWindow w;
        changeOptions(w, steps);
    }
    QVERIFY(QFile::exists(options()));
    QSettings ini(options(), QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("set"));
    QStringList got;
    for (const QString &line : written) {
        const QString key = line.section(QLatin1Char('='), 0, 0);
        QVERIFY2(ini.contains(key), qPrintable(key));
        got << key + QLatin1Char('=') + ini.value(key).toString();
    }
    QCOMPARE(got, written);
    QCOMPARE(ini.childKeys().size(), 7);
}

void TstMainWindow::typedSheetListSurvivesRestarts()
{
    {
        MainWindow w;
        changeOptions(w, {"sheet=4", "type=1,3"});
    }
    for (int start = 2; start <= 4; ++start) {
        MainWindow w;
        auto *sheet = child<QComboBox>(&w, "comboBox");
        QVERIFY(sheet->isEditable());
        QCOMPARE(sheet->currentText(), QStringLiteral("1,3"));
    }
    // Choosing a fixed entry later ends it.
    {
        MainWindow w;
        changeOptions(w, {"sheet=1"});
    }
    MainWindow w;
    QCOMPARE(child<QComboBox>(&w, "comboBox")->currentText(), QStringLiteral("首表"));
    QVERIFY(!child<QComboBox>(&w, "comboBox")->isEditable());
}

void TstMainWindow::otherVersionStartsFromDefaults()
{
    {
        MainWindow w;
        changeOptions(w, {"tab=1", "separator=#"});
    }
    QCoreApplication::setApplicationVersion(QStringLiteral("5.0.0.4"));
    {
        MainWindow w;
        QCOMPARE(shownOptions(w), defaults());
    }
    QVERIFY(QFile::exists(data.path() + QStringLiteral("/qvoRt_5.0.0.4/qvoRt")));
    QCoreApplication::setApplicationVersion(QStringLiteral(TRELVIX_VERSION));
    MainWindow w;
    QCOMPARE(shownOptions(w), with(defaults(), {"tab=1", "separator=#"}));
}

// The child process: starts the window, changes the separator, then leaves
// through the menu's quit shortcut. Returning from here would mean that the
// quit did not end the process.
int quitChild(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(TRELVIX_VERSION));
    MainWindow w;
    w.show();
    QApplication::setActiveWindow(&w);
    if (!QTest::qWaitForWindowActive(&w))
        return 4;
    auto *sep = w.findChild<QLineEdit *>(QStringLiteral("lineEdit_Separator"));
    sep->setText(QStringLiteral("#"));
    writeIni(optionsPath(QFile::decodeName(qgetenv("XDG_DATA_HOME"))), QStringLiteral("check"),
             QStringLiteral("c1"), QStringLiteral("1"));
    if (qstrcmp(argv[1], "--close-child") == 0) {
        QTimer::singleShot(0, &w, &QWidget::close);
        return app.exec();
    }
    QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
    return 3;
}

namespace {

// Runs this test program as the child of quitChild with the given mode, on
// the test's data folder; true when it ended normally with exit code 0.
bool runChild(const QString &dataDir, const QString &mode)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QCoreApplication::applicationFilePath(), {mode});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

void TstMainWindow::quitExitsWithoutSaving()
{
    writeIni(options(), "set", "separator", "@");
    QVERIFY(runChild(data.path(), QStringLiteral("--quit-child")));
    QCOMPARE(readIni(options(), "set", "separator", "absent"), QStringLiteral("@"));
    QCOMPARE(readIni(options(), "set", "way", "absent"), QStringLiteral("absent"));
    // What was written while it ran stays.
    QCOMPARE(readIni(options(), "check", "c1", QString()), QStringLiteral("1"));
}

void TstMainWindow::closeSaves()
{
    writeIni(options(), "set", "separator", "@");
    QVERIFY(runChild(data.path(), QStringLiteral("--close-child")));
    QCOMPARE(readIni(options(), "set", "separator", "absent"), QStringLiteral("#"));
    QCOMPARE(readIni(options(), "set", "way", "absent"), QStringLiteral("0"));
}

// ---- form --------------------------------------------------------------------
