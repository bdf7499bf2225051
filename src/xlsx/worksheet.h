// One worksheet of an open package: its cells (read from the part's own XML
// bytes on demand), its tables, and the edits made to it.
#pragma once

#include "xlsx/cellref.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>
#include <vector>

namespace xlsx {

class Document;
class WorksheetData;

enum class CellType
{
    Empty,         // no value (a cell that only carries a style, or no cell at all)
    SharedString,  // t="s"
    InlineString,  // t="inlineStr"
    FormulaString, // t="str": the cached text result of a formula
    Number,        // no t, or t="n"
    Boolean,       // t="b"
    Error,         // t="e"
    IsoDate,       // t="d": ISO 8601 text
};

enum class FormulaKind
{
    None,
    Normal,       // an ordinary cell formula
    SharedMaster, // the cell that carries the text of a shared-formula group
    SharedMember, // another cell of a shared-formula group
    ArrayMaster,  // the top-left cell of an array formula (carries its text)
};

// A snapshot of one cell.
struct Cell
{
    int row = 0;
    int column = 0;
    bool exists = false; // there is a <c> element for it
    CellType type = CellType::Empty;
    int style = 0;   // the "s" attribute (index into the cellXfs of the styles part)
    QString text;    // strings: the text (rich text flattened, phonetic runs left out,
                     // _xHHHH_ decoded); numbers, booleans, errors, dates: the raw <v> text
    QString formula; // without "="; for a shared-group member, shifted to this cell
    FormulaKind formulaKind = FormulaKind::None;
    int sharedIndex = -1;      // "si" of a shared formula
    CellRange formulaRange;    // "ref" of a shared master or array formula
    bool inArrayRange = false; // the cell lies in the range of a multi-cell array formula

    bool isString() const
    {
        return type == CellType::SharedString || type == CellType::InlineString ||
               type == CellType::FormulaString;
    }
    bool hasFormula() const { return formulaKind != FormulaKind::None; }
};

// What can be known of a cell without decoding its text: enough to pass over
// cells that a search cannot match.
struct CellHead
{
    int row = 0;
    int column = 0;
    CellType type = CellType::Empty;
    int style = 0;
    int sharedString = -1; // SharedString: the index into the shared strings
    bool hasFormula = false;
};

// What a worksheet's cells amount to, gathered while its part is read: enough to search
// and replace in a sheet of plain values without holding its cells.
struct SheetSummary
{
    bool valid = false;
    CellRange used = CellRange(1, 1, 1, 1); // as Worksheet::usedRange()
    // Every cell with a value holds a shared string or a number, none a formula.
    bool plain = true;
    bool numbers = false; // some cell holds a number
    // By shared string: the style of the cells that refer to it; -1 none, -2 cells of
    // different styles (or one with a formula).
    std::vector<qint32> sharedStyles;
};

// A table (ListObject) defined on a worksheet.
struct TableInfo
{
    QString partName; // e.g. "/xl/tables/table1.xml"
    QString name;
    QString displayName;
    CellRange ref;
    int headerRowCount = 1;
    QStringList columnNames;
};

class Worksheet
{
public:
    ~Worksheet();
    Worksheet(const Worksheet &) = delete;
    Worksheet &operator=(const Worksheet &) = delete;

    QString name() const;

    // The summary of a sheet with no edit; nullptr once one is made.
    const SheetSummary *summary() const;

    // Cells in row-major order (rows ascending, columns ascending within a row).
    int cellCount() const;
    Cell cellAt(int i) const;
    CellHead headAt(int i) const;
    // The stored bytes (UTF-8, with the <t> tags around) of the string value of
    // the cell at position i, when they hold its text as it is (one plain <t>,
    // nothing escaped); false for anything else. Valid until the next edit.
    bool plainStoredText(int i, const char **begin, const char **end) const;
    // The cell at (row, column); Cell::exists is false when there is none.
    Cell cell(int row, int column) const;
    bool hasCell(int row, int column) const;
    // Position of the cell in row-major order, or -1.
    int indexOf(int row, int column) const;

