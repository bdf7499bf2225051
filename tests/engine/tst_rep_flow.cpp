// The job's control flow against a scripted automation server: the order of
// object-model calls, every failure ending, the sheet choice, the apartment
// and the single report.
#include "automation/apartment.h"
#include "engine/rep.h"
#include "fakeserver.h"

#include <QTemporaryDir>
#include <QThreadPool>
#include <QtConcurrent>
#include <QtTest>

namespace {

struct Outcome
{
    int reports = 0;
    STATE state = LOST;
    int index = -1;
    Rep *rep = nullptr;
    automation::apartment::ThreadStats stats; // on the job's thread, at the report
};

// Runs a Rep on a pool thread and records what it reports there.
Outcome runJob(const QString &path, const Param &par, int index = 7)
{
    Outcome out;
    QThreadPool pool;
    QFuture<void> f = QtConcurrent::run(&pool, [&]() {
        automation::apartment::resetStats();
        Rep *rep = new Rep(path, par, index);
        QObject::connect(
            rep, &Rep::done, rep,
            [&out](Rep *r, STATE s, int i) {
                ++out.reports;
                out.rep = r;
                out.state = s;
                out.index = i;
                out.stats = automation::apartment::stats();
            },
            Qt::DirectConnection);
        rep->run();
        delete rep;
    });
    f.waitForFinished();
    return out;
}

Param keyParam(const QString &sheets,
               QVector<KeyPair> keys = {{QStringLiteral("a"), QStringLiteral("b")}})
{
    Param p;
    p.sheetIndex = sheets;
    p.keys = std::move(keys);
    p.isKeyMode = true;
    p.lookAt = 2;
    p.searchOrder = 1;
    p.matchCase = false;
    return p;
}

QStringList itemCalls(const QStringList &calls)
{
    QStringList items;
    for (const QString &c : calls) {
        if (c.startsWith(QLatin1String("Sheets.Item(")) ||
            c.startsWith(QLatin1String("Workbook.ActiveSheet")))
            items << c;
    }
    return items;
}

} // namespace

class TestRepFlow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void keywordRunCallsInOrder();
    void positionRunWritesEachCell();
    void failureEndings_data();
    void failureEndings();
    void missingFileStartsNothing_data();
    void missingFileStartsNothing();
    void sheetChoice_data();
    void sheetChoice();
    void reportReachesGuiThreadQueued();

private:
    QTemporaryDir m_dir;
    QString m_file;
};

