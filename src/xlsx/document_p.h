// Internals of the package library (tests may include this header).
#pragma once

#include "xlsx/document.h"
#include "xlsx/savefile.h"
#include "xlsx/worksheet_p.h"
#include "xlsx/xml_p.h"
#include "xlsx/zip_p.h"

#include <QHash>
#include <QIODevice>
#include <QPair>
#include <QVector>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QXmlStreamReader;

namespace xlsx {

struct SheetEntry
{
    SheetInfo info;
    QString rid;
    QString entryName;
    int sheetId = 0;
    bool isNew = false;
    std::unique_ptr<Worksheet> ws;
};

// The package as read: its entries and its content types.
struct PackageState
{
    ZipArchive zip;
    QByteArray contentTypesXml;
};

// The workbook part, its relationships, and the sheets and parts they name.
struct WorkbookState
{
    QString entry;     // zip entry of the workbook part
    QString relsEntry; // zip entry of its relationships
    QByteArray xml;
    QByteArray relsXml;
    QByteArray prefix; // of the workbook's SpreadsheetML elements
    std::vector<SheetEntry> sheets;
    int activeTab = 0;
    QString sstEntry;
    QString stylesEntry;
    QString calcChainEntry;
    QString calcChainRid;
};

// The shared strings part, read once on first use and kept undecoded, and the new content
// given to its items.
struct SharedStringsState
{
    struct Item
    {
        quint32 begin, end;               // content of an <si> in xml
        quint32 newBegin = 0, newEnd = 0; // the content given to it since, in newXml (0, 0: none)
        enum : quint8
        {
            Unknown,
            Plain, // the stored content holds the text as it is (isPlainStoredText)
            NotPlain
        };
        mutable quint8 plain = Unknown;
    };
    mutable bool loaded = false;
    mutable QByteArray xml;
    mutable QByteArray prefix; // "x:" when the part's elements are prefixed
    mutable std::vector<Item> items;
    QByteArray newXml;
    bool edited = false;
};

// Of the styles part, read once on first use: per cell style (cellXfs index) its protection
// "locked" flag and its number format id; the custom format codes; the workbook's date system.
// And the cell styles added to it.
struct StylesState
{
    mutable bool loaded = false;
    mutable QVector<bool> lockedXf;
    mutable QVector<int> xfNumFmtIds;
    mutable QHash<int, QString> numFmtCodes;
    mutable int date1904 = -1;    // -1: not read yet
    QHash<int, int> quotedStyles; // cell style -> the same with the quote prefix
};

// What edits since opening (or the last save) ask of the next save.
struct EditsState
{
    bool formulaEdited = false; // an edit changed, removed or added a formula
    bool valueEdited = false;
    QHash<QString, QByteArray> rewrittenParts; // entry -> new content
    // Windowed sheets rewritten for the save under way: entry -> the deflated part.
    struct Deflated
    {
        QByteArray raw;
        quint32 crc = 0;
        quint64 size = 0;
    };
    QHash<QString, Deflated> windowedParts;
};

class DocumentData
{
public:
    QString path;
    FileIdentity readVersion; // the file at `path` whose content was read
    bool open = false;
    PackageState package;
    WorkbookState workbook;
    SharedStringsState sst;
    StylesState styles;
    EditsState edits;

    // Inflates an XML part, brought to UTF-8 when stored in another encoding.
    bool readPart(const QString &entry, QByteArray *out, QString *error) const;

    bool loadPackage(const QByteArray &bytes, const QString &label, QString *error);
    // Reads the workbook part and its relationships: the sheets and the parts they name.
    bool loadWorkbook(const QString &label, QString *error);
    bool loadSharedStrings(QString *error) const;
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
    // The XML a window of a windowed sheet's rows is read in (512 KiB; at least one row).
    static int windowBytes;
    // Whether the zip entry `index` holds XML in UTF-8 (as it is read, without conversion).
    bool isUtf8Part(int index) const;
    // Rewrites the windowed sheets that have window edits into edits.windowedParts, deflated.
    bool rewriteWindowed(QString *error);
    bool loadWorksheet(int index, QString *error, LoadMode mode = LoadMode::Hold);
    Worksheet *worksheet(int index, bool checkOnly, QString *error);
    // The workbook part with fullCalcOnLoad set (when `fullCalc`) and the `added` sheets
    // listed.
    bool editedWorkbook(bool fullCalc, const QVector<const SheetEntry *> &added, QByteArray *out,
                        QString *error) const;
    // Whether the saved workbook is to be recalculated when the spreadsheet application opens
    // it: a value changed, and some formula may depend on it.
    bool recalcOnLoad() const;
    // Writes the package into an open, seekable device; *written gets the entries rewritten.
    bool buildPackage(QIODevice *out, QStringList *written, QString *error);
    // Writes every entry as it was stored, but for the rewritten `parts`, the edited worksheets
    // (streamed into their entries) and the `added` sheets; `dropped` is left out.
    bool writeZip(QIODevice *out, const QHash<QString, QByteArray> &parts,
                  const QVector<const SheetEntry *> &added, const QString &dropped,
                  QStringList *written, QString *error) const;
    // Loads a package just written and reads every entry in `written` as on opening:
    // well-formed XML, worksheets parsed (and kept in `sheets`).
    bool readBack(const QByteArray &bytes, const QStringList &written, QString *error);
    // Takes the state of `saved` (read back from the package just saved at `path`): loaded
    // worksheets stay valid, rewritten ones take the state read back; nothing is left to save.
    void adoptSaved(DocumentData &&saved);
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
// The relationships part `xml` without the relationship `removeId` (none when empty) and with
// `added` appended.
QByteArray editedRelationships(const QByteArray &xml, const QString &removeId,
                               const QVector<Relationship> &added);
// The content types part `xml` without the override of `removePart` (a part name with its
// leading "/", none when empty) and with an override per pair (part name, content type) of
// `added`.
QByteArray editedContentTypes(const QByteArray &xml, const QString &removePart,
                              const QVector<QPair<QString, QByteArray>> &added);

// Parses a small part with QXmlStreamReader, refusing DTDs and malformed XML; `onStart` sees
// every start tag.
bool readXml(const QByteArray &xml, const QString &label,
             const std::function<void(QXmlStreamReader &)> &onStart, QString *error);
// The prefix of a qualified name with its colon ("x:"), or nothing.
QByteArray prefixOf(const XmlScanner &s, const Span &qname);

// A change of part of an XML part: [begin, end) becomes `text`.
struct Splice
{
    qint64 begin, end;
    QByteArray text;
};
// `src` with the splices made (in order of position; one that overlaps an earlier one is left
// out).
QByteArray applySplices(const QByteArray &src, std::vector<Splice> splices);

// The XML of a new, empty worksheet.
QByteArray newSheetXml();

} // namespace xlsx
