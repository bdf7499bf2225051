// The last step of a save: the stored copy replaces the original at once.
#include "automation/libreoffice/book_p.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace libreoffice {

QString temporaryNameFor(const QString &target)
{
    // A short name whatever the length of the target's.
    const QFileInfo info(target);
    return info.absolutePath() +
           QStringLiteral("/.~trelvix-%1.tmp")
               .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
}

bool commitTemporary(const QString &temporary, const QString &target, QString *error)
{
    const QFileInfo stored(temporary);
    if (!stored.isFile() || stored.size() == 0) {
        QFile::remove(temporary);
        *error = QStringLiteral("%1: LibreOffice wrote no file").arg(target);
        return false;
    }
    QFile::setPermissions(temporary, QFileInfo(target).permissions());
    if (std::rename(QFile::encodeName(temporary).constData(),
                    QFile::encodeName(target).constData()) != 0) {
        *error = QStringLiteral("%1: cannot replace it: %2")
                     .arg(target, QString::fromLocal8Bit(std::strerror(errno)));
        QFile::remove(temporary);
        return false;
    }
    return true;
}

} // namespace libreoffice