void TestRepFlow::initTestCase()
{
    qRegisterMetaType<STATE>("STATE");
    qRegisterMetaType<STATE>("STATE&");
    QVERIFY(m_dir.isValid());
    m_file = m_dir.filePath(QStringLiteral("book.xlsx"));
    QFile f(m_file);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

void TestRepFlow::keywordRunCallsInOrder()
{
    FakeScript script;
    script.sheetCount = 2;
    FakeServer server(script);
    Param par = keyParam(QStringLiteral("所有表"), {{QStringLiteral("x"), QStringLiteral("y")},
                                                    {QStringLiteral("p"), QStringLiteral("q")}});
    par.lookAt = 1;
    par.searchOrder = 2;
    par.matchCase = true;
    const Outcome out = runJob(m_file, par, 4);

    QCOMPARE(out.reports, 1);
    QCOMPARE(out.state, SUCCESS);
    QCOMPARE(out.index, 4);
    const QStringList expected = {
        QStringLiteral("Application.DisplayAlerts=false"),
        QStringLiteral("Application.Visible=false"),
        QStringLiteral("Application.Workbooks"),
        QStringLiteral("Workbooks.Open(%1)").arg(m_file),
        QStringLiteral("Workbook.Path"),
        QStringLiteral("Workbook.Sheets"),
        QStringLiteral("Sheets.Count"),
        QStringLiteral("Sheets.Item(1)"),
        QStringLiteral("Worksheet[1].UsedRange"),
        QStringLiteral("Range[1].Replace(x,y,1,2,true)"),
        QStringLiteral("Range[1].Replace(p,q,1,2,true)"),
        QStringLiteral("Sheets.Item(2)"),
        QStringLiteral("Worksheet[2].UsedRange"),
        QStringLiteral("Range[2].Replace(x,y,1,2,true)"),
        QStringLiteral("Range[2].Replace(p,q,1,2,true)"),
        QStringLiteral("Workbook.Save"),
        QStringLiteral("Application.Quit"),
    };
    QCOMPARE(server.calls(), expected);
    QCOMPARE(server.instances(), 1);
    QCOMPARE(out.stats.entries, 1);
    QCOMPARE(out.stats.exits, 1);
    QCOMPARE(out.stats.depth, 0);
    QCOMPARE(out.stats.liveAtLastExit, 0);
}

void TestRepFlow::positionRunWritesEachCell()
{
    FakeServer server(FakeScript{});
    Param par;
    par.sheetIndex = QStringLiteral("首表");
    par.isKeyMode = false;
    par.keys = {{QStringLiteral("A1"), QStringLiteral("v1")},
                {QStringLiteral("C3"), QStringLiteral("v2")}};
    const Outcome out = runJob(m_file, par);
    QCOMPARE(out.state, SUCCESS);
    const QStringList calls = server.calls();
    const int used = calls.indexOf(QStringLiteral("Worksheet[1].UsedRange"));
    QVERIFY(used > 0);
    QCOMPARE(
        calls.mid(used + 1, 5),
        QStringList({QStringLiteral("Worksheet[1].Range(A1)"), QStringLiteral("Range[1].Value=v1"),
                     QStringLiteral("Worksheet[1].Range(C3)"), QStringLiteral("Range[1].Value=v2"),
                     QStringLiteral("Workbook.Save")}));
}

void TestRepFlow::failureEndings_data()
{
    QTest::addColumn<QString>("failing");
    QTest::addColumn<bool>("keyMode");
    QTest::addColumn<QString>("sheets");

    QTest::newRow("application does not start") << "Application" << true << "首表";
    QTest::newRow("no workbooks") << "Workbooks" << true << "首表";
    QTest::newRow("open fails") << "Open" << true << "首表";
    QTest::newRow("no sheets") << "Sheets" << true << "首表";
    QTest::newRow("count unreadable") << "Count" << true << "首表";
    QTest::newRow("sheet count 0") << "count0" << true << "首表";
    QTest::newRow("item fails") << "Item" << true << "所有表";
    QTest::newRow("third item fails") << "item3" << true << "所有表";
    QTest::newRow("active sheet fails") << "ActiveSheet" << true << "默认页";
    QTest::newRow("used range fails, keyword mode") << "UsedRange" << true << "尾表";
    QTest::newRow("used range fails, position mode") << "UsedRange" << false << "尾表";
    QTest::newRow("range refused after earlier writes") << "rangeB" << false << "所有表";
    QTest::newRow("value write refused") << "value" << false << "首表";
    QTest::newRow("save fails") << "save" << true << "首表";
}

void TestRepFlow::failureEndings()
{
    QFETCH(QString, failing);
    QFETCH(bool, keyMode);
    QFETCH(QString, sheets);

    FakeScript script;
    if (failing == QLatin1String("count0"))
        script.sheetCount = 0;
    else if (failing == QLatin1String("item3"))
        script.failingItems << 3;
    else if (failing == QLatin1String("rangeB"))
        script.refusedCells << QStringLiteral("B2");
    else if (failing == QLatin1String("value"))
        script.refuseValue = true;
    else if (failing == QLatin1String("save"))
        script.saveResult = false;
    else
        script.failing << failing;
    FakeServer server(script);

    Param par = keyParam(sheets);
    par.isKeyMode = keyMode;
    if (!keyMode)
        par.keys = {{QStringLiteral("A1"), QStringLiteral("1")},
                    {QStringLiteral("B2"), QStringLiteral("2")}};

    const Outcome out = runJob(m_file, par, 3);
    QCOMPARE(out.reports, 1);
    QCOMPARE(out.state, FAIL);
    QCOMPARE(out.index, 3);
    QCOMPARE(out.stats.entries, 1);
    QCOMPARE(out.stats.exits, 1);
    QCOMPARE(out.stats.liveAtLastExit, 0);
    QCOMPARE(out.stats.liveObjects, 0);
    const QStringList calls = server.calls();
    if (failing != QLatin1String("save"))
        QVERIFY2(!calls.contains(QStringLiteral("Workbook.Save")),
                 qPrintable(calls.join(QLatin1Char('\n'))));
    if (failing != QLatin1String("Application")) {
        QCOMPARE(calls.last(), QStringLiteral("Application.Quit"));
        QCOMPARE(calls.count(QStringLiteral("Application.Quit")), 1);
    }
    if (failing == QLatin1String("count0"))
        QVERIFY(itemCalls(calls).isEmpty());
}

void TestRepFlow::missingFileStartsNothing_data()
{
    QTest::addColumn<QString>("link"); // where gone.xlsx points; empty: no such file
    QTest::addColumn<QString>("reason"); // logged

    QTest::newRow("no such file") << "" << "gone.xlsx: the file does not exist";
    QTest::newRow("dangling symbolic link")
        << "nowhere.xlsx" << "gone.xlsx: a symbolic link to .*nowhere.xlsx, which does not exist";
}

void TestRepFlow::missingFileStartsNothing()
{
    QFETCH(QString, link);
    QFETCH(QString, reason);
    const QString path = m_dir.filePath(QStringLiteral("gone.xlsx"));
    QFile::remove(path);
    if (!link.isEmpty())
        QVERIFY(QFile::link(m_dir.filePath(link), path));
    FakeServer server(FakeScript{});
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(reason));
    const Outcome out = runJob(path, keyParam(QStringLiteral("首表")), 9);
    QFile::remove(path);
    QCOMPARE(out.reports, 1);
    QCOMPARE(out.state, FAIL);
    QCOMPARE(out.index, 9);
    QCOMPARE(out.stats.entries, 0);
    QCOMPARE(out.stats.created, 0);
    QCOMPARE(server.instances(), 0);
    QVERIFY(server.calls().isEmpty());
}

