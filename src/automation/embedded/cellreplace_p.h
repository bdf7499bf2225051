// What Replace does to one cell: the text it matches (as the formula bar
// shows it) and the typed result, chosen so that no data is damaged.
#pragma once

#include "automation/embedded/matcher_p.h"
#include "automation/sheetapp/datetext.h"
#include "automation/sheetapp/numbertext.h"
#include "automation/sheetapp/typedinput.h"
#include "xlsx/worksheet.h"

#include <QString>

namespace embedded {

// The application's texts and typed input, which both backends share.
using sheetapp::CellFormat;
using sheetapp::CellFormats;
using sheetapp::classifyNumberFormat;
using sheetapp::dateTimeText;
using sheetapp::formulaLooksWellFormed;
using sheetapp::isPlainNumber;
using sheetapp::kMaxCellText;
using sheetapp::kMaxFormulaText;
using sheetapp::numberLiteralText;
using sheetapp::numberText;
using sheetapp::parseDateTimeText;
using sheetapp::readBooleanText;
using sheetapp::readTypedInput;
using sheetapp::shownNumberText;
using sheetapp::TypedInput;
using sheetapp::ValueFormat;

// The cell as the formula bar shows it: a string's text, a number rounded to
// 15 significant digits, a date or time in `format` as "yyyy/m/d", "h:mm:ss"
// or both, "TRUE"/"FALSE", an error constant ("#N/A"), a formula as "=" and
// its text with the file's "_xlfn."-style prefixes hidden. *searchable is
// false for cells Replace never matches (empty cells, the values inside a
// multi-cell array formula, data tables, ISO dates, bad numbers).
QString shownText(const xlsx::Cell &cell, const CellFormat &format, bool *searchable);

struct CellEdit
{
    enum Kind
    {
        None,         // nothing matched, or the result is the cell as it is
        Refused,      // a match, but the result cannot be stored (too long, broken formula)
        String,       // text
        Number,       // a number (dates and times too, as serial numbers)
        Formula,      // an ordinary formula
        ArrayFormula, // a one-cell array formula
        Boolean,
        Error, // an error constant
        Empty, // no value left; the cell keeps its style
    };
    Kind kind = None;
    // String: the text; Number: the <v> literal; Formula, ArrayFormula: the file's text
    // without "="; Boolean: "1" or "0"; Error: the constant.
    QString text;
    QString reason;           // Refused: why
    bool quotePrefix = false; // String: typed after an apostrophe (TypedInput::quotePrefix)
};

// The edit Replace makes to `cell` (whose style has `format`); lookAt 1 = whole cell,
// 2 = any part. The result is typed as the application types it: a formula stays a formula
// when the result starts with "=" (the prefixes of functions the file format added later put
// on), a number a number when the result is a plain number (a date or time when it reads
// back as one), a boolean or error constant a constant when the result is one; an empty
// result empties the cell; anything else becomes text.
CellEdit replaceInCell(const xlsx::Cell &cell, const CellFormat &format,
                       const WildcardPattern &what, const QString &replacement, int lookAt);

// What writing `text` into Range.Value stores in a cell with `format`: readTypedInput's
// value as this file stores it (a formula with the prefixes of later functions put on).
CellEdit typedInput(const QString &text, const CellFormat &format);

// The cell as it reads after `edit`, for the next replacement on the same cell.
xlsx::Cell cellAfter(const xlsx::Cell &cell, const CellEdit &edit);

} // namespace embedded
