#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

class KsKit;
class LoginInfo;
class OnlineState;
class QTimer;
class Session;

// Whether the client reaches its server: the probe and the state it leaves (online, or offline with the reason and
// since when), the re-check that notices the server's return after an outage, the probe of an idle session that
// notices an outage nobody's request ran into, and the walk over the server's site list after repeated failures.
// Requests that got no answer at all are reported here too, so the state changes at once. It shows nothing: the
// window shows what it reports.
class ServerMonitor : public QObject
{
    Q_OBJECT
public:
    // How often an offline client looks at the server while the user is logged in (the timer "reconnectTimer").
    static constexpr int kReconnectProbeMs = 15000;
    // How long a logged-in client that is online may go without hearing from the server before it probes (the
    // timer "idleProbeTimer"): the status strip never says "online" much longer than this after the server went.
    static constexpr int kIdleProbeMs = 30000;

    // The settings a switch records the new server in, the session (logged in, the site list), the API whose
    // account names the server watched (the one owner of the current server).
    ServerMonitor(LoginInfo& settings, Session& session, KsKit& api, QObject* parent = nullptr);
    ~ServerMonitor() override;

    enum class SwitchOutcome { Switched, Unreachable, Refused };
    // Makes url the server when it answers and takes the login; only then do the API's account, the settings
    // and the settings file name it. Otherwise all three stay on the server in use. refusal: the login's reason.
    SwitchOutcome switchTo(const QString& url, QString* refusal = nullptr);

    // Probes the server: the machine's network first, then a request. The third failed request in a row walks the
    // site list. failure: why it failed, as the user reads it.
    bool check(QString* failure = nullptr);
    // The same probe, never followed by a walk: logging out must never log in again on another site.
    bool checkStaying();
    // A request got no answer at all: offline at once, with the time-out's text (empty: "Unable to link server").
    void noteNoAnswer(const QString& reason);
    // The first known site that answers and takes the login becomes the server; false when none does.
    bool walkSites();
    // The server answered a request (any HTTP answer): the idle probe waits kIdleProbeMs from now. Every answer on
    // the API's network manager is noted by itself; requests sent elsewhere may tell it here.
    void noteContact();
    // Logout: no more re-checks or idle probes.
    void stop();

    bool isOnline() const { return m_online; }
    QString offlineReason() const { return m_offlineReason; }
    // When the present state (online or offline) began.
    QDateTime since() const { return m_since; }
    // Failed requests to the server since it last answered or the walk last switched.
    int failureCount() const { return m_failures; }

    // Tests: the clock the state's time and the idle time are read from.
    void setClock(const std::function<QDateTime()>& clock) { m_clock = clock; }

signals:
    // Online, or offline with a reason (also a new reason while offline); since: when that state began.
    void stateChanged(bool online, const QString& reason, const QDateTime& since);
    // A probe reached the server, whatever the state before.
    void reached();
    // The server answers again after an outage while the user is logged in; queued after the probe that found it,
    // which may run inside a load that must not start the same load again.
    void returned();
    // The walk made url the server, logged in.
    void serverSwitched(const QString& url);

private:
    void setOnline(bool online, const QString& reason = QString());
    void resumeAfterOutage();
    // Starts the idle probe's timer for what is left of kIdleProbeMs since the last contact, or stops it when no
    // probe is due (logged out, or offline, where the re-check looks instead).
    void armIdleProbe();
    void idleProbeDue();

    LoginInfo* const m_info;
    Session* const m_session;
    KsKit* const m_api;
    OnlineState* m_network = nullptr;
    QTimer* m_reconnectTimer = nullptr;
    QTimer* m_idleTimer = nullptr;
    std::function<QDateTime()> m_clock;

    bool m_online = true;
    QString m_offlineReason;
    QDateTime m_since;
    QDateTime m_lastContact;
    int m_failures = 0;
    bool m_walking = false;
    bool m_probing = false;
};
