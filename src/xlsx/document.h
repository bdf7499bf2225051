// An .xlsx/.xlsm package opened for reading and surgical editing, or a new
// workbook built from nothing.
//
// Every part that no edit touched is written back as its original compressed
// bytes; an edited worksheet keeps the exact XML of every cell and element
// that did not change. Saving is atomic. A Document is not shared between
// threads, but any number of Documents may be used on different threads at once.
#pragma once

#include "xlsx/worksheet.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <utility>
#include <vector>

namespace xlsx {

class DocumentData;

enum class SheetKind
{
    Worksheet, // also an Excel 4 macro sheet
    Chartsheet,
    Other, // dialog sheets: listed, never loaded
};

enum class SheetVisibility
{
    Visible,
    Hidden,
    VeryHidden
};

// The number format of a cell style: the id of cellXfs' numFmtId and its format code (the
// workbook's own code for custom ids, empty for built-in ids).
struct NumberFormat
{
    int id = 0;
    QString code;
};

// A defined name of the workbook part (<definedName>).
struct DefinedName
{
    QString name;
    int localSheet = -1; // localSheetId, -1 for a workbook-wide name
    QString formula;     // the reference or formula, without "="
};

struct SheetInfo
{
    QString name;
    SheetKind kind = SheetKind::Worksheet;
    SheetVisibility visibility = SheetVisibility::Visible;
    QString partName; // e.g. "/xl/worksheets/sheet1.xml"
};

class Document
{
public:
    // A new, empty workbook (no sheets yet) with no path.
    Document();
    ~Document();
    Document(const Document &) = delete;
    Document &operator=(const Document &) = delete;

    // Opens the package at path. Refuses, with *error naming the file and the part, what it
    // cannot read: not a zip, OLE containers (encrypted workbooks, .xls), binary workbooks,
    // strict Open XML, truncated or inconsistent zips, duplicate entries, missing parts,
    // malformed XML, DTDs, entries that would inflate out of proportion. Nothing is ever
    // written by open(). On failure the document is left empty.
    bool open(const QString &path, QString *error = nullptr);
    // Starts a new empty workbook (no sheets) bound to path; nothing is written until save().
    void create(const QString &path);

    QString path() const;
    // True after open() succeeded or create() was called.
    bool isOpen() const;

    // Sheets in tab order.
    int sheetCount() const;
    SheetInfo sheetInfo(int index) const;
    QStringList sheetNames() const;
    // Index of the sheet with this exact name, or -1.
    int indexOfSheet(const QString &name) const;
    // workbookView activeTab (0 when absent), clamped to the sheet list.
    int activeSheetIndex() const;

    // The worksheet at index, loaded on first use; nullptr (and *error) for a chart sheet,
    // a bad index, or a part that cannot be read. The pointer lives as long as the Document.
    Worksheet *worksheet(int index, QString *error = nullptr);
    Worksheet *worksheet(const QString &name, QString *error = nullptr);
    // The worksheet at index; when it is not loaded yet and its part is large, read and
    // checked without holding its cells (they are read again on first use). nullptr (and
    // *error) as worksheet().
    Worksheet *checkWorksheet(int index, QString *error = nullptr);

    // Appends a new empty worksheet; returns its index, or -1 (and *error) when the name is
    // empty, too long, has a character not allowed in sheet names, or is already used
    // (case-insensitively).
    int addSheet(const QString &name, QString *error = nullptr);

    // The protection "locked" flag of a cell style (cellXfs index); true by default and for
    // unknown indexes.
    bool isStyleLocked(int styleIndex) const;

    // The number format of a cell style (cellXfs index); General (id 0) for unknown indexes.
    NumberFormat numberFormat(int styleIndex) const;
    // The cell style that is `styleIndex` with quotePrefix="1" (the formula bar shows an
    // apostrophe before the text): the style itself when it has it, else a copy appended to
    // cellXfs, once per base style; the styles part is then rewritten on save. -1 with
    // *error when the styles part has no such style or cannot be read.
    int quotePrefixStyle(int styleIndex, QString *error = nullptr);
    // workbookPr date1904: serial 0 is 1904-01-01 instead of 1900-01-00.
    bool isDate1904() const;

    // The shared strings: how many items the part has, and the text of item `index`.
    int sharedStringCount() const;
    QString sharedString(int index) const;
    // The stored bytes (UTF-8, with the <t> tags around) of item `index` when they hold its
    // text as it is (one plain <t>, nothing escaped); false for anything else. Valid until
    // the next edit of a shared string.
    bool plainSharedString(int index, const char **begin, const char **end) const;
    // Gives item `index` the plain text `text`: every cell that refers to it reads `text`
    // from then on (rich text runs and phonetic hints go). The part is rewritten on save.
    bool setSharedString(int index, const QString &text, QString *error = nullptr);
    // The same for several items (index, text): all of them, or none and false.
    bool setSharedStrings(const std::vector<std::pair<int, QString>> &texts,
                          QString *error = nullptr);

    // The defined names of the workbook part, in document order.
    QVector<DefinedName> definedNames() const;
    // Replaces the formula of the defined name at `index` (of definedNames()); the workbook
    // part is rewritten on save.
    bool setDefinedNameFormula(int index, const QString &formula, QString *error = nullptr);

    // Formula bookkeeping of the workbook.
    bool hasCalcChain() const;
    // True when the calculation chain exists or a loaded worksheet holds a formula.
    bool hasFormulas() const;
    // Sets calcPr fullCalcOnLoad="1" in the workbook part on save.
    void setFullCalcOnLoad();
    // Removes the calculation chain part, its relationship and its content-type override on
    // save.
    void removeCalcChain();
    // When a saved edit changed or removed a formula, the calculation chain is removed, and when
    // any value changed in a workbook with formulas, fullCalcOnLoad is set, so that the
    // spreadsheet application recalculates. On by default.
    void setAutoRecalc(bool on);

    // True when something would be written differently from the original.
    bool isModified() const;

    // Writes the package atomically to path() (a failed save leaves the old file as it was).
    // An unmodified opened document writes the same content again.
    bool save(QString *error = nullptr);
    // Writes to another path atomically; the document is then bound to it.
    bool saveAs(const QString &path, QString *error = nullptr);

private:
    std::unique_ptr<DocumentData> d;
};

} // namespace xlsx
