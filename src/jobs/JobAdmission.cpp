#include "JobAdmission.h"

#include "CurlExchange.h"
#include "JobFolder.h"
#include "JobHost.h"
#include "JobJournal.h"
#include "JobNotices.h"
#include "JobParamReader.h"
#include "JobQueue.h"
#include "JobRecovery.h"
#include "JobSubmitter.h"
#include "PrintJob.h"
#include "RetrySchedule.h"
#include "api/KsEndpoints.h"
#include "api/KsKit.h"
#include "app/Logging.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>

static Logger* logger = Logging::rootLogger();

JobAdmission::JobAdmission(JobHost* host, JobParamReader* reader, JobSubmitter* submitter, JobFolder* folder,
                           RetrySchedule* schedule, JobRecovery* recovery, JobNotices* notices)
    : m_host(host)
    , m_reader(reader)
    , m_submitter(submitter)
    , m_folder(folder)
    , m_schedule(schedule)
    , m_recovery(recovery)
    , m_notices(notices)
{ }

void JobAdmission::beginPass()
{
    m_inPass = true;
    m_lists.reset();
    m_reader->beginPass();
}

void JobAdmission::endPass()
{
    m_inPass = false;
    m_lists.reset();
    m_reader->endPass();
}

JobAdmission::Outcome JobAdmission::admit(PrintJob& job, Pass pass, const StopCheck& stopped)
{
    const Turn turn = take(job, pass, stopped);
    return finish(job, turn);
}

JobAdmission::Outcome JobAdmission::finish(PrintJob& job, const Turn& turn)
{
    JobJournal* journal = m_recovery->journal();
    QString notice = turn.notice;
    Outcome outcome = Outcome::Done;
    switch (turn.ending) {
    case Ending::Skip:
        break;
    case Ending::Wait:
        outcome = Outcome::Waiting;
        break;
    case Ending::Hold:
        outcome = Outcome::Kept;
        break;
    case Ending::Interrupt:
        // The files stay; a server job left open is cancelled at quit or before the next try.
        outcome = Outcome::Interrupted;
        break;
    case Ending::Keep: {
        const qint64 delayMs = m_schedule->keep(&job.retry);
        logger->info(QStringLiteral("job %1 kept, next try in %2 s").arg(job.name).arg(delayMs / 1000));
        const bool told = job.entry.toldKept;
        // Recorded, so its age counts across restarts; told once, as the journal remembers.
        journal->noteKept(job, m_schedule->now());
        if (!told) {
            notice = JobQueue::tr("Print job [%1] is kept and will be sent when the server can be reached")
                         .arg(job.docName);
        }
        outcome = Outcome::Kept;
        break;
    }
    case Ending::Expire:
    case Ending::Remove:
    case Ending::Sent:
    case Ending::Confirmed: {
        const bool submitted = turn.ending == Ending::Sent || turn.ending == Ending::Confirmed;
        if (turn.ending == Ending::Confirmed && !journal->setConfirmed(job)) {
            logger->error(QStringLiteral("job %1 confirmed but not recorded").arg(job.name));
        }
        job.retry = RetrySchedule::Retry();
        // A submitted job's files go now, not with the start-up pass's clean-up: a pass broken off by a logout
        // cannot leave it behind.
        m_folder->removeJob(job, submitted ? JobFolder::Removal::Submitted : JobFolder::Removal::Dropped,
                            m_host->jobOptions().keepJobFiles);
        // A confirmed job's record stays while its trigger does, so it is never sent again.
        if (turn.ending == Ending::Expire || turn.ending == Ending::Sent
            || (turn.ending == Ending::Confirmed && !QFileInfo::exists(job.triggerPath))) {
            journal->remove(job.name);
        }
        break;
    }
    }
    if (!notice.isEmpty()) {
        m_notices->tell(notice);
    }
    if (!turn.stored.isEmpty()) {
        m_notices->addForUser(turn.stored);
    }
    return outcome;
}

bool JobAdmission::filesReady(PrintJob& job, QString* why) const
{
    // A parameter file that is there but cannot be read would give the job default settings.
    const SafeJobFile::Verdict params = job.paramVerdict;
    if (params != SafeJobFile::Verdict::Accepted && params != SafeJobFile::Verdict::Missing
        && params != SafeJobFile::Verdict::TooLarge) {
        logger->error(QStringLiteral("Can't open the job param file for %1").arg(job.paramPath));
        *why = QStringLiteral("parameters");
        return false;
    }
    if (!job.hasData()) {
        *why = QStringLiteral("data");
        return false;
    }
    // A PDF cut off by a full disk or a writer that stopped half-way does not open: it is not all there yet.
    if (job.name.endsWith(QLatin1String(".pdf")) && job.pageCount() <= 0) {
        *why = QStringLiteral("document");
        return false;
    }
    return true;
}

