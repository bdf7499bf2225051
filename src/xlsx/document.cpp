#include "xlsx/document_p.h"

namespace xlsx {

Document::Document() : d(new DocumentData) {}
Document::~Document() = default;
bool Document::open(const QString &path, QString *error)
{
    d->path = path;
    if (error)
        *error = QStringLiteral("%1: not implemented yet").arg(path);
    return false;
}
void Document::create(const QString &path)
{
    d->path = path;
    d->open = true;
}
QString Document::path() const
{
    return d->path;
}
bool Document::isOpen() const
{
    return d->open;
}
int Document::sheetCount() const
{
    return 0;
}
SheetInfo Document::sheetInfo(int) const
{
    return SheetInfo();
}
QStringList Document::sheetNames() const
{
    return QStringList();
}
int Document::indexOfSheet(const QString &) const
{
    return -1;
}
int Document::activeSheetIndex() const
{
    return 0;
}
Worksheet *Document::worksheet(int, QString *)
{
    return nullptr;
}
Worksheet *Document::worksheet(const QString &, QString *)
{
    return nullptr;
}
int Document::addSheet(const QString &, QString *)
{
    return -1;
}
bool Document::isStyleLocked(int) const
{
    return true;
}
bool Document::hasCalcChain() const
{
    return false;
}
bool Document::hasFormulas() const
{
    return false;
}
void Document::setFullCalcOnLoad() {}
void Document::removeCalcChain() {}
void Document::setAutoRecalc(bool) {}
bool Document::isModified() const
{
    return false;
}
bool Document::save(QString *)
{
    return false;
}
bool Document::saveAs(const QString &, QString *)
{
    return false;
}

} // namespace xlsx
