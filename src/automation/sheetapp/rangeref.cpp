#include "automation/sheetapp/rangeref_p.h"

#include <QStringList>

namespace sheetapp {
namespace {

// One corner: "$"? letters "$"? digits, nothing else, and no leading zero in
// the row number ("A01" is no cell reference).
bool parseCorner(const QString &text, xlsx::CellRef *ref)
{
    int digits = 0;
    while (digits < text.size() && !text[digits].isDigit())
        ++digits;
    if (digits < text.size() && text[digits] == QLatin1Char('0'))
        return false;
    const xlsx::CellRef r = xlsx::CellRef::fromString(text);
    if (!r.isValid())
        return false;
    *ref = r;
    return true;
}

} // namespace

xlsx::CellRange parseRangeReference(const QString &text)
{
    const QStringList corners = text.split(QLatin1Char(':'));
    if (corners.size() > 2)
        return xlsx::CellRange();
    xlsx::CellRef a;
    if (!parseCorner(corners[0], &a))
        return xlsx::CellRange();
    xlsx::CellRef b = a;
    if (corners.size() == 2 && !parseCorner(corners[1], &b))
        return xlsx::CellRange();
    return xlsx::CellRange(qMin(a.row, b.row), qMin(a.column, b.column), qMax(a.row, b.row),
                           qMax(a.column, b.column));
}

} // namespace sheetapp
