// A workbook as the application's objects see it, whichever backend holds it.
//
// The application's objects (Workbook, Sheets, Worksheet, Range) are written
// once over this interface; a backend holds the workbook's content: the
// embedded package engine for .xlsx files, LibreOffice for legacy .xls files.
// Every operation is one call that fails with false (or -1) and a message
// naming the file; no exception leaves a backend.
#pragma once

#include "xlsx/cellref.h"

#include <QString>
#include <QVector>

#include <memory>

namespace sheetapp {

enum class SheetKind
{
    Worksheet, // has cells (also an Excel 4 macro sheet)
    Chart,     // the kinds below have no cells
    Dialog,    // an Excel 5 dialog sheet
    Module,    // an Excel 5/95 Visual Basic module
};

// The type of a sheet's object: "Worksheet", "Chart", "DialogSheet" or "Module".
QString sheetTypeName(SheetKind kind);
// A kind of sheet in messages: "worksheet", "chart sheet", "dialog sheet", "Visual Basic module".
QString sheetKindText(SheetKind kind);

// Range.Replace(What, Replacement, [LookAt], [SearchOrder], [MatchCase]).
struct ReplaceArguments
{
    QString what;
    QString replacement;
    int lookAt = 2;      // 1: the whole cell, 2: part of it
    int searchOrder = 1; // 1: by rows, 2: by columns
    bool matchCase = false;
};

// The size of the book's sheets.
struct Limits
{
    int rows = 1048576;
    int columns = 16384;
};

class Book
{
public:
    // `path` as the caller gave it (absolute; for messages and Workbook.Path), `canonicalPath`
    // the real file, which is read and replaced.
    Book(QString path, QString canonicalPath)
        : m_path(std::move(path)), m_canonicalPath(std::move(canonicalPath))
    {
    }
    virtual ~Book() = default;
    Book(const Book &) = delete;
    Book &operator=(const Book &) = delete;

    const QString &path() const { return m_path; }
    const QString &canonicalPath() const { return m_canonicalPath; }

    // True until the book is closed.
    virtual bool isOpen() const = 0;
    // Drops the workbook unsaved.
    virtual void close() = 0;

    virtual Limits limits() const = 0;
    // -1 when the backend fails.
    virtual int sheetCount(QString *error) = 0;
    virtual bool sheetName(int sheet, QString *name, QString *error) = 0;
    virtual SheetKind sheetKind(int sheet) = 0;
    // False with *error when the cells of a worksheet cannot be reached (the backend could
    // not load them).
    virtual bool hasCells(int sheet, QString *error) = 0;
    // The sheet the file shows on top; -1 when there is none to show.
    virtual int activeSheet(QString *error) = 0;
    virtual bool usedRange(int sheet, xlsx::CellRange *range, QString *error) = 0;
    // Range.Replace on the cells of `range`; *changed: whether a cell changes. False when the
    // call fails (a failure the job may go past comes back as true, nothing changed).
    virtual bool replace(int sheet, const xlsx::CellRange &range, const ReplaceArguments &args,
                         bool *changed, QString *error) = 0;
    // Range.Value: each cell of `range` takes `text` as typed input.
    virtual bool setText(int sheet, const xlsx::CellRange &range, const QString &text,
                         QString *error) = 0;
    // Writes the workbook to its file; a workbook with no change leaves its file as it is.
    virtual bool save(QString *error) = 0;

private:
    const QString m_path;
    const QString m_canonicalPath;
};

using BookPtr = std::shared_ptr<Book>;

} // namespace sheetapp
