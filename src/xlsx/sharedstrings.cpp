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
    if (sst.loaded)
        return true;
    sst.loaded = true;
    sst.xml.clear();
    sst.items.clear();
    sst.prefix.clear();
    if (workbook.sstEntry.isEmpty() || package.zip.find(workbook.sstEntry) < 0)
        return true;
    if (!readPart(workbook.sstEntry, &sst.xml, error))
        return false;
    // The items stay undecoded: a string is flattened when a cell asks for it.
    XmlScanner s(sst.xml.constData(), sst.xml.size());
    XmlToken t;
    QString why;
    bool root = true;
    while (s.next(&t)) {
        if (t.kind != XmlToken::StartTag)
            continue;
        if (root) {
            root = false;
            const Span local = s.localName(t.name);
            sst.prefix =
                QByteArray(sst.xml.constData() + t.name.begin, int(local.begin - t.name.begin));
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
        sst.items.push_back({begin, end, 0, 0});
    }
    if (s.failed() || !why.isEmpty()) {
        if (error)
            *error = why.isEmpty() ? QStringLiteral("%1: part /%2: malformed XML (%3)")
                                         .arg(label(), workbook.sstEntry, s.error())
                                   : QStringLiteral("%1: part /%2: string item %3: %4")
                                         .arg(label(), workbook.sstEntry)
                                         .arg(sst.items.size())
                                         .arg(why);
        sst.xml.clear();
        sst.items.clear();
        return false;
    }
    return true;
}

QByteArray DocumentData::sharedStringXml(int i) const
{
    loadSharedStrings(nullptr);
    if (i < 0 || size_t(i) >= sst.items.size())
        return QByteArray();
    const SharedStringsState::Item &item = sst.items[size_t(i)];
    if (item.newEnd)
        return QByteArray::fromRawData(sst.newXml.constData() + item.newBegin,
                                       int(item.newEnd - item.newBegin));
    return QByteArray::fromRawData(sst.xml.constData() + item.begin, int(item.end - item.begin));
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
            *error = QStringLiteral("%1: part /%2: %3").arg(label(), workbook.sstEntry, why);
        return false;
    };
    if (!loadSharedStrings(error))
        return false;
    if (i < 0 || size_t(i) >= sst.items.size())
        return fail(QStringLiteral("no shared string %1").arg(i));
    if (quint64(sst.xml.size()) + quint64(sst.newXml.size()) + quint64(text.size()) * 3 + 64 >=
        0x7fffffffULL)
        return fail(QStringLiteral("part too large"));
    SharedStringsState::Item &item = sst.items[size_t(i)];
    item.plain = SharedStringsState::Item::Unknown;
    item.newBegin = quint32(sst.newXml.size());
    XmlFragment(&sst.newXml, sst.prefix).textElement(text);
    item.newEnd = quint32(sst.newXml.size());
    sst.edited = true;
    edits.valueEdited = true;
    return true;
}

QByteArray DocumentData::sharedStringsPart() const
{
    // The items are in the order of the part: what lies between them is copied as it is.
    QByteArray out;
    qint64 size = sst.xml.size();
    for (const SharedStringsState::Item &item : sst.items)
        if (item.newEnd)
            size += qint64(item.newEnd - item.newBegin) - qint64(item.end - item.begin) + 8;
    out.reserve(int(qMin<qint64>(size, sst.xml.size() + sst.newXml.size())));
    quint32 at = 0;
    for (const SharedStringsState::Item &item : sst.items) {
        if (!item.newEnd)
            continue;
        out.append(sst.xml.constData() + at, int(item.begin - at));
        out.append(sst.newXml.constData() + item.newBegin, int(item.newEnd - item.newBegin));
        at = item.end;
        if (item.begin == item.end && item.end > 0 && sst.xml[int(item.end) - 1] == '>' &&
            sst.xml[int(item.end) - 2] == '/') {
            // A self-closing <si/>: given content, it needs an end tag. Its start tag was
            // copied with its "/>": taken back and written open.
            out.chop(int(item.newEnd - item.newBegin) + 2);
            XmlFragment(&out, sst.prefix)
                .end()
                .raw(sst.newXml.constData() + item.newBegin, int(item.newEnd - item.newBegin))
                .close("si");
        }
    }
    out.append(sst.xml.constData() + at, sst.xml.size() - int(at));
    return out;
}

// ---------------------------------------------------------------------------

int Document::sharedStringCount() const
{
    d->loadSharedStrings(nullptr);
    return int(d->sst.items.size());
}

QString Document::sharedString(int index) const
{
    return d->sharedString(index);
}

bool DocumentData::plainSharedString(int index, const char **begin, const char **end) const
{
    loadSharedStrings(nullptr);
    if (index < 0 || size_t(index) >= sst.items.size())
        return false;
    const SharedStringsState::Item &item = sst.items[size_t(index)];
    const char *b =
        item.newEnd ? sst.newXml.constData() + item.newBegin : sst.xml.constData() + item.begin;
    const char *e =
        item.newEnd ? sst.newXml.constData() + item.newEnd : sst.xml.constData() + item.end;
    // Looked at once per item: most searches ask about every item.
    if (item.plain == SharedStringsState::Item::Unknown)
        item.plain = b < e && isPlainStoredText(b, e) ? SharedStringsState::Item::Plain
                                                      : SharedStringsState::Item::NotPlain;
    if (item.plain != SharedStringsState::Item::Plain)
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
    quint64 bytes = quint64(d->sst.xml.size()) + quint64(d->sst.newXml.size());
    for (const auto &t : texts) {
        if (t.first < 0 || size_t(t.first) >= d->sst.items.size()) {
            if (error)
                *error = QStringLiteral("%1: part /%2: no shared string %3")
                             .arg(d->label(), d->workbook.sstEntry)
                             .arg(t.first);
            return false;
        }
        bytes += quint64(t.second.size()) * 3 + 64;
    }
    if (bytes >= 0x7fffffffULL) {
        if (error)
            *error = QStringLiteral("%1: part /%2: part too large")
                         .arg(d->label(), d->workbook.sstEntry);
        return false;
    }
    for (const auto &t : texts)
        d->setSharedString(t.first, t.second, nullptr);
    return true;
}

} // namespace xlsx
