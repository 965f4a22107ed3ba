#include "JobSubmitter.h"

#include "CurlExchange.h"
#include "JobHost.h"
#include "JobNotices.h"
#include "PrintJob.h"
#include "SafeJobFile.h"
#include "api/HttpExchange.h"
#include "api/KsEndpoints.h"
#include "api/KsKit.h"
#include "app/Logging.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>

static Logger* logger = Logging::rootLogger();

JobSubmitter::JobSubmitter(JobHost* host, QObject* parent, JobNotices* notices)
    : QObject(parent)
    , m_host(host)
    , m_notices(notices ? notices : new JobNotices(host, this))
{ }

JobSubmitter::~JobSubmitter() = default;

CurlExchange& JobSubmitter::exchange()
{
    if (!m_exchange) {
        // The API's manager lends its cookie jar only: the requests go through libcurl.
        m_exchange.reset(new CurlExchange(&m_host->api().networkManager()));
    }
    return *m_exchange;
}

QString JobSubmitter::serverUrl() const
{
    return m_host->api().account().serverUrl;
}

void JobSubmitter::noteAnswer(const HttpAnswer& answer)
{
    if (answer.unanswered()) {
        m_host->reportNoAnswer(answer.timedOut ? answer.failureText() : QString());
    }
}

bool JobSubmitter::keepUnsent() const
{
    return m_host->jobOptions().keepUnsentJobs;
}

JobSubmitter::Outcome JobSubmitter::SubmitJob(const PrintJob& job, const Hooks& hooks)
{
    const KsJobParam& param = job.param;
    m_hooks = hooks;
    // One server for the three steps, even if the account switches meanwhile.
    m_base = serverUrl();
    emit submitStarted();
    QString jobId;
    Outcome outcome = announce(param, &jobId);
    if (outcome == Outcome::Confirmed) {
        emit jobAnnounced(jobId);
        if (m_hooks.announced && !m_hooks.announced(jobId)) {
            // Not on record: a crash now would leave a job on the server nobody knows of.
            logger->error(QStringLiteral("job %1 could not be recorded; its server job %2 is cancelled")
                              .arg(param.docName, jobId));
            cancelJob(jobId, param.userAccount, 0);
            outcome = Outcome::Failed;
        }
    }
    if (outcome == Outcome::Confirmed) {
        outcome = upload(job, jobId);
    }
    if (outcome == Outcome::Confirmed) {
        if (m_hooks.uploaded) {
            m_hooks.uploaded();
        }
        outcome = confirm(param, jobId);
    }
    m_hooks = Hooks();
    m_base.clear();
    return outcome;
}

QByteArray JobSubmitter::announceBody(const KsJobParam& param)
{
    // Built by concatenation: values go in as they are and are never scanned for placeholders again.
    const QString fields = QStringLiteral("DocumentPages=") + QString::number(param.documentPages)
        + QStringLiteral("&PageWidth=") + QString::number(param.pageWidth, 'g', 6) + QStringLiteral("&PageHeight=")
        + QString::number(param.pageHeight, 'g', 6) + QStringLiteral("&Color=") + param.color
        + QStringLiteral("&Orientation=") + QString::number(param.orientation) + QStringLiteral("&DuplexMode=")
        + QString::number(param.duplexMode) + QStringLiteral("&Copies=") + QString::number(param.copies)
        + QStringLiteral("&Collate=") + QString::number(param.collate) + QStringLiteral("&FileType=") + param.fileType
        + QStringLiteral("&ControllerMac=") + param.controllerMac + QStringLiteral("&ComputerName=")
        + param.computerName + QStringLiteral("&ComputerIP=") + param.computerIp + QStringLiteral("&ProjectID=")
        + param.projectId + QStringLiteral("&SecurityLevel=") + QString::number(param.securityLevel);
    QString fileName = param.docName;
    fileName.remove(QLatin1Char('&'));
    return fields.toUtf8() + QByteArrayLiteral("&UserAccount=") + param.userAccount.toUtf8()
        + QByteArrayLiteral("&FileName=") + HttpExchange::percentEncode(fileName);
}

