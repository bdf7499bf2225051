// The spreadsheet application's object model: Application, Workbooks,
// Workbook, Sheets, Worksheet (or Chart) and Range, over the books of two
// backends. What a file holds decides which backend opens it: a legacy .xls
// workbook (a BIFF workbook in an OLE2 compound file) goes to `legacy`,
// anything else to `package`.
#pragma once

#include "automation/dispatch.h"
#include "automation/sheetapp/book.h"

#include <QString>
#include <QVector>

#include <functional>

namespace sheetapp {

// Opens the workbook at `canonicalPath` (the real file); `path` is the absolute path the
// caller gave; `open` the books the application already holds (a backend may share
// resources between them). nullptr with *error naming the file when it cannot be opened.
using Opener = std::function<BookPtr(const QString &canonicalPath, const QString &path,
                                     const QVector<BookPtr> &open, QString *error)>;

struct Backends
{
    Opener package; // .xlsx packages and everything that is no compound file
    Opener legacy;  // .xls workbooks; without it they are refused
};

// A new, hidden application instance with alerts on and no workbook open.
automation::DispatchPtr createApplication(const Backends &backends);

// The book behind a Workbook object; nullptr for any other object. For checks.
BookPtr bookOf(const automation::DispatchPtr &workbook);

// Whether some application of the process holds the file open.
bool isFileHeld(const QString &canonicalPath);

} // namespace sheetapp
