#include "KsKit.h"

#include "HttpExchange.h"
#include "KsEndpoints.h"
#include "ServerTrust.h"
#include "app/Logging.h"
#include "config/LoginInfo.h"
#include "config/Session.h"

#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QScopedValueRollback>
#include <QtDebug>

static Logger* logger = Logging::rootLogger();

namespace {

std::function<QString()>& domainSeam()
{
    static std::function<QString()> domain;
    return domain;
}

// UTF-8, then Base64, then every byte outside the unreserved set as %XX.
QString encodeField(const QString& text)
{
    return QString::fromLatin1(text.toUtf8().toBase64().toPercentEncoding());
}

// The login form, sent as a POST body by the start-up login and as a GET query by the dialog.
QString loginForm(const QString& password, const QString& clientVersion, const QString& accountVerify,
                  const QString& userName)
{
    // One pass: a "%2B" produced by the encoding is never taken for a place marker.
    return QStringLiteral("Password=%1&ClientVersion=%2&Type=0&UserID=&UserType=&AccountVerify=%3&UserAccount=%4")
        .arg(encodeField(password), clientVersion, accountVerify, encodeField(userName));
}

// An answer of the QR service: a JSON object whose "code" 200 means "data" holds the result.
KsKit::QrAnswer readQrAnswer(const QByteArray& body)
{
    KsKit::QrAnswer result;
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject()) {
        return result;
    }
    const QJsonObject answer = doc.object();
    result.isObject = true;
    result.ok = answer.value(QStringLiteral("code")).toInt() == 200;
    if (result.ok) {
        result.data = answer.value(QStringLiteral("data")).toObject();
    } else {
        result.message = answer.value(QStringLiteral("message")).toString();
    }
    return result;
}

} // namespace

KsKit::KsKit(const KsAccount& account, QNetworkAccessManager& nam, QObject* parent)
    : QObject(parent)
    , m_account(account)
    , m_nam(&nam)
{
    // The QR requests do not go through HttpExchange, which watches the managers it uses.
    ServerTrust::watch(m_nam);
}

KsKit::KsKit(const KsAccount& account, QObject* parent)
    : QObject(parent)
    , m_account(account)
{ }

KsKit::~KsKit() = default;

QNetworkAccessManager& KsKit::networkManager()
{
    if (!m_nam) {
        m_ownNam = std::make_unique<QNetworkAccessManager>();
        m_nam = m_ownNam.get();
        ServerTrust::watch(m_nam);
    }
    return *m_nam;
}

void KsKit::setLoginState(LoginInfo* settings, Session* session)
{
    m_settings = settings;
    m_session = session;
}

HttpAnswer KsKit::login(const KsAccount& account, LoginVia via)
{
    const QString url = KsEndpoints::loginUrl(account.serverUrl);
    const QString version = QStringLiteral("L") + account.clientVersion;
    HttpExchange exchange(&networkManager());
    if (via == LoginVia::PostBody) {
        // The start-up form knows the system account alone; any other kind goes out empty.
        const QString verify
            = account.verify == KsAccount::Verify::System ? KsAccount::verifyText(account.verify) : QString();
        const QByteArray body = loginForm(account.password, version, verify, account.userName).toUtf8();
        const QScopedValueRollback<HttpExchange*> running(m_loginExchange, &exchange);
        return exchange.post(url, body, HttpExchange::kFormContentType, account.serverUrl);
    }

    logger->info(QStringLiteral("###### ksServerUrl ") + url);
    const QString verify = KsAccount::verifyText(account.verify);
    // The server checks these accounts itself and expects the fixed placeholder instead of a password.
    const bool placeholder = verify == QLatin1String("2");
    const QString password = placeholder ? QStringLiteral("583920") : account.password;
    const QString query = loginForm(password, version, verify, account.userName);
    // The Base64 of a password is as good as the password itself; keep it out of the log file.
    const QString logged = QStringLiteral("Password=******&ClientVersion=%1&Type=0&UserID=&UserType=&AccountVerify=%2&"
                                          "UserAccount=%3")
                               .arg(version, verify, encodeField(account.userName));
    logger->info(QStringLiteral("###### UserAccount=%1").arg(account.userName));
    logger->info(QStringLiteral("###### params--%1").arg(logged));
    return exchange.get(url + QStringLiteral("/?") + query, url);
}

bool KsKit::login(KsAccount& account, QString& message)
{
    const HttpAnswer answer = login(account, LoginVia::PostBody);
    if (!answer.isJson()) {
        // Shown to the user by the start-up login; the log line stays in English.
        message = tr("login fail");
        logger->error(QStringLiteral("[kskit.login] login fail"));
        return false;
    }
    if (!answer.isObject()) {
        return false;
    }
    if (answer.code() != 0) {
        message = answer.message();
        logger->error(QStringLiteral("[kskit.login] %1").arg(message));
        return false;
    }

    const QJsonValue data = answer.data();
    if (data.isObject()) {
        const QJsonObject object = data.toObject();
        if (account.verify == KsAccount::Verify::System && hostDomainRefused(data, localDomainName())) {
            return false;
        }
        const QString serverName = object.value(QLatin1String("UserAccount")).toString();
        qDebug().noquote() << QStringLiteral("[kskit-login] account ") + serverName;
        // An answer without an account keeps the name the user logged in with rather than blanking it.
        if (!serverName.isEmpty()) {
            account.userName = serverName;
            if (m_settings) {
                m_settings->rememberServerAccount(serverName);
            }
        }
    }

    logger->info(QStringLiteral("###### auto login success"));
    if (m_session) {
        m_session->setIsLogin(true);
    }
    return true;
}

void KsKit::abortLogin()
{
    if (m_loginExchange) {
        m_loginExchange->abort();
    }
}

