#include "xlsx/savefile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xlsx {
namespace {

const char kTempPrefix[] = ".trelvix-";
const char kTempSuffix[] = ".tmp";

// A file descriptor as a seekable, unbuffered, write-only device that keeps the cause of
// its first failure.
class FdDevice : public QIODevice
{
public:
    explicit FdDevice(int fd) : m_fd(fd) {}
    bool isSequential() const override { return false; }
    bool seek(qint64 pos) override
    {
        if (::lseek(m_fd, off_t(pos), SEEK_SET) < 0) {
            fault(errno);
            return false;
        }
        return QIODevice::seek(pos);
    }
    qint64 size() const override
    {
        struct stat st;
        return ::fstat(m_fd, &st) == 0 ? qint64(st.st_size) : 0;
    }
    int failure() const { return m_errno; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 len) override
    {
        qint64 done = 0;
        while (done < len) {
            const ssize_t n = ::write(m_fd, data + done, size_t(len - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                fault(n < 0 ? errno : ENOSPC);
                return -1;
            }
            done += n;
        }
        return done;
    }

private:
    void fault(int errnum)
    {
        if (!m_errno)
            m_errno = errnum;
        setErrorString(fileErrorText(errnum));
    }
    int m_fd;
    int m_errno = 0;
};

// The part of a temporary's name that ties it to its target.
QByteArray targetTag(const QString &target)
{
    const QByteArray name = QFileInfo(target).fileName().toUtf8();
    return QCryptographicHash::hash(name, QCryptographicHash::Sha1).toHex().left(10);
}

} // namespace

QString fileErrorText(int errnum)
{
    switch (errnum) {
    case ENOSPC:
        return QStringLiteral("no space left on the device");
    case EDQUOT:
        return QStringLiteral("no space left on the device (disk quota exceeded)");
    case ENAMETOOLONG:
        return QStringLiteral("the name is too long");
    case EACCES:
    case EPERM:
        return QStringLiteral("permission denied");
    case EROFS:
        return QStringLiteral("read-only file system");
    case ENOENT:
        return QStringLiteral("no such file or folder");
    case EISDIR:
        return QStringLiteral("not a regular file");
    case EFBIG:
        return QStringLiteral("the file is too large for the file system");
    case EIO:
        return QStringLiteral("input/output error");
    default:
        return qt_error_string(errnum);
    }
}

namespace {

FileIdentity identityOf(const struct stat &st)
{
    FileIdentity id;
    id.device = quint64(st.st_dev);
    id.inode = quint64(st.st_ino);
    id.size = qint64(st.st_size);
    id.mtimeSec = qint64(st.st_mtim.tv_sec);
    id.mtimeNsec = qint64(st.st_mtim.tv_nsec);
    return id;
}

} // namespace

FileIdentity FileIdentity::of(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? identityOf(st)
                                                                  : FileIdentity();
}

FileIdentity FileIdentity::ofDescriptor(int fd)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 ? identityOf(st) : FileIdentity();
}

struct SaveFile::Private
{
    QString given;
    QString target;
    QString temp;
    int fd = -1;
    bool existed = false;
    struct stat original = {};
    FileIdentity read;  // the version whose content was read, if told
    FileIdentity saved; // what commit() put in place
    std::unique_ptr<FdDevice> device;

    QString fail(QString *error, const QString &why) const
    {
        if (error)
            *error = QStringLiteral("%1: cannot save: %2").arg(given, why);
        return why;
    }
    void removeStale() const;
    void closeAndRemove()
    {
        device.reset();
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (!temp.isEmpty())
            ::unlink(QFile::encodeName(temp).constData());
        temp.clear();
    }
};

bool SaveFile::isTemporaryOf(const QString &fileName, const QString &target)
{
    const QString head =
        QLatin1String(kTempPrefix) + QString::fromLatin1(targetTag(target)) + QLatin1Char('-');
    return fileName.startsWith(head) && fileName.endsWith(QLatin1String(kTempSuffix)) &&
           fileName.size() == head.size() + 8 + int(sizeof kTempSuffix - 1);
}

