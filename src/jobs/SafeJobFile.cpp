#include "SafeJobFile.h"

#include "app/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static Logger* logger = Logging::rootLogger();

namespace {
SafeJobFile::Verdict judge(const struct stat& st)
{
    if (S_ISLNK(st.st_mode)) {
        return SafeJobFile::Verdict::Symlink;
    }
    if (!S_ISREG(st.st_mode)) {
        return SafeJobFile::Verdict::NotRegular;
    }
    if (st.st_uid != ::geteuid()) {
        return SafeJobFile::Verdict::ForeignOwner;
    }
    return SafeJobFile::Verdict::Accepted;
}
} // namespace

SafeJobFile::Verdict SafeJobFile::inspect(const QString& path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
        return errno == ENOENT ? Verdict::Missing : Verdict::Unreadable;
    }
    return judge(st);
}

SafeJobFile::Verdict SafeJobFile::open(const QString& path, QFile* file)
{
    // Looked at first so that opening a device node (which can have effects of its own) is never tried.
    const Verdict before = inspect(path);
    if (before != Verdict::Accepted) {
        return before;
    }
    const int fd
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP) {
            return Verdict::Symlink;
        }
        return errno == ENOENT ? Verdict::Missing : Verdict::Unreadable;
    }
    // The entry may have been swapped since it was looked at: what counts is the file now open.
    struct stat st;
    Verdict verdict = ::fstat(fd, &st) == 0 ? judge(st) : Verdict::Unreadable;
    if (verdict == Verdict::Accepted) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
            verdict = Verdict::Unreadable;
        }
    }
    if (verdict != Verdict::Accepted || !file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return verdict == Verdict::Accepted ? Verdict::Unreadable : verdict;
    }
    return Verdict::Accepted;
}

SafeJobFile::Verdict SafeJobFile::readAll(const QString& path, qint64 maxSize, QByteArray* data)
{
    data->clear();
    QFile file;
    const Verdict verdict = open(path, &file);
    if (verdict != Verdict::Accepted) {
        return verdict;
    }
    // Read with a bound rather than trusting the size: the file may still grow.
    const QByteArray content = file.read(maxSize + 1);
    if (file.error() != QFileDevice::NoError) {
        return Verdict::Unreadable;
    }
    if (content.size() > maxSize) {
        return Verdict::TooLarge;
    }
    *data = content;
    return Verdict::Accepted;
}

QString SafeJobFile::describe(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Accepted:
        return QStringLiteral("accepted");
    case Verdict::Missing:
        return QStringLiteral("missing");
    case Verdict::Symlink:
        return QStringLiteral("a symbolic link");
    case Verdict::NotRegular:
        return QStringLiteral("not a regular file");
    case Verdict::ForeignOwner:
        return QStringLiteral("owned by another user");
    case Verdict::TooLarge:
        return QStringLiteral("too large");
    case Verdict::Unreadable:
        break;
    }
    return QStringLiteral("unreadable");
}

bool SafeJobFile::ensurePrivateFolder(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno == ENOENT) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        ::mkdir(native.constData(), 0700);
    }
    // Checked and repaired through a descriptor, so a folder swapped for a link is never followed.
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        if (fd >= 0) {
            ::close(fd);
        }
        logger->error(QStringLiteral("the folder %1 is not a directory of the user's own and is not used").arg(path));
        return false;
    }
    if ((st.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0) {
        logger->error(QStringLiteral("cannot make the folder %1 private").arg(path));
    }
    ::close(fd);
    return true;
}
