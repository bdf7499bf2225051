// Cell edits: every value, formula and clear written into a cell, in the sheet's buffer of
// rewritten cells; shared formula groups are taken apart where an edit touches them.
#include "xlsx/document_p.h"

#include <algorithm>
#include <cstring>

namespace xlsx {

bool WorksheetData::formulaText(const QString &formula, QString *text, QString *error) const
{
    *text = formula.startsWith(QLatin1Char('=')) ? formula.mid(1) : formula;
    if (!text->isEmpty())
        return true;
    if (error)
        *error = QStringLiteral("%1: empty formula").arg(label());
    return false;
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
        const bool value = c.flags & CellRec::HasValue;
        const bool inlineString = CellType(c.type) == CellType::InlineString;
        const char *type = value ? typeAttrOf(CellType(c.type)) : nullptr;
        QByteArray x;
        XmlFragment f(&x, prefix);
        openCell(f, c.row, c.col, c.style, inlineString ? "inlineStr" : type).end();
        f.element("f", escapeXml(text));
        if (value)
            f.element(inlineString ? "is" : "v", b + c.vBegin, int(c.vEnd - c.vBegin));
        f.close("c");
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
            doc->edits.formulaEdited = true;
            if (c.fkind() == FormulaKind::SharedMaster && !expandShared(moreOf(c).si, error))
                return false;
            if (c.fkind() == FormulaKind::ArrayMaster) {
                for (int k = 0; k < arrays.size(); ++k)
                    if (arrays[k].row == row && arrays[k].col == col)
                        arrays.remove(k--);
            }
        }
    }
    doc->edits.valueEdited = true;
    return true;
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
    QByteArray t;
    XmlFragment(&t, data()->prefix).textElement(text);
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
    data()->doc->edits.formulaEdited = true;
    return true;
}

bool Worksheet::setError(int row, int column, const QString &error, QString *errorMessage)
{
    if (!error.startsWith(QLatin1Char('#')) || error.size() > 32) {
        if (errorMessage)
            *errorMessage =
                QStringLiteral("%1: \"%2\" is not an error value").arg(data()->label(), error);
        return false;
    }
    return data()->writeCell(row, column, "e", "v", escapeXml(error), errorMessage);
}

bool Worksheet::setArrayFormula(int row, int column, const QString &formula, QString *error)
{
    WorksheetData *w = data();
    QString f;
    if (!w->formulaText(formula, &f, error))
        return false;
    // The range of the array anchored here stays; the anchor is taken out of it while its
    // text changes, as the rest of the range keeps its values.
    CellRange range(CellRef(row, column));
    for (int k = 0; k < w->arrays.size(); ++k) {
        if (w->arrays[k].row == row && w->arrays[k].col == column) {
            range = w->arrays[k].ref;
            w->arrays.remove(k--);
        }
    }
    const int i = w->find(row, column);
    const int style = i >= 0 ? w->cells[size_t(i)].style : 0;
    if (!w->prepareEdit(row, column, i, error)) {
        if (range.rowCount() > 1 || range.columnCount() > 1)
            w->arrays.append({row, column, range});
        return false;
    }
    const QByteArray ref = range.toString().toLatin1();
    QByteArray x;
    XmlFragment c(&x, w->prefix);
    openCell(c, row, column, style, nullptr).end();
    c.open("f").attr("t", "array").attr("ref", ref).end().raw(escapeXml(f)).close("f").close("c");
    if (!w->putCell(row, column, x, error))
        return false;
    w->arrays.append({row, column, range});
    w->doc->edits.formulaEdited = true;
    return true;
}

bool Worksheet::clearValue(int row, int column, QString *error)
{
    WorksheetData *w = data();
    const int i = w->find(row, column);
    if (i < 0)
        return w->checkEditable(row, column, error);
    const CellRec &c = w->cells[size_t(i)];
    if (!(c.flags & (CellRec::HasValue | CellRec::HasFormula)))
        return true;
    const int style = c.style;
    if (!w->prepareEdit(row, column, i, error))
        return false;
    QByteArray x;
    XmlFragment f(&x, w->prefix);
    openCell(f, row, column, style, nullptr).endEmpty();
    return w->putCell(row, column, x, error);
}

} // namespace xlsx
