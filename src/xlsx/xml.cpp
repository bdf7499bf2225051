#include "xlsx/xml_p.h"

#include <QTextCodec>

namespace xlsx {

const char kMainNs[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char kStrictMainNs[] = "http://purl.oclc.org/ooxml/spreadsheetml/main";
const char kExcelMainNs[] = "http://schemas.microsoft.com/office/excel/2006/main";
const char kRelNs[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const char kPackageRelNs[] = "http://schemas.openxmlformats.org/package/2006/relationships";

namespace {

const char *findSeq(const char *p, const char *end, const char *seq, size_t n)
{
    while (p + n <= end) {
        const char *q = static_cast<const char *>(memchr(p, seq[0], size_t(end - p)));
        if (!q || q + n > end)
            return nullptr;
        if (memcmp(q, seq, n) == 0)
            return q;
        p = q + 1;
    }
    return nullptr;
}

// True when every '&' in [p, end) starts a well-formed reference to a predefined entity or
// a character.
bool entitiesValid(const char *p, const char *end)
{
    while ((p = static_cast<const char *>(memchr(p, '&', size_t(end - p))))) {
        const char *semi = static_cast<const char *>(memchr(p, ';', size_t(end - p)));
        if (!semi || semi - p > 10 || semi == p + 1)
            return false;
        const QByteArray ent(p + 1, int(semi - p - 1));
        if (ent != "lt" && ent != "gt" && ent != "amp" && ent != "quot" && ent != "apos") {
            if (ent[0] != '#')
                return false;
            bool ok = false;
            const uint code = ent.size() > 1 && ent[1] == 'x' ? ent.mid(2).toUInt(&ok, 16)
                                                              : ent.mid(1).toUInt(&ok, 10);
            if (!ok || code == 0 || code > 0x10FFFF)
                return false;
        }
        p = semi + 1;
    }
    return true;
}

} // namespace

bool XmlScanner::fail(const QString &why)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1 at byte %2").arg(why).arg(m_pos);
    return false;
}

Span XmlScanner::localName(const Span &q) const
{
    const char *b = m_data + q.begin;
    const void *colon = memchr(b, ':', size_t(q.size()));
    if (!colon)
        return q;
    return Span{q.begin + (static_cast<const char *>(colon) - b) + 1, q.end};
}

bool XmlScanner::localIs(const Span &q, const char *name) const
{
    return equals(localName(q), name);
}

const XmlAttr *XmlScanner::attr(const XmlToken &t, const char *local) const
{
    for (const XmlAttr &a : t.attrs)
        if (localIs(a.name, local) && !equals(a.name, "xmlns") &&
            !(a.name.size() > 6 && memcmp(m_data + a.name.begin, "xmlns:", 6) == 0))
            return &a;
    return nullptr;
}

QByteArray XmlScanner::namespaceOf(const Span &q, bool attribute) const
{
    const char *b = m_data + q.begin;
    const void *colon = memchr(b, ':', size_t(q.size()));
    QByteArray prefix;
    if (colon)
        prefix = QByteArray(b, int(static_cast<const char *>(colon) - b));
    else if (attribute)
        return QByteArray();
    if (prefix == "xml")
        return QByteArrayLiteral("http://www.w3.org/XML/1998/namespace");
    for (int i = m_bindings.size() - 1; i >= 0; --i)
        if (m_bindings[i].prefix == prefix)
            return m_bindings[i].uri;
    return QByteArray();
}

bool XmlScanner::next(XmlToken *t)
{
    if (!m_error.isEmpty())
        return false;
    if (m_popPending) {
        m_popPending = false;
        const int depth = m_stack.size();
        while (!m_bindings.isEmpty() && m_bindings.last().depth > depth)
            m_bindings.removeLast();
    }
    const char *const base = m_data;
    const char *const end = m_data + m_size;
    if (m_pos == 0 && m_size >= 3 && memcmp(base, "\xEF\xBB\xBF", 3) == 0)
        m_pos = 3;
    for (;;) {
        const char *p = base + m_pos;
        if (p >= end) {
            if (!m_stack.isEmpty())
                return fail(QStringLiteral("unexpected end of document"));
            if (!m_sawRoot)
                return fail(QStringLiteral("no root element"));
            t->kind = XmlToken::End;
            return false;
        }
        if (*p != '<') {
            const char *lt = static_cast<const char *>(memchr(p, '<', size_t(end - p)));
            const char *stop = lt ? lt : end;
            if (m_stack.isEmpty()) {
                for (const char *q = p; q < stop; ++q)
                    if (!isXmlSpace(*q))
                        return fail(QStringLiteral("text outside the root element"));
                m_pos = stop - base;
                continue;
            }
            if (!entitiesValid(p, stop))
                return fail(QStringLiteral("malformed entity reference"));
            t->kind = XmlToken::Text;
            t->whole = Span{p - base, stop - base};
            m_pos = stop - base;
            return true;
        }
        // Markup.
        if (end - p >= 2 && p[1] == '?') {
            const char *q = findSeq(p + 2, end, "?>", 2);
            if (!q)
                return fail(QStringLiteral("unterminated processing instruction"));
            m_pos = q + 2 - base;
            continue;
        }
        if (end - p >= 4 && memcmp(p, "<!--", 4) == 0) {
            const char *q = findSeq(p + 4, end, "-->", 3);
            if (!q)
                return fail(QStringLiteral("unterminated comment"));
            m_pos = q + 3 - base;
            continue;
        }
        if (end - p >= 9 && memcmp(p, "<![CDATA[", 9) == 0) {
            const char *q = findSeq(p + 9, end, "]]>", 3);
            if (!q)
                return fail(QStringLiteral("unterminated CDATA section"));
            if (m_stack.isEmpty())
                return fail(QStringLiteral("CDATA outside the root element"));
            t->kind = XmlToken::Cdata;
            t->whole = Span{p - base, q + 3 - base};
            m_pos = q + 3 - base;
            return true;
        }
        if (end - p >= 2 && p[1] == '!')
            return fail(QStringLiteral("document type declarations are not accepted"));
        if (end - p >= 2 && p[1] == '/') {
            const char *q = p + 2;
            const char *nb = q;
            while (q < end && isXmlNameChar(*q))
                ++q;
            const Span name{nb - base, q - base};
            while (q < end && isXmlSpace(*q))
                ++q;
            if (q >= end || *q != '>' || name.isEmpty())
                return fail(QStringLiteral("malformed end tag"));
            if (m_stack.isEmpty())
                return fail(QStringLiteral("end tag without start tag"));
            const Span open = m_stack.last();
            if (open.size() != name.size() ||
                memcmp(base + open.begin, base + name.begin, size_t(name.size())) != 0)
                return fail(QStringLiteral("mismatched end tag"));
            m_stack.removeLast();
            m_popPending = true;
            t->kind = XmlToken::EndTag;
            t->selfClosing = false;
            t->name = name;
            t->attrs.clear();
            t->whole = Span{p - base, q + 1 - base};
            m_pos = q + 1 - base;
            return true;
        }
        // Start tag.
        if (m_stack.isEmpty() && m_sawRoot)
            return fail(QStringLiteral("more than one root element"));
        const char *q = p + 1;
        const char *nb = q;
        while (q < end && isXmlNameChar(*q))
            ++q;
        if (q == nb)
            return fail(QStringLiteral("malformed start tag"));
        t->kind = XmlToken::StartTag;
        t->name = Span{nb - base, q - base};
        t->attrs.clear();
        const int depth = m_stack.size() + 1;
        for (;;) {
            const char *ws = q;
            while (q < end && isXmlSpace(*q))
                ++q;
            if (q >= end)
                return fail(QStringLiteral("unterminated start tag"));
            if (*q == '>' || (*q == '/' && q + 1 < end && q[1] == '>'))
                break;
            if (q == ws)
                return fail(QStringLiteral("malformed attribute"));
            const char *an = q;
            while (q < end && isXmlNameChar(*q))
                ++q;
            if (q == an)
                return fail(QStringLiteral("malformed attribute"));
            XmlAttr a;
            a.name = Span{an - base, q - base};
            while (q < end && isXmlSpace(*q))
                ++q;
            if (q >= end || *q != '=')
                return fail(QStringLiteral("attribute without value"));
            ++q;
            while (q < end && isXmlSpace(*q))
                ++q;
            if (q >= end || (*q != '"' && *q != '\''))
                return fail(QStringLiteral("unquoted attribute value"));
            const char quote = *q++;
            const char *vb = q;
            const char *ve = static_cast<const char *>(memchr(q, quote, size_t(end - q)));
            if (!ve)
                return fail(QStringLiteral("unterminated attribute value"));
            if (memchr(vb, '<', size_t(ve - vb)))
                return fail(QStringLiteral("'<' in attribute value"));
            if (!entitiesValid(vb, ve))
                return fail(QStringLiteral("malformed entity reference"));
            a.value = Span{vb - base, ve - base};
            a.whole = Span{ws - base, ve + 1 - base};
            q = ve + 1;
            for (const XmlAttr &o : t->attrs)
                if (o.name.size() == a.name.size() &&
                    memcmp(base + o.name.begin, base + a.name.begin, size_t(a.name.size())) == 0)
                    return fail(QStringLiteral("duplicate attribute"));
            t->attrs.append(a);
            const int nlen = int(a.name.size());
            if (nlen >= 5 && memcmp(an, "xmlns", 5) == 0 && (nlen == 5 || an[5] == ':')) {
                Binding b;
                b.prefix = nlen == 5 ? QByteArray("") : QByteArray(an + 6, nlen - 6);
                b.uri = QByteArray(vb, int(ve - vb));
                b.depth = depth;
                m_bindings.append(b);
            }
        }
        m_sawRoot = true;
        t->selfClosing = (*q == '/');
        const char *tagEnd = q + (t->selfClosing ? 2 : 1);
        t->whole = Span{p - base, tagEnd - base};
        m_pos = tagEnd - base;
        if (t->selfClosing) {
            // Bindings declared on an empty element end with it.
            m_popPending = true;
        } else {
            m_stack.append(t->name);
        }
        return true;
    }
}

bool decodeXmlText(const char *begin, const char *end, QString *out)
{
    // Fast path: nothing to decode.
    const char *amp = static_cast<const char *>(memchr(begin, '&', size_t(end - begin)));
    const char *cd = static_cast<const char *>(memchr(begin, '<', size_t(end - begin)));
    const char *cr = static_cast<const char *>(memchr(begin, '\r', size_t(end - begin)));
    if (!amp && !cd && !cr) {
        *out = QString::fromUtf8(begin, int(end - begin));
        return true;
    }
    QByteArray buf;
    buf.reserve(int(end - begin));
    // Line ends as every XML reader sees them: CR LF and a lone CR are one LF.
    auto appendLines = [&buf](const char *from, const char *to) {
        for (const char *q = from; q < to; ++q) {
            if (*q != '\r')
                buf.append(*q);
            else if (q + 1 >= to || q[1] != '\n')
                buf.append('\n');
        }
    };
    const char *p = begin;
    while (p < end) {
        if (*p == '<') {
            if (end - p >= 9 && memcmp(p, "<![CDATA[", 9) == 0) {
                const char *q = findSeq(p + 9, end, "]]>", 3);
                if (!q)
                    return false;
                appendLines(p + 9, q);
                p = q + 3;
                continue;
            }
            if (end - p >= 4 && memcmp(p, "<!--", 4) == 0) {
                const char *q = findSeq(p + 4, end, "-->", 3);
                if (!q)
                    return false;
                p = q + 3;
                continue;
            }
            return false;
        }
        if (*p == '\r') {
            buf.append('\n');
            p += (p + 1 < end && p[1] == '\n') ? 2 : 1;
            continue;
        }
        if (*p != '&') {
            buf.append(*p++);
            continue;
        }
        const char *semi = static_cast<const char *>(memchr(p, ';', size_t(end - p)));
        if (!semi || semi - p > 12)
            return false;
        const QByteArray ent(p + 1, int(semi - p - 1));
        if (ent == "lt")
            buf.append('<');
        else if (ent == "gt")
            buf.append('>');
        else if (ent == "amp")
            buf.append('&');
        else if (ent == "quot")
            buf.append('"');
        else if (ent == "apos")
            buf.append('\'');
        else if (ent.startsWith('#')) {
            bool ok = false;
            const uint code = ent.size() > 1 && (ent[1] == 'x' || ent[1] == 'X')
                                  ? ent.mid(2).toUInt(&ok, 16)
                                  : ent.mid(1).toUInt(&ok, 10);
            if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                return false;
            const char32_t c32 = code;
            buf.append(QString::fromUcs4(&c32, 1).toUtf8());
        } else {
            return false;
        }
        p = semi + 1;
    }
    *out = QString::fromUtf8(buf);
    return true;
}

static int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

static bool isEscapeAt(const QString &s, int i)
{
    if (i + 7 > s.size() || s[i] != QLatin1Char('_') || s[i + 1] != QLatin1Char('x') ||
        s[i + 6] != QLatin1Char('_'))
        return false;
    for (int k = 2; k < 6; ++k)
        if (hexValue(s[i + k]) < 0)
            return false;
    return true;
}

// True when "_x" occurs in the text (where an escape could start).
static bool mayHoldEscape(const QString &text)
{
    const ushort *p = text.utf16();
    const ushort *const end = p + text.size();
    for (; p + 1 < end; ++p)
        if (*p == '_' && p[1] == 'x')
            return true;
    return false;
}

QString decodeOfficeEscapes(const QString &text)
{
    if (!mayHoldEscape(text))
        return text;
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size();) {
        if (isEscapeAt(text, i)) {
            int v = 0;
            for (int k = 2; k < 6; ++k)
                v = v * 16 + hexValue(text[i + k]);
            out.append(QChar(ushort(v)));
            i += 7;
        } else {
            out.append(text[i++]);
        }
    }
    return out;
}

// Escapes markup characters; with `whitespace`, also tab, CR and LF (for attribute values,
// where a parser would normalise them).
static QByteArray escapeUtf8(const QByteArray &u, bool whitespace)
{
    // Most texts have nothing to escape: they are passed on as they are.
    int first = 0;
    for (; first < u.size(); ++first) {
        const char c = u[first];
        if (c == '<' || c == '>' || c == '&' || c == '"' ||
            (whitespace && (c == '\r' || c == '\t' || c == '\n')))
            break;
    }
    if (first == u.size())
        return u;
    QByteArray out;
    out.reserve(u.size() + 16);
    out.append(u.constData(), first);
    for (const char *p = u.constData() + first, *e = u.constData() + u.size(); p < e; ++p) {
        const char c = *p;
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\r':
        case '\t':
        case '\n':
            if (whitespace)
                out += "&#" + QByteArray::number(int(c)) + ';';
            else
                out += c;
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray escapeXml(const QString &text)
{
    return escapeUtf8(text.toUtf8(), true);
}

QByteArray escapeOfficeText(const QString &text)
{
    // Texts with no character to write as _xHHHH_ (and no text that reads as one) go as
    // they are.
    bool plain = true;
    for (int i = 0; i < text.size() && plain; ++i) {
        const ushort u = text[i].unicode();
        plain = u >= 0x20 ? !(u >= 0xD800 && u <= 0xDFFF) && u != 0xFFFE && u != 0xFFFF &&
                                !(u == '_' && isEscapeAt(text, i))
                          : u == '\t' || u == '\n';
    }
    if (plain)
        return escapeUtf8(text.toUtf8(), false);
    QString s;
    s.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const ushort u = text[i].unicode();
        const bool badControl = u < 0x20 && u != '\t' && u != '\n' && u != '\r';
        const bool badChar = u == 0xFFFE || u == 0xFFFF;
        const bool lone =
            text[i].isSurrogate() &&
            !(text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) &&
            !(text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate());
        if (badControl || badChar || lone || u == '\r') {
            s += QLatin1String("_x") +
                 QStringLiteral("%1").arg(u, 4, 16, QLatin1Char('0')).toUpper() + QLatin1Char('_');
        } else if (isEscapeAt(text, i)) {
            s += QLatin1String("_x005F_");
        } else {
            s += text[i];
        }
    }
    return escapeUtf8(s.toUtf8(), false);
}

XmlFragment &XmlFragment::textElement(const QString &text)
{
    const QByteArray escaped = escapeOfficeText(text);
    const bool preserve = !text.isEmpty() && (text.front().isSpace() || text.back().isSpace() ||
                                              text.contains(QLatin1Char('\n')));
    // A new buffer takes it in one allocation: this runs for every cell a replace changes.
    if (m_out->isEmpty())
        m_out->reserve(escaped.size() + 2 * m_prefix.size() + 32);
    open("t");
    if (preserve)
        attr("xml:space", "preserve", 8);
    return end().raw(escaped).close("t");
}

namespace {

// The span of the encoding name in an XML declaration at the start of `xml` (after any
// byte order mark), or an empty span.
Span declaredEncoding(const QByteArray &xml, int from)
{
    if (!xml.mid(from, 5).startsWith("<?xml"))
        return Span();
    const int close = xml.indexOf("?>", from);
    const int at = close < 0 ? -1 : xml.indexOf("encoding", from);
    if (at < 0 || at > close)
        return Span();
    int p = at + 8;
    while (p < close && isXmlSpace(xml[p]))
        ++p;
    if (p >= close || xml[p] != '=')
        return Span();
    ++p;
    while (p < close && isXmlSpace(xml[p]))
        ++p;
    if (p >= close || (xml[p] != '"' && xml[p] != '\''))
        return Span();
    const int end = xml.indexOf(xml[p], p + 1);
    if (end < 0 || end > close)
        return Span();
    return Span{p + 1, end};
}

} // namespace

bool toUtf8Xml(QByteArray *xml, QString *why)
{
    const QByteArray &x = *xml;
    const char *codecName = nullptr;
    int skip = 0;
    if (x.startsWith("\xFF\xFE")) {
        codecName = "UTF-16LE";
        skip = 2;
    } else if (x.startsWith("\xFE\xFF")) {
        codecName = "UTF-16BE";
        skip = 2;
    } else if (x.size() >= 4 && x[0] == '<' && x[1] == 0 && x[2] != 0 && x[3] == 0) {
        codecName = "UTF-16LE";
    } else if (x.size() >= 4 && x[0] == 0 && x[1] == '<' && x[2] == 0 && x[3] != 0) {
        codecName = "UTF-16BE";
    }
    QString text;
    if (codecName) {
        const int units = (x.size() - skip) / 2;
        text.resize(units);
        const uchar *p = reinterpret_cast<const uchar *>(x.constData()) + skip;
        const bool le = codecName[6] == 'L';
        for (int i = 0; i < units; ++i, p += 2)
            text[i] = QChar(le ? ushort(p[0] | (p[1] << 8)) : ushort((p[0] << 8) | p[1]));
    } else {
        if (x.startsWith("\xEF\xBB\xBF"))
            return true;
        const Span enc = declaredEncoding(x, 0);
        const QByteArray name = x.mid(int(enc.begin), int(enc.size())).toLower();
        // A declaration of UTF-16 on single-byte text is taken for the UTF-8 it is.
        if (enc.isEmpty() || name == "utf-8" || name == "utf8" || name == "us-ascii" ||
            name == "ascii" || name.startsWith("utf-16"))
            return true;
        QTextCodec *codec = QTextCodec::codecForName(name);
        if (!codec) {
            if (why)
                *why = QStringLiteral("the part is in an unknown encoding (%1)")
                           .arg(QString::fromLatin1(name));
            return false;
        }
        text = codec->toUnicode(x);
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QByteArray out = text.toUtf8();
    const Span enc = declaredEncoding(out, 0);
    if (!enc.isEmpty())
        out.replace(int(enc.begin), int(enc.size()), "UTF-8");
    *xml = out;
    return true;
}

} // namespace xlsx
