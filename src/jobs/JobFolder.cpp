#include "JobFolder.h"

#include "JobFiles.h"
#include "JobHost.h"
#include "JobParamReader.h"
#include "SafeJobFile.h"
#include "app/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

static Logger* logger = Logging::rootLogger();

JobFolder::JobFolder(JobHost* host)
    : m_host(host)
    , m_backupPath(QCoreApplication::applicationDirPath() + QDir::separator() + QStringLiteral("halcyraclient")
                   + QDir::separator() + QStringLiteral("backupjobs"))
{ }

QString JobFolder::filePath(const QString& name) const
{
    return m_path + QDir::separator() + name;
}

bool JobFolder::exists(const QString& name) const
{
    return QFileInfo::exists(filePath(name));
}

QStringList JobFolder::files() const
{
    return JobFiles::listFiles(m_path);
}

QString JobFolder::triggerKey(const QString& name) const
{
    const QFileInfo info(filePath(name));
    return name + QLatin1Char('|') + QString::number(info.size()) + QLatin1Char('|')
        + QString::number(JobFiles::modifiedMs(info.filePath()));
}

QString JobFolder::docNameOf(const QString& name) const
{
    // Read through the same checks as the job itself: no link is followed, nothing blocks.
    QByteArray paramText;
    SafeJobFile::readAll(filePath(JobFiles::baseOf(name)), SafeJobFile::kMaxParamFileSize, &paramText);
    return JobParamReader::documentName(JobParamReader::readDocName(paramText), name, m_host->userAccount(),
                                        qEnvironmentVariable("USER"));
}

int JobFolder::unsentCount() const
{
    int count = 0;
    for (const QString& name : files()) {
        if (JobFiles::isTrigger(name) && !submittedBefore(name)) {
            ++count;
        }
    }
    return count;
}

bool JobFolder::submittedBefore(const QString& name) const
{
    return m_submittedTriggers.contains(triggerKey(name));
}

void JobFolder::markSubmitted(const QString& name)
{
    m_submittedTriggers.insert(triggerKey(name));
}

void JobFolder::removeAfterSubmission(const QString& name, const QString& docName, bool keepCopies)
{
    for (const QString& file : JobFiles::ownFiles(m_path, name)) {
        if (keepCopies) {
            JobFiles::moveToBackup(m_path, file, m_backupPath);
        } else {
            JobFiles::deleteFile(m_path, file);
        }
    }
    logger->info(QStringLiteral("job %1 files deleted from job path").arg(docName));
    if (exists(name)) {
        logger->error(QStringLiteral("job %1 stays in the job path and will not be submitted again").arg(name));
        markSubmitted(name);
    }
}

void JobFolder::deleteJob(const QString& name)
{
    if (m_path.isEmpty()) {
        return;
    }
    for (const QString& file : JobFiles::ownFiles(m_path, name)) {
        JobFiles::deleteFile(m_path, file);
    }
}

void JobFolder::removeAll(const QStringList& names, bool keepCopies)
{
    for (const QString& name : names) {
        if (!QFileInfo(filePath(name)).isFile()) {
            continue;
        }
        if (keepCopies) {
            JobFiles::moveToBackup(m_path, name, m_backupPath);
        } else {
            JobFiles::deleteFile(m_path, name);
        }
    }
}
