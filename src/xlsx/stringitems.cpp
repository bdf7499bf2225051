// String items (<si> of the shared strings, <is> of inline strings): their text flattened,
// and an item read past without its text.
#include "xlsx/xml_p.h"

namespace xlsx {

namespace {

// The text of an item that is exactly one <t> element (any prefix, no attribute but
// xml:space) holding character data only; false for any other shape.
bool plainStringItem(const char *begin, const char *end, QString *out)
{
    const char *p = begin;
    if (end - p < 4 || *p != '<')
        return false;
    const char *nb = ++p;
    while (p < end && isXmlNameChar(*p))
        ++p;
    const char *ne = p;
    if (ne - nb < 1 || ne[-1] != 't' || (ne - nb > 1 && ne[-2] != ':'))
        return false;
    static const char preserve[] = " xml:space=\"preserve\"";
    const size_t np = sizeof preserve - 1;
    if (size_t(end - p) > np && memcmp(p, preserve, np) == 0)
        p += np;
    if (p >= end || *p != '>')
        return false;
    const char *tb = ++p;
    const char *te = static_cast<const char *>(memchr(tb, '<', size_t(end - tb)));
    if (!te)
        return false;
    // "</" name ">" must end the item.
    const qint64 nameLen = ne - nb;
    if (end - te != nameLen + 3 || te[1] != '/' || memcmp(te + 2, nb, size_t(nameLen)) != 0 ||
        end[-1] != '>')
        return false;
    QString text;
    if (!decodeXmlText(tb, te, &text))
        return false;
    *out = decodeOfficeEscapes(text);
    return true;
}

} // namespace

bool flattenStringItem(const char *begin, const char *end, QString *out)
{
    if (plainStringItem(begin, end, out))
        return true;
    // The fragment has no root of its own: scan it inside a synthetic one.
    QByteArray wrapped;
    wrapped.reserve(int(end - begin) + 16);
    wrapped += "<w>";
    wrapped.append(begin, int(end - begin));
    wrapped += "</w>";
    XmlScanner s(wrapped.constData(), wrapped.size());
    XmlToken t;
    QString result;
    int phonetic = 0;
    int inT = 0;
    while (s.next(&t)) {
        switch (t.kind) {
        case XmlToken::StartTag:
            if (s.localIs(t.name, "rPh") && !t.selfClosing)
                ++phonetic;
            else if (s.localIs(t.name, "t") && !t.selfClosing)
                ++inT;
            break;
        case XmlToken::EndTag:
            if (s.localIs(t.name, "rPh"))
                --phonetic;
            else if (s.localIs(t.name, "t"))
                --inT;
            break;
        case XmlToken::Text:
        case XmlToken::Cdata:
            if (inT > 0 && phonetic == 0) {
                QString piece;
                if (!decodeXmlText(wrapped.constData() + t.whole.begin,
                                   wrapped.constData() + t.whole.end, &piece))
                    return false;
                result += piece;
            }
            break;
        case XmlToken::End:
            break;
        }
    }
    if (s.failed())
        return false;
    *out = decodeOfficeEscapes(result);
    return true;
}

bool skipStringItem(XmlScanner &s, XmlToken *end, QString *why)
{
    const int depth = s.depth();
    int text = 0; // the depth inside the <t> being read, or 0
    while (s.next(end)) {
        if (end->kind == XmlToken::EndTag) {
            if (s.depth() == depth - 1)
                return true;
            if (s.depth() < text)
                text = 0;
        } else if (end->kind == XmlToken::StartTag) {
            if (text) {
                *why = QStringLiteral("an element inside the text of a string");
                return false;
            }
            if (s.localIs(end->name, "si") || s.localIs(end->name, "is")) {
                *why = QStringLiteral("a string item inside another");
                return false;
            }
            if (s.localIs(end->name, "t") && !end->selfClosing)
                text = s.depth();
        }
    }
    return false;
}

} // namespace xlsx
