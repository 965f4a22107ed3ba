#include "JobFiles.h"

#include "SafeJobFile.h"
#include "app/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

static Logger* logger = Logging::rootLogger();

namespace {
bool isLettersOnly(const QStringRef& text)
{
    if (text.isEmpty()) {
        return false;
    }
    for (const QChar c : text) {
        if (!((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')))) {
            return false;
        }
    }
    return true;
}
} // namespace

bool JobFiles::isTrigger(const QString& name)
{
    return name.endsWith(QLatin1String(".pdf")) || name.endsWith(QLatin1String(".xml"));
}

QString JobFiles::baseOf(const QString& triggerName)
{
    return triggerName.left(triggerName.size() - 4);
}

QString JobFiles::dataFileOf(const QString& folder, const QString& triggerName)
{
    const QString base = baseOf(triggerName);
    if (triggerName.endsWith(QLatin1String(".xml"))) {
        return folder + QDir::separator() + base + QStringLiteral(".pcl");
    }
    return folder + QDir::separator() + base + QStringLiteral(".pdf");
}

QStringList JobFiles::listFiles(const QString& folder)
{
    if (folder.isEmpty()) {
        return {};
    }
    // Links are never jobs: they would hand over whatever they point to.
    return QDir(folder).entryList(QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Name | QDir::DirsFirst);
}

bool JobFiles::isOwnFile(const QString& name, const QString& base, const QStringList& folderFiles)
{
    if (base.isEmpty()) {
        return false;
    }
    if (name == base) {
        return true;
    }
    if (!name.startsWith(base) || name.size() < base.size() + 2 || name.at(base.size()) != QLatin1Char('.')) {
        return false;
    }
    if (!isLettersOnly(name.midRef(base.size() + 1))) {
        return false;
    }
    // "job4.abc" is job4's file unless a job named "job4.abc" is waiting too.
    return !folderFiles.contains(name + QStringLiteral(".pdf")) && !folderFiles.contains(name + QStringLiteral(".xml"));
}

QStringList JobFiles::ownFiles(const QString& folder, const QString& base)
{
    const QStringList files = listFiles(folder);
    QStringList own;
    for (const QString& name : files) {
        if (isOwnFile(name, base, files)) {
            own << name;
        }
    }
    return own;
}

bool JobFiles::deleteFile(const QString& folder, const QString& name)
{
    logger->info(QStringLiteral("delete job file %1").arg(name));
    if (!QFile::remove(folder + QDir::separator() + name)) {
        logger->error(QStringLiteral("delete job file %1  failed").arg(name));
        return false;
    }
    return true;
}

bool JobFiles::ensureBackupFolder(const QString& backupFolder)
{
    if (!QFileInfo(backupFolder).isDir()) {
        logger->info(QStringLiteral("create backup job path: ") + backupFolder);
    }
    // Print jobs are private documents.
    return SafeJobFile::ensurePrivateFolder(backupFolder);
}

bool JobFiles::moveToBackup(const QString& folder, const QString& name, const QString& backupFolder)
{
    logger->info(QStringLiteral("move job file %1 to backup").arg(name));
    const QString source = folder + QDir::separator() + name;
    const QString target = backupFolder + QDir::separator() + name;
    bool moved = ensureBackupFolder(backupFolder);
    if (moved) {
        // An older copy of the same name is replaced: the newest submission is the one worth keeping.
        if (QFileInfo::exists(target)) {
            QFile::remove(target);
        }
        moved = QFile::rename(source, target);
    }
    if (moved) {
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
        return true;
    }
    logger->error(QStringLiteral("move job file %1 to backup dir failed").arg(name));
    // Left in the job folder the job would be submitted again on the next pass.
    deleteFile(folder, name);
    return false;
}
