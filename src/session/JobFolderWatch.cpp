#include "session/JobFolderWatch.h"

#include "app/Logging.h"
#include "config/LoginInfo.h"
#include "jobs/CMyFileWatcher.h"
#include "jobs/JobHost.h"
#include "jobs/SafeJobFile.h"

static Logger* logger = Logging::rootLogger();

JobFolderWatch::JobFolderWatch(QObject* parent)
    : QObject(parent)
{ }

void JobFolderWatch::start()
{
    stop();
    m_jobPath = JobFolderSetting::pathOf(LoginInfo::jobFolderInFile());
    logger->info(QStringLiteral("###### CMyFileWatcher job path ") + m_jobPath);
    // The virtual printer writes here even before the first login; watching needs the folder to exist.
    SafeJobFile::ensurePrivateFolder(m_jobPath);
    CMyFileWatcher::instance()->addWatchPath(m_jobPath);
}

void JobFolderWatch::stop()
{
    if (!m_jobPath.isEmpty()) {
        CMyFileWatcher::instance()->removeWatchPath(m_jobPath);
    }
}
