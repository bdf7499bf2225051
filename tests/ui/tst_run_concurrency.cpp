// The batch run through the real window while it goes on: one workbook listed twice, the
// number of jobs at once, the window kept alive and quitting during a run.
#include "tst_run.h"

#include "automation/dispatch.h"
#include "automation/excelapp/excelapp.h"
#include "testsupport.h"
#include "ui/listfile.h"
#include "uidriver.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <mutex>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSemaphore>

#include <QTableWidget>
#include <QtTest>

using testsupport::cellValue;
using testsupport::dumpWorkbook;

namespace {

// Counts the spreadsheet application instances alive at once, around the
// embedded one.
struct InstanceCounter
{
    std::mutex mutex; // a lock ThreadSanitizer sees
    int live = 0;
    int peak = 0;
    int started = 0;
};

// Passes every call on to an object of another server.
class Forwarding : public automation::Dispatch
{
public:
    explicit Forwarding(automation::DispatchPtr inner) : m_inner(std::move(inner)) {}
    QString typeName() const override { return m_inner->typeName(); }
    automation::CallResult invoke(const QByteArray &m, const QVariantList &a) override
    {
        return m_inner->invoke(m, a);
    }
    bool setProperty(const QByteArray &n, const QVariant &v, QString *e) override
    {
        return m_inner->setProperty(n, v, e);
    }

protected:
    automation::DispatchPtr m_inner;
};

class CountedApp : public Forwarding
{
public:
    CountedApp(automation::DispatchPtr inner, InstanceCounter *c)
        : Forwarding(std::move(inner)), m_c(c)
    {
        std::lock_guard<std::mutex> lock(m_c->mutex);
        ++m_c->started;
        m_c->peak = qMax(m_c->peak, ++m_c->live);
    }
    ~CountedApp() override
    {
        std::lock_guard<std::mutex> lock(m_c->mutex);
        --m_c->live;
    }

private:
    InstanceCounter *m_c;
};

// Forwards every call to an object of the embedded application; a workbook
// collection's Open waits, after it has answered, until `gate` lets it go, so
// that two jobs are sure to hold their workbooks at the same time.
class Gated : public Forwarding
{
public:
    Gated(automation::DispatchPtr inner, QSemaphore *gate)
        : Forwarding(std::move(inner)), m_gate(gate)
    {
    }
    automation::CallResult invoke(const QByteArray &m, const QVariantList &a) override
    {
        automation::CallResult r = m_inner->invoke(m, a);
        if (m == "Workbooks" && r.object)
            r.object = std::make_shared<Gated>(r.object, m_gate);
        if (m == "Open") {
            m_gate->release();
            m_gate->tryAcquire(2, 10000); // both jobs have opened, or tried to
            m_gate->release(2);
        }
        return r;
    }

private:
    QSemaphore *m_gate;
};

// Holds the Open of the workbook whose path ends with `name` until `release`
// is let go (at most a while, so that a window that never lets it go cannot
// hang the test), and counts every Open.
class HeldOpen : public Forwarding
{
public:
    HeldOpen(automation::DispatchPtr inner, QString name, QSemaphore *release, QAtomicInt *opens)
        : Forwarding(std::move(inner)), m_name(std::move(name)), m_release(release), m_opens(opens)
    {
    }
    automation::CallResult invoke(const QByteArray &m, const QVariantList &a) override
    {
        if (m == "Open") {
            m_opens->ref();
            if (a.value(0).toString().endsWith(m_name))
                m_release->tryAcquire(1, 20000);
        }
        automation::CallResult r = m_inner->invoke(m, a);
        if (m == "Workbooks" && r.object)
            r.object = std::make_shared<HeldOpen>(r.object, m_name, m_release, m_opens);
        return r;
    }

private:
    QString m_name;
    QSemaphore *m_release;
    QAtomicInt *m_opens;
};

} // namespace

