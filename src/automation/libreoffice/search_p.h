// The replace of the spreadsheet application expressed in LibreOffice's
// search terms: Excel's wildcards become a regular expression, and the
// replacement is protected from LibreOffice's back-references.
#pragma once

#include <QString>

namespace libreoffice {

// `what` with "*" (any run, also across line breaks), "?" (one character) and
// "~" (makes the next "*", "?" or "~" literal; elsewhere a literal "~") as an
// ICU regular expression; every other character stands for itself.
QString wildcardToRegex(const QString &what);

// `replacement` written so that a regular-expression replace inserts it as it
// is ("&", "$" and "\" are LibreOffice's replace markers).
QString literalReplacement(const QString &replacement);

} // namespace libreoffice
