// Reading a large worksheet part a window of rows at a time: the entry is inflated as it is
// read, and each window (the part's start, some whole rows, and the closing tags) is parsed as
// a part of its own, so that no more than a window is ever held. The check on opening, the
// Replace calls' look at the cells and the rewrite at save all go this way.
#include "xlsx/document_p.h"

#include <QSet>

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstring>

namespace xlsx {

int DocumentData::windowBytes = 512 << 10;

namespace {

// Neither the part's start nor one row may take more than this.
constexpr qint64 kMaxWindow = 64ll << 20;
// What the masters of shared formulas may hold of a windowed sheet.
constexpr qint64 kMaxMasterText = 8ll << 20;

// Inflates one zip entry a piece at a time (ISA-L's inflater, several times zlib's speed),
// with the checks of a whole read: the declared size, the CRC, and a stream that ends where
// the entry does.
class EntryReader
{
public:
    EntryReader(const ZipArchive &zip, int index)
        : m_entry(zip.entries()[index]), m_raw(zip.rawData(index))
    {
        isal_inflate_init(&m_z);
        m_z.next_in = reinterpret_cast<uint8_t *>(const_cast<char *>(m_raw.constData()));
        m_z.avail_in = uint32_t(m_raw.size());
        m_z.crc_flag = ISAL_GZIP_NO_HDR;
    }
    EntryReader(const EntryReader &) = delete;
    EntryReader &operator=(const EntryReader &) = delete;

    bool atEnd() const { return m_done; }

    // Appends up to `n` more bytes of the entry to *out.
    bool read(QByteArray *out, qint64 n, QString *why)
    {
        if (m_failed) {
            *why = QStringLiteral("damaged or truncated compressed data");
            return false;
        }
        const quint64 left = m_entry.uncompressedSize - m_produced;
        n = qint64(qMin<quint64>(quint64(qMax<qint64>(n, 0)), left));
        const int at = out->size();
        out->resize(at + int(n));
        char *to = out->data() + at;
        qint64 got = 0;
        if (m_entry.method == 0) {
            memcpy(to, m_raw.constData() + m_produced, size_t(n));
            got = n;
            m_crc = quint32(libdeflate_crc32(m_crc, to, size_t(n)));
        } else {
            while (got < n && m_z.block_state != ISAL_BLOCK_FINISH) {
                m_z.next_out = reinterpret_cast<uint8_t *>(to + got);
                m_z.avail_out = uint32_t(qMin<qint64>(n - got, 1 << 30));
                const uint32_t before = m_z.avail_out;
                const int rc = isal_inflate(&m_z);
                got += qint64(before - m_z.avail_out);
                if (rc < 0 || (before == m_z.avail_out && m_z.block_state != ISAL_BLOCK_FINISH &&
                               m_z.avail_in == 0)) {
                    *why = QStringLiteral("damaged or truncated compressed data");
                    return fail(out, at);
                }
            }
            m_crc = m_z.crc;
        }
        out->resize(at + int(got));
        m_produced += quint64(got);
        if (m_produced < m_entry.uncompressedSize) {
            if (got < n) {
                *why = QStringLiteral("inflated size differs from the declared size");
                return fail(out, at);
            }
            return true;
        }
        if (m_entry.method != 0 && m_z.block_state != ISAL_BLOCK_FINISH) {
            // All that was declared came out: the stream must end here.
            char spare[1];
            m_z.next_out = reinterpret_cast<uint8_t *>(spare);
            m_z.avail_out = 1;
            const int rc = isal_inflate(&m_z);
            if (rc < 0 || m_z.avail_out == 0 || m_z.block_state != ISAL_BLOCK_FINISH) {
                *why = m_z.avail_out == 0 ? QStringLiteral("inflates beyond its declared size")
                                          : QStringLiteral("damaged or truncated compressed data");
                return fail(out, at);
            }
            m_crc = m_z.crc;
        }
        m_done = true;
        if (m_crc != m_entry.crc) {
            *why = QStringLiteral("CRC mismatch");
            return fail(out, at);
        }
        return true;
    }

private:
    bool fail(QByteArray *out, int at)
    {
        out->resize(at);
        m_failed = true;
        return false;
    }

