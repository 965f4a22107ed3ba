#include "JobRecovery.h"

#include "CurlExchange.h"
#include "JobFiles.h"
#include "JobFolder.h"
#include "JobHost.h"
#include "JobNotices.h"
#include "JobSubmitter.h"
#include "PrintJob.h"
#include "RetrySchedule.h"
#include "api/ApiAnswer.h"
#include "api/HttpExchange.h"
#include "api/KsEndpoints.h"
#include "api/KsJobs.h"
#include "app/Logging.h"

#include <QElapsedTimer>
#include <QFileInfo>

static Logger* logger = Logging::rootLogger();

JobRecovery::JobRecovery(JobHost* host, JobFolder* folder, RetrySchedule* schedule, JobSubmitter* submitter,
                         JobNotices* notices)
    : m_host(host)
    , m_folder(folder)
    , m_schedule(schedule)
    , m_submitter(submitter)
    , m_notices(notices)
{ }

JobRecovery::~JobRecovery() = default;

JobJournal* JobRecovery::journal()
{
    if (!m_journal) {
        m_journal = std::make_unique<JobJournal>(m_journalPath.isEmpty() ? JobJournal::defaultPath() : m_journalPath);
    }
    return m_journal.get();
}

JobRecovery::ServerJob JobRecovery::serverJobState(const QString& jobId, const QString& account)
{
    ApiAnswer::Log log;
    log.exPrefix = QStringLiteral("[jobqueue.serverJobState]  ex message:");
    log.failPrefix = QStringLiteral("[jobqueue.serverJobState] fail message:");
    // Through the pipeline, to the server every request of a job goes to; the user's input waits meanwhile.
    CurlExchange& exchange = m_submitter->exchange();
    const QString base = m_submitter->serverUrl();
    exchange.setExcludeUserInput(true);
    const HttpAnswer reply
        = exchange.get(KsEndpoints::jobListUrl(base, account.isEmpty() ? m_host->userAccount() : account), base);
    exchange.setExcludeUserInput(false);
    const ApiAnswer answer = ApiAnswer::read(reply.body, reply.failureText(), ApiAnswer::Envelope::Code, log);
    if (!answer.ok()) {
        // Never a guess: the job stays as it is until the server can say.
        logger->info(QStringLiteral("server job %1: no answer from the job list, asked again later").arg(jobId));
        return ServerJob::NoAnswer;
    }
    m_schedule->serverAnswered();
    KsJobs jobs;
    jobs.read(answer.object);
    for (const KsJob& job : jobs.getKsJobs()) {
        if (job.getJobID() == jobId) {
            return ServerJob::Listed;
        }
    }
    return ServerJob::Unknown;
}

bool JobRecovery::reconcileAtStart(const std::function<bool()>& stopped)
{
    // Jobs the server confirmed before a crash or a kill are never offered again, nor are those whose
    // confirmation reached the server when its answer was lost: the server's job list says which.
    for (const QString& name : m_folder->files()) {
        if (!JobFiles::isTrigger(name)) {
            continue;
        }
        PrintJob job(m_folder->path(), name, m_host->userAccount());
        job.entry = journal()->find(job);
        if (m_folder->sentBefore(job)) {
            logger->info(QStringLiteral("job %1 was submitted before; its files are removed").arg(name));
            m_folder->removeJob(job, JobFolder::Removal::Submitted, m_host->jobOptions().keepJobFiles);
            continue;
        }
        if (job.entry.found && !job.entry.replaced && !job.entry.serverJobId.isEmpty()
            && serverJobState(job.entry.serverJobId, job.entry.account) == ServerJob::Listed) {
            // The server has it as confirmed: the user hears it was submitted, and it is cleared away.
            logger->info(QStringLiteral("job %1 is on the server as confirmed; its files are removed").arg(name));
            m_notices->addForUser(JobSubmitter::tr("job [%1] submiited to KS").arg(job.docName));
            journal()->setConfirmed(job);
            m_folder->removeJob(job, JobFolder::Removal::Submitted, m_host->jobOptions().keepJobFiles);
            if (!QFileInfo::exists(job.triggerPath)) {
                journal()->remove(name);
            }
            m_schedule->forget(name);
        }
        if (stopped()) {
            return false;
        }
    }
    return true;
}

void JobRecovery::settleOrphans(const QStringList& files)
{
    if (!m_folder->isSet()) {
        return;
    }
    QStringList triggers;
    for (const QString& name : files) {
        if (JobFiles::isTrigger(name)) {
            triggers << name;
        }
    }
    const QList<JobJournal::Entry> open = journal()->prune(triggers);
    if (open.isEmpty() || !m_schedule->orphanTryDue()) {
        return;
    }
    for (const JobJournal::Entry& entry : open) {
        // Its files are gone, but its confirmation may have reached the server: a delivered job is not undone.
        const ServerJob state = serverJobState(entry.serverJobId, entry.account);
        if (state == ServerJob::Listed) {
            logger->info(
                QStringLiteral("server job %1 of %2 was delivered; it stays").arg(entry.serverJobId, entry.trigger));
            journal()->remove(entry.trigger);
        } else if (state == ServerJob::Unknown && m_submitter->cancelJob(entry.serverJobId, entry.account, 0)) {
            journal()->remove(entry.trigger);
        }
    }
}

void JobRecovery::cancelOpenServerJobs(int timeoutMs)
{
    if (!m_folder->isSet() || !m_journal) {
        return;
    }
    QElapsedTimer clock;
    clock.start();
    for (const QString& name : m_folder->files()) {
        if (!JobFiles::isTrigger(name)) {
            continue;
        }
        const JobJournal::Entry entry = journal()->find(PrintJob(m_folder->path(), name, m_host->userAccount()));
        const qint64 left = timeoutMs - clock.elapsed();
        // Once every chunk is out, the confirmation may be on its way: the next start asks the server instead.
        if (!entry.found || entry.confirmed || entry.serverJobId.isEmpty() || left <= 0
            || entry.state == JobJournal::UploadState::Uploaded) {
            continue;
        }
        logger->info(QStringLiteral("cancelling the unfinished server job %1 of %2").arg(entry.serverJobId, name));
        if (m_submitter->cancelJob(entry.serverJobId, entry.account, static_cast<int>(left))) {
            journal()->clearServerJob(name);
        }
    }
}
