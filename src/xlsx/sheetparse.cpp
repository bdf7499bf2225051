// Reading a worksheet part: its cells and rows as records (spans into the XML, nothing
// decoded), its formula groups, tables and protection, and the summary of a sheet of plain
// values.
#include "xlsx/document_p.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace xlsx {

// The "t" attribute of each CellType (none for numbers and empty cells).
static const char *const kTypeAttrs[] = {nullptr, "s", "inlineStr", "str", nullptr, "b", "e", "d"};

const char *typeAttrOf(CellType type)
{
    const size_t i = size_t(type);
    return i < sizeof kTypeAttrs / sizeof *kTypeAttrs ? kTypeAttrs[i] : nullptr;
}

CellType typeOfAttr(const char *value, size_t size)
{
    if (!value)
        return CellType::Number;
    for (size_t i = 0; i < sizeof kTypeAttrs / sizeof *kTypeAttrs; ++i)
        if (kTypeAttrs[i] && strlen(kTypeAttrs[i]) == size &&
            memcmp(kTypeAttrs[i], value, size) == 0)
            return CellType(i);
    return CellType::Number;
}

namespace {

// A worksheet whose cell records would take more than this many times the size of its XML,
// and more than the floor, is refused: only elements far shorter than any cell with a value
// ("<c/>") come to that.
constexpr quint64 kMaxRecordsRatio = 4;
constexpr quint64 kMaxRecordsFloor = 64ull * 1024 * 1024;

// The prefix ("" or "x:") that the root element binds to the spreadsheet namespace.
bool mainPrefixOf(const XmlScanner &s, const XmlToken &root, QByteArray *prefix)
{
    for (const XmlAttr &a : root.attrs) {
        if (!s.equals(a.value, kMainNs))
            continue;
        const QByteArray name = s.bytes(a.name);
        if (name == "xmlns") {
            prefix->clear();
            return true;
        }
        if (name.startsWith("xmlns:")) {
            *prefix = name.mid(6) + ':';
            return true;
        }
    }
    return false;
}

// Counts the start tags of cells and rows (an upper bound of the elements: tags in
// comments count too), so that their records are allocated once.
void countTags(const QByteArray &xml, const QByteArray &prefix, size_t *cellTags, size_t *rowTags)
{
    const char *p = xml.constData();
    const char *const end = p + xml.size();
    const size_t np = size_t(prefix.size());
    auto delimiter = [end](const char *q) {
        return q < end &&
               (*q == ' ' || *q == '>' || *q == '/' || *q == '\t' || *q == '\n' || *q == '\r');
    };
    *cellTags = *rowTags = 0;
    while ((p = static_cast<const char *>(memchr(p, '<', size_t(end - p))))) {
        ++p;
        if (size_t(end - p) < np + 2 || (np && memcmp(p, prefix.constData(), np) != 0))
            continue;
        const char *q = p + np;
        if (*q == 'c' && delimiter(q + 1))
            ++*cellTags;
        else if (*q == 'r' && end - q > 3 && q[1] == 'o' && q[2] == 'w' && delimiter(q + 3))
            ++*rowTags;
    }
}

// Parses "B12" from raw bytes; false when it is not a cell reference.
bool parseRef(const char *p, const char *end, int *row, int *col)
{
    int c = 0;
    const char *q = p;
    while (q < end && ((*q >= 'A' && *q <= 'Z') || (*q >= 'a' && *q <= 'z'))) {
        c = c * 26 + ((*q & ~0x20) - 'A' + 1);
        if (c > kMaxColumns)
            return false;
        ++q;
    }
    if (q == p)
        return false;
    qint64 r = 0;
    const char *digits = q;
    while (q < end && *q >= '0' && *q <= '9') {
        r = r * 10 + (*q - '0');
        if (r > kMaxRows)
            return false;
        ++q;
    }
    if (q != end || q == digits || r < 1)
        return false;
    *row = int(r);
    *col = c;
    return true;
}

int parseInt(const char *p, const char *end, bool *ok)
{
    qint64 v = 0;
    bool neg = false;
    if (p < end && *p == '-') {
        neg = true;
        ++p;
    }
    *ok = p < end;
    for (; p < end; ++p) {
        if (*p < '0' || *p > '9') {
            *ok = false;
            return 0;
        }
        v = v * 10 + (*p - '0');
        if (v > 0x7fffffff) {
            *ok = false;
            return 0;
        }
    }
    return int(neg ? -v : v);
}

CellType typeFromAttr(const XmlScanner &s, const XmlAttr *t)
{
    if (!t)
        return CellType::Number;
    return typeOfAttr(s.data() + t->value.begin, size_t(t->value.size()));
}

CellRange rangeAttr(const XmlScanner &s, const XmlAttr *a)
{
    if (!a)
        return CellRange();
    return CellRange::fromString(QString::fromUtf8(s.bytes(a->value)));
}

// reads (and judges).
qint64 plainCell(const QByteArray &xml, qint64 pos, const QByteArray &prefix, int rowNumber,
                 int prevCol, CellRec *rec)
{
    const char *const base = xml.constData();
    const char *const end = base + xml.size();
    const char *p = base + pos;
    const qint64 np = prefix.size();
    const char *const pfx = prefix.constData();
    auto at = [&](const char *q, const char *text, qint64 n) {
        return end - q >= n && memcmp(q, text, size_t(n)) == 0;
    };
    if (end - p < np + 3 || p[0] != '<' || !at(p + 1, pfx, np) || p[1 + np] != 'c' ||
        p[2 + np] != ' ')
        return 0;
    const char *q = p + 2 + np;
    const char *ref = nullptr, *refEnd = nullptr;
    int style = 0;
    CellType type = CellType::Number;
    bool sawS = false, sawT = false;
    while (q < end && *q == ' ') {
        ++q;
        const char name = q < end ? *q : 0;
        if (end - q < 4 || q[1] != '=' || q[2] != '"')
            return 0;
        const char *vb = q + 3;
        const char *ve = static_cast<const char *>(memchr(vb, '"', size_t(end - vb)));
        if (!ve)
            return 0;
        for (const char *k = vb; k < ve; ++k)
            if (*k == '&' || *k == '<')
                return 0;
        if (name == 'r' && !ref) {
            ref = vb;
            refEnd = ve;
        } else if (name == 's' && !sawS) {
            sawS = true;
            bool ok = false;
            style = parseInt(vb, ve, &ok);
            if (!ok || style < 0)
                return 0;
        } else if (name == 't' && !sawT) {
            sawT = true;
            type = typeOfAttr(vb, size_t(ve - vb));
        } else {
            return 0;
        }
        q = ve + 1;
    }
    int row = rowNumber, col = prevCol + 1;
    if (ref) {
        if (!parseRef(ref, refEnd, &row, &col))
            return 0;
    } else if (col > kMaxColumns || row < 1) {
        return 0;
    }
    CellRec r;
    r.row = row;
    r.col = quint16(col);
    r.style = style;
    r.begin = quint32(pos);
    if (at(q, "/>", 2)) {
        r.end = quint32(q + 2 - base);
        r.type = quint8(CellType::Empty);
        *rec = r;
        return r.end;
    }
    if (q >= end || *q != '>')
        return 0;
    ++q;
    // "</" prefix "c>"
    auto closeAt = [&](const char *k, char local) {
        return end - k >= np + 4 && k[0] == '<' && k[1] == '/' && at(k + 2, pfx, np) &&
               k[2 + np] == local && k[3 + np] == '>';
    };
    if (closeAt(q, 'c')) {
        r.end = quint32(q + 4 + np - base);
        r.type = quint8(CellType::Empty);
        *rec = r;
        return r.end;
    }
    // "<" prefix name, and "</" prefix name
    auto openAt = [&](const char *k, const char *name, qint64 n) {
        return end - k >= 1 + np + n && k[0] == '<' && at(k + 1, pfx, np) &&
               at(k + 1 + np, name, n);
    };
    auto endAt = [&](const char *k, const char *name, qint64 n) {
        return end - k >= 2 + np + n && k[0] == '<' && k[1] == '/' && at(k + 2, pfx, np) &&
               at(k + 2 + np, name, n);
    };
    if (type == CellType::InlineString && openAt(q, "is>", 3)) {
        // <is><t>text</t></is>, as edited cells are written
        const char *t = q + 4 + np;
        const char *tb = openAt(t, "t>", 2)                           ? t + 3 + np
                         : openAt(t, "t xml:space=\"preserve\">", 23) ? t + 24 + np
                                                                      : nullptr;
        const char *te =
            tb ? static_cast<const char *>(memchr(tb, '<', size_t(end - tb))) : nullptr;
        if (!te || memchr(tb, '&', size_t(te - tb)) || !endAt(te, "t>", 2) ||
            !endAt(te + 4 + np, "is>", 3) || !closeAt(te + 9 + 2 * np, 'c'))
            return 0;
        r.vBegin = quint32(t - base);
        r.vEnd = quint32(te + 4 + np - base);
        r.end = quint32(te + 13 + 3 * np - base);
        r.type = quint8(type);
        r.flags = CellRec::HasValue;
        *rec = r;
        return r.end;
    }
    if (!openAt(q, "v>", 2))
        return 0;
    const char *vb = q + 3 + np;
    const char *ve = static_cast<const char *>(memchr(vb, '<', size_t(end - vb)));
    if (!ve || memchr(vb, '&', size_t(ve - vb)) || !closeAt(ve, 'v') || !closeAt(ve + 4 + np, 'c'))
        return 0;
    r.vBegin = quint32(vb - base);
    r.vEnd = quint32(ve - base);
    r.end = quint32(ve + 8 + 2 * np - base);
    r.type = quint8(type);
    r.flags = CellRec::HasValue;
    *rec = r;
    return r.end;
}

} // namespace

