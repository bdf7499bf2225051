// Numbers as the formula bar shows them, and the rule that decides whether an
// edited number's text is still a number.
#pragma once

#include <QString>

namespace sheetapp {

// The shortest text that reads back as exactly `value`: plain decimal for
// 1E-05 <= |value| < 1E+15 ("2024", "0.1", "-12.5", "0.00001"), otherwise
// scientific with a signed, at least two-digit exponent ("1E+15",
// "1.5E-07"). NaN and infinities give an empty text.
QString numberText(double value);

// The number as the formula bar shows it: rounded to 15 significant digits
// ("0.30000000000000004" shows as "0.3"), then written as numberText does.
QString shownNumberText(double value);

// The text of a <v> element as the formula bar shows it; empty when the
// literal is not a number.
QString numberLiteralText(const QString &literal);

// Whether `text` is still a plain number: an optional "-", digits with an
// optional "." fraction and an optional exponent; no blanks, "+", grouping,
// currency or percent; no leading zeros ("007"); and no more significant
// digits than the application keeps (15), so that an identity number keeps
// every digit as text.
// On success *value holds it.
bool isPlainNumber(const QString &text, double *value);

} // namespace sheetapp
