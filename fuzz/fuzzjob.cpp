#include "fuzzjob.h"

#include "automation/dispatch.h"
#include "automation/embedded/embedded.h"
#include "automation/excelapp/excelapp.h"
#include "automation/sheetapp/sheetapp.h"
#include "xlsx/document.h"
#include "xlsx/document_p.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

using automation::CallResult;
using automation::DispatchPtr;

namespace fuzzjob {
namespace {

QTemporaryDir *folder = nullptr;
QStringList warnings; // of the running job

void finding(const char *what, const QString &detail)
{
    fprintf(stderr, "FINDING: %s: %s\n", what, qPrintable(detail));
    fflush(stderr);
    abort();
}

DispatchPtr call(const DispatchPtr &o, const char *member, const QVariantList &args = {},
                 CallResult *out = nullptr)
{
    if (!o)
        return nullptr;
    CallResult r = o->invoke(member, args);
    if (out)
        *out = r;
    return r.ok ? r.object : nullptr;
}

struct Pair
{
    const char *find;
    const char *put;
};

const Pair kKeyPairs[][3] = {
    {{"a", "bb"}, {"1", "2"}, {"e", ""}},
    {{"*", "z"}, {"?", "\n"}, {"~*", "&<>"}},
    {{"=", "x"}, {"SUM", "AVERAGE"}, {"TRUE", "false"}},
    {{" ", "_x000D_"}, {"\n", "\r\n"}, {"0", "00000000000000000001"}},
};
const Pair kCellPairs[][3] = {
    {{"A1", "text"}, {"C3", "42"}, {"Z1000", "=A1"}},
    {{"XFD1048576", "end"}, {"B2", ""}, {"A1:B2", "block"}},
    {{"AA10", " lead"}, {"D4", "TRUE"}, {"E5", "#N/A"}},
    {{"A2", "2024-01-31"}, {"A3", "1e308"}, {"A1", "\xe4\xb8\xad"}},
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every cell of every worksheet (of the first 8) as a document holds it: where and what.
using CellTexts = QMap<QString, QString>;
CellTexts cellTexts(xlsx::Document *doc)
{
    CellTexts out;
    for (int s = 0; doc && s < doc->sheetCount() && s < 8; ++s) {
        if (doc->sheetInfo(s).kind != xlsx::SheetKind::Worksheet)
            continue;
        QString error;
        xlsx::Worksheet *ws = doc->worksheet(s, &error);
        if (!ws)
            continue;
        const int count = ws->cellCount();
        for (int i = 0; i < count && i < 20000; ++i) {
            const xlsx::Cell c = ws->cellAt(i);
            out.insert(QStringLiteral("%1!%2").arg(s).arg(xlsx::CellRef(c.row, c.column).toString()),
                       QStringLiteral("%1|%2|%3").arg(c.isString() ? 1 : 0).arg(c.text, c.formula));
        }
    }
    return out;
}

void checkNoTemporaries()
{
    const QStringList left =
        QDir(folder->path())
            .entryList({QStringLiteral(".trelvix-*")}, QDir::Files | QDir::Hidden | QDir::System);
    if (!left.isEmpty())
        finding("a temporary stayed behind", left.join(QLatin1Char(' ')));
}

} // namespace

Choices choicesOf(unsigned char byte)
{
    Choices c;
    c.positions = byte & 1;
    c.sheets = (byte >> 1) & 1;
    c.lookAt = (byte & 4) ? 1 : 2;
    c.searchOrder = (byte & 8) ? 2 : 1;
    c.matchCase = byte & 16;
    c.pairs = (byte >> 5) & 3;
    c.windows = byte & 128;
    return c;
}

void initialize()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
        warnings.append(message);
    });
    folder = new QTemporaryDir;
    if (!folder->isValid())
        abort();
}

// The job on the workbook at `path`; with `settle`, the cells as it leaves them (every edit
// applied) in *expected.
struct Outcome
{
    bool opened = false;
    bool saved = false;
    bool written = false; // every Value write was taken
    CellTexts expected;
};

