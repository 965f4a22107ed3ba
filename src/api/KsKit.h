#pragma once

#include "ApiAnswer.h"
#include "HttpExchange.h"
#include "KsAccount.h"
#include "KsPrinter.h"
#include "KsProject.h"
#include "KsUserInfo.h"
#include "config/LoginInfo.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QJsonValue;
class Session;

// The client's server API object: login, the QR service, reachability probe and the queries the job checks and
// dialogs need, all for one account (KsAccount) and on the one network manager of the UI thread, which the kit
// makes at its first request; the addresses come from KsEndpoints. Requests other than the QR service's wait
// for their answer in a nested event loop (HttpExchange).
class KsKit : public QObject
{
    Q_OBJECT
public:
    // A QR request that has not finished by then ends as a failure.
    static constexpr int kQrRequestTimeoutMs = 10000;

    KsKit(const KsAccount& account, QNetworkAccessManager& nam, QObject* parent = nullptr);
    // With a manager of its own, made at the first request.
    explicit KsKit(const KsAccount& account, QObject* parent = nullptr);
    ~KsKit() override;

    const KsAccount& account() const { return m_account; }
    // A login or a server switch changes the account.
    void setAccount(const KsAccount& account) { m_account = account; }
    QNetworkAccessManager& networkManager();
    // Where a successful login(message) is recorded: the server's form of the name in the settings, the
    // login in the session. Either may be null.
    void setLoginState(LoginInfo* settings, Session* session);

    // The start-up login sends its form as a POST body; the login dialog sends it as a GET query, with the
    // placeholder password for an account the server checks itself (system account, QR code).
    enum class LoginVia { PostBody, GetQuery };
    // One login exchange for the account; the caller reads the answer.
    HttpAnswer login(const KsAccount& account, LoginVia via);
    // Logs the kit's account in by POST; on failure message may receive the reason. On success the account
    // takes the server's form of the name.
    bool login(QString& message) { return login(m_account, message); }
    // The same for another account (a site to switch to), which takes the server's form of the name on success;
    // the kit's own account is left as it is.
    bool login(KsAccount& account, QString& message);
    // Ends a login(message) still waiting for its answer; it then fails.
    void abortLogin();
    // Tells the server the user has logged out; true when it confirmed.
    bool logout(const QString& serverUrl, const QString& userAccount);
    // True when a GET of url completes within 5000 ms without a network error.
    bool CheckNetwork(QString url);

    QList<KsPrinter> getPrinters(QString userAccount, int type);
    QList<KsProject> getProjects(QString userAccount);
    // The permission query's answer read; empty when it failed. The job pipeline sends the query on its own path.
    static KsUserInfo readPermissions(const HttpAnswer& answer);
    // A system user's login is refused when the server's host address is not this host's DNS domain.
    static bool hostDomainRefused(const QJsonValue& data, const QString& localDomain);
    // The settings the server pushes to clients (bounded in time, so a dead server cannot hold start-up);
    // nothing when the answer is unusable.
    std::optional<LoginInfo::ServerSettings> fetchClientSettings(const QString& serverUrl);
    // An answer of the QR service: a JSON object whose "code" 200 means "data" holds the result.
    struct QrAnswer
    {
        bool isObject = false;
        bool ok = false;
        QJsonObject data;
        QString message; // the service's reason when not ok
    };
    using QrHandler = std::function<void(const QrAnswer&)>;
    // Registers the account's QR GUID with the QR service under qrBase; done runs with the answer unless
    // context is gone by then.
    void registerQr(const QString& qrBase, QObject* context, QrHandler done);
    // Asks the QR service for the account a phone confirmed; false, and nothing sent, while the previous
    // poll has not come back (polls never pile up).
    bool pollQr(const QString& qrBase, QObject* context, QrHandler done);

    // Seam for tests: the local DNS domain name; empty restores.
    static void setLocalDomainNameForTests(std::function<QString()> domainName);

    // The window's tab loads, sent on this object's manager without waiting: the handler gets the sorted
    // answer once it is in (only while context lives), and log names the caller in the failure lines.
    void requestJobList(const QString& serverUrl, const QString& userAccount, const ApiAnswer::Log& log,
                        QObject* context, ApiAnswer::Handler handler);
    void requestJobStatus(const QString& serverUrl, const QString& jobId, const ApiAnswer::Log& log, QObject* context,
                          ApiAnswer::Handler handler);
    void requestScanJobs(const QString& serverUrl, const QString& userAccount, const ApiAnswer::Log& log,
                         QObject* context, ApiAnswer::Handler handler);
    void requestPermissions(const QString& serverUrl, const QString& userAccount, const ApiAnswer::Log& log,
                            QObject* context, ApiAnswer::Handler handler);
    void requestUserDetails(const QString& serverUrl, const QString& userAccount, const ApiAnswer::Log& log,
                            QObject* context, ApiAnswer::Handler handler);
    void requestDevices(const QString& serverUrl, const QString& userAccount, const ApiAnswer::Log& log,
                        QObject* context, ApiAnswer::Handler handler);
    // The signed site list ("Status"/"SegmentList" envelope).
    void requestSiteList(const QString& serverUrl, const ApiAnswer::Log& log, QObject* context,
                         ApiAnswer::Handler handler);
    void requestPinCode(const QString& serverUrl, const QString& userAccount, const ApiAnswer::Log& log,
                        QObject* context, ApiAnswer::Handler handler);
    // The newest client version known to the server is the payload; no log line of its own.
    void CheckClientUpdate(const QString& serverUrl, const QString& userAccount, QObject* context,
                           ApiAnswer::Handler handler);
    // Cancelling jobs and deleting scan jobs wait for the answer, the user's input held back meanwhile.
    HttpAnswer cancelJobs(const QString& serverUrl, const QString& userAccount, const QStringList& jobIds);
    HttpAnswer deleteScanJobs(const QString& serverUrl, const QString& userAccount, const QStringList& jobIds);
    // A file download (scan job, update package); the caller reads the reply as it comes.
    QNetworkReply* startDownload(const QString& url, const QString& serverUrl);

private:
    static QString localDomainName();
    QNetworkReply* qrRequest(const QString& url, QObject* context, QrHandler done);

    KsAccount m_account;
    QNetworkAccessManager* m_nam = nullptr;
    std::unique_ptr<QNetworkAccessManager> m_ownNam;
    LoginInfo* m_settings = nullptr;
    Session* m_session = nullptr;
    HttpExchange* m_loginExchange = nullptr; // the login(message) waiting for its answer
    QPointer<QNetworkReply> m_qrPoll;
};
