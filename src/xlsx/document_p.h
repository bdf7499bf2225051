// Internals of the package library (tests may include this header).
#pragma once

#include "xlsx/document.h"
#include "xlsx/savefile.h"
#include "xlsx/xml_p.h"
#include "xlsx/zip_p.h"

#include <QHash>
#include <QIODevice>
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

class WorksheetData
{
public:
    DocumentData *doc = nullptr;
    int index = 0;
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
    bool parse(QString *error, bool keepCells = true);
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
    QByteArray startTag(int row, int col, int style, const char *type) const;
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

struct SheetEntry
{
    SheetInfo info;
    QString rid;
    QString entryName;
    int sheetId = 0;
    bool isNew = false;
    std::unique_ptr<Worksheet> ws;
};

class DocumentData
{
public:
    QString path;
    bool open = false;
    ZipArchive zip;
    QString workbookEntry;
    QString workbookRelsEntry;
    QByteArray workbookXml;
    QByteArray workbookRelsXml;
    QByteArray contentTypesXml;
    QByteArray wbPrefix; // prefix of the workbook's SpreadsheetML elements
    std::vector<SheetEntry> sheets;
    int activeTab = 0;
    QString sstEntry;
    QString stylesEntry;
    QString calcChainEntry;
    QString calcChainRid;
    mutable bool sstLoaded = false;
    struct SstItem
    {
        quint32 begin, end;               // content of an <si> in sstXml
        quint32 newBegin = 0, newEnd = 0; // the content given to it since, in sstNew (0, 0: none)
        enum : quint8
        {
            Unknown,
            Plain, // the stored content holds the text as it is (isPlainStoredText)
            NotPlain
        };
        mutable quint8 plain = Unknown;
    };
    mutable QByteArray sstXml;
    mutable QByteArray sstPrefix; // "x:" when the part's elements are prefixed
    mutable std::vector<SstItem> sstItems;
    QByteArray sstNew;
    bool sstEdited = false;
    // Of the styles part, read once on first use: per cell style (cellXfs index) its
    // protection "locked" flag and its number format id; the custom format codes.
    mutable bool stylesLoaded = false;
    mutable QVector<bool> lockedXf;
    mutable QVector<int> xfNumFmtIds;
    mutable QHash<int, QString> numFmtCodes;
    mutable int date1904 = -1;    // -1: not read yet
    QHash<int, int> quotedStyles; // cell style -> the same with the quote prefix
    bool wantFullCalc = false;
    bool wantRemoveCalcChain = false;
    bool autoRecalc = true;
    bool formulaEdited = false; // an edit changed, removed or added a formula
    bool valueEdited = false;
    QHash<QString, QByteArray> rewrittenParts; // entry -> new content
    QStringList writtenEntries;                // entries the last buildPackage rewrote
    FileIdentity readVersion;                  // the file at `path` whose content was read

    // Inflates an XML part, brought to UTF-8 when stored in another encoding.
    bool readPart(const QString &entry, QByteArray *out, QString *error) const;

    bool loadPackage(const QByteArray &bytes, const QString &label, QString *error);
    bool loadSharedStrings(QString *error) const;
    // Forgets the shared strings read and the edits made to them.
    void resetSharedStrings();
    QString sharedString(int i) const;
    // The stored XML of shared string item i (the content of its <si>); valid until the next
    // edit of a shared string.
    QByteArray sharedStringXml(int i) const;
    // Document::plainSharedString.
    bool plainSharedString(int i, const char **begin, const char **end) const;
    bool setSharedString(int i, const QString &text, QString *error);
    // The shared strings part with the edited items' new content.
    QByteArray sharedStringsPart() const;
    void loadStyles() const;
    enum class LoadMode
    {
        Hold,       // the cells are held
        Check,      // the part is parsed to be checked, then let go (read again on first use)
        CheckLarge, // Check for a part over holdBelow bytes, Hold for a smaller one
    };
    // 8 MiB; tests lower it to have every sheet only checked.
    static int holdBelow;
    bool loadWorksheet(int index, QString *error, LoadMode mode = LoadMode::Hold);
    Worksheet *worksheet(int index, bool checkOnly, QString *error);
    // Writes the package into an open, seekable device.
    bool buildPackage(QIODevice *out, QString *error);
    // Loads a package just written and reads every entry in `written` as on opening:
    // well-formed XML, worksheets parsed (and kept in `sheets`).
    bool readBack(const QByteArray &bytes, const QStringList &written, QString *error);
    QString label() const { return path; }
};

// Whether the stored content of a string item or <is> (UTF-8) holds its text as it is: one
// plain <t>, nothing escaped.
bool isPlainStoredText(const char *begin, const char *end);

// Resolves a relationship target against the part that holds it; returns a zip entry name
// (no leading "/").
QString resolveTarget(const QString &sourceEntry, const QString &target);
// The relationships entry of a part: "xl/workbook.xml" -> "xl/_rels/workbook.xml.rels".
QString relsEntryFor(const QString &entry);

struct Relationship
{
    QString id;
    QString type;
    QString target;
    bool external = false;
};
bool parseRelationships(const QByteArray &xml, const QString &label, QVector<Relationship> *out,
                        QString *error);

} // namespace xlsx
