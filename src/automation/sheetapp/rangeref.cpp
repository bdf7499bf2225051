#include "automation/sheetapp/rangeref_p.h"

#include <QStringList>

namespace sheetapp {
namespace {

// One corner: "$"? letters "$"? digits, nothing else.
bool parseCorner(const QString &text, xlsx::CellRef *ref)
{
    int i = 0;
    const int n = text.size();
    if (i < n && text[i] == QLatin1Char('$'))
        ++i;
    const int letters = i;
    while (i < n && ((text[i] >= QLatin1Char('A') && text[i] <= QLatin1Char('Z')) ||
                     (text[i] >= QLatin1Char('a') && text[i] <= QLatin1Char('z'))))
        ++i;
    const int letterCount = i - letters;
    if (letterCount < 1 || letterCount > 3)
        return false;
    int column = 0;
    for (int k = letters; k < letters + letterCount; ++k)
        column = column * 26 + (text[k].toUpper().unicode() - 'A' + 1);
    if (i < n && text[i] == QLatin1Char('$'))
        ++i;
    const int digits = i;
    while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'))
        ++i;
    const int digitCount = i - digits;
    if (i != n || digitCount < 1 || digitCount > 7 || text[digits] == QLatin1Char('0'))
        return false;
    const int row = text.midRef(digits, digitCount).toInt();
    const xlsx::CellRef r(row, column);
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
