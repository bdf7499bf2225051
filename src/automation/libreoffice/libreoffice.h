// The backend of legacy .xls workbooks, edited through a LibreOffice Calc instance.
//
// The application hands a workbook to this backend when its content is a
// compound file holding a BIFF workbook stream. The backend keeps a
// process-wide pool of headless LibreOffice instances, started on demand,
// each with a profile and a pipe of its own, reused for the rest of the run
// and ended when the program exits. Every call into an instance has a time
// limit; an instance that dies or hangs fails only the job that used it.
// No LibreOffice exception leaves this folder: failures come back as false or
// a failed call with a message that names the file.
#pragma once

#include "automation/sheetapp/book.h"

#include <QList>
#include <QString>
#include <QVector>

namespace libreoffice {

// Loads the workbook at `canonicalPath` (the real file, which a save
// replaces) into an instance of the pool; `path` is the path the caller gave,
// for messages and Workbook.Path. A book of this backend among `open` lends
// its instance (one application never waits for a second instance). nullptr
// with *error naming the file when LibreOffice is missing, cannot start, or
// cannot load the file.
sheetapp::BookPtr openBook(const QString &canonicalPath, const QString &path,
                           const QVector<sheetapp::BookPtr> &open, QString *error);

// The pool, for tests and the benchmark.
struct InstanceInfo
{
    qint64 pid = 0;
    bool leased = false;
    double startSeconds = 0; // from the start of the process to its first answer
};
QList<InstanceInfo> instances();
// The time limit of one call into an instance, in milliseconds (default
// 120000, or TRELVIX_LO_CALL_LIMIT_MS from the environment).
void setCallLimit(int milliseconds);
// Ends every instance now (the next workbook starts a fresh one).
void shutdownInstances();

} // namespace libreoffice
