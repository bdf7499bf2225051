#include "xlsx/zip_p.h"

#include <QBuffer>
#include <QSet>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>
#include <quazip/quazipnewinfo.h>
#include <quazip/unzip.h>
#include <quazip/zip.h>

#include <zlib.h>

namespace xlsx {
namespace {

// Drops the zip64 record (id 0x0001) from an extra field: the writer adds its own
// when it needs one, and a stale copy would contradict the new sizes.
QByteArray withoutZip64(const QByteArray &extra)
{
    QByteArray out;
    int i = 0;
    while (i + 4 <= extra.size()) {
        const quint16 id = quint8(extra[i]) | (quint8(extra[i + 1]) << 8);
        const int len = quint8(extra[i + 2]) | (quint8(extra[i + 3]) << 8);
        if (i + 4 + len > extra.size())
            break;
        if (id != 0x0001)
            out += extra.mid(i, 4 + len);
        i += 4 + len;
    }
    return out;
}

bool writeWhole(QuaZipFile *f, bool opened, const QByteArray &data, const QString &name,
                QString *error)
{
    bool ok = opened && f->write(data) == data.size();
    if (opened) {
        f->close();
        ok = ok && f->getZipError() == ZIP_OK;
    }
    if (!ok && error)
        *error = QStringLiteral("cannot write entry %1").arg(name);
    return ok;
}

} // namespace

bool ZipArchive::load(const QByteArray &bytes, const QString &label, QString *error)
{
    m_bytes = bytes;
    m_label = label;
    m_entries.clear();
    m_byLowerName.clear();
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(label, why);
        m_entries.clear();
        m_byLowerName.clear();
        return false;
    };

    // The end-of-central-directory record must end the file exactly (after its comment).
    {
        const int size = bytes.size();
        int eocd = -1;
        for (int i = size - 22; i >= 0 && i >= size - 22 - 65535; --i) {
            if (bytes[i] == 'P' && bytes[i + 1] == 'K' && bytes[i + 2] == 5 && bytes[i + 3] == 6) {
                const int commentLength = quint8(bytes[i + 20]) | (quint8(bytes[i + 21]) << 8);
                if (i + 22 + commentLength == size) {
                    eocd = i;
                    break;
                }
            }
        }
        if (eocd < 0)
            return fail(QStringLiteral("not a readable zip archive (truncated or damaged)"));
    }
    QBuffer buffer(&m_bytes);
    QuaZip zip(&buffer);
    zip.setUtf8Enabled(true);
    if (!zip.open(QuaZip::mdUnzip))
        return fail(QStringLiteral("not a readable zip archive (truncated or damaged)"));
    QSet<QString> exact;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        QuaZipFileInfo64 info;
        if (!zip.getCurrentFileInfo(&info))
            return fail(QStringLiteral("damaged zip directory"));
        ZipEntry e;
        e.name = info.name;
        e.compressedSize = info.compressedSize;
        e.uncompressedSize = info.uncompressedSize;
        e.crc = info.crc;
        e.method = info.method;
        e.flags = info.flags;
        e.dateTime = info.dateTime;
        e.externalAttr = info.externalAttr;
        e.extra = withoutZip64(info.extra);
        if (e.flags & 1)
            return fail(QStringLiteral("entry %1 is encrypted").arg(e.name));
        if (exact.contains(e.name) || m_byLowerName.contains(e.name.toLower()))
            return fail(QStringLiteral("duplicate zip entry %1").arg(e.name));
        exact.insert(e.name);
        if (e.method != 0 && e.method != Z_DEFLATED)
            return fail(QStringLiteral("entry %1 uses an unsupported compression method (%2)")
                            .arg(e.name)
                            .arg(e.method));
        if (e.uncompressedSize > kMaxEntrySize ||
            (e.uncompressedSize > kRatioCheckFloor &&
             e.uncompressedSize / qMax<quint64>(e.compressedSize, 1) > kMaxRatio))
            return fail(QStringLiteral("entry %1 would inflate to %2 bytes from %3 (refused)")
                            .arg(e.name)
                            .arg(e.uncompressedSize)
                            .arg(e.compressedSize));
        if (e.method == 0 && e.compressedSize != e.uncompressedSize)
            return fail(QStringLiteral("stored entry %1 has inconsistent sizes").arg(e.name));
        unzFile uf = zip.getUnzFile();
        if (unzOpenCurrentFile2(uf, nullptr, nullptr, 1) != UNZ_OK)
            return fail(QStringLiteral("damaged local header of entry %1").arg(e.name));
        e.dataOffset = qint64(unzGetCurrentFileZStreamPos64(uf));
        unzCloseCurrentFile(uf);
        if (e.dataOffset <= 0 || quint64(e.dataOffset) + e.compressedSize > quint64(bytes.size()))
            return fail(QStringLiteral("entry %1 is truncated").arg(e.name));
        m_byLowerName.insert(e.name.toLower(), m_entries.size());
        m_entries.append(e);
    }
    if (zip.getZipError() != UNZ_OK)
        return fail(QStringLiteral("damaged zip directory"));
    if (m_entries.isEmpty())
        return fail(QStringLiteral("empty zip archive"));
    return true;
}

