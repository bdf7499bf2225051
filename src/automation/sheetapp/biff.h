// The records of a BIFF workbook stream (.xls, Excel 5 to 2003) that this
// backend reads itself: the workbook globals and the sheet list they hold.
// The stream comes from an untrusted file: every read is checked against its
// size.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace sheetapp::biff {

// Reads at most `limit` bytes of the workbook stream ("Workbook" or "Book") of
// the compound file at `path`; false when it has none or is damaged.
bool readWorkbookStream(const QString &path, qint64 limit, QByteArray *stream);

// Calls visit(type, data, length) for each record of the workbook globals, up
// to their EOF record, the end of the stream or until visit returns false.
// False when the stream does not start with a BOF record.
bool forEachGlobal(const QByteArray &stream,
                   const std::function<bool(quint16, const char *, int)> &visit);

enum class SheetKind
{
    Worksheet,
    Chart,
    MacroSheet, // Excel 4 macro sheet
    Dialog,     // Excel 5 dialog sheet
    Module,     // Excel 5/95 Visual Basic module
};

struct Sheet
{
    QString name;
    SheetKind kind = SheetKind::Worksheet;
};

// Every sheet the BOUNDSHEET records of the globals name, in tab order (BIFF5
// and BIFF8). A sheet whose own substream cannot be read counts as a
// worksheet; a record cut short ends the list. Empty for a stream without
// such records (BIFF2 to BIFF4).
std::vector<Sheet> sheetsOf(const QByteArray &stream);

} // namespace sheetapp::biff