    const ZipEntry &m_entry;
    const QByteArray m_raw;
    inflate_state m_z;
    bool m_failed = false;
    bool m_done = false;
    quint64 m_produced = 0;
    quint32 m_crc = 0;
};

// The position of the last row start tag in `buf` (after its first byte), or -1.
qint64 lastRowStart(const QByteArray &buf, const QByteArray &prefix)
{
    const QByteArray tag = '<' + prefix + "row";
    for (qint64 at = buf.size() - tag.size() - 1; at > 0;) {
        at = buf.lastIndexOf(tag, int(at));
        if (at <= 0)
            return -1;
        const char d = buf.at(int(at + tag.size()));
        if (d == ' ' || d == '>' || d == '/' || d == '\t' || d == '\n' || d == '\r')
            return at;
        --at;
    }
    return -1;
}

} // namespace

// Runs `each` on the windows of the sheet's part, parsed (with their cells when `keepCells`).
// `each` gets the window, whether it is the last, the size of the part's start it begins with
// and the size of the closing tags added after its rows (0 for the last).
static bool readWindows(const WorksheetData &sheet, bool keepCells, ParseCarry *carry,
                        const std::function<bool(WorksheetData &, bool, int, int)> &each,
                        QString *error)
{
    const DocumentData *doc = sheet.doc;
    QString why;
    auto fail = [&]() {
        if (error)
            *error = QStringLiteral("%1: %2").arg(sheet.label(), why);
        return false;
    };
    const int index = doc->package.zip.find(sheet.entryName);
    if (index < 0) {
        why = QStringLiteral("no such entry");
        return fail();
    }
    carry->partSize = qint64(doc->package.zip.entries()[index].uncompressedSize);
    EntryReader in(doc->package.zip, index);
    const qint64 step = qMax(1, DocumentData::windowBytes);
    QByteArray buf;
    // The part's start, through the sheetData start tag; with no rows, the whole part.
    qint64 headEnd = -1;
    QByteArray root, prefix;
    bool whole = false;
    for (qint64 want = qMax<qint64>(step, 4096);; want = buf.size() * 2) {
        if (!in.read(&buf, want - buf.size(), &why))
            return fail();
        XmlScanner s(buf.constData(), buf.size());
        XmlToken t;
        while (headEnd < 0 && s.next(&t)) {
            if (t.kind != XmlToken::StartTag)
                continue;
            if (root.isEmpty()) {
                root = s.bytes(t.name);
                prefix = root.left(int(s.localName(t.name).begin - t.name.begin));
            }
            if (s.depth() == (t.selfClosing ? 1 : 2) && s.namespaceOf(t.name) == kMainNs &&
                s.localIs(t.name, "sheetData")) {
                if (t.selfClosing)
                    whole = true;
                else
                    headEnd = t.whole.end;
                break;
            }
        }
        if (headEnd >= 0 || whole || in.atEnd())
            break;
        if (buf.size() > kMaxWindow) {
            why = QStringLiteral("more than %1 MB before the first row").arg(kMaxWindow >> 20);
            return fail();
        }
    }
    WorksheetData w;
    w.doc = sheet.doc;
    w.name = sheet.name;
    w.entryName = sheet.entryName;
    w.relsEntry = sheet.relsEntry;
    if (headEnd < 0) {
        // No rows to window: read whole (small, or refused by the parse as anything else).
        while (!in.atEnd())
            if (!in.read(&buf, buf.size() + step, &why))
                return fail();
        std::swap(w.xml, buf);
        if (!w.parse(error, keepCells, carry))
            return false;
        return each(w, true, 0, 0);
    }
    const QByteArray head = buf.left(int(headEnd));
    buf.remove(0, int(headEnd));
    // Rows may use the prefix the sheetData element has: the rows' own is what counts.
    const QByteArray tail = "</" + prefix + "sheetData></" + root + '>';
    qint64 want = step;
    for (;;) {
        while (buf.size() < want && !in.atEnd())
            if (!in.read(&buf, want - buf.size(), &why))
                return fail();
        const bool last = in.atEnd();
        const qint64 cut = last ? buf.size() : lastRowStart(buf, prefix);
        if (cut > 0) {
            w.xml.clear();
            w.xml.reserve(int(head.size() + cut + tail.size()));
            w.xml.append(head).append(buf.constData(), int(cut));
            if (!last)
                w.xml.append(tail);
            const ParseCarry before = *carry;
            QString parseWhy;
            if (w.parse(&parseWhy, keepCells, carry)) {
                buf.remove(0, int(cut));
                if (!each(w, last, head.size(), last ? 0 : tail.size()))
                    return false;
                if (last)
                    return true;
                want = qMax(step, qint64(buf.size()) + 1);
                continue;
            }
            *carry = before;
            if (last) {
                if (error)
                    *error = parseWhy;
                return false;
            }
            why = parseWhy;
        }
        // A row that does not end in this window (or a comment, or CDATA, that holds a row
        // tag): the window grows.
        if (buf.size() > kMaxWindow) {
            if (why.isEmpty())
                why = QStringLiteral("a row of more than %1 MB").arg(kMaxWindow >> 20);
            return fail();
        }
        want = buf.size() * 2;
    }
}

bool WorksheetData::checkInWindows(QString *error)
{
    ParseCarry carry;
    SheetSummary total;
    total.valid = true;
    int formulas = 0;
    QVector<FormulaGroup> allArrays;
    QStringList tableIds;
    bool protectedSheet = false;
    const bool ok = readWindows(
        *this, false, &carry,
        [&](WorksheetData &w, bool, int, int) {
            if (prefix.isEmpty())
                prefix = w.prefix;
            formulas += w.formulaCount;
            allArrays += w.arrays;
            tableIds += w.tablePartIds;
            protectedSheet = protectedSheet || w.isProtected;
            const SheetSummary &s = w.summary;
            if (!s.valid) {
                total.valid = false;
                return true;
            }
            total.plain = total.plain && s.plain;
            total.numbers = total.numbers || s.numbers;
            std::vector<qint32> &st = total.sharedStyles;
            if (st.size() < s.sharedStyles.size())
                st.resize(s.sharedStyles.size(), -1);
            for (size_t i = 0; i < s.sharedStyles.size(); ++i) {
                const qint32 mine = s.sharedStyles[i];
                if (mine != -1)
                    st[i] = st[i] == -1 || st[i] == mine ? mine : -2;
            }
            return true;
        },
        error);
    if (!ok)
        return false;
    cells.clear();
    rows.clear();
    more.clear();
    shared.clear();
    xml = QByteArray();
    extra = QByteArray();
    formulaCount = formulas;
    arrays = allArrays;
    tablePartIds = tableIds;
    isProtected = protectedSheet;
    cellsUsed = carry.used.isValid() ? carry.used : CellRange(1, 1, 1, 1);
    total.used = cellsUsed;
    summary = total.valid ? total : SheetSummary();
    // Cells out of order are checked against each other only when the sheet is held. The
    // windows keep the text of every shared formula's master: only so much of it.
    qint64 masterText = 0;
    for (const ParseCarry::Master &m : qAsConst(carry.masters))
        masterText += m.text.size() + 64;
    windowed = carry.sorted && masterText <= kMaxMasterText;
    stale = true;
    return true;
}

bool WorksheetData::forEachWindow(const std::function<bool(Worksheet *window)> &visit,
                                  const std::function<bool(const char *, qint64)> *rows,
                                  QString *error, bool lookAhead) const
{
    ParseCarry carry;
    Worksheet window(std::unique_ptr<WorksheetData>(new WorksheetData));
    // An array formula's range goes with its master's edit, window after window; so does
    // a shared formula's group, which an edit of its master turns into its members' own.
    QVector<FormulaGroup> arrayRanges = arrays;
    QSet<int> expanded;
    QByteArray out;
    bool headDone = false, stopped = false;
    int windowCount = 0;
    QString why;
    const bool ok = readWindows(
        *this, true, &carry,
        [&](WorksheetData &w, bool last, int headSize, int tailSize) {
            WorksheetData &d = *window.d;
            d.doc = w.doc;
            d.name = w.name;
            d.entryName = w.entryName;
            d.relsEntry = w.relsEntry;
            std::swap(d.xml, w.xml);
            std::swap(d.cells, w.cells);
            std::swap(d.rows, w.rows);
            std::swap(d.more, w.more);
            d.extra.clear();
            d.prefix = w.prefix;
            d.hasSheetData = w.hasSheetData;
            d.sheetDataEmpty = w.sheetDataEmpty;
            d.sheetDataTag = w.sheetDataTag;
            d.sheetDataClose = w.sheetDataClose;
            d.shared = w.shared;
            d.earlierMasters = &carry.masters;
            const int firstRow = d.cells.empty() ? 0 : d.cells.front().row;
            for (auto m = carry.masters.constBegin(); m != carry.masters.constEnd(); ++m)
                if (!d.shared.contains(m.key()) && m->group.ref.lastRow >= firstRow)
                    d.shared.insert(m.key(), m->group);
            d.formulaCount = w.formulaCount;
            d.isProtected = isProtected;
            d.tablePartIds = tablePartIds;
            d.arrays = arrayRanges;
            d.modified = false;
            d.stale = false;
            d.lookAhead = lookAhead;
            d.windowIndex = windowCount++;
            d.summary = SheetSummary();
            // The part's start goes out once, before the first window's rows, with the
            // dimension of the whole sheet.
            d.hasDimension = headSize == 0 && w.hasDimension;
            d.dimensionRef = w.dimensionRef;
            if (rows && !headDone && headSize > 0) {
                headDone = true;
                QByteArray head = d.xml.left(headSize);
                const QByteArray used = cellsUsed.toString().toLatin1();
                if (w.hasDimension &&
                    CellRange::fromString(QString::fromUtf8(head.mid(
                        int(w.dimensionRef.begin), int(w.dimensionRef.size())))) != cellsUsed)
                    head.replace(int(w.dimensionRef.begin), int(w.dimensionRef.size()), used);
                if (!(*rows)(head.constData(), head.size())) {
                    why = QStringLiteral("%1: cannot write the rewritten sheet").arg(label());
                    return false;
                }
            }
            for (int si : qAsConst(expanded)) {
                QString expandWhy;
                if (d.shared.contains(si) && !d.expandShared(si, &expandWhy))
                    qWarning("%s", qPrintable(expandWhy));
            }
            const QList<int> groups = d.shared.keys();
            for (const WindowEdit &edit : windowEdits)
                edit(&window);
            arrayRanges = d.arrays;
            for (int si : groups)
                if (!d.shared.contains(si))
                    expanded.insert(si);
            if (visit && !visit(&window)) {
                stopped = true;
                return false;
            }
            if (rows) {
                out.resize(0);
                d.serialize([&out](const char *p, qint64 n) {
                    out.append(p, int(n));
                    return true;
                });
                const qint64 n = out.size() - headSize - tailSize;
                if (n > 0 && !(*rows)(out.constData() + headSize, n)) {
                    why = QStringLiteral("%1: cannot write the rewritten sheet").arg(label());
                    return false;
                }
            }
            (void)last;
            return true;
        },
        error);
    if (!ok && !why.isEmpty() && error)
        *error = why;
    return ok || stopped;
}

} // namespace xlsx