int ZipArchive::find(const QString &name) const
{
    for (int i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].name == name)
            return i;
    return m_byLowerName.value(name.toLower(), -1);
}

QByteArray ZipArchive::rawData(int i) const
{
    const ZipEntry &e = m_entries[i];
    return QByteArray::fromRawData(m_bytes.constData() + e.dataOffset, int(e.compressedSize));
}

bool ZipArchive::read(const QString &name, QByteArray *out, QString *error) const
{
    const int i = find(name);
    if (i < 0) {
        if (error)
            *error = QStringLiteral("%1: missing part %2").arg(m_label, name);
        return false;
    }
    return read(i, out, error);
}

bool ZipArchive::read(int i, QByteArray *out, QString *error) const
{
    const ZipEntry &e = m_entries[i];
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: part %2: %3").arg(m_label, e.name, why);
        out->clear();
        return false;
    };
    const uchar *src = reinterpret_cast<const uchar *>(m_bytes.constData() + e.dataOffset);
    if (e.method == 0) {
        *out = QByteArray(reinterpret_cast<const char *>(src), int(e.compressedSize));
    } else {
        out->resize(int(e.uncompressedSize));
        z_stream zs{};
        if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
            return fail(QStringLiteral("cannot start inflating"));
        zs.next_in = const_cast<uchar *>(src);
        zs.avail_in = uInt(e.compressedSize);
        zs.next_out = reinterpret_cast<uchar *>(out->data());
        zs.avail_out = uInt(e.uncompressedSize);
        int rc = inflate(&zs, Z_FINISH);
        const quint64 produced = zs.total_out;
        if (rc == Z_BUF_ERROR && zs.avail_out == 0) {
            // Output space used up: more data would follow than the entry declares.
            uchar probe[16];
            zs.next_out = probe;
            zs.avail_out = sizeof probe;
            rc = inflate(&zs, Z_FINISH);
            inflateEnd(&zs);
            if (zs.total_out > produced)
                return fail(QStringLiteral("inflates beyond its declared size"));
            if (rc != Z_STREAM_END)
                return fail(QStringLiteral("damaged compressed data"));
        } else {
            inflateEnd(&zs);
            if (rc != Z_STREAM_END)
                return fail(QStringLiteral("damaged or truncated compressed data"));
        }
        if (produced != e.uncompressedSize)
            return fail(QStringLiteral("inflated size differs from the declared size"));
    }
    const quint32 crc =
        quint32(crc32(0, reinterpret_cast<const Bytef *>(out->constData()), uInt(out->size())));
    if (crc != e.crc)
        return fail(QStringLiteral("CRC mismatch"));
    return true;
}

