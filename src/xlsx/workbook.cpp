// The workbook part: its sheets and the parts its relationships name, read on opening;
// sheets listed and added; the part edited for a save.
#include "xlsx/document_p.h"

#include <QSet>
#include <QXmlStreamReader>

namespace xlsx {

bool DocumentData::loadWorkbook(const QString &label, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QString wbLabel = QStringLiteral("%1: part /%2").arg(label, workbook.entry);
    if (!readPart(workbook.entry, &workbook.xml, error))
        return false;
    // Workbook: sheets and the active tab.
    struct RawSheet
    {
        QString name, rid, state;
        int sheetId;
    };
    QVector<RawSheet> raw;
    QString rootNs;
    workbook.activeTab = 0;
    bool firstView = true;
    if (!readXml(
            workbook.xml, wbLabel,
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
                    workbook.activeTab = r.attributes().value(QLatin1String("activeTab")).toInt();
                }
            },
            error))
        return false;
    if (rootNs == QLatin1String(kStrictMainNs))
        return fail(QStringLiteral("%1: strict Open XML workbooks are not supported").arg(wbLabel));
    if (rootNs != QLatin1String(kMainNs))
        return fail(QStringLiteral("%1: not a SpreadsheetML workbook").arg(wbLabel));
    {
        XmlScanner s(workbook.xml.constData(), workbook.xml.size());
        XmlToken t;
        if (s.next(&t))
            workbook.prefix = prefixOf(s, t.name);
    }
    workbook.relsEntry = relsEntryFor(workbook.entry);
    if (!readPart(workbook.relsEntry, &workbook.relsXml, error))
        return false;
    QVector<Relationship> rels;
    if (!parseRelationships(workbook.relsXml,
                            QStringLiteral("%1: part /%2").arg(label, workbook.relsEntry), &rels,
                            error))
        return false;
    QHash<QString, Relationship> byId;
    workbook.sstEntry.clear();
    workbook.stylesEntry.clear();
    workbook.calcChainEntry.clear();
    workbook.calcChainRid.clear();
    for (const Relationship &r : rels) {
        byId.insert(r.id, r);
        const QString kind = r.type.mid(r.type.lastIndexOf(QLatin1Char('/')) + 1);
        if (r.external)
            continue;
        if (kind == QLatin1String("sharedStrings"))
            workbook.sstEntry = resolveTarget(workbook.entry, r.target);
        else if (kind == QLatin1String("styles"))
            workbook.stylesEntry = resolveTarget(workbook.entry, r.target);
        else if (kind == QLatin1String("calcChain")) {
            workbook.calcChainEntry = resolveTarget(workbook.entry, r.target);
            workbook.calcChainRid = r.id;
        }
    }
    if (!workbook.calcChainEntry.isEmpty() && package.zip.find(workbook.calcChainEntry) < 0)
        workbook.calcChainEntry.clear(); // dangling: nothing to remove but the relationship
    workbook.sheets.clear();
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
            workbook.sheets.push_back(std::move(e));
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
        e.entryName = resolveTarget(workbook.entry, it->target);
        e.info.partName = QLatin1Char('/') + e.entryName;
        if (e.info.kind == SheetKind::Worksheet && package.zip.find(e.entryName) < 0)
            return fail(QStringLiteral("%1: missing part /%2 (sheet \"%3\")")
                            .arg(label, e.entryName, rs.name));
        workbook.sheets.push_back(std::move(e));
    }
    if (workbook.sheets.empty())
        return fail(QStringLiteral("%1: the workbook has no sheets").arg(wbLabel));
    // Read from the parts on first use.
    sst = SharedStringsState();
    styles = StylesState();
    return true;
}

int Document::sheetCount() const
{
    return int(d->workbook.sheets.size());
}

SheetInfo Document::sheetInfo(int index) const
{
    if (index < 0 || index >= sheetCount())
        return SheetInfo();
    return d->workbook.sheets[size_t(index)].info;
}

QStringList Document::sheetNames() const
{
    QStringList out;
    for (const SheetEntry &e : d->workbook.sheets)
        out.append(e.info.name);
    return out;
}

int Document::indexOfSheet(const QString &name) const
{
    for (int i = 0; i < sheetCount(); ++i)
        if (d->workbook.sheets[size_t(i)].info.name == name)
            return i;
    return -1;
}

