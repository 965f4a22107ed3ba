#include "JobSubmitter.h"

#include "JobHost.h"
#include "SafeJobFile.h"
#include "api/HttpExchange.h"
#include "app/Logging.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

static Logger* logger = Logging::rootLogger();

namespace {
const QString kWebSegment = QStringLiteral("Job");
}

JobSubmitter::JobSubmitter(JobHost* host, QObject* parent)
    : QObject(parent)
    , m_host(host)
{ }

QString JobSubmitter::jobUrl(const QString& endpoint) const
{
    return m_host->serverUrl() + QLatin1Char('/') + kWebSegment + QLatin1Char('/') + endpoint;
}

bool JobSubmitter::SubmitJob(KsJobParam param)
{
    m_host->setRowCountBeforeSubmit(m_host->jobsRowCount());
    const QString jobId = beginSubmitJob(param);
    if (jobId.isEmpty()) {
        return false;
    }
    m_host->setCurrentJobId(jobId);
    if (!uploadJobFile(param, jobId)) {
        return false;
    }
    return endSubmitJob(param, jobId);
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

QString JobSubmitter::beginSubmitJob(const KsJobParam& param)
{
    const QByteArray body = announceBody(param);
    logger->info(QStringLiteral("###### [beginSubmitJob] jobParams %1").arg(QString::fromUtf8(body)));

    HttpExchange exchange;
    const HttpAnswer answer = exchange.post(jobUrl(QStringLiteral("BAS_SubmitPrintJob")), body,
                                            HttpExchange::kFormContentType, m_host->serverUrl());
    if (!answer.isJson()) {
        logger->error(QStringLiteral("###### [beginSubmitJob] request exception"));
        m_host->showCritical(tr("ks server link ex"));
        return QString();
    }

    QString errMsg;
    QString reason = tr("User has no permission to print!");
    if (!answer.isObject()) {
        // JSON, but not the answer envelope: the job is not on the server, and the user has to know.
        errMsg = QStringLiteral("the answer is not an object");
        reason = tr("unreadable answer");
    } else if (answer.code() == 0) {
        const QString jobId = answer.data().toVariant().toString();
        if (!jobId.isEmpty()) {
            return jobId;
        }
        // Accepted without an ID: nothing can be uploaded, and the user must not think it was.
        errMsg = QStringLiteral("no job ID in the answer");
        reason = tr("the server gave no job ID");
    } else {
        errMsg = answer.code() == 221 ? QStringLiteral("User has no permission to print!") : answer.message();
    }
    m_host->showSystemMessage(tr("job submit fail"), param.docName + QLatin1Char(' ') + reason);
    m_host->insertMsgToDb(param.userAccount, QString(),
                          tr("job [%1] submit fail").arg(param.docName) + QLatin1Char(' ') + reason, QString());
    logger->error(QStringLiteral("###### [beginSubmitJob] job [%1] submit fail errMsg %2").arg(param.docName, errMsg));
    return QString();
}

bool JobSubmitter::uploadJobFile(const KsJobParam& param, const QString& jobId)
{
    const QString uploadName = jobId + QLatin1Char('.') + param.fileType;
    const QFileInfo file(param.jobFilePath);
    const qint64 size = file.size();
    const QString url = jobUrl(QStringLiteral("BAS_UploadJobFile?"))
        + QStringLiteral("JobID=%1&FileType=1&FileSize=%2").arg(jobId, QString::number(size))
        + QStringLiteral("&UserAccount=") + param.userAccount + QStringLiteral("&FileName=") + uploadName;
    m_host->setUploadedFileSize(size);

    const JobOptions options = m_host->jobOptions();
    const qint64 threshold = static_cast<qint64>(options.showProgressFileSizeLimitMiB) << 20;
    if (options.showProgress && size >= threshold) {
        return uploadFileSegmentProgress(url, param.jobFilePath, file.fileName(), jobId, param.docName);
    }
    return uploadFileSegment(url, param.jobFilePath, file.fileName());
}

bool JobSubmitter::uploadFileSegment(const QString& url, const QString& filePath, const QString& fileName)
{
    return uploadLoop(url, filePath, fileName, false, QString(), QString());
}

bool JobSubmitter::uploadFileSegmentProgress(const QString& url, const QString& filePath, const QString& fileName,
                                             const QString& jobId, const QString& docName)
{
    return uploadLoop(url, filePath, fileName, true, jobId, docName);
}

void JobSubmitter::reportUploadFailure(const QString& fileName, const QString& reason)
{
    m_host->showSystemMessage(tr("job uploadFile fail"), fileName + QLatin1Char(' ') + reason);
    m_host->insertMsgToDb(m_host->userAccount(), QString(),
                          tr("job [%1] uploadFile fail").arg(fileName) + QLatin1Char(' ') + reason, QString());
}

bool JobSubmitter::uploadLoop(const QString& url, const QString& filePath, const QString& fileName, bool withProgress,
                              const QString& jobId, const QString& docName)
{
    QFile file;
    const qint64 fileSize = QFileInfo(filePath).size();
    logger->info(QStringLiteral("file size %1 fileName %2").arg(QString::number(fileSize), fileName));
    // Only the user's own regular file is sent, checked on the open descriptor (never a link's target).
    const SafeJobFile::Verdict verdict = SafeJobFile::open(filePath, &file);
    if (verdict != SafeJobFile::Verdict::Accepted) {
        const QString reason = SafeJobFile::describe(verdict);
        logger->error(
            QStringLiteral("###### [uploadFileSegment] job [%1] cannot open %2: %3").arg(fileName, filePath, reason));
        reportUploadFailure(fileName, reason);
        return false;
    }
    // The C locale keeps the header ASCII whatever the user's language.
    const QByteArray contentType = QByteArrayLiteral("multipart/form-data; boundary=----")
        + QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("yyyy-MM-dd-hh:mm:ss-ddd")).toLatin1();

    std::unique_ptr<JobProgress> progress;
    if (withProgress) {
        progress = m_host->createProgress(docName, tr("cancel printing"), static_cast<int>(fileSize / 1024),
                                          tr("Printing assignment submission in progress"));
    }

    HttpExchange exchange;
    bool refused = false; // a chunk answered with a non-zero code
    bool reported = false; // the user has been told why
    bool stopped = false; // transfer error or cancellation
    bool successMark = false;
    qint64 sent = 0;
    while (true) {
        const QByteArray chunk = file.read(kChunkSize);
        if (chunk.isEmpty()) {
            break;
        }
        const HttpAnswer answer = exchange.post(url, chunk, contentType, m_host->serverUrl());
        sent += chunk.size();

        if (answer.isObject() && answer.code() != 0) {
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
        }
        if (answer.transferFailed()) {
            logger->error(QStringLiteral("###### [uploadFileSegment] job [%1] uploadFile fail errMsg %2")
                              .arg(fileName, answer.errorString));
            if (!reported) {
                reportUploadFailure(fileName, answer.errorString);
                reported = true;
            }
            stopped = true;
            break;
        }
        if (progress) {
            const qint64 position = file.pos();
            progress->setValue(static_cast<int>(position % 1024 == 0 ? position / 1024 : fileSize / 1024));
            QCoreApplication::processEvents();
            if (progress->wasCanceled()) {
                cancelJob(jobId);
                reported = true; // the user asked for it
                stopped = true;
                break;
            }
        } else if (!answer.isJson()) {
            successMark = false;
        } else if (answer.isObject() && answer.code() == 0) {
            successMark = true;
        }
    }
    const bool readFailed = file.error() != QFileDevice::NoError;
    file.close();
    if (progress) {
        progress->close();
    }

    bool ok = !refused && !stopped && !readFailed && (withProgress || successMark);
    // The size announced in the URL is what the server expects; anything else is a broken job.
    if (ok && sent != fileSize) {
        ok = false;
    }
    if (!ok && !reported) {
        const QString reason = readFailed ? file.errorString()
            : sent != fileSize            ? tr("the file changed while it was sent")
                                          : tr("the server did not accept the file");
        logger->error(
            QStringLiteral("###### [uploadFileSegment] job [%1] uploadFile fail errMsg %2").arg(fileName, reason));
        reportUploadFailure(fileName, reason);
    }
    return ok;
}

