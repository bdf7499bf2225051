// Replacing a file atomically: the new content goes into a hidden temporary
// in the target's folder, which is renamed over the target only when it has
// been written whole and synced. A job that dies on the way leaves the
// temporary behind, and the next save of the same target removes it.
#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

class QIODevice;

namespace xlsx {

// One version of a file as the file system tells it: device, inode, size and modification
// time. Invalid for a file that could not be looked at.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 mtimeSec = 0;
    qint64 mtimeNsec = 0;

    bool isValid() const { return size >= 0; }
    static FileIdentity of(const QString &path);
    static FileIdentity ofDescriptor(int fd);
    bool operator==(const FileIdentity &o) const
    {
        return device == o.device && inode == o.inode && size == o.size &&
               mtimeSec == o.mtimeSec && mtimeNsec == o.mtimeNsec;
    }
    bool operator!=(const FileIdentity &o) const { return !(*this == o); }
};

class SaveFile
{
public:
    explicit SaveFile(const QString &target);
    // Removes the temporary unless commit() succeeded.
    ~SaveFile();
    SaveFile(const SaveFile &) = delete;
    SaveFile &operator=(const SaveFile &) = delete;

    // Creates the temporary. Refuses, with *error naming the target and the cause: a target
    // that is not a regular file, a read-only one (no write bit for anyone, whoever runs the
    // program), one this process may not write, a folder it cannot create files in.
    // Stale temporaries of earlier saves of the same target are removed first.
    bool open(QString *error);
    // Where the temporary is (another program may write it instead of device()).
    QString tempPath() const;
    // The temporary, open for writing and seekable; nullptr before open().
    QIODevice *device() const;
    // The target as it was when its content was read (before open()). commit() replaces
    // only that version: a target another program has written or replaced since is kept,
    // and the save fails. Without it, the target as open() found it is the one replaced.
    void setReadVersion(const FileIdentity &read);
    // Syncs the temporary, gives it the target's mode bits and (where this process may set
    // them) its owner and group, checks that the target is still the version that was read,
    // and renames the temporary over it.
    bool commit(QString *error);
    // The file commit() put in place (to be given to setReadVersion of the next save).
    FileIdentity savedVersion() const;
    // Removes the temporary; the target stays as it was.
    void cancel();
    // Why a write to device() failed ("no space left on the device"); empty when none did.
    QString writeError() const;

    // The target as given, or the file a symbolic link points to.
    QString targetPath() const;
    // True for the name of a temporary that a SaveFile of `target` creates.
    static bool isTemporaryOf(const QString &fileName, const QString &target);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The cause of a failed file operation, from errno, in words ("no space left on the device").
QString fileErrorText(int errnum);

} // namespace xlsx
