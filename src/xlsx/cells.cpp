// Cell access: cells by position and by address, their snapshots, the used range, and
// what the sheet says outside its cells.
#include "xlsx/document_p.h"
#include "xlsx/formula.h"

#include <algorithm>
#include <climits>

namespace xlsx {

Worksheet::Worksheet(std::unique_ptr<WorksheetData> data) : d(std::move(data)) {}
Worksheet::~Worksheet() = default;

QString WorksheetData::label() const
{
    return QStringLiteral("%1: part /%2").arg(doc ? doc->label() : QString(), entryName);
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
        if (mi < 0 && earlierMasters) {
            // The master lies in an earlier window of the sheet.
            const auto m = earlierMasters->constFind(moreOf(rec).si);
            if (m == earlierMasters->constEnd())
                return QString();
            QString text;
            decodeXmlText(m->text.constData(), m->text.constData() + m->text.size(), &text);
            return shiftFormula(text, rec.row - it->row, rec.col - it->col);
        }
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
        if (d->windowed) {
            d->windowed = false;
            // The edits waiting for the save are made now, on the whole sheet.
            std::vector<WorksheetData::WindowEdit> edits;
            edits.swap(d->windowEdits);
            for (const WorksheetData::WindowEdit &edit : edits)
                edit(const_cast<Worksheet *>(this));
        }
    }
    return d.get();
}

const WorksheetData *Worksheet::light() const
{
    return summary() || (d->windowed && d->stale) ? d.get() : data();
}

bool Worksheet::isWindowed() const
{
    return d->windowed && d->stale;
}

bool Worksheet::forEachWindow(const std::function<bool(Worksheet *window)> &visit,
                              QString *error) const
{
    if (!isWindowed()) {
        if (error)
            *error = QStringLiteral("%1: not read in windows").arg(d->label());
        return false;
    }
    // What the windows' edits tell the document is let go with them.
    EditsState &edits = d->doc->edits;
    const bool formulaEdited = edits.formulaEdited, valueEdited = edits.valueEdited;
    const bool ok = d->forEachWindow(visit, nullptr, error, true);
    edits.formulaEdited = formulaEdited;
    edits.valueEdited = valueEdited;
    return ok;
}

void Worksheet::addWindowEdit(std::function<void(Worksheet *window)> edit)
{
    d->windowEdits.push_back(std::move(edit));
    d->modified = true;
}

void Worksheet::dropLastWindowEdit(bool wasModified)
{
    if (!d->windowEdits.empty())
        d->windowEdits.pop_back();
    d->modified = wasModified;
}

bool Worksheet::isLookAhead() const
{
    return d->lookAhead;
}

int Worksheet::windowIndex() const
{
    return d->windowIndex;
}

int Worksheet::windowLastRow() const
{
    int last = 0;
    for (const RowRec &r : d->rows)
        last = qMax(last, int(r.row));
    return last;
}
QString Worksheet::name() const
{
    return d->name;
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
    if (isWindowed())
        return d->cellsUsed;
    return data()->usedRange();
}

bool Worksheet::hasFormulas() const
{
    return light()->formulaCount > 0;
}
bool Worksheet::isProtected() const
{
    return light()->isProtected;
}

QVector<CellRange> Worksheet::arrayFormulaRanges() const
{
    QVector<CellRange> out;
    for (const FormulaGroup &g : light()->arrays)
        out.append(g.ref);
    return out;
}

bool Worksheet::isModified() const
{
    return d->modified;
}

bool Worksheet::mentionedOutsideCells(const QByteArray &utf8) const
{
    const WorksheetData *w = data();
    const QByteArray needle = utf8.toLower();
    if (!w->hasSheetData)
        return w->xml.toLower().contains(needle);
    const QByteArray before = w->xml.left(int(w->sheetDataTag.begin)).toLower();
    if (before.contains(needle))
        return true;
    if (w->sheetDataEmpty)
        return w->xml.mid(int(w->sheetDataTag.end)).toLower().contains(needle);
    return w->xml.mid(int(w->sheetDataClose)).toLower().contains(needle);
}

} // namespace xlsx
