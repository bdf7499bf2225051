// The backend of .xlsx packages: the embedded spreadsheet engine, which edits
// the package in place through the package library (src/xlsx): Replace calls
// queued and applied in one walk of a sheet or on the shared strings, typed
// cell writes, the texts the formula bar shows for numbers and dates.
#pragma once

#include "automation/sheetapp/book.h"

#include <QString>

namespace xlsx {
class Document;
} // namespace xlsx

namespace embedded {

// Opens the package at `canonicalPath` (`path`: the absolute path the caller gave) and
// checks every worksheet: a damaged one refuses the whole workbook. nullptr with *error.
sheetapp::BookPtr openBook(const QString &canonicalPath, const QString &path, QString *error);

// The package of an open book of this backend with every queued call applied, as a save
// would write it; nullptr for any other book. For checks (the fuzzers' oracle).
xlsx::Document *settledDocument(const sheetapp::BookPtr &book);

} // namespace embedded