    // Range spanned by the cells present (any <c>, styled-only ones included);
    // A1 for a sheet with no cells. Independent of the file's <dimension>.
    CellRange usedRange() const;
    // True when some cell holds a formula.
    bool hasFormulas() const;
    // sheetProtection with sheet="1".
    bool isProtected() const;
    // Ranges of the array formulas of the sheet.
    QVector<CellRange> arrayFormulaRanges() const;

    // Tables of this sheet (tableParts), in the order the sheet lists them.
    QVector<TableInfo> tables() const;
    // Renames one column of one table; only the table part changes.
    bool renameTableColumn(int tableIndex, int columnIndex, const QString &name,
                           QString *error = nullptr);

    // Edits. Each keeps the cell's style and replaces its value; a formula cell loses its
    // formula (setFormula: the new one, without a stale cached value). Cells and rows are
    // added where needed. Editing the master of a shared-formula group first turns the other
    // members into ordinary formulas (with their cached values); editing a member takes only
    // that member out of the group. A cell inside a multi-cell array formula is refused.
    // Strings are stored inline (t="inlineStr"): the shared strings part changes only through
    // Document::setSharedString.
    bool setString(int row, int column, const QString &text, QString *error = nullptr);
    // The same, the cell taking cell style `style` (a cellXfs index) instead of its own.
    bool setString(int row, int column, const QString &text, int style, QString *error);
    // `literal` is the text of <v>, e.g. "42" or "-1.5E-3"; it must be a valid number.
    bool setNumber(int row, int column, const QString &literal, QString *error = nullptr);
    bool setBoolean(int row, int column, bool value, QString *error = nullptr);
    // `formula` without the leading "="; the cell's cached value is dropped.
    bool setFormula(int row, int column, const QString &formula, QString *error = nullptr);
    // An error constant ("#N/A", "#DIV/0!", ...).
    bool setError(int row, int column, const QString &error, QString *errorMessage = nullptr);
    // An array formula (t="array"), without "=": a one-cell one, or the new text of the
    // multi-cell array formula whose top-left cell (row, column) is (its range stays).
    bool setArrayFormula(int row, int column, const QString &formula, QString *error = nullptr);
    // Removes the value (and formula) of the cell; its style stays. Nothing to do for a cell
    // that is not there.
    bool clearValue(int row, int column, QString *error = nullptr);
    // True when `utf8` occurs (ASCII case-insensitively) in the part outside its cells
    // (conditional formats, data validations and the like).
    bool mentionedOutsideCells(const QByteArray &utf8) const;
    // Rewrites the formulas kept in a table part (calculated column and totals row formulas):
    // `map` gets each formula text and returns the new one.
    bool mapTableFormulas(int tableIndex, const std::function<QString(const QString &)> &map,
                          QString *error = nullptr);

    // Whether any edit was made since the package was opened or saved.
    bool isModified() const;

    // A large sheet whose cells are not held: read a window of consecutive rows at a time.
    bool isWindowed() const;
    // Reads a windowed sheet a window at a time, each window a worksheet of its own with the
    // window edits so far made; `visit` may read and edit it (such edits are let go) and
    // returns false to stop. False with *error when the part cannot be read.
    bool forEachWindow(const std::function<bool(Worksheet *window)> &visit, QString *error) const;
    // An edit made to each window of a windowed sheet as the save writes it; made to the
    // whole sheet at once should its cells be read or edited another way first.
    void addWindowEdit(std::function<void(Worksheet *window)> edit);
    // Takes the last window edit back (it changes nothing); the sheet is modified as it was.
    void dropLastWindowEdit(bool wasModified);
    // A window that forEachWindow hands out: what is done to it is let go, and not told.
    bool isLookAhead() const;
    // Of a window: its place among the sheet's windows (from 0; -1 for a sheet), and the last
    // row its row elements give (0 when it has none).
    int windowIndex() const;
    int windowLastRow() const;

private:
    friend class Document;
    friend class WorksheetData;
    friend class DocumentData;
    explicit Worksheet(std::unique_ptr<WorksheetData> d);
    // The data, read again from the part first when a save has replaced it.
    WorksheetData *data() const;
    // The data where it is enough without the cells: their flags, summary and used range.
    const WorksheetData *light() const;
    std::unique_ptr<WorksheetData> d;
};

} // namespace xlsx
