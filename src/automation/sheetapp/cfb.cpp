#include "automation/sheetapp/cfb_p.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QtEndian>

#include <vector>

namespace sheetapp::cfb {
namespace {

constexpr quint32 kEndOfChain = 0xFFFFFFFE;
constexpr quint32 kMaxRegular = 0xFFFFFFFA;
constexpr int kDirEntrySize = 128;

quint32 u32(const QByteArray &b, qint64 at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}
quint16 u16(const QByteArray &b, qint64 at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}

class Reader
{
public:
    explicit Reader(QFile *file) : m_file(file) {}

    bool open(QString *error)
    {
        m_header = m_file->read(512);
        if (m_header.size() < 512 || !hasSignature(m_header))
            return fail(QStringLiteral("not a compound file"), error);
        const int shift = u16(m_header, 0x1E);
        const int miniShift = u16(m_header, 0x20);
        if ((shift != 9 && shift != 12) || miniShift != 6)
            return fail(QStringLiteral("unknown sector size"), error);
        m_sectorSize = 1 << shift;
        m_miniCutoff = u32(m_header, 0x38);
        // The FAT sectors: 109 in the header, the rest in the DIFAT chain.
        const quint32 fatSectors = u32(m_header, 0x2C);
        std::vector<quint32> fatList;
        for (int i = 0; i < 109 && fatList.size() < fatSectors; ++i)
            fatList.push_back(u32(m_header, 0x4C + 4 * i));
        quint32 difat = u32(m_header, 0x44);
        QSet<quint32> seen;
        while (fatList.size() < fatSectors && difat <= kMaxRegular) {
            if (seen.contains(difat))
                return fail(QStringLiteral("a loop in the sector chains"), error);
            seen.insert(difat);
            QByteArray s;
            if (!sector(difat, &s))
                return fail(QStringLiteral("a sector past the end of the file"), error);
            const int per = m_sectorSize / 4 - 1;
            for (int i = 0; i < per && fatList.size() < fatSectors; ++i)
                fatList.push_back(u32(s, 4 * i));
            difat = u32(s, 4 * per);
        }
        if (fatList.size() < fatSectors || fatSectors > (m_file->size() >> shift) + 1)
            return fail(QStringLiteral("the allocation table is incomplete"), error);
        for (quint32 s : fatList) {
            QByteArray data;
            if (!sector(s, &data))
                return fail(QStringLiteral("a sector past the end of the file"), error);
            for (int i = 0; i < m_sectorSize / 4; ++i)
                m_fat.push_back(u32(data, 4 * i));
        }
        if (!chain(u32(m_header, 0x30), m_fat, -1, &m_directory, error))
            return false;
        if (m_directory.size() < kDirEntrySize)
            return fail(QStringLiteral("no directory"), error);
        return true;
    }

    // Direct children of the root storage: name -> entry index.
    bool rootChildren(QHash<QString, int> *children, QString *error)
    {
        std::vector<quint32> stack{u32(m_directory, 0x4C)};
        QSet<quint32> seen;
        const quint32 count = quint32(m_directory.size() / kDirEntrySize);
        while (!stack.empty()) {
            const quint32 id = stack.back();
            stack.pop_back();
            if (id > kMaxRegular)
                continue;
            if (id >= count || seen.contains(id))
                return fail(QStringLiteral("a damaged directory"), error);
            seen.insert(id);
            const qint64 at = qint64(id) * kDirEntrySize;
            const int bytes = qMin<int>(u16(m_directory, at + 0x40), 64);
            QString name =
                QString::fromUtf16(reinterpret_cast<const char16_t *>(m_directory.constData() + at),
                                   qMax(0, bytes / 2 - 1));
            if (m_directory.at(at + 0x42) == 2)
                children->insert(name, int(id));
            stack.push_back(u32(m_directory, at + 0x44));
            stack.push_back(u32(m_directory, at + 0x48));
        }
        return true;
    }

