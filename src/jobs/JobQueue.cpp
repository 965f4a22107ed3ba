#include "JobQueue.h"

#include "JobFiles.h"
#include "JobHost.h"
#include "JobNotices.h"
#include "JobSubmitter.h"
#include "PrintJob.h"
#include "SafeJobFile.h"
#include "app/Logging.h"
#include "app/ShutdownSignals.h"

#include <QDir>
#include <QScopedValueRollback>
#include <QTimer>

#include <utility>

static Logger* logger = Logging::rootLogger();

JobQueue::JobQueue(JobHost* host, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_notices(new JobNotices(host, this))
    , m_reader(host)
    , m_guard(m_notices)
    , m_submitter(new JobSubmitter(host, this, m_notices))
    , m_jobTimer(new QTimer(this))
    , m_recovery(host, &m_folder, &m_schedule, m_submitter, m_notices)
    , m_admission(host, &m_reader, m_submitter, &m_folder, &m_schedule, &m_recovery, m_notices)
{
    // Created stopped; the start-up pass starts it.
    connect(m_jobTimer, &QTimer::timeout, this, &JobQueue::timerCallback);
}

JobQueue::~JobQueue() = default;

bool JobQueue::initJobControlOption()
{
    const JobFolderSetting setting = m_host->jobOptions().folder;
    if (setting.jobFolder.isEmpty()) {
        qWarning("%s", qUtf8Printable(tr("could not find INI file")));
        logger->error(QStringLiteral("could not find INI file"));
        logger->info(QStringLiteral("inifile path %1").arg(setting.settingsFile));
        return false;
    }
    QString path = setting.jobFolder;
    if (!QDir(path).exists()) {
        logger->info(QStringLiteral("create job path: ") + path);
    }
    // Print jobs are private documents; a folder that is not the user's own is not read at all.
    if (!SafeJobFile::ensurePrivateFolder(path)) {
        path.clear();
    }
    m_folder.setPath(path);
    return true;
}

bool JobQueue::isJobTimerActive() const
{
    return m_jobTimer->isActive();
}

void JobQueue::startJobTimer()
{
    if (!m_quitting) {
        m_jobTimer->start(kTimerIntervalMs);
    }
}

void JobQueue::stopJobTimer()
{
    m_taking = false;
    m_arrivedDuringPass = false;
    ++m_session;
    m_jobTimer->stop();
}

void JobQueue::requestQuit()
{
    m_quitting = true;
    stopJobTimer();
}

bool JobQueue::sessionEnded(int session) const
{
    // A quit ends every nested event loop: an open question then reads as "No", which it was not.
    return session != m_session || m_quitting || ShutdownSignals::quitRequested();
}

void JobQueue::publishCount()
{
    m_host->setUnsentJobCount(unsentJobCount());
}

void JobQueue::cancelOpenServerJobs(int timeoutMs)
{
    m_recovery.cancelOpenServerJobs(timeoutMs);
}

void JobQueue::deleteJobFile(const QString& triggerName)
{
    if (!JobFiles::isTrigger(triggerName)) {
        return;
    }
    m_folder.removeJob(PrintJob(m_folder.path(), triggerName, m_host->userAccount()), JobFolder::Removal::Dropped,
                       false);
    m_schedule.forget(triggerName);
}

void JobQueue::endPass(int session)
{
    m_passRunning = false;
    publishCount();
    if (!sessionEnded(session)) {
        startJobTimer();
        // Jobs that came while this pass ran: a burst is one more pass, not one per job.
        if (std::exchange(m_arrivedDuringPass, false)) {
            QTimer::singleShot(0, this, [this]() {
                if (m_taking) {
                    timerCallback();
                }
            });
        }
    }
    runDeferredStartup();
}

void JobQueue::initialCheck4JobPath()
{
    logger->info(QStringLiteral("enter initialCheck4JobPath"));
    m_taking = !m_quitting;
    if (m_passRunning) {
        // A pass begun before a logout is still waiting on a prompt or an upload; it would race this one
        // over the same files, so this pass runs once it has ended.
        m_startupDeferred = true;
        return;
    }
    const int session = m_session;
    if (!m_folder.isSet()) {
        startJobTimer();
        return;
    }
    m_passRunning = true;
    m_guard.sweep(m_folder.path());
    if (!m_recovery.reconcileAtStart([this, session]() { return sessionEnded(session); })) {
        m_passRunning = false;
        runDeferredStartup();
        return;
    }
    m_recovery.settleOrphans(m_folder.files());
    if (m_folder.files().isEmpty()) {
        m_passRunning = false;
        publishCount();
        startJobTimer();
        return;
    }

    const JobOptions options = m_host->jobOptions();
    const bool keep = options.keepUnsentJobs;
    const QString title = tr("KestranaClient V%1").arg(options.clientVersion);
    const JobHost::ExistingJobsChoice choice = m_host->askExistingJobs(title, unsentJobCount());
    const bool submit = choice == JobHost::ExistingJobsChoice::Submit;
    // Closed without a choice, the jobs stay for the timer when they may be kept; only "Discard" removes them.
    const bool discard
        = choice == JobHost::ExistingJobsChoice::Discard || (choice == JobHost::ExistingJobsChoice::NoChoice && !keep);

    // Only the files seen here are cleaned up: a job printed while this pass runs waits for the timer.
    const QStringList listed = m_folder.files();
    if (submit && !sessionEnded(session)) {
        runPass(listed, JobAdmission::Pass::Startup, session);
    }
    // A quit or logout while the question was open answers nothing; kept jobs stay to be sent.
    if (!sessionEnded(session) && (discard || (submit && !keep))) {
        m_folder.removeAll(listed, submit && options.keepJobFiles);
        m_schedule.forgetAll();
    }
    logger->info(QStringLiteral("leave initialCheck4JobPath"));
    endPass(session);
}

void JobQueue::runDeferredStartup()
{
    if (m_startupDeferred && !m_quitting) {
        m_startupDeferred = false;
        QTimer::singleShot(0, this, &JobQueue::initialCheck4JobPath);
    }
}

void JobQueue::runPass(const QStringList& files, JobAdmission::Pass pass, int session)
{
    const JobAdmission::StopCheck stopped = [this, session]() { return sessionEnded(session); };
    // After "Submit" at start-up without keeping, every listed job is tried: what is left goes afterwards.
    const bool stopAtKept = pass == JobAdmission::Pass::Timer || m_host->jobOptions().keepUnsentJobs;
    m_admission.beginPass();
    for (const QString& name : files) {
        if (!JobFiles::isTrigger(name)) {
            continue;
        }
        // Jobs are never submitted for a user who has logged out meanwhile.
        if (stopped()) {
            break;
        }
        // The job as it is when its turn starts; its retry state goes with it and comes back at the end.
        PrintJob job(m_folder.path(), name, m_host->userAccount());
        job.retry = m_schedule.of(name);
        const JobAdmission::Outcome outcome = m_admission.admit(job, pass, stopped);
        m_schedule.store(name, job.retry);
        // Jobs keep their printing order: those behind a kept job wait for it.
        if (outcome == JobAdmission::Outcome::Interrupted || (stopAtKept && outcome == JobAdmission::Outcome::Kept)) {
            break;
        }
    }
    m_admission.endPass();
}

void JobQueue::jobArrived(const QString& folder)
{
    if (!m_taking || folder != m_folder.path()) {
        return;
    }
    if (m_passRunning) {
        m_arrivedDuringPass = true;
        return;
    }
    timerCallback();
}

void JobQueue::timerCallback()
{
    // An empty job folder path would name the working directory.
    if (!m_folder.isSet() || m_passRunning || m_quitting) {
        return;
    }
    m_guard.sweep(m_folder.path());
    const QStringList files = m_folder.files();
    if (files.isEmpty()) {
        if (m_recovery.journalOpened()) {
            // The requests wait in an event loop; no pass may start meanwhile.
            const QScopedValueRollback<bool> busy(m_passRunning, true);
            m_recovery.settleOrphans(files);
        }
        return;
    }
    // The first kept job holds back the ones behind it; until it is due, there is nothing to do, unless a job
    // was printed since: then the server is asked, and an answer makes every kept job due at once.
    bool printedSince = false;
    const bool held = m_schedule.heldBack(files, &printedSince);
    if (held && !printedSince) {
        return;
    }
    logger->info(QStringLiteral("Job Path checked and %1 new files found").arg(files.size()));
    m_jobTimer->stop();
    m_passRunning = true;
    const int session = m_session;
    bool answered = true;
    if (held) {
        answered = m_host->checkNetworkState(false);
        if (answered) {
            serverReachable();
        } else if (m_schedule.firstOutage()) {
            m_host->reportServerUnreachable();
        }
    }
    // Without an answer every job waits: the kept ones for their turn, the new ones behind them.
    if (answered && !sessionEnded(session)) {
        if (m_host->jobOptions().keepJobFiles) {
            m_folder.ensureBackupFolder();
        }
        m_recovery.settleOrphans(files);
        runPass(files, JobAdmission::Pass::Timer, session);
    }
    endPass(session);
}
