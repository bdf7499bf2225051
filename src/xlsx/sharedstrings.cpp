// The shared strings part: read once on first use and kept undecoded, items
// given new text, and the part written back with every other byte as it was.
#include "xlsx/document_p.h"

#include <cstring>

namespace xlsx {

bool isPlainStoredText(const char *p, const char *e)
{
    // The text is the content of the one <t> of a plain item, stored as it is
    // when nothing in it is escaped. Rich text, phonetic runs and escapes are
    // left to the caller.
    int tags = 0;
    for (const char *q = p; q < e; ++q) {
        if (*q == '<')
            ++tags;
        else if (*q == '&' || *q == '\r' || (*q == '_' && q + 1 < e && q[1] == 'x'))
            return false;
    }
    return tags == 2;
}

bool DocumentData::loadSharedStrings(QString *error) const
{
    if (sstLoaded)
        return true;
    sstLoaded = true;
    sstXml.clear();
    sstItems.clear();
    sstPrefix.clear();
    if (sstEntry.isEmpty() || zip.find(sstEntry) < 0)
        return true;
    if (!readPart(sstEntry, &sstXml, error))
        return false;
    // The items stay undecoded: a string is flattened when a cell asks for it.
    XmlScanner s(sstXml.constData(), sstXml.size());
    XmlToken t;
    QString why;
    bool root = true;
    while (s.next(&t)) {
        if (t.kind != XmlToken::StartTag)
            continue;
        if (root) {
            root = false;
            const Span local = s.localName(t.name);
            sstPrefix =
                QByteArray(sstXml.constData() + t.name.begin, int(local.begin - t.name.begin));
        }
        if (!s.localIs(t.name, "si"))
            continue;
        const quint32 begin = quint32(t.whole.end);
        quint32 end = begin;
        if (!t.selfClosing) {
            XmlToken x;
            if (!skipStringItem(s, &x, &why))
                break;
            end = quint32(x.whole.begin);
        }
        sstItems.push_back({begin, end, 0, 0});
    }
    if (s.failed() || !why.isEmpty()) {
        if (error)
            *error = why.isEmpty() ? QStringLiteral("%1: part /%2: malformed XML (%3)")
                                         .arg(label(), sstEntry, s.error())
                                   : QStringLiteral("%1: part /%2: string item %3: %4")
                                         .arg(label(), sstEntry)
                                         .arg(sstItems.size())
                                         .arg(why);
        sstXml.clear();
        sstItems.clear();
        return false;
    }
    return true;
}

void DocumentData::resetSharedStrings()
{
    sstLoaded = false;
    sstEdited = false;
    sstXml.clear();
    sstPrefix.clear();
    sstNew.clear();
    std::vector<SstItem>().swap(sstItems);
}

QByteArray DocumentData::sharedStringXml(int i) const
{
    loadSharedStrings(nullptr);
    if (i < 0 || size_t(i) >= sstItems.size())
        return QByteArray();
    const SstItem &item = sstItems[size_t(i)];
    if (item.newEnd)
        return QByteArray::fromRawData(sstNew.constData() + item.newBegin,
                                       int(item.newEnd - item.newBegin));
    return QByteArray::fromRawData(sstXml.constData() + item.begin, int(item.end - item.begin));
}

QString DocumentData::sharedString(int i) const
{
    const QByteArray item = sharedStringXml(i);
    QString text;
    if (item.isEmpty() ||
        !flattenStringItem(item.constData(), item.constData() + item.size(), &text))
        return QString();
    return text;
}

bool DocumentData::setSharedString(int i, const QString &text, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: part /%2: %3").arg(label(), sstEntry, why);
        return false;
    };
    if (!loadSharedStrings(error))
        return false;
    if (i < 0 || size_t(i) >= sstItems.size())
        return fail(QStringLiteral("no shared string %1").arg(i));
    if (quint64(sstXml.size()) + quint64(sstNew.size()) + quint64(text.size()) * 3 + 64 >=
        0x7fffffffULL)
        return fail(QStringLiteral("part too large"));
    const QByteArray escaped = escapeOfficeText(text);
    const bool preserve = !text.isEmpty() && (text.front().isSpace() || text.back().isSpace() ||
                                              text.contains(QLatin1Char('\n')));
    SstItem &item = sstItems[size_t(i)];
    item.plain = SstItem::Unknown;
    item.newBegin = quint32(sstNew.size());
    sstNew.append('<').append(sstPrefix).append('t');
    if (preserve)
        sstNew.append(" xml:space=\"preserve\"");
    sstNew.append('>').append(escaped).append("</").append(sstPrefix).append("t>");
    item.newEnd = quint32(sstNew.size());
    sstEdited = true;
    valueEdited = true;
    return true;
}