JobSubmitter::Outcome JobSubmitter::announce(const KsJobParam& param, QString* jobId)
{
    const QByteArray body = announceBody(param);
    logger->info(QStringLiteral("###### [beginSubmitJob] jobParams %1").arg(QString::fromUtf8(body)));

    const HttpAnswer answer
        = exchange().post(KsEndpoints::submitJobUrl(m_base), body, HttpExchange::kFormContentType, m_base);
    if (stopped()) {
        return Outcome::Interrupted;
    }
    noteAnswer(answer);
    const bool keep = keepUnsent();
    if (!answer.isJson() || (keep && answer.isTransient())) {
        logger->error(QStringLiteral("###### [beginSubmitJob] request exception"));
        if (!keep) {
            m_host->showCritical(tr("ks server link ex"));
        }
        return Outcome::Failed;
    }

    QString errMsg;
    QString reason = tr("User has no permission to print!");
    if (!answer.isObject()) {
        // JSON, but not the answer envelope: the job is not on the server, and the user has to know.
        errMsg = QStringLiteral("the answer is not an object");
        reason = tr("unreadable answer");
    } else if (answer.code() == 0) {
        *jobId = answer.data().toVariant().toString();
        if (!jobId->isEmpty()) {
            return Outcome::Confirmed;
        }
        // Accepted without an ID: nothing can be uploaded, and the user must not think it was.
        errMsg = QStringLiteral("no job ID in the answer");
        reason = tr("the server gave no job ID");
        if (keep) {
            logger->error(
                QStringLiteral("###### [beginSubmitJob] job [%1] submit fail errMsg %2").arg(param.docName, errMsg));
            return Outcome::Failed;
        }
    } else {
        errMsg = answer.code() == 221 ? QStringLiteral("User has no permission to print!") : answer.message();
    }
    m_host->showSystemMessage(tr("job submit fail"), param.docName + QLatin1Char(' ') + reason);
    m_notices->add(param.userAccount, tr("job [%1] submit fail").arg(param.docName) + QLatin1Char(' ') + reason);
    logger->error(QStringLiteral("###### [beginSubmitJob] job [%1] submit fail errMsg %2").arg(param.docName, errMsg));
    return answer.isObject() && answer.code() != 0 ? Outcome::Refused : Outcome::Failed;
}

JobSubmitter::Outcome JobSubmitter::upload(const PrintJob& job, const QString& jobId)
{
    // The data file, not the trigger: for a PCL job the trigger is the ".xml" and the data the ".pcl".
    const QString uploadName = jobId + QLatin1Char('.') + job.param.fileType;
    const QString url = KsEndpoints::uploadJobFileUrl(m_base, jobId, job.dataSize, job.param.userAccount, uploadName);
    emit uploadStarted(job.dataSize);

    const JobOptions options = m_host->jobOptions();
    const qint64 threshold = static_cast<qint64>(options.showProgressFileSizeLimitMiB) << 20;
    const bool withProgress = options.showProgress && job.dataSize >= threshold;
    return uploadLoop(url, job, withProgress, jobId);
}

void JobSubmitter::reportUploadFailure(const QString& fileName, const QString& reason)
{
    m_host->showSystemMessage(tr("job uploadFile fail"), fileName + QLatin1Char(' ') + reason);
    m_notices->add(m_host->userAccount(), tr("job [%1] uploadFile fail").arg(fileName) + QLatin1Char(' ') + reason);
}

