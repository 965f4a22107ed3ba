#pragma once

#include "KsReqCommon.h"

#include <QString>
#include <QStringList>

class QDateTime;

// The server's addresses, each spelt here alone, and the signature of a signed request. serverUrl is the base
// with its scheme (ServerUrl); every address is joined to it by ServerUrl::join.
namespace KsEndpoints {

constexpr const char* kSigningSalt = "4152063918270";

QString loginUrl(const QString& serverUrl);
QString logoutUrl(const QString& serverUrl);
QString clientConfigUrl(const QString& serverUrl);
// Signed for the current local time.
QString siteListUrl(const QString& serverUrl);
QString updateCheckUrl(const QString& serverUrl, const QString& userAccount);
QString updateDownloadUrl(const QString& serverUrl);
QString permissionsUrl(const QString& serverUrl, const QString& userAccount);
QString userDetailsUrl(const QString& serverUrl, const QString& userAccount);
QString devicesUrl(const QString& serverUrl, int type, const QString& userAccount);
QString projectsUrl(const QString& serverUrl, const QString& userAccount);
QString pinCodeUrl(const QString& serverUrl, const QString& userAccount);
QString jobListUrl(const QString& serverUrl, const QString& userAccount);
QString jobStatusUrl(const QString& serverUrl, const QString& jobId);
QString cancelJobUrl(const QString& serverUrl, const QString& userAccount, const QString& jobId);
QString cancelJobsUrl(const QString& serverUrl, const QString& userAccount, const QStringList& jobIds);
QString scanJobListUrl(const QString& serverUrl, const QString& userAccount);
QString deleteScanJobsUrl(const QString& serverUrl, const QString& userAccount, const QStringList& jobIds);
QString scanJobDownloadUrl(const QString& serverUrl, const QString& jobId);
QString submitJobUrl(const QString& serverUrl);
QString uploadJobFileUrl(const QString& serverUrl, const QString& jobId, qint64 size, const QString& userAccount,
                         const QString& fileName);
QString uploadCompleteUrl(const QString& serverUrl);
// The QR service lives under its own base, taken from the QR page address.
QString qrRegisterUrl(const QString& qrBase, const QString& guid);
QString qrPollUrl(const QString& qrBase, const QString& guid);

// The timestamp and signature of a signed request made at localTime.
KsReqCommon repCommonParamAt(const QDateTime& localTime);
// The same for the current local time.
void GetRepCommonParam(KsReqCommon& common);

} // namespace KsEndpoints
