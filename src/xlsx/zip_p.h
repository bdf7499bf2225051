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
    // Adds an entry, deflating data (level 0..9, or -1 for zlib's default).
    bool addData(const QString &name, const QByteArray &data, const QDateTime &when, int level,
                 QString *error, quint32 externalAttr = 0);
    // Adds a deflated entry whose data comes in pieces: openEntry, any number of
    // writeEntry calls, then closeEntry (which reports any failure of the pieces).
    bool openEntry(const QString &name, const QDateTime &when, int level, QString *error,
                   quint32 externalAttr = 0);
    bool writeEntry(const char *data, qint64 size);
    bool closeEntry(QString *error);
    // Ends the archive; *out receives the file bytes (memory archives only).
    bool finish(QByteArray *out, QString *error);
    bool finish(QString *error);

private:
    std::unique_ptr<QBuffer> m_buffer;
    std::unique_ptr<QuaZip> m_zip;
    std::unique_ptr<QuaZipFile> m_entry;
    QString m_entryName;
    bool m_entryOk = false;
};

// Deflate level of rewritten parts: level 3 writes a 100k-row sheet in about 40% of the
// time of level 6 for 6% more bytes (measured with bench_xlsx).
constexpr int kDeflateLevel = 3;

} // namespace xlsx
