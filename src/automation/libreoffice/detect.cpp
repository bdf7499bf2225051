// What kind of file a workbook is, from its content.
#include "automation/libreoffice/biffsheets_p.h"
#include "automation/libreoffice/book_p.h"
#include "automation/libreoffice/cfb_p.h"
#include "automation/libreoffice/libreoffice.h"

#include <QFile>
#include <QtEndian>

#include <functional>

namespace libreoffice {

namespace {

// The records of the workbook globals, up to their EOF record; false when
// the file holds no BIFF workbook stream.
bool globals(const QString &path, const std::function<bool(quint16, const char *, int)> &visit)
{
    QByteArray stream;
    return biff::readWorkbookStream(path, 256 * 1024, &stream) &&
           biff::forEachGlobal(stream, visit);
}

} // namespace

int activeTabOf(const QString &path)
{
    int tab = 0;
    globals(path, [&tab](quint16 type, const char *data, int length) {
        if (type != 0x003D || length < 12) // WINDOW1: itabCur at 10
            return true;
        tab = qFromLittleEndian<quint16>(data + 10);
        return false;
    });
    return tab;
}

FileKind fileKind(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !cfb::hasSignature(file.read(8)))
        return FileKind::NotCompound;
    file.close();

    // A password to open shows as a FILEPASS record among the globals.
    bool encrypted = false;
    if (!globals(path, [&encrypted](quint16 type, const char *, int) {
            encrypted = type == 0x002F;
            return !encrypted;
        }))
        return FileKind::OtherCompound;
    if (encrypted)
        return FileKind::EncryptedWorkbook;
    return FileKind::Workbook;
}

} // namespace libreoffice
