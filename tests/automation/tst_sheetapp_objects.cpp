// The embedded spreadsheet application's workbooks and sheets: the kinds of sheets, the files
// it refuses to open, one file in two jobs, the objects after Quit and the checks of each
// member's arguments.
#include "automation/excel.h"
#include "automation/excelapp/excelapp.h"
#include "automation/sheetapp/sheetapp.h"
#include "jobs.h"
#include "testsupport.h"
#include "tst_sheetapp.h"

#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QtTest>

using jobs::json;
using jobs::Outcome;
using jobs::Request;
using jobs::sheetOf;

void SheetAppTest::sheetKinds_data()
{
    QTest::addColumn<QString>("kind");          // of the second sheet (sheetapp_tool.py make)
    QTest::addColumn<QStringList>("addresses"); // UsedRange address per sheet, "-" for none
    QTest::addColumn<QJsonObject>("after");     // "Sheet!A1" -> value read back
    QTest::addColumn<QStringList>("changed");   // zip entries whose content changed

    // Chart and dialog sheets have no cells; an Excel 4 macro sheet is a worksheet. The
    // second and third sheets are searched; the text of Data!A1 is shared with Macro!A1.
    QTest::newRow("chart sheet") << "chartsheet" << QStringList{"$A$1:$B$2", "-", "$A$1", "$A$1"}
                                 << json(R"({"Data!A1":"apple","Hidden!A1":"plum hidden"})")
                                 << QStringList{"xl/worksheets/sheet2.xml"};
    QTest::newRow("macro sheet")
        << "macrosheet" << QStringList{"$A$1:$B$2", "$A$1:$A$2", "$A$1", "$A$1"}
        << json(R"({"Data!A1":"apple","Macro!A1":"plum","Macro!A2":"plum macro",
                    "Hidden!A1":"plum hidden"})")
        << QStringList{"xl/macrosheets/sheet1.xml", "xl/sharedStrings.xml"};
    QTest::newRow("dialog sheet") << "dialogsheet" << QStringList{"$A$1:$B$2", "-", "$A$1", "$A$1"}
                                  << json(R"({"Data!A1":"apple","Hidden!A1":"plum hidden"})")
                                  << QStringList{"xl/sharedStrings.xml"};
}

void SheetAppTest::sheetKinds()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, addresses);
    QFETCH(QJsonObject, after);
    QFETCH(QStringList, changed);

    const QString file = makeKind(kind);
    const QMap<QString, QString> before = testsupport::zipEntryHashes(file);
    const QString second = kind == QLatin1String("chartsheet")   ? QStringLiteral("Chart")
                           : kind == QLatin1String("macrosheet") ? QStringLiteral("Macro")
                                                                 : QStringLiteral("Dialog");

    struct Seen
    {
        int count = 0;
        QString folder;
        QStringList names;
        QStringList addresses; // UsedRange address per sheet, "-" for none
        QString active;
        bool zeroItem = true;
        bool pastItem = true;
        bool secondRange = false;
        bool replacedHidden = false;
        bool saved = false;
    } seen;
    const int live = jobs::onPoolThread([&file, &seen] {
        Excel::Application app;
        std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
        std::unique_ptr<Excel::Workbook> book(books->Open(file));
        if (!book)
            return;
        seen.folder = book->Path();
        std::unique_ptr<Excel::Sheets> sheets(book->Sheets());
        seen.count = sheets->Count();
        for (int i = 1; i <= seen.count; ++i) {
            std::unique_ptr<Excel::Worksheet> ws(sheets->Item(i));
            if (!ws)
                continue;
            seen.names << ws->object()->dynamicCall("Name()").toString();
            std::unique_ptr<Excel::Range> used(ws->UsedRange());
            seen.addresses << (used ? used->object()->dynamicCall("Address()").toString()
                                    : QStringLiteral("-"));
            if (used && (i == 2 || i == 3)) {
                const bool replaced =
                    used->Replace(QStringLiteral("apple"), QStringLiteral("plum"), 2, 1, false);
                if (i == 3)
                    seen.replacedHidden = replaced;
            }
            if (i == 2) {
                std::unique_ptr<Excel::Range> cell(ws->Range(QStringLiteral("A1")));
                seen.secondRange = cell != nullptr;
            }
        }
        std::unique_ptr<Excel::Worksheet> active(book->ActiveSheet());
        seen.active = active ? active->object()->dynamicCall("Name()").toString() : QString();
        std::unique_ptr<Excel::Worksheet> zero(sheets->Item(0));
        seen.zeroItem = zero != nullptr;
        std::unique_ptr<Excel::Worksheet> past(sheets->Item(seen.count + 1));
        seen.pastItem = past != nullptr;
        seen.saved = book->Save();
        app.Quit();
    });
    QCOMPARE(live, 0);
    QCOMPARE(seen.count, 4);
    QCOMPARE(seen.folder, QFileInfo(file).absolutePath());
    QVERIFY(!seen.folder.endsWith(QLatin1Char('/')));
    QCOMPARE(seen.names, (QStringList{"Data", second, "Hidden", "Empty"}));
    QCOMPARE(seen.addresses, addresses);
    QCOMPARE(seen.active, QStringLiteral("Hidden"));
    QVERIFY(!seen.zeroItem);
    QVERIFY(!seen.pastItem);
    QCOMPARE(seen.secondRange, addresses.at(1) != QLatin1String("-"));
    QVERIFY(seen.replacedHidden);
    QVERIFY(seen.saved);

    const QJsonObject dump = testsupport::dumpWorkbook(file);
    for (auto it = after.begin(); it != after.end(); ++it)
        QCOMPARE(testsupport::cellValue(dump, it.key().section('!', 0, 0), it.key().section('!', 1))
                     .toString(),
                 it.value().toString());
    if (kind == QLatin1String("chartsheet"))
        QCOMPARE(sheetOf(dump, "Chart").value("kind").toString(), QStringLiteral("chartsheet"));
    QCOMPARE(sheetOf(dump, "Hidden").value("state").toString(), QStringLiteral("hidden"));
    QCOMPARE(testsupport::changedEntries(before, testsupport::zipEntryHashes(file)), changed);
}

