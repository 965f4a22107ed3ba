#include "JobQueue.h"

#include "JobFiles.h"
#include "JobHost.h"
#include "JobSubmitter.h"
#include "SafeJobFile.h"
#include "api/KsKit.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "app/cglobal.h"
#include "config/LoginInfo.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>

static Logger* logger = Logging::rootLogger();

JobQueue::JobQueue(JobHost* host, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_reader(host)
    , m_guard(host)
    , m_submitter(new JobSubmitter(host, this))
    , m_jobTimer(new QTimer(this))
    , m_backupPath(QCoreApplication::applicationDirPath() + QDir::separator() + QStringLiteral("halcyraclient")
                   + QDir::separator() + QStringLiteral("backupjobs"))
{
    // Created stopped; the start-up pass starts it.
    connect(m_jobTimer, &QTimer::timeout, this, &JobQueue::timerCallback);
}

JobQueue::~JobQueue() = default;

bool JobQueue::initJobControlOption()
{
    const QString iniPath = Singleton<cglobal>::getInstance()->getIniFilePath();
    if (!QFileInfo(iniPath).isFile()) {
        qWarning("%s", qUtf8Printable(tr("could not find INI file")));
        logger->error(QStringLiteral("could not find INI file"));
        logger->info(QStringLiteral("inifile path %1").arg(iniPath));
        return false;
    }
    QSettings settings(iniPath, QSettings::IniFormat);
    settings.setIniCodec("UTF-8"); // as LoginInfo writes it, so a non-ASCII folder name reads the same
    const QString folder = LoginInfo::checkedJobFolder(
        settings.value(QStringLiteral("Job/Path"), QStringLiteral("ksprinter")).toString());
    m_jobPath = Singleton<cglobal>::getInstance()->getHomePath() + QStringLiteral("/halcyraclient/") + folder;
    if (!QDir(m_jobPath).exists()) {
        logger->info(QStringLiteral("create job path: ") + m_jobPath);
    }
    // Print jobs are private documents; a folder that is not the user's own is not read at all.
    if (!SafeJobFile::ensurePrivateFolder(m_jobPath)) {
        m_jobPath.clear();
    }
    return true;
}

bool JobQueue::isJobTimerActive() const
{
    return m_jobTimer->isActive();
}

void JobQueue::startJobTimer()
{
    m_jobTimer->start(kTimerIntervalMs);
}

void JobQueue::stopJobTimer()
{
    ++m_session;
    m_jobTimer->stop();
}

QString JobQueue::triggerKey(const QString& name) const
{
    const QFileInfo info(m_jobPath + QDir::separator() + name);
    return name + QLatin1Char('|') + QString::number(info.size()) + QLatin1Char('|')
        + QString::number(info.lastModified().toMSecsSinceEpoch());
}

void JobQueue::initialCheck4JobPath()
{
    logger->info(QStringLiteral("enter initialCheck4JobPath"));
    if (m_passRunning) {
        // A pass begun before a logout is still waiting on a prompt or an upload; it would race this one
        // over the same files, so this pass runs once it has ended.
        m_startupDeferred = true;
        return;
    }
    const int session = m_session;
    m_guard.sweep(m_jobPath);
    if (JobFiles::listFiles(m_jobPath).isEmpty()) {
        startJobTimer();
        return;
    }

    m_passRunning = true;
    const JobOptions options = m_host->jobOptions();
    const QString title = tr("KestranaClient V%1").arg(options.clientVersion);
    const bool submit = m_host->askExistingJobs(title) == JobHost::ExistingJobsChoice::Submit;

    // Only the files seen here are cleaned up: a job printed while this pass runs waits for the timer.
    const QStringList listed = JobFiles::listFiles(m_jobPath);
    if (submit) {
        for (const QString& name : listed) {
            if (!JobFiles::isTrigger(name) || !QFileInfo::exists(m_jobPath + QDir::separator() + name)) {
                continue;
            }
            if (sessionEnded(session)) {
                break;
            }
            const KsJobParam param = m_reader.parseJobParamFileLinux(m_jobPath + QDir::separator() + name, name);
            if (!param.isValid) {
                logger->error(QStringLiteral("%1: parse param file error").arg(name));
                deleteJobFile(name);
                continue;
            }
            admitParsed(param, name);
        }
    }
    if (!sessionEnded(session)) {
        const bool keepCopies = submit && options.keepJobFiles;
        for (const QString& name : listed) {
            if (!QFileInfo(m_jobPath + QDir::separator() + name).isFile()) {
                continue;
            }
            if (keepCopies) {
                JobFiles::moveToBackup(m_jobPath, name, m_backupPath);
            } else {
                JobFiles::deleteFile(m_jobPath, name);
            }
        }
    }
    logger->info(QStringLiteral("leave initialCheck4JobPath"));
    m_passRunning = false;
    if (!sessionEnded(session)) {
        startJobTimer();
    }
    runDeferredStartup();
}

void JobQueue::runDeferredStartup()
{
    if (m_startupDeferred) {
        m_startupDeferred = false;
        QTimer::singleShot(0, this, &JobQueue::initialCheck4JobPath);
    }
}

void JobQueue::timerCallback()
{
    // An empty job folder path would name the working directory.
    if (m_jobPath.isEmpty() || m_passRunning) {
        return;
    }
    m_guard.sweep(m_jobPath);
    const QStringList files = JobFiles::listFiles(m_jobPath);
    if (files.isEmpty()) {
        return;
    }
    logger->info(QStringLiteral("Job Path checked and %1 new files found").arg(files.size()));
    m_jobTimer->stop();
    m_passRunning = true;
    const int session = m_session;

    if (m_host->jobOptions().keepJobFiles) {
        JobFiles::ensureBackupFolder(m_backupPath);
    }
    for (const QString& name : files) {
        if (!JobFiles::isTrigger(name)) {
            continue;
        }
        // Jobs are never submitted for a user who has logged out meanwhile.
        if (sessionEnded(session)) {
            break;
        }
        admitFromTimer(name);
    }

    m_passRunning = false;
    if (!sessionEnded(session)) {
        startJobTimer();
    }
    runDeferredStartup();
}

void JobQueue::admitFromTimer(const QString& name)
{
    const QString triggerPath = m_jobPath + QDir::separator() + name;
    if (!QFileInfo::exists(triggerPath)) {
        return; // taken with an earlier job of this pass
    }
    if (m_submittedTriggers.contains(triggerKey(name))) {
        return;
    }
    if (!JobParamReader::checkParamFile(triggerPath)) {
        logger->warn(QStringLiteral("param file is NG for ") + name);
        return;
    }
    logger->info(QStringLiteral("job file found : ") + name);
    if (!m_host->checkNetworkState(true)) {
        deleteJobFile(name);
        return;
    }
    const KsJobParam param = m_reader.parseJobParamFileLinux(triggerPath, name);
    logger->info(QStringLiteral("######## P aaa"));
    if (!param.isValid) {
        logger->info(QStringLiteral("######## P bbb"));
        deleteJobFile(name);
        return;
    }
    admitParsed(param, name);
}

void JobQueue::admitParsed(const KsJobParam& param, const QString& name)
{
    const int session = m_session;
    logger->info(QStringLiteral("######## P 3333"));
    const KsUserInfo info = KsKit(nullptr).getKsUserInfo(m_host->userAccount());
    if (info.userName.isEmpty()) {
        logger->info(QStringLiteral("######## KsUserInfo data is empty"));
    } else {
        if (param.color.toLower() == QLatin1String("true") && !info.isAllowPrintColor) {
            if (!m_host->askConfirmation(
                    tr("You are not allowed to submit color homework. Do you want to submit it?"))) {
                deleteJobFile(name);
                return;
            }
        }
        logger->info(QStringLiteral("########## duplex=") + QString::number(param.duplexMode)
                     + QStringLiteral(" IsAllowSimple=")
                     + (info.isAllowSimple ? QStringLiteral("true") : QStringLiteral("false")));
        if (param.duplexMode == 0 && !info.isAllowSimple) {
            if (!m_host->askConfirmation(
                    tr("You are not allowed to submit single-sided operation. Do you want to submit it?"))) {
                deleteJobFile(name);
                return;
            }
        }
    }
    logger->info(QStringLiteral("######## P 444"));

    const JobOptions options = m_host->jobOptions();
    if (options.fileLimit && !withinLimits(param, name)) {
        deleteJobFile(name);
        return;
    }
    // A logout while a prompt was open: the job stays for the next login.
    if (sessionEnded(session)) {
        return;
    }

    logger->info(QStringLiteral("submitting job %1 to KS").arg(param.docName));
    m_submitter->SubmitJob(param);
    logger->info(QStringLiteral("job %1 submitted to KS").arg(param.docName));

    // The start-up pass would clear the folder at its end anyway; removing the job's files now means a pass
    // broken off by a logout cannot leave a submitted job behind.
    removeAfterSubmission(name, param.docName, options.keepJobFiles);
}

bool JobQueue::withinLimits(const KsJobParam& param, const QString& name)
{
    const JobOptions options = m_host->jobOptions();
    const QFileInfo data(JobFiles::dataFileOf(m_jobPath, name));
    if (data.isFile() && param.documentPages <= options.maxPageCount && data.size() <= options.maxJobFileSize) {
        return true;
    }
    logger->error(QStringLiteral("%1: job file size or page count is too large!").arg(param.docName));
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-hh:mm:ss-ddd"));
    if (param.documentPages > options.maxPageCount) {
        const QString text = tr("Page number of print job [%1] exceeds [%2] limit")
                                 .arg(param.docName, QString::number(options.maxPageCount));
        m_host->insertMsgToDb(m_host->userAccount(), QString(), text, now);
        m_host->showWarning(text);
    }
    if (data.isFile() && data.size() > options.maxJobFileSize) {
        const QString text = tr("Print job [%1] size exceeds 1g limit").arg(param.docName);
        m_host->insertMsgToDb(m_host->userAccount(), QString(), text, now);
        m_host->showWarning(text);
    }
    return false;
}

void JobQueue::removeAfterSubmission(const QString& name, const QString& docName, bool keepCopies)
{
    const QString base = JobFiles::baseOf(name);
    for (const QString& file : JobFiles::ownFiles(m_jobPath, base)) {
        if (keepCopies) {
            JobFiles::moveToBackup(m_jobPath, file, m_backupPath);
        } else {
            JobFiles::deleteFile(m_jobPath, file);
        }
    }
    logger->info(QStringLiteral("job %1 files deleted from job path").arg(docName));
    if (QFileInfo::exists(m_jobPath + QDir::separator() + name)) {
        logger->error(QStringLiteral("job %1 stays in the job path and will not be submitted again").arg(name));
        m_submittedTriggers.insert(triggerKey(name));
    }
}

void JobQueue::deleteJobFile(const QString& triggerName)
{
    if (m_jobPath.isEmpty()) {
        return;
    }
    for (const QString& file : JobFiles::ownFiles(m_jobPath, JobFiles::baseOf(triggerName))) {
        JobFiles::deleteFile(m_jobPath, file);
    }
}
