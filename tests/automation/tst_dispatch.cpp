// The dispatch object and the Excel:: wrappers as a client sees them: member
// signatures, warnings for every failed call, sub-objects as children, the
// apartment rule and the per-thread object count.
#include "automation/apartment.h"
#include "automation/axobject.h"
#include "automation/axobject_p.h"
#include "automation/excel.h"
#include "testsupport.h"

#include <QThread>
#include <QtTest>

using namespace automation;

namespace {

// A server with one member of each kind: "Child" yields an object, "Twice(int)"
// a value, "Name" a property that can be written.
class Toy : public Dispatch
{
public:
    QString typeName() const override { return QStringLiteral("Toy"); }
    CallResult invoke(const QByteArray &member, const QVariantList &args) override
    {
        if (member == "Child" && args.isEmpty())
            return CallResult::ofObject(std::make_shared<Toy>());
        if (member == "Nothing" && args.isEmpty())
            return CallResult::ofObject(nullptr);
        if (member == "Twice" && args.size() == 1)
            return CallResult::ofValue(args.first().toInt() * 2);
        if (member == "Name" && args.isEmpty())
            return CallResult::ofValue(name);
        return CallResult::failure(QStringLiteral("unknown member"));
    }
    bool setProperty(const QByteArray &n, const QVariant &v, QString *error) override
    {
        if (n != "Name") {
            *error = QStringLiteral("unknown property");
            return false;
        }
        name = v.toString();
        return true;
    }
    QString name;
};

struct Registered
{
    Registered()
    {
        registerServer(QStringLiteral("Toy.Application"), [] { return std::make_shared<Toy>(); });
    }
    ~Registered() { unregisterServer(QStringLiteral("Toy.Application")); }
};

struct InApartment
{
    InApartment() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~InApartment() { CoUninitialize(); }
};

} // namespace

class TestDispatch : public QObject
{
    Q_OBJECT
private slots:
    void signatures_data();
    void signatures();
    void callsByName();
    void failuresWarnAndYieldNothing_data();
    void failuresWarnAndYieldNothing();
    void subObjectsAreChildren();
    void apartmentRules();
    void unknownProgIdYieldsNullApplication();
};

void TestDispatch::signatures_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("types");

    QTest::newRow("bare property") << "Workbooks" << true << "Workbooks" << QStringList();
    QTest::newRow("empty parentheses") << "Count()" << true << "Count" << QStringList();
    QTest::newRow("const reference")
        << "Open(const QString&)" << true << "Open" << QStringList{"QString"};
    QTest::newRow("five variants")
        << "Replace(const QVariant&, const QVariant&, const QVariant&, const QVariant&, const "
           "QVariant&)"
        << true << "Replace"
        << QStringList{"QVariant", "QVariant", "QVariant", "QVariant", "QVariant"};
    QTest::newRow("missing parenthesis") << "Open(const QString&" << false << "" << QStringList();
    QTest::newRow("blank in name") << "Used Range" << false << "" << QStringList();
    QTest::newRow("empty") << "" << false << "" << QStringList();
}

void TestDispatch::signatures()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QString, name);
    QFETCH(QStringList, types);
    const detail::Signature sig = detail::parseSignature(text.toLatin1().constData());
    QCOMPARE(sig.valid, valid);
    if (!valid)
        return;
    QCOMPARE(QString::fromLatin1(sig.name), name);
    QStringList got;
    for (const QByteArray &t : sig.types)
        got << QString::fromLatin1(t);
    QCOMPARE(got, types);
}

void TestDispatch::callsByName()
{
    Registered reg;
    InApartment in;
    AxObject app(QStringLiteral("Toy.Application"));
    QVERIFY(!app.isNull());
    QCOMPARE(app.dynamicCall("Twice(int)", 21).toInt(), 42);
    QCOMPARE(app.dynamicCall("Twice(int)", QStringLiteral("4")).toInt(), 8); // converted to int
    QVERIFY(app.setProperty("Name", QStringLiteral("x")));
    QCOMPARE(app.dynamicCall("Name()").toString(), QStringLiteral("x"));
}

