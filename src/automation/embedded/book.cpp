#include "automation/embedded/book_p.h"
#include "automation/embedded/cellreplace_p.h"
#include "automation/embedded/cellwrite_p.h"
#include "automation/embedded/embedded.h"

#include <QDebug>

#include <memory>

namespace embedded {
namespace {

bool intersects(const xlsx::CellRange &a, const xlsx::CellRange &b)
{
    return a.firstRow <= b.lastRow && b.firstRow <= a.lastRow && a.firstColumn <= b.lastColumn &&
           b.firstColumn <= a.lastColumn;
}

// Why a Value write into the cell (row, column) of `ws` was refused.
QString lockedCell(const QString &path, const xlsx::Worksheet *ws, int row, int column)
{
    return QStringLiteral("%1: cell %2 of the protected sheet \"%3\" is locked")
        .arg(path, xlsx::CellRef(row, column).toString(), ws->name());
}
QString refusedCell(const QString &path, const xlsx::Worksheet *ws, int row, int column,
                    const QString &why)
{
    return QStringLiteral("%1, sheet \"%2\", cell %3: %4")
        .arg(path, ws->name(), xlsx::CellRef(row, column).toString(), why);
}

// A Value write into a sheet read in windows, made as the save writes the sheet: the cells'
// formats and the window each goes into are looked up first, window by window, and whatever
// could refuse the write is decided now. False (and *done false) when it is to be made on the
// sheet held whole instead: a sheet with table headers, a formula, or a large range.
bool setTextInWindows(xlsx::Document *doc, xlsx::Worksheet *ws, const QString &path,
                      const xlsx::CellRange &range, const QString &text, bool *done, QString *error)
{
    *done = false;
    if (qint64(range.rowCount()) * range.columnCount() > 1024)
        return true;
    for (const xlsx::TableInfo &t : ws->tables())
        if (t.headerRowCount > 0)
            return true;
    struct Target
    {
        int row, column;
        int window = -1; // the window holding the cell, or its row, or the next row
        int style = 0;
        CellEdit edit;
    };
    auto targets = std::make_shared<std::vector<Target>>();
    for (int r = range.firstRow; r <= range.lastRow; ++r)
        for (int c = range.firstColumn; c <= range.lastColumn; ++c)
            targets->push_back({r, c, -1, 0, CellEdit()});
    int windows = 0;
    if (!ws->forEachWindow(
            [&](xlsx::Worksheet *w) {
                windows = w->windowIndex() + 1;
                const int last = w->windowLastRow();
                bool open = false;
                for (Target &t : *targets) {
                    if (t.window >= 0)
                        continue;
                    if (last < t.row) {
                        open = true;
                        continue;
                    }
                    t.window = w->windowIndex();
                    t.style = w->cell(t.row, t.column).style;
                }
                return open;
            },
            error))
        return false;
    CellFormats formats(doc);
    for (Target &t : *targets) {
        if (t.window < 0)
            t.window = qMax(0, windows - 1); // after the last row
        if (ws->isProtected() && doc->isStyleLocked(t.style)) {
            *error = lockedCell(path, ws, t.row, t.column);
            return false;
        }
        t.edit = typedInput(text, formats.of(t.style));
        // A formula decides whether the workbook asks for a recalculation: held whole.
        if (t.edit.kind == CellEdit::Formula || t.edit.kind == CellEdit::ArrayFormula)
            return true;
        if (t.edit.kind == CellEdit::Refused) {
            *error = refusedCell(path, ws, t.row, t.column, t.edit.reason);
            return false;
        }
        // The style with the quote prefix is made now, before the save writes the styles.
        if (t.edit.quotePrefix && doc->quotePrefixStyle(t.style, error) < 0)
            return false;
    }
    ws->addWindowEdit([targets, doc, path](xlsx::Worksheet *w) {
        std::unique_ptr<SheetWriter> writer;
        for (const Target &t : *targets) {
            // (-1: the sheet held whole, every cell in it)
            if (w->windowIndex() >= 0 && t.window != w->windowIndex())
                continue;
            if (!writer)
                writer.reset(new SheetWriter(doc, w));
            QString why;
            if (!writer->write(t.row, t.column, t.edit, &why) && !w->isLookAhead())
                qWarning().noquote()
                    << QStringLiteral("Range.Value:") << refusedCell(path, w, t.row, t.column, why);
        }
    });
    *done = true;
    return true;
}

} // namespace

sheetapp::BookPtr openBook(const QString &canonicalPath, const QString &path, QString *error)
{
    auto book = std::make_shared<PackageBook>(path, canonicalPath);
    if (!book->open(error))
        return nullptr;
    return book;
}

xlsx::Document *settledDocument(const sheetapp::BookPtr &book)
{
    auto *mine = dynamic_cast<PackageBook *>(book.get());
    return mine && mine->isOpen() ? mine->settled() : nullptr;
}

PackageBook::~PackageBook()
{
    close();
}

bool PackageBook::open(QString *error)
{
    m_doc = std::make_unique<xlsx::Document>();
    if (!m_doc->open(canonicalPath(), error)) {
        m_doc.reset();
        return false;
    }
    // A damaged worksheet refuses the whole workbook now, before any job
    // relies on it.
    for (int i = 0; i < m_doc->sheetCount(); ++i) {
        if (m_doc->sheetInfo(i).kind == xlsx::SheetKind::Worksheet &&
            !m_doc->checkWorksheet(i, error)) {
            m_doc.reset();
            return false;
        }
    }
    return true;
}

void PackageBook::close()
{
    m_replaces.clear();
    m_doc.reset();
}

xlsx::Document *PackageBook::settled()
{
    m_replaces.flush(m_doc.get(), path());
    return m_doc.get();
}

int PackageBook::sheetCount(QString *)
{
    return m_doc->sheetCount();
}

bool PackageBook::sheetName(int sheet, QString *name, QString *)
{
    *name = m_doc->sheetInfo(sheet).name;
    return true;
}

sheetapp::SheetKind PackageBook::sheetKind(int sheet)
{
    switch (m_doc->sheetInfo(sheet).kind) {
    case xlsx::SheetKind::Worksheet:
        return sheetapp::SheetKind::Worksheet;
    case xlsx::SheetKind::Chartsheet:
        return sheetapp::SheetKind::Chart;
    case xlsx::SheetKind::Other:
        break;
    }
    return sheetapp::SheetKind::Dialog; // a dialog sheet
}

bool PackageBook::hasCells(int, QString *)
{
    return true;
}

int PackageBook::activeSheet(QString *error)
{
    if (m_doc->sheetCount() < 1) {
        *error = QStringLiteral("%1: the workbook has no sheet").arg(path());
        return -1;
    }
    return m_doc->activeSheetIndex();
}

// Queued Replace calls change cell values only: the used range is what it was before them
// (a cell they empty keeps its place), and a look at the sheets does not apply them.
bool PackageBook::usedRange(int sheet, xlsx::CellRange *range, QString *error)
{
    xlsx::Worksheet *ws = m_doc->worksheet(sheet, error);
    if (!ws)
        return false;
    *range = ws->usedRange();
    return true;
}

bool PackageBook::replace(int sheet, const xlsx::CellRange &range,
                          const sheetapp::ReplaceArguments &args, bool *changed, QString *error)
{
    // Calls queued on the workbook stay queued: this one joins them.
    if (!m_doc->worksheet(sheet, error))
        return false;
    ReplaceCall call(sheet, range, args.what, args.matchCase, args.replacement, args.lookAt,
                     args.searchOrder);
    *changed = m_replaces.replace(m_doc.get(), path(), std::move(call));
    return true;
}

bool PackageBook::setText(int sheet, const xlsx::CellRange &range, const QString &text,
                          QString *error)
{
    xlsx::Document *doc = settled();
    xlsx::Worksheet *ws = doc->worksheet(sheet, error);
    if (!ws)
        return false;
    for (const xlsx::CellRange &array : ws->arrayFormulaRanges()) {
        if ((array.rowCount() > 1 || array.columnCount() > 1) && intersects(array, range)) {
            *error =
                QStringLiteral("Range.Value: %1 is part of an array formula").arg(array.toString());
            return false;
        }
    }
    if (ws->isWindowed()) {
        bool done = false;
        if (!setTextInWindows(doc, ws, path(), range, text, &done, error))
            return false;
        if (done)
            return true;
    }
    if (ws->isProtected()) {
        for (int r = range.firstRow; r <= range.lastRow; ++r) {
            for (int c = range.firstColumn; c <= range.lastColumn; ++c) {
                if (doc->isStyleLocked(ws->cell(r, c).style)) {
                    *error = lockedCell(path(), ws, r, c);
                    return false;
                }
            }
        }
    }
    // Each cell takes the text as typed input, in its own number format.
    SheetWriter writer(doc, ws);
    for (int r = range.firstRow; r <= range.lastRow; ++r) {
        for (int c = range.firstColumn; c <= range.lastColumn; ++c) {
            const CellEdit edit = typedInput(text, writer.formats().of(ws->cell(r, c).style));
            if (!writer.write(r, c, edit, error)) {
                *error = refusedCell(path(), ws, r, c, *error);
                return false;
            }
        }
    }
    return true;
}

bool PackageBook::save(QString *error)
{
    xlsx::Document *doc = settled();
    return !doc->isModified() || doc->save(error);
}

} // namespace embedded
