#pragma once

#include "HttpExchange.h"
#include "KsPrinter.h"
#include "KsProject.h"
#include "KsReqCommon.h"
#include "KsUserInfo.h"
#include "config/LoginInfo.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QNetworkAccessManager;
class QJsonValue;

// The client's server API object: login, reachability probe, host addresses and the queries the job
// checks and dialogs need. Every call reads the current user, password and server from LoginInfo and
// waits for its answer in a nested event loop (HttpExchange).
class KsKit : public QObject
{
    Q_OBJECT
public:
    static constexpr const char* kSigningSalt = "4152063918270";

    explicit KsKit(QObject* parent = nullptr);
    ~KsKit() override;

    // Logs the configured user in; on failure message may receive the reason.
    bool login(QString& message);
    // The user's pin code; tlsBase decides the certificate rule.
    static HttpAnswer pinCode(QNetworkAccessManager* nam, const QString& serverUrl, const QString& userAccount,
                              const QString& tlsBase);
    // Tells the server the user has logged out, on the caller's manager; true when it confirmed.
    static bool logout(QNetworkAccessManager* nam, const QString& serverUrl, const QString& userAccount);
    // True when a GET of url completes within 5000 ms without a network error.
    bool CheckNetwork(QString url);
    // The host's IPv4 addresses in text form.
    static QStringList GetIp();

    QList<KsPrinter> getPrinters(QString userAccount, int type);
    QList<KsProject> getProjects(QString userAccount);
    KsUserInfo getKsUserInfo(QString userAccount);
    // The newest client version known to the server; empty on any failure.
    QString CheckClientUpdate(QString userAccount);
    // The login form, sent as a POST body by the start-up login and as a GET query by the dialog.
    static QString loginForm(const QString& password, const QString& clientVersion, const QString& accountVerify,
                             const QString& userName);
    // UTF-8, then Base64, then every byte outside the unreserved set as %XX.
    static QString encodeField(const QString& text);
    // A system user's login is refused when the server's host address is not this host's DNS domain.
    static bool hostDomainRefused(const QJsonValue& data, const QString& localDomain);
    // The settings the server pushes to clients (bounded in time, so a dead server cannot hold start-up);
    // nothing when the answer is unusable.
    static std::optional<LoginInfo::ServerSettings> fetchClientSettings(const QString& serverUrl);
    // Fills the timestamp and signature of a signed request for the current local time.
    static void GetRepCommonParam(KsReqCommon& common);
    static KsReqCommon repCommonParamAt(const QDateTime& localTime);

    // The server's addresses, each spelt here alone. serverUrl is the base with its scheme (ServerUrl).
    static QString loginUrl(const QString& serverUrl);
    static QString logoutUrl(const QString& serverUrl);
    static QString clientConfigUrl(const QString& serverUrl);
    static QString siteListUrl(const QString& serverUrl);
    static QString updateCheckUrl(const QString& serverUrl, const QString& userAccount);
    static QString updateDownloadUrl(const QString& serverUrl);
    static QString permissionsUrl(const QString& serverUrl, const QString& userAccount);
    static QString userDetailsUrl(const QString& serverUrl, const QString& userAccount);
    static QString devicesUrl(const QString& serverUrl, int type, const QString& userAccount);
    static QString projectsUrl(const QString& serverUrl, const QString& userAccount);
    static QString pinCodeUrl(const QString& serverUrl, const QString& userAccount);
    static QString jobListUrl(const QString& serverUrl, const QString& userAccount);
    static QString jobStatusUrl(const QString& serverUrl, const QString& jobId);
    static QString cancelJobUrl(const QString& serverUrl, const QString& userAccount, const QString& jobId);
    static QString cancelJobsUrl(const QString& serverUrl, const QString& userAccount, const QStringList& jobIds);
    static QString scanJobListUrl(const QString& serverUrl, const QString& userAccount);
    static QString deleteScanJobsUrl(const QString& serverUrl, const QString& userAccount, const QStringList& jobIds);
    static QString scanJobDownloadUrl(const QString& serverUrl, const QString& jobId);
    static QString submitJobUrl(const QString& serverUrl);
    static QString uploadJobFileUrl(const QString& serverUrl, const QString& jobId, qint64 size,
                                    const QString& userAccount, const QString& fileName);
    static QString uploadCompleteUrl(const QString& serverUrl);
    // The QR service lives under its own base, taken from the QR page address.
    static QString qrRegisterUrl(const QString& qrBase, const QString& guid);
    static QString qrPollUrl(const QString& qrBase, const QString& guid);
    // An answer of the QR service: a JSON object whose "code" 200 means "data" holds the result.
    struct QrAnswer
    {
        bool isObject = false;
        bool ok = false;
        QJsonObject data;
        QString message; // the service's reason when not ok
    };
    static QrAnswer readQrAnswer(const QByteArray& body);

    // Seams for tests: the clock of GetRepCommonParam and the local DNS domain name; empty restores.
    static void setClockForTests(std::function<QDateTime()> clock);
    static void setLocalDomainNameForTests(std::function<QString()> domainName);

    // The manager every query of this API goes through, for callers that send requests of their own.
    QNetworkAccessManager& networkManager() { return *m_nam; }

private:
    static QString localDomainName();

    QNetworkAccessManager* m_nam = nullptr;
    bool m_systemUser = true;
    QString m_accountVerify;
};
