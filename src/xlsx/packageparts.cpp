// Package parts: relationships and content types, read and edited in place; XML helpers the
// package's small parts share.
#include "xlsx/document_p.h"

#include <QUrl>
#include <QXmlStreamReader>

#include <algorithm>

namespace xlsx {

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

namespace {

// `xml`, a list of elements under its root, without the self-closing `element` whose `key`
// attribute reads `removeKey` (none when empty), and with what `append` writes (in the
// part's prefix) before the root's end tag.
QByteArray editedList(const QByteArray &xml, const char *element, const char *key,
                      const QString &removeKey, Qt::CaseSensitivity cs,
                      const std::function<void(XmlFragment &)> &append)
{
    std::vector<Splice> sp;
    XmlScanner s(xml.constData(), xml.size());
    XmlToken t;
    QByteArray prefix;
    while (s.next(&t)) {
        if (t.kind == XmlToken::StartTag && s.depth() == 1 && prefix.isNull())
            prefix = prefixOf(s, t.name);
        if (t.kind == XmlToken::StartTag && !removeKey.isEmpty() && t.selfClosing &&
            s.localIs(t.name, element)) {
            const XmlAttr *a = s.attr(t, key);
            if (a && QString::fromUtf8(s.bytes(a->value)).compare(removeKey, cs) == 0)
                sp.push_back({t.whole.begin, t.whole.end, QByteArray()});
        }
        if (t.kind == XmlToken::EndTag && s.depth() == 0) {
            QByteArray x;
            XmlFragment f(&x, prefix);
            append(f);
            sp.push_back({t.whole.begin, t.whole.begin, x});
        }
    }
    return applySplices(xml, sp);
}

} // namespace

QByteArray editedRelationships(const QByteArray &xml, const QString &removeId,
                               const QVector<Relationship> &added)
{
    return editedList(xml, "Relationship", "Id", removeId, Qt::CaseSensitive, [&](XmlFragment &f) {
        for (const Relationship &r : added)
            f.open("Relationship")
                .attr("Id", r.id.toUtf8())
                .attr("Type", r.type.toUtf8())
                .attr("Target", escapeXml(r.target))
                .endEmpty();
    });
}

QByteArray editedContentTypes(const QByteArray &xml, const QString &removePart,
                              const QVector<QPair<QString, QByteArray>> &added)
{
    return editedList(xml, "Override", "PartName", removePart, Qt::CaseInsensitive,
                      [&](XmlFragment &f) {
                          for (const auto &o : added)
                              f.open("Override")
                                  .attr("PartName", escapeXml(o.first))
                                  .attr("ContentType", o.second)
                                  .endEmpty();
                      });
}

} // namespace xlsx
