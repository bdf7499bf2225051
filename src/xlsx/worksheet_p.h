// Internals of one worksheet: the records of its cells and rows (spans into the part's XML),
// read by sheetparse.cpp, looked up by cells.cpp, edited by celledits.cpp and written by
// sheetwrite.cpp.
#pragma once

#include "xlsx/worksheet.h"
#include "xlsx/xml_p.h"

#include <QHash>
#include <QVector>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace xlsx {

// The formula of a cell, and where an edited cell stood in the source: kept apart from
// CellRec because most cells have neither.
struct CellMore
{
    quint32 fBegin = 0, fEnd = 0;       // <f> content
    qint32 si = -1;                     // "si" of a shared formula
    quint32 origBegin = 0, origEnd = 0; // the element in the source (origEnd 0: none)
};

// One <c> element. Spans are byte offsets into the worksheet's source (or, for edited
// cells, into its buffer of rewritten cells).
struct CellRec
{
    qint32 row = 0;
    quint16 col = 0;
    quint8 type = 0;              // CellType
    quint8 flags = 0;             // the flags below; the FormulaKind in the upper four bits
    quint32 begin = 0, end = 0;   // the whole element
    quint32 vBegin = 0, vEnd = 0; // <v> content, or <is> content for inline strings
    qint32 style = 0;
    quint32 more = 0; // 1 + index into WorksheetData::more, or 0
    enum : quint8
    {
        InExtra = 1,
        HasValue = 2,
        HasFormula = 4,
        Bare = 8 // in `extra` is only the content of <v>, <is> or <f>; see appendBareCell
    };
    FormulaKind fkind() const { return FormulaKind(flags >> 4); }
    void setFkind(FormulaKind k) { flags = quint8((flags & 0x0f) | (quint8(k) << 4)); }
};

struct RowRec
{
    qint32 row = 0;
    quint32 begin = 0, tagEnd = 0; // start tag
    quint32 closeBegin = 0;        // "</row>" (or the "/>" of an empty row)
    quint32 end = 0;
    quint32 spansBegin = 0, spansEnd = 0; // the spans="..." attribute with its leading blank
    bool selfClosing = false;
};

struct FormulaGroup
{
    int row = 0, col = 0; // the master cell
    CellRange ref;
};

class DocumentData;
class Worksheet;

// What reading a window of a worksheet's rows takes over from the windows before it, and
// gives to the next.
struct ParseCarry
{
    qint64 partSize = 0;          // of the whole part (bounds the summary)
    int rowNumber = 0;            // the last row (a row without "r" follows it)
    int lastRow = 0, lastCol = 0; // the last cell
    bool sorted = true;           // every cell came after the one before it
    CellRange used;               // spanned by the cells so far; invalid when none
    // The masters of shared formulas so far, with their <f> content as stored.
    struct Master
    {
        FormulaGroup group;
        QByteArray text;
    };
    QHash<int, Master> masters;
};

class WorksheetData
{
public:
    DocumentData *doc = nullptr;
    QString name;
    QString entryName; // zip entry of the part
    QString relsEntry; // zip entry of its relationships
    QByteArray xml;
    QByteArray extra;
    QByteArray prefix; // "x:" when SpreadsheetML elements are prefixed
    std::vector<CellRec> cells;
    std::deque<CellMore> more;
    std::vector<RowRec> rows;
    bool hasSheetData = false;
    bool sheetDataEmpty = false; // <sheetData/>
    Span sheetDataTag;           // start tag (whole element when empty)
    quint32 sheetDataClose = 0;  // "</sheetData>"
    bool hasDimension = false;
    Span dimensionRef;
    bool isProtected = false;
    QVector<FormulaGroup> arrays;
    QHash<int, FormulaGroup> shared;
    QStringList tablePartIds;
    bool modified = false;
    bool stale = false; // xml was replaced by a save and is parsed again on first use
    int formulaCount = 0;
    SheetSummary summary;

    // Reads the part's XML; without `keepCells` it is only checked, and no record is kept.
    // With `carry`, `xml` is a window of the part's rows (see sheetwindows.cpp).
    bool parse(QString *error, bool keepCells = true, ParseCarry *carry = nullptr);

