// Tables (ListObjects) of a worksheet: read from their own parts, renamed in place.
#include "xlsx/document_p.h"

#include <QXmlStreamReader>

namespace xlsx {
namespace {

struct TablePart
{
    QString entry;
    QByteArray xml;
};

// The table parts of a sheet, current content (edited parts included).
QVector<TablePart> tableParts(const WorksheetData &w)
{
    QVector<TablePart> out;
    if (w.tablePartIds.isEmpty())
        return out;
    DocumentData *doc = w.doc;
    QByteArray relsXml;
    if (doc->package.zip.find(w.relsEntry) < 0 || !doc->readPart(w.relsEntry, &relsXml, nullptr))
        return out;
    QVector<Relationship> rels;
    if (!parseRelationships(relsXml, QString(), &rels, nullptr))
        return out;
    for (const QString &id : w.tablePartIds) {
        for (const Relationship &r : rels) {
            if (r.id != id || r.external)
                continue;
            TablePart p;
            p.entry = resolveTarget(w.entryName, r.target);
            const auto it = doc->edits.rewrittenParts.constFind(p.entry);
            if (it != doc->edits.rewrittenParts.constEnd())
                p.xml = *it;
            else if (doc->package.zip.find(p.entry) < 0 || !doc->readPart(p.entry, &p.xml, nullptr))
                break;
            out.append(p);
            break;
        }
    }
    return out;
}

bool parseTable(const QByteArray &xml, TableInfo *info)
{
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        const auto tok = r.readNext();
        if (tok == QXmlStreamReader::DTD)
            return false;
        if (tok != QXmlStreamReader::StartElement)
            continue;
        const auto a = r.attributes();
        if (r.name() == QLatin1String("table")) {
            info->name = a.value(QLatin1String("name")).toString();
            info->displayName = a.value(QLatin1String("displayName")).toString();
            info->ref = CellRange::fromString(a.value(QLatin1String("ref")).toString());
            if (a.hasAttribute(QLatin1String("headerRowCount")))
                info->headerRowCount = a.value(QLatin1String("headerRowCount")).toInt();
        } else if (r.name() == QLatin1String("tableColumn")) {
            info->columnNames.append(
                decodeOfficeEscapes(a.value(QLatin1String("name")).toString()));
        }
    }
    return !r.hasError();
}

} // namespace

QVector<TableInfo> Worksheet::tables() const
{
    QVector<TableInfo> out;
    // The table parts are listed by the sheet's own element, kept without its cells.
    for (const TablePart &p : tableParts(*light())) {
        TableInfo info;
        info.partName = QLatin1Char('/') + p.entry;
        if (parseTable(p.xml, &info))
            out.append(info);
    }
    return out;
}

bool Worksheet::renameTableColumn(int tableIndex, int columnIndex, const QString &name,
                                  QString *error)
{
    const QVector<TablePart> parts = tableParts(*data());
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(data()->label(), why);
        return false;
    };
    if (tableIndex < 0 || tableIndex >= parts.size())
        return fail(QStringLiteral("no table %1").arg(tableIndex));
    if (name.isEmpty())
        return fail(QStringLiteral("a table column needs a name"));
    const TablePart &p = parts[tableIndex];
    XmlScanner s(p.xml.constData(), p.xml.size());
    XmlToken t;
    int n = 0;
    while (s.next(&t)) {
        if (t.kind != XmlToken::StartTag || !s.localIs(t.name, "tableColumn"))
            continue;
        if (n++ != columnIndex)
            continue;
        const XmlAttr *a = s.attr(t, "name");
        if (!a)
            return fail(QStringLiteral("table column without a name"));
        QByteArray x = p.xml.left(int(a->value.begin));
        x += escapeOfficeText(name);
        x += p.xml.mid(int(a->value.end));
        data()->doc->edits.rewrittenParts.insert(p.entry, x);
        return true;
    }
    if (s.failed())
        return fail(QStringLiteral("part /%1: %2").arg(p.entry, s.error()));
    return fail(QStringLiteral("table %1 has no column %2").arg(tableIndex).arg(columnIndex));
}

bool Worksheet::mapTableFormulas(int tableIndex, const std::function<QString(const QString &)> &map,
                                 QString *error)
{
    const QVector<TablePart> parts = tableParts(*data());
    if (tableIndex < 0 || tableIndex >= parts.size()) {
        if (error)
            *error = QStringLiteral("%1: no table %2").arg(data()->label()).arg(tableIndex);
        return false;
    }
    const TablePart &p = parts[tableIndex];
    XmlScanner s(p.xml.constData(), p.xml.size());
    XmlToken t;
    QByteArray out;
    qint64 copied = 0;
    while (s.next(&t)) {
        if (t.kind != XmlToken::StartTag || t.selfClosing ||
            !(s.localIs(t.name, "calculatedColumnFormula") ||
              s.localIs(t.name, "totalsRowFormula")))
            continue;
        const qint64 begin = t.whole.end;
        const int depth = s.depth();
        XmlToken x;
        while (s.next(&x) && !(x.kind == XmlToken::EndTag && s.depth() == depth - 1))
            ;
        const qint64 end = x.whole.begin;
        QString text;
        if (!decodeXmlText(p.xml.constData() + begin, p.xml.constData() + end, &text))
            continue;
        const QString mapped = map(text);
        if (mapped == text)
            continue;
        out += p.xml.mid(int(copied), int(begin - copied));
        out += escapeXml(mapped);
        copied = end;
    }
    if (s.failed()) {
        if (error)
            *error = QStringLiteral("%1: part /%2: %3").arg(data()->label(), p.entry, s.error());
        return false;
    }
    if (copied == 0)
        return true;
    out += p.xml.mid(int(copied));
    data()->doc->edits.rewrittenParts.insert(p.entry, out);
    return true;
}

} // namespace xlsx