bool parseCell(XmlScanner &s, const XmlToken &t, int rowNumber, int prevCol, CellRec *rec,
               CellMore *formula, FormulaGroup *group, int *groupKind, QString *error)
{
    *groupKind = 0;
    const char *d = s.data();
    rec->begin = quint32(t.whole.begin);
    if (const XmlAttr *r = s.attr(t, "r")) {
        int col = 0;
        if (!parseRef(d + r->value.begin, d + r->value.end, &rec->row, &col)) {
            *error = QStringLiteral("bad cell reference \"%1\" (the sheet ends at XFD%2)")
                         .arg(QString::fromUtf8(s.bytes(r->value)))
                         .arg(kMaxRows);
            return false;
        }
        rec->col = quint16(col);
    } else {
        rec->row = rowNumber;
        if (prevCol + 1 > kMaxColumns || rec->row < 1) {
            *error = QStringLiteral("cell outside the sheet");
            return false;
        }
        rec->col = quint16(prevCol + 1);
    }
    bool ok = true;
    if (const XmlAttr *st = s.attr(t, "s"))
        rec->style = parseInt(d + st->value.begin, d + st->value.end, &ok);
    if (!ok || rec->style < 0) {
        *error = QStringLiteral("bad style index");
        return false;
    }
    CellType type = typeFromAttr(s, s.attr(t, "t"));
    if (t.selfClosing) {
        rec->end = quint32(t.whole.end);
        rec->type = quint8(CellType::Empty);
        return true;
    }
    XmlToken c;
    const int depth = s.depth();
    bool hasValue = false;
    while (s.next(&c)) {
        if (c.kind == XmlToken::EndTag && s.depth() == depth - 1) {
            rec->end = quint32(c.whole.end);
            break;
        }
        if (c.kind != XmlToken::StartTag || s.depth() != depth + (c.selfClosing ? 0 : 1))
            continue;
        if (s.localIs(c.name, "v") || s.localIs(c.name, "is")) {
            // The value, or the inline string item: its content span.
            rec->vBegin = rec->vEnd = quint32(c.whole.end);
            if (!c.selfClosing) {
                XmlToken x;
                if (s.localIs(c.name, "is")) {
                    if (!skipStringItem(s, &x, error)) {
                        if (!error->isEmpty())
                            *error = QStringLiteral("cell %1: %2")
                                         .arg(CellRef(rec->row, rec->col).toString(), *error);
                        return false;
                    }
                } else {
                    while (s.next(&x) && !(x.kind == XmlToken::EndTag && s.depth() == depth))
                        ;
                }
                rec->vEnd = quint32(x.whole.begin);
            }
            hasValue = true;
        } else if (s.localIs(c.name, "f")) {
            rec->flags |= CellRec::HasFormula;
            formula->fBegin = formula->fEnd = quint32(c.whole.end);
            const XmlAttr *ft = s.attr(c, "t");
            const XmlAttr *ref = s.attr(c, "ref");
            const XmlAttr *si = s.attr(c, "si");
            FormulaKind kind = FormulaKind::Normal;
            if (ft && s.equals(ft->value, "shared") && si) {
                bool okSi = false;
                formula->si = parseInt(d + si->value.begin, d + si->value.end, &okSi);
                if (!okSi || formula->si < 0) {
                    *error = QStringLiteral("bad shared formula index");
                    return false;
                }
                kind = ref ? FormulaKind::SharedMaster : FormulaKind::SharedMember;
            } else if (ft && (s.equals(ft->value, "array") || s.equals(ft->value, "dataTable"))) {
                kind = FormulaKind::ArrayMaster;
            }
            if (!c.selfClosing) {
                XmlToken x;
                while (s.next(&x) && !(x.kind == XmlToken::EndTag && s.depth() == depth))
                    ;
                formula->fEnd = quint32(x.whole.begin);
            }
            if (kind == FormulaKind::SharedMaster && formula->fEnd == formula->fBegin)
                kind = FormulaKind::SharedMember; // a master without text: treat as member
            rec->setFkind(kind);
            if (kind == FormulaKind::SharedMaster || kind == FormulaKind::ArrayMaster) {
                group->row = rec->row;
                group->col = rec->col;
                group->ref = rangeAttr(s, ref);
                if (!group->ref.isValid())
                    group->ref = CellRange(CellRef(rec->row, rec->col));
                *groupKind = kind == FormulaKind::SharedMaster ? 1 : 2;
            }
        }
    }
    if (s.failed())
        return false;
    if (hasValue)
        rec->flags |= CellRec::HasValue;
    if (!hasValue)
        type = CellType::Empty;
    rec->type = quint8(type);
    return true;
}

