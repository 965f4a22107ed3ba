#include "JobRecovery.h"

#include "JobFiles.h"
#include "JobFolder.h"
#include "JobHost.h"
#include "JobNotices.h"
#include "JobSubmitter.h"
#include "RetrySchedule.h"
#include "api/HttpExchange.h"
#include "api/KsJobs.h"
#include "api/KsKit.h"
#include "app/Logging.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <optional>

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

JobJournal::Entry JobRecovery::entryOf(const QString& name)
{
    const QString data = JobFiles::dataFileOf(m_folder->path(), name);
    return journal()->find(name, QFileInfo(data).size(), JobFiles::modifiedMs(data));
}

bool JobRecovery::alreadySent(const QString& name)
{
    if (m_folder->submittedBefore(name)) {
        return true;
    }
    const JobJournal::Entry entry = entryOf(name);
    return entry.found && entry.confirmed;
}

JobRecovery::ServerJob JobRecovery::serverJobState(const QString& jobId, const QString& account)
{
    ApiAnswer::Log log;
    log.exPrefix = QStringLiteral("[jobqueue.serverJobState]  ex message:");
    log.failPrefix = QStringLiteral("[jobqueue.serverJobState] fail message:");
    std::optional<ApiAnswer> answer;
    QEventLoop loop;
    m_host->api().requestJobList(m_host->serverUrl(), account.isEmpty() ? m_host->userAccount() : account, log, &loop,
                                 [&](const ApiAnswer& done) {
                                     answer = done;
                                     loop.quit();
                                 });
    if (!answer) {
        QTimer::singleShot(HttpExchange::transferTimeout(), &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (!answer || !answer->ok()) {
        // Never a guess: the job stays as it is until the server can say.
        logger->info(QStringLiteral("server job %1: no answer from the job list, asked again later").arg(jobId));
        return ServerJob::NoAnswer;
    }
    m_schedule->serverAnswered();
    KsJobs jobs;
    jobs.read(answer->object);
    for (const KsJob& job : jobs.getKsJobs()) {
        if (job.getJobID() == jobId) {
            return ServerJob::Listed;
        }
    }
    return ServerJob::Unknown;
}

void JobRecovery::settleDelivered(const QString& name, const QString& docName)
{
    logger->info(QStringLiteral("job %1 is on the server as confirmed; its files are removed").arg(name));
    journal()->setConfirmed(name);
    m_notices->addForUser(JobSubmitter::tr("job [%1] submiited to KS").arg(docName));
    m_schedule->forget(name);
    m_folder->removeAfterSubmission(name, docName, m_host->jobOptions().keepJobFiles);
    if (!m_folder->exists(name)) {
        journal()->remove(name);
    }
}

bool JobRecovery::reconcileAtStart(const std::function<bool()>& stopped)
{
    // Jobs the server confirmed before a crash or a kill are never offered again, nor are those whose
    // confirmation reached the server when its answer was lost: the server's job list says which.
    for (const QString& name : m_folder->files()) {
        if (!JobFiles::isTrigger(name)) {
            continue;
        }
        if (alreadySent(name)) {
            logger->info(QStringLiteral("job %1 was submitted before; its files are removed").arg(name));
            m_folder->removeAfterSubmission(name, name, m_host->jobOptions().keepJobFiles);
            continue;
        }
        const JobJournal::Entry entry = entryOf(name);
        if (entry.found && !entry.replaced && !entry.serverJobId.isEmpty()
            && serverJobState(entry.serverJobId, entry.account) == ServerJob::Listed) {
            settleDelivered(name, m_folder->docNameOf(name));
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
        const JobJournal::Entry entry = entryOf(name);
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
