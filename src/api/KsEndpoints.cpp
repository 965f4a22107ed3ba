#include "KsEndpoints.h"

#include "app/ServerUrl.h"

#include <QCryptographicHash>
#include <QDateTime>

namespace {

const QString kWebSegment = QStringLiteral("/Job/");

// The job ids of a batch request, as the server reads an array from a query.
QString jobIdArray(const QStringList& jobIds)
{
    QString query;
    for (int i = 0; i < jobIds.size(); ++i) {
        query += QStringLiteral("&JobID%5B%1%5D=%2").arg(i).arg(jobIds.at(i));
    }
    return query;
}

} // namespace

namespace KsEndpoints {

QString loginUrl(const QString& serverUrl)
{
    return ServerUrl::join(serverUrl, QStringLiteral("/Orvinaweb/BAS_ClientLoginNew"));
}

QString logoutUrl(const QString& serverUrl)
{
    return ServerUrl::join(serverUrl, QStringLiteral("/Orvinaweb/BAS_ClientLogOutNew"));
}

QString clientConfigUrl(const QString& serverUrl)
{
    return ServerUrl::join(serverUrl, QStringLiteral("/Orvinaweb/GetClientConfigInfo"));
}

QString siteListUrl(const QString& serverUrl)
{
    KsReqCommon common;
    GetRepCommonParam(common);
    return ServerUrl::join(
        serverUrl,
        QStringLiteral("/KSS/GetIPSegment?Timestamp=%1&Signature=%2").arg(common.timestamp, common.signature));
}

QString updateCheckUrl(const QString& serverUrl, const QString& userAccount)
{
    // Filled in one pass: an encoded account such as "a%2Bb" must not be mistaken for a placeholder.
    return ServerUrl::join(serverUrl,
                           QStringLiteral("/Orvinaweb/BAS_CheckClientUpdate_New?UserAccount=%1&type=%2&SysType=%3")
                               .arg(userAccount, QStringLiteral("3"), QStringLiteral("amd")));
}

QString updateDownloadUrl(const QString& serverUrl)
{
    return ServerUrl::join(serverUrl, QStringLiteral("/MyJob/ResponseDownLoad?type=3&SysType=amd"));
}

QString permissionsUrl(const QString& serverUrl, const QString& userAccount)
{
    return ServerUrl::join(serverUrl, QStringLiteral("/User/BAS_UserPermission?UserAccount=") + userAccount);
}

QString userDetailsUrl(const QString& serverUrl, const QString& userAccount)
{
    return ServerUrl::join(serverUrl, QStringLiteral("/PersonalInfo/ClientUserBaseInfo?UserAccount=") + userAccount);
}

QString devicesUrl(const QString& serverUrl, int type, const QString& userAccount)
{
    return ServerUrl::join(serverUrl,
                           QStringLiteral("/Device/BAS_DeviceStatusList?Type=%1").arg(type)
                               + QStringLiteral("&UserAccount=") + userAccount);
}

QString projectsUrl(const QString& serverUrl, const QString& userAccount)
{
    return ServerUrl::join(serverUrl, QStringLiteral("/User/BAS_ProjectList?strUserAccount=") + userAccount);
}

QString pinCodeUrl(const QString& serverUrl, const QString& userAccount)
{
    return ServerUrl::join(serverUrl, QStringLiteral("/User/BAS_GetPinCodeByAccount?UserAccount=") + userAccount);
}

QString jobListUrl(const QString& serverUrl, const QString& userAccount)
{
    return ServerUrl::join(serverUrl, kWebSegment + QStringLiteral("BAS_JobStausList?UserAccount=") + userAccount);
}

QString jobStatusUrl(const QString& serverUrl, const QString& jobId)
{
    return ServerUrl::join(serverUrl, kWebSegment + QStringLiteral("BAS_GetJobStatusInfo?jobId=") + jobId);
}

QString cancelJobUrl(const QString& serverUrl, const QString& userAccount, const QString& jobId)
{
    return ServerUrl::join(serverUrl,
                           kWebSegment + QStringLiteral("BAS_CancelJob?UserAccount=") + userAccount
                               + QStringLiteral("&Type=0&JobID=") + jobId);
}

QString cancelJobsUrl(const QString& serverUrl, const QString& userAccount, const QStringList& jobIds)
{
    return ServerUrl::join(serverUrl,
                           kWebSegment + QStringLiteral("BAS_CancelJob?UserAccount=") + userAccount
                               + QStringLiteral("&Type=0") + jobIdArray(jobIds));
}

QString scanJobListUrl(const QString& serverUrl, const QString& userAccount)
{
    return ServerUrl::join(serverUrl, kWebSegment + QStringLiteral("BAS_ScanJobList?UserAccount=") + userAccount);
}

QString deleteScanJobsUrl(const QString& serverUrl, const QString& userAccount, const QStringList& jobIds)
{
    return ServerUrl::join(
        serverUrl, kWebSegment + QStringLiteral("BAS_DeleteScanJob?UserAccount=") + userAccount + jobIdArray(jobIds));
}

QString scanJobDownloadUrl(const QString& serverUrl, const QString& jobId)
{
    return ServerUrl::join(serverUrl, kWebSegment + QStringLiteral("BAS_DownloadScanJob?JobID=") + jobId);
}

QString submitJobUrl(const QString& serverUrl)
{
    return ServerUrl::join(serverUrl, kWebSegment + QStringLiteral("BAS_SubmitPrintJob"));
}

QString uploadJobFileUrl(const QString& serverUrl, const QString& jobId, qint64 size, const QString& userAccount,
                         const QString& fileName)
{
    return ServerUrl::join(serverUrl,
                           kWebSegment + QStringLiteral("BAS_UploadJobFile?JobID=") + jobId
                               + QStringLiteral("&FileType=1&FileSize=") + QString::number(size)
                               + QStringLiteral("&UserAccount=") + userAccount + QStringLiteral("&FileName=")
                               + fileName);
}

QString uploadCompleteUrl(const QString& serverUrl)
{
    return ServerUrl::join(serverUrl, kWebSegment + QStringLiteral("BAS_UploadComplete"));
}

QString qrRegisterUrl(const QString& qrBase, const QString& guid)
{
    return ServerUrl::join(qrBase, QStringLiteral("/api/client/invoke?clientId=") + guid);
}

QString qrPollUrl(const QString& qrBase, const QString& guid)
{
    return ServerUrl::join(qrBase, QStringLiteral("/api/client/account?clientId=") + guid);
}

KsReqCommon repCommonParamAt(const QDateTime& localTime)
{
    KsReqCommon common;
    common.timestamp = localTime.toString(QStringLiteral("yyyyMMddHHmmss"));
    const QByteArray signed_ = (common.timestamp + QLatin1String(kSigningSalt)).toLatin1();
    common.signature
        = QString::fromLatin1(QCryptographicHash::hash(signed_, QCryptographicHash::Md5).toHex()).toUpper();
    return common;
}

void GetRepCommonParam(KsReqCommon& common)
{
    const KsReqCommon filled = repCommonParamAt(QDateTime::currentDateTime());
    common.timestamp = filled.timestamp;
    common.signature = filled.signature;
}

} // namespace KsEndpoints
