// Formula text utilities: moving a formula to another cell, and the
// "_xlfn."-style prefixes that files carry but the formula bar does not show.
//
// All functions take and return formula text as stored in a worksheet's <f>
// element: without the leading "=".
#pragma once

#include <QString>

namespace xlsx {

// The text of `formula` as it reads when moved by rowOffset rows and
// columnOffset columns (how a shared formula's master text reads in another
// cell of its group). Relative references move, "$"-anchored parts stay;
// ranges ("A1:B2", "A:C", "1:3"), sheet-qualified references ("Sheet1!A1",
// "'My sheet'!A1") are handled; string literals, quoted sheet names,
// structured references ("Table1[Col]"), function names and defined names are
// left untouched. A reference moved outside the sheet becomes "#REF!".
QString shiftFormula(const QString &formula, int rowOffset, int columnOffset);

// The formula as the formula bar shows it: "_xlfn.", "_xlws.", "_xludf." and
// "_xlpm." prefixes of function and parameter names are removed (text inside
// string literals and quoted sheet names is never touched).
QString hideFormulaPrefixes(const QString &formula);

// Puts back the prefixes that `original` (file text) carried on the names
// that `edited` (text derived from hideFormulaPrefixes(original)) still uses.
// restoreFormulaPrefixes(hideFormulaPrefixes(f), f) == f.
QString restoreFormulaPrefixes(const QString &edited, const QString &original);

} // namespace xlsx
