#include "xlsx/zip_p.h"

#include <QBuffer>
#include <QSet>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>
#include <quazip/quazipnewinfo.h>
#include <quazip/unzip.h>
#include <quazip/zip.h>

#include <libdeflate.h>
#include <zlib.h>

namespace xlsx {

void ZipWriter::Deleter::operator()(libdeflate_compressor *c) const
{
    libdeflate_free_compressor(c);
}
void ZipWriter::Deleter::operator()(libdeflate_decompressor *d) const
{
    libdeflate_free_decompressor(d);
}

namespace {

using Deleter = ZipWriter::Deleter;

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
    const char *src = m_bytes.constData() + e.dataOffset;
    if (e.method == 0) {
        *out = QByteArray(src, int(e.compressedSize));
    } else {
        // One call inflates the whole entry into a buffer of its declared size.
        thread_local const std::unique_ptr<libdeflate_decompressor, Deleter> inflater(
            libdeflate_alloc_decompressor());
        if (!inflater)
            return fail(QStringLiteral("cannot start inflating"));
        out->resize(int(e.uncompressedSize));
        size_t produced = 0;
        const libdeflate_result rc = libdeflate_deflate_decompress_ex(
            inflater.get(), src, size_t(e.compressedSize), out->data(), size_t(e.uncompressedSize),
            nullptr, &produced);
        if (rc == LIBDEFLATE_INSUFFICIENT_SPACE)
            return fail(QStringLiteral("inflates beyond its declared size"));
        if (rc != LIBDEFLATE_SUCCESS)
            return fail(QStringLiteral("damaged or truncated compressed data"));
        if (produced != e.uncompressedSize)
            return fail(QStringLiteral("inflated size differs from the declared size"));
    }
    const quint32 crc = quint32(libdeflate_crc32(0, out->constData(), size_t(out->size())));
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
    return addDeflated(name, data.constData(), data.size(), when, level, externalAttr, error);
}

bool ZipWriter::addDeflated(const QString &name, const char *data, qint64 size,
                            const QDateTime &when, int level, quint32 externalAttr, QString *error)
{
    // libdeflate's levels reach 12; zlib's default (-1) is its 6.
    level = level < 0 ? 6 : qMin(level, 12);
    if (!m_compressor || m_compressorLevel != level) {
        m_compressor.reset(libdeflate_alloc_compressor(level));
        m_compressorLevel = level;
    }
    const size_t bound =
        m_compressor ? libdeflate_deflate_compress_bound(m_compressor.get(), size_t(size)) : 0;
    if (!m_compressor || bound > size_t(kMaxEntrySize) * 2) {
        if (error)
            *error = QStringLiteral("cannot write entry %1").arg(name);
        return false;
    }
    QByteArray packed(int(bound), Qt::Uninitialized);
    const size_t n =
        libdeflate_deflate_compress(m_compressor.get(), data, size_t(size), packed.data(), bound);
    packed.resize(int(n));
    ZipEntry e;
    e.name = name;
    e.dateTime = when.isValid() ? when : QDateTime(QDate(1980, 1, 1), QTime(0, 0));
    e.externalAttr = externalAttr;
    e.method = Z_DEFLATED;
    e.crc = quint32(libdeflate_crc32(0, data, size_t(size)));
    e.uncompressedSize = quint64(size);
    e.compressedSize = quint64(n);
    return n > 0 && addRaw(e, packed, error);
}

bool ZipWriter::openEntry(const QString &name, const QDateTime &when, int level, QString *error,
                          quint32 externalAttr)
{
    Q_UNUSED(error);
    m_entryName = name;
    m_entryWhen = when;
    m_entryLevel = level;
    m_entryAttr = externalAttr;
    m_entryData.clear();
    m_entry.reset();
    m_entryOk = true;
    return true;
}

bool ZipWriter::streamEntry()
{
    QuaZipNewInfo info(m_entryName);
    info.dateTime = m_entryWhen.isValid() ? m_entryWhen : QDateTime(QDate(1980, 1, 1), QTime(0, 0));
    info.externalAttr = m_entryAttr;
    m_entry.reset(new QuaZipFile(m_zip.get()));
    if (!m_entry->open(QIODevice::WriteOnly, info, nullptr, 0, Z_DEFLATED, kStreamDeflateLevel) ||
        m_entry->write(m_entryData) != m_entryData.size())
        return false;
    m_entryData = QByteArray();
    return true;
}

bool ZipWriter::writeEntry(const char *data, qint64 size)
{
    if (!m_entryOk || size <= 0)
        return m_entryOk;
    if (m_entry) {
        m_entryOk = m_entry->write(data, size) == size;
        return m_entryOk;
    }
    m_entryData.append(data, int(size));
    if (m_entryData.size() > kWholeEntryLimit)
        m_entryOk = streamEntry();
    return m_entryOk;
}

bool ZipWriter::closeEntry(QString *error)
{
    bool ok = m_entryOk;
    if (m_entry) {
        m_entry->close();
        ok = ok && m_entry->getZipError() == ZIP_OK;
        m_entry.reset();
    } else if (ok) {
        // A small entry is deflated whole: one call compresses it best and fastest.
        ok = addDeflated(m_entryName, m_entryData.constData(), m_entryData.size(), m_entryWhen,
                         m_entryLevel, m_entryAttr, error);
    }
    m_entryData = QByteArray();
    if (!m_entryOk && error)
        *error = QStringLiteral("cannot write entry %1").arg(m_entryName);
    m_entryOk = false;
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
