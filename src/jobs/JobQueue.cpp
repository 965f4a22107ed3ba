#include "JobQueue.h"

#include "CurlExchange.h"
#include "JobFiles.h"
#include "JobHost.h"
#include "JobJournal.h"
#include "JobSubmitter.h"
#include "SafeJobFile.h"
#include "api/HttpExchange.h"
#include "api/KsEndpoints.h"
#include "api/KsJobs.h"
#include "api/KsKit.h"
#include "app/Logging.h"
#include "app/ShutdownSignals.h"
#include "app/UserPaths.h"
#include "config/LoginInfo.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QTimer>

#include <optional>

static Logger* logger = Logging::rootLogger();

namespace {

// The journal's entry of a trigger: a job is known by its trigger together with its data file's size and time.
JobJournal::Entry entryOf(JobJournal* journal, const QString& folder, const QString& name)
{
    const QString data = JobFiles::dataFileOf(folder, name);
    return journal->find(name, QFileInfo(data).size(), JobFiles::modifiedMs(data));
}

} // namespace

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
    m_reader.setStopCheck([this]() { return sessionEnded(m_passSession); });
}

JobQueue::~JobQueue() = default;

bool JobQueue::initJobControlOption()
{
    const QString iniPath = UserPaths::iniFilePath();
    if (!QFileInfo(iniPath).isFile()) {
        qWarning("%s", qUtf8Printable(tr("could not find INI file")));
        logger->error(QStringLiteral("could not find INI file"));
        logger->info(QStringLiteral("inifile path %1").arg(iniPath));
        return false;
    }
    const QString folder = LoginInfo::jobFolderInFile();
    m_jobPath = UserPaths::homePath() + QStringLiteral("/halcyraclient/") + folder;
    if (!QDir(m_jobPath).exists()) {
        logger->info(QStringLiteral("create job path: ") + m_jobPath);
    }
    // Print jobs are private documents; a folder that is not the user's own is not read at all.
    if (!SafeJobFile::ensurePrivateFolder(m_jobPath)) {
        m_jobPath.clear();
    }
    return true;
}

qint64 JobQueue::now() const
{
    return m_clock ? m_clock() : QDateTime::currentMSecsSinceEpoch();
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

bool JobQueue::keepUnsent() const
{
    return m_host->jobOptions().keepUnsentJobs;
}

JobJournal* JobQueue::journal()
{
    if (!m_journal) {
        m_journal = std::make_unique<JobJournal>(m_journalPath.isEmpty() ? JobJournal::defaultPath() : m_journalPath);
    }
    return m_journal.get();
}

QString JobQueue::triggerKey(const QString& name) const
{
    const QFileInfo info(m_jobPath + QDir::separator() + name);
    return name + QLatin1Char('|') + QString::number(info.size()) + QLatin1Char('|')
        + QString::number(JobFiles::modifiedMs(info.filePath()));
}

QString JobQueue::docNameOf(const QString& name) const
{
    const QString paramPath = m_jobPath + QDir::separator() + JobFiles::baseOf(name);
    // Read through the same checks as the job itself: no link is followed, nothing blocks.
    QByteArray paramText;
    SafeJobFile::readAll(paramPath, SafeJobFile::kMaxParamFileSize, &paramText);
    return JobParamReader::documentName(JobParamReader::readDocName(paramText), name, m_host->userAccount(),
                                        qEnvironmentVariable("USER"));
}

void JobQueue::tell(const QString& text)
{
    m_host->showSystemMessage(tr("Title"), text);
    m_host->insertMsgToDb(m_host->userAccount(), QString(), text, QString());
}

int JobQueue::unsentJobCount() const
{
    int count = 0;
    for (const QString& name : JobFiles::listFiles(m_jobPath)) {
        if (JobFiles::isTrigger(name) && !m_submittedTriggers.contains(triggerKey(name))) {
            ++count;
        }
    }
    return count;
}

void JobQueue::publishCount()
{
    m_host->setUnsentJobCount(unsentJobCount());
}

void JobQueue::serverReachable()
{
    m_outageReported = false;
    retryKeptJobsNow();
}

void JobQueue::retryKeptJobsNow()
{
    for (auto it = m_retries.begin(); it != m_retries.end(); ++it) {
        it->dueMs = 0;
    }
}

bool JobQueue::alreadySent(const QString& name)
{
    if (m_submittedTriggers.contains(triggerKey(name))) {
        return true;
    }
    const JobJournal::Entry entry = entryOf(journal(), m_jobPath, name);
    return entry.found && entry.confirmed;
}

JobQueue::ServerJob JobQueue::serverJobState(const QString& jobId, const QString& account)
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
    serverReachable();
    KsJobs jobs;
    jobs.read(answer->object);
    for (const KsJob& job : jobs.getKsJobs()) {
        if (job.getJobID() == jobId) {
            return ServerJob::Listed;
        }
    }
    return ServerJob::Unknown;
}