bool JobSubmitter::endSubmitJob(const KsJobParam& param, const QString& jobId)
{
    const QByteArray body = QStringLiteral("JobID=%1&DirectDeviceJob=false").arg(jobId).toUtf8()
        + QByteArrayLiteral("&UserAccount=") + param.userAccount.toUtf8();
    HttpExchange exchange;
    const HttpAnswer answer = exchange.post(jobUrl(QStringLiteral("BAS_UploadComplete")), body,
                                            HttpExchange::kFormContentType, m_host->serverUrl());
    QString errMsg;
    if (!answer.isObject()) {
        // The file is on the server but its confirmation is unknown: the user has to hear about it.
        errMsg = QLatin1Char(' ') + (answer.transferFailed() ? answer.errorString : tr("unreadable answer"));
    } else if (answer.code() == 0) {
        if (m_host->jobOptions().isLocalization) {
            m_host->getJobStatusInfo();
        } else {
            m_host->RefreshJobInfo();
            m_host->showSystemMessage(tr("Job submitted to KS"), param.docName);
            m_host->insertMsgToDb(param.userAccount, QString(), tr("job [%1] submiited to KS").arg(param.docName),
                                  QString());
        }
        return true;
    } else {
        errMsg = answer.message();
    }
    m_host->insertMsgToDb(param.userAccount, QString(), tr("job [%1] submit fail").arg(param.docName) + errMsg,
                          QString());
    logger->error(QStringLiteral("###### [endSubmitJob] job [%1] submit fail,errMsg [%2]").arg(param.docName, errMsg));
    return false;
}

void JobSubmitter::cancelJob(const QString& jobId)
{
    const QString url = jobUrl(QStringLiteral("BAS_CancelJob?UserAccount=%1&Type=0").arg(m_host->userAccount()))
        + QStringLiteral("&JobID=%1").arg(jobId);
    logger->info(url);
    HttpExchange exchange;
    exchange.setExcludeUserInput(true);
    exchange.get(url, m_host->serverUrl());
}