void TestRun::samePathTwiceNeverWrittenTwiceAtOnce()
{
    // The add roads skip duplicates; a list file can still name a path twice.
    const QString book = makeBook(QStringLiteral("twice.xlsx"));
    const QString list = m_dir.filePath(listfile::firstWayBaseName() + QStringLiteral(".xlsx"));
    QString error;
    QVERIFY2(listfile::saveFirstWay(
                 list, {{book, book}, {QStringLiteral("pie")}, {QStringLiteral("cake")}}, &error),
             qPrintable(error));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(list)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_win, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_win, &drop);
    QCOMPARE(w<QTableWidget>("tableWidget_list1")->rowCount(), 2);

    QSemaphore gate;
    automation::registerServer(QStringLiteral("Excel.Application"), [&gate]() {
        return std::make_shared<Gated>(excelapp::createApplication(), &gate);
    });
    w<QComboBox>("comboBox")->setCurrentText(QStringLiteral("所有表"));
    clickRun();
    QTRY_COMPARE(uidriver::statusTexts(m_win).value(4), QStringLiteral("文件替换处理全部完成!"));
    automation::unregisterServer(QStringLiteral("Excel.Application"));

    // One job had the workbook; the other found it held and failed without
    // writing. The replacement of the first is on disk.
    const QStringList status = uidriver::statusTexts(m_win);
    QCOMPARE(status.value(1), QStringLiteral(" 成功(1)"));
    QCOMPARE(status.value(2), QStringLiteral(" <font color='red'>失败(1)</font>"));
    const QJsonObject dump = dumpWorkbook(book);
    for (const QString &sheet :
         {QStringLiteral("First"), QStringLiteral("Data"), QStringLiteral("Last")})
        QCOMPARE(cellValue(dump, sheet, QStringLiteral("A1")).toString(),
                 QStringLiteral("apple cake"));
}

void TestRun::atMostEightJobsAtOnce_data()
{
    QTest::addColumn<int>("tab");
    QTest::newRow("first way") << 0;
    QTest::newRow("second way") << 1;
}

void TestRun::atMostEightJobsAtOnce()
{
    QFETCH(int, tab);
    InstanceCounter counter;
    automation::registerServer(QStringLiteral("Excel.Application"), [&counter]() {
        return std::make_shared<CountedApp>(excelapp::createApplication(), &counter);
    });
    QStringList files;
    for (int i = 0; i < 20; ++i)
        files << makeBook(QStringLiteral("many%1.xlsx").arg(i));
    listFiles(tab, files);
    if (tab == 0)
        typeKeys(QStringLiteral("pie"), QStringLiteral("cake"));
    clickRun();
    QTRY_COMPARE(uidriver::statusTexts(m_win).value(4), QStringLiteral("文件替换处理全部完成!"));
    automation::unregisterServer(QStringLiteral("Excel.Application"));
    QCOMPARE(uidriver::statusTexts(m_win).value(1), QStringLiteral(" 成功(20)"));
    std::lock_guard<std::mutex> lock(counter.mutex);
    QCOMPARE(counter.started, 20);
    QVERIFY2(counter.peak <= 8, qPrintable(QString::number(counter.peak)));
    QVERIFY(counter.peak >= 1);
}

void TestRun::windowLivesDuringRun_data()
{
    QTest::addColumn<int>("tab");
    QTest::newRow("first way") << 0;
    QTest::newRow("second way") << 1;
}