JobAdmission::Turn JobAdmission::waitForFiles(PrintJob& job, const QString& why)
{
    if (!m_schedule->waitedForFiles(&job.retry)) {
        return { Ending::Wait };
    }
    // Without its whole document the job can never print; the user hears why it went.
    if (why == QLatin1String("data")) {
        logger->error(QStringLiteral("%1: the job's data file did not arrive").arg(job.docName));
        return { Ending::Remove,
                 JobQueue::tr("Print job [%1] was removed: its document did not arrive").arg(job.docName) };
    }
    if (why == QLatin1String("document")) {
        logger->error(QStringLiteral("%1: the job's document is not a complete PDF").arg(job.docName));
        return { Ending::Remove,
                 JobQueue::tr("Print job [%1] was removed: its document is not a complete PDF").arg(job.docName) };
    }
    if (!RetrySchedule::firstParamNotice(&job.retry)) {
        return { Ending::Wait };
    }
    logger->error(QStringLiteral("%1: the job's parameters cannot be read").arg(job.docName));
    return { Ending::Wait, JobQueue::tr("Print job [%1] waits: its settings cannot be read").arg(job.docName) };
}

bool JobAdmission::expired(const PrintJob& job) const
{
    if (!job.retry.isKept()) {
        return false;
    }
    // Counted from when the journal first saw the job, across restarts; without a record, from the trigger's time.
    const qint64 since = job.entry.found && job.entry.firstSeenMs > 0 ? job.entry.firstSeenMs : job.triggerTime;
    return m_schedule->waitedHours(since, m_host->jobOptions().keepUnsentHours);
}

JobAdmission::Turn JobAdmission::take(PrintJob& job, Pass pass, const StopCheck& stopped)
{
    if (!job.triggerExists) {
        return { Ending::Skip }; // taken with an earlier job of this pass
    }
    job.entry = m_recovery->journal()->find(job);
    if (m_folder->sentBefore(job)) {
        m_folder->markSubmitted(job);
        return { Ending::Skip };
    }
    if (pass == Pass::Timer && !job.triggerReadable) {
        logger->warn(QStringLiteral("param file is NG for ") + job.name);
        return { Ending::Wait };
    }
    const JobOptions options = m_host->jobOptions();
    const bool keep = options.keepUnsentJobs;
    // After "Submit" at start-up with kept jobs off, every job is tried as it is and then cleared away: one that
    // waited for its files would be removed unseen.
    if (pass == Pass::Timer || keep) {
        QString why;
        if (!filesReady(job, &why)) {
            return waitForFiles(job, why);
        }
        RetrySchedule::filesArrived(&job.retry);
    }
    if (keep && !m_schedule->due(job.retry)) {
        return { job.retry.isKept() ? Ending::Hold : Ending::Skip };
    }
    if (keep && expired(job)) {
        const qint64 hours = options.keepUnsentHours;
        logger->error(QStringLiteral("%1: not sent within %2 hours, removed").arg(job.docName).arg(hours));
        return {
            Ending::Expire,
            JobQueue::tr("Print job [%1] could not be sent within %2 hours and was removed").arg(job.docName).arg(hours)
        };
    }
    if (pass == Pass::Timer) {
        logger->info(QStringLiteral("job file found : ") + job.name);
        const bool reachable = m_host->checkNetworkState(!keep);
        if (stopped()) {
            return { Ending::Interrupt };
        }
        if (!reachable) {
            if (keep && m_schedule->firstOutage()) {
                m_host->reportServerUnreachable();
            }
            return { keep ? Ending::Keep : Ending::Remove };
        }
        m_schedule->outageOver();
    }
    const bool read = m_reader->parseJobParamFileLinux(&job);
    if (pass == Pass::Timer) {
        logger->info(QStringLiteral("######## P aaa"));
    }
    if (!read) {
        if (pass == Pass::Timer) {
            logger->info(QStringLiteral("######## P bbb"));
        } else {
            logger->error(QStringLiteral("%1: parse param file error").arg(job.name));
        }
        return { Ending::Remove,
                 JobQueue::tr("Print job [%1] was removed: its settings cannot be read").arg(job.docName) };
    }
    switch (checkNoCardPrint(job, stopped)) {
    case NoCard::Accepted:
        return admitParsed(job, stopped);
    case NoCard::Interrupted:
        return { Ending::Interrupt };
    case NoCard::Unreachable:
        if (keep) {
            return { Ending::Keep };
        }
        // No box was shown for this check: without a word the user's Yes would look like a job lost.
        return { Ending::Remove,
                 JobQueue::tr("Print job [%1] was removed: the server could not be reached").arg(job.docName) };
    case NoCard::Declined:
        break;
    }
    if (pass == Pass::Timer) {
        logger->info(QStringLiteral("######## P bbb"));
    }
    return cancelled(job);
}

