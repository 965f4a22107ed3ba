#include "JobFolder.h"

#include "JobFiles.h"
#include "PrintJob.h"
#include "SafeJobFile.h"
#include "app/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

static Logger* logger = Logging::rootLogger();

JobFolder::JobFolder()
    : m_backupPath(QCoreApplication::applicationDirPath() + QDir::separator() + QStringLiteral("halcyraclient")
                   + QDir::separator() + QStringLiteral("backupjobs"))
{ }

QStringList JobFolder::files() const
{
    return JobFiles::listFiles(m_path);
}

QString JobFolder::jobKey(const QString& name, qint64 dataSize, qint64 dataTime)
{
    return name + QLatin1Char('|') + QString::number(dataSize) + QLatin1Char('|') + QString::number(dataTime);
}

int JobFolder::unsentCount() const
{
    int count = 0;
    for (const QString& name : files()) {
        if (!JobFiles::isTrigger(name)) {
            continue;
        }
        const QString data = JobFiles::dataFileOf(m_path, name);
        if (!m_submittedTriggers.contains(jobKey(name, QFileInfo(data).size(), JobFiles::modifiedMs(data)))) {
            ++count;
        }
    }
    return count;
}

bool JobFolder::sentBefore(const PrintJob& job) const
{
    return m_submittedTriggers.contains(jobKey(job.name, job.dataSize, job.dataTime))
        || (job.entry.found && job.entry.confirmed);
}

void JobFolder::markSubmitted(const PrintJob& job)
{
    m_submittedTriggers.insert(jobKey(job.name, job.dataSize, job.dataTime));
}

void JobFolder::removeJob(const PrintJob& job, Removal removal, bool keepCopies)
{
    if (m_path.isEmpty()) {
        return;
    }
    const bool submitted = removal == Removal::Submitted;
    for (const QString& file : ownFiles(job)) {
        if (submitted && keepCopies) {
            moveToBackup(file);
        } else {
            deleteFile(file);
        }
    }
    if (!submitted) {
        return;
    }
    logger->info(QStringLiteral("job %1 files deleted from job path").arg(job.docName));
    if (QFileInfo::exists(job.triggerPath)) {
        logger->error(QStringLiteral("job %1 stays in the job path and will not be submitted again").arg(job.name));
        markSubmitted(job);
    }
}

void JobFolder::removeAll(const QStringList& names, bool keepCopies)
{
    for (const QString& name : names) {
        if (!QFileInfo(m_path + QDir::separator() + name).isFile()) {
            continue;
        }
        if (keepCopies) {
            moveToBackup(name);
        } else {
            deleteFile(name);
        }
    }
}

QStringList JobFolder::ownFiles(const PrintJob& job)
{
    QStringList own;
    // A name without a base (".pdf") has no parameter file: the folder itself is never taken for one.
    for (const QString& path : { job.paramPath, job.triggerPath, job.dataPath }) {
        const QFileInfo file(path);
        if (!file.fileName().isEmpty() && !own.contains(file.fileName()) && file.isFile()) {
            own << file.fileName();
        }
    }
    return own;
}

bool JobFolder::deleteFile(const QString& name) const
{
    logger->info(QStringLiteral("delete job file %1").arg(name));
    if (!QFile::remove(m_path + QDir::separator() + name)) {
        logger->error(QStringLiteral("delete job file %1  failed").arg(name));
        return false;
    }
    return true;
}

bool JobFolder::ensureBackupFolder() const
{
    if (!QFileInfo(m_backupPath).isDir()) {
        logger->info(QStringLiteral("create backup job path: ") + m_backupPath);
    }
    // Print jobs are private documents.
    return SafeJobFile::ensurePrivateFolder(m_backupPath);
}

bool JobFolder::moveToBackup(const QString& name) const
{
    logger->info(QStringLiteral("move job file %1 to backup").arg(name));
    const QString source = m_path + QDir::separator() + name;
    const QString target = m_backupPath + QDir::separator() + name;
    bool moved = ensureBackupFolder();
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
    deleteFile(name);
    return false;
}
