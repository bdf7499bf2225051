#include "xlsx/book.h"

#include "xlsx/document.h"

#include <QFileInfo>

namespace xlsx {

Book::Book(const QString &path) : m_doc(new Document), m_path(path)
{
    if (QFileInfo(path).isFile()) {
        if (m_doc->open(path, &m_loadError)) {
            m_current = m_doc->activeSheetIndex();
            return;
        }
    }
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

bool Book::selectSheet(const QString &name)
{
    const int i = m_doc->indexOfSheet(name);
    if (i < 0 || m_doc->sheetInfo(i).kind != SheetKind::Worksheet)
        return false;
    m_current = i;
    return true;
}

QString Book::currentSheetName() const
{
    return m_current >= 0 && m_current < m_doc->sheetCount() ? m_doc->sheetInfo(m_current).name
                                                             : QString();
}

bool Book::addSheet(const QString &name, QString *error)
{
    const int i = m_doc->addSheet(name, error);
    if (i < 0)
        return false;
    m_current = i;
    return true;
}

CellRange Book::dimension() const
{
    Worksheet *ws = m_current >= 0 ? m_doc->worksheet(m_current) : nullptr;
    return ws ? ws->usedRange() : CellRange(1, 1, 1, 1);
}

QString Book::read(int row, int column) const
{
    Worksheet *ws = m_current >= 0 ? m_doc->worksheet(m_current) : nullptr;
    if (!ws)
        return QString();
    const Cell c = ws->cell(row, column);
    if (c.type == CellType::Boolean)
        return c.text.trimmed() == QLatin1String("1") ? QStringLiteral("true")
                                                      : QStringLiteral("false");
    return c.text;
}

QString Book::read(const QString &ref) const
{
    const CellRef r = CellRef::fromString(ref);
    return r.isValid() ? read(r.row, r.column) : QString();
}

bool Book::write(int row, int column, const QString &text)
{
    if (!m_loadError.isEmpty())
        return false;
    if (m_current < 0 || m_current >= m_doc->sheetCount()) {
        if (m_doc->sheetCount() == 0 && !addSheet(QStringLiteral("Sheet1")))
            return false;
        if (m_current < 0)
            m_current = 0;
    }
    Worksheet *ws = m_doc->worksheet(m_current);
    return ws && ws->setString(row, column, text);
}

bool Book::write(const QString &ref, const QString &text)
{
    const CellRef r = CellRef::fromString(ref);
    return r.isValid() && write(r.row, r.column, text);
}

bool Book::save(QString *error)
{
    return saveAs(m_path, error);
}

bool Book::saveAs(const QString &path, QString *error)
{
    if (!m_loadError.isEmpty()) {
        if (error)
            *error = m_loadError;
        return false;
    }
    if (!m_doc->saveAs(path, error))
        return false;
    m_path = path;
    return true;
}

} // namespace xlsx