namespace {
// Up to one chunk into buffer, whose memory is kept from one chunk to the next; empty at the end or on an error.
void readChunk(QFile& file, QByteArray* buffer)
{
    // Reserved, so that neither a short last chunk nor the empty end gives the memory back.
    buffer->reserve(static_cast<int>(JobSubmitter::kChunkSize));
    buffer->resize(static_cast<int>(JobSubmitter::kChunkSize));
    const qint64 read = file.read(buffer->data(), JobSubmitter::kChunkSize);
    buffer->resize(static_cast<int>(qMax<qint64>(read, 0)));
}
} // namespace

JobSubmitter::Outcome JobSubmitter::uploadLoop(const QString& url, const PrintJob& job, bool withProgress,
                                               const QString& jobId)
{
    const QString& filePath = job.dataPath;
    const QString fileName = QFileInfo(filePath).fileName();
    const QString& docName = job.param.docName;
    const bool keep = keepUnsent();
    QFile file;
    // Only the user's own regular file is sent, checked on the open descriptor (never a link's target).
    const SafeJobFile::Verdict verdict = SafeJobFile::open(filePath, &file);
    // The size announced in the URL: a file that changed since is a broken job.
    const qint64 fileSize = job.dataSize;
    logger->info(QStringLiteral("file size %1 fileName %2").arg(QString::number(fileSize), fileName));
    if (verdict != SafeJobFile::Verdict::Accepted) {
        const QString reason = SafeJobFile::describe(verdict);
        logger->error(
            QStringLiteral("###### [uploadFileSegment] job [%1] cannot open %2: %3").arg(fileName, filePath, reason));
        if (!keep) {
            reportUploadFailure(fileName, reason);
        }
        return Outcome::Failed;
    }
    // The C locale keeps the header ASCII whatever the user's language.
    const QByteArray contentType = QByteArrayLiteral("multipart/form-data; boundary=----")
        + QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("yyyy-MM-dd-hh:mm:ss-ddd")).toLatin1();

    std::unique_ptr<JobProgress> progress;
    if (withProgress) {
        progress = m_host->createProgress(docName, tr("cancel printing"), static_cast<int>(fileSize / 1024),
                                          tr("Printing assignment submission in progress"));
    }

    // A logout or quit ends a chunk in flight; the pipeline's other requests run to their end.
    exchange().setStop([this]() { return stopped(); });
    const auto noStop = qScopeGuard([this]() { exchange().setStop({}); });
    bool refused = false; // a chunk answered with a non-zero code, or the user cancelled
    bool reported = false; // the user has been told why
    bool failed = false; // no answer, an error page or garbage: the upload stops
    bool interrupted = false;
    QString failure;
    qint64 sent = 0;
    // Two buffers, reused for the whole file: the next chunk is read while the current one is on the wire.
    QByteArray buffers[2];
    int current = 0;
    readChunk(file, &buffers[current]);
    while (!buffers[current].isEmpty()) {
        const QByteArray& chunk = buffers[current];
        exchange().startPost(url, chunk, contentType, m_base);
        current = 1 - current;
        readChunk(file, &buffers[current]);
        const HttpAnswer answer = exchange().wait();
        sent += chunk.size();
        if (stopped()) {
            interrupted = true;
            break;
        }
        noteAnswer(answer);

        if (answer.isRefusal()) {
            QString errMsg = answer.message();
            QString reason;
            if (answer.code() == 220) {
                errMsg = QStringLiteral("System users cannot print!");
                reason = tr("System users cannot print!");
            } else if (answer.code() == 826) {
                errMsg = QStringLiteral("Client address is not authenticated!");
                reason = tr("Client address is not authenticated!");
            } else {
                reason = answer.message();
            }
            if (!reported) {
                reportUploadFailure(fileName, reason);
                reported = true;
            }
            logger->error(
                QStringLiteral("###### [uploadFileSegment] job [%1] uploadFile fail errMsg %2").arg(fileName, errMsg));
            refused = true;
        } else if (answer.isTransient()) {
            // Every chunk must be taken: an unread or garbled answer leaves a hole in the server's copy.
            failure = answer.failureText();
            logger->error(
                QStringLiteral("###### [uploadFileSegment] job [%1] uploadFile fail errMsg %2").arg(fileName, failure));
            failed = true;
            break;
        }
        if (progress) {
            progress->setValue(static_cast<int>(sent % 1024 == 0 ? sent / 1024 : fileSize / 1024));
            QCoreApplication::processEvents();
            if (stopped()) {
                interrupted = true;
                break;
            }
            if (progress->wasCanceled()) {
                cancelJob(jobId, m_host->userAccount(), 0);
                reported = true; // the user asked for it
                refused = true;
                break;
            }
        }
    }
    const bool readFailed = file.error() != QFileDevice::NoError;
    file.close();
    if (progress) {
        progress->close();
    }
    if (interrupted) {
        return Outcome::Interrupted;
    }
    if (refused) {
        return Outcome::Refused;
    }
    // The size announced in the URL is what the server expects; anything else, an empty file included, is a
    // broken job.
    if (!failed && (readFailed || sent != fileSize || sent == 0)) {
        failed = true;
        failure = readFailed ? file.errorString()
            : sent == 0      ? tr("the file is empty")
                             : tr("the file changed while it was sent");
        logger->error(
            QStringLiteral("###### [uploadFileSegment] job [%1] uploadFile fail errMsg %2").arg(fileName, failure));
    }
    if (!failed) {
        return Outcome::Confirmed;
    }
    if (!keep) {
        reportUploadFailure(fileName, failure);
    }
    return Outcome::Failed;
}

