// KsKit's non-blocking queries: the window's tab loads and the downloads, on the object's own manager.
#include "KsKit.h"

#include "KsEndpoints.h"
#include "ServerTrust.h"
#include "app/Logging.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

static Logger* logger = Logging::rootLogger();

void KsKit::requestJobList(const QString& serverUrl, const QString& userAccount, const ApiAnswer::Log& log,
                           QObject* context, ApiAnswer::Handler handler)
{
    ApiAnswer::get(&networkManager(), KsEndpoints::jobListUrl(serverUrl, userAccount), serverUrl,
                   ApiAnswer::Envelope::Code, log, context, std::move(handler));
}

void KsKit::requestJobStatus(const QString& serverUrl, const QString& jobId, const ApiAnswer::Log& log,
                             QObject* context, ApiAnswer::Handler handler)
{
    ApiAnswer::get(&networkManager(), KsEndpoints::jobStatusUrl(serverUrl, jobId), serverUrl, ApiAnswer::Envelope::Code,
                   log, context, std::move(handler));
}

void KsKit::requestScanJobs(const QString& serverUrl, const QString& userAccount, const ApiAnswer::Log& log,
                            QObject* context, ApiAnswer::Handler handler)
{
    ApiAnswer::get(&networkManager(), KsEndpoints::scanJobListUrl(serverUrl, userAccount), serverUrl,
                   ApiAnswer::Envelope::Code, log, context, std::move(handler));
}

void KsKit::requestPermissions(const QString& serverUrl, const QString& userAccount, const ApiAnswer::Log& log,
                               QObject* context, ApiAnswer::Handler handler)
{
    ApiAnswer::get(&networkManager(), KsEndpoints::permissionsUrl(serverUrl, userAccount), serverUrl,
                   ApiAnswer::Envelope::Code, log, context, std::move(handler));
}

void KsKit::requestUserDetails(const QString& serverUrl, const QString& userAccount, const ApiAnswer::Log& log,
                               QObject* context, ApiAnswer::Handler handler)
{
    ApiAnswer::get(&networkManager(), KsEndpoints::userDetailsUrl(serverUrl, userAccount), serverUrl,
                   ApiAnswer::Envelope::Code, log, context, std::move(handler));
}

void KsKit::requestDevices(const QString& serverUrl, const QString& userAccount, const ApiAnswer::Log& log,
                           QObject* context, ApiAnswer::Handler handler)
{
    ApiAnswer::get(&networkManager(), KsEndpoints::devicesUrl(serverUrl, 0, userAccount), serverUrl,
                   ApiAnswer::Envelope::Code, log, context, std::move(handler));
}

void KsKit::requestSiteList(const QString& serverUrl, const ApiAnswer::Log& log, QObject* context,
                            ApiAnswer::Handler handler)
{
    ApiAnswer::get(&networkManager(), KsEndpoints::siteListUrl(serverUrl), serverUrl, ApiAnswer::Envelope::Status, log,
                   context, std::move(handler));
}

void KsKit::requestPinCode(const QString& serverUrl, const QString& userAccount, const ApiAnswer::Log& log,
                           QObject* context, ApiAnswer::Handler handler)
{
    ApiAnswer::get(&networkManager(), KsEndpoints::pinCodeUrl(serverUrl, userAccount), serverUrl,
                   ApiAnswer::Envelope::Code, log, context, std::move(handler));
}

void KsKit::CheckClientUpdate(const QString& serverUrl, const QString& userAccount, QObject* context,
                                 ApiAnswer::Handler handler)
{
    // Silent: an unknown newest version only leaves the update button off.
    ApiAnswer::Log quiet;
    quiet.quiet = true;
    ApiAnswer::get(&networkManager(), KsEndpoints::updateCheckUrl(serverUrl, userAccount), serverUrl,
                   ApiAnswer::Envelope::Code, quiet, context, std::move(handler));
}

HttpAnswer KsKit::cancelJobs(const QString& serverUrl, const QString& userAccount, const QStringList& jobIds)
{
    const QString url = KsEndpoints::cancelJobsUrl(serverUrl, userAccount, jobIds);
    logger->info(url);
    HttpExchange exchange(&networkManager());
    exchange.setExcludeUserInput(true);
    return exchange.get(url, serverUrl);
}

HttpAnswer KsKit::deleteScanJobs(const QString& serverUrl, const QString& userAccount, const QStringList& jobIds)
{
    HttpExchange exchange(&networkManager());
    exchange.setExcludeUserInput(true);
    return exchange.get(KsEndpoints::deleteScanJobsUrl(serverUrl, userAccount, jobIds), serverUrl);
}

QNetworkReply* KsKit::startDownload(const QString& url, const QString& serverUrl)
{
    return networkManager().get(HttpExchange::makeRequest(url, serverUrl));
}