// ---------------------------------------------------------------------------

void SheetAppTest::openRefusals_data()
{
    QTest::addColumn<QString>("kind");

    QTest::newRow("missing file") << "missing";
    QTest::newRow("folder") << "folder";
    QTest::newRow("legacy or encrypted (OLE)") << "ole";
    QTest::newRow("html under an xlsx name") << "html";
    QTest::newRow("empty file") << "empty";
    QTest::newRow("binary workbook") << "xlsb";
    QTest::newRow("zip that is no workbook") << "notworkbook";
    QTest::newRow("truncated zip") << "truncated";
    QTest::newRow("malformed sheet") << "badxml";
    QTest::newRow("DTD with an external entity") << "dtd";
    QTest::newRow("DTD in a worksheet") << "dtdsheet";
    QTest::newRow("entry inflating out of proportion") << "bomb";
    QTest::newRow("duplicate entries") << "duplicate";
}

void SheetAppTest::openRefusals()
{
    QFETCH(QString, kind);
    QString file = path(QStringLiteral("refused-%1.xlsx").arg(kind));
    if (kind == QLatin1String("folder")) {
        QDir(m_dir.path()).mkpath(QStringLiteral("folder.xlsx"));
        file = path(QStringLiteral("folder.xlsx"));
    } else if (kind != QLatin1String("missing")) {
        QString error;
        QVERIFY2(testsupport::sheetappTool({QStringLiteral("broken"), kind, file}, nullptr, &error),
                 qPrintable(error));
    }
    const QByteArray before = QFileInfo(file).isFile() ? testsupport::sha256(file) : QByteArray();
    const QDateTime modified = QFileInfo(file).lastModified();

    Request req;
    req.path = file;
    req.pairs = {{QStringLiteral("hello"), QStringLiteral("bye")}};
    const Outcome out = jobs::run(req);
    QVERIFY(!out.opened);
    QVERIFY(!out.saved);
    QCOMPARE(out.liveAtExit, 0);
    if (!before.isEmpty()) {
        QCOMPARE(testsupport::sha256(file), before);
        QCOMPARE(QFileInfo(file).lastModified(), modified);
    }
    // Refusing it held nothing open.
    const QString canonical = QFileInfo(file).canonicalFilePath();
    if (!canonical.isEmpty())
        QVERIFY(!sheetapp::isFileHeld(canonical));
    QStringList leftovers =
        QDir(m_dir.path()).entryList(QStringList{"*.tmp*", ".*.tmp*"}, QDir::Files | QDir::Hidden);
    QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(", ")));
}

