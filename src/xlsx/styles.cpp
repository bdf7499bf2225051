// The styles part: the protection and the number format of each cell style, and the
// workbook's date system, read on first use; cell styles added to it (a style that is
// another one with the quote prefix).
#include "xlsx/document_p.h"

#include <QXmlStreamReader>

namespace xlsx {

void DocumentData::loadStyles() const
{
    if (styles.loaded)
        return;
    styles.loaded = true;
    QByteArray xml;
    if (workbook.stylesEntry.isEmpty() || package.zip.find(workbook.stylesEntry) < 0 ||
        !readPart(workbook.stylesEntry, &xml, nullptr))
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
                    styles.numFmtCodes.insert(
                        id, decodeOfficeEscapes(a.value(QLatin1String("formatCode")).toString()));
            } else if (r.name() == QLatin1String("cellXfs")) {
                inCellXfs = 1;
            } else if (inCellXfs && r.name() == QLatin1String("xf")) {
                styles.lockedXf.append(true);
                styles.xfNumFmtIds.append(a.value(QLatin1String("numFmtId")).toInt());
            } else if (inCellXfs && r.name() == QLatin1String("protection") &&
                       !styles.lockedXf.isEmpty()) {
                const auto v = a.value(QLatin1String("locked"));
                if (v == QLatin1String("0") || v == QLatin1String("false"))
                    styles.lockedXf.last() = false;
            }
        } else if (tok == QXmlStreamReader::EndElement && r.name() == QLatin1String("cellXfs")) {
            inCellXfs = 0;
        }
    }
}

bool Document::isStyleLocked(int styleIndex) const
{
    d->loadStyles();
    if (styleIndex < 0 || styleIndex >= d->styles.lockedXf.size())
        return true;
    return d->styles.lockedXf[styleIndex];
}

NumberFormat Document::numberFormat(int styleIndex) const
{
    d->loadStyles();
    NumberFormat f;
    if (styleIndex < 0 || styleIndex >= d->styles.xfNumFmtIds.size())
        return f;
    f.id = d->styles.xfNumFmtIds[styleIndex];
    f.code = d->styles.numFmtCodes.value(f.id);
    return f;
}

bool Document::isDate1904() const
{
    if (d->styles.date1904 < 0) {
        d->styles.date1904 = 0;
        QXmlStreamReader r(d->workbook.xml);
        while (!r.atEnd()) {
            const auto tok = r.readNext();
            if (tok == QXmlStreamReader::DTD)
                break;
            if (tok != QXmlStreamReader::StartElement)
                continue;
            if (r.name() == QLatin1String("workbookPr")) {
                const auto v = r.attributes().value(QLatin1String("date1904"));
                d->styles.date1904 =
                    (v == QLatin1String("1") || v == QLatin1String("true")) ? 1 : 0;
                break;
            }
            if (r.name() == QLatin1String("sheets"))
                break; // workbookPr comes before the sheet list
        }
    }
    return d->styles.date1904 == 1;
}

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
    const auto known = d->styles.quotedStyles.constFind(styleIndex);
    if (known != d->styles.quotedStyles.constEnd())
        return known.value();
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: part /%2: cannot add a cell style with the quote prefix "
                                    "(%3)")
                         .arg(d->label(), d->workbook.stylesEntry, why);
        return -1;
    };
    if (d->workbook.stylesEntry.isEmpty())
        return fail(QStringLiteral("the workbook has no styles part"));
    QByteArray xml = d->edits.rewrittenParts.value(d->workbook.stylesEntry);
    QString why;
    if (xml.isEmpty() && !d->readPart(d->workbook.stylesEntry, &xml, &why))
        return fail(why);
    CellXfs x;
    if (!scanCellXfs(xml, &x, &why))
        return fail(why);
    if (styleIndex < 0 || styleIndex >= x.xfs.size())
        return fail(QStringLiteral("no cell style %1").arg(styleIndex));
    if (x.quoted[styleIndex]) {
        d->styles.quotedStyles.insert(styleIndex, styleIndex);
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
    d->edits.rewrittenParts.insert(d->workbook.stylesEntry, xml);
    d->styles.quotedStyles.insert(styleIndex, added);
    // The lists read from the part learn of the new style.
    d->loadStyles();
    if (d->styles.xfNumFmtIds.size() == added) {
        d->styles.xfNumFmtIds.append(d->styles.xfNumFmtIds.value(styleIndex));
        d->styles.lockedXf.append(d->styles.lockedXf.value(styleIndex, true));
    }
    return added;
}

} // namespace xlsx
