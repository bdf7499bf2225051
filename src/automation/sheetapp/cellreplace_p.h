// What Replace does to one cell: the text it matches (as the formula bar
// shows it) and the typed result, chosen so that no data is damaged.
#pragma once

#include "automation/sheetapp/matcher_p.h"
#include "xlsx/worksheet.h"

#include <QString>

namespace sheetapp {

constexpr int kMaxCellText = 32767;
constexpr int kMaxFormulaText = 8192;

// The cell as the formula bar shows it: a string's text, a number in its
// shortest round-trip form, a formula as "=" and its text with the file's
// "_xlfn."-style prefixes hidden. *searchable is false for cells Replace never
// matches (empty, booleans, errors, dates, array formulas, bad numbers).
QString shownText(const xlsx::Cell &cell, bool *searchable);

// Balanced quotes, brackets and parentheses, and something in it: the least
// a formula text must have before it is written into a file.
bool formulaLooksWellFormed(const QString &formula);

struct CellEdit
{
    enum Kind
    {
        None,    // nothing matched, or the result is the cell as it is
        Refused, // a match, but the result cannot be stored (too long, broken formula)
        String,
        Number,
        Formula,
    };
    Kind kind = None;
    QString text;   // String: the text; Number: the <v> literal; Formula: without "="
    QString reason; // Refused: why
};

// The edit Replace makes to `cell`; lookAt 1 = whole cell, 2 = any part.
CellEdit replaceInCell(const xlsx::Cell &cell, const WildcardPattern &what,
                       const QString &replacement, int lookAt);

} // namespace sheetapp