bool KsKit::logout(const QString& serverUrl, const QString& userAccount)
{
    const QByteArray body = QByteArrayLiteral("UserAccount=") + userAccount.toUtf8() + QByteArrayLiteral("&Type=0");
    HttpExchange exchange(&networkManager());
    const HttpAnswer answer
        = exchange.post(KsEndpoints::logoutUrl(serverUrl), body, HttpExchange::kFormContentType, serverUrl);
    if (!answer.isJson()) {
        logger->error(QStringLiteral("login out ex messag"));
        return false;
    }
    if (answer.code() != 0) {
        logger->error(QStringLiteral("login out fail message ") + answer.message());
        return false;
    }
    logger->info(QStringLiteral("login out success"));
    return true;
}

bool KsKit::CheckNetwork(QString url)
{
    HttpExchange exchange(&networkManager());
    const HttpAnswer answer = exchange.get(url, url, HttpExchange::kProbeTimeoutMs);
    if (answer.timedOut) {
        logger->error(QStringLiteral("[kskit.CheckNetwork] http Timeout:") + answer.errorString);
        return false;
    }
    if (answer.transferFailed()) {
        logger->error(QStringLiteral("[kskit.CheckNetwork] Error String :") + answer.errorString);
        return false;
    }
    return true;
}

QList<KsPrinter> KsKit::getPrinters(QString userAccount, int type)
{
    const QString base = m_account.serverUrl;
    const QString url = KsEndpoints::devicesUrl(base, type, userAccount);
    HttpExchange exchange(&networkManager());
    const HttpAnswer answer = exchange.get(url, base);
    if (!answer.isObject() || answer.code() != 0) {
        return {};
    }
    return KsPrinter::listFromJson(answer.data());
}

QList<KsProject> KsKit::getProjects(QString userAccount)
{
    const QString base = m_account.serverUrl;
    const QString url = KsEndpoints::projectsUrl(base, userAccount);
    HttpExchange exchange(&networkManager());
    const HttpAnswer answer = exchange.get(url, base);
    if (!answer.isObject() || answer.code() != 0) {
        return {};
    }
    return KsProject::listFromJson(answer.data());
}

KsUserInfo KsKit::readPermissions(const HttpAnswer& answer)
{
    if (!answer.isObject() || answer.code() != 0) {
        return KsUserInfo();
    }
    return KsUserInfo::fromJson(answer.data().toObject());
}

std::optional<LoginInfo::ServerSettings> KsKit::fetchClientSettings(const QString& serverUrl)
{
    QNetworkRequest request = HttpExchange::makeRequest(KsEndpoints::clientConfigUrl(serverUrl), serverUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(HttpExchange::kFormContentType));
    HttpExchange exchange(&networkManager());
    const HttpAnswer answer = exchange.getRequest(request, HttpExchange::kConfigFetchTimeoutMs);
    if (!answer.isJson()) {
        qDebug() << "getConfigInfo fail";
        return std::nullopt;
    }
    const QJsonObject root = answer.object();
    if (root.value(QStringLiteral("code")).toInt(0) != 0) {
        return std::nullopt;
    }
    LoginInfo::ServerSettings settings;
    const QJsonArray entries = root.value(QStringLiteral("data")).toArray();
    for (const QJsonValue& entry : entries) {
        const QJsonObject item = entry.toObject();
        if (item.value(QStringLiteral("IsUpdate")).toInt(0) != 1) {
            continue;
        }
        // Kept as text, so "true"/"false" and digits read back as booleans and integers.
        settings.append({ item.value(QStringLiteral("Section")).toString() + QLatin1Char('/')
                              + item.value(QStringLiteral("Key")).toString(),
                          item.value(QStringLiteral("Value")).toVariant().toString() });
    }
    return settings;
}

bool KsKit::hostDomainRefused(const QJsonValue& data, const QString& localDomain)
{
    if (!data.isObject() || localDomain.isEmpty()) {
        return false;
    }
    const QString hostAddress = data.toObject().value(QLatin1String("HostAddress")).toString();
    if (localDomain.toLower() == hostAddress.toLower()) {
        return false;
    }
    logger->info(QStringLiteral("###### domain name error"));
    logger->info(QStringLiteral("###### HostAddress :") + hostAddress + QStringLiteral(" local domain name :")
                 + localDomain);
    return true;
}

QNetworkReply* KsKit::qrRequest(const QString& url, QObject* context, QrHandler done)
{
    QNetworkRequest request = HttpExchange::makeRequest(url);
    request.setTransferTimeout(kQrRequestTimeoutMs);
    QNetworkReply* reply = networkManager().get(request);
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    connect(reply, &QNetworkReply::finished, context,
            [reply, done = std::move(done)]() { done(readQrAnswer(reply->readAll())); });
    return reply;
}

void KsKit::registerQr(const QString& qrBase, QObject* context, QrHandler done)
{
    const QString url = KsEndpoints::qrRegisterUrl(qrBase, m_account.qrGuid);
    logger->info(QStringLiteral("###### get QRcode url ") + url);
    qrRequest(url, context, std::move(done));
}

bool KsKit::pollQr(const QString& qrBase, QObject* context, QrHandler done)
{
    if (m_qrPoll && !m_qrPoll->isFinished()) {
        return false;
    }
    const QString url = KsEndpoints::qrPollUrl(qrBase, m_account.qrGuid);
    logger->info(QStringLiteral("###### ScanLogin url ") + url);
    m_qrPoll = qrRequest(url, context, std::move(done));
    return true;
}

void KsKit::setLocalDomainNameForTests(std::function<QString()> domainName)
{
    domainSeam() = std::move(domainName);
}

QString KsKit::localDomainName()
{
    return domainSeam() ? domainSeam()() : QHostInfo::localDomainName();
}