int Document::activeSheetIndex() const
{
    if (d->workbook.sheets.empty())
        return 0;
    return qBound(0, d->workbook.activeTab, sheetCount() - 1);
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
    for (const SheetEntry &e : d->workbook.sheets)
        if (e.info.name.compare(name, Qt::CaseInsensitive) == 0)
            return fail(QStringLiteral("the name is already used"));
    SheetEntry e;
    e.isNew = true;
    e.info.name = name;
    int maxId = 0;
    for (const SheetEntry &o : d->workbook.sheets)
        maxId = qMax(maxId, o.sheetId);
    e.sheetId = maxId + 1;
    QVector<Relationship> rels;
    parseRelationships(d->workbook.relsXml, QString(), &rels, nullptr);
    QSet<QString> ids;
    for (const Relationship &r : rels)
        ids.insert(r.id);
    for (const SheetEntry &o : d->workbook.sheets)
        ids.insert(o.rid);
    for (int n = 1;; ++n)
        if (!ids.contains(QStringLiteral("rId%1").arg(n))) {
            e.rid = QStringLiteral("rId%1").arg(n);
            break;
        }
    const QString dir = d->workbook.entry.left(d->workbook.entry.lastIndexOf(QLatin1Char('/')) + 1);
    QSet<QString> taken;
    for (const ZipEntry &z : d->package.zip.entries())
        taken.insert(z.name.toLower());
    for (const SheetEntry &o : d->workbook.sheets)
        taken.insert(o.entryName.toLower());
    for (int n = 1;; ++n) {
        const QString cand = dir + QStringLiteral("worksheets/sheet%1.xml").arg(n);
        if (!taken.contains(cand.toLower())) {
            e.entryName = cand;
            break;
        }
    }
    e.info.partName = QLatin1Char('/') + e.entryName;
    d->workbook.sheets.push_back(std::move(e));
    const int index = sheetCount() - 1;
    if (!d->loadWorksheet(index, error)) {
        d->workbook.sheets.pop_back();
        return -1;
    }
    return index;
}

bool DocumentData::editedWorkbook(bool fullCalc, const QVector<const SheetEntry *> &added,
                                  QByteArray *out, QString *error) const
{
    const QByteArray &xml = workbook.xml;
    XmlScanner s(xml.constData(), xml.size());
    XmlToken t;
    std::vector<Splice> sp;
    QByteArray relPrefix;
    bool calcDone = !fullCalc;
    qint64 calcInsert = -1, sheetsClose = -1;
    Span sheetsEmpty{-1, -1};
    static const char *const afterCalc[] = {
        "oleSize",       "customWorkbookViews", "pivotCaches",       "smartTagPr", "smartTagTypes",
        "webPublishing", "fileRecoveryPr",      "webPublishObjects", "extLst"};
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
                sheetsEmpty = t.whole;
            } else if (calcInsert < 0) {
                for (const char *n : afterCalc)
                    if (s.localIs(t.name, n))
                        calcInsert = t.whole.begin;
            }
        } else if (t.kind == XmlToken::EndTag && s.depth() == 1 && s.localIs(t.name, "sheets")) {
            sheetsClose = t.whole.begin;
        } else if (t.kind == XmlToken::EndTag && s.depth() == 0) {
            if (calcInsert < 0)
                calcInsert = t.whole.begin;
        }
    }
    if (s.failed()) {
        if (error)
            *error = QStringLiteral("%1: part /%2: %3").arg(label(), workbook.entry, s.error());
        return false;
    }
    if (!calcDone) {
        QByteArray x;
        XmlFragment(&x, workbook.prefix).open("calcPr").attr("fullCalcOnLoad", "1").endEmpty();
        sp.push_back({calcInsert, calcInsert, x});
    }
    if (!added.isEmpty()) {
        QByteArray x;
        XmlFragment f(&x, workbook.prefix);
        for (const SheetEntry *e : added) {
            f.open("sheet").attr("name", escapeXml(e->info.name)).attr("sheetId", e->sheetId);
            if (relPrefix.isEmpty())
                f.attr("xmlns:r", kRelNs).attr("r:id", e->rid.toUtf8());
            else
                f.attr(relPrefix + "id", e->rid.toUtf8());
            f.endEmpty();
        }
        if (sheetsClose >= 0) {
            sp.push_back({sheetsClose, sheetsClose, x});
        } else if (sheetsEmpty.begin >= 0) {
            QByteArray sheets;
            XmlFragment(&sheets, workbook.prefix).element("sheets", x);
            sp.push_back({sheetsEmpty.begin, sheetsEmpty.end, sheets});
        }
    }
    *out = applySplices(xml, sp);
    return true;
}

} // namespace xlsx