QByteArray DocumentData::sharedStringsPart() const
{
    // The items are in the order of the part: what lies between them is copied as it is.
    QByteArray out;
    out.reserve(sstXml.size() + sstNew.size());
    quint32 at = 0;
    for (const SstItem &item : sstItems) {
        if (!item.newEnd)
            continue;
        out.append(sstXml.constData() + at, int(item.begin - at));
        out.append(sstNew.constData() + item.newBegin, int(item.newEnd - item.newBegin));
        at = item.end;
        if (item.begin == item.end && item.end > 0 && sstXml[int(item.end) - 1] == '>' &&
            sstXml[int(item.end) - 2] == '/') {
            // A self-closing <si/>: given content, it needs an end tag. Its start tag was
            // copied with its "/>": taken back and written open.
            out.chop(int(item.newEnd - item.newBegin) + 2);
            out.append('>');
            out.append(sstNew.constData() + item.newBegin, int(item.newEnd - item.newBegin));
            out.append("</").append(sstPrefix).append("si>");
        }
    }
    out.append(sstXml.constData() + at, sstXml.size() - int(at));
    return out;
}

// ---------------------------------------------------------------------------

int Document::sharedStringCount() const
{
    d->loadSharedStrings(nullptr);
    return int(d->sstItems.size());
}

QString Document::sharedString(int index) const
{
    return d->sharedString(index);
}

bool DocumentData::plainSharedString(int index, const char **begin, const char **end) const
{
    loadSharedStrings(nullptr);
    if (index < 0 || size_t(index) >= sstItems.size())
        return false;
    const SstItem &item = sstItems[size_t(index)];
    const char *b =
        item.newEnd ? sstNew.constData() + item.newBegin : sstXml.constData() + item.begin;
    const char *e = item.newEnd ? sstNew.constData() + item.newEnd : sstXml.constData() + item.end;
    // Looked at once per item: most searches ask about every item.
    if (item.plain == SstItem::Unknown)
        item.plain = b < e && isPlainStoredText(b, e) ? SstItem::Plain : SstItem::NotPlain;
    if (item.plain != SstItem::Plain)
        return false;
    *begin = b;
    *end = e;
    return true;
}

bool Document::plainSharedString(int index, const char **begin, const char **end) const
{
    return d->plainSharedString(index, begin, end);
}

bool Document::setSharedString(int index, const QString &text, QString *error)
{
    return d->setSharedString(index, text, error);
}

bool Document::setSharedStrings(const std::vector<std::pair<int, QString>> &texts, QString *error)
{
    if (!d->loadSharedStrings(error))
        return false;
    // Checked as a whole first, so that nothing is changed when one cannot be.
    quint64 bytes = quint64(d->sstXml.size()) + quint64(d->sstNew.size());
    for (const auto &t : texts) {
        if (t.first < 0 || size_t(t.first) >= d->sstItems.size()) {
            if (error)
                *error = QStringLiteral("%1: part /%2: no shared string %3")
                             .arg(d->label(), d->sstEntry)
                             .arg(t.first);
            return false;
        }
        bytes += quint64(t.second.size()) * 3 + 64;
    }
    if (bytes >= 0x7fffffffULL) {
        if (error)
            *error = QStringLiteral("%1: part /%2: part too large").arg(d->label(), d->sstEntry);
        return false;
    }
    for (const auto &t : texts)
        d->setSharedString(t.first, t.second, nullptr);
    return true;
}

} // namespace xlsx
