// Writing the package: the parts an edit changed are rewritten (the workbook part, its
// relationships and the content types for new sheets and the recalculation the spreadsheet
// application is asked for), every other entry copied as it was stored.
#include "xlsx/document_p.h"

namespace xlsx {
namespace {

const char kRelBase[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
const char kWorksheetType[] =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";

bool formulaBytesIn(const QByteArray &xml)
{
    return xml.contains("<f>") || xml.contains("<f ") || xml.contains(":f>") || xml.contains(":f ");
}

} // namespace

bool DocumentData::recalcOnLoad() const
{
    if (!edits.valueEdited)
        return false;
    if (edits.formulaEdited || !workbook.calcChainEntry.isEmpty())
        return true;
    for (const SheetEntry &e : workbook.sheets) {
        if (e.ws) {
            if (e.ws->d->formulaCount > 0)
                return true;
        } else if (!e.isNew && e.info.kind == SheetKind::Worksheet) {
            QByteArray xml;
            if (readPart(e.entryName, &xml, nullptr) && formulaBytesIn(xml))
                return true;
        }
    }
    return false;
}

bool DocumentData::writeZip(QIODevice *out, const QHash<QString, QByteArray> &parts,
                            const QVector<const SheetEntry *> &added, const QString &dropped,
                            QStringList *written, QString *error) const
{
    QHash<QString, const WorksheetData *> rewrittenSheets;
    for (const SheetEntry &e : workbook.sheets)
        if (!e.isNew && e.ws && e.ws->d->modified && !edits.windowedParts.contains(e.entryName))
            rewrittenSheets.insert(e.entryName, e.ws->d->windowed && e.ws->d->stale ? e.ws->d.get()
                                                                                    : e.ws->data());
    *written = parts.keys();
    written->append(edits.windowedParts.keys());
    for (auto it = rewrittenSheets.constBegin(); it != rewrittenSheets.constEnd(); ++it)
        written->append(it.key());
    for (const SheetEntry *e : added)
        written->append(e->entryName);
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
        const std::function<bool(const char *, qint64)> sink = [&w](const char *p, qint64 n) {
            return w.writeEntry(p, n);
        };
        if (wd && wd->windowed && wd->stale) {
            // Rewritten a window of rows at a time as it goes into the package.
            if (!wd->forEachWindow(nullptr, &sink, &why))
                return false;
        } else if (wd) {
            wd->serialize(sink);
        } else {
            w.writeEntry(fresh.constData(), fresh.size());
        }
        return w.closeEntry(&why);
    };
    // A part is found in the package by the rule it was read by (ZipArchive::find), and
    // written under its entry's own name.
    QHash<int, const WorksheetData *> sheetAt;
    QHash<int, const QByteArray *> partAt;
    QHash<int, const EditsState::Deflated *> deflatedAt;
    auto entryOf = [&](const QString &part) {
        const int i = package.zip.find(part);
        if (i < 0)
            why = QStringLiteral("part /%1 has no entry in the package").arg(part);
        else if (sheetAt.contains(i) || partAt.contains(i) || deflatedAt.contains(i))
            why = QStringLiteral("part /%1 is written twice (as /%2)")
                      .arg(package.zip.entries()[i].name, part);
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
    for (auto it = edits.windowedParts.constBegin(); it != edits.windowedParts.constEnd(); ++it) {
        const int i = entryOf(it.key());
        if (i < 0)
            return fail();
        deflatedAt.insert(i, &*it);
    }
    const int droppedAt = dropped.isEmpty() ? -1 : package.zip.find(dropped);
    for (int i = 0; i < package.zip.entries().size(); ++i) {
        const ZipEntry &e = package.zip.entries()[i];
        if (i == droppedAt)
            continue;
        const auto sheet = sheetAt.constFind(i);
        const auto it = partAt.constFind(i);
        const auto deflated = deflatedAt.constFind(i);
        bool ok;
        if (deflated != deflatedAt.constEnd()) {
            ZipEntry d;
            d.name = e.name;
            d.method = 8;
            d.crc = (*deflated)->crc;
            d.uncompressedSize = (*deflated)->size;
            d.compressedSize = quint64((*deflated)->raw.size());
            d.dateTime = e.dateTime;
            d.externalAttr = e.externalAttr;
            ok = w.addRaw(d, (*deflated)->raw, &why);
        } else if (sheet != sheetAt.constEnd())
            ok = writeSheet(e.name, *sheet, e.dateTime, e.externalAttr);
        else if (it != partAt.constEnd())
            ok = w.addData(e.name, **it, e.dateTime, kDeflateLevel, &why, e.externalAttr);
        else
            ok = w.addRaw(e, package.zip.rawData(i), &why);
        if (!ok)
            return fail();
    }
    for (const SheetEntry *e : added) {
        if (!writeSheet(e->entryName, e->ws ? e->ws->data() : nullptr, QDateTime::currentDateTime(),
                        0))
            return fail();
    }
    if (!w.finish(&why))
        return fail();
    return true;
}

bool DocumentData::buildPackage(QIODevice *out, QStringList *written, QString *error)
{
    // A changed formula makes the calculation chain stale: it goes, with its relationship and
    // its content type.
    const bool removeChain = edits.formulaEdited && !workbook.calcChainRid.isEmpty();
    const bool fullCalc = recalcOnLoad();
    QVector<const SheetEntry *> added;
    for (const SheetEntry &e : workbook.sheets)
        if (e.isNew)
            added.append(&e);

    QHash<QString, QByteArray> parts = edits.rewrittenParts;
    if (sst.edited)
        parts.insert(workbook.sstEntry, sharedStringsPart());
    if (fullCalc || !added.isEmpty()) {
        QByteArray xml;
        if (!editedWorkbook(fullCalc, added, &xml, error))
            return false;
        parts.insert(workbook.entry, xml);
    }
    if (removeChain || !added.isEmpty()) {
        QVector<Relationship> rels;
        QVector<QPair<QString, QByteArray>> types;
        for (const SheetEntry *e : added) {
            const QString partName = QLatin1Char('/') + e->entryName;
            rels.append(
                {e->rid, QLatin1String(kRelBase) + QLatin1String("worksheet"), partName, false});
            types.append({partName, kWorksheetType});
        }
        parts.insert(workbook.relsEntry,
                     editedRelationships(workbook.relsXml,
                                         removeChain ? workbook.calcChainRid : QString(), rels));
        const QString chainPart = removeChain && !workbook.calcChainEntry.isEmpty()
                                      ? QLatin1Char('/') + workbook.calcChainEntry
                                      : QString();
        parts.insert(QStringLiteral("[Content_Types].xml"),
                     editedContentTypes(package.contentTypesXml, chainPart, types));
    }
    const QString dropped = removeChain ? workbook.calcChainEntry : QString();
    return writeZip(out, parts, added, dropped, written, error);
}

} // namespace xlsx