void SaveFile::Private::removeStale() const
{
    const QFileInfo info(target);
    QDir dir = info.absoluteDir();
    const QString pattern = QLatin1String(kTempPrefix) + QString::fromLatin1(targetTag(target)) +
                            QStringLiteral("-*") + QLatin1String(kTempSuffix);
    const QStringList names =
        dir.entryList({pattern}, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &name : names) {
        if (!isTemporaryOf(name, target))
            continue;
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        // A save in progress holds a lock on its temporary: that one stays.
        const int f = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (f < 0)
            continue;
        const bool free = ::flock(f, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
        if (free)
            ::unlink(path.constData());
        ::close(f);
    }
}

SaveFile::SaveFile(const QString &target) : d(new Private)
{
    d->given = target;
    const QFileInfo info(target);
    const QString canonical = info.canonicalFilePath();
    d->target = canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

SaveFile::~SaveFile()
{
    cancel();
}

QString SaveFile::targetPath() const
{
    return d->target;
}
QString SaveFile::tempPath() const
{
    return d->temp;
}
QIODevice *SaveFile::device() const
{
    return d->device.get();
}

bool SaveFile::open(QString *error)
{
    cancel();
    const QByteArray target = QFile::encodeName(d->target);
    if (QFileInfo(d->target).fileName().toUtf8().size() > NAME_MAX) {
        d->fail(error, fileErrorText(ENAMETOOLONG));
        return false;
    }
    d->existed = ::stat(target.constData(), &d->original) == 0;
    if (!d->existed && errno != ENOENT) {
        d->fail(error, fileErrorText(errno));
        return false;
    }
    if (d->existed) {
        if (!S_ISREG(d->original.st_mode)) {
            d->fail(error, QStringLiteral("not a regular file"));
            return false;
        }
        // As the spreadsheet application does, whoever runs the program.
        if ((d->original.st_mode & 0222) == 0) {
            d->fail(error, QStringLiteral("the file is read-only"));
            return false;
        }
        if (::access(target.constData(), W_OK) != 0) {
            d->fail(error, fileErrorText(errno));
            return false;
        }
    }
    d->removeStale();
    const QString dir = QFileInfo(d->target).absolutePath();
    const QString head =
        QLatin1String(kTempPrefix) + QString::fromLatin1(targetTag(d->target)) + QLatin1Char('-');
    // Only the owner may read the temporary of an existing file until it gets that file's
    // mode; a new file gets what the umask allows.
    const mode_t mode = d->existed ? 0600 : 0666;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name = head +
                             QStringLiteral("%1").arg(QRandomGenerator::global()->generate(), 8, 16,
                                                      QLatin1Char('0')) +
                             QLatin1String(kTempSuffix);
        const QString path = dir + QLatin1Char('/') + name;
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            d->fail(error, fileErrorText(errno));
            return false;
        }
        d->fd = fd;
        d->temp = path;
        break;
    }
    if (d->fd < 0) {
        d->fail(error, QStringLiteral("cannot create a temporary file in %1").arg(dir));
        return false;
    }
    // Tells a later save that this temporary is in use (where the file system has locks).
    ::flock(d->fd, LOCK_EX | LOCK_NB);
    d->device.reset(new FdDevice(d->fd));
    d->device->open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    return true;
}

bool SaveFile::commit(QString *error)
{
    if (d->fd < 0 || !d->device) {
        d->fail(error, QStringLiteral("nothing written"));
        return false;
    }
    auto failWith = [&](int errnum) {
        d->fail(error, fileErrorText(errnum));
        d->closeAndRemove();
        return false;
    };
    if (d->device->failure())
        return failWith(d->device->failure());
    // The file now at the temporary's name: another program may have written it there.
    const QByteArray temp = QFile::encodeName(d->temp);
    const int written = ::open(temp.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (written < 0)
        return failWith(errno);
    struct stat now;
    int fault = ::fstat(written, &now) != 0 ? errno : !S_ISREG(now.st_mode) ? EISDIR : 0;
    if (!fault && ::fdatasync(written) != 0)
        fault = errno;
    if (!fault && d->existed) {
        if (now.st_uid != d->original.st_uid || now.st_gid != d->original.st_gid) {
            // Owner and group where this process may set them, else the group alone.
            if (::fchown(written, d->original.st_uid, d->original.st_gid) != 0)
                (void)::fchown(written, uid_t(-1), d->original.st_gid);
        }
        if (::fchmod(written, d->original.st_mode & 07777) != 0)
            fault = errno;
    }
    const FileIdentity saved = FileIdentity::ofDescriptor(written);
    ::close(written);
    if (fault)
        return failWith(fault);
    // Another program's write since the workbook was read is not overwritten. (One that
    // lands between this look and the rename is not seen: rename cannot compare and swap.)
    const FileIdentity expected =
        d->read.isValid() ? d->read : d->existed ? identityOf(d->original) : FileIdentity();
    const FileIdentity current = FileIdentity::of(d->target);
    if (expected.isValid() ? current != expected : current.isValid()) {
        d->fail(error, QStringLiteral("another program has changed the file since it was opened "
                                      "(its version is kept)"));
        d->closeAndRemove();
        return false;
    }
    if (::rename(temp.constData(), QFile::encodeName(d->target).constData()) != 0)
        return failWith(errno);
    d->temp.clear();
    d->saved = saved;
    d->device.reset();
    const int closed = ::close(d->fd);
    const int closeErrno = errno;
    d->fd = -1;
    // The rename itself is made durable where the folder can be synced.
    const int dirFd = ::open(QFile::encodeName(QFileInfo(d->target).absolutePath()).constData(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    if (closed != 0 && closeErrno != EINTR) {
        d->fail(error, fileErrorText(closeErrno));
        return false;
    }
    return true;
}

void SaveFile::setReadVersion(const FileIdentity &read)
{
    d->read = read;
}

FileIdentity SaveFile::savedVersion() const
{
    return d->saved;
}

QString SaveFile::writeError() const
{
    return d->device && d->device->failure() ? fileErrorText(d->device->failure()) : QString();
}

void SaveFile::cancel()
{
    d->closeAndRemove();
}

} // namespace xlsx
