// Cell styles added to the styles part: a style that is another one with the quote prefix.
#include "xlsx/document_p.h"

namespace xlsx {

namespace {

// The <xf> elements of cellXfs in the styles part, and where a new one goes.
struct CellXfs
{
    Span countValue;      // the count attribute's value, empty when it has none
    qint64 countAt = 0;   // where a count attribute goes when it has none
    qint64 end = 0;       // the start of </cellXfs>
    QVector<Span> xfs;    // each <xf> element, whole
    QVector<bool> quoted; // its quotePrefix
};

bool scanCellXfs(const QByteArray &xml, CellXfs *out, QString *why)
{
    XmlScanner s(xml.constData(), xml.size());
    XmlToken t;
    bool found = false;
    while (s.next(&t)) {
        if (t.kind != XmlToken::StartTag || !s.localIs(t.name, "cellXfs"))
            continue;
        found = true;
        if (const XmlAttr *a = s.attr(t, "count"))
            out->countValue = a->value;
        out->countAt = t.whole.end - (t.selfClosing ? 2 : 1);
        if (t.selfClosing)
            break;
        const int depth = s.depth();
        XmlToken x;
        while (s.next(&x) && !(x.kind == XmlToken::EndTag && s.depth() == depth - 1)) {
            // A self-closing element is not on the scanner's stack.
            if (x.kind != XmlToken::StartTag || s.depth() != depth + (x.selfClosing ? 0 : 1) ||
                !s.localIs(x.name, "xf"))
                continue;
            const XmlAttr *q = s.attr(x, "quotePrefix");
            out->quoted.append(q && (s.equals(q->value, "1") || s.equals(q->value, "true")));
            Span whole = x.whole;
            if (!x.selfClosing) {
                XmlToken y;
                while (s.next(&y) && !(y.kind == XmlToken::EndTag && s.depth() == depth))
                    ;
                whole.end = y.whole.end;
            }
            out->xfs.append(whole);
        }
        out->end = x.whole.begin;
        break;
    }
    if (s.failed())
        *why = s.error();
    else if (!found || out->end <= 0)
        *why = QStringLiteral("no cellXfs");
    return why->isEmpty();
}

} // namespace

int Document::quotePrefixStyle(int styleIndex, QString *error)
{
    const auto known = d->quotedStyles.constFind(styleIndex);
    if (known != d->quotedStyles.constEnd())
        return known.value();
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: part /%2: cannot add a cell style with the quote prefix "
                                    "(%3)")
                         .arg(d->label(), d->stylesEntry, why);
        return -1;
    };
    if (d->stylesEntry.isEmpty())
        return fail(QStringLiteral("the workbook has no styles part"));
    QByteArray xml = d->rewrittenParts.value(d->stylesEntry);
    QString why;
    if (xml.isEmpty() && !d->readPart(d->stylesEntry, &xml, &why))
        return fail(why);
    CellXfs x;
    if (!scanCellXfs(xml, &x, &why))
        return fail(why);
    if (styleIndex < 0 || styleIndex >= x.xfs.size())
        return fail(QStringLiteral("no cell style %1").arg(styleIndex));
    if (x.quoted[styleIndex]) {
        d->quotedStyles.insert(styleIndex, styleIndex);
        return styleIndex;
    }
    // The base style's element, its quotePrefix attribute set (or put after the name).
    const Span &base = x.xfs[styleIndex];
    QByteArray xf = xml.mid(int(base.begin), int(base.size()));
    XmlScanner s(xf.constData(), xf.size());
    XmlToken t;
    if (!s.next(&t) || t.kind != XmlToken::StartTag)
        return fail(QStringLiteral("cell style %1 cannot be read").arg(styleIndex));
    if (const XmlAttr *q = s.attr(t, "quotePrefix"))
        xf.replace(int(q->value.begin), int(q->value.size()), "1");
    else
        xf.insert(int(t.name.end), " quotePrefix=\"1\"");
    const int added = x.xfs.size();
    const QByteArray count = QByteArray::number(added + 1);
    // Spliced from the end, so that the earlier positions hold.
    xml.insert(int(x.end), xf);
    if (x.countValue.isEmpty())
        xml.insert(int(x.countAt), " count=\"" + count + "\"");
    else
        xml.replace(int(x.countValue.begin), int(x.countValue.size()), count);
    d->rewrittenParts.insert(d->stylesEntry, xml);
    d->quotedStyles.insert(styleIndex, added);
    // The lists read from the part learn of the new style.
    d->loadStyles();
    if (d->xfNumFmtIds.size() == added) {
        d->xfNumFmtIds.append(d->xfNumFmtIds.value(styleIndex));
        d->lockedXf.append(d->lockedXf.value(styleIndex, true));
    }
    return added;
}

} // namespace xlsx
