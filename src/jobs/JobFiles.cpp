#include "JobFiles.h"

#include "SafeJobFile.h"
#include "app/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

static Logger* logger = Logging::rootLogger();

bool JobFiles::isTrigger(const QString& name)
{
    return name.endsWith(QLatin1String(".pdf")) || name.endsWith(QLatin1String(".xml"));
}

QString JobFiles::baseOf(const QString& triggerName)
{
    return triggerName.left(triggerName.size() - 4);
}

qint64 JobFiles::modifiedMs(const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return 0;
    }
    return qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
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

QStringList JobFiles::ownFiles(const QString& folder, const QString& triggerName)
{
    const QString base = baseOf(triggerName);
    if (base.isEmpty() || !isTrigger(triggerName)) {
        return {};
    }
    QStringList own;
    for (const QString& name : { base, triggerName, QFileInfo(dataFileOf(folder, triggerName)).fileName() }) {
        if (!own.contains(name) && QFileInfo(folder + QDir::separator() + name).isFile()) {
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