// ---------------------------------------------------------------------------

void SheetAppTest::sameFileTwoJobs()
{
    const QString file = make(QStringLiteral("shared-by-two.xlsx"),
                              json(R"({"sheets":[{"name":"S","cells":{"A1":"one"}}]})"));
    const QString link = path(QStringLiteral("link-to-it.xlsx"));
    QVERIFY(QFile::link(file, link));

    QSemaphore firstHolds;
    QSemaphore secondTried;
    bool firstOpened = false;
    bool firstReopened = false;
    bool firstSaved = false;
    bool secondOpened = true;
    bool secondByLink = true;
    // Each job's results reach this thread through a lock the sanitizers see.
    testsupport::Handoff handoff(2);

    QThreadPool pool;
    pool.setMaxThreadCount(2);
    pool.start(QRunnable::create([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            Excel::Application app;
            std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
            std::unique_ptr<Excel::Workbook> book(books->Open(file));
            firstOpened = book != nullptr;
            // The same application asking again gets the workbook it holds.
            std::unique_ptr<Excel::Workbook> again(books->Open(file));
            firstReopened = again != nullptr;
            firstHolds.release();
            secondTried.acquire();
            firstSaved = book && book->Save();
            app.Quit();
        }
        CoUninitialize();
        handoff.done();
    }));
    pool.start(QRunnable::create([&] {
        firstHolds.acquire();
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            Excel::Application app;
            std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
            std::unique_ptr<Excel::Workbook> book(books->Open(file));
            secondOpened = book != nullptr;
            std::unique_ptr<Excel::Workbook> byLink(books->Open(link));
            secondByLink = byLink != nullptr;
            app.Quit();
        }
        CoUninitialize();
        secondTried.release();
        handoff.done();
    }));
    handoff.wait();
    pool.waitForDone();
    QVERIFY(firstOpened);
    QVERIFY(firstReopened);
    QVERIFY(firstSaved);
    QVERIFY(!secondOpened);
    QVERIFY(!secondByLink);

    // Quit gave the file back: a later job opens it, and one that never quits
    // gives it back when its application object goes.
    Request req;
    req.path = link;
    req.pairs = {{QStringLiteral("one"), QStringLiteral("two")}};
    QVERIFY(jobs::run(req).saved);
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(testsupport::cellValue(testsupport::dumpWorkbook(file), "S", "A1").toString(),
             QStringLiteral("two"));

    bool held = false;
    jobs::onPoolThread([&] {
        Excel::Application app;
        std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
        std::unique_ptr<Excel::Workbook> book(books->Open(file));
        held = book && sheetapp::isFileHeld(QFileInfo(file).canonicalFilePath());
    });
    QVERIFY(held);
    QVERIFY(!sheetapp::isFileHeld(QFileInfo(file).canonicalFilePath()));
}

// ---------------------------------------------------------------------------

void SheetAppTest::objectsAfterQuit()
{
    const QString file = make(QStringLiteral("after-quit.xlsx"),
                              json(R"({"sheets":[{"name":"S","cells":{"A1":"x"}}]})"));
    const QByteArray before = testsupport::sha256(file);
    bool saved = true;
    bool replaced = true;
    bool written = true;
    bool gotSheets = true;
    bool gotBooks = true;
    const int live = jobs::onPoolThread([&] {
        Excel::Application app;
        std::unique_ptr<Excel::Workbooks> books(app.Workbooks());
        std::unique_ptr<Excel::Workbook> book(books->Open(file));
        std::unique_ptr<Excel::Sheets> sheets(book->Sheets());
        std::unique_ptr<Excel::Worksheet> ws(sheets->Item(1));
        std::unique_ptr<Excel::Range> used(ws->UsedRange());
        app.Quit();
        // Every object below the application now fails cleanly.
        replaced = used->Replace(QStringLiteral("x"), QStringLiteral("y"), 2, 1, false);
        written = used->setValue(QStringLiteral("z"));
        saved = book->Save();
        std::unique_ptr<Excel::Sheets> s2(book->Sheets());
        gotSheets = s2 != nullptr;
        std::unique_ptr<Excel::Workbooks> b2(app.Workbooks());
        gotBooks = b2 != nullptr;
    });
    QCOMPARE(live, 0);
    QVERIFY(!saved);
    QVERIFY(!replaced);
    QVERIFY(!written);
    QVERIFY(!gotSheets);
    QVERIFY(!gotBooks);
    QCOMPARE(testsupport::sha256(file), before);
}