    // A large sheet is checked on opening a window of rows at a time, never whole; when its
    // cells are sorted and no shared formula spans windows, it stays so ("windowed"): Replace
    // calls read it window by window, and their edits are made as the save writes it. Reading
    // or editing its cells any other way holds it whole, the edits made first.
    bool windowed = false;
    CellRange cellsUsed; // of a windowed sheet: as usedRange()
    // In a window: the masters of shared formulas that earlier windows hold.
    const QHash<int, ParseCarry::Master> *earlierMasters = nullptr;
    using WindowEdit = std::function<void(Worksheet *window)>;
    std::vector<WindowEdit> windowEdits;
    // A windowed sheet not held, with edits for the save to make window by window.
    bool editsInWindows() const { return windowed && stale && !windowEdits.empty(); }
    bool lookAhead = false; // a window a look ahead reads (see Worksheet::isLookAhead)
    int windowIndex = -1;   // a window's place among the sheet's windows
    // Checks the part window by window, keeping what a check keeps (see parse).
    bool checkInWindows(QString *error);
    // Reads the part window by window with the window edits made, each window handed to
    // `visit` (false: stop there). `rows` gets the rewritten rows of each window (the part's
    // whole part, its dimension that of all its cells), when given.
    bool forEachWindow(const std::function<bool(Worksheet *window)> &visit,
                       const std::function<bool(const char *, qint64)> *rows, QString *error,
                       bool lookAhead = false) const;
    int find(int row, int col) const;
    // Range spanned by the cells present; A1 when there are none.
    CellRange usedRange() const;
    const CellMore &moreOf(const CellRec &rec) const
    {
        static const CellMore none;
        return rec.more ? more[rec.more - 1] : none;
    }
    Cell toCell(const CellRec &rec) const;
    // The index a shared-string cell refers to, or -1.
    int sharedStringIndex(const CellRec &rec) const;
    const char *base(const CellRec &rec) const
    {
        return (rec.flags & CellRec::InExtra) ? extra.constData() : xml.constData();
    }
    QString formulaText(const CellRec &rec) const;
    bool checkEditable(int row, int col, QString *error) const;
    // Replaces or adds the cell (row, col) with the given XML (already carrying r and s).
    bool putCell(int row, int col, const QByteArray &cellXml, QString *error);
    // Puts the record of a cell written into `extra` (with its formula, if it has one) in
    // place of the cell's old one.
    // `index`: the cell's position, -1 when it has none, -2 to look it up.
    void store(CellRec rec, const CellMore *formula, int index = -2);
    bool expandShared(int si, QString *error);
    // `index`: the cell's position, or -1.
    bool prepareEdit(int row, int col, int index, QString *error);
    // Writes the cell as <c r s t><child>content</child></c>, keeping its style unless
    // `newStyle` (a cellXfs index) is given.
    bool writeCell(int row, int col, const char *type, const char *child, const QByteArray &content,
                   QString *error, int newStyle = -1);
    // Appends the element of a Bare cell: <c r s t><child>content</child></c>, with <f> for a
    // formula, <is> for an inline string, <v> for any other value.
    void appendBareCell(const CellRec &c, QByteArray *out) const;
    // The rewritten part, handed to `sink` in pieces; false when the sink fails.
    using ByteSink = std::function<bool(const char *, qint64)>;
    bool serialize(const ByteSink &sink) const;
    // Drops the parsed state and the source: the part is read again from the package on
    // first use. The summary, the array formula ranges and the sheet's flags stay.
    void release();
    QString label() const;
    // The text of a formula to store: without its leading "="; false (and *error) when empty.
    bool formulaText(const QString &formula, QString *text, QString *error) const;
};

// Shared by the sheet's files.

// The "t" attribute of a cell type, or nullptr (numbers and empty cells have none).
const char *typeAttrOf(CellType type);
// The type a "t" attribute value names; numbers for no value, "n" or an unknown one.
CellType typeOfAttr(const char *value, size_t size);
// Parses one <c> element whose start tag is `t`; advances the scanner past it. *groupKind:
// 1 when the cell is the master of a shared formula (*group filled), 2 for an array formula.
bool parseCell(XmlScanner &s, const XmlToken &t, int rowNumber, int prevCol, CellRec *rec,
               CellMore *formula, FormulaGroup *group, int *groupKind, QString *error);
// Writes the start tag of a cell, "<c r s t" (s when the style is not 0, t when there is a
// type), not closed.
XmlFragment &openCell(XmlFragment &x, int row, int col, int style, const char *type);

} // namespace xlsx
