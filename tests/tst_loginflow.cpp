#include "ClientParts.h"
#include "FakeKestranaServer.h"
#include "LoginHome.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "session/LoginFlow.h"

#include <QTimer>
#include <QtTest>

#include <memory>

// The login attempts one at a time: a login asked for while another waits for its answer runs after it, unless
// that one logged in. The window cannot ask for the second while the first waits; the flow alone can.
class TestLoginFlow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void loginAskedMeanwhileWaitsItsTurn_data();
    void loginAskedMeanwhileWaitsItsTurn();

private:
    std::unique_ptr<FakeKestranaServer> m_server;
    std::unique_ptr<LoginHome> m_home;
};

static const QString kLoginPath = QStringLiteral("/Orvinaweb/BAS_ClientLoginNew/");

void TestLoginFlow::initTestCase()
{
    m_server.reset(new FakeKestranaServer(FakeKestranaState::sample()));
    QVERIFY(m_server->start());
}

void TestLoginFlow::init()
{
    m_home.reset(new LoginHome);
    QVERIFY(m_home->isValid());
    m_home->write({ { "Login/SystemUser", false } });
    QCOMPARE(Singleton<LoginInfo>::getInstance()->loadFromFile(), 0);
    ClientParts::beginCase();
    m_server->clearRequests();
    m_server->clearOverrides();
}

void TestLoginFlow::cleanup()
{
    ClientParts::shared().session.setIsLogin(false);
    m_home.reset();
}

void TestLoginFlow::loginAskedMeanwhileWaitsItsTurn_data()
{
    QTest::addColumn<bool>("firstScanned");
    QTest::addColumn<QByteArray>("firstBody"); // empty: the server's own answer, a success
    QTest::addColumn<QStringList>("verifies"); // AccountVerify of each login request, in order
    QTest::addColumn<QStringList>("events");

    const QByteArray locked = R"({"code":1,"message":"The account is locked"})";
    QTest::newRow("typed refused, scan follows")
        << false << locked << QStringList { "4", "2" }
        << QStringList { "busy", "idle", "refused The account is locked, typed", "busy", "idle", "loggedIn" };
    QTest::newRow("typed logs in, scan dropped")
        << false << QByteArray() << QStringList { "4" } << QStringList { "busy", "idle", "loggedIn" };
    QTest::newRow("scan refused, typed follows")
        << true << locked << QStringList { "2", "4" }
        << QStringList { "busy", "idle", "new code", "refused The account is locked", "busy", "idle", "loggedIn" };
    QTest::newRow("scan unanswered, typed follows")
        << true << QByteArray("<html>Bad gateway</html>") << QStringList { "2", "4" }
        << QStringList { "busy", "idle", "new code", "unreachable", "busy", "idle", "loggedIn" };
}

void TestLoginFlow::loginAskedMeanwhileWaitsItsTurn()
{
    QFETCH(bool, firstScanned);
    QFETCH(QByteArray, firstBody);
    QFETCH(QStringList, verifies);
    QFETCH(QStringList, events);

    const FakeReply slow = firstBody.isEmpty() ? FakeReply::delayed(300) : FakeReply::raw(firstBody).after(300);
    m_server->setOverride(kLoginPath, FakeReply(slow).times(1));
    ClientParts& parts = ClientParts::shared();
    LoginFlow flow(parts.settings, parts.session, parts.api);
    flow.reload();
    flow.setFormSource([this]() {
        LoginForm form;
        form.server = m_server->httpUrl();
        form.userName = QStringLiteral("alice");
        form.password = QStringLiteral("secret");
        return form;
    });
    QStringList seen;
    connect(&flow, &LoginFlow::busyChanged, this, [&](bool busy) { seen << (busy ? "busy" : "idle"); });
    connect(&flow, &LoginFlow::newQrCodeNeeded, this, [&]() { seen << "new code"; });
    connect(&flow, &LoginFlow::unreachable, this, [&]() { seen << "unreachable"; });
    connect(&flow, &LoginFlow::refused, this, [&](const QString& message, bool typed) {
        seen << (QStringLiteral("refused ") + message + (typed ? QStringLiteral(", typed") : QString()));
    });
    connect(&flow, &LoginFlow::loggedIn, this, [&]() { seen << "loggedIn"; });

    const LoginFlow::Kind first = firstScanned ? LoginFlow::Kind::Scanned : LoginFlow::Kind::Typed;
    const LoginFlow::Kind second = firstScanned ? LoginFlow::Kind::Typed : LoginFlow::Kind::Scanned;
    // Asked from inside the first attempt's wait, as a click or a confirmed scan would be.
    QTimer::singleShot(0, &flow, [&]() { flow.login(second); });
    flow.login(first);

    QCOMPARE(seen, events);
    QStringList sent;
    for (const FakeRequest& request : m_server->requestsTo(kLoginPath)) {
        sent << request.queryItem(QStringLiteral("AccountVerify"));
    }
    QCOMPARE(sent, verifies);
    QVERIFY(parts.session.isLogin());
}

QTEST_GUILESS_MAIN(TestLoginFlow)
#include "tst_loginflow.moc"
