#include "xlsx/document_p.h"
#include "xlsx/formula.h"

#include <QMap>

#include <algorithm>
#include <climits>
#include <cstring>

namespace xlsx {
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

// The "t" attribute of each CellType (none for numbers and empty cells).
const char *const kTypeAttrs[] = {nullptr, "s", "inlineStr", "str", nullptr, "b", "e", "d"};

// The type a "t" attribute value names; numbers for no value, "n" or an unknown one.
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

// Parses one <c> element whose start tag is `t`; advances the scanner past it.
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

QString WorksheetData::label() const
{
    return QStringLiteral("%1: part /%2").arg(doc ? doc->label() : QString(), entryName);
}

bool WorksheetData::formulaText(const QString &formula, QString *text, QString *error) const
{
    *text = formula.startsWith(QLatin1Char('=')) ? formula.mid(1) : formula;
    if (!text->isEmpty())
        return true;
    if (error)
        *error = QStringLiteral("%1: empty formula").arg(label());
    return false;
}

bool WorksheetData::parse(QString *error, bool keepCells)
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
    const qint64 maxShared = qMax<qint64>(4096, xml.size() / 4);
    bool summaryOk = true;
    int minRow = INT_MAX, maxRow = 0, minCol = INT_MAX, maxCol = 0;
    auto note = [&](const CellRec &rec) {
        minRow = qMin(minRow, int(rec.row));
        maxRow = qMax(maxRow, int(rec.row));
        minCol = qMin(minCol, int(rec.col));
        maxCol = qMax(maxCol, int(rec.col));
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
    {
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
    int rowNumber = 0;
    bool sorted = true;
    std::vector<std::pair<int, int>> rowCells;
    auto twice = [](const CellRec &rec) {
        return QStringLiteral("cell %1 is given twice")
            .arg(CellRef(rec.row, rec.col).toString());
    };
    int lastRow = 0, lastCol = 0;
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
                        return fail(QStringLiteral("a row after row %1, the sheet's last").arg(kMaxRows));
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
                    if (gk == 1 && !shared.contains(f.si))
                        shared.insert(f.si, g);
                    else if (gk == 2)
                        arrays.append(g);
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

int WorksheetData::find(int row, int col) const
{
    auto it = std::lower_bound(cells.begin(), cells.end(), std::make_pair(row, col),
                               [](const CellRec &c, const std::pair<int, int> &k) {
                                   return c.row != k.first ? c.row < k.first : c.col < k.second;
                               });
    if (it == cells.end() || it->row != row || it->col != col)
        return -1;
    return int(it - cells.begin());
}

QString WorksheetData::formulaText(const CellRec &rec) const
{
    if (!(rec.flags & CellRec::HasFormula))
        return QString();
    const char *b = base(rec);
    if (rec.fkind() == FormulaKind::SharedMember) {
        const auto it = shared.constFind(moreOf(rec).si);
        if (it == shared.constEnd())
            return QString();
        const int mi = find(it->row, it->col);
        if (mi < 0)
            return QString();
        const CellRec &m = cells[size_t(mi)];
        if (m.fkind() != FormulaKind::SharedMaster)
            return QString();
        QString text;
        decodeXmlText(base(m) + moreOf(m).fBegin, base(m) + moreOf(m).fEnd, &text);
        return shiftFormula(text, rec.row - m.row, rec.col - m.col);
    }
    QString text;
    decodeXmlText(b + moreOf(rec).fBegin, b + moreOf(rec).fEnd, &text);
    return text;
}

int WorksheetData::sharedStringIndex(const CellRec &rec) const
{
    // The <v> of a shared-string cell is a plain decimal index; anything else
    // (entities, signs) goes the slow way.
    const char *b = base(rec);
    const char *p = b + rec.vBegin;
    const char *e = b + rec.vEnd;
    while (p < e && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
        ++p;
    while (e > p && (e[-1] == ' ' || e[-1] == '\t' || e[-1] == '\n' || e[-1] == '\r'))
        --e;
    qint64 n = 0;
    const char *q = p;
    for (; q < e && *q >= '0' && *q <= '9' && n <= INT_MAX; ++q)
        n = n * 10 + (*q - '0');
    if (q == e && q > p && n <= INT_MAX)
        return int(n);
    QString idx;
    decodeXmlText(b + rec.vBegin, b + rec.vEnd, &idx);
    bool ok = false;
    const int i = idx.trimmed().toInt(&ok);
    return ok && i >= 0 ? i : -1;
}

Cell WorksheetData::toCell(const CellRec &rec) const
{
    Cell c;
    c.row = rec.row;
    c.column = rec.col;
    c.exists = true;
    c.type = CellType(rec.type);
    c.style = rec.style;
    const char *b = base(rec);
    if (rec.flags & CellRec::HasValue) {
        switch (c.type) {
        case CellType::InlineString:
            flattenStringItem(b + rec.vBegin, b + rec.vEnd, &c.text);
            break;
        case CellType::SharedString: {
            const int i = sharedStringIndex(rec);
            c.text = i >= 0 ? doc->sharedString(i) : QString();
            break;
        }
        case CellType::FormulaString:
            decodeXmlText(b + rec.vBegin, b + rec.vEnd, &c.text);
            c.text = decodeOfficeEscapes(c.text);
            break;
        default:
            decodeXmlText(b + rec.vBegin, b + rec.vEnd, &c.text);
            break;
        }
    }
    c.formulaKind = rec.fkind();
    if (rec.flags & CellRec::HasFormula) {
        c.formula = formulaText(rec);
        c.sharedIndex = moreOf(rec).si;
        if (c.formulaKind == FormulaKind::SharedMaster)
            c.formulaRange = shared.value(c.sharedIndex).ref;
    }
    for (const FormulaGroup &g : arrays) {
        if (g.ref.contains(rec.row, rec.col)) {
            if (g.row == rec.row && g.col == rec.col)
                c.formulaRange = g.ref;
            if (g.ref.rowCount() > 1 || g.ref.columnCount() > 1)
                c.inArrayRange = true;
        }
    }
    return c;
}

QByteArray WorksheetData::startTag(int row, int col, int style, const char *type) const
{
    QByteArray out = "<" + prefix + "c r=\"" + CellRef(row, col).toString().toLatin1() + "\"";
    if (style > 0)
        out += " s=\"" + QByteArray::number(style) + "\"";
    if (type)
        out += QByteArray(" t=\"") + type + "\"";
    out += ">";
    return out;
}

bool WorksheetData::checkEditable(int row, int col, QString *error) const
{
    if (!CellRef(row, col).isValid()) {
        if (error)
            *error = QStringLiteral("%1: cell (%2, %3) is outside the sheet")
                         .arg(label())
                         .arg(row)
                         .arg(col);
        return false;
    }
    if (!hasSheetData) {
        if (error)
            *error = entryName.isEmpty()
                         ? QStringLiteral("%1: sheet \"%2\" has no part in the package, so it "
                                          "cannot take cells")
                               .arg(doc ? doc->label() : QString(), name)
                         : QStringLiteral("%1: the worksheet has no sheetData").arg(label());
        return false;
    }
    for (const FormulaGroup &g : arrays) {
        if (g.ref.contains(row, col) && (g.ref.rowCount() > 1 || g.ref.columnCount() > 1)) {
            if (error)
                *error = QStringLiteral("%1: cell %2 is part of the array formula %3")
                             .arg(label(), CellRef(row, col).toString(), g.ref.toString());
            return false;
        }
    }
    return true;
}

bool WorksheetData::putCell(int row, int col, const QByteArray &cellXml, QString *error)
{
    CellRec rec;
    CellMore f;
    const quint32 offset = quint32(extra.size());
    extra += cellXml;
    // Re-read the new element from the edit buffer.
    XmlScanner s(extra.constData() + offset, cellXml.size());
    XmlToken t;
    if (!s.next(&t) || t.kind != XmlToken::StartTag) {
        if (error)
            *error = QStringLiteral("%1: internal error writing a cell").arg(label());
        return false;
    }
    FormulaGroup g;
    int gk = 0;
    QString why;
    if (!parseCell(s, t, row, col - 1, &rec, &f, &g, &gk, &why)) {
        if (error)
            *error = QStringLiteral("%1: internal error writing a cell: %2").arg(label(), why);
        return false;
    }
    rec.begin += offset;
    rec.end += offset;
    rec.vBegin += offset;
    rec.vEnd += offset;
    f.fBegin += offset;
    f.fEnd += offset;
    rec.flags |= CellRec::InExtra;
    store(rec, (rec.flags & CellRec::HasFormula) ? &f : nullptr);
    return true;
}

void WorksheetData::store(CellRec rec, const CellMore *formula, int i)
{
    const int row = rec.row, col = rec.col;
    if (i == -2)
        i = find(row, col);
    CellMore m;
    if (formula) {
        m.fBegin = formula->fBegin;
        m.fEnd = formula->fEnd;
        m.si = formula->si;
    }
    quint32 slot = 0;
    if (i >= 0) {
        const CellRec &old = cells[size_t(i)];
        slot = old.more;
        if (!(old.flags & CellRec::InExtra)) {
            m.origBegin = old.begin;
            m.origEnd = old.end;
        } else if (slot) {
            m.origBegin = more[slot - 1].origBegin;
            m.origEnd = more[slot - 1].origEnd;
        }
        if (old.flags & CellRec::HasFormula)
            --formulaCount;
    }
    rec.more = 0;
    if ((rec.flags & CellRec::HasFormula) || m.origEnd) {
        if (!slot) {
            more.push_back(m);
            slot = quint32(more.size());
        } else {
            more[slot - 1] = m;
        }
        rec.more = slot;
    }
    if (i >= 0) {
        cells[size_t(i)] = rec;
    } else {
        auto it = std::lower_bound(cells.begin(), cells.end(), std::make_pair(row, col),
                                   [](const CellRec &c, const std::pair<int, int> &k) {
                                       return c.row != k.first ? c.row < k.first : c.col < k.second;
                                   });
        cells.insert(it, rec);
    }
    if (rec.flags & CellRec::HasFormula)
        ++formulaCount;
    modified = true;
}

bool WorksheetData::expandShared(int si, QString *error)
{
    const auto git = shared.constFind(si);
    if (git == shared.constEnd())
        return true;
    // Every member with its own text, its cached value kept.
    QVector<QPair<int, int>> members;
    for (const CellRec &c : cells)
        if ((c.flags & CellRec::HasFormula) && moreOf(c).si == si)
            members.append(qMakePair(c.row, c.col));
    QVector<QByteArray> rewritten;
    for (const auto &m : members) {
        const CellRec &c = cells[size_t(find(m.first, m.second))];
        const QString text = formulaText(c);
        const char *b = base(c);
        const char *type = (c.flags & CellRec::HasValue) ? kTypeAttrs[c.type] : nullptr;
        QByteArray x = startTag(c.row, c.col, c.style,
                                CellType(c.type) == CellType::InlineString ? "inlineStr" : type);
        x += "<" + prefix + "f>" + escapeXml(text) + "</" + prefix + "f>";
        if (c.flags & CellRec::HasValue) {
            if (CellType(c.type) == CellType::InlineString)
                x += "<" + prefix + "is>" + QByteArray(b + c.vBegin, int(c.vEnd - c.vBegin)) +
                     "</" + prefix + "is>";
            else
                x += "<" + prefix + "v>" + QByteArray(b + c.vBegin, int(c.vEnd - c.vBegin)) + "</" +
                     prefix + "v>";
        }
        x += "</" + prefix + "c>";
        rewritten.append(x);
    }
    for (int k = 0; k < members.size(); ++k)
        if (!putCell(members[k].first, members[k].second, rewritten[k], error))
            return false;
    shared.remove(si);
    return true;
}

bool WorksheetData::prepareEdit(int row, int col, int i, QString *error)
{
    if (!checkEditable(row, col, error))
        return false;
    if (i >= 0) {
        const CellRec &c = cells[size_t(i)];
        if (c.flags & CellRec::HasFormula) {
            doc->formulaEdited = true;
            if (c.fkind() == FormulaKind::SharedMaster && !expandShared(moreOf(c).si, error))
                return false;
            if (c.fkind() == FormulaKind::ArrayMaster) {
                for (int k = 0; k < arrays.size(); ++k)
                    if (arrays[k].row == row && arrays[k].col == col)
                        arrays.remove(k--);
            }
        }
    }
    doc->valueEdited = true;
    return true;
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
            QByteArray x = "<" + prefix + "row r=\"" + QByteArray::number(r) + "\">";
            for (const CellRec *c : it.value())
                x += cellBytes(c);
            x += "</" + prefix + "row>";
            newRows.insert(r, x);
            continue;
        }
        const RowRec &row = rows[size_t(*ri)];
        if (row.selfClosing) {
            QByteArray x(xml.constData() + row.begin, int(row.closeBegin - row.begin));
            if (row.spansEnd > row.spansBegin)
                x.remove(int(row.spansBegin - row.begin), int(row.spansEnd - row.spansBegin));
            x += ">";
            for (const CellRec *c : it.value())
                x += cellBytes(c);
            x += "</" + prefix + "row>";
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
            QByteArray x = tag.left(tag.lastIndexOf('/')) + ">";
            for (const QByteArray &r : newRows)
                x += r;
            x += "</" + prefix + "sheetData>";
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

// ---------------------------------------------------------------------------

Worksheet::Worksheet(std::unique_ptr<WorksheetData> data) : d(std::move(data)) {}
Worksheet::~Worksheet() = default;

void WorksheetData::release()
{
    xml = QByteArray();
    extra = QByteArray();
    std::vector<CellRec>().swap(cells);
    std::vector<RowRec>().swap(rows);
    std::deque<CellMore>().swap(more);
    shared.clear();
    stale = true;
}

const SheetSummary *Worksheet::summary() const
{
    return !d->modified && d->summary.valid ? &d->summary : nullptr;
}

WorksheetData *Worksheet::data() const
{
    if (d->stale) {
        d->stale = false;
        QString error;
        if (d->xml.isNull() && d->doc && !d->doc->readPart(d->entryName, &d->xml, &error))
            qWarning("%s", qPrintable(error));
        else if (!d->parse(&error))
            qWarning("%s", qPrintable(error));
    }
    return d.get();
}
QString Worksheet::name() const
{
    return d->name;
}
int Worksheet::index() const
{
    return d->index;
}
int Worksheet::cellCount() const
{
    return int(data()->cells.size());
}

Cell Worksheet::cellAt(int i) const
{
    if (i < 0 || i >= int(data()->cells.size()))
        return Cell();
    return data()->toCell(data()->cells[size_t(i)]);
}

CellHead Worksheet::headAt(int i) const
{
    CellHead h;
    const WorksheetData *wd = data();
    if (i < 0 || i >= int(wd->cells.size()))
        return h;
    const CellRec &rec = wd->cells[size_t(i)];
    h.row = rec.row;
    h.column = rec.col;
    h.type = CellType(rec.type);
    h.style = rec.style;
    h.hasFormula = rec.flags & CellRec::HasFormula;
    if (h.type == CellType::SharedString && (rec.flags & CellRec::HasValue))
        h.sharedString = wd->sharedStringIndex(rec);
    return h;
}

bool Worksheet::plainStoredText(int i, const char **begin, const char **end) const
{
    const WorksheetData *wd = data();
    if (i < 0 || i >= int(wd->cells.size()))
        return false;
    const CellRec &rec = wd->cells[size_t(i)];
    if (!(rec.flags & CellRec::HasValue))
        return false;
    // A shared string is judged once, by the shared strings it is kept with.
    if (rec.type == quint8(CellType::SharedString))
        return wd->doc->plainSharedString(wd->sharedStringIndex(rec), begin, end);
    if (rec.type != quint8(CellType::InlineString))
        return false;
    const char *p = wd->base(rec) + rec.vBegin;
    const char *e = wd->base(rec) + rec.vEnd;
    if (!isPlainStoredText(p, e))
        return false;
    *begin = p;
    *end = e;
    return true;
}

bool Worksheet::textMayContain(int i, const QByteArray &utf8) const
{
    const char *p = nullptr;
    const char *e = nullptr;
    if (utf8.isEmpty() || !plainStoredText(i, &p, &e))
        return true;
    // Then a miss in the bytes is a miss in the text.
    const char *n = utf8.constData();
    const qsizetype len = utf8.size();
    for (const char *q = p; e - q >= len; ++q) {
        q = static_cast<const char *>(memchr(q, n[0], size_t(e - q - len + 1)));
        if (!q)
            return false;
        if (memcmp(q, n, size_t(len)) == 0)
            return true;
    }
    return false;
}

Cell Worksheet::cell(int row, int column) const
{
    const int i = data()->find(row, column);
    if (i >= 0)
        return data()->toCell(data()->cells[size_t(i)]);
    Cell c;
    c.row = row;
    c.column = column;
    for (const FormulaGroup &g : data()->arrays)
        if (g.ref.contains(row, column) && (g.ref.rowCount() > 1 || g.ref.columnCount() > 1))
            c.inArrayRange = true;
    return c;
}

bool Worksheet::hasCell(int row, int column) const
{
    return data()->find(row, column) >= 0;
}
int Worksheet::indexOf(int row, int column) const
{
    return data()->find(row, column);
}

CellRange WorksheetData::usedRange() const
{
    if (cells.empty())
        return CellRange(1, 1, 1, 1);
    CellRange r(cells.front().row, kMaxColumns, cells.back().row, 1);
    for (const CellRec &c : cells) {
        r.firstColumn = qMin(r.firstColumn, int(c.col));
        r.lastColumn = qMax(r.lastColumn, int(c.col));
    }
    return r;
}

CellRange Worksheet::usedRange() const
{
    if (const SheetSummary *s = summary())
        return s->used;
    return data()->usedRange();
}

bool Worksheet::hasFormulas() const
{
    return (summary() ? d.get() : data())->formulaCount > 0;
}
bool Worksheet::isProtected() const
{
    return (summary() ? d.get() : data())->isProtected;
}

QVector<CellRange> Worksheet::arrayFormulaRanges() const
{
    QVector<CellRange> out;
    for (const FormulaGroup &g : (summary() ? d.get() : data())->arrays)
        out.append(g.ref);
    return out;
}

namespace {

} // namespace

void WorksheetData::appendBareCell(const CellRec &c, QByteArray *out) const
{
    const bool formula = c.flags & CellRec::HasFormula;
    const CellType type = CellType(c.type);
    const char *child = formula ? "f" : type == CellType::InlineString ? "is" : "v";
    const char *t =
        formula || c.type >= sizeof kTypeAttrs / sizeof *kTypeAttrs ? nullptr : kTypeAttrs[c.type];
    // "<" prefix "c r=\"" ref "\" s=\"" style "\" t=\"" type "\">"
    char head[64];
    int n = 0;
    auto put = [&](const char *text) {
        while (*text)
            head[n++] = *text++;
    };
    auto putNumber = [&](quint32 v) {
        char digits[10];
        int k = 0;
        do {
            digits[k++] = char('0' + v % 10);
            v /= 10;
        } while (v);
        while (k)
            head[n++] = digits[--k];
    };
    put("c r=\"");
    char letters[4];
    int k = 0;
    for (int col = c.col; col > 0 && k < 4; col = (col - 1) / 26)
        letters[k++] = char('A' + (col - 1) % 26);
    while (k)
        head[n++] = letters[--k];
    putNumber(quint32(c.row));
    head[n++] = '"';
    if (c.style > 0) {
        put(" s=\"");
        putNumber(quint32(c.style));
        head[n++] = '"';
    }
    if (t) {
        put(" t=\"");
        put(t);
        head[n++] = '"';
    }
    out->append('<');
    out->append(prefix);
    out->append(head, n);
    out->append("><");
    out->append(prefix);
    out->append(child);
    out->append('>');
    out->append(extra.constData() + c.begin, int(c.end - c.begin));
    out->append("</");
    out->append(prefix);
    out->append(child);
    out->append("></");
    out->append(prefix);
    out->append("c>");
}

bool WorksheetData::writeCell(int row, int col, const char *type, const char *child,
                              const QByteArray &content, QString *error, int newStyle)
{
    // Rewriting members of a shared formula before the edit leaves every position as it is.
    const int i = find(row, col);
    const int style = newStyle >= 0 ? newStyle : i >= 0 ? cells[size_t(i)].style : 0;
    if (!prepareEdit(row, col, i, error))
        return false;
    // Only the content goes into the edit buffer: the element around it follows from the
    // record and is written when the part is.
    CellRec rec;
    CellMore f;
    rec.row = row;
    rec.col = quint16(col);
    rec.style = style;
    rec.flags = CellRec::InExtra | CellRec::Bare;
    const bool isFormula = strcmp(child, "f") == 0;
    rec.type = quint8(isFormula ? CellType::Empty : typeOfAttr(type, type ? strlen(type) : 0));
    rec.flags |= isFormula ? CellRec::HasFormula : CellRec::HasValue;
    if (isFormula)
        rec.setFkind(FormulaKind::Normal);
    // A rewritten cell whose earlier content left room enough takes that place again.
    quint32 at = quint32(extra.size());
    if (i >= 0) {
        const CellRec &old = cells[size_t(i)];
        if ((old.flags & CellRec::Bare) && old.end - old.begin >= quint32(content.size())) {
            at = old.begin;
            memcpy(extra.data() + at, content.constData(), size_t(content.size()));
        }
    }
    if (at == quint32(extra.size()))
        extra += content;
    rec.begin = at;
    rec.end = at + quint32(content.size());
    if (isFormula) {
        f.fBegin = rec.begin;
        f.fEnd = rec.end;
    } else {
        rec.vBegin = rec.begin;
        rec.vEnd = rec.end;
    }
    store(rec, isFormula ? &f : nullptr, i);
    return true;
}

bool Worksheet::setString(int row, int column, const QString &text, QString *error)
{
    return setString(row, column, text, -1, error);
}

bool Worksheet::setString(int row, int column, const QString &text, int style, QString *error)
{
    const QByteArray &p = data()->prefix;
    const QByteArray escaped = escapeOfficeText(text);
    const bool preserve = !text.isEmpty() && (text.front().isSpace() || text.back().isSpace() ||
                                              text.contains(QLatin1Char('\n')));
    // Built in one buffer: this runs for every cell a replace changes.
    QByteArray t;
    t.reserve(escaped.size() + 2 * p.size() + 32);
    t.append('<').append(p).append('t');
    if (preserve)
        t.append(" xml:space=\"preserve\"");
    t.append('>').append(escaped).append("</").append(p).append("t>");
    return data()->writeCell(row, column, "inlineStr", "is", t, error, style);
}

static bool isNumberLiteral(const QString &s)
{
    bool ok = false;
    s.toDouble(&ok);
    if (!ok || s.isEmpty())
        return false;
    for (QChar c : s)
        if (!(c.isDigit() || c == QLatin1Char('-') || c == QLatin1Char('+') ||
              c == QLatin1Char('.') || c == QLatin1Char('e') || c == QLatin1Char('E')))
            return false;
    return true;
}

bool Worksheet::setNumber(int row, int column, const QString &literal, QString *error)
{
    if (!isNumberLiteral(literal)) {
        if (error)
            *error = QStringLiteral("%1: \"%2\" is not a number").arg(data()->label(), literal);
        return false;
    }
    return data()->writeCell(row, column, nullptr, "v", literal.toLatin1(), error);
}

bool Worksheet::setBoolean(int row, int column, bool value, QString *error)
{
    return data()->writeCell(row, column, "b", "v", value ? "1" : "0", error);
}

bool Worksheet::setFormula(int row, int column, const QString &formula, QString *error)
{
    QString f;
    if (!data()->formulaText(formula, &f, error))
        return false;
    if (!data()->writeCell(row, column, nullptr, "f", escapeXml(f), error))
        return false;
    data()->doc->formulaEdited = true;
    return true;
}

bool Worksheet::expandSharedFormula(int row, int column, QString *error)
{
    const int i = data()->find(row, column);
    if (i < 0)
        return true;
    const CellRec &c = data()->cells[size_t(i)];
    const int si = data()->moreOf(c).si;
    if (!(c.flags & CellRec::HasFormula) || si < 0)
        return true;
    data()->doc->formulaEdited = true;
    return data()->expandShared(si, error);
}

bool Worksheet::isModified() const
{
    return data()->modified;
}

} // namespace xlsx
