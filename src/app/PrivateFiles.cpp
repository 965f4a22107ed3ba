#include "PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <sys/stat.h>

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

} // namespace

namespace PrivateFiles {

bool makePrivateDir(const QString& path)
{
    if (!QDir().mkpath(path)) {
        return false;
    }
    return setMode(path, S_IRWXU, nullptr);
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
