// A package opened or created: its entries and content types, the workbook it names, and
// its worksheets loaded on first use.
#include "xlsx/document_p.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

namespace xlsx {
namespace {

const char kOfficeDocumentRel[] =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
const char kStrictOfficeDocumentRel[] =
    "http://purl.oclc.org/ooxml/officeDocument/relationships/officeDocument";

QByteArray skeletonPackage()
{
    ZipWriter w;
    QString err;
    w.begin(&err);
    const QDateTime when = QDateTime::currentDateTime();
    w.addData(QStringLiteral("[Content_Types].xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
              "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
              "<Default Extension=\"rels\" "
              "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
              "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
              "<Override PartName=\"/xl/workbook.xml\" "
              "ContentType=\"application/"
              "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
              "<Override PartName=\"/xl/styles.xml\" "
              "ContentType=\"application/"
              "vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
              "</Types>",
              when, kDeflateLevel, &err);
    w.addData(QStringLiteral("_rels/.rels"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
              "<Relationships "
              "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
              "<Relationship Id=\"rId1\" "
              "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
              "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>",
              when, kDeflateLevel, &err);
    w.addData(QStringLiteral("xl/workbook.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
              "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
              "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
              "<bookViews><workbookView activeTab=\"0\"/></bookViews><sheets></sheets>"
              "</workbook>",
              when, kDeflateLevel, &err);
    w.addData(QStringLiteral("xl/_rels/workbook.xml.rels"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
              "<Relationships "
              "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
              "<Relationship Id=\"rId1\" "
              "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
              "styles\" Target=\"styles.xml\"/></Relationships>",
              when, kDeflateLevel, &err);
    w.addData(QStringLiteral("xl/styles.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
              "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
              "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
              "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
              "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
              "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border>"
              "</borders>"
              "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
              "borderId=\"0\"/></cellStyleXfs>"
              "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" "
              "xfId=\"0\"/></cellXfs>"
              "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
              "</cellStyles></styleSheet>",
              when, kDeflateLevel, &err);
    QByteArray out;
    w.finish(&out, &err);
    return out;
}

} // namespace

QByteArray newSheetXml()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
           "<dimension ref=\"A1\"/><sheetViews><sheetView workbookViewId=\"0\"/></sheetViews>"
           "<sheetFormatPr defaultRowHeight=\"15\"/><sheetData/>"
           "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
           "footer=\"0.3\"/></worksheet>";
}

bool DocumentData::loadPackage(const QByteArray &bytes, const QString &label, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!package.zip.load(bytes, label, error))
        return false;
    if (package.zip.find(QStringLiteral("[Content_Types].xml")) < 0 &&
        package.zip.find(QStringLiteral("mimetype")) >= 0) {
        QByteArray mime;
        package.zip.read(QStringLiteral("mimetype"), &mime, nullptr);
        if (mime.startsWith("application/vnd.oasis.opendocument.spreadsheet"))
            return fail(QStringLiteral("%1: an OpenDocument spreadsheet, not an .xlsx workbook")
                            .arg(label));
        if (mime.startsWith("application/vnd.oasis.opendocument."))
            return fail(
                QStringLiteral("%1: an OpenDocument file, not an .xlsx workbook").arg(label));
    }
    // Content types: the workbook's type decides whether we can read it.
    if (!readPart(QStringLiteral("[Content_Types].xml"), &package.contentTypesXml, error))
        return false;
    QHash<QString, QString> overrides;
    if (!readXml(
            package.contentTypesXml, label + QStringLiteral(": part /[Content_Types].xml"),
            [&](QXmlStreamReader &r) {
                if (r.name() == QLatin1String("Override"))
                    overrides.insert(
                        r.attributes().value(QLatin1String("PartName")).toString().toLower(),
                        r.attributes().value(QLatin1String("ContentType")).toString());
            },
            error))
        return false;
    QByteArray rootRels;
    if (!readPart(QStringLiteral("_rels/.rels"), &rootRels, error))
        return false;
    QVector<Relationship> rels;
    if (!parseRelationships(rootRels, label + QStringLiteral(": part /_rels/.rels"), &rels, error))
        return false;
    workbook.entry.clear();
    for (const Relationship &r : rels) {
        if (r.type == QLatin1String(kStrictOfficeDocumentRel))
            return fail(
                QStringLiteral("%1: strict Open XML workbooks are not supported").arg(label));
        if (r.type == QLatin1String(kOfficeDocumentRel) && workbook.entry.isEmpty())
            workbook.entry = resolveTarget(QString(), r.target);
    }
    if (workbook.entry.isEmpty())
        return fail(QStringLiteral("%1: part /_rels/.rels names no workbook").arg(label));
    const QString wbType = overrides.value(QLatin1Char('/') + workbook.entry.toLower());
    if (wbType.contains(QLatin1String("binary")) || workbook.entry.endsWith(QLatin1String(".bin")))
        return fail(QStringLiteral("%1: binary workbooks (.xlsb) are not supported").arg(label));
    if (!wbType.isEmpty() &&
        !wbType.startsWith(
            QLatin1String("application/vnd.openxmlformats-officedocument.spreadsheetml.")) &&
        !wbType.startsWith(QLatin1String("application/vnd.ms-excel.")))
        return fail(QStringLiteral("%1: part /%2 is not a workbook (%3)")
                        .arg(label, workbook.entry, wbType));
    return loadWorkbook(label, error);
}

bool DocumentData::readPart(const QString &entry, QByteArray *out, QString *error) const
{
    if (!package.zip.read(entry, out, error))
        return false;
    QString why;
    if (!toUtf8Xml(out, &why)) {
        if (error)
            *error = QStringLiteral("%1: part /%2: %3").arg(label(), entry, why);
        out->clear();
        return false;
    }
    return true;
}

int DocumentData::holdBelow = 8 << 20;

bool DocumentData::loadWorksheet(int index, QString *error, LoadMode mode)
{
    SheetEntry &e = workbook.sheets[size_t(index)];
    std::unique_ptr<WorksheetData> wd(new WorksheetData);
    wd->doc = this;
    wd->name = e.info.name;
    wd->entryName = e.entryName;
    wd->relsEntry = e.entryName.isEmpty() ? QString() : relsEntryFor(e.entryName);
    if (e.isNew) {
        wd->xml = newSheetXml();
    } else if (e.entryName.isEmpty()) {
        wd->xml = "<worksheet xmlns=\"" + QByteArray(kMainNs) + "\"/>"; // no part: no cells
    } else {
        // A large part in UTF-8 that is only to be checked is read a window at a time.
        const int zi = package.zip.find(e.entryName);
        if (mode != LoadMode::Hold && zi >= 0 &&
            package.zip.entries()[zi].uncompressedSize > quint64(holdBelow) && isUtf8Part(zi)) {
            if (!wd->checkInWindows(error))
                return false;
            // On opening, the shared strings are read as for a held sheet (their damage
            // refuses the workbook alike).
            if (mode == LoadMode::CheckLarge && !loadSharedStrings(error))
                return false;
            e.ws.reset(new Worksheet(std::move(wd)));
            return true;
        }
        if (!readPart(e.entryName, &wd->xml, error))
            return false;
    }
    // A small sheet's cells cost little to hold, and would be read again if needed.
    const bool checkOnly =
        mode == LoadMode::Check || (mode == LoadMode::CheckLarge && wd->xml.size() > holdBelow);
    if (!wd->parse(error, !checkOnly))
        return false;
    // A check reads nothing else: the shared strings are read when a cell is.
    if (checkOnly)
        wd->release();
    else if (!loadSharedStrings(error))
        return false;
    e.ws.reset(new Worksheet(std::move(wd)));
    return true;
}

// ---------------------------------------------------------------------------

Document::Document() : d(new DocumentData) {}
Document::~Document() = default;

bool Document::open(const QString &path, QString *error)
{
    d.reset(new DocumentData);
    d->path = path;
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        // A folder, a FIFO or a device: never opened (reading a FIFO would wait for a writer).
        if (error)
            *error = QStringLiteral("%1: not a regular file").arg(path);
        return false;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: cannot open (%2)").arg(path, f.errorString());
        return false;
    }
    if (f.size() > qint64(kMaxEntrySize)) {
        if (error)
            *error = QStringLiteral("%1: file too large").arg(path);
        return false;
    }
    const QByteArray bytes = f.readAll();
    const FileIdentity read = FileIdentity::ofDescriptor(f.handle());
    f.close();
    QString err;
    bool ok = true;
    if (bytes.startsWith("\xD0\xCF\x11\xE0")) {
        err = QStringLiteral("%1: an encrypted workbook or a legacy .xls file (OLE container), "
                             "not an .xlsx package")
                  .arg(path);
        ok = false;
    } else if (!bytes.startsWith("PK\x03\x04") && !bytes.startsWith("PK\x05\x06")) {
        err = QStringLiteral("%1: not a zip archive, so not an .xlsx package").arg(path);
        ok = false;
    } else {
        ok = d->loadPackage(bytes, path, &err);
    }
    if (!ok) {
        d.reset(new DocumentData);
        d->path = path;
        if (error)
            *error = err;
        return false;
    }
    d->readVersion = read;
    d->open = true;
    return true;
}

void Document::create(const QString &path)
{
    d.reset(new DocumentData);
    d->path = path;
    QString err;
    // The skeleton has no sheets yet, which a loaded package may not have: load it by parts.
    const QByteArray bytes = skeletonPackage();
    d->package.zip.load(bytes, path, &err);
    d->package.zip.read(QStringLiteral("[Content_Types].xml"), &d->package.contentTypesXml, &err);
    d->workbook.entry = QStringLiteral("xl/workbook.xml");
    d->workbook.relsEntry = QStringLiteral("xl/_rels/workbook.xml.rels");
    d->workbook.stylesEntry = QStringLiteral("xl/styles.xml");
    d->package.zip.read(d->workbook.entry, &d->workbook.xml, &err);
    d->package.zip.read(d->workbook.relsEntry, &d->workbook.relsXml, &err);
    d->open = true;
}

QString Document::path() const
{
    return d->path;
}
bool Document::isOpen() const
{
    return d->open;
}
Worksheet *Document::worksheet(int index, QString *error)
{
    return d->worksheet(index, false, error);
}

Worksheet *Document::checkWorksheet(int index, QString *error)
{
    return d->worksheet(index, true, error);
}

Worksheet *DocumentData::worksheet(int index, bool checkOnly, QString *error)
{
    if (index < 0 || size_t(index) >= workbook.sheets.size()) {
        if (error)
            *error = QStringLiteral("%1: no sheet %2").arg(path).arg(index);
        return nullptr;
    }
    SheetEntry &e = workbook.sheets[size_t(index)];
    if (e.info.kind != SheetKind::Worksheet) {
        if (error)
            *error = QStringLiteral("%1: sheet \"%2\" is not a worksheet").arg(path, e.info.name);
        return nullptr;
    }
    if (!e.ws && !loadWorksheet(index, error, checkOnly ? LoadMode::CheckLarge : LoadMode::Hold))
        return nullptr;
    return e.ws.get();
}

Worksheet *Document::worksheet(const QString &name, QString *error)
{
    const int i = indexOfSheet(name);
    if (i < 0) {
        if (error)
            *error = QStringLiteral("%1: no sheet named \"%2\"").arg(d->path, name);
        return nullptr;
    }
    return worksheet(i, error);
}

bool Document::hasCalcChain() const
{
    return !d->workbook.calcChainEntry.isEmpty();
}

bool Document::hasFormulas() const
{
    if (hasCalcChain() || d->edits.formulaEdited)
        return true;
    for (const SheetEntry &e : d->workbook.sheets)
        if (e.ws && e.ws->d->formulaCount > 0)
            return true;
    return false;
}

bool Document::isModified() const
{
    if (!d->edits.rewrittenParts.isEmpty() || d->sst.edited)
        return true;
    for (const SheetEntry &e : d->workbook.sheets)
        if (e.isNew || (e.ws && e.ws->d->modified))
            return true;
    return false;
}

} // namespace xlsx