JobAdmission::Turn JobAdmission::cancelled(const PrintJob& job)
{
    // The user's own choice, yet a job gone without a word looks lost.
    logger->info(QStringLiteral("%1: cancelled by the user").arg(job.docName));
    return { Ending::Remove, JobQueue::tr("Print job [%1] was cancelled").arg(job.docName) };
}

const JobAdmission::ServerLists& JobAdmission::serverLists(const QString& account)
{
    if (m_lists && m_lists->account == account) {
        return *m_lists;
    }
    // Through the pipeline, to the server every request of the job goes to.
    CurlExchange& exchange = m_submitter->exchange();
    const QString base = m_submitter->serverUrl();
    const HttpAnswer printers = exchange.get(KsEndpoints::devicesUrl(base, 0, account), base);
    const HttpAnswer projects = exchange.get(KsEndpoints::projectsUrl(base, account), base);
    const auto ok = [](const HttpAnswer& answer) { return answer.isObject() && answer.code() == 0; };
    m_lists = ServerLists { account, ok(printers) ? KsPrinter::listFromJson(printers.data()) : QList<KsPrinter>(),
                            ok(projects) ? KsProject::listFromJson(projects.data()) : QList<KsProject>() };
    return *m_lists;
}

JobAdmission::NoCard JobAdmission::checkNoCardPrint(PrintJob& job, const StopCheck& stopped)
{
    if (!m_inPass) {
        m_lists.reset();
    }
    const ServerLists& lists = serverLists(job.account);
    if (stopped()) {
        return NoCard::Interrupted;
    }
    const bool supportSecret = m_host->jobOptions().supportSecret;
    if (!supportSecret && lists.projects.isEmpty()
        && std::none_of(lists.printers.cbegin(), lists.printers.cend(),
                        [](const KsPrinter& printer) { return !printer.useCardReader; })) {
        return NoCard::Accepted;
    }
    NoCardChoice choice;
    choice.documentName = job.docName;
    choice.printers = lists.printers;
    choice.projects = lists.projects;
    choice.supportSecret = supportSecret;
    const bool accepted = m_host->askNoCardChoice(&choice);
    if (stopped()) {
        return NoCard::Interrupted;
    }
    if (!accepted) {
        return NoCard::Declined;
    }
    const bool reachable = m_host->checkNetworkState(false);
    if (stopped()) {
        return NoCard::Interrupted;
    }
    if (!reachable) {
        // Written: dropped like a declined dialog; kept instead when unsent jobs are kept.
        return NoCard::Unreachable;
    }
    job.param.controllerMac = choice.controllerMac;
    job.param.securityLevel = choice.securityLevel;
    logger->info(QStringLiteral("secretLevel:%1").arg(choice.securityLevel));
    job.param.projectId = choice.projectId;
    return NoCard::Accepted;
}

KsUserInfo JobAdmission::getKsUserInfo(const QString& account)
{
    // The API's permission query, sent on the pipeline's worker like the job's own requests.
    const QString base = m_submitter->serverUrl();
    return KsKit::readPermissions(m_submitter->exchange().get(KsEndpoints::permissionsUrl(base, account), base));
}

JobAdmission::Turn JobAdmission::admitParsed(PrintJob& job, const StopCheck& stopped)
{
    const KsJobParam& param = job.param;
    logger->info(QStringLiteral("######## P 3333"));
    const KsUserInfo info = getKsUserInfo(job.account);
    if (stopped()) {
        return { Ending::Interrupt };
    }
    if (info.userName.isEmpty()) {
        logger->info(QStringLiteral("######## KsUserInfo data is empty"));
    } else {
        // A permission question: No drops the job; a logout or quit closes the question, which is no answer.
        const auto ask = [&](const QString& question) -> std::optional<Turn> {
            const bool yes = m_host->askConfirmation(question, param.docName);
            if (stopped()) {
                return Turn { Ending::Interrupt };
            }
            return yes ? std::nullopt : std::optional<Turn>(cancelled(job));
        };
        if (param.color.toLower() == QLatin1String("true") && !info.isAllowPrintColor) {
            if (const auto declined
                = ask(JobQueue::tr("You are not allowed to submit color homework. Do you want to submit it?"))) {
                return *declined;
            }
        }
        logger->info(QStringLiteral("########## duplex=") + QString::number(param.duplexMode)
                     + QStringLiteral(" IsAllowSimple=")
                     + (info.isAllowSimple ? QStringLiteral("true") : QStringLiteral("false")));
        if (param.duplexMode == 0 && !info.isAllowSimple) {
            if (const auto declined = ask(
                    JobQueue::tr("You are not allowed to submit single-sided operation. Do you want to submit it?"))) {
                return *declined;
            }
        }
    }
    logger->info(QStringLiteral("######## P 444"));

    if (m_host->jobOptions().fileLimit) {
        if (const std::optional<QString> refused = refusedByLimits(job)) {
            return { Ending::Remove, *refused };
        }
    }
    if (stopped()) {
        return { Ending::Interrupt };
    }
    return submitOnce(job, stopped);
}