// ---------------------------------------------------------------------------

void SheetAppTest::memberChecks_data()
{
    QTest::addColumn<QString>("object"); // which object is called
    QTest::addColumn<QString>("member");
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<bool>("ok");

    QTest::newRow("misspelt member") << "workbook"
                                     << "Svae" << QVariantList() << false;
    QTest::newRow("Save with an argument") << "workbook"
                                           << "Save" << QVariantList{1} << false;
    QTest::newRow("Count with an argument") << "sheets"
                                            << "Count" << QVariantList{1} << false;
    QTest::newRow("Item without argument") << "sheets"
                                           << "Item" << QVariantList() << false;
    QTest::newRow("Item by name") << "sheets"
                                  << "Item" << QVariantList{"S"} << true;
    QTest::newRow("Item by unknown name") << "sheets"
                                          << "Item" << QVariantList{"Nope"} << false;
    QTest::newRow("Item 1.5") << "sheets"
                              << "Item" << QVariantList{1.5} << false;
    QTest::newRow("Range with two arguments") << "sheet"
                                              << "Range" << QVariantList{"A1", "B2"} << false;
    QTest::newRow("Range with a number") << "sheet"
                                         << "Range" << QVariantList{1} << false;
    QTest::newRow("Replace with one argument") << "range"
                                               << "Replace" << QVariantList{"x"} << false;
    QTest::newRow("Replace with two arguments") << "range"
                                                << "Replace" << QVariantList{"x", "y"} << true;
    QTest::newRow("Replace, LookAt 3") << "range"
                                       << "Replace" << QVariantList{"x", "y", 3, 1, false} << false;
    QTest::newRow("Replace, SearchOrder 0")
        << "range"
        << "Replace" << QVariantList{"x", "y", 1, 0, false} << false;
    QTest::newRow("Replace, six arguments")
        << "range"
        << "Replace" << QVariantList{"x", "y", 1, 1, false, false} << false;
    QTest::newRow("Open without file") << "workbooks"
                                       << "Open" << QVariantList() << false;
    QTest::newRow("Quit with an argument") << "application"
                                           << "Quit" << QVariantList{1} << false;
}

void SheetAppTest::memberChecks()
{
    QFETCH(QString, object);
    QFETCH(QString, member);
    QFETCH(QVariantList, args);
    QFETCH(bool, ok);

    // The server objects directly: the results, not the client's warnings.
    const QString file = make(QStringLiteral("members.xlsx"),
                              json(R"({"sheets":[{"name":"S","cells":{"A1":"x"}}]})"));
    automation::DispatchPtr app = excelapp::createApplication();
    automation::DispatchPtr books = app->invoke("Workbooks", {}).object;
    automation::DispatchPtr book = books->invoke("Open", {file}).object;
    QVERIFY(book);
    automation::DispatchPtr sheets = book->invoke("Sheets", {}).object;
    automation::DispatchPtr sheet = sheets->invoke("Item", {1}).object;
    automation::DispatchPtr range = sheet->invoke("UsedRange", {}).object;
    QVERIFY(range);
    const QMap<QString, automation::DispatchPtr> objects{{"application", app}, {"workbooks", books},
                                                         {"workbook", book},   {"sheets", sheets},
                                                         {"sheet", sheet},     {"range", range}};
    const automation::CallResult r = objects.value(object)->invoke(member.toLatin1(), args);
    QCOMPARE(r.ok, ok);
    if (!ok)
        QVERIFY(!r.error.isEmpty());

    QString error;
    QVERIFY(!app->setProperty("Visibel", true, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(range->setProperty("Value", QVariant(QVariantList{1, 2}), &error) == false);
    QVERIFY(app->invoke("Quit", {}).ok);
    QVERIFY(!sheetapp::isFileHeld(QFileInfo(file).canonicalFilePath()));
}
