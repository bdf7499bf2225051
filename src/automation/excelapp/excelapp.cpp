#include "automation/excelapp/excelapp.h"
#include "automation/embedded/embedded.h"
#include "automation/libreoffice/libreoffice.h"
#include "automation/sheetapp/sheetapp.h"

namespace excelapp {

automation::DispatchPtr createApplication()
{
    sheetapp::Backends backends;
    backends.package = [](const QString &canonicalPath, const QString &path,
                          const QVector<sheetapp::BookPtr> &, QString *error) {
        return embedded::openBook(canonicalPath, path, error);
    };
    backends.legacy = &libreoffice::openBook;
    return sheetapp::createApplication(backends);
}

void registerApplication()
{
    automation::registerServer(QStringLiteral("Excel.Application"), &createApplication);
}

} // namespace excelapp