Outcome job(const QString &path, const Choices &ch, bool settle)
{
    Outcome out;
    DispatchPtr app = excelapp::createApplication();
    app->setProperty("DisplayAlerts", false, nullptr);
    DispatchPtr book = call(call(app, "Workbooks"), "Open", {path});
    if (!book)
        return out;
    out.opened = true;
    DispatchPtr sheets = call(book, "Sheets");
    CallResult count;
    call(sheets, "Count", {}, &count);
    const int n = count.value.toInt();
    QVector<DispatchPtr> chosen;
    if (ch.sheets == 0)
        chosen.append(call(book, "ActiveSheet"));
    else
        for (int i = 1; i <= n && i <= 8; ++i)
            chosen.append(call(sheets, "Item", {i}));
    bool ok = true;
    for (const DispatchPtr &sheet : chosen) {
        if (!sheet)
            continue;
        for (const Pair &p : ch.positions ? kCellPairs[ch.pairs] : kKeyPairs[ch.pairs]) {
            if (ch.positions) {
                DispatchPtr cell = call(sheet, "Range", {QString::fromUtf8(p.find)});
                QString error;
                if (cell && !cell->setProperty("Value", QString::fromUtf8(p.put), &error))
                    ok = false;
            } else {
                call(call(sheet, "UsedRange"), "Replace",
                     {QString::fromUtf8(p.find), QString::fromUtf8(p.put), ch.lookAt,
                      ch.searchOrder, ch.matchCase});
            }
        }
    }
    if (ok) {
        // The cells as the job leaves them, every edit applied, to be found in the file.
        if (settle)
            out.expected = cellTexts(embedded::settledDocument(sheetapp::bookOf(book)));
        CallResult r;
        call(book, "Save", {}, &r);
        out.saved = r.ok; // Save returns nothing; a failed save is a failed call
        out.written = ch.positions && !chosen.isEmpty() && chosen.first();
    }
    call(app, "Quit");
    return out;
}

void run(const QByteArray &bytes, const Choices &ch)
{
    auto write = [](const QString &path, const QByteArray &bytes) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            abort();
    };
    const QString path = folder->filePath(QStringLiteral("book.xlsx"));
    write(path, bytes);
    warnings.clear();
    Outcome held;
    if (ch.windows) {
        // The same job with every sheet held tells what the job in windows must leave.
        const QString copy = folder->filePath(QStringLiteral("held.xlsx"));
        write(copy, bytes);
        xlsx::DocumentData::holdBelow = INT_MAX;
        held = job(copy, ch, true);
        QFile::remove(copy);
        xlsx::DocumentData::holdBelow = 0;
        xlsx::DocumentData::windowBytes = 1 + (bytes.size() & 255);
        warnings.clear();
    }
    Outcome o = job(path, ch, !ch.windows);
    xlsx::DocumentData::holdBelow = 8 << 20;
    xlsx::DocumentData::windowBytes = 512 << 10;
    if (!o.opened) {
        if (readFile(path) != bytes)
            finding("a refused workbook was changed", path);
        if (ch.windows && held.opened)
            finding("a workbook opened held is refused in windows", path);
        return;
    }
    if (ch.windows) {
        if (held.saved != o.saved)
            finding("the job in windows and the held one end otherwise", path);
        o.expected = held.expected;
    }
    const bool saved = o.saved;
    const bool written = o.written;
    const CellTexts &expected = o.expected;
    checkNoTemporaries();
    if (!saved) {
        if (readFile(path) != bytes)
            finding("a failed job changed the workbook", path);
        // The check before the replace caught what the writer got wrong.
        for (const QString &w : warnings)
            if (w.contains(QLatin1String("the file was left as it was")))
                finding("a rewritten part does not read back", w);
        return;
    }
    // The oracle: what was saved opens again, every worksheet with it.
    DispatchPtr app = excelapp::createApplication();
    CallResult r;
    call(call(app, "Workbooks"), "Open", {path}, &r);
    if (!r.ok)
        finding("a saved workbook does not open again", r.error);
    // Every cell reads from the saved package as the job left it.
    {
        xlsx::Document doc;
        QString error;
        if (!doc.open(path, &error))
            finding("a saved package does not open again", error);
        const CellTexts saved = cellTexts(&doc);
        for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
            if (saved.value(it.key()) != it.value())
                finding("a cell reads back otherwise than the job left it",
                        it.key() + QStringLiteral(": ") + saved.value(it.key()) +
                            QStringLiteral(" instead of ") + it.value());
        }
    }
    // Texts written by position read back as written (a table header may be renamed).
    if (written && ch.sheets == 0) {
        xlsx::Document doc;
        QString error;
        xlsx::Worksheet *ws =
            doc.open(path, &error) ? doc.worksheet(doc.activeSheetIndex(), &error) : nullptr;
        if (!ws)
            finding("a saved worksheet does not load", error);
        for (const Pair &p : kCellPairs[ch.pairs]) {
            const QString put = QString::fromUtf8(p.put);
            const xlsx::CellRef ref = xlsx::CellRef::fromString(QString::fromUtf8(p.find));
            if (!QStringList{"text", "end", "block", QStringLiteral("\u4e2d")}.contains(put) ||
                !ref.isValid())
                continue;
            bool header = false;
            for (const xlsx::TableInfo &t : ws->tables())
                header = header || (t.ref.firstRow == ref.row && t.ref.firstColumn <= ref.column &&
                                    ref.column <= t.ref.lastColumn);
            const QString got = ws->cell(ref.row, ref.column).text;
            if (!header && got != put)
                finding("a written text reads back otherwise",
                        QString::fromUtf8(p.find) + QStringLiteral(": ") + got);
        }
    }
    call(app, "Quit");
}

} // namespace fuzzjob
