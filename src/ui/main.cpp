#include "automation/excelapp/excelapp.h"
#include "ui/mainwindow.h"
#include "ui/translations.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication a(argc, argv);
    // There is no version resource on this platform: the build supplies it.
    QCoreApplication::setApplicationVersion(QStringLiteral(TRELVIX_VERSION));
    installQtTranslations(&a);
    excelapp::registerApplication();
    MainWindow w;
    w.show();
    return a.exec();
}
