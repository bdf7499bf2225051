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

// The text of a <v> element as the formula bar shows it; empty when the
// literal is not a number.
QString numberLiteralText(const QString &literal);

// Whether `text` is still a plain number: an optional "-", digits with an
// optional "." fraction and an optional exponent; no blanks, "+", grouping,
// currency or percent; no leading zeros ("007"); and no more significant
// digits than a double keeps (so reading it as a number loses nothing).
// On success *value holds it.
bool isPlainNumber(const QString &text, double *value);

} // namespace sheetapp
