// Cell edits beyond plain values: error constants, one-cell array formulas, and
// clearing a value while the cell keeps its style.
#include "xlsx/document_p.h"

namespace xlsx {

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
    QByteArray x = w->startTag(row, column, style, nullptr);
    x += "<" + w->prefix + "f t=\"array\" ref=\"" + ref + "\">" + escapeXml(f) + "</" + w->prefix +
         "f></" + w->prefix + "c>";
    if (!w->putCell(row, column, x, error))
        return false;
    w->arrays.append({row, column, range});
    w->doc->formulaEdited = true;
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
    QByteArray x = w->startTag(row, column, style, nullptr);
    x.chop(1);
    x += "/>";
    return w->putCell(row, column, x, error);
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
