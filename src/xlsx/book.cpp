#include "xlsx/book.h"

#include "xlsx/document.h"

namespace xlsx {

Book::Book(const QString &path) : m_doc(new Document), m_path(path)
{
    m_doc->create(path);
}
Book::~Book() = default;
QString Book::loadError() const
{
    return m_loadError;
}
QStringList Book::sheetNames() const
{
    return m_doc->sheetNames();
}
bool Book::selectSheet(const QString &)
{
    return false;
}
QString Book::currentSheetName() const
{
    return QString();
}
bool Book::addSheet(const QString &, QString *)
{
    return false;
}
CellRange Book::dimension() const
{
    return CellRange(1, 1, 1, 1);
}
QString Book::read(int, int) const
{
    return QString();
}
QString Book::read(const QString &) const
{
    return QString();
}
bool Book::write(int, int, const QString &)
{
    return false;
}
bool Book::write(const QString &, const QString &)
{
    return false;
}
bool Book::save(QString *error)
{
    return m_doc->save(error);
}
bool Book::saveAs(const QString &path, QString *error)
{
    return m_doc->saveAs(path, error);
}

} // namespace xlsx
