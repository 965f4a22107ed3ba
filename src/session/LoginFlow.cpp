#include "session/LoginFlow.h"

#include "api/HttpExchange.h"
#include "api/KsKit.h"
#include "app/Logging.h"
#include "app/ServerUrl.h"
#include "app/UserPaths.h"
#include "config/LoginInfo.h"
#include "config/Session.h"

#include <QFile>
#include <QHostInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QTimer>

static Logger* logger = Logging::rootLogger();

namespace {
// Reports the attempt busy until every way out of it, or earlier so a question is not asked under a busy cursor.
class Busy
{
public:
    explicit Busy(LoginFlow* flow)
        : m_flow(flow)
    {
        emit m_flow->busyChanged(true);
    }
    ~Busy() { release(); }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
    void release()
    {
        if (m_active) {
            m_active = false;
            emit m_flow->busyChanged(false);
        }
    }

private:
    LoginFlow* m_flow;
    bool m_active = true;
};
} // namespace

LoginFlow::LoginFlow(LoginInfo& settings, Session& session, KsKit& api, QObject* parent)
    : QObject(parent)
    , m_info(settings)
    , m_session(session)
    , m_api(api)
    , m_autoLoginTimer(new QTimer(this))
{
    m_autoLoginTimer->setObjectName(QStringLiteral("autoLoginTimer"));
    connect(m_autoLoginTimer, &QTimer::timeout, this, &LoginFlow::autoLoginTick);
}

LoginFlow::~LoginFlow() = default;

void LoginFlow::setFormSource(std::function<LoginForm()> form)
{
    m_form = std::move(form);
}

void LoginFlow::setOnlineCheck(std::function<bool()> online)
{
    m_online = std::move(online);
}

void LoginFlow::setCertificateQuestion(std::function<bool(const ServerTrust::Refusal&)> ask)
{
    m_askTrust = std::move(ask);
}

void LoginFlow::setLocalDomainNameForTests(const QString& domain)
{
    m_hasDomainOverride = true;
    m_domainOverride = domain;
}

QString LoginFlow::localDomainName() const
{
    return m_hasDomainOverride ? m_domainOverride : QHostInfo::localDomainName();
}

LoginForm LoginFlow::form() const
{
    return m_form ? m_form() : LoginForm {};
}

void LoginFlow::reload()
{
    m_systemUser = LoginInfo::fileSwitch(LoginInfo::Key::SystemUser);
    if (m_systemUser) {
        m_accountVerify = KsAccount::Verify::System;
    }
}

void LoginFlow::requestTypedLogin()
{
    logger->info(QStringLiteral("###### login begin"));
    if (m_autoAttempt) {
        // The user's own login wins over a pending automatic attempt: stop that one; this one runs as soon as
        // the attempt has returned.
        logger->info(QStringLiteral("###### automatic login attempt cancelled by a manual login"));
        m_manualLoginPending = true;
        m_api.abortLogin();
        return;
    }
    login(Kind::Typed);
}

void LoginFlow::login(Kind kind)
{
    if (m_loginBusy || m_autoAttempt) {
        // A login asked for while another is pending is acted on when that one has ended.
        if (kind == Kind::Scanned) {
            m_qrLoginPending = true;
        } else {
            m_manualLoginPending = true;
        }
        return;
    }
    m_loginBusy = true;
    Busy busy(this);
    const LoginForm typed = form();

    if (kind == Kind::Scanned) {
        m_accountVerify = m_systemUser ? KsAccount::Verify::System : KsAccount::Verify::Qr;
    } else if (!typed.systemUser) {
        m_accountVerify = KsAccount::Verify::Password;
    }

    KsAccount account = m_api.account();
    account.setServerUrl(typed.server);
    if (account.serverUrl != typed.server) {
        emit serverAddressNormalised(account.serverUrl);
    }
    account.userName = typed.userName;
    account.password = typed.password;
    account.verify = m_accountVerify;
    if (QFile::exists(UserPaths::iniFilePath())) {
        m_info.setVersion(LoginInfo::fileValue(LoginInfo::Key::Version).toString());
    }
    account.clientVersion = m_info.ksVersion();

    ServerTrust::clearRefusal();
    HttpAnswer answer = m_api.login(account, KsKit::LoginVia::GetQuery);
    busy.release();
    if (!answer.isObject() && trustChangedCertificate()) {
        answer = m_api.login(account, KsKit::LoginVia::GetQuery);
    }
    logger->info(QString::fromUtf8(answer.body));

    const bool qrLogin = KsAccount::verifyText(m_accountVerify) == QLatin1String("2");
    if (!answer.isObject()) {
        QJsonParseError parseError;
        QJsonDocument::fromJson(answer.body, &parseError);
        if (qrLogin) {
            emit newQrCodeNeeded();
        }
        emit unreachable();
        logger->error(QStringLiteral("###### login fail:%1").arg(int(parseError.error)));
    } else if (answer.code() != 0) {
        if (qrLogin) {
            emit newQrCodeNeeded();
        }
        emit refused(answer.message(), !qrLogin);
        logger->info(
            QStringLiteral("###### login result: message %1 code %2").arg(answer.message()).arg(answer.code()));
    } else {
        logger->info(QStringLiteral("###### login success"));
        if (m_systemUser && KsKit::hostDomainRefused(answer.data(), localDomainName())) {
            emit domainRefused();
            emit attemptEnded();
            m_loginBusy = false;
            runPendingLogin();
            return;
        }

        // The form as it is now: the nested wait above let the user go on typing. The server is the one that took
        // the login, as the API's account says: a field edited meanwhile must not name another.
        const LoginForm now = form();
        m_info.setKsServerUrl(typed.server);
        m_info.setUserName(now.userName);
        m_info.setPasword(now.password);
        m_info.setIsAutoLogin(now.autoLogin);
        m_info.setIsSavingPassword(now.savePassword);
        m_info.setIsSystemUser(now.systemUser);
        m_info.setIsBingoLastTime(true);
        m_info.saveToFile();
        m_api.setAccount(account);
        m_session.setIsLogin(true);
        // A retry still pending from a failed automatic login would log in a second time.
        m_autoLoginTimer->stop();
        m_autoLoginElapsedMs = 0;
        emit loggedIn();
        logger->info(
            QStringLiteral("###### login result: message %1 code %2").arg(answer.message()).arg(answer.code()));
    }
    emit attemptEnded();
    m_loginBusy = false;
    runPendingLogin();
}

