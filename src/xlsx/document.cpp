#include "xlsx/document_p.h"
#include "xlsx/savefile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <QXmlStreamReader>

#include <functional>

namespace xlsx {
namespace {

const char kOfficeDocumentRel[] =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
const char kStrictOfficeDocumentRel[] =
    "http://purl.oclc.org/ooxml/officeDocument/relationships/officeDocument";
const char kRelBase[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
const char kWorksheetType[] =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";

// Parses a small part with QXmlStreamReader, refusing DTDs and malformed XML.
bool readXml(const QByteArray &xml, const QString &label,
             const std::function<void(QXmlStreamReader &)> &onStart, QString *error)
{
    QXmlStreamReader r(xml);
    r.setNamespaceProcessing(true);
    while (!r.atEnd()) {
        const auto tok = r.readNext();
        if (tok == QXmlStreamReader::DTD) {
            if (error)
                *error =
                    QStringLiteral("%1: document type declarations are not accepted").arg(label);
            return false;
        }
        if (tok == QXmlStreamReader::StartElement && onStart)
            onStart(r);
    }
    if (r.hasError()) {
        if (error)
            *error = QStringLiteral("%1: malformed XML (%2, line %3)")
                         .arg(label, r.errorString())
                         .arg(r.lineNumber());
        return false;
    }
    return true;
}

QByteArray prefixOf(const XmlScanner &s, const Span &qname)
{
    const Span local = s.localName(qname);
    return QByteArray(s.data() + qname.begin, int(local.begin - qname.begin));
}

struct Splice
{
    qint64 begin, end;
    QByteArray text;
};

QByteArray applySplices(const QByteArray &src, std::vector<Splice> splices)
{
    std::stable_sort(splices.begin(), splices.end(),
                     [](const Splice &a, const Splice &b) { return a.begin < b.begin; });
    QByteArray out;
    qint64 pos = 0;
    for (const Splice &s : splices) {
        if (s.begin < pos)
            continue;
        out.append(src.constData() + pos, int(s.begin - pos));
        out += s.text;
        pos = s.end;
    }
    out.append(src.constData() + pos, int(src.size() - pos));
    return out;
}

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

bool formulaBytesIn(const QByteArray &xml)
{
    return xml.contains("<f>") || xml.contains("<f ") || xml.contains(":f>") || xml.contains(":f ");
}

} // namespace

QString relsEntryFor(const QString &entry)
{
    const int slash = entry.lastIndexOf(QLatin1Char('/'));
    return entry.left(slash + 1) + QStringLiteral("_rels/") + entry.mid(slash + 1) +
           QStringLiteral(".rels");
}

QString resolveTarget(const QString &sourceEntry, const QString &target)
{
    QString t = QUrl::fromPercentEncoding(target.toUtf8());
    QString path;
    if (t.startsWith(QLatin1Char('/')))
        path = t.mid(1);
    else
        path = sourceEntry.left(sourceEntry.lastIndexOf(QLatin1Char('/')) + 1) + t;
    QStringList out;
    for (const QString &seg : path.split(QLatin1Char('/'))) {
        if (seg.isEmpty() || seg == QLatin1String("."))
            continue;
        if (seg == QLatin1String("..")) {
            if (!out.isEmpty())
                out.removeLast();
            continue;
        }
        out.append(seg);
    }
    return out.join(QLatin1Char('/'));
}

bool parseRelationships(const QByteArray &xml, const QString &label, QVector<Relationship> *out,
                        QString *error)
{
    out->clear();
    return readXml(
        xml, label,
        [&](QXmlStreamReader &r) {
            if (r.name() != QLatin1String("Relationship"))
                return;
            Relationship rel;
            const auto a = r.attributes();
            rel.id = a.value(QLatin1String("Id")).toString();
            rel.type = a.value(QLatin1String("Type")).toString();
            rel.target = a.value(QLatin1String("Target")).toString();
            rel.external = a.value(QLatin1String("TargetMode")) == QLatin1String("External");
            out->append(rel);
        },
        error);
}

bool DocumentData::loadPackage(const QByteArray &bytes, const QString &label, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!zip.load(bytes, label, error))
        return false;
    if (zip.find(QStringLiteral("[Content_Types].xml")) < 0 &&
        zip.find(QStringLiteral("mimetype")) >= 0) {
        QByteArray mime;
        zip.read(QStringLiteral("mimetype"), &mime, nullptr);
        if (mime.startsWith("application/vnd.oasis.opendocument.spreadsheet"))
            return fail(QStringLiteral("%1: an OpenDocument spreadsheet, not an .xlsx workbook")
                            .arg(label));
        if (mime.startsWith("application/vnd.oasis.opendocument."))
            return fail(
                QStringLiteral("%1: an OpenDocument file, not an .xlsx workbook").arg(label));
    }
    // Content types: the workbook's type decides whether we can read it.
    if (!readPart(QStringLiteral("[Content_Types].xml"), &contentTypesXml, error))
        return false;
    QHash<QString, QString> overrides;
    if (!readXml(
            contentTypesXml, label + QStringLiteral(": part /[Content_Types].xml"),
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
    workbookEntry.clear();
    for (const Relationship &r : rels) {
        if (r.type == QLatin1String(kStrictOfficeDocumentRel))
            return fail(
                QStringLiteral("%1: strict Open XML workbooks are not supported").arg(label));
        if (r.type == QLatin1String(kOfficeDocumentRel) && workbookEntry.isEmpty())
            workbookEntry = resolveTarget(QString(), r.target);
    }
    if (workbookEntry.isEmpty())
        return fail(QStringLiteral("%1: part /_rels/.rels names no workbook").arg(label));
    const QString wbType = overrides.value(QLatin1Char('/') + workbookEntry.toLower());
    if (wbType.contains(QLatin1String("binary")) || workbookEntry.endsWith(QLatin1String(".bin")))
        return fail(QStringLiteral("%1: binary workbooks (.xlsb) are not supported").arg(label));
    if (!wbType.isEmpty() &&
        !wbType.startsWith(
            QLatin1String("application/vnd.openxmlformats-officedocument.spreadsheetml.")) &&
        !wbType.startsWith(QLatin1String("application/vnd.ms-excel.")))
        return fail(QStringLiteral("%1: part /%2 is not a workbook (%3)")
                        .arg(label, workbookEntry, wbType));
    const QString wbLabel = QStringLiteral("%1: part /%2").arg(label, workbookEntry);
    if (!readPart(workbookEntry, &workbookXml, error))
        return false;
    // Workbook: sheets and the active tab.
    struct RawSheet
    {
        QString name, rid, state;
        int sheetId;
    };
    QVector<RawSheet> raw;
    QString rootNs;
    activeTab = 0;
    bool firstView = true;
    if (!readXml(
            workbookXml, wbLabel,
            [&](QXmlStreamReader &r) {
                if (rootNs.isNull())
                    rootNs = r.namespaceUri().toString();
                if (r.name() == QLatin1String("sheet")) {
                    RawSheet s;
                    const auto a = r.attributes();
                    s.name = a.value(QLatin1String("name")).toString();
                    s.rid = a.value(QLatin1String(kRelNs), QLatin1String("id")).toString();
                    s.state = a.value(QLatin1String("state")).toString();
                    s.sheetId = a.value(QLatin1String("sheetId")).toInt();
                    raw.append(s);
                } else if (r.name() == QLatin1String("workbookView") && firstView) {
                    firstView = false;
                    activeTab = r.attributes().value(QLatin1String("activeTab")).toInt();
                }
            },
            error))
        return false;
    if (rootNs == QLatin1String(kStrictMainNs))
        return fail(QStringLiteral("%1: strict Open XML workbooks are not supported").arg(wbLabel));
    if (rootNs != QLatin1String(kMainNs))
        return fail(QStringLiteral("%1: not a SpreadsheetML workbook").arg(wbLabel));
    {
        XmlScanner s(workbookXml.constData(), workbookXml.size());
        XmlToken t;
        if (s.next(&t))
            wbPrefix = prefixOf(s, t.name);
    }
    workbookRelsEntry = relsEntryFor(workbookEntry);
    if (!readPart(workbookRelsEntry, &workbookRelsXml, error))
        return false;
    if (!parseRelationships(workbookRelsXml,
                            QStringLiteral("%1: part /%2").arg(label, workbookRelsEntry), &rels,
                            error))
        return false;
    QHash<QString, Relationship> byId;
    sstEntry.clear();
    stylesEntry.clear();
    calcChainEntry.clear();
    calcChainRid.clear();
    for (const Relationship &r : rels) {
        byId.insert(r.id, r);
        const QString kind = r.type.mid(r.type.lastIndexOf(QLatin1Char('/')) + 1);
        if (r.external)
            continue;
        if (kind == QLatin1String("sharedStrings"))
            sstEntry = resolveTarget(workbookEntry, r.target);
        else if (kind == QLatin1String("styles"))
            stylesEntry = resolveTarget(workbookEntry, r.target);
        else if (kind == QLatin1String("calcChain")) {
            calcChainEntry = resolveTarget(workbookEntry, r.target);
            calcChainRid = r.id;
        }
    }
    if (!calcChainEntry.isEmpty() && zip.find(calcChainEntry) < 0)
        calcChainEntry.clear(); // dangling: nothing to remove but the relationship
    sheets.clear();
    for (const RawSheet &rs : raw) {
        SheetEntry e;
        e.info.name = rs.name;
        e.rid = rs.rid;
        e.sheetId = rs.sheetId;
        e.info.visibility = rs.state == QLatin1String("hidden")       ? SheetVisibility::Hidden
                            : rs.state == QLatin1String("veryHidden") ? SheetVisibility::VeryHidden
                                                                      : SheetVisibility::Visible;
        if (rs.rid.isEmpty()) {
            // Left so by the spreadsheet application for some very hidden sheets: a sheet
            // without a part, so without cells.
            sheets.push_back(std::move(e));
            continue;
        }
        const auto it = byId.constFind(rs.rid);
        if (it == byId.constEnd())
            return fail(
                QStringLiteral("%1: sheet \"%2\" has no relationship").arg(wbLabel, rs.name));
        const QString kind = it->type.mid(it->type.lastIndexOf(QLatin1Char('/')) + 1);
        // Excel 4 macro sheets hold cells as worksheets do.
        const bool cells = kind == QLatin1String("worksheet") ||
                           kind == QLatin1String("xlMacrosheet") ||
                           kind == QLatin1String("xlIntlMacrosheet");
        e.info.kind = cells                                 ? SheetKind::Worksheet
                      : kind == QLatin1String("chartsheet") ? SheetKind::Chartsheet
                                                            : SheetKind::Other;
        e.entryName = resolveTarget(workbookEntry, it->target);
        e.info.partName = QLatin1Char('/') + e.entryName;
        if (e.info.kind == SheetKind::Worksheet && zip.find(e.entryName) < 0)
            return fail(QStringLiteral("%1: missing part /%2 (sheet \"%3\")")
                            .arg(label, e.entryName, rs.name));
        sheets.push_back(std::move(e));
    }
    if (sheets.empty())
        return fail(QStringLiteral("%1: the workbook has no sheets").arg(wbLabel));
    resetSharedStrings();
    stylesLoaded = false;
    lockedXf.clear();
    xfNumFmtIds.clear();
    return true;
}

bool DocumentData::readPart(const QString &entry, QByteArray *out, QString *error) const
{
    if (!zip.read(entry, out, error))
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

bool DocumentData::readBack(const QByteArray &bytes, const QStringList &written, QString *error)
{
    if (!loadPackage(bytes, path, error))
        return false;
    QSet<QString> sheetEntries;
    for (size_t i = 0; i < sheets.size(); ++i) {
        const SheetEntry &e = sheets[i];
        if (e.info.kind != SheetKind::Worksheet || e.entryName.isEmpty() ||
            !written.contains(e.entryName))
            continue;
        sheetEntries.insert(e.entryName);
        // Checked without keeping its cells: the saved sheet's records would double what
        // the job holds; they are read again if the sheet is used after the save.
        if (!loadWorksheet(int(i), error, LoadMode::Check))
            return false;
    }
    for (const QString &entry : written) {
        if (sheetEntries.contains(entry))
            continue;
        QByteArray xml;
        if (!readPart(entry, &xml, error))
            return false;
        XmlScanner s(xml.constData(), xml.size());
        XmlToken t;
        while (s.next(&t)) {
        }
        if (s.failed()) {
            if (error)
                *error = QStringLiteral("%1: part /%2 as written: malformed XML (%3)")
                             .arg(label(), entry, s.error());
            return false;
        }
    }
    return true;
}

void DocumentData::loadStyles() const
{
    if (stylesLoaded)
        return;
    stylesLoaded = true;
    QByteArray xml;
    if (stylesEntry.isEmpty() || zip.find(stylesEntry) < 0 || !readPart(stylesEntry, &xml, nullptr))
        return;
    int inCellXfs = 0;
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        const auto tok = r.readNext();
        if (tok == QXmlStreamReader::DTD)
            break;
        if (tok == QXmlStreamReader::StartElement) {
            const auto a = r.attributes();
            if (r.name() == QLatin1String("numFmt")) {
                bool ok = false;
                const int id = a.value(QLatin1String("numFmtId")).toInt(&ok);
                if (ok)
                    numFmtCodes.insert(
                        id, decodeOfficeEscapes(a.value(QLatin1String("formatCode")).toString()));
            } else if (r.name() == QLatin1String("cellXfs")) {
                inCellXfs = 1;
            } else if (inCellXfs && r.name() == QLatin1String("xf")) {
                lockedXf.append(true);
                xfNumFmtIds.append(a.value(QLatin1String("numFmtId")).toInt());
            } else if (inCellXfs && r.name() == QLatin1String("protection") &&
                       !lockedXf.isEmpty()) {
                const auto v = a.value(QLatin1String("locked"));
                if (v == QLatin1String("0") || v == QLatin1String("false"))
                    lockedXf.last() = false;
            }
        } else if (tok == QXmlStreamReader::EndElement && r.name() == QLatin1String("cellXfs")) {
            inCellXfs = 0;
        }
    }
}

int DocumentData::holdBelow = 8 << 20;

bool DocumentData::loadWorksheet(int index, QString *error, LoadMode mode)
{
    SheetEntry &e = sheets[size_t(index)];
    std::unique_ptr<WorksheetData> wd(new WorksheetData);
    wd->doc = this;
    wd->index = index;
    wd->name = e.info.name;
    wd->entryName = e.entryName;
    wd->relsEntry = e.entryName.isEmpty() ? QString() : relsEntryFor(e.entryName);
    if (e.isNew)
        wd->xml = newSheetXml();
    else if (e.entryName.isEmpty())
        wd->xml = "<worksheet xmlns=\"" + QByteArray(kMainNs) + "\"/>"; // no part: no cells
    else if (!readPart(e.entryName, &wd->xml, error))
        return false;
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

bool DocumentData::buildPackage(QIODevice *out, QString *error)
{
    bool removeChain = wantRemoveCalcChain && !calcChainRid.isEmpty();
    bool fullCalc = wantFullCalc;
    if (autoRecalc && formulaEdited && !calcChainRid.isEmpty())
        removeChain = true;
    if (autoRecalc && valueEdited && !fullCalc) {
        fullCalc = formulaEdited || !calcChainEntry.isEmpty();
        for (size_t i = 0; i < sheets.size() && !fullCalc; ++i) {
            const SheetEntry &e = sheets[i];
            if (e.ws)
                fullCalc = e.ws->d->formulaCount > 0;
            else if (!e.isNew && e.info.kind == SheetKind::Worksheet) {
                QByteArray xml;
                fullCalc = readPart(e.entryName, &xml, nullptr) && formulaBytesIn(xml);
            }
        }
    }
    QVector<const SheetEntry *> added;
    for (const SheetEntry &e : sheets)
        if (e.isNew)
            added.append(&e);

    QHash<QString, QByteArray> parts = rewrittenParts;
    if (sstEdited)
        parts.insert(sstEntry, sharedStringsPart());
    // Workbook part.
    if (fullCalc || !added.isEmpty()) {
        XmlScanner s(workbookXml.constData(), workbookXml.size());
        XmlToken t;
        std::vector<Splice> sp;
        QByteArray relPrefix;
        bool calcDone = !fullCalc;
        qint64 calcInsert = -1, sheetsClose = -1, sheetsEmpty = -1;
        Span sheetsEmptySpan;
        static const char *const afterCalc[] = {
            "oleSize",        "customWorkbookViews", "pivotCaches",
            "smartTagPr",     "smartTagTypes",       "webPublishing",
            "fileRecoveryPr", "webPublishObjects",   "extLst"};
        while (s.next(&t)) {
            if (t.kind == XmlToken::StartTag && s.depth() == (t.selfClosing ? 0 : 1)) {
                for (const XmlAttr &a : t.attrs) {
                    if (s.bytes(a.value) == kRelNs && s.bytes(a.name).startsWith("xmlns:"))
                        relPrefix = s.bytes(a.name).mid(6) + ":";
                }
            }
            const int childDepth = t.kind == XmlToken::StartTag ? (t.selfClosing ? 1 : 2) : -1;
            if (t.kind == XmlToken::StartTag && s.depth() == childDepth &&
                s.namespaceOf(t.name) == kMainNs) {
                if (s.localIs(t.name, "calcPr") && !calcDone) {
                    calcDone = true;
                    if (const XmlAttr *a = s.attr(t, "fullCalcOnLoad"))
                        sp.push_back({a->value.begin, a->value.end, "1"});
                    else {
                        const qint64 at = t.whole.end - (t.selfClosing ? 2 : 1);
                        sp.push_back({at, at, " fullCalcOnLoad=\"1\""});
                    }
                } else if (s.localIs(t.name, "sheets") && t.selfClosing) {
                    sheetsEmpty = t.whole.begin;
                    sheetsEmptySpan = t.whole;
                } else if (calcInsert < 0) {
                    for (const char *n : afterCalc)
                        if (s.localIs(t.name, n))
                            calcInsert = t.whole.begin;
                }
            } else if (t.kind == XmlToken::EndTag && s.depth() == 1 &&
                       s.localIs(t.name, "sheets")) {
                sheetsClose = t.whole.begin;
            } else if (t.kind == XmlToken::EndTag && s.depth() == 0) {
                if (calcInsert < 0)
                    calcInsert = t.whole.begin;
            }
        }
        if (s.failed())
            return error ? (*error = QStringLiteral("%1: part /%2: %3")
                                         .arg(label(), workbookEntry, s.error()),
                            false)
                         : false;
        if (!calcDone)
            sp.push_back(
                {calcInsert, calcInsert, "<" + wbPrefix + "calcPr fullCalcOnLoad=\"1\"/>"});
        if (!added.isEmpty()) {
            QByteArray x;
            for (const SheetEntry *e : added) {
                x += "<" + wbPrefix + "sheet name=\"" + escapeXml(e->info.name) + "\" sheetId=\"" +
                     QByteArray::number(e->sheetId) + "\" ";
                if (relPrefix.isEmpty())
                    x += QByteArray("xmlns:r=\"") + kRelNs + "\" r:id=\"";
                else
                    x += relPrefix + "id=\"";
                x += e->rid.toUtf8() + "\"/>";
            }
            if (sheetsClose >= 0)
                sp.push_back({sheetsClose, sheetsClose, x});
            else if (sheetsEmpty >= 0)
                sp.push_back({sheetsEmptySpan.begin, sheetsEmptySpan.end,
                              "<" + wbPrefix + "sheets>" + x + "</" + wbPrefix + "sheets>"});
        }
        parts.insert(workbookEntry, applySplices(workbookXml, sp));
    }
    // Workbook relationships and content types.
    if (removeChain || !added.isEmpty()) {
        std::vector<Splice> sp;
        XmlScanner s(workbookRelsXml.constData(), workbookRelsXml.size());
        XmlToken t;
        QByteArray p;
        while (s.next(&t)) {
            if (t.kind == XmlToken::StartTag && s.depth() == 1 && p.isNull())
                p = prefixOf(s, t.name);
            if (t.kind == XmlToken::StartTag && s.localIs(t.name, "Relationship") && removeChain) {
                const XmlAttr *id = s.attr(t, "Id");
                if (id && QString::fromUtf8(s.bytes(id->value)) == calcChainRid && t.selfClosing)
                    sp.push_back({t.whole.begin, t.whole.end, QByteArray()});
            }
            if (t.kind == XmlToken::EndTag && s.depth() == 0 && !added.isEmpty()) {
                QByteArray x;
                const QString dir =
                    workbookEntry.left(workbookEntry.lastIndexOf(QLatin1Char('/')) + 1);
                for (const SheetEntry *e : added)
                    x += "<" + p + "Relationship Id=\"" + e->rid.toUtf8() + "\" Type=\"" +
                         kRelBase + "worksheet\" Target=\"/" + escapeXml(e->entryName) + "\"/>";
                Q_UNUSED(dir);
                sp.push_back({t.whole.begin, t.whole.begin, x});
            }
        }
        parts.insert(workbookRelsEntry, applySplices(workbookRelsXml, sp));

        std::vector<Splice> ct;
        XmlScanner c(contentTypesXml.constData(), contentTypesXml.size());
        p.clear();
        while (c.next(&t)) {
            if (t.kind == XmlToken::StartTag && c.depth() == 1 && p.isNull())
                p = prefixOf(c, t.name);
            if (t.kind == XmlToken::StartTag && c.localIs(t.name, "Override") && removeChain &&
                !calcChainEntry.isEmpty()) {
                const XmlAttr *pn = c.attr(t, "PartName");
                if (pn &&
                    QString::fromUtf8(c.bytes(pn->value))
                            .compare(QLatin1Char('/') + calcChainEntry, Qt::CaseInsensitive) == 0 &&
                    t.selfClosing)
                    ct.push_back({t.whole.begin, t.whole.end, QByteArray()});
            }
            if (t.kind == XmlToken::EndTag && c.depth() == 0 && !added.isEmpty()) {
                QByteArray x;
                for (const SheetEntry *e : added)
                    x += "<" + p + "Override PartName=\"/" + escapeXml(e->entryName) +
                         "\" ContentType=\"" + kWorksheetType + "\"/>";
                ct.push_back({t.whole.begin, t.whole.begin, x});
            }
        }
        parts.insert(QStringLiteral("[Content_Types].xml"), applySplices(contentTypesXml, ct));
    }
    // Worksheets: rewritten ones are streamed into their entries.
    QHash<QString, const WorksheetData *> rewrittenSheets;
    QVector<const SheetEntry *> newSheets;
    for (const SheetEntry &e : sheets) {
        if (e.isNew)
            newSheets.append(&e);
        else if (e.ws && e.ws->d->modified)
            rewrittenSheets.insert(e.entryName, e.ws->data());
    }
    writtenEntries = parts.keys();
    for (auto it = rewrittenSheets.constBegin(); it != rewrittenSheets.constEnd(); ++it)
        writtenEntries.append(it.key());
    for (const SheetEntry *e : newSheets)
        writtenEntries.append(e->entryName);
    QString why;
    auto fail = [&]() {
        if (error)
            *error = QStringLiteral("%1: %2").arg(label(), why);
        return false;
    };
    ZipWriter w;
    if (!w.begin(out, &why))
        return fail();
    auto writeSheet = [&](const QString &name, const WorksheetData *wd, const QDateTime &when,
                          quint32 externalAttr) {
        if (!w.openEntry(name, when, kDeflateLevel, &why, externalAttr))
            return false;
        const QByteArray fresh = wd ? QByteArray() : newSheetXml();
        if (wd)
            wd->serialize([&w](const char *p, qint64 n) { return w.writeEntry(p, n); });
        else
            w.writeEntry(fresh.constData(), fresh.size());
        return w.closeEntry(&why);
    };
    // A part is found in the package by the rule it was read by (ZipArchive::find), and
    // written under its entry's own name.
    QHash<int, const WorksheetData *> sheetAt;
    QHash<int, const QByteArray *> partAt;
    auto entryOf = [&](const QString &part) {
        const int i = zip.find(part);
        if (i < 0)
            why = QStringLiteral("part /%1 has no entry in the package").arg(part);
        else if (sheetAt.contains(i) || partAt.contains(i))
            why = QStringLiteral("part /%1 is written twice (as /%2)")
                      .arg(zip.entries()[i].name, part);
        else
            return i;
        return -1;
    };
    for (auto it = rewrittenSheets.constBegin(); it != rewrittenSheets.constEnd(); ++it) {
        const int i = entryOf(it.key());
        if (i < 0)
            return fail();
        sheetAt.insert(i, *it);
    }
    for (auto it = parts.constBegin(); it != parts.constEnd(); ++it) {
        const int i = entryOf(it.key());
        if (i < 0)
            return fail();
        partAt.insert(i, &*it);
    }
    const int chainAt = removeChain && !calcChainEntry.isEmpty() ? zip.find(calcChainEntry) : -1;
    for (int i = 0; i < zip.entries().size(); ++i) {
        const ZipEntry &e = zip.entries()[i];
        if (i == chainAt)
            continue;
        const auto sheet = sheetAt.constFind(i);
        const auto it = partAt.constFind(i);
        bool ok;
        if (sheet != sheetAt.constEnd())
            ok = writeSheet(e.name, *sheet, e.dateTime, e.externalAttr);
        else if (it != partAt.constEnd())
            ok = w.addData(e.name, **it, e.dateTime, kDeflateLevel, &why, e.externalAttr);
        else
            ok = w.addRaw(e, zip.rawData(i), &why);
        if (!ok)
            return fail();
    }
    for (const SheetEntry *e : newSheets) {
        if (!writeSheet(e->entryName, e->ws ? e->ws->data() : nullptr, QDateTime::currentDateTime(),
                        0))
            return fail();
    }
    if (!w.finish(&why))
        return fail();
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
    d->zip.load(bytes, path, &err);
    d->zip.read(QStringLiteral("[Content_Types].xml"), &d->contentTypesXml, &err);
    d->workbookEntry = QStringLiteral("xl/workbook.xml");
    d->workbookRelsEntry = QStringLiteral("xl/_rels/workbook.xml.rels");
    d->stylesEntry = QStringLiteral("xl/styles.xml");
    d->zip.read(d->workbookEntry, &d->workbookXml, &err);
    d->zip.read(d->workbookRelsEntry, &d->workbookRelsXml, &err);
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
int Document::sheetCount() const
{
    return int(d->sheets.size());
}

SheetInfo Document::sheetInfo(int index) const
{
    if (index < 0 || index >= sheetCount())
        return SheetInfo();
    return d->sheets[size_t(index)].info;
}

QStringList Document::sheetNames() const
{
    QStringList out;
    for (const SheetEntry &e : d->sheets)
        out.append(e.info.name);
    return out;
}

int Document::indexOfSheet(const QString &name) const
{
    for (int i = 0; i < sheetCount(); ++i)
        if (d->sheets[size_t(i)].info.name == name)
            return i;
    return -1;
}

int Document::activeSheetIndex() const
{
    if (d->sheets.empty())
        return 0;
    return qBound(0, d->activeTab, sheetCount() - 1);
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
    if (index < 0 || size_t(index) >= sheets.size()) {
        if (error)
            *error = QStringLiteral("%1: no sheet %2").arg(path).arg(index);
        return nullptr;
    }
    SheetEntry &e = sheets[size_t(index)];
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

int Document::addSheet(const QString &name, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: cannot add sheet \"%2\": %3").arg(d->path, name, why);
        return -1;
    };
    if (!d->open)
        return fail(QStringLiteral("no workbook"));
    if (name.isEmpty() || name.size() > 31)
        return fail(QStringLiteral("a sheet name has 1 to 31 characters"));
    for (QChar c : name)
        if (QStringLiteral(":\\/?*[]").contains(c) || c.unicode() < 0x20)
            return fail(QStringLiteral("a sheet name cannot contain : \\ / ? * [ ]"));
    if (name.startsWith(QLatin1Char('\'')) || name.endsWith(QLatin1Char('\'')))
        return fail(QStringLiteral("a sheet name cannot begin or end with an apostrophe"));
    for (const SheetEntry &e : d->sheets)
        if (e.info.name.compare(name, Qt::CaseInsensitive) == 0)
            return fail(QStringLiteral("the name is already used"));
    SheetEntry e;
    e.isNew = true;
    e.info.name = name;
    int maxId = 0;
    for (const SheetEntry &o : d->sheets)
        maxId = qMax(maxId, o.sheetId);
    e.sheetId = maxId + 1;
    QVector<Relationship> rels;
    parseRelationships(d->workbookRelsXml, QString(), &rels, nullptr);
    QSet<QString> ids;
    for (const Relationship &r : rels)
        ids.insert(r.id);
    for (const SheetEntry &o : d->sheets)
        ids.insert(o.rid);
    for (int n = 1;; ++n)
        if (!ids.contains(QStringLiteral("rId%1").arg(n))) {
            e.rid = QStringLiteral("rId%1").arg(n);
            break;
        }
    const QString dir = d->workbookEntry.left(d->workbookEntry.lastIndexOf(QLatin1Char('/')) + 1);
    QSet<QString> taken;
    for (const ZipEntry &z : d->zip.entries())
        taken.insert(z.name.toLower());
    for (const SheetEntry &o : d->sheets)
        taken.insert(o.entryName.toLower());
    for (int n = 1;; ++n) {
        const QString cand = dir + QStringLiteral("worksheets/sheet%1.xml").arg(n);
        if (!taken.contains(cand.toLower())) {
            e.entryName = cand;
            break;
        }
    }
    e.info.partName = QLatin1Char('/') + e.entryName;
    d->sheets.push_back(std::move(e));
    const int index = sheetCount() - 1;
    if (!d->loadWorksheet(index, error)) {
        d->sheets.pop_back();
        return -1;
    }
    return index;
}

bool Document::isStyleLocked(int styleIndex) const
{
    d->loadStyles();
    if (styleIndex < 0 || styleIndex >= d->lockedXf.size())
        return true;
    return d->lockedXf[styleIndex];
}

bool Document::hasCalcChain() const
{
    return !d->calcChainEntry.isEmpty();
}

bool Document::hasFormulas() const
{
    if (hasCalcChain() || d->formulaEdited)
        return true;
    for (const SheetEntry &e : d->sheets)
        if (e.ws && e.ws->d->formulaCount > 0)
            return true;
    return false;
}

void Document::setFullCalcOnLoad()
{
    d->wantFullCalc = true;
}
void Document::removeCalcChain()
{
    d->wantRemoveCalcChain = true;
}
void Document::setAutoRecalc(bool on)
{
    d->autoRecalc = on;
}

bool Document::isModified() const
{
    if (d->wantFullCalc || (d->wantRemoveCalcChain && hasCalcChain()) ||
        !d->rewrittenParts.isEmpty() || d->sstEdited)
        return true;
    for (const SheetEntry &e : d->sheets)
        if (e.isNew || (e.ws && e.ws->d->modified))
            return true;
    return false;
}

bool Document::save(QString *error)
{
    return saveAs(d->path, error);
}

bool Document::saveAs(const QString &path, QString *error)
{
    if (!d->open) {
        if (error)
            *error = QStringLiteral("%1: no workbook to save").arg(path);
        return false;
    }
    if (d->sheets.empty()) {
        if (error)
            *error = QStringLiteral("%1: a workbook needs at least one sheet").arg(path);
        return false;
    }
    SaveFile f(path);
    if (!f.open(error))
        return false;
    if (path == d->path)
        f.setReadVersion(d->readVersion);
    // The package is built in memory (compressed, it is the smaller part of what a job holds)
    // and written in one piece: the zip writer's many small writes and seeks stay off the disk.
    QBuffer package;
    package.open(QIODevice::ReadWrite);
    if (!d->buildPackage(&package, error)) {
        f.cancel();
        return false;
    }
    if (f.device()->write(package.data()) != package.data().size()) {
        if (error)
            *error = QStringLiteral("%1: cannot save: %2")
                         .arg(path, f.writeError().isEmpty() ? QStringLiteral("write failed")
                                                             : f.writeError());
        f.cancel();
        return false;
    }
    package.close();
    package.setData(QByteArray());
    // While the saved file is checked, the sources of the rewritten worksheets are let go (the
    // check holds the new ones); should the save fail, they are read again from the package,
    // which is still the old one.
    std::vector<WorksheetData *> letGo;
    for (SheetEntry &e : d->sheets) {
        WorksheetData *wd = e.ws ? e.ws->d.get() : nullptr;
        if (wd && !e.isNew && wd->modified && !wd->stale && !wd->xml.isNull()) {
            wd->xml = QByteArray();
            letGo.push_back(wd);
        }
    }
    auto takeBack = [&]() {
        for (WorksheetData *wd : letGo) {
            QString why;
            if (!d->readPart(wd->entryName, &wd->xml, &why)) {
                qWarning("%s", qPrintable(why));
                wd->release();
            }
        }
    };
    // Nothing is committed that this library cannot read back: the package, every part it
    // rewrote, and the rewritten worksheets, parsed as on opening.
    DocumentData check;
    check.path = path;
    QString err;
    {
        QFile written(f.tempPath());
        QByteArray bytes;
        if (!written.open(QIODevice::ReadOnly))
            err = QStringLiteral("%1: cannot read the written file back (%2)")
                      .arg(path, written.errorString());
        else if ((bytes = written.readAll()).isEmpty())
            err = QStringLiteral("%1: the written file reads back empty").arg(path);
        if (err.isEmpty())
            check.readBack(bytes, d->writtenEntries, &err);
    }
    if (!err.isEmpty()) {
        f.cancel();
        takeBack();
        if (error)
            *error = QStringLiteral("%1 (the file was left as it was)").arg(err);
        return false;
    }
    if (!f.commit(error)) {
        takeBack();
        return false;
    }
    // The saved package becomes the document's source; loaded worksheets stay valid and
    // rewritten ones take the state read back.
    std::vector<SheetEntry> old = std::move(d->sheets);
    d->sheets = std::move(check.sheets);
    d->zip = std::move(check.zip);
    d->workbookXml = std::move(check.workbookXml);
    d->workbookRelsXml = std::move(check.workbookRelsXml);
    d->contentTypesXml = std::move(check.contentTypesXml);
    d->workbookEntry = check.workbookEntry;
    d->workbookRelsEntry = check.workbookRelsEntry;
    d->wbPrefix = check.wbPrefix;
    d->activeTab = check.activeTab;
    d->sstEntry = check.sstEntry;
    d->stylesEntry = check.stylesEntry;
    d->calcChainEntry = check.calcChainEntry;
    d->calcChainRid = check.calcChainRid;
    d->resetSharedStrings();
    d->stylesLoaded = false;
    d->lockedXf.clear();
    d->xfNumFmtIds.clear();
    d->path = path;
    d->readVersion = f.savedVersion();
    d->rewrittenParts.clear();
    d->wantFullCalc = d->wantRemoveCalcChain = false;
    d->formulaEdited = d->valueEdited = false;
    for (size_t i = 0; i < old.size() && i < d->sheets.size(); ++i) {
        SheetEntry &now = d->sheets[i];
        if (!old[i].ws) {
            now.ws.reset();
            continue;
        }
        WorksheetData *wd = old[i].ws->d.get();
        if (now.ws) {
            // Read back just now (and read again on first use).
            *wd = std::move(*now.ws->d);
        } else if (wd->xml.isNull()) {
            wd->release();
        }
        wd->doc = d.get();
        wd->index = int(i);
        wd->entryName = now.entryName;
        wd->modified = false;
        now.ws = std::move(old[i].ws);
    }
    for (SheetEntry &e : d->sheets)
        if (e.ws)
            e.ws->d->doc = d.get();
    return true;
}

} // namespace xlsx