JobSubmitter::Outcome JobSubmitter::confirm(const KsJobParam& param, const QString& jobId)
{
    const QByteArray body = QStringLiteral("JobID=%1&DirectDeviceJob=false").arg(jobId).toUtf8()
        + QByteArrayLiteral("&UserAccount=") + param.userAccount.toUtf8();
    const HttpAnswer answer
        = exchange().post(KsEndpoints::uploadCompleteUrl(m_base), body, HttpExchange::kFormContentType, m_base);
    if (stopped()) {
        return Outcome::Interrupted;
    }
    noteAnswer(answer);
    QString errMsg;
    if (answer.isTransient()) {
        errMsg = QLatin1Char(' ') + answer.failureText();
        logger->error(
            QStringLiteral("###### [endSubmitJob] job [%1] submit fail,errMsg [%2]").arg(param.docName, errMsg));
        if (keepUnsent()) {
            return Outcome::Failed;
        }
        // The file is on the server but its confirmation is unknown: the user has to hear about it.
        m_notices->add(param.userAccount, tr("job [%1] submit fail").arg(param.docName) + errMsg);
        return Outcome::Failed;
    }
    if (answer.code() == 0) {
        emit jobConfirmed();
        if (!m_host->jobOptions().isLocalization) {
            m_host->showSystemMessage(tr("Job submitted to KS"), param.docName);
            m_notices->add(param.userAccount, tr("job [%1] submiited to KS").arg(param.docName));
        }
        return Outcome::Confirmed;
    }
    errMsg = answer.message();
    m_notices->add(param.userAccount, tr("job [%1] submit fail").arg(param.docName) + errMsg);
    logger->error(QStringLiteral("###### [endSubmitJob] job [%1] submit fail,errMsg [%2]").arg(param.docName, errMsg));
    return Outcome::Refused;
}

bool JobSubmitter::cancelJob(const QString& jobId, const QString& account, int timeoutMs)
{
    const QString base = m_base.isEmpty() ? serverUrl() : m_base;
    const QString url = KsEndpoints::cancelJobUrl(base, account, jobId);
    logger->info(url);
    exchange().setExcludeUserInput(true);
    const HttpAnswer answer = exchange().get(url, base, timeoutMs);
    exchange().setExcludeUserInput(false);
    // Any envelope means the server has dealt with it, "no such job" included, whatever the status.
    return answer.isObject();
}
