#include "ServerMonitor.h"

#include "OnlineState.h"
#include "api/KsKit.h"
#include "app/Logging.h"
#include "app/ServerUrl.h"
#include "config/LoginInfo.h"
#include "config/Session.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QScopedValueRollback>
#include <QTimer>

static Logger* logger = Logging::rootLogger();

namespace {
// Failed requests in a row that the walk waits for: the next one starts it.
constexpr int kFailuresBeforeWalk = 2;
} // namespace

ServerMonitor::ServerMonitor(LoginInfo& settings, Session& session, KsKit& api, QObject* parent)
    : QObject(parent)
    , m_info(&settings)
    , m_session(&session)
    , m_api(&api)
    , m_network(new OnlineState(this))
    , m_reconnectTimer(new QTimer(this))
    , m_idleTimer(new QTimer(this))
    , m_clock([]() { return QDateTime::currentDateTime(); })
    , m_since(m_clock())
{
    m_reconnectTimer->setObjectName(QStringLiteral("reconnectTimer"));
    m_reconnectTimer->setInterval(kReconnectProbeMs);
    connect(m_reconnectTimer, &QTimer::timeout, this, [this]() {
        if (!m_session->isLogin()) {
            m_reconnectTimer->stop();
            return;
        }
        check();
    });
    m_idleTimer->setObjectName(QStringLiteral("idleProbeTimer"));
    m_idleTimer->setSingleShot(true);
    connect(m_idleTimer, &QTimer::timeout, this, &ServerMonitor::idleProbeDue);
    // Any HTTP answer, a refusal or an error page included, shows the server alive: no probe needed meanwhile.
    connect(&m_api->networkManager(), &QNetworkAccessManager::finished, this, [this](QNetworkReply* reply) {
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
            noteContact();
        }
    });
}

ServerMonitor::~ServerMonitor() = default;

bool ServerMonitor::check(QString* failure)
{
    const QScopedValueRollback<bool> probing(m_probing, true);
    if (!m_network->isOnline()) {
        const QString reason = tr("network is down");
        setOnline(false, reason);
        if (failure) {
            *failure = reason;
        }
        return false;
    }
    if (m_api->CheckNetwork(m_api->account().serverUrl)) {
        setOnline(true);
        noteContact();
        emit reached();
        return true;
    }
    const QString reason = tr("Unable to link server");
    setOnline(false, reason);
    ++m_failures;
    if (m_failures > kFailuresBeforeWalk && !m_session->serverList().isEmpty() && !m_walking) {
        walkSites();
    }
    if (failure) {
        *failure = reason;
    }
    return false;
}

bool ServerMonitor::checkStaying()
{
    const QScopedValueRollback<bool> noWalk(m_walking, true);
    return check();
}

void ServerMonitor::noteNoAnswer(const QString& reason)
{
    // What the probe would find out, known already: no need to wait for the next check.
    setOnline(false, reason.isEmpty() ? tr("Unable to link server") : reason);
}

ServerMonitor::SwitchOutcome ServerMonitor::switchTo(const QString& url, QString* refusal)
{
    const QString address = ServerUrl::withScheme(url);
    if (!m_api->CheckNetwork(address)) {
        return SwitchOutcome::Unreachable;
    }
    // Tried on a copy: a site that answers but refuses the login must leave no trace of itself.
    KsAccount candidate = m_api->account();
    candidate.setServerUrl(address);
    QString message;
    if (!m_api->login(candidate, message)) {
        if (refusal) {
            *refusal = message;
        }
        return SwitchOutcome::Refused;
    }
    m_api->setAccount(candidate);
    m_info->setKsServerUrl(address);
    LoginInfo::writeFileValue(LoginInfo::Key::ServerUrl, address);
    m_failures = 0;
    return SwitchOutcome::Switched;
}

bool ServerMonitor::walkSites()
{
    // The site chose the server for every user of the host; an outage there is waited out.
    if (LoginInfo::isFixed(LoginInfo::Key::ServerUrl)) {
        return false;
    }
    // The loads after a switch probe the server again; a failure there must not start a second walk.
    const QScopedValueRollback<bool> guard(m_walking, true);
    const QStringList servers = m_session->serverList();
    for (const QString& server : servers) {
        // A logout while a site was tried ends the walk: nobody is to be logged in anywhere.
        if (!m_session->isLogin()) {
            return false;
        }
        if (switchTo(server) == SwitchOutcome::Switched) {
            emit serverSwitched(m_api->account().serverUrl);
            return true;
        }
    }
    return false;
}

void ServerMonitor::stop()
{
    m_reconnectTimer->stop();
    m_idleTimer->stop();
}

void ServerMonitor::noteContact()
{
    m_lastContact = m_clock();
    armIdleProbe();
}

void ServerMonitor::armIdleProbe()
{
    if (!m_session->isLogin() || !m_online) {
        m_idleTimer->stop();
        return;
    }
    const qint64 idle = m_lastContact.msecsTo(m_clock());
    m_idleTimer->start(int(qBound<qint64>(1, kIdleProbeMs - idle, kIdleProbeMs)));
}

void ServerMonitor::idleProbeDue()
{
    // A probe under way (a job's check, say) decides by itself; its answer or its failure sets the next step.
    if (!m_session->isLogin() || !m_online || m_probing) {
        return;
    }
    const QDateTime now = m_clock();
    if (m_lastContact.msecsTo(now) < 0) {
        m_lastContact = now; // the clock was set back: counted from now rather than never
    }
    if (m_lastContact.msecsTo(now) < kIdleProbeMs) {
        armIdleProbe();
        return;
    }
    check();
}

void ServerMonitor::setOnline(bool online, const QString& reason)
{
    if (online) {
        m_reconnectTimer->stop();
        if (!m_online) {
            m_online = true;
            m_offlineReason.clear();
            m_since = m_clock();
            emit stateChanged(true, QString(), m_since);
            QTimer::singleShot(0, this, &ServerMonitor::resumeAfterOutage);
        }
        return;
    }
    m_idleTimer->stop();
    if (m_online) {
        m_since = m_clock();
    }
    const bool changed = m_online || m_offlineReason != reason;
    m_online = false;
    m_offlineReason = reason;
    if (changed) {
        emit stateChanged(false, reason, m_since);
    }
    // Nothing else may look at the server while the window sits idle; keep looking so the return is noticed.
    if (m_session->isLogin() && !m_reconnectTimer->isActive()) {
        m_reconnectTimer->start();
    }
}

void ServerMonitor::resumeAfterOutage()
{
    if (!m_session->isLogin() || !m_online) {
        return;
    }
    logger->info(QStringLiteral("server reachable again, reloading the tabs"));
    emit returned();
}
