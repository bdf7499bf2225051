// Writing a worksheet part: the source with every edited cell, new cell and new row
// spliced in, handed on in pieces.
#include "xlsx/document_p.h"

#include <QMap>

#include <algorithm>

namespace xlsx {

namespace {

// Writes v in decimal at `to`; returns how many characters.
int formatNumber(quint32 v, char *to)
{
    char digits[10];
    int k = 0;
    do {
        digits[k++] = char('0' + v % 10);
        v /= 10;
    } while (v);
    for (int n = 0; n < k; ++n)
        to[n] = digits[k - 1 - n];
    return k;
}

} // namespace

XmlFragment &openCell(XmlFragment &x, int row, int col, int style, const char *type)
{
    // The reference and the style are formatted here: this runs for every rewritten cell.
    char text[16];
    int n = 0;
    char letters[4];
    int k = 0;
    for (int c = col; c > 0 && k < 4; c = (c - 1) / 26)
        letters[k++] = char('A' + (c - 1) % 26);
    while (k)
        text[n++] = letters[--k];
    n += formatNumber(quint32(row), text + n);
    x.open("c").attr("r", text, n);
    if (style > 0)
        x.attr("s", text, formatNumber(quint32(style), text));
    if (type)
        x.attr("t", type);
    return x;
}

void WorksheetData::appendBareCell(const CellRec &c, QByteArray *out) const
{
    const bool formula = c.flags & CellRec::HasFormula;
    const CellType type = CellType(c.type);
    const char *child = formula ? "f" : type == CellType::InlineString ? "is" : "v";
    XmlFragment x(out, prefix);
    openCell(x, c.row, c.col, c.style, formula ? nullptr : typeAttrOf(type)).end();
    x.element(child, extra.constData() + c.begin, int(c.end - c.begin)).close("c");
}

bool WorksheetData::serialize(const ByteSink &sink) const
{
    // The new part is the source with patches applied: each patch replaces [begin, end) of the
    // source with a span of `extra` (rewritten and added cells) or with one of `texts`.
    struct Patch
    {
        quint32 begin, end;
        quint32 from, size; // the bytes, in `extra` or in texts[text]; a bare cell's index
        qint32 text;        // -1: in `extra`; -2: the element of a bare cell
    };
    std::vector<Patch> patches;
    std::vector<QByteArray> texts;
    auto addText = [&](quint32 begin, quint32 end, const QByteArray &text) {
        patches.push_back({begin, end, 0, quint32(text.size()), qint32(texts.size())});
        texts.push_back(text);
    };
    auto addCell = [&](quint32 begin, quint32 end, const CellRec &c) {
        if (c.flags & CellRec::Bare)
            patches.push_back({begin, end, quint32(&c - cells.data()), 0, -2});
        else
            patches.push_back({begin, end, c.begin, c.end - c.begin, -1});
    };
    // Rewritten cells that existed, and new cells by row.
    QHash<int, QVector<const CellRec *>> newByRow;
    {
        size_t edited = 0;
        for (const CellRec &c : cells)
            edited += (c.flags & CellRec::InExtra) ? 1 : 0;
        patches.reserve(edited + 16);
    }
    for (const CellRec &c : cells) {
        if (!(c.flags & CellRec::InExtra))
            continue;
        const CellMore &m = moreOf(c);
        if (m.origEnd)
            addCell(m.origBegin, m.origEnd, c);
        else
            newByRow[c.row].append(&c);
    }
    // Original cells per row, for insertion points.
    auto originalBegin = [&](const CellRec &c) -> quint32 {
        if (!(c.flags & CellRec::InExtra))
            return c.begin;
        return moreOf(c).origBegin;
    };
    auto cellBytes = [&](const CellRec *c) {
        if (c->flags & CellRec::Bare) {
            QByteArray x;
            appendBareCell(*c, &x);
            return x;
        }
        return QByteArray::fromRawData(extra.constData() + c->begin, int(c->end - c->begin));
    };
    QHash<int, int> rowIndex;
    if (!newByRow.isEmpty()) {
        for (int i = 0; i < int(rows.size()); ++i)
            if (!rowIndex.contains(rows[size_t(i)].row))
                rowIndex.insert(rows[size_t(i)].row, i);
    }
    QMap<int, QByteArray> newRows;
    for (auto it = newByRow.begin(); it != newByRow.end(); ++it) {
        const int r = it.key();
        const auto ri = rowIndex.constFind(r);
        if (ri == rowIndex.constEnd()) {
            QByteArray x;
            XmlFragment f(&x, prefix);
            f.open("row").attr("r", r).end();
            for (const CellRec *c : it.value())
                f.raw(cellBytes(c));
            f.close("row");
            newRows.insert(r, x);
            continue;
        }
        const RowRec &row = rows[size_t(*ri)];
        if (row.selfClosing) {
            QByteArray x(xml.constData() + row.begin, int(row.closeBegin - row.begin));
            if (row.spansEnd > row.spansBegin)
                x.remove(int(row.spansBegin - row.begin), int(row.spansEnd - row.spansBegin));
            XmlFragment f(&x, prefix);
            f.end();
            for (const CellRec *c : it.value())
                f.raw(cellBytes(c));
            f.close("row");
            addText(row.begin, row.end, x);
            continue;
        }
        if (row.spansEnd > row.spansBegin)
            addText(row.spansBegin, row.spansEnd, QByteArray());
        // Insert each new cell before the first original cell of the row to its right; new
        // cells at one place keep their column order (the sort below is stable).
        const int first =
            int(std::lower_bound(cells.begin(), cells.end(), r,
                                 [](const CellRec &c, int rr) { return c.row < rr; }) -
                cells.begin());
        for (const CellRec *nc : it.value()) {
            quint32 pos = row.closeBegin;
            for (int k = first; k < int(cells.size()) && cells[size_t(k)].row == r; ++k) {
                const CellRec &o = cells[size_t(k)];
                const quint32 ob = originalBegin(o);
                if (o.col > nc->col && ob >= row.tagEnd && ob < row.closeBegin) {
                    pos = qMin(pos, ob);
                }
            }
            addCell(pos, pos, *nc);
        }
    }
    if (!newRows.isEmpty()) {
        if (sheetDataEmpty) {
            const QByteArray tag(xml.constData() + sheetDataTag.begin, int(sheetDataTag.size()));
            QByteArray x = tag.left(tag.lastIndexOf('/'));
            XmlFragment f(&x, prefix);
            f.end();
            for (const QByteArray &r : newRows)
                f.raw(r);
            f.close("sheetData");
            addText(quint32(sheetDataTag.begin), quint32(sheetDataTag.end), x);
        } else {
            QMap<quint32, QByteArray> inserts;
            for (auto it = newRows.begin(); it != newRows.end(); ++it) {
                quint32 pos = sheetDataClose;
                for (const RowRec &row : rows)
                    if (row.row > it.key() && row.begin < pos)
                        pos = row.begin;
                inserts[pos] += it.value();
            }
            for (auto in = inserts.begin(); in != inserts.end(); ++in)
                addText(in.key(), in.key(), in.value());
        }
    }
    if (hasDimension) {
        const CellRange used = usedRange();
        const CellRange old = CellRange::fromString(
            QString::fromUtf8(xml.constData() + dimensionRef.begin, int(dimensionRef.size())));
        if (old != used)
            addText(quint32(dimensionRef.begin), quint32(dimensionRef.end),
                    used.toString().toLatin1());
    }
    std::stable_sort(patches.begin(), patches.end(), [](const Patch &a, const Patch &b) {
        return a.begin != b.begin ? a.begin < b.begin : a.end < b.end;
    });

    // Small pieces are gathered into chunks before they reach the sink.
    constexpr int kChunk = 256 * 1024;
    QByteArray chunk;
    chunk.reserve(kChunk);
    bool ok = true;
    auto put = [&](const char *p, qint64 n) {
        if (!ok || n <= 0)
            return;
        if (chunk.size() + n > kChunk && !chunk.isEmpty()) {
            ok = sink(chunk.constData(), chunk.size());
            chunk.resize(0);
        }
        if (n >= kChunk)
            ok = ok && sink(p, n);
        else
            chunk.append(p, int(n));
    };
    quint32 pos = 0;
    for (const Patch &p : patches) {
        if (p.begin < pos)
            continue; // cannot happen: patches never overlap
        put(xml.constData() + pos, p.begin - pos);
        if (p.text == -2) {
            // Written into the chunk; passed on whole when it grows past its size.
            const CellRec &c = cells[p.from];
            if (ok && chunk.size() + qint64(c.end - c.begin) + 128 + 6 * prefix.size() > kChunk &&
                !chunk.isEmpty()) {
                ok = sink(chunk.constData(), chunk.size());
                chunk.resize(0);
            }
            appendBareCell(c, &chunk);
            if (ok && chunk.size() >= kChunk) {
                ok = sink(chunk.constData(), chunk.size());
                chunk.resize(0);
            }
        } else if (p.text == -1)
            put(extra.constData() + p.from, p.size);
        else
            put(texts[size_t(p.text)].constData(), p.size);
        pos = p.end;
    }
    put(xml.constData() + pos, xml.size() - pos);
    if (ok && !chunk.isEmpty())
        ok = sink(chunk.constData(), chunk.size());
    return ok;
}

} // namespace xlsx