// While the jobs run, the window shows each report as it comes (the last job
// is held until the window has shown all the others), repaints, and lets
// nothing change its lists: a drop and a second start are refused, and a
// close request waits until every job has ended.
void TestRun::windowLivesDuringRun()
{
    QFETCH(int, tab);
    const int n = 12;
    QStringList files;
    for (int i = 0; i < n; ++i)
        files << makeBook(QStringLiteral("live%1.xlsx").arg(i));
    listFiles(tab, files);
    if (tab == 0)
        typeKeys(QStringLiteral("pie"), QStringLiteral("cake"));
    else
        typeCell(0, 0, QStringLiteral("pie"));
    const QString stranger = makeBook(QStringLiteral("stranger.xlsx"));

    QSemaphore release;
    QAtomicInt opens;
    automation::registerServer(QStringLiteral("Excel.Application"), [&]() {
        return std::make_shared<HeldOpen>(excelapp::createApplication(), files.last(), &release,
                                          &opens);
    });
    QLabel *status = uidriver::statusLabels(m_win).value(4);
    const QString lastButOne = QStringLiteral("文件替换处理中...已完成[%1/%2]").arg(n - 1).arg(n);
    bool running = false;
    bool released = false;
    bool stillShown = false;
    int paints = 0;
    QStringList seen;
    struct PaintCounter : QObject
    {
        std::function<void()> onPaint;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint)
                onPaint();
            return false;
        }
    } counter;
    counter.onPaint = [&] { paints += running ? 1 : 0; };
    status->installEventFilter(&counter);
    QTimer watch;
    watch.setInterval(1);
    connect(&watch, &QTimer::timeout, [&] {
        if (!running || released)
            return;
        if (seen.isEmpty() || seen.last() != status->text())
            seen << status->text();
        if (status->text() != lastButOne)
            return;
        // Everything a user could do that is no input event.
        m_win->close();
        stillShown = m_win->isVisible();
        uidriver::dropFiles(m_win, {stranger});
        QMetaObject::invokeMethod(m_win, "on_pushButton_replace_clicked", Qt::DirectConnection);
        released = true;
        release.release();
    });
    watch.start();
    running = true;
    clickRun();
    running = false;
    watch.stop();
    automation::unregisterServer(QStringLiteral("Excel.Application"));

    QVERIFY2(released, qPrintable(seen.join(QLatin1Char(' '))));
    QStringList progress;
    for (const QString &text : qAsConst(seen))
        if (text.startsWith(QStringLiteral("文件替换处理中...已完成[")))
            progress << text;
    QVERIFY2(progress.size() >= 1, qPrintable(seen.join(QLatin1Char(' '))));
    for (int i = 1; i < progress.size(); ++i) // counted up, in order
        QVERIFY(progress.at(i - 1).mid(14).split(QLatin1Char('/')).value(0).toInt() <
                progress.at(i).mid(14).split(QLatin1Char('/')).value(0).toInt());
    QCOMPARE(progress.last(), lastButOne);
    QVERIFY(paints >= 1);
    QVERIFY(stillShown);
    // Every report was handled by the time the run returned; the window
    // closes only afterwards.
    QCOMPARE(uidriver::statusTexts(m_win).mid(0, 5),
             QStringList({QStringLiteral(" 文件(%1)").arg(n), QStringLiteral(" 成功(%1)").arg(n),
                          QStringLiteral(" 失败(0)"), QStringLiteral(" 丢失(0)"),
                          QStringLiteral("文件替换处理全部完成!")}));
    QCOMPARE(int(opens), n);
    QTRY_VERIFY(!m_win->isVisible());
    for (const QString &f : files) // the second way's file columns are empty
        QCOMPARE(
            cellValue(dumpWorkbook(f), QStringLiteral("Data"), QStringLiteral("A1")).toString(),
            tab == 0 ? QStringLiteral("apple cake") : QStringLiteral("apple "));
}

// The child of quitWaitsForRun: lists the workbooks given on the command line,
// asks to quit while the last one is held, and lets it go. Exit status 0
// means the quit came after the run; 5 that the run ended without it.
int quitDuringRunChild(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(TRELVIX_VERSION));
    const QStringList files = QCoreApplication::arguments().mid(2);
    QSemaphore release;
    QAtomicInt opens;
    automation::registerServer(QStringLiteral("Excel.Application"), [&]() {
        return std::make_shared<HeldOpen>(excelapp::createApplication(), files.last(), &release,
                                          &opens);
    });
    MainWindow w;
    w.show();
    uidriver::dropFiles(&w, files);
    w.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit_s1"))->setPlainText("pie");
    w.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit_s2"))->setPlainText("cake");
    QLabel *status = uidriver::statusLabels(&w).value(4);
    const QString lastButOne =
        QStringLiteral("文件替换处理中...已完成[%1/%2]").arg(files.size() - 1).arg(files.size());
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (status->text() == lastButOne) {
            watch.stop();
            w.findChild<QAction *>(QStringLiteral("action_Quit"))->trigger();
            release.release();
        }
    });
    watch.start(1);
    w.findChild<QPushButton *>(QStringLiteral("pushButton_replace"))->click();
    QTimer::singleShot(0, [] { std::exit(5); }); // after what the run left queued
    return app.exec();
}

// Quitting from the menu during a run ends the program only once every job
// has ended: each workbook is saved with its replacement.
void TestRun::quitWaitsForRun()
{
    QStringList files;
    for (int i = 0; i < 10; ++i)
        files << makeBook(QStringLiteral("quit%1.xlsx").arg(i));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                QStringList{QStringLiteral("--quit-during-run")} + files);
    QVERIFY(child.waitForFinished(120000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    for (const QString &f : files)
        QCOMPARE(
            cellValue(dumpWorkbook(f), QStringLiteral("Data"), QStringLiteral("A1")).toString(),
            QStringLiteral("apple cake"));
}
