#include "JobAdmission.h"

#include "CurlExchange.h"
#include "JobFiles.h"
#include "JobFolder.h"
#include "JobHost.h"
#include "JobJournal.h"
#include "JobNotices.h"
#include "JobParamReader.h"
#include "JobQueue.h"
#include "JobRecovery.h"
#include "JobSubmitter.h"
#include "RetrySchedule.h"
#include "api/KsEndpoints.h"
#include "api/KsKit.h"
#include "app/Logging.h"

#include <QDateTime>
#include <QFileInfo>

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

void JobAdmission::deleteJob(const QString& name)
{
    if (!m_folder->isSet()) {
        return;
    }
    m_folder->deleteJob(name);
    m_schedule->forget(name);
}

bool JobAdmission::filesReady(const QString& name, QString* why) const
{
    const QString paramPath = m_folder->filePath(JobFiles::baseOf(name));
    // A parameter file that is there but cannot be read would give the job default settings.
    if (QFileInfo::exists(paramPath) && !JobParamReader::checkParamFile(paramPath)) {
        *why = QStringLiteral("parameters");
        return false;
    }
    const QFileInfo data(JobFiles::dataFileOf(m_folder->path(), name));
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

JobAdmission::Outcome JobAdmission::waitForFiles(const QString& name, const QString& why)
{
    if (!m_schedule->waitedForFiles(name)) {
        return Outcome::Waiting;
    }
    const QString docName = m_folder->docNameOf(name);
    // Without its whole document the job can never print; the user hears why it went.
    if (why == QLatin1String("data")) {
        logger->error(QStringLiteral("%1: the job's data file did not arrive").arg(docName));
        m_notices->tell(JobQueue::tr("Print job [%1] was removed: its document did not arrive").arg(docName));
    } else if (why == QLatin1String("document")) {
        logger->error(QStringLiteral("%1: the job's document is not a complete PDF").arg(docName));
        m_notices->tell(JobQueue::tr("Print job [%1] was removed: its document is not a complete PDF").arg(docName));
    }
    if (why != QLatin1String("parameters")) {
        m_schedule->stopWaiting(name);
        deleteJob(name);
        return Outcome::Done;
    }
    if (m_schedule->firstParamNotice(name)) {
        logger->error(QStringLiteral("%1: the job's parameters cannot be read").arg(docName));
        m_notices->tell(JobQueue::tr("Print job [%1] waits: its settings cannot be read").arg(docName));
    }
    return Outcome::Waiting;
}

bool JobAdmission::expired(const QString& name)
{
    if (!m_schedule->isKept(name)) {
        return false;
    }
    const qint64 hours = m_host->jobOptions().keepUnsentHours;
    // Counted from when the journal first saw the job, across restarts; without a record, from the trigger's time.
    const JobJournal::Entry entry = m_recovery->entryOf(name);
    const qint64 since
        = entry.found && entry.firstSeenMs > 0 ? entry.firstSeenMs : JobFiles::modifiedMs(m_folder->filePath(name));
    if (!m_schedule->waitedHours(since, hours)) {
        return false;
    }
    const QString docName = m_folder->docNameOf(name);
    logger->error(QStringLiteral("%1: not sent within %2 hours, removed").arg(docName).arg(hours));
    m_notices->tell(
        JobQueue::tr("Print job [%1] could not be sent within %2 hours and was removed").arg(docName).arg(hours));
    deleteJob(name);
    m_recovery->journal()->remove(name);
    return true;
}

JobAdmission::Outcome JobAdmission::keepJob(const QString& name, const QString& docName)
{
    const qint64 delayMs = m_schedule->keep(name);
    const QString data = JobFiles::dataFileOf(m_folder->path(), name);
    JobJournal* journal = m_recovery->journal();
    journal->noteSeen(name, QFileInfo(data).size(), JobFiles::modifiedMs(data), m_host->userAccount(),
                      m_schedule->now());
    const JobJournal::Entry entry = m_recovery->entryOf(name);
    logger->info(QStringLiteral("job %1 kept, next try in %2 s").arg(name).arg(delayMs / 1000));
    if (!m_schedule->toldKept(name) && !entry.toldKept) {
        m_notices->tell(
            JobQueue::tr("Print job [%1] is kept and will be sent when the server can be reached").arg(docName));
        m_schedule->setToldKept(name);
        journal->setToldKept(name);
    }
    return Outcome::Kept;
}

JobAdmission::Outcome JobAdmission::admit(const QString& name, Pass pass, const StopCheck& stopped)
{
    const QString triggerPath = m_folder->filePath(name);
    if (!QFileInfo::exists(triggerPath)) {
        return Outcome::Done; // taken with an earlier job of this pass
    }
    if (m_recovery->alreadySent(name)) {
        m_folder->markSubmitted(name);
        return Outcome::Done;
    }
    if (pass == Pass::Timer && !JobParamReader::checkParamFile(triggerPath)) {
        logger->warn(QStringLiteral("param file is NG for ") + name);
        return Outcome::Waiting;
    }
    QString why;
    if (!filesReady(name, &why)) {
        return waitForFiles(name, why);
    }
    m_schedule->filesArrived(name);
    const bool keep = m_host->jobOptions().keepUnsentJobs;
    if (keep && (!m_schedule->due(name) || expired(name))) {
        return m_schedule->isKept(name) ? Outcome::Kept : Outcome::Done;
    }
    if (pass == Pass::Timer) {
        logger->info(QStringLiteral("job file found : ") + name);
        const bool reachable = m_host->checkNetworkState(!keep);
        if (stopped()) {
            return Outcome::Interrupted;
        }
        if (!reachable) {
            if (!keep) {
                deleteJob(name);
                return Outcome::Done;
            }
            if (m_schedule->firstOutage()) {
                m_host->reportServerUnreachable();
            }
            return keepJob(name, m_folder->docNameOf(name));
        }
        m_schedule->outageOver();
    }
    const KsJobParam param = m_reader->parseJobParamFileLinux(triggerPath, name);
    if (pass == Pass::Timer) {
        logger->info(QStringLiteral("######## P aaa"));
    }
    if (stopped()) {
        return Outcome::Interrupted;
    }
    if (!param.isValid) {
        if (keep && m_reader->lastFailure() == JobParamReader::Failure::Unreachable) {
            return keepJob(name, m_folder->docNameOf(name));
        }
        if (m_reader->lastFailure() == JobParamReader::Failure::Declined) {
            tellCancelled(param.docName);
        }
        if (pass == Pass::Timer) {
            logger->info(QStringLiteral("######## P bbb"));
        } else {
            logger->error(QStringLiteral("%1: parse param file error").arg(name));
        }
        deleteJob(name);
        return Outcome::Done;
    }
    return admitParsed(param, name, stopped);
}

void JobAdmission::tellCancelled(const QString& docName)
{
    // The user's own choice, yet a job gone without a word looks lost.
    logger->info(QStringLiteral("%1: cancelled by the user").arg(docName));
    m_notices->tell(JobQueue::tr("Print job [%1] was cancelled").arg(docName));
}

KsUserInfo JobAdmission::getKsUserInfo()
{
    // The API's permission query, sent on the pipeline's worker like the job's own requests.
    const QString base = m_host->api().account().serverUrl;
    return KsKit::readPermissions(
        m_submitter->exchange().get(KsEndpoints::permissionsUrl(base, m_host->userAccount()), base));
}

JobAdmission::Outcome JobAdmission::admitParsed(const KsJobParam& param, const QString& name, const StopCheck& stopped)
{
    logger->info(QStringLiteral("######## P 3333"));
    const KsUserInfo info = getKsUserInfo();
    if (stopped()) {
        return Outcome::Interrupted;
    }
    if (info.userName.isEmpty()) {
        logger->info(QStringLiteral("######## KsUserInfo data is empty"));
    } else {
        // A permission question: No drops the job; a logout or quit closes the question, which is no answer.
        const auto declined = [&](const QString& question, Outcome* outcome) {
            const bool yes = m_host->askConfirmation(question, param.docName);
            if (stopped()) {
                *outcome = Outcome::Interrupted;
                return true;
            }
            if (!yes) {
                tellCancelled(param.docName);
                deleteJob(name);
                *outcome = Outcome::Done;
                return true;
            }
            return false;
        };
        Outcome outcome = Outcome::Done;
        if (param.color.toLower() == QLatin1String("true") && !info.isAllowPrintColor
            && declined(JobQueue::tr("You are not allowed to submit color homework. Do you want to submit it?"),
                        &outcome)) {
            return outcome;
        }
        logger->info(QStringLiteral("########## duplex=") + QString::number(param.duplexMode)
                     + QStringLiteral(" IsAllowSimple=")
                     + (info.isAllowSimple ? QStringLiteral("true") : QStringLiteral("false")));
        if (param.duplexMode == 0 && !info.isAllowSimple
            && declined(JobQueue::tr("You are not allowed to submit single-sided operation. Do you want to submit it?"),
                        &outcome)) {
            return outcome;
        }
    }
    logger->info(QStringLiteral("######## P 444"));

    if (m_host->jobOptions().fileLimit && !withinLimits(param, name)) {
        deleteJob(name);
        return Outcome::Done;
    }
    if (stopped()) {
        return Outcome::Interrupted;
    }
    return submitOnce(param, name, stopped);
}

JobAdmission::Outcome JobAdmission::submitOnce(const KsJobParam& param, const QString& name, const StopCheck& stopped)
{
    const JobOptions options = m_host->jobOptions();
    const bool keep = options.keepUnsentJobs;
    const QFileInfo data(JobFiles::dataFileOf(m_folder->path(), name));
    const qint64 dataSize = data.size();
    const qint64 dataTime = JobFiles::modifiedMs(data.filePath());
    JobJournal* record = m_recovery->journal();
    const JobJournal::Entry entry = record->find(name, dataSize, dataTime);
    if (entry.found && entry.confirmed) {
        m_folder->removeAfterSubmission(name, param.docName, options.keepJobFiles);
        return Outcome::Done;
    }
    if (entry.found && !entry.serverJobId.isEmpty()) {
        // The confirmation may have reached the server when its answer was lost: asked before anything is
        // cancelled, never guessed.
        const JobRecovery::ServerJob state = m_recovery->serverJobState(entry.serverJobId, entry.account);
        if (stopped()) {
            return Outcome::Interrupted;
        }
        if (state == JobRecovery::ServerJob::NoAnswer) {
            return keep ? keepJob(name, param.docName) : Outcome::Kept;
        }
        if (state == JobRecovery::ServerJob::Listed && !entry.replaced) {
            m_recovery->settleDelivered(name, param.docName);
            return Outcome::Done;
        }
        // Chunks carry no offset: an upload that broke off is cancelled on the server and sent again whole. A
        // delivered server job of an earlier job of this name stays.
        bool settled = state == JobRecovery::ServerJob::Listed;
        if (!settled) {
            logger->info(QStringLiteral("cancelling the unfinished server job %1 of %2").arg(entry.serverJobId, name));
            settled = m_submitter->cancelJob(entry.serverJobId, entry.account, 0);
            if (stopped()) {
                return Outcome::Interrupted;
            }
        }
        if (!settled || !record->clearServerJob(name)) {
            return keep ? keepJob(name, param.docName) : Outcome::Kept;
        }
    }
    const bool recorded = record->begin(name, dataSize, dataTime, param.userAccount, m_schedule->now());
    if (!recorded && keep) {
        // Without a record a crash could send it twice; it waits until the disk takes the record.
        return keepJob(name, param.docName);
    }

    JobSubmitter::Hooks hooks;
    if (recorded) {
        hooks.announced = [&](const QString& jobId) { return record->setAnnounced(name, jobId, param.userAccount); };
        hooks.uploaded = [&]() { record->setUploaded(name); };
    }
    hooks.stopped = stopped;

    logger->info(QStringLiteral("submitting job %1 to KS").arg(param.docName));
    const JobSubmitter::Outcome outcome = m_submitter->SubmitJob(param, hooks);
    logger->info(QStringLiteral("job %1 submitted to KS").arg(param.docName));

    if (outcome == JobSubmitter::Outcome::Confirmed || outcome == JobSubmitter::Outcome::Refused) {
        m_schedule->serverAnswered();
    }
    switch (outcome) {
    case JobSubmitter::Outcome::Interrupted:
        // The files stay; the server job is cancelled at quit or before the next try.
        return Outcome::Interrupted;
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
    m_schedule->forget(name);
    // The start-up pass would clear the folder at its end anyway; removing the job's files now means a pass
    // broken off by a logout cannot leave a submitted job behind.
    m_folder->removeAfterSubmission(name, param.docName, options.keepJobFiles);
    if (outcome != JobSubmitter::Outcome::Confirmed || !m_folder->exists(name)) {
        record->remove(name);
    }
    return Outcome::Done;
}

bool JobAdmission::withinLimits(const KsJobParam& param, const QString& name)
{
    const JobOptions options = m_host->jobOptions();
    const QFileInfo data(JobFiles::dataFileOf(m_folder->path(), name));
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
        const QString text = JobQueue::tr("Page number of print job [%1] exceeds [%2] limit")
                                 .arg(param.docName, QString::number(options.maxPageCount));
        m_notices->addForUser(text, now);
        m_host->showWarning(text);
    }
    if (data.size() > options.maxJobFileSize) {
        const QString text = JobQueue::tr("Print job [%1] size exceeds 1g limit").arg(param.docName);
        m_notices->addForUser(text, now);
        m_host->showWarning(text);
    }
    return false;
}
