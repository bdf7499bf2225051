// Cell addresses: (row, column) pairs counted from 1, their "A1" spelling,
// and rectangular ranges.
#pragma once

#include <QString>

namespace xlsx {

constexpr int kMaxRows = 1048576;
constexpr int kMaxColumns = 16384;

// "A" for 1, "Z" for 26, "AA" for 27 ... "XFD" for 16384; empty when out of range.
QString columnName(int column);
// 1 for "A" (case-insensitive); 0 when the text is not a column name in range.
int columnNumber(const QString &name);

struct CellRef
{
    int row = 0;
    int column = 0;

    CellRef() = default;
    CellRef(int r, int c) : row(r), column(c) {}

    bool isValid() const
    {
        return row >= 1 && row <= kMaxRows && column >= 1 && column <= kMaxColumns;
    }
    // "B3"; empty when invalid.
    QString toString() const;
    // Parses "B3" or "$B$3" (case-insensitive); an invalid CellRef otherwise.
    static CellRef fromString(const QString &text);

    bool operator==(const CellRef &o) const { return row == o.row && column == o.column; }
    bool operator!=(const CellRef &o) const { return !(*this == o); }
};

struct CellRange
{
    int firstRow = 0;
    int firstColumn = 0;
    int lastRow = 0;
    int lastColumn = 0;

    CellRange() = default;
    CellRange(int r1, int c1, int r2, int c2)
        : firstRow(r1), firstColumn(c1), lastRow(r2), lastColumn(c2)
    {
    }
    explicit CellRange(const CellRef &single)
        : CellRange(single.row, single.column, single.row, single.column)
    {
    }

    bool isValid() const
    {
        return CellRef(firstRow, firstColumn).isValid() && CellRef(lastRow, lastColumn).isValid() &&
               firstRow <= lastRow && firstColumn <= lastColumn;
    }
    int rowCount() const { return isValid() ? lastRow - firstRow + 1 : 0; }
    int columnCount() const { return isValid() ? lastColumn - firstColumn + 1 : 0; }
    bool contains(int row, int column) const
    {
        return row >= firstRow && row <= lastRow && column >= firstColumn && column <= lastColumn;
    }
    // "A1:C4", or "B2" for a single cell; empty when invalid.
    QString toString() const;
    // Parses "A1:C4", "B2" or "$A$1:$C$4"; an invalid range otherwise.
    static CellRange fromString(const QString &text);

    bool operator==(const CellRange &o) const
    {
        return firstRow == o.firstRow && firstColumn == o.firstColumn && lastRow == o.lastRow &&
               lastColumn == o.lastColumn;
    }
    bool operator!=(const CellRange &o) const { return !(*this == o); }
};

} // namespace xlsx
