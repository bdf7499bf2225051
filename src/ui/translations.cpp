#include "ui/translations.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool installQtTranslations(QObject *owner)
{
    // The window speaks Chinese whatever the desktop's language, so Qt's own
    // dialogs do too.
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    const QString folder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
    auto *translator = new QTranslator(owner);
    if (!translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
        qWarning() << "no Chinese translation of Qt's own texts in" << folder;
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}
