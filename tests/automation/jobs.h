// Jobs for the embedded application's tests: each runs on a pool thread, in
// its own apartment, through the Excel:: wrappers, and reports what it saw.
#pragma once

#include "automation/apartment.h"
#include "automation/excel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRunnable>
#include <QString>
#include <QThreadPool>
#include <QVector>

#include <functional>
#include <memory>

#include "testsupport.h"
#include "xlsx/document_p.h"

namespace jobs {

// With TRELVIX_TEST_UNHELD set, every worksheet is only checked on opening, as a large one
// is, and read a window of rows at a time (here every row a window of its own), or held when
// a call needs its cells otherwise.
inline const bool unheld = [] {
    if (!qEnvironmentVariableIsSet("TRELVIX_TEST_UNHELD"))
        return false;
    xlsx::DocumentData::holdBelow = 0;
    xlsx::DocumentData::windowBytes = 1;
    return true;
}();

struct Pair
{
    QString first;
    QString second;
};

struct Request
{
    QString path;
    QVector<int> sheets; // 1-based; empty: the active sheet
    QVector<Pair> pairs;
    bool keyMode = true; // false: pairs are (cell reference, value)
    int lookAt = 2;
    int searchOrder = 1;
    bool matchCase = false;
    bool listSheets = false; // the names of all sheets, in Outcome::sheetNames
};

struct Outcome
{
    bool opened = false;
    bool complete = false;  // every object the job asked for was there
    QVector<bool> replaced; // Replace results, in call order
    QVector<bool> written;  // Value write results
    bool saved = false;
    QString folder; // Workbook.Path
    int sheetCount = 0;
    QStringList sheetNames; // with Request::listSheets
    int liveAtExit = -1; // automation objects alive when the apartment was left
};

// Runs `body` on a pool thread between CoInitializeEx and CoUninitialize and
// waits for it; returns the live-object count at the apartment's exit.
inline int onPoolThread(const std::function<void()> &body)
{
    int live = -1;
    testsupport::Handoff handoff;
    QThreadPool pool;
    pool.start(QRunnable::create([&body, &live, &handoff] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        body();
        CoUninitialize();
        live = automation::apartment::stats().liveAtLastExit;
        handoff.done();
    }));
    pool.waitForDone();
    handoff.wait();
    return live;
}

// The whole work on one file, as the replace job does it; saves only when
// every object was there. `afterOpen` runs once the workbook is open.
inline Outcome run(const Request &req, const std::function<void()> &afterOpen = {})
{
    Outcome out;
    out.liveAtExit = onPoolThread([&req, &out, &afterOpen] {
        auto app = std::make_unique<Excel::Application>();
        app->setDisplayAlerts(false);
        app->setVisible(false);
        std::unique_ptr<Excel::Workbooks> books(app->Workbooks());
        std::unique_ptr<Excel::Workbook> book(books ? books->Open(req.path) : nullptr);
        out.opened = book != nullptr;
        if (book && afterOpen)
            afterOpen();
        bool complete = out.opened;
        std::unique_ptr<Excel::Sheets> sheets(book ? book->Sheets() : nullptr);
        if (book) {
            out.folder = book->Path();
            out.sheetCount = sheets ? sheets->Count() : 0;
            complete = sheets && out.sheetCount > 0;
            for (int i = 1; req.listSheets && i <= out.sheetCount; ++i) {
                std::unique_ptr<Excel::Worksheet> sheet(sheets->Item(i));
                out.sheetNames << (sheet ? sheet->object()->dynamicCall("Name()").toString()
                                         : QString());
            }
        }
        QVector<int> passes = req.sheets.isEmpty() ? QVector<int>{0} : req.sheets;
        for (int i = 0; complete && i < passes.size(); ++i) {
            std::unique_ptr<Excel::Worksheet> sheet(passes[i] == 0 ? book->ActiveSheet()
                                                                   : sheets->Item(passes[i]));
            std::unique_ptr<Excel::Range> used(sheet ? sheet->UsedRange() : nullptr);
            if (!used) {
                complete = false;
                break;
            }
            for (const Pair &p : req.pairs) {
                if (req.keyMode) {
                    out.replaced << used->Replace(p.first, p.second, req.lookAt, req.searchOrder,
                                                  req.matchCase);
                    continue;
                }
                std::unique_ptr<Excel::Range> cell(sheet->Range(p.first));
                if (!cell) {
                    complete = false;
                    break;
                }
                out.written << cell->setValue(p.second);
            }
        }
        out.complete = complete;
        if (complete)
            out.saved = book->Save();
        app->Quit();
        sheets.reset();
        book.reset();
        books.reset();
        app.reset();
    });
    return out;
}

// A JSON object written in a test table; a typing error there stops the test.
inline QJsonObject json(const char *text)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(text), &err);
    if (doc.isNull())
        qFatal("bad JSON in a test table: %s (%s)", text, qPrintable(err.errorString()));
    return doc.object();
}

// A JSON value on one line, for failure messages.
inline QString compact(const QJsonValue &v)
{
    if (v.isObject())
        return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    if (v.isArray())
        return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    return QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact));
}

// Writes the workbook `path` with `sheetapp_tool.py args...` (`input` on its
// standard input); a warning when that fails, and the test that opens it fails.
inline QString writeWithTool(const QString &path, const QStringList &args,
                             const QByteArray &input = QByteArray())
{
    QString error;
    if (!testsupport::sheetappTool(args, nullptr, &error, input))
        qWarning("cannot write %s: %s", qPrintable(path), qPrintable(error));
    return path;
}

// The sheet `name` of a workbook as sheetapp_tool.py dumps it; empty when there is none.
inline QJsonObject sheetOf(const QJsonObject &dump, const QString &name)
{
    for (const QJsonValue &s : dump.value(QStringLiteral("sheets")).toArray()) {
        if (s.toObject().value(QStringLiteral("name")).toString() == name)
            return s.toObject();
    }
    return QJsonObject();
}

inline QJsonObject inspect(const QString &path)
{
    QByteArray out;
    if (!testsupport::sheetappTool({QStringLiteral("inspect"), path}, &out))
        return QJsonObject();
    return QJsonDocument::fromJson(out).object();
}

} // namespace jobs
