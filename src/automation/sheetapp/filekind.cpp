#include "automation/sheetapp/filekind.h"
#include "automation/sheetapp/biff.h"
#include "automation/sheetapp/cfb_p.h"

#include <QFile>

namespace sheetapp {

bool readWorkbookGlobals(const QString &path,
                         const std::function<bool(quint16, const char *, int)> &visit)
{
    QByteArray stream;
    return biff::readWorkbookStream(path, 256 * 1024, &stream) &&
           biff::forEachGlobal(stream, visit);
}

FileKind fileKind(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !cfb::hasSignature(file.read(8)))
        return FileKind::NotCompound;
    file.close();

    // A password to open shows as a FILEPASS record among the globals.
    bool encrypted = false;
    if (!readWorkbookGlobals(path, [&encrypted](quint16 type, const char *, int) {
            encrypted = type == 0x002F;
            return !encrypted;
        }))
        return FileKind::OtherCompound;
    if (encrypted)
        return FileKind::EncryptedWorkbook;
    return FileKind::Workbook;
}

} // namespace sheetapp
