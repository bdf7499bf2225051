#include "fuzzjob.h"

#include "automation/dispatch.h"
#include "automation/sheetapp/sheetapp.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

using automation::CallResult;
using automation::DispatchPtr;

namespace fuzzjob {
namespace {

QTemporaryDir *folder = nullptr;

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
    return c;
}

void initialize()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    folder = new QTemporaryDir;
    if (!folder->isValid())
        abort();
}

void run(const QByteArray &bytes, const Choices &ch)
{
    const QString path = folder->filePath(QStringLiteral("book.xlsx"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            abort();
    }
    bool saved = false;
    {
        DispatchPtr app = sheetapp::createApplication();
        app->setProperty("DisplayAlerts", false, nullptr);
        DispatchPtr book = call(call(app, "Workbooks"), "Open", {path});
        if (!book) {
            if (readFile(path) != bytes)
                finding("a refused workbook was changed", path);
            return;
        }
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
            CallResult r;
            call(book, "Save", {}, &r);
            saved = r.ok && r.value.toBool();
        }
        call(app, "Quit");
    }
    checkNoTemporaries();
    if (!saved) {
        if (readFile(path) != bytes)
            finding("a failed job changed the workbook", path);
        return;
    }
    // The oracle: what was saved opens again, every worksheet with it.
    DispatchPtr app = sheetapp::createApplication();
    CallResult r;
    call(call(app, "Workbooks"), "Open", {path}, &r);
    if (!r.ok)
        finding("a saved workbook does not open again", r.error);
    call(app, "Quit");
}

} // namespace fuzzjob
