#include "automation/sheetapp/application_p.h"
#include "automation/sheetapp/cellreplace_p.h"
#include "automation/sheetapp/cellwrite_p.h"
#include "automation/sheetapp/matcher_p.h"
#include "automation/sheetapp/rangeargs_p.h"
#include "automation/sheetapp/replacequeue_p.h"

#include <QDebug>

#include <algorithm>

using automation::CallResult;

namespace sheetapp {
namespace {

bool intersects(const xlsx::CellRange &a, const xlsx::CellRange &b)
{
    return a.firstRow <= b.lastRow && b.firstRow <= a.lastRow && a.firstColumn <= b.lastColumn &&
           b.firstColumn <= a.lastColumn;
}

} // namespace

CallResult RangeObject::invoke(const QByteArray &member, const QVariantList &args)
{
    QString error;
    if (member == "Replace") {
        if (!checkReplaceArgumentCount(args, &error))
            return CallResult::failure(error);
        return replace(args);
    }
    if (!document(&error))
        return CallResult::failure(error);
    if (member == "Address" || member == "Count") {
        if (!args.isEmpty())
            return wrongArgumentCount(*this, member, 0, args.size());
        if (member == "Count")
            return CallResult::ofValue(static_cast<qlonglong>(m_range.rowCount()) *
                                       m_range.columnCount());
        return CallResult::ofValue(rangeAddress(m_range));
    }
    return unknownMember(*this, member);
}

bool RangeObject::setProperty(const QByteArray &name, const QVariant &value, QString *error)
{
    if (name != "Value")
        return unknownProperty(*this, name, error);
    QString why;
    const bool ok = writeValue(value, &why);
    if (!ok && error)
        *error = why;
    return ok;
}

CallResult RangeObject::replace(const QVariantList &args)
{
    QString error;
    // Calls queued on the workbook stay queued: this one joins them.
    xlsx::Document *doc = document(&error, false);
    if (!doc)
        return CallResult::failure(error);
    xlsx::Worksheet *ws = doc->worksheet(m_sheet, &error);
    if (!ws)
        return CallResult::failure(error);

    ReplaceArguments parsed;
    if (!parseReplaceArguments(args, &parsed, &error))
        return CallResult::failure(error);
    ReplaceCall call(m_sheet, m_range, parsed.what, parsed.matchCase, parsed.replacement,
                     parsed.lookAt, parsed.searchOrder);
    return CallResult::ofValue(m_book->replaces.replace(doc, m_book->path, std::move(call)));
}

bool RangeObject::writeValue(const QVariant &value, QString *error)
{
    xlsx::Document *doc = document(error);
    if (!doc)
        return false;
    xlsx::Worksheet *ws = doc->worksheet(m_sheet, error);
    if (!ws)
        return false;
    QString text;
    if (!valueWriteText(value, m_range, &text, error))
        return false;
    for (const xlsx::CellRange &array : ws->arrayFormulaRanges()) {
        if ((array.rowCount() > 1 || array.columnCount() > 1) && intersects(array, m_range)) {
            *error =
                QStringLiteral("Range.Value: %1 is part of an array formula").arg(array.toString());
            return false;
        }
    }
    if (ws->isProtected()) {
        for (int r = m_range.firstRow; r <= m_range.lastRow; ++r) {
            for (int c = m_range.firstColumn; c <= m_range.lastColumn; ++c) {
                if (doc->isStyleLocked(ws->cell(r, c).style)) {
                    *error = QStringLiteral("%1: cell %2 of the protected sheet \"%3\" is locked")
                                 .arg(m_book->path, xlsx::CellRef(r, c).toString(), ws->name());
                    return false;
                }
            }
        }
    }
    // Each cell takes the text as typed input, in its own number format.
    SheetWriter writer(doc, ws);
    for (int r = m_range.firstRow; r <= m_range.lastRow; ++r) {
        for (int c = m_range.firstColumn; c <= m_range.lastColumn; ++c) {
            const CellEdit edit = typedInput(text, writer.formats().of(ws->cell(r, c).style));
            if (!writer.write(r, c, edit, error)) {
                *error = QStringLiteral("%1, sheet \"%2\", cell %3: %4")
                             .arg(m_book->path, ws->name(), xlsx::CellRef(r, c).toString(), *error);
                return false;
            }
        }
    }
    return true;
}

} // namespace sheetapp
