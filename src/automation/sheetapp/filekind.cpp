#include "automation/sheetapp/filekind.h"
#include "automation/sheetapp/cfb_p.h"

#include <QFile>
#include <QtEndian>

namespace sheetapp {

bool readWorkbookGlobals(const QString &path,
                         const std::function<bool(quint16, const char *, int)> &visit)
{
    QByteArray stream;
    QString name;
    QString error;
    if (!cfb::readRootStream(path, {QStringLiteral("Workbook"), QStringLiteral("Book")}, 256 * 1024,
                             &stream, &name, &error) ||
        stream.size() < 4)
        return false;
    const auto at = [&stream](int i) { return qFromLittleEndian<quint16>(stream.constData() + i); };
    const quint16 bof = at(0);
    if (bof != 0x0809 && bof != 0x0409 && bof != 0x0209 && bof != 0x0009)
        return false;
    for (int pos = 0; pos + 4 <= stream.size();) {
        const quint16 type = at(pos);
        const int length = at(pos + 2);
        if (type == 0x000A || pos + 4 + length > stream.size() ||
            !visit(type, stream.constData() + pos + 4, length))
            break;
        pos += 4 + length;
    }
    return true;
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