void JobQueue::settleDelivered(const QString& name, const QString& docName)
{
    logger->info(QStringLiteral("job %1 is on the server as confirmed; its files are removed").arg(name));
    journal()->setConfirmed(name);
    m_host->insertMsgToDb(m_host->userAccount(), QString(), JobSubmitter::tr("job [%1] submiited to KS").arg(docName),
                          QString());
    m_retries.remove(name);
    m_toldKept.remove(name);
    removeAfterSubmission(name, docName, m_host->jobOptions().keepJobFiles);
    if (!QFileInfo::exists(m_jobPath + QDir::separator() + name)) {
        journal()->remove(name);
    }
}

void JobQueue::settleJournal(const QStringList& files)
{
    if (m_jobPath.isEmpty()) {
        return;
    }
    QStringList triggers;
    for (const QString& name : files) {
        if (JobFiles::isTrigger(name)) {
            triggers << name;
        }
    }
    const QList<JobJournal::Entry> open = journal()->prune(triggers);
    if (open.isEmpty() || now() < m_nextOrphanTryMs) {
        return;
    }
    m_nextOrphanTryMs = now() + kFirstRetryMs;
    // The requests below wait in an event loop; no pass may start meanwhile.
    const QScopedValueRollback<bool> busy(m_passRunning, true);
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

void JobQueue::cancelOpenServerJobs(int timeoutMs)
{
    if (m_jobPath.isEmpty() || !m_journal) {
        return;
    }
    QElapsedTimer clock;
    clock.start();
    const QStringList files = JobFiles::listFiles(m_jobPath);
    for (const QString& name : files) {
        if (!JobFiles::isTrigger(name)) {
            continue;
        }
        const JobJournal::Entry entry = entryOf(journal(), m_jobPath, name);
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
    m_passSession = session;
    if (m_jobPath.isEmpty()) {
        startJobTimer();
        return;
    }
    m_passRunning = true;
    m_guard.sweep(m_jobPath);
    // Jobs the server confirmed before a crash or a kill are never offered again, nor are those whose
    // confirmation reached the server when its answer was lost: the server's job list says which.
    for (const QString& name : JobFiles::listFiles(m_jobPath)) {
        if (!JobFiles::isTrigger(name)) {
            continue;
        }
        if (alreadySent(name)) {
            logger->info(QStringLiteral("job %1 was submitted before; its files are removed").arg(name));
            removeAfterSubmission(name, name, m_host->jobOptions().keepJobFiles);
            continue;
        }
        const JobJournal::Entry entry = entryOf(journal(), m_jobPath, name);
        if (entry.found && !entry.replaced && !entry.serverJobId.isEmpty()
            && serverJobState(entry.serverJobId, entry.account) == ServerJob::Listed) {
            settleDelivered(name, docNameOf(name));
        }
        if (sessionEnded(session)) {
            m_passRunning = false;
            runDeferredStartup();
            return;
        }
    }
    settleJournal(JobFiles::listFiles(m_jobPath));
    if (JobFiles::listFiles(m_jobPath).isEmpty()) {
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
    const QStringList listed = JobFiles::listFiles(m_jobPath);
    bool kept = false;
    if (submit && !sessionEnded(session)) {
        m_reader.beginPass();
        for (const QString& name : listed) {
            if (!JobFiles::isTrigger(name) || !QFileInfo::exists(m_jobPath + QDir::separator() + name)) {
                continue;
            }
            if (sessionEnded(session)) {
                break;
            }
            QString why;
            if (keep && (kept || !filesReady(name, &why) || !dueForRetry(name))) {
                continue; // the timer takes it, in order, once its files are there
            }
            const KsJobParam param = m_reader.parseJobParamFileLinux(m_jobPath + QDir::separator() + name, name);
            if (sessionEnded(session)) {
                break;
            }
            if (!param.isValid) {
                if (keep && m_reader.lastFailure() == JobParamReader::Failure::Unreachable) {
                    keepJob(name, docNameOf(name));
                    kept = true;
                    continue;
                }
                logger->error(QStringLiteral("%1: parse param file error").arg(name));
                deleteJobFile(name);
                continue;
            }
            const Turn turn = admitParsed(param, name);
            if (turn == Turn::Interrupted) {
                break;
            }
            kept = kept || turn == Turn::Kept;
        }
        m_reader.endPass();
    }
    // A quit or logout while the question was open answers nothing; kept jobs stay to be sent.
    if (!sessionEnded(session) && (discard || (submit && !keep))) {
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
        m_retries.clear();
    }
    logger->info(QStringLiteral("leave initialCheck4JobPath"));
    m_passRunning = false;
    publishCount();
    if (!sessionEnded(session)) {
        startJobTimer();
    }
    runDeferredStartup();
}

void JobQueue::runDeferredStartup()
{
    if (m_startupDeferred && !m_quitting) {
        m_startupDeferred = false;
        QTimer::singleShot(0, this, &JobQueue::initialCheck4JobPath);
    }
}

bool JobQueue::dueForRetry(const QString& name) const
{
    const auto it = m_retries.constFind(name);
    return it == m_retries.constEnd() || now() >= it->dueMs;
}

bool JobQueue::heldBack(const QStringList& files, bool* printedSince)
{
    QSet<QString> present;
    QString firstKept;
    *printedSince = false;
    for (const QString& name : files) {
        if (!JobFiles::isTrigger(name)) {
            continue;
        }
        present.insert(name);
        if (firstKept.isEmpty() && m_retries.contains(name)) {
            firstKept = name;
        }
        *printedSince = *printedSince || !m_known.contains(name);
    }
    m_known = present;
    return !firstKept.isEmpty() && !dueForRetry(firstKept);
}

void JobQueue::timerCallback()
{
    // An empty job folder path would name the working directory.
    if (m_jobPath.isEmpty() || m_passRunning || m_quitting) {
        return;
    }
    m_guard.sweep(m_jobPath);
    const QStringList files = JobFiles::listFiles(m_jobPath);
    if (files.isEmpty()) {
        if (m_journal) {
            settleJournal(files);
        }
        return;
    }
    // The first kept job holds back the ones behind it; until it is due, there is nothing to do, unless a job
    // was printed since: then the server is asked, and an answer makes every kept job due at once.
    bool printedSince = false;
    const bool held = heldBack(files, &printedSince);
    if (held && !printedSince) {
        return;
    }
    logger->info(QStringLiteral("Job Path checked and %1 new files found").arg(files.size()));
    m_jobTimer->stop();
    m_passRunning = true;
    const int session = m_session;
    m_passSession = session;
    bool answered = true;
    if (held) {
        answered = m_host->checkNetworkState(false);
        if (answered) {
            serverReachable();
        } else if (!m_outageReported) {
            m_outageReported = true;
            m_host->reportServerUnreachable();
        }
    }
    // Without an answer every job waits: the kept ones for their turn, the new ones behind them.
    if (answered && !sessionEnded(session)) {
        if (m_host->jobOptions().keepJobFiles) {
            JobFiles::ensureBackupFolder(m_backupPath);
        }
        settleJournal(files);
        m_reader.beginPass();
        for (const QString& name : files) {
            if (!JobFiles::isTrigger(name)) {
                continue;
            }
            // Jobs are never submitted for a user who has logged out meanwhile.
            if (sessionEnded(session)) {
                break;
            }
            const Turn turn = admitFromTimer(name);
            // Jobs keep their printing order: those behind a kept job wait for it.
            if (turn == Turn::Kept || turn == Turn::Interrupted) {
                break;
            }
        }
        m_reader.endPass();
    }

    m_passRunning = false;
    publishCount();
    if (!sessionEnded(session)) {
        startJobTimer();
    }
    runDeferredStartup();
}

bool JobQueue::filesReady(const QString& name, QString* why) const
{
    const QString paramPath = m_jobPath + QDir::separator() + JobFiles::baseOf(name);
    // A parameter file that is there but cannot be read would give the job default settings.
    if (QFileInfo::exists(paramPath) && !JobParamReader::checkParamFile(paramPath)) {
        *why = QStringLiteral("parameters");
        return false;
    }
    const QFileInfo data(JobFiles::dataFileOf(m_jobPath, name));
    if (!data.isFile() || data.size() == 0) {
        *why = QStringLiteral("data");
        return false;
    }
    // A PDF cut off by a full disk or a writer that stopped half-way does not open: it is not all there yet.
    if (name.endsWith(QLatin1String(".pdf")) && JobParamReader::pageCount(data.filePath()) <= 0) {
        *why = QStringLiteral("document");
        return false;
    }
    return true;
}

JobQueue::Turn JobQueue::waitForFiles(const QString& name, const QString& why)
{
    const qint64 since = m_waitingSince.value(name, now());
    m_waitingSince.insert(name, since);
    if (now() - since < kWaitNoticeMs) {
        return Turn::Waiting;
    }
    const QString docName = docNameOf(name);
    // Without its whole document the job can never print; the user hears why it went.
    if (why == QLatin1String("data")) {
        logger->error(QStringLiteral("%1: the job's data file did not arrive").arg(docName));
        tell(tr("Print job [%1] was removed: its document did not arrive").arg(docName));
    } else if (why == QLatin1String("document")) {
        logger->error(QStringLiteral("%1: the job's document is not a complete PDF").arg(docName));
        tell(tr("Print job [%1] was removed: its document is not a complete PDF").arg(docName));
    }
    if (why != QLatin1String("parameters")) {
        m_waitingSince.remove(name);
        deleteJobFile(name);
        return Turn::Done;
    }
    if (!m_toldWaiting.contains(name)) {
        m_toldWaiting.insert(name);
        logger->error(QStringLiteral("%1: the job's parameters cannot be read").arg(docName));
        tell(tr("Print job [%1] waits: its settings cannot be read").arg(docName));
    }
    return Turn::Waiting;
}

bool JobQueue::expired(const QString& name)
{
    if (!m_retries.contains(name)) {
        return false;
    }
    const qint64 hours = m_host->jobOptions().keepUnsentHours;
    // Counted from when the journal first saw the job, across restarts; without a record, from the trigger's time.
    const JobJournal::Entry entry = entryOf(journal(), m_jobPath, name);
    const qint64 since = entry.found && entry.firstSeenMs > 0
        ? entry.firstSeenMs
        : JobFiles::modifiedMs(m_jobPath + QDir::separator() + name);
    if (now() - since < hours * 3600000) {
        return false;
    }
    const QString docName = docNameOf(name);
    logger->error(QStringLiteral("%1: not sent within %2 hours, removed").arg(docName).arg(hours));
    tell(tr("Print job [%1] could not be sent within %2 hours and was removed").arg(docName).arg(hours));
    deleteJobFile(name);
    m_retries.remove(name);
    journal()->remove(name);
    return true;
}

JobQueue::Turn JobQueue::keepJob(const QString& name, const QString& docName)
{
    Retry& retry = m_retries[name];
    retry.delayMs = retry.delayMs == 0 ? kFirstRetryMs : qMin(retry.delayMs * 2, kLastRetryMs);
    retry.dueMs = now() + retry.delayMs;
    const QString data = JobFiles::dataFileOf(m_jobPath, name);
    journal()->noteSeen(name, QFileInfo(data).size(), JobFiles::modifiedMs(data), m_host->userAccount(), now());
    const JobJournal::Entry entry = entryOf(journal(), m_jobPath, name);
    logger->info(QStringLiteral("job %1 kept, next try in %2 s").arg(name).arg(retry.delayMs / 1000));
    if (!m_toldKept.contains(name) && !entry.toldKept) {
        tell(tr("Print job [%1] is kept and will be sent when the server can be reached").arg(docName));
        m_toldKept.insert(name);
        journal()->setToldKept(name);
    }
    return Turn::Kept;
}

JobQueue::Turn JobQueue::admitFromTimer(const QString& name)
{
    const QString triggerPath = m_jobPath + QDir::separator() + name;
    if (!QFileInfo::exists(triggerPath)) {
        return Turn::Done; // taken with an earlier job of this pass
    }
    if (alreadySent(name)) {
        m_submittedTriggers.insert(triggerKey(name));
        return Turn::Done;
    }
    if (!JobParamReader::checkParamFile(triggerPath)) {
        logger->warn(QStringLiteral("param file is NG for ") + name);
        return Turn::Waiting;
    }
    QString why;
    if (!filesReady(name, &why)) {
        return waitForFiles(name, why);
    }
    m_waitingSince.remove(name);
    m_toldWaiting.remove(name);
    const bool keep = keepUnsent();
    if (keep && (!dueForRetry(name) || expired(name))) {
        return m_retries.contains(name) ? Turn::Kept : Turn::Done;
    }
    const int session = m_session;
    logger->info(QStringLiteral("job file found : ") + name);
    const bool reachable = m_host->checkNetworkState(!keep);
    if (sessionEnded(session)) {
        return Turn::Interrupted;
    }
    if (!reachable) {
        if (!keep) {
            deleteJobFile(name);
            return Turn::Done;
        }
        if (!m_outageReported) {
            m_outageReported = true;
            m_host->reportServerUnreachable();
        }
        return keepJob(name, docNameOf(name));
    }
    m_outageReported = false;
    const KsJobParam param = m_reader.parseJobParamFileLinux(triggerPath, name);
    logger->info(QStringLiteral("######## P aaa"));
    if (sessionEnded(session)) {
        return Turn::Interrupted;
    }
    if (!param.isValid) {
        if (keep && m_reader.lastFailure() == JobParamReader::Failure::Unreachable) {
            return keepJob(name, docNameOf(name));
        }
        logger->info(QStringLiteral("######## P bbb"));
        deleteJobFile(name);
        return Turn::Done;
    }
    return admitParsed(param, name);
}

KsUserInfo JobQueue::userPermissions()
{
    // The API's permission query, sent on the pipeline's worker like the job's own requests.
    const QString base = m_host->api().account().serverUrl;
    return KsKit::readPermissions(
        m_submitter->exchange().get(KsEndpoints::permissionsUrl(base, m_host->userAccount()), base));
}

JobQueue::Turn JobQueue::admitParsed(const KsJobParam& param, const QString& name)
{
    const int session = m_session;
    logger->info(QStringLiteral("######## P 3333"));
    const KsUserInfo info = userPermissions();
    if (sessionEnded(session)) {
        return Turn::Interrupted;
    }
    if (info.userName.isEmpty()) {
        logger->info(QStringLiteral("######## KsUserInfo data is empty"));
    } else {
        if (param.color.toLower() == QLatin1String("true") && !info.isAllowPrintColor) {
            const bool yes = m_host->askConfirmation(
                tr("You are not allowed to submit color homework. Do you want to submit it?"));
            // A logout or quit closes the question; that is no answer.
            if (sessionEnded(session)) {
                return Turn::Interrupted;
            }
            if (!yes) {
                deleteJobFile(name);
                return Turn::Done;
            }
        }
        logger->info(QStringLiteral("########## duplex=") + QString::number(param.duplexMode)
                     + QStringLiteral(" IsAllowSimple=")
                     + (info.isAllowSimple ? QStringLiteral("true") : QStringLiteral("false")));
        if (param.duplexMode == 0 && !info.isAllowSimple) {
            const bool yes = m_host->askConfirmation(
                tr("You are not allowed to submit single-sided operation. Do you want to submit it?"));
            if (sessionEnded(session)) {
                return Turn::Interrupted;
            }
            if (!yes) {
                deleteJobFile(name);
                return Turn::Done;
            }
        }
    }
    logger->info(QStringLiteral("######## P 444"));

    const JobOptions options = m_host->jobOptions();
    if (options.fileLimit && !withinLimits(param, name)) {
        deleteJobFile(name);
        return Turn::Done;
    }
    if (sessionEnded(session)) {
        return Turn::Interrupted;
    }
    return submitOnce(param, name);
}

JobQueue::Turn JobQueue::submitOnce(const KsJobParam& param, const QString& name)
{
    const int session = m_session;
    const JobOptions options = m_host->jobOptions();
    const bool keep = options.keepUnsentJobs;
    const QFileInfo data(JobFiles::dataFileOf(m_jobPath, name));
    const qint64 dataSize = data.size();
    const qint64 dataTime = JobFiles::modifiedMs(data.filePath());
    JobJournal* record = journal();
    const JobJournal::Entry entry = record->find(name, dataSize, dataTime);
    if (entry.found && entry.confirmed) {
        removeAfterSubmission(name, param.docName, options.keepJobFiles);
        return Turn::Done;
    }
    if (entry.found && !entry.serverJobId.isEmpty()) {
        // The confirmation may have reached the server when its answer was lost: asked before anything is
        // cancelled, never guessed.
        const ServerJob state = serverJobState(entry.serverJobId, entry.account);
        if (sessionEnded(session)) {
            return Turn::Interrupted;
        }
        if (state == ServerJob::NoAnswer) {
            return keep ? keepJob(name, param.docName) : Turn::Kept;
        }
        if (state == ServerJob::Listed && !entry.replaced) {
            settleDelivered(name, param.docName);
            return Turn::Done;
        }
        // Chunks carry no offset: an upload that broke off is cancelled on the server and sent again whole. A
        // delivered server job of an earlier job of this name stays.
        bool settled = state == ServerJob::Listed;
        if (!settled) {
            logger->info(QStringLiteral("cancelling the unfinished server job %1 of %2").arg(entry.serverJobId, name));
            settled = m_submitter->cancelJob(entry.serverJobId, entry.account, 0);
            if (sessionEnded(session)) {
                return Turn::Interrupted;
            }
        }
        if (!settled || !record->clearServerJob(name)) {
            return keep ? keepJob(name, param.docName) : Turn::Kept;
        }
    }
    const bool recorded = record->begin(name, dataSize, dataTime, param.userAccount, now());
    if (!recorded && keep) {
        // Without a record a crash could send it twice; it waits until the disk takes the record.
        return keepJob(name, param.docName);
    }

    JobSubmitter::Hooks hooks;
    if (recorded) {
        hooks.announced = [&](const QString& jobId) { return record->setAnnounced(name, jobId, param.userAccount); };
        hooks.uploaded = [&]() { record->setUploaded(name); };
    }
    hooks.stopped = [this, session]() { return sessionEnded(session); };

    logger->info(QStringLiteral("submitting job %1 to KS").arg(param.docName));
    const JobSubmitter::Outcome outcome = m_submitter->SubmitJob(param, hooks);
    logger->info(QStringLiteral("job %1 submitted to KS").arg(param.docName));

    if (outcome == JobSubmitter::Outcome::Confirmed || outcome == JobSubmitter::Outcome::Refused) {
        serverReachable();
    }
    switch (outcome) {
    case JobSubmitter::Outcome::Interrupted:
        // The files stay; the server job is cancelled at quit or before the next try.
        return Turn::Interrupted;
    case JobSubmitter::Outcome::Failed:
        if (keep) {
            return keepJob(name, param.docName);
        }
        break;
    case JobSubmitter::Outcome::Confirmed:
        if (!record->setConfirmed(name)) {
            logger->error(QStringLiteral("job %1 confirmed but not recorded").arg(name));
        }
        break;
    case JobSubmitter::Outcome::Refused:
        break;
    }
    m_retries.remove(name);
    m_toldKept.remove(name);
    // The start-up pass would clear the folder at its end anyway; removing the job's files now means a pass
    // broken off by a logout cannot leave a submitted job behind.
    removeAfterSubmission(name, param.docName, options.keepJobFiles);
    if (outcome != JobSubmitter::Outcome::Confirmed) {
        record->remove(name);
    } else if (!QFileInfo::exists(m_jobPath + QDir::separator() + name)) {
        record->remove(name);
    }
    return Turn::Done;
}

bool JobQueue::withinLimits(const KsJobParam& param, const QString& name)
{
    const JobOptions options = m_host->jobOptions();
    const QFileInfo data(JobFiles::dataFileOf(m_jobPath, name));
    if (data.isFile() && param.documentPages <= options.maxPageCount && data.size() <= options.maxJobFileSize) {
        return true;
    }
    if (!data.isFile()) {
        // Taken away while the job was read: not too large, and nothing to send.
        logger->error(QStringLiteral("%1: the job's data file is missing").arg(param.docName));
        return false;
    }
    logger->error(QStringLiteral("%1: job file size or page count is too large!").arg(param.docName));
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-hh:mm:ss-ddd"));
    if (param.documentPages > options.maxPageCount) {
        const QString text = tr("Page number of print job [%1] exceeds [%2] limit")
                                 .arg(param.docName, QString::number(options.maxPageCount));
        m_host->insertMsgToDb(m_host->userAccount(), QString(), text, now);
        m_host->showWarning(text);
    }
    if (data.size() > options.maxJobFileSize) {
        const QString text = tr("Print job [%1] size exceeds 1g limit").arg(param.docName);
        m_host->insertMsgToDb(m_host->userAccount(), QString(), text, now);
        m_host->showWarning(text);
    }
    return false;
}

void JobQueue::removeAfterSubmission(const QString& name, const QString& docName, bool keepCopies)
{
    for (const QString& file : JobFiles::ownFiles(m_jobPath, name)) {
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
    for (const QString& file : JobFiles::ownFiles(m_jobPath, triggerName)) {
        JobFiles::deleteFile(m_jobPath, file);
    }
    m_retries.remove(triggerName);
    m_toldKept.remove(triggerName);
}
