#include "automation/sheetapp/biff.h"
#include "automation/sheetapp/cfb_p.h"

#include <QTextCodec>
#include <QtEndian>

namespace sheetapp::biff {

namespace {

constexpr quint16 kBof = 0x0809;
constexpr quint16 kEof = 0x000A;
constexpr quint16 kBoundSheet = 0x0085;
constexpr quint16 kCodePage = 0x0042;
constexpr quint16 kWsBool = 0x0081;

quint16 u16(const char *at)
{
    return qFromLittleEndian<quint16>(at);
}

bool isBof(quint16 type)
{
    return type == kBof || type == 0x0409 || type == 0x0209 || type == 0x0009;
}

// The 8-bit text of Excel 5/95 in the workbook's code page.
QTextCodec *codecOf(int codePage)
{
    if (codePage == 10000 || codePage == 32768)
        return QTextCodec::codecForName("Apple Roman");
    if (codePage == 32769)
        return QTextCodec::codecForName("windows-1252");
    for (const char *form : {"windows-%1", "CP%1", "IBM%1"}) {
        if (QTextCodec *c =
                QTextCodec::codecForName(QString::fromLatin1(form).arg(codePage).toLatin1()))
            return c;
    }
    return nullptr;
}

// A sheet listed as a worksheet is a dialog sheet when its WSBOOL record says
// so; the records before it are few and short.
SheetKind kindOfSubstream(const QByteArray &stream, quint32 at)
{
    const char *b = stream.constData();
    const qint64 size = stream.size();
    if (qint64(at) + 8 > size || !isBof(u16(b + at)) || u16(b + at + 2) < 4)
        return SheetKind::Worksheet;
    for (qint64 pos = qint64(at) + 4 + u16(b + at + 2); pos + 4 <= size;) {
        const quint16 type = u16(b + pos);
        const int length = u16(b + pos + 2);
        if (type == kEof || isBof(type) || pos + 4 + length > size)
            break;
        if (type == kWsBool && length >= 1)
            return (b[pos + 4] & 0x10) != 0 ? SheetKind::Dialog : SheetKind::Worksheet;
        pos += 4 + length;
    }
    return SheetKind::Worksheet;
}

} // namespace

bool readWorkbookStream(const QString &path, qint64 limit, QByteArray *stream)
{
    QString name;
    QString error;
    return cfb::readRootStream(path, {QStringLiteral("Workbook"), QStringLiteral("Book")}, limit,
                               stream, &name, &error);
}

bool forEachGlobal(const QByteArray &stream,
                   const std::function<bool(quint16, const char *, int)> &visit)
{
    const char *b = stream.constData();
    if (stream.size() < 4 || !isBof(u16(b)))
        return false;
    for (qint64 pos = 0; pos + 4 <= stream.size();) {
        const quint16 type = u16(b + pos);
        const int length = u16(b + pos + 2);
        if (type == kEof || pos + 4 + length > stream.size() || !visit(type, b + pos + 4, length))
            break;
        pos += 4 + length;
    }
    return true;
}

std::vector<Sheet> sheetsOf(const QByteArray &stream)
{
    std::vector<Sheet> sheets;
    std::vector<quint32> starts;
    bool biff8 = false;
    QTextCodec *codec = nullptr;
    forEachGlobal(stream, [&](quint16 type, const char *data, int length) {
        if (isBof(type) && length >= 2) {
            biff8 = u16(data) == 0x0600;
        } else if (type == kCodePage && length >= 2) {
            codec = codecOf(u16(data));
        } else if (type == kBoundSheet) {
            // lbPlyPos (4), visibility (1), sheet type (1), name length (1), then the name:
            // BIFF8 a flag byte and 8- or 16-bit characters, BIFF5 bytes in the code page.
            const int count = length >= 7 ? quint8(data[6]) : 0;
            const bool wide = biff8 && length >= 8 && (data[7] & 1) != 0;
            const int nameAt = biff8 ? 8 : 7;
            if (length < nameAt || nameAt + count * (wide ? 2 : 1) > length)
                return false;
            Sheet s;
            const char *name = data + nameAt;
            if (wide) {
                for (int i = 0; i < count; ++i)
                    s.name.append(QChar(u16(name + 2 * i)));
            } else if (!biff8 && codec) {
                s.name = codec->toUnicode(name, count);
            } else {
                s.name = QString::fromLatin1(name, count);
            }
            switch (quint8(data[5])) {
            case 1:
                s.kind = SheetKind::MacroSheet;
                break;
            case 2:
                s.kind = SheetKind::Chart;
                break;
            case 6:
                s.kind = SheetKind::Module;
                break;
            default:
                s.kind = SheetKind::Worksheet;
                break;
            }
            sheets.push_back(s);
            starts.push_back(qFromLittleEndian<quint32>(data));
        }
        return true;
    });
    for (size_t i = 0; i < sheets.size(); ++i)
        if (sheets[i].kind == SheetKind::Worksheet)
            sheets[i].kind = kindOfSubstream(stream, starts[i]);
    return sheets;
}

} // namespace sheetapp::biff
