// XML helpers of the package library: a byte-level scanner that reports
// element and text positions in UTF-8 bytes (for splicing), checks nesting
// and refuses DTDs; text decoding and escaping.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVarLengthArray>

#include <cstring>

namespace xlsx {

// The scanner's classes of bytes: XML whitespace, and the bytes of a name (anything up to
// whitespace or markup).
inline bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
inline bool isXmlNameChar(char c)
{
    return !(isXmlSpace(c) || c == '=' || c == '>' || c == '/' || c == '<' || c == '"' ||
             c == '\'' || c == '\0');
}

struct Span
{
    qint64 begin = 0;
    qint64 end = 0;
    qint64 size() const { return end - begin; }
    bool isEmpty() const { return end <= begin; }
};

struct XmlAttr
{
    Span name;
    Span value; // between the quotes, undecoded
    Span whole; // from the whitespace before the name to the closing quote
};

struct XmlToken
{
    enum Kind
    {
        StartTag,
        EndTag,
        Text,
        Cdata,
        End
    };
    Kind kind = End;
    bool selfClosing = false;
    Span whole; // the tag or the text
    Span name;  // qualified name of a tag
    QVarLengthArray<XmlAttr, 8> attrs;
};

class XmlScanner
{
public:
    XmlScanner(const char *data, qint64 size) : m_data(data), m_size(size) {}

    // Next token; false at the end of the document or on an error (see error()).
    bool next(XmlToken *t);
    QString error() const { return m_error; }
    bool failed() const { return !m_error.isEmpty(); }
    int depth() const { return m_stack.size(); }
    // Where the next token starts.
    qint64 position() const { return m_pos; }
    // Moves past a whole element that starts at position() and ends before `to`, read and
    // checked by the caller (it declares no namespace).
    void skipTo(qint64 to) { m_pos = to; }

    // The namespace URI bound to the prefix of a qualified name (the default namespace when
    // it has none), as raw bytes.
    QByteArray namespaceOf(const Span &qname, bool attribute = false) const;

    const char *data() const { return m_data; }
    // Local part of a qualified name.
    Span localName(const Span &qname) const;
    bool localIs(const Span &qname, const char *name) const;
    bool equals(const Span &s, const char *text) const
    {
        const size_t n = strlen(text);
        return size_t(s.size()) == n && memcmp(m_data + s.begin, text, n) == 0;
    }
    QByteArray bytes(const Span &s) const { return QByteArray(m_data + s.begin, int(s.size())); }
    // The attribute value with this local name, or nullptr.
    const XmlAttr *attr(const XmlToken &t, const char *local) const;

private:
    bool fail(const QString &why);
    struct Binding
    {
        QByteArray prefix;
        QByteArray uri;
        int depth;
    };
    const char *m_data;
    qint64 m_size;
    qint64 m_pos = 0;
    QString m_error;
    QVarLengthArray<Span, 32> m_stack;
    QVarLengthArray<Binding, 16> m_bindings;
    bool m_popPending = false;
    bool m_sawRoot = false;
};

// Decodes character data (entities, CDATA sections inside the span) to text. False on an
// unknown or malformed entity.
bool decodeXmlText(const char *begin, const char *end, QString *out);
// Decodes the _xHHHH_ escapes of Office string types.
QString decodeOfficeEscapes(const QString &text);
// Escapes text for element content or attribute values (quotes escaped too); characters XML
// cannot carry and text that would read as an _xHHHH_ escape are written as _xHHHH_.
QByteArray escapeOfficeText(const QString &text);
// Plain XML escaping of an attribute value or content.
QByteArray escapeXml(const QString &text);
// Flattens the content of a rich-text or plain string item (<si> or <is> inner XML): the
// text of its <t> elements, leaving out phonetic runs (<rPh>), Office escapes decoded.
bool flattenStringItem(const char *begin, const char *end, QString *out);
// Reads the rest of a string item (<si> or <is>) whose start tag `s` has just read, up to its
// end tag (*end). False when the scanner fails, or with *why when the item is not one: an
// element inside a <t>, or a string item inside it.
bool skipStringItem(XmlScanner &s, XmlToken *end, QString *why);

// Writes new XML into a part whose SpreadsheetML (or package) elements carry `prefix` ("x:"
// or none): every element name gets the prefix. Attribute values and content are given
// escaped, except where a QString is taken. The prefix must outlive the builder.
class XmlFragment
{
public:
    XmlFragment(QByteArray *out, const QByteArray &prefix) : m_out(out), m_prefix(prefix) {}

    // "<p:name"
    XmlFragment &open(const char *name)
    {
        m_out->append('<').append(m_prefix).append(name);
        return *this;
    }
    // ` name="value"`
    XmlFragment &attr(const char *name, const char *value, int size)
    {
        m_out->append(' ').append(name).append("=\"").append(value, size).append('"');
        return *this;
    }
    XmlFragment &attr(const char *name, const char *value)
    {
        return attr(name, value, int(strlen(value)));
    }
    XmlFragment &attr(const char *name, const QByteArray &value)
    {
        return attr(name, value.constData(), value.size());
    }
    XmlFragment &attr(const QByteArray &name, const QByteArray &value)
    {
        return attr(name.constData(), value);
    }
    XmlFragment &attr(const char *name, qint64 number)
    {
        return attr(name, QByteArray::number(number));
    }
    // Closes a start tag: ">", or "/>" for an element without content.
    XmlFragment &end()
    {
        m_out->append('>');
        return *this;
    }
    XmlFragment &endEmpty()
    {
        m_out->append("/>");
        return *this;
    }
    // Content (escaped XML) as it is.
    XmlFragment &raw(const QByteArray &xml)
    {
        m_out->append(xml);
        return *this;
    }
    XmlFragment &raw(const char *xml, int size)
    {
        m_out->append(xml, size);
        return *this;
    }
    // "</p:name>"
    XmlFragment &close(const char *name)
    {
        m_out->append("</").append(m_prefix).append(name).append('>');
        return *this;
    }
    // "<p:name>content</p:name>"
    XmlFragment &element(const char *name, const char *content, int size)
    {
        return open(name).end().raw(content, size).close(name);
    }
    XmlFragment &element(const char *name, const QByteArray &content)
    {
        return element(name, content.constData(), content.size());
    }
    // The <t> of a string item holding `text` (Office-escaped), its spaces kept.
    XmlFragment &textElement(const QString &text);

private:
    QByteArray *m_out;
    const QByteArray &m_prefix;
};

// Brings a part stored in another encoding than UTF-8 (UTF-16 with or without a byte order
// mark, or an encoding its declaration names) to UTF-8, with a declaration that says so;
// UTF-8 parts are left as they are. False, with *why, for an encoding Qt does not know.
bool toUtf8Xml(QByteArray *xml, QString *why);

// Namespaces this library reads.
extern const char kMainNs[];
extern const char kStrictMainNs[];
extern const char kExcelMainNs[]; // the root of macro sheets
extern const char kRelNs[];
extern const char kPackageRelNs[];

} // namespace xlsx