    bool stream(int id, qint64 limit, QByteArray *out, QString *error)
    {
        const qint64 at = qint64(id) * kDirEntrySize;
        const quint32 start = u32(m_directory, at + 0x74);
        qint64 size = u32(m_directory, at + 0x78);
        if (m_sectorSize == 4096)
            size |= qint64(u32(m_directory, at + 0x7C)) << 32;
        const qint64 wanted = qMin(size, limit);
        if (size >= m_miniCutoff) {
            if (!chain(start, m_fat, wanted, out, error))
                return false;
        } else {
            // Small streams live in the mini stream, kept in the root entry's chain.
            QByteArray miniFatBytes;
            QByteArray ministream;
            if (!chain(u32(m_header, 0x3C), m_fat, -1, &miniFatBytes, error) ||
                !chain(u32(m_directory, 0x74), m_fat, -1, &ministream, error))
                return false;
            std::vector<quint32> miniFat;
            for (int i = 0; i + 4 <= miniFatBytes.size(); i += 4)
                miniFat.push_back(u32(miniFatBytes, i));
            out->clear();
            QSet<quint32> seen;
            for (quint32 s = start; s <= kMaxRegular && out->size() < wanted; s = miniFat[s]) {
                if (s >= miniFat.size() || seen.contains(s) ||
                    qint64(s + 1) * 64 > ministream.size())
                    return fail(QStringLiteral("a damaged mini stream"), error);
                seen.insert(s);
                out->append(ministream.mid(qint64(s) * 64, 64));
            }
        }
        if (out->size() < wanted)
            return fail(QStringLiteral("a stream shorter than its size"), error);
        out->truncate(int(wanted));
        return true;
    }

private:
    static bool fail(const QString &why, QString *error)
    {
        *error = why;
        return false;
    }

    bool sector(quint32 index, QByteArray *out)
    {
        const qint64 at = (qint64(index) + 1) * m_sectorSize;
        if (at >= m_file->size() || !m_file->seek(at))
            return false;
        *out = m_file->read(m_sectorSize);
        out->append(QByteArray(m_sectorSize - out->size(), '\0')); // a short last sector
        return true;
    }

    // Follows a chain of regular sectors; limit < 0 reads it all.
    bool chain(quint32 start, const std::vector<quint32> &fat, qint64 limit, QByteArray *out,
               QString *error)
    {
        out->clear();
        QSet<quint32> seen;
        for (quint32 s = start; s != kEndOfChain && (limit < 0 || out->size() < limit);) {
            if (s > kMaxRegular || s >= fat.size() || seen.contains(s))
                return fail(QStringLiteral("a damaged sector chain"), error);
            seen.insert(s);
            QByteArray data;
            if (!sector(s, &data))
                return fail(QStringLiteral("a sector past the end of the file"), error);
            out->append(data);
            s = fat[s];
        }
        return true;
    }

    QFile *m_file;
    QByteArray m_header;
    QByteArray m_directory;
    std::vector<quint32> m_fat;
    int m_sectorSize = 512;
    quint32 m_miniCutoff = 4096;
};

} // namespace

bool hasSignature(const QByteArray &head)
{
    return head.startsWith(QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
}

bool readRootStream(const QString &path, const QStringList &names, qint64 limit, QByteArray *stream,
                    QString *found, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    Reader reader(&file);
    QHash<QString, int> children;
    if (!reader.open(error) || !reader.rootChildren(&children, error))
        return false;
    for (const QString &name : names) {
        // Stream names compare without regard to case.
        for (auto it = children.cbegin(); it != children.cend(); ++it) {
            if (it.key().compare(name, Qt::CaseInsensitive) == 0) {
                *found = name;
                return reader.stream(it.value(), limit, stream, error);
            }
        }
    }
    *error = QStringLiteral("none of the streams %1").arg(names.join(QLatin1String(", ")));
    return false;
}

} // namespace sheetapp::cfb
