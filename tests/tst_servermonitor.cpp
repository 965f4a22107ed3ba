#include "ClientParts.h"
#include "FakeKestranaServer.h"
#include "TestHome.h"
#include "config/LoginInfo.h"
#include "session/OnlineState.h"
#include "session/ServerMonitor.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <memory>

// The server monitor without a window, against fake servers: an outage seen from a request that got no answer, from
// a probe or from the idle session's own probe, the re-check that notices the server's return, and the walk to
// another site while it stays away.
class TestServerMonitor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void outageAndReturn_data();
    void outageAndReturn();

private:
    TestHome m_home;
    std::unique_ptr<FakeKestranaServer> m_server;
    std::unique_ptr<FakeKestranaServer> m_spare;
};

void TestServerMonitor::init()
{
    m_server = std::make_unique<FakeKestranaServer>(FakeKestranaState::sample());
    m_spare = std::make_unique<FakeKestranaServer>(FakeKestranaState::sample());
    QVERIFY(m_server->start());
    QVERIFY(m_spare->start());
    LoginInfo& info = ClientParts::shared().settings;
    info.setKsServerUrl(m_server->httpUrl());
    info.setUserName(QStringLiteral("alice"));
    info.setPasword(QStringLiteral("secret"));
    ClientParts::beginCase();
    OnlineState::setForcedForTests(1);
}

void TestServerMonitor::cleanup()
{
    OnlineState::setForcedForTests(-1);
    m_server.reset();
    m_spare.reset();
}

void TestServerMonitor::outageAndReturn_data()
{
    QTest::addColumn<QString>("cause"); // "no answer" (a request reports it), "probe", "idle" or "network down"
    QTest::addColumn<QString>("reported"); // what the request that got no answer reported
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("failures");
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<bool>("walk"); // the server stays away and the site list names another site

    QTest::newRow("request unanswered") << "no answer" << QString() << "Unable to link server" << 0 << true << false;
    QTest::newRow("request timed out") << "no answer" << QStringLiteral("Operation timed out") << "Operation timed out"
                                       << 0 << true << false;
    QTest::newRow("probe fails") << "probe" << QString() << "Unable to link server" << 1 << true << false;
    QTest::newRow("idle: the monitor asks") << "idle" << QString() << "Unable to link server" << 1 << true << false;
    QTest::newRow("network down, server not asked")
        << "network down" << QString() << "network is down" << 0 << true << false;
    QTest::newRow("server stays away: walk") << "probe" << QString() << "Unable to link server" << 1 << true << true;
    QTest::newRow("logged out: no re-check")
        << "no answer" << QString() << "Unable to link server" << 0 << false << false;
}

void TestServerMonitor::outageAndReturn()
{
    QFETCH(QString, cause);
    QFETCH(QString, reported);
    QFETCH(QString, reason);
    QFETCH(int, failures);
    QFETCH(bool, loggedIn);
    QFETCH(bool, walk);

    const QString url = m_server->httpUrl();
    const int port = url.section(QLatin1Char(':'), -1).toInt();
    ClientParts& parts = ClientParts::shared();
    parts.session.setIsLogin(loggedIn);
    ServerMonitor monitor(parts.settings, parts.session, parts.api);
    QCOMPARE(parts.api.account().serverUrl, url); // the server watched is the API's
    const QDateTime outage(QDate(2026, 3, 2), QTime(9, 30));
    QDateTime now = outage;
    monitor.setClock([&now]() { return now; });
    auto* recheck = monitor.findChild<QTimer*>(QStringLiteral("reconnectTimer"));
    QVERIFY(recheck);
    recheck->setInterval(10);
    QSignalSpy states(&monitor, &ServerMonitor::stateChanged);
    QSignalSpy returned(&monitor, &ServerMonitor::returned);
    QSignalSpy switched(&monitor, &ServerMonitor::serverSwitched);

    if (cause == QLatin1String("network down")) {
        OnlineState::setForcedForTests(0);
    } else {
        m_server->stop();
    }
    if (cause == QLatin1String("no answer")) {
        monitor.noteNoAnswer(reported);
    } else if (cause == QLatin1String("idle")) {
        // The server last answered 30 s before the outage is seen; a second sooner the monitor does not ask.
        auto* idle = monitor.findChild<QTimer*>(QStringLiteral("idleProbeTimer"));
        QSignalSpy fired(idle, &QTimer::timeout);
        now = outage.addSecs(-30);
        monitor.noteContact();
        for (const int seconds : { 29, 30 }) {
            now = outage.addSecs(seconds - 30);
            idle->start(0); // the time has passed on the monitor's clock
            QTRY_COMPARE(fired.count(), seconds - 28);
        }
    } else {
        QVERIFY(!monitor.check());
    }
    QVERIFY(!monitor.isOnline());
    QCOMPARE(states.count(), 1);
    QCOMPARE(states.first(), (QVariantList { false, reason, outage }));
    QCOMPARE(monitor.failureCount(), failures);
    QCOMPARE(m_server->requestCount(), 0);
    QCOMPARE(recheck->isActive(), loggedIn);
    if (!loggedIn) {
        return;
    }

    now = outage.addSecs(90);
    if (walk) {
        // The server's own entry first, without a scheme as sites are often listed.
        parts.session.setServerList({ url.mid(int(qstrlen("http://"))), m_spare->httpUrl() });
    } else if (cause == QLatin1String("network down")) {
        OnlineState::setForcedForTests(1);
    } else {
        QVERIFY(m_server->startListener(false, port));
    }
    QTRY_COMPARE(returned.count(), 1);
    QVERIFY(monitor.isOnline());
    QVERIFY(!recheck->isActive());
    QCOMPARE(states.count(), 2);
    QCOMPARE(states.last(), (QVariantList { true, QString(), now }));
    QCOMPARE(switched.count(), walk ? 1 : 0);
    QCOMPARE(parts.api.account().serverUrl, walk ? m_spare->httpUrl() : url);
    QCOMPARE(parts.settings.ksServerUrl(), walk ? m_spare->httpUrl() : url);
    QCOMPARE(m_spare->requestCount(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew")), walk ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestServerMonitor)
#include "tst_servermonitor.moc"