JobAdmission::Turn JobAdmission::submitOnce(PrintJob& job, const StopCheck& stopped)
{
    const bool keep = m_host->jobOptions().keepUnsentJobs;
    // Not to be sent now, nor removed: kept for the back-off, or left as it is when jobs are not kept.
    const Turn later { keep ? Ending::Keep : Ending::Hold };
    JobJournal* record = m_recovery->journal();
    const JobJournal::Entry entry = job.entry;
    if (entry.found && !entry.serverJobId.isEmpty()) {
        // The confirmation may have reached the server when its answer was lost: asked before anything is
        // cancelled, never guessed.
        const JobRecovery::ServerJob state = m_recovery->serverJobState(entry.serverJobId, entry.account);
        if (stopped()) {
            return { Ending::Interrupt };
        }
        if (state == JobRecovery::ServerJob::NoAnswer) {
            return later;
        }
        if (state == JobRecovery::ServerJob::Listed && !entry.replaced) {
            logger->info(QStringLiteral("job %1 is on the server as confirmed; its files are removed").arg(job.name));
            return { Ending::Confirmed, QString(), JobSubmitter::tr("job [%1] submiited to KS").arg(job.docName) };
        }
        // Chunks carry no offset: an upload that broke off is cancelled on the server and sent again whole. A
        // delivered server job of an earlier job of this name stays.
        bool settled = state == JobRecovery::ServerJob::Listed;
        if (!settled) {
            logger->info(
                QStringLiteral("cancelling the unfinished server job %1 of %2").arg(entry.serverJobId, job.name));
            settled = m_submitter->cancelJob(entry.serverJobId, entry.account, 0);
            if (stopped()) {
                return { Ending::Interrupt };
            }
        }
        if (!settled || !record->clearServerJob(job.name)) {
            return later;
        }
        job.entry.serverJobId.clear();
    }
    const bool recorded = record->begin(job, m_schedule->now());
    if (!recorded && keep) {
        // Without a record a crash could send it twice; it waits until the disk takes the record.
        return { Ending::Keep };
    }

    JobSubmitter::Hooks hooks;
    if (recorded) {
        hooks.announced = [&](const QString& jobId) { return record->setAnnounced(job, jobId); };
        hooks.uploaded = [&]() { record->setUploaded(job); };
    }
    hooks.stopped = stopped;

    logger->info(QStringLiteral("submitting job %1 to KS").arg(job.param.docName));
    const JobSubmitter::Outcome outcome = m_submitter->SubmitJob(job, hooks);
    logger->info(QStringLiteral("job %1 submitted to KS").arg(job.param.docName));

    switch (outcome) {
    case JobSubmitter::Outcome::Interrupted:
        return { Ending::Interrupt };
    case JobSubmitter::Outcome::Failed:
        return { keep ? Ending::Keep : Ending::Sent };
    case JobSubmitter::Outcome::Confirmed:
        m_schedule->serverAnswered();
        return { Ending::Confirmed };
    case JobSubmitter::Outcome::Refused:
        m_schedule->serverAnswered();
        break;
    }
    return { Ending::Sent };
}

std::optional<QString> JobAdmission::refusedByLimits(const PrintJob& job)
{
    const JobOptions options = m_host->jobOptions();
    const KsJobParam& param = job.param;
    if (job.dataIsFile && param.documentPages <= options.maxPageCount && job.dataSize <= options.maxJobFileSize) {
        return std::nullopt;
    }
    logger->error(QStringLiteral("%1: job file size or page count is too large!").arg(param.docName));
    if (!job.dataIsFile) {
        // Nothing to send; the user still hears where the job went.
        return JobQueue::tr("Print job [%1] was removed: its document did not arrive").arg(param.docName);
    }
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-hh:mm:ss-ddd"));
    if (param.documentPages > options.maxPageCount) {
        const QString text = JobQueue::tr("Page number of print job [%1] exceeds [%2] limit")
                                 .arg(param.docName, QString::number(options.maxPageCount));
        m_notices->addForUser(text, now);
        m_host->showWarning(text);
    }
    if (job.dataSize > options.maxJobFileSize) {
        const QString text = JobQueue::tr("Print job [%1] size exceeds 1g limit").arg(param.docName);
        m_notices->addForUser(text, now);
        m_host->showWarning(text);
    }
    return QString();
}
