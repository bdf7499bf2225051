// What kind of file a workbook is, from its content, never from its name.
#pragma once

#include <QString>

#include <functional>

namespace sheetapp {

enum class FileKind
{
    NotCompound,       // not an OLE2 compound file
    Workbook,          // a BIFF workbook ("Workbook" or "Book" stream), not encrypted
    EncryptedWorkbook, // a BIFF workbook with a password to open
    OtherCompound,     // another compound file (an encrypted package, a document, damage)
};

FileKind fileKind(const QString &path);

// Calls `visit(type, data, length)` for each record of the workbook globals of the BIFF
// workbook at `path`, up to their EOF record or until `visit` returns false. False when the
// file holds no BIFF workbook stream.
bool readWorkbookGlobals(const QString &path,
                         const std::function<bool(quint16, const char *, int)> &visit);

} // namespace sheetapp
