// What a text written into a cell becomes, read as the spreadsheet application reads what
// the user types. One rule for every backend: the embedded application stores the result in
// the package, the LibreOffice backend hands it to Calc as a value, a formula or a string.
#pragma once

#include "automation/sheetapp/datetext.h"

#include <QString>

namespace sheetapp {

constexpr int kMaxCellText = 32767;
constexpr int kMaxFormulaText = 8192;

struct TypedInput
{
    enum Kind
    {
        Empty,   // "": the cell loses its value and keeps its format
        Text,    // `text`
        Number,  // `number` (a date or time as its serial number)
        Boolean, // `number` 1 or 0
        Error,   // the error constant `text` ("#N/A")
        Formula, // `text` as typed, with its "="
        Refused, // cannot be stored; `text` says why
    };
    Kind kind = Empty;
    QString text;
    double number = 0;
    // Text typed after a leading apostrophe: the cell's format gets the quote prefix, so the
    // formula bar shows the apostrophe again.
    bool quotePrefix = false;
};

// What `text` becomes in a cell with `format`: "" empties the cell; in a Text ("@") cell
// everything stays text as typed; a leading apostrophe keeps the rest as text (quotePrefix);
// a well-formed "=..." is a formula; "TRUE"/"FALSE" (any case) a boolean; an error constant
// an error; a plain number a number (leading zeros and more than 15 significant digits stay
// text); in a date or time cell "yyyy/m/d", "h:mm:ss" or both its serial number in the
// cell's date system; anything else text.
TypedInput readTypedInput(const QString &text, const CellFormat &format);

// "TRUE"/"FALSE" in any case, as the application reads typed input.
bool readBooleanText(const QString &text, bool *value);

// Balanced quotes, brackets and parentheses, and something in it: the least
// a formula text (without "=") must have before it is stored.
bool formulaLooksWellFormed(const QString &formula);

} // namespace sheetapp
