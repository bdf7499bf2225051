// Zip container access for the package library: the archive is kept in memory
// as its file bytes; entries are inflated on demand (with size caps) or
// copied as their compressed bytes.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVector>

#include <memory>

class QBuffer;
class QIODevice;
class QuaZip;
class QuaZipFile;
struct libdeflate_compressor;
struct libdeflate_decompressor;

namespace xlsx {

struct ZipEntry
{
    QString name;
    quint64 compressedSize = 0;
    quint64 uncompressedSize = 0;
    quint32 crc = 0;
    quint16 method = 0; // 0 stored, 8 deflated
    quint16 flags = 0;
    QDateTime dateTime;
    quint32 externalAttr = 0;
    QByteArray extra;      // central-directory extra field, zip64 record removed
    qint64 dataOffset = 0; // offset of the compressed data in the archive
};

// Limits on what an entry may inflate to.
constexpr quint64 kMaxEntrySize = 1024ull * 1024 * 1024; // 1 GiB
constexpr quint64 kRatioCheckFloor = 8ull * 1024 * 1024; // entries above 8 MiB ...
constexpr quint64 kMaxRatio = 250;                       // ... may expand at most 250x

class ZipArchive
{
public:
    // Reads the archive's directory. `label` names the file in error messages.
    bool load(const QByteArray &bytes, const QString &label, QString *error);

    const QVector<ZipEntry> &entries() const { return m_entries; }
    // Index of the entry with this name (exact, else case-insensitive), or -1.
    int find(const QString &name) const;
    // The compressed bytes of entry i (shares the archive's buffer).
    QByteArray rawData(int i) const;
    // Inflates entry i, checking its size and CRC.
    bool read(int i, QByteArray *out, QString *error) const;
    bool read(const QString &name, QByteArray *out, QString *error) const;

private:
    QByteArray m_bytes;
    QString m_label;
    QVector<ZipEntry> m_entries;
    QHash<QString, int> m_byLowerName;
};

class ZipWriter
{
public:
    ZipWriter();
    ~ZipWriter();
    // Writes the archive into memory (finish(QByteArray *, ...) hands it over) ...
    bool begin(QString *error);
    // ... or straight into an open, seekable device, which stays open.
    bool begin(QIODevice *device, QString *error);
    // Copies an entry as its compressed bytes.
    bool addRaw(const ZipEntry &entry, const QByteArray &raw, QString *error);
    // Adds an entry, deflating data (level 0..12 of libdeflate, or -1 for its default).
    bool addData(const QString &name, const QByteArray &data, const QDateTime &when, int level,
                 QString *error, quint32 externalAttr = 0);
    // Adds a deflated entry whose data comes in pieces: openEntry, any number of
    // writeEntry calls, then closeEntry (which reports any failure). An entry of
    // up to kWholeEntryLimit bytes is gathered and deflated whole by libdeflate;
    // a larger one is deflated by zlib as it comes, so that it is never held whole.
    bool openEntry(const QString &name, const QDateTime &when, int level, QString *error,
                   quint32 externalAttr = 0);
    bool writeEntry(const char *data, qint64 size);
    bool closeEntry(QString *error);
    // Ends the archive; *out receives the file bytes (memory archives only).
    bool finish(QByteArray *out, QString *error);
    bool finish(QString *error);

    struct Deleter
    {
        void operator()(libdeflate_compressor *c) const;
        void operator()(libdeflate_decompressor *d) const;
    };

private:
    bool addDeflated(const QString &name, const char *data, qint64 size, const QDateTime &when,
                     int level, quint32 externalAttr, QString *error);
    std::unique_ptr<QBuffer> m_buffer;
    std::unique_ptr<QuaZip> m_zip;
    std::unique_ptr<libdeflate_compressor, Deleter> m_compressor;
    int m_compressorLevel = -1;
    // Turns the entry being gathered into one deflated as it is written.
    bool streamEntry();
    std::unique_ptr<QuaZipFile> m_entry;
    QString m_entryName;
    QDateTime m_entryWhen;
    int m_entryLevel = 0;
    quint32 m_entryAttr = 0;
    QByteArray m_entryData;
    bool m_entryOk = false;
};

// Deflate level (libdeflate's) of rewritten parts: level 4 writes a 100k-row sheet in
// about 80% of the time of zlib's level 3, and about 9% smaller.
constexpr int kDeflateLevel = 4;
// Entries written in pieces are held whole up to this size ...
constexpr int kWholeEntryLimit = 4 * 1024 * 1024;
// ... and larger ones deflated as they come by zlib at level 3: on a 100k-row sheet
// about as fast as libdeflate's level 4, in bounded memory, as small as before.
constexpr int kStreamDeflateLevel = 3;

} // namespace xlsx