ZipWriter::ZipWriter() = default;
ZipWriter::~ZipWriter()
{
    m_entry.reset();
    if (m_zip && m_zip->isOpen())
        m_zip->close();
}

bool ZipWriter::begin(QString *error)
{
    m_buffer.reset(new QBuffer);
    m_buffer->open(QIODevice::ReadWrite);
    return begin(m_buffer.get(), error);
}

bool ZipWriter::begin(QIODevice *device, QString *error)
{
    m_zip.reset(new QuaZip(device));
    m_zip->setUtf8Enabled(true);
    m_zip->setDataDescriptorWritingEnabled(false);
    m_zip->setAutoClose(false);
    if (!m_zip->open(QuaZip::mdCreate)) {
        if (error)
            *error = QStringLiteral("cannot start the zip archive");
        return false;
    }
    return true;
}

bool ZipWriter::addRaw(const ZipEntry &entry, const QByteArray &raw, QString *error)
{
    QuaZipNewInfo info(entry.name);
    info.dateTime = entry.dateTime;
    info.externalAttr = entry.externalAttr;
    info.extraGlobal = entry.extra;
    info.uncompressedSize = ulong(entry.uncompressedSize);
    if (entry.uncompressedSize >= 0xffffffffull || entry.compressedSize >= 0xffffffffull)
        m_zip->setZip64Enabled(true);
    QuaZipFile f(m_zip.get());
    const bool opened = f.open(QIODevice::WriteOnly, info, nullptr, entry.crc, entry.method,
                               entry.method == 0 ? 0 : Z_DEFAULT_COMPRESSION, true);
    return writeWhole(&f, opened, raw, entry.name, error);
}

bool ZipWriter::addData(const QString &name, const QByteArray &data, const QDateTime &when,
                        int level, QString *error, quint32 externalAttr)
{
    QuaZipNewInfo info(name);
    info.dateTime = when.isValid() ? when : QDateTime(QDate(1980, 1, 1), QTime(0, 0));
    info.externalAttr = externalAttr;
    QuaZipFile f(m_zip.get());
    const bool opened = f.open(QIODevice::WriteOnly, info, nullptr, 0, Z_DEFLATED, level);
    return writeWhole(&f, opened, data, name, error);
}

bool ZipWriter::openEntry(const QString &name, const QDateTime &when, int level, QString *error,
                          quint32 externalAttr)
{
    QuaZipNewInfo info(name);
    info.dateTime = when.isValid() ? when : QDateTime(QDate(1980, 1, 1), QTime(0, 0));
    info.externalAttr = externalAttr;
    m_entry.reset(new QuaZipFile(m_zip.get()));
    m_entryName = name;
    m_entryOk = m_entry->open(QIODevice::WriteOnly, info, nullptr, 0, Z_DEFLATED, level);
    if (!m_entryOk) {
        m_entry.reset();
        if (error)
            *error = QStringLiteral("cannot write entry %1").arg(name);
    }
    return m_entryOk;
}

bool ZipWriter::writeEntry(const char *data, qint64 size)
{
    if (m_entryOk && size > 0)
        m_entryOk = m_entry->write(data, size) == size;
    return m_entryOk;
}

bool ZipWriter::closeEntry(QString *error)
{
    bool ok = m_entryOk && m_entry;
    if (m_entry) {
        m_entry->close();
        ok = ok && m_entry->getZipError() == ZIP_OK;
        m_entry.reset();
    }
    m_entryOk = false;
    if (!ok && error)
        *error = QStringLiteral("cannot write entry %1").arg(m_entryName);
    return ok;
}

bool ZipWriter::finish(QString *error)
{
    m_zip->close();
    if (m_zip->getZipError() != ZIP_OK) {
        if (error)
            *error = QStringLiteral("cannot finish the zip archive");
        return false;
    }
    return true;
}

bool ZipWriter::finish(QByteArray *out, QString *error)
{
    if (!finish(error))
        return false;
    *out = m_buffer ? m_buffer->data() : QByteArray();
    return true;
}

} // namespace xlsx