namespace xlsx {

bool DocumentData::isUtf8Part(int index) const
{
    EntryReader in(package.zip, index);
    QByteArray start, same;
    QString why;
    if (!in.read(&start, 4096, &why))
        return true; // the check in windows tells what is wrong
    same = start;
    return toUtf8Xml(&same, &why) && same == start;
}

bool DocumentData::rewriteWindowed(QString *error)
{
    edits.windowedParts.clear();
    // In a workbook without formulas the edits change nothing else the save writes: the
    // sheets are rewritten into the package as it is written (writeZip), never held.
    bool formulas = !workbook.calcChainEntry.isEmpty() || edits.formulaEdited;
    for (const SheetEntry &e : workbook.sheets)
        formulas = formulas || (e.info.kind == SheetKind::Worksheet && !e.isNew &&
                                (!e.ws || e.ws->d->formulaCount > 0));
    if (!formulas)
        return true;
    for (const SheetEntry &e : workbook.sheets) {
        const WorksheetData *wd = e.ws ? e.ws->d.get() : nullptr;
        if (!wd || e.isNew || !wd->editsInWindows())
            continue;
        // Deflated as it is written, by zlib's level 3 (see kDeflateLevel).
        z_stream z{};
        if (deflateInit2(&z, 3, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            if (error)
                *error = QStringLiteral("%1: cannot start deflating").arg(wd->label());
            return false;
        }
        EditsState::Deflated part;
        bool ok = true;
        auto pump = [&](const char *p, qint64 n, int flush) {
            z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(p));
            z.avail_in = uInt(n);
            do {
                if (part.raw.size() - qint64(z.total_out) < 65536)
                    part.raw.resize(part.raw.size() + qMax(65536, part.raw.size() / 2));
                z.next_out = reinterpret_cast<Bytef *>(part.raw.data() + z.total_out);
                z.avail_out = uInt(part.raw.size() - qint64(z.total_out));
                const int rc = deflate(&z, flush);
                if (rc == Z_STREAM_ERROR)
                    return false;
                if (rc == Z_STREAM_END)
                    return true;
            } while (z.avail_in > 0 || z.avail_out == 0);
            return true;
        };
        const std::function<bool(const char *, qint64)> sink = [&](const char *p, qint64 n) {
            part.crc = quint32(libdeflate_crc32(part.crc, p, size_t(n)));
            part.size += quint64(n);
            if (part.size > kMaxEntrySize)
                return false;
            return pump(p, n, Z_NO_FLUSH);
        };
        QString why;
        ok = wd->forEachWindow(nullptr, &sink, &why) && pump(nullptr, 0, Z_FINISH);
        part.raw.resize(int(z.total_out));
        deflateEnd(&z);
        if (!ok) {
            edits.windowedParts.clear();
            if (error)
                *error =
                    why.isEmpty()
                        ? QStringLiteral("%1: cannot write the rewritten sheet").arg(wd->label())
                        : why;
            return false;
        }
        edits.windowedParts.insert(e.entryName, std::move(part));
    }
    return true;
}

} // namespace xlsx