void TestDispatch::failuresWarnAndYieldNothing_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("warning");

    QTest::newRow("misspelt member") << "Twise(int)"
                                     << "AxObject: Toy::Twise: unknown member";
    QTest::newRow("too few arguments")
        << "Twice(int, int)"
        << "AxObject: Toy::Twice: Twice takes 2 argument(s), 1 given";
    QTest::newRow("unconvertible argument")
        << "Twice(QObject*)"
        << "AxObject: Toy::Twice: argument 1 of Twice is not a QObject*";
    QTest::newRow("object query yields nothing") << "query Nothing"
                                                 << "AxObject: Toy::Nothing: no object";
    QTest::newRow("misspelt sub-object") << "query Chld"
                                         << "AxObject: Toy::Chld: unknown member";
    QTest::newRow("unknown property") << "set Nme"
                                      << "AxObject: Toy::Nme: unknown property";
}

void TestDispatch::failuresWarnAndYieldNothing()
{
    QFETCH(QString, call);
    QFETCH(QString, warning);
    Registered reg;
    InApartment in;
    AxObject app(QStringLiteral("Toy.Application"));
    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    if (call.startsWith(QLatin1String("query "))) {
        QCOMPARE(app.querySubObject(call.mid(6).toLatin1().constData()), nullptr);
    } else if (call.startsWith(QLatin1String("set "))) {
        QVERIFY(!app.setProperty(call.mid(4).toLatin1().constData(), 1));
    } else {
        QVERIFY(!app.dynamicCall(call.toLatin1().constData(), 1).isValid());
    }
    QCOMPARE(app.lastError(), warning.mid(QStringLiteral("AxObject: ").size()));
}

void TestDispatch::subObjectsAreChildren()
{
    Registered reg;
    InApartment in;
    const int before = apartment::stats().liveObjects;
    {
        auto *app = new AxObject(QStringLiteral("Toy.Application"));
        AxObject *child = app->querySubObject("Child");
        QVERIFY(child);
        QCOMPARE(child->parent(), app);
        AxObject *grandChild = child->querySubObject("Child");
        QVERIFY(grandChild);
        QCOMPARE(apartment::stats().liveObjects, before + 3);
        QPointer<AxObject> watch = grandChild;
        delete app; // takes everything below it along
        QVERIFY(watch.isNull());
    }
    QCOMPARE(apartment::stats().liveObjects, before);
}

void TestDispatch::apartmentRules()
{
    Registered reg;
    QList<long> results;
    bool nullOutside = false, liveInside = false, enteredAfterOneExit = false, enteredAtEnd = true;
    apartment::ThreadStats stats;
    testsupport::Handoff handoff;
    QTest::ignoreMessage(
        QtWarningMsg,
        "AxObject: cannot create Toy.Application: the thread has not entered an apartment");
    QThread *t = QThread::create([&] {
        {
            AxObject outside(QStringLiteral("Toy.Application"));
            nullOutside = outside.isNull();
        }
        results << CoInitializeEx(nullptr, COINIT_MULTITHREADED)
                << CoInitializeEx(nullptr, COINIT_MULTITHREADED)
                << CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            Excel::Application app(new AxObject(QStringLiteral("Toy.Application")));
            liveInside = !app.isNull();
        }
        CoUninitialize();
        enteredAfterOneExit = apartment::isEntered();
        CoUninitialize();
        enteredAtEnd = apartment::isEntered();
        stats = apartment::stats();
        handoff.done();
    });
    t->start();
    t->wait();
    handoff.wait();
    delete t;
    QVERIFY(nullOutside);
    QCOMPARE(results, QList<long>({S_OK, S_FALSE, RPC_E_CHANGED_MODE}));
    QVERIFY(liveInside);
    QVERIFY(enteredAfterOneExit);
    QVERIFY(!enteredAtEnd);
    QCOMPARE(stats.entries, 2);
    QCOMPARE(stats.exits, 2);
    QCOMPARE(stats.liveAtLastExit, 0);
    // Another thread's apartment is not this one's.
    QVERIFY(!apartment::isEntered());
}

void TestDispatch::unknownProgIdYieldsNullApplication()
{
    InApartment in;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot create No.Such")));
    Excel::Application app(new AxObject(QStringLiteral("No.Such")));
    QVERIFY(app.isNull());
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("Workbooks: the object is null")));
    QCOMPARE(app.Workbooks(), nullptr);
}

QTEST_GUILESS_MAIN(TestDispatch)
#include "tst_dispatch.moc"
