#include "xlsx/cellref.h"

namespace xlsx {

QString columnName(int column)
{
    if (column < 1 || column > kMaxColumns)
        return QString();
    QString out;
    while (column > 0) {
        const int rem = (column - 1) % 26;
        out.prepend(QChar('A' + rem));
        column = (column - 1) / 26;
    }
    return out;
}

int columnNumber(const QString &name)
{
    if (name.isEmpty() || name.size() > 3)
        return 0;
    int n = 0;
    for (QChar ch : name) {
        // Upper-case only ASCII: some other letters fold to ASCII ones.
        ushort u = ch.unicode();
        if (u >= 'a' && u <= 'z')
            u -= 'a' - 'A';
        if (u < 'A' || u > 'Z')
            return 0;
        n = n * 26 + (u - 'A' + 1);
    }
    return n <= kMaxColumns ? n : 0;
}

QString CellRef::toString() const
{
    if (!isValid())
        return QString();
    return columnName(column) + QString::number(row);
}

CellRef CellRef::fromString(const QString &text)
{
    int i = 0;
    const int n = text.size();
    if (i < n && text[i] == QLatin1Char('$'))
        ++i;
    const int colStart = i;
    while (i < n && text[i].isLetter() && text[i].unicode() < 128)
        ++i;
    const int col = columnNumber(text.mid(colStart, i - colStart));
    if (i < n && text[i] == QLatin1Char('$'))
        ++i;
    const int rowStart = i;
    qint64 row = 0;
    while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
        row = row * 10 + (text[i].unicode() - '0');
        if (row > kMaxRows)
            return CellRef();
        ++i;
    }
    if (i != n || i == rowStart || col == 0)
        return CellRef();
    CellRef r(int(row), col);
    return r.isValid() ? r : CellRef();
}

QString CellRange::toString() const
{
    if (!isValid())
        return QString();
    if (firstRow == lastRow && firstColumn == lastColumn)
        return CellRef(firstRow, firstColumn).toString();
    return CellRef(firstRow, firstColumn).toString() + QLatin1Char(':') +
           CellRef(lastRow, lastColumn).toString();
}

CellRange CellRange::fromString(const QString &text)
{
    const int colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        const CellRef r = CellRef::fromString(text);
        return r.isValid() ? CellRange(r) : CellRange();
    }
    const CellRef a = CellRef::fromString(text.left(colon));
    const CellRef b = CellRef::fromString(text.mid(colon + 1));
    if (!a.isValid() || !b.isValid())
        return CellRange();
    return CellRange(qMin(a.row, b.row), qMin(a.column, b.column), qMax(a.row, b.row),
                     qMax(a.column, b.column));
}

} // namespace xlsx
