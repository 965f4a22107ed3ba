#include "PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool setMode(const QString& path, mode_t wanted, bool* changed)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info;
    if (::stat(native.constData(), &info) != 0) {
        return false;
    }
    if ((info.st_mode & 07777) == wanted) {
        return true;
    }
    if (changed) {
        *changed = true;
    }
    return ::chmod(native.constData(), wanted) == 0;
}

// Takes group and other access from the user's own regular files directly in the folder; links and
// anything else are left as they are.
void restrictFilesIn(const QString& folder)
{
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) {
        return;
    }
    const int fd = ::dirfd(dir);
    while (const struct dirent* entry = ::readdir(dir)) {
        struct stat info;
        if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)
            && info.st_uid == ::geteuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
            ::fchmodat(fd, entry->d_name, info.st_mode & S_IRWXU, 0);
        }
    }
    ::closedir(dir);
}

} // namespace

namespace PrivateFiles {

bool makePrivateDir(const QString& path)
{
    if (!QDir().mkpath(path)) {
        return false;
    }
    const bool folder = setMode(path, S_IRWXU, nullptr);
    // Only after the folder is closed to others, so nothing can be swapped in while the files are walked.
    if (folder) {
        restrictFilesIn(path);
    }
    return folder;
}

bool makePrivateDatabase(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd
        = ::open(native.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        return false;
    }
    struct stat info;
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok && (info.st_mode & 07777) != (S_IRUSR | S_IWUSR)) {
        ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    }
    ::close(fd);
    for (const char* suffix : { "-wal", "-shm", "-journal" }) {
        const QString companion = path + QLatin1String(suffix);
        if (QFileInfo(companion).isFile() && !QFileInfo(companion).isSymLink()) {
            restrictFile(companion);
        }
    }
    return ok;
}

bool restrictFile(const QString& path)
{
    bool changed = false;
    setMode(path, S_IRUSR | S_IWUSR, &changed);
    return changed;
}

bool replaceFile(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    // The temporary file takes the mode of the file it replaces; it must never be wider than the user's.
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error) {
            *error = file.errorString();
        }
        file.cancelWriting();
        return false;
    }
    return true;
}

bool copyFile(const QString& source, const QString& path, QString* error)
{
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly)) {
        if (error) {
            *error = input.errorString();
        }
        return false;
    }
    const QByteArray bytes = input.readAll();
    if (input.error() != QFileDevice::NoError) {
        if (error) {
            *error = input.errorString();
        }
        return false;
    }
    return replaceFile(path, bytes, error);
}

} // namespace PrivateFiles
