#include "session/JobFolderWatch.h"

#include "app/Logging.h"
#include "app/UserPaths.h"
#include "config/LoginInfo.h"
#include "jobs/CMyFileWatcher.h"
#include "jobs/SafeJobFile.h"

static Logger* logger = Logging::rootLogger();

JobFolderWatch::JobFolderWatch(QObject* parent)
    : QObject(parent)
{ }

void JobFolderWatch::start()
{
    const QString folder = LoginInfo::jobFolderInFile();
    m_jobPath = UserPaths::dataPath() + QLatin1Char('/') + folder;
    logger->info(QStringLiteral("###### CMyFileWatcher job path ") + m_jobPath);
    // The virtual printer writes here even before the first login; watching needs the folder to exist.
    SafeJobFile::ensurePrivateFolder(m_jobPath);
    CMyFileWatcher::instance()->addWatchPath(m_jobPath);
}

void JobFolderWatch::stop()
{
    CMyFileWatcher::instance()->removeWatchPath(m_jobPath);
}