// Runs a login asked for while another was pending: a typed one first, else a confirmed QR scan.
void LoginFlow::runPendingLogin()
{
    if (m_loginBusy || m_autoAttempt) {
        return;
    }
    const bool manual = m_manualLoginPending;
    const bool qr = m_qrLoginPending;
    m_manualLoginPending = false;
    m_qrLoginPending = false;
    if (m_session.isLogin()) {
        emit attemptEnded();
        return;
    }
    if (manual) {
        m_qrLoginPending = qr;
        login(Kind::Typed);
    } else if (qr) {
        login(Kind::Scanned);
    }
}

bool LoginFlow::trustChangedCertificate()
{
    const ServerTrust::Refusal refusal = ServerTrust::takeRefusal();
    if (!refusal.isValid() || refusal.pinned.isEmpty()) {
        return false;
    }
    if (!m_askTrust || !m_askTrust(refusal)) {
        logger->info(QStringLiteral("[ServerTrust] new certificate of %1 declined").arg(refusal.server));
        return false;
    }
    ServerTrust::pin(refusal.server, refusal.presented);
    logger->info(QStringLiteral("[ServerTrust] new certificate of %1 accepted by the user: SHA-256 %2")
                     .arg(refusal.server, refusal.presented));
    return true;
}

bool LoginFlow::serverReachable()
{
    const QString typed = form().server;
    m_info.setKsServerUrl(typed);
    const QString address = typed.isEmpty() ? typed : ServerUrl::withScheme(typed);
    return m_api.CheckNetwork(address);
}

void LoginFlow::startAutoLogin()
{
    if (m_info.isAutoLogin() && !m_session.isLogin()) {
        m_autoLoginTimer->start(qMax(1, m_info.autoLoginInterval()) * 1000);
        logger->info(QStringLiteral("###### timer on_autoLogin start..."));
    }
}

void LoginFlow::autoLoginTick()
{
    const int interval = qMax(1, m_info.autoLoginInterval());
    m_autoLoginElapsedMs += interval;
    if (m_autoLoginElapsedMs >= m_info.autoLoginTime()) {
        m_autoLoginTimer->stop();
        logger->info(QStringLiteral("###### timer on_autoLogin stop."));
        m_autoLoginElapsedMs = 0;
        return;
    }
    // A typed login is waiting for its answer, or one already succeeded.
    if (m_loginBusy || m_autoAttempt || m_session.isLogin()) {
        return;
    }
    if ((m_online && !m_online()) || !serverReachable()) {
        return;
    }
    // The check waits for its answer, and the user may have logged in meanwhile.
    if (m_loginBusy || m_autoAttempt || m_session.isLogin()) {
        return;
    }
    logger->info(QStringLiteral("###### on_autoLogin _ksKit->login()"));
    // The stored login, on the server the check above just reached, as the file now says whose it is.
    KsAccount account = KsAccount::fromSettings(m_info);
    account.verify
        = LoginInfo::fileSwitch(LoginInfo::Key::SystemUser) ? KsAccount::Verify::System : KsAccount::Verify::Unset;
    m_api.setAccount(account);
    m_autoAttempt = true;
    QString error;
    const bool ok = m_api.login(error) && !m_manualLoginPending;
    m_autoAttempt = false;
    if (m_manualLoginPending) {
        // Cancelled by the user's own login, which now goes ahead; this attempt counts for nothing.
        m_session.setIsLogin(false);
        runPendingLogin();
        return;
    }
    if (ok) {
        m_qrLoginPending = false;
        emit attemptEnded();
        m_autoLoginTimer->stop();
        m_autoLoginElapsedMs = 0;
        emit loggedIn();
    } else {
        if (m_autoLoginElapsedMs >= m_info.autoLoginCount() * interval) {
            m_autoLoginTimer->stop();
        }
        runPendingLogin();
    }
}

void LoginFlow::setSystemUser(bool on)
{
    m_accountVerify = on ? KsAccount::Verify::System : KsAccount::Verify::Password;
    LoginInfo::writeFileValue(LoginInfo::Key::SystemUser, on);
    m_systemUser = on;
}

void LoginFlow::setAutoLogin(bool on)
{
    LoginInfo::writeFileValue(LoginInfo::Key::AutoLogin, on);
    m_info.setIsAutoLogin(on);
    if (!on) {
        m_autoLoginTimer->stop();
        logger->info(QStringLiteral("###### timer on_autoLogin stop."));
    }
}

void LoginFlow::setSavePassword(bool on)
{
    LoginInfo::writeFileValue(LoginInfo::Key::SavePassword, on);
}

void LoginFlow::setServerUrl(const QString& url)
{
    m_info.setKsServerUrl(url);
}
