// Defined names of the workbook part: read, and their formulas rewritten in place.
#include "xlsx/document_p.h"

namespace xlsx {
namespace {

struct NameSpan
{
    DefinedName name;
    Span content; // the element's text
};

QVector<NameSpan> scanNames(const QByteArray &xml, QString *error)
{
    QVector<NameSpan> out;
    XmlScanner s(xml.constData(), xml.size());
    XmlToken t;
    while (s.next(&t)) {
        if (t.kind != XmlToken::StartTag || !s.localIs(t.name, "definedName"))
            continue;
        NameSpan n;
        if (const XmlAttr *a = s.attr(t, "name"))
            decodeXmlText(xml.constData() + a->value.begin, xml.constData() + a->value.end,
                          &n.name.name);
        if (const XmlAttr *a = s.attr(t, "localSheetId"))
            n.name.localSheet = QString::fromUtf8(s.bytes(a->value)).toInt();
        n.content = {t.whole.end, t.whole.end};
        if (!t.selfClosing) {
            const int depth = s.depth();
            XmlToken x;
            while (s.next(&x) && !(x.kind == XmlToken::EndTag && s.depth() == depth - 1))
                ;
            n.content.end = x.whole.begin;
        }
        decodeXmlText(xml.constData() + n.content.begin, xml.constData() + n.content.end,
                      &n.name.formula);
        out.append(n);
    }
    if (s.failed() && error)
        *error = s.error();
    return out;
}

} // namespace

QVector<DefinedName> Document::definedNames() const
{
    QVector<DefinedName> out;
    for (const NameSpan &n : scanNames(d->workbook.xml, nullptr))
        out.append(n.name);
    return out;
}

bool Document::setDefinedNameFormula(int index, const QString &formula, QString *error)
{
    QString why;
    const QVector<NameSpan> names = scanNames(d->workbook.xml, &why);
    if (!why.isEmpty() || index < 0 || index >= names.size()) {
        if (error)
            *error = QStringLiteral("%1: part /%2: no defined name %3%4")
                         .arg(d->label(), d->workbook.entry)
                         .arg(index)
                         .arg(why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why));
        return false;
    }
    const Span &c = names[index].content;
    QByteArray x = d->workbook.xml.left(int(c.begin));
    x += escapeXml(formula);
    x += d->workbook.xml.mid(int(c.end));
    d->workbook.xml = x;
    d->edits.rewrittenParts.insert(d->workbook.entry, x);
    d->edits.formulaEdited = true;
    return true;
}

} // namespace xlsx