void TestRepFlow::sheetChoice_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QStringList>("items");

    const auto items = [](std::initializer_list<int> ns) {
        QStringList l;
        for (int n : ns)
            l << QStringLiteral("Sheets.Item(%1)").arg(n);
        return l;
    };
    QTest::newRow("default page") << "默认页"
                                  << QStringList{QStringLiteral("Workbook.ActiveSheet")};
    QTest::newRow("first") << "首表" << items({1});
    QTest::newRow("last") << "尾表" << items({4});
    QTest::newRow("all") << "所有表" << items({1, 2, 3, 4});
    QTest::newRow("typed repeats") << "2,2" << items({2, 2});
    QTest::newRow("typed order kept") << "3,1" << items({3, 1});
    QTest::newRow("typed last sheet") << "4" << items({4});
    QTest::newRow("out of range dropped") << "0,5,-1,2" << items({2});
    QTest::newRow("letters and empties") << "a,,b," << QStringList();
    QTest::newRow("fullwidth comma does not split") << "1，2" << QStringList();
    QTest::newRow("blanks around a number") << " 3 " << items({3});
    QTest::newRow("fixed word with trailing blank") << "首表 " << QStringList();
    QTest::newRow("choice entry itself") << "指定表" << QStringList();
    QTest::newRow("empty text") << "" << QStringList();
}

void TestRepFlow::sheetChoice()
{
    QFETCH(QString, choice);
    QFETCH(QStringList, items);

    FakeScript script;
    script.sheetCount = 4;
    FakeServer server(script);
    const Outcome out = runJob(m_file, keyParam(choice));
    QCOMPARE(out.state, SUCCESS);
    QCOMPARE(itemCalls(server.calls()), items);
    QVERIFY(server.calls().contains(QStringLiteral("Workbook.Save")));
    QCOMPARE(server.calls().filter(QStringLiteral(".Replace(")).size(), items.size());
}

void TestRepFlow::reportReachesGuiThreadQueued()
{
    FakeServer server(FakeScript{});
    QList<std::tuple<Rep *, STATE, int, QThread *>> got;
    QObject receiver; // lives on the GUI thread
    Rep *sent = nullptr;
    QThreadPool pool;
    QtConcurrent::run(&pool, [&]() {
        Rep *rep = new Rep(m_file, keyParam(QStringLiteral("首表")), 5);
        sent = rep;
        QObject::connect(rep, &Rep::done, &receiver, [&got](Rep *r, STATE s, int i) {
            got.append({r, s, i, QThread::currentThread()});
            delete r;
        });
        rep->run();
    }).waitForFinished();
    QVERIFY(got.isEmpty()); // queued: nothing arrives before the event loop runs
    QTRY_COMPARE(got.size(), 1);
    QCOMPARE(std::get<0>(got.first()), sent);
    QCOMPARE(std::get<1>(got.first()), SUCCESS);
    QCOMPARE(std::get<2>(got.first()), 5);
    QCOMPARE(std::get<3>(got.first()), QThread::currentThread());
}

QTEST_GUILESS_MAIN(TestRepFlow)
#include "tst_rep_flow.moc"