// Reads a cell element at `pos` when it has one of the plain shapes <c .../>, <c ...></c>,
// <c ...><v>text</v></c> and <c ... t="inlineStr"><is><t>text</t></is></c>, with no attribute
// but r, s and t (and xml:space on <t>) and no entity anywhere: returns
// the position after it, or 0 (nothing read) for any other shape, which the scanner then

bool WorksheetData::parse(QString *error, bool keepCells, ParseCarry *carry)
{
    cells.clear();
    rows.clear();
    arrays.clear();
    shared.clear();
    more.clear();
    extra.clear();
    tablePartIds.clear();
    hasSheetData = sheetDataEmpty = hasDimension = isProtected = false;
    formulaCount = 0;
    summary = SheetSummary();
    // Shared string indexes are noted up to a bound that keeps the summary no larger than
    // the part.
    const qint64 maxShared = qMax<qint64>(4096, (carry ? carry->partSize : xml.size()) / 4);
    bool summaryOk = true;
    int minRow = INT_MAX, maxRow = 0, minCol = INT_MAX, maxCol = 0;
    auto note = [&](const CellRec &rec) {
        const CellType type = CellType(rec.type);
        const bool formula = rec.flags & CellRec::HasFormula;
        if (type == CellType::SharedString && (rec.flags & CellRec::HasValue)) {
            const int i = sharedStringIndex(rec);
            if (i < 0 || i >= maxShared) {
                summaryOk = false;
                return;
            }
            std::vector<qint32> &styles = summary.sharedStyles;
            if (size_t(i) >= styles.size())
                styles.resize(qMax(size_t(i) + 1, styles.size() * 2), -1);
            const qint32 mine = formula ? -2 : rec.style;
            qint32 &st = styles[size_t(i)];
            st = st == -1 || st == mine ? mine : -2;
            summary.plain = summary.plain && !formula;
        } else if (formula) {
            summary.plain = false;
        } else if (type == CellType::Number) {
            summary.numbers = summary.numbers || (rec.flags & CellRec::HasValue);
        } else if (type != CellType::Empty) {
            summary.plain = false;
        }
    };
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(label(), why);
        return false;
    };
    if (xml.size() >= 0x7fffffff)
        return fail(QStringLiteral("part too large"));
    XmlScanner s(xml.constData(), xml.size());
    XmlToken t;
    if (!s.next(&t) || t.kind != XmlToken::StartTag)
        return fail(s.failed() ? s.error() : QStringLiteral("no root element"));
    const QByteArray ns = s.namespaceOf(t.name);
    if (ns == kStrictMainNs)
        return fail(QStringLiteral("strict Open XML workbooks are not supported"));
    if (ns == kExcelMainNs && s.localIs(t.name, "macrosheet")) {
        // A macro sheet: the root is Microsoft's, its content a worksheet's.
        if (!mainPrefixOf(s, t, &prefix))
            return fail(QStringLiteral("a macro sheet whose root does not declare the "
                                       "spreadsheet namespace"));
    } else if (ns != kMainNs || !s.localIs(t.name, "worksheet")) {
        return fail(QStringLiteral("not a worksheet"));
    } else {
        const Span local = s.localName(t.name);
        prefix = QByteArray(xml.constData() + t.name.begin, int(local.begin - t.name.begin));
    }
    if (!carry) {
        // (A window's records are few, and their room is kept from one window to the next.)
        size_t cellTags = 0, rowTags = 0;
        countTags(xml, prefix, &cellTags, &rowTags);
        // The records of a cell take more room than the shortest elements ("<c/>"): a sheet
        // made of those is refused rather than held in many times its own size.
        const quint64 recordBytes = quint64(cellTags) * sizeof(CellRec);
        if (recordBytes > kMaxRecordsFloor && recordBytes > kMaxRecordsRatio * quint64(xml.size()))
            return fail(QStringLiteral("%1 cells in %2 MB of XML would take %3 MB to hold "
                                       "(refused)")
                            .arg(cellTags)
                            .arg(xml.size() >> 20)
                            .arg(recordBytes >> 20));
        if (keepCells) {
            cells.reserve(cellTags);
            rows.reserve(rowTags);
        }
    }
    int rowNumber = carry ? carry->rowNumber : 0;
    bool sorted = true;
    std::vector<std::pair<int, int>> rowCells;
    auto twice = [](const CellRec &rec) {
        return QStringLiteral("cell %1 is given twice").arg(CellRef(rec.row, rec.col).toString());
    };
    int lastRow = carry ? carry->lastRow : 0, lastCol = carry ? carry->lastCol : 0;
    while (s.next(&t)) {
        if (t.kind != XmlToken::StartTag || s.namespaceOf(t.name) != kMainNs)
            continue;
        if (s.localIs(t.name, "tablePart")) {
            for (const XmlAttr &a : t.attrs)
                if (s.localIs(a.name, "id") && s.namespaceOf(a.name, true) == kRelNs)
                    tablePartIds.append(QString::fromUtf8(s.bytes(a.value)));
            continue;
        }
        if (s.depth() != (t.selfClosing ? 1 : 2))
            continue;
        if (s.localIs(t.name, "dimension")) {
            if (const XmlAttr *a = s.attr(t, "ref")) {
                hasDimension = true;
                dimensionRef = a->value;
            }
        } else if (s.localIs(t.name, "sheetProtection")) {
            const XmlAttr *a = s.attr(t, "sheet");
            isProtected = a && (s.equals(a->value, "1") || s.equals(a->value, "true"));
        } else if (s.localIs(t.name, "sheetData")) {
            // New rows go into the first sheetData with content, or the first empty one
            // when every one is empty (other readers take the rows of all of them).
            const bool primary = !hasSheetData || (sheetDataEmpty && !t.selfClosing);
            if (primary) {
                hasSheetData = true;
                sheetDataTag = t.whole;
                sheetDataEmpty = t.selfClosing;
            }
            if (t.selfClosing)
                continue;
            XmlToken r;
            while (s.next(&r)) {
                if (r.kind == XmlToken::EndTag && s.depth() == 1) {
                    if (primary)
                        sheetDataClose = quint32(r.whole.begin);
                    break;
                }
                if (r.kind != XmlToken::StartTag || !s.localIs(r.name, "row"))
                    continue;
                RowRec row;
                row.begin = quint32(r.whole.begin);
                row.tagEnd = quint32(r.whole.end);
                row.selfClosing = r.selfClosing;
                if (const XmlAttr *ra = s.attr(r, "r")) {
                    bool ok = false;
                    row.row = parseInt(xml.constData() + ra->value.begin,
                                       xml.constData() + ra->value.end, &ok);
                    if (!ok || row.row < 1 || row.row > kMaxRows)
                        return fail(QStringLiteral("bad row number \"%1\" (rows are 1 to %2)")
                                        .arg(QString::fromUtf8(s.bytes(ra->value)))
                                        .arg(kMaxRows));
                } else {
                    row.row = rowNumber + 1;
                    if (row.row > kMaxRows)
                        return fail(
                            QStringLiteral("a row after row %1, the sheet's last").arg(kMaxRows));
                }
                if (const XmlAttr *sp = s.attr(r, "spans")) {
                    row.spansBegin = quint32(sp->whole.begin);
                    row.spansEnd = quint32(sp->whole.end);
                }
                rowNumber = row.row;
                if (r.selfClosing) {
                    row.closeBegin = quint32(r.whole.end - 2);
                    row.end = quint32(r.whole.end);
                    if (keepCells)
                        rows.push_back(row);
                    continue;
                }
                int prevCol = 0;
                // The cells of this row element, checked for one given twice when they
                // are not in order.
                rowCells.clear();
                bool rowSorted = true;
                XmlToken c;
                for (;;) {
                    CellRec rec;
                    CellMore f;
                    FormulaGroup g;
                    int gk = 0;
                    // Cells of the common plain shapes are read here; any other goes through
                    // the scanner.
                    const qint64 after = s.depth() == 3 ? plainCell(xml, s.position(), prefix,
                                                                    row.row, prevCol, &rec)
                                                        : 0;
                    if (after > 0) {
                        s.skipTo(after);
                    } else {
                        if (!s.next(&c))
                            break;
                        if (c.kind == XmlToken::EndTag && s.depth() == 2) {
                            row.closeBegin = quint32(c.whole.begin);
                            row.end = quint32(c.whole.end);
                            break;
                        }
                        if (c.kind != XmlToken::StartTag || !s.localIs(c.name, "c") ||
                            s.depth() != (c.selfClosing ? 3 : 4))
                            continue;
                        QString why;
                        if (!parseCell(s, c, row.row, prevCol, &rec, &f, &g, &gk, &why))
                            return fail(s.failed() ? s.error() : why);
                    }
                    prevCol = rec.col;
                    if (rec.flags & CellRec::HasFormula) {
                        ++formulaCount;
                        if (keepCells)
                            more.push_back(f);
                        rec.more = quint32(more.size());
                    }
                    if (gk == 1 && !shared.contains(f.si)) {
                        shared.insert(f.si, g);
                        if (carry && !carry->masters.contains(f.si))
                            carry->masters.insert(f.si, {g, QByteArray(xml.constData() + f.fBegin,
                                                                       int(f.fEnd - f.fBegin))});
                    } else if (gk == 2)
                        arrays.append(g);
                    minRow = qMin(minRow, int(rec.row));
                    maxRow = qMax(maxRow, int(rec.row));
                    minCol = qMin(minCol, int(rec.col));
                    maxCol = qMax(maxCol, int(rec.col));
                    if (summaryOk)
                        note(rec);
                    if (rec.row < lastRow || (rec.row == lastRow && rec.col <= lastCol)) {
                        sorted = false;
                        rowSorted = false;
                    }
                    rowCells.emplace_back(rec.row, rec.col);
                    lastRow = rec.row;
                    lastCol = rec.col;
                    if (keepCells)
                        cells.push_back(rec);
                }
                if (s.failed())
                    return fail(s.error());
                if (!rowSorted) {
                    std::sort(rowCells.begin(), rowCells.end());
                    const auto dup = std::adjacent_find(rowCells.begin(), rowCells.end());
                    if (dup != rowCells.end()) {
                        CellRec rec;
                        rec.row = dup->first;
                        rec.col = quint16(dup->second);
                        return fail(twice(rec));
                    }
                }
                if (keepCells)
                    rows.push_back(row);
            }
            if (s.failed())
                return fail(s.error());
        }
    }
    if (s.failed())
        return fail(s.error());
    if (carry) {
        carry->rowNumber = rowNumber;
        carry->lastRow = lastRow;
        carry->lastCol = lastCol;
        carry->sorted = carry->sorted && sorted;
        if (maxRow > 0)
            carry->used = carry->used.isValid() ? CellRange(qMin(carry->used.firstRow, minRow),
                                                            qMin(carry->used.firstColumn, minCol),
                                                            qMax(carry->used.lastRow, maxRow),
                                                            qMax(carry->used.lastColumn, maxCol))
                                                : CellRange(minRow, minCol, maxRow, maxCol);
    }
    if (summaryOk) {
        summary.valid = true;
        if (maxRow > 0)
            summary.used = CellRange(minRow, minCol, maxRow, maxCol);
    } else {
        summary = SheetSummary();
    }
    if (!sorted) {
        std::stable_sort(cells.begin(), cells.end(), [](const CellRec &a, const CellRec &b) {
            return a.row != b.row ? a.row < b.row : a.col < b.col;
        });
        // Across row elements too, where the cells are kept.
        const auto dup =
            std::adjacent_find(cells.begin(), cells.end(), [](const CellRec &a, const CellRec &b) {
                return a.row == b.row && a.col == b.col;
            });
        if (dup != cells.end())
            return fail(twice(*dup));
    }
    return true;
}

} // namespace xlsx
