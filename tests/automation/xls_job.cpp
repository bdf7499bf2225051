// A replace job on one .xls workbook in a process of its own, for tests that
// kill it on the way: xls_job PATH WHAT REPLACEMENT replaces on the first
// sheet and saves. Exit status 0 when the workbook was saved.
#include "automation/excelapp/excelapp.h"
#include "automation/libreoffice/libreoffice.h"
#include "jobs.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    excelapp::registerApplication();
    jobs::Request req;
    req.path = QString::fromLocal8Bit(argv[1]);
    req.sheets = {1};
    req.pairs = {{QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])}};
    const jobs::Outcome out = jobs::run(req);
    libreoffice::shutdownInstances();
    return out.saved ? 0 : 1;
}
