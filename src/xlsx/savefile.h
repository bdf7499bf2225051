// Replacing a file atomically: the new content goes into a hidden temporary
// in the target's folder, which is renamed over the target only when it has
// been written whole and synced. A job that dies on the way leaves the
// temporary behind, and the next save of the same target removes it.
#pragma once

#include <QString>

#include <memory>

class QIODevice;

namespace xlsx {

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
    // Syncs the temporary, gives it the target's mode bits and (where this process may set
    // them) its owner and group, and renames it over the target.
    bool commit(QString *error);
    // Removes the temporary; the target stays as it was.
    void cancel();
    // Why a write to device() failed ("no space left on the device"); empty when none did.
    QString writeError() const;

    // True for the name of a temporary that a SaveFile of `target` creates.
    static bool isTemporaryOf(const QString &fileName, const QString &target);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The cause of a failed file operation, from errno, in words ("no space left on the device").
QString fileErrorText(int errnum);

} // namespace xlsx
