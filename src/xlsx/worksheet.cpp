#include "xlsx/document_p.h"

namespace xlsx {

Worksheet::Worksheet(std::unique_ptr<WorksheetData> data) : d(std::move(data)) {}
Worksheet::~Worksheet() = default;
QString Worksheet::name() const
{
    return QString();
}
int Worksheet::index() const
{
    return d->index;
}
int Worksheet::cellCount() const
{
    return 0;
}
Cell Worksheet::cellAt(int) const
{
    return Cell();
}
Cell Worksheet::cell(int row, int column) const
{
    Cell c;
    c.row = row;
    c.column = column;
    return c;
}
bool Worksheet::hasCell(int, int) const
{
    return false;
}
int Worksheet::indexOf(int, int) const
{
    return -1;
}
CellRange Worksheet::usedRange() const
{
    return CellRange(1, 1, 1, 1);
}
bool Worksheet::hasFormulas() const
{
    return false;
}
bool Worksheet::isProtected() const
{
    return false;
}
QVector<CellRange> Worksheet::arrayFormulaRanges() const
{
    return {};
}
QVector<TableInfo> Worksheet::tables() const
{
    return {};
}
bool Worksheet::renameTableColumn(int, int, const QString &, QString *)
{
    return false;
}
bool Worksheet::setString(int, int, const QString &, QString *)
{
    return false;
}
bool Worksheet::setNumber(int, int, const QString &, QString *)
{
    return false;
}
bool Worksheet::setBoolean(int, int, bool, QString *)
{
    return false;
}
bool Worksheet::setFormula(int, int, const QString &, QString *)
{
    return false;
}
bool Worksheet::expandSharedFormula(int, int, QString *)
{
    return true;
}
bool Worksheet::isModified() const
{
    return false;
}

} // namespace xlsx
