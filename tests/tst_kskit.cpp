#include "FakeKestranaServer.h"
#include "TestHome.h"
#include "api/ApiAnswer.h"
#include "api/HttpExchange.h"
#include "api/KsEndpoints.h"
#include "api/KsKit.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "config/CredentialCipher.h"
#include "config/LoginInfo.h"
#include "config/Session.h"
#include "jobs/CurlExchange.h"

#include <QNetworkAccessManager>
#include <QScopeGuard>
#include <QSettings>
#include <QTcpServer>
#include <QTranslator>
#include <QtTest>

#include <memory>

// KsKit against a local Kestrana server over HTTP and HTTPS: the bytes of each request, what a login
// changes, and the result of every kind of failed answer.
class TestKsKit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void loginBody_data();
    void loginBody();
    void loginTakesTheServersFormOfTheAccount_data();
    void loginTakesTheServersFormOfTheAccount();
    void domainCheck_data();
    void domainCheck();
    void loginSuccessWithoutData();
    void loginFailures_data();
    void loginFailures();
    void loginFailureTextIsTranslated();
    void loginQuery_data();
    void loginQuery();
    void abortedLoginFails();
    void qrRequests();
    void queryRequests_data();
    void queryRequests();
    void queryResults();
    void queryFailures_data();
    void queryFailures();
    void tabQueries_data();
    void tabQueries();
    void tabAnswers_data();
    void tabAnswers();
    void checkNetwork_data();
    void checkNetwork();
    void checkNetworkGivesUpOnSilentServer();
    void requestSignature_data();
    void requestSignature();
    void signatureAcceptedByServer();
    void fullRoundTripOverHttps();

private:
    enum SystemUserKey { Absent, True, False };
    void writeIni(SystemUserKey systemUser, const QString& version = QStringLiteral("1.0.0"));
    QSettings* ini();
    LoginInfo* info() { return Singleton<LoginInfo>::getInstance(); }
    // The API as the client makes it at start: the account from the settings, the system account as the
    // file says, logins recorded in the settings and m_session.
    std::unique_ptr<KsKit> makeKit();
    // The permission query as the job pipeline sends and reads it.
    KsUserInfo permissions(KsKit& kit, const QString& userAccount);
    // The system tab's update check: the newest version, empty when the answer was not a success.
    QString newestVersion(KsKit& kit, const QString& userAccount);
    Session m_session;
    // Fresh for each case: a connection kept from the case before would skip the certificate check.
    std::unique_ptr<QNetworkAccessManager> m_network;
    QString refusedUrl();

    QScopedPointer<TestHome> m_home;
    QScopedPointer<FakeKestranaServer> m_server;
};

Q_DECLARE_METATYPE(FakeReply)

void TestKsKit::initTestCase()
{
    m_home.reset(new TestHome);
    QVERIFY(m_home->isValid());
    FakeKestranaState state = FakeKestranaState::sample();
    FakeKestranaState::User zhang;
    zhang.account = QStringLiteral("张三");
    zhang.password = QStringLiteral("ü?ü>a");
    zhang.hostAddress = QStringLiteral("example.org");
    state.users.append(zhang);
    m_server.reset(new FakeKestranaServer(state));
    QVERIFY(m_server->start());
}

void TestKsKit::cleanupTestCase()
{
    m_server->stop();
    KsKit::setLocalDomainNameForTests({});
}

void TestKsKit::init()
{
    m_server->clearRequests();
    m_server->clearOverrides();
    writeIni(Absent);
    info()->setKsServerUrl(m_server->httpUrl());
    info()->setUserName(QStringLiteral("alice"));
    info()->setPasword(QStringLiteral("secret"));
    m_session.setIsLogin(false);
    m_network = std::make_unique<QNetworkAccessManager>();
    KsKit::setLocalDomainNameForTests([] { return QString(); });
}

void TestKsKit::cleanup()
{
    HttpExchange::setTransferTimeoutForTests(0);
    m_server->releaseHeldConnections();
}

std::unique_ptr<KsKit> TestKsKit::makeKit()
{
    KsAccount account = KsAccount::fromSettings(*info());
    account.verify
        = LoginInfo::fileSwitch(LoginInfo::Key::SystemUser) ? KsAccount::Verify::System : KsAccount::Verify::Unset;
    account.clientVersion = LoginInfo::fileValue(LoginInfo::Key::Version).toString();
    auto kit = std::make_unique<KsKit>(account, *m_network);
    kit->setLoginState(info(), &m_session);
    return kit;
}

KsUserInfo TestKsKit::permissions(KsKit& kit, const QString& userAccount)
{
    const QString base = kit.account().serverUrl;
    CurlExchange pipeline(&kit.networkManager());
    return KsKit::readPermissions(pipeline.get(KsEndpoints::permissionsUrl(base, userAccount), base));
}

QString TestKsKit::newestVersion(KsKit& kit, const QString& userAccount)
{
    std::optional<ApiAnswer> answer;
    kit.CheckClientUpdate(kit.account().serverUrl, userAccount, this, [&answer](const ApiAnswer& a) { answer = a; });
    if (!QTest::qWaitFor([&answer] { return answer.has_value(); })) {
        return QStringLiteral("no answer");
    }
    return answer->ok() ? answer->data.toString() : QString();
}

void TestKsKit::writeIni(SystemUserKey systemUser, const QString& version)
{
    QFile::remove(m_home->iniPath());
    QSettings s(m_home->iniPath(), QSettings::IniFormat);
    s.setValue(QStringLiteral("Basic/Version"), version);
    if (systemUser != Absent) {
        s.setValue(QStringLiteral("Login/SystemUser"), systemUser == True);
    }
}

QString TestKsKit::refusedUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

void TestKsKit::loginBody_data()
{
    QTest::addColumn<bool>("https");
    QTest::addColumn<int>("systemUser");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("suffix"); // after the server's address, as people paste it

    for (bool https : { false, true }) {
        const char* s = https ? "https" : "http";
        QTest::addRow("%s address ending in /", s)
            << https << int(False) << QStringLiteral("1.0.0") << QStringLiteral("alice") << QStringLiteral("secret")
            << QByteArray("Password=c2VjcmV0&ClientVersion=L1.0.0&Type=0&UserID=&UserType=&AccountVerify="
                          "&UserAccount=YWxpY2U%3D")
            << QStringLiteral("/");
        QTest::addRow("%s system user key absent", s)
            << https << int(Absent) << QStringLiteral("1.0.0") << QStringLiteral("alice") << QStringLiteral("secret")
            << QByteArray("Password=c2VjcmV0&ClientVersion=L1.0.0&Type=0&UserID=&UserType=&AccountVerify=2"
                          "&UserAccount=YWxpY2U%3D")
            << QString();
        QTest::addRow("%s system user false", s)
            << https << int(False) << QStringLiteral("1.0.0") << QStringLiteral("alice") << QStringLiteral("secret")
            << QByteArray("Password=c2VjcmV0&ClientVersion=L1.0.0&Type=0&UserID=&UserType=&AccountVerify="
                          "&UserAccount=YWxpY2U%3D")
            << QString();
        // Base64 "w7w/w7w+YQ==": every "/", "+" and "=" escaped, and the "%2" of the escapes left alone.
        QTest::addRow("%s base64 with + / =", s)
            << https << int(True) << QStringLiteral("9.9") << QStringLiteral("张三") << QStringLiteral("ü?ü>a")
            << QByteArray("Password=w7w%2Fw7w%2BYQ%3D%3D&ClientVersion=L9.9&Type=0&UserID=&UserType=&AccountVerify=2"
                          "&UserAccount=5byg5LiJ")
            << QString();
        QTest::addRow("%s empty version", s)
            << https << int(False) << QString() << QStringLiteral("bob") << QStringLiteral("hunter2")
            << QByteArray("Password=aHVudGVyMg%3D%3D&ClientVersion=L&Type=0&UserID=&UserType=&AccountVerify="
                          "&UserAccount=Ym9i")
            << QString();
    }
}

void TestKsKit::loginBody()
{
    QFETCH(bool, https);
    QFETCH(int, systemUser);
    QFETCH(QString, version);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QByteArray, body);
    QFETCH(QString, suffix);

    writeIni(SystemUserKey(systemUser), version);
    info()->setKsServerUrl(m_server->url(https) + suffix);
    info()->setUserName(user);
    info()->setPasword(password);

    const std::unique_ptr<KsKit> kitOwner = makeKit();
    KsKit& kit = *kitOwner;
    QString message = QStringLiteral("untouched");
    QVERIFY(kit.login(message));
    QCOMPARE(message, QStringLiteral("untouched"));

    QCOMPARE(m_server->requestCount(), 1);
    const FakeRequest request = m_server->lastRequest();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, QByteArray("/Orvinaweb/BAS_ClientLoginNew"));
    QCOMPARE(request.https, https);
    QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(request.body, body);
}

void TestKsKit::loginTakesTheServersFormOfTheAccount_data()
{
    QTest::addColumn<bool>("encrypted");
    QTest::newRow("names stored plain") << false;
    QTest::newRow("names stored encrypted") << true;
}

void TestKsKit::loginTakesTheServersFormOfTheAccount()
{
    QFETCH(bool, encrypted);
    writeIni(False);
    if (encrypted) {
        QSettings s(m_home->iniPath(), QSettings::IniFormat);
        s.setValue(QStringLiteral("setting/UserNameEncrypt"), true);
    }
    info()->setUserName(QStringLiteral("ALICE"));
    Logging::startCapture();
    // This line goes to the framework's debug output, which the application routes into the log.
    QTest::ignoreMessage(QtDebugMsg, "[kskit-login] account alice");

    const std::unique_ptr<KsKit> kitOwner = makeKit();
    KsKit& kit = *kitOwner;
    QString message;
    QVERIFY(kit.login(message));

    QCOMPARE(info()->userName(), QStringLiteral("alice"));
    QVERIFY(m_session.isLogin());
    QSettings file(m_home->iniPath(), QSettings::IniFormat);
    const QString stored = file.value(QStringLiteral("Login/LoginName")).toString();
    if (encrypted) {
        // The next start decrypts the stored name; it must come back as the account.
        QVERIFY(stored != QStringLiteral("alice"));
        QCOMPARE(CredentialCipher::decryptValue(stored), QStringLiteral("alice"));
    } else {
        QCOMPARE(stored, QStringLiteral("alice"));
    }
    const QStringList log = Logging::takeCaptured();
    QVERIFY2(log.contains(QStringLiteral("###### auto login success")), qPrintable(log.join(QLatin1Char('\n'))));
}

void TestKsKit::domainCheck_data()
{
    QTest::addColumn<int>("systemUser");
    QTest::addColumn<QString>("localDomain");
    QTest::addColumn<bool>("accepted");

    // The server answers HostAddress "example.org" for alice.
    QTest::newRow("same domain") << int(Absent) << QStringLiteral("example.org") << true;
    QTest::newRow("same domain in other case") << int(True) << QStringLiteral("EXAMPLE.Org") << true;
    QTest::newRow("no local domain skips the check") << int(Absent) << QString() << true;
    QTest::newRow("other domain") << int(Absent) << QStringLiteral("corp.example.net") << false;
    QTest::newRow("other domain, not a system user") << int(False) << QStringLiteral("corp.example.net") << true;
}

void TestKsKit::domainCheck()
{
    QFETCH(int, systemUser);
    QFETCH(QString, localDomain);
    QFETCH(bool, accepted);

    writeIni(SystemUserKey(systemUser));
    KsKit::setLocalDomainNameForTests([localDomain] { return localDomain; });
    info()->setUserName(QStringLiteral("ALICE"));
    Logging::startCapture();

    const std::unique_ptr<KsKit> kitOwner = makeKit();
    KsKit& kit = *kitOwner;
    QString message = QStringLiteral("untouched");
    QCOMPARE(kit.login(message), accepted);
    QCOMPARE(m_session.isLogin(), accepted);
    QCOMPARE(message, QStringLiteral("untouched"));
    QCOMPARE(info()->userName(), accepted ? QStringLiteral("alice") : QStringLiteral("ALICE"));

    const QStringList log = Logging::takeCaptured();
    if (!accepted) {
        QVERIFY(log.contains(QStringLiteral("###### domain name error")));
        QVERIFY2(log.contains(QStringLiteral("###### HostAddress :example.org local domain name :corp.example.net")),
                 qPrintable(log.join(QLatin1Char('\n'))));
        QSettings file(m_home->iniPath(), QSettings::IniFormat);
        QVERIFY(!file.contains(QStringLiteral("Login/LoginName")));
    }
}

void TestKsKit::loginSuccessWithoutData()
{
    writeIni(Absent);
    KsKit::setLocalDomainNameForTests([] { return QStringLiteral("corp.example.net"); });
    info()->setUserName(QStringLiteral("ALICE"));
    m_server->setOverride(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew"),
                          FakeReply::json(QJsonObject { { QStringLiteral("code"), 0 } }));

    const std::unique_ptr<KsKit> kitOwner = makeKit();
    KsKit& kit = *kitOwner;
    QString message;
    QVERIFY(kit.login(message));
    QVERIFY(m_session.isLogin());
    QCOMPARE(info()->userName(), QStringLiteral("ALICE"));
    QSettings file(m_home->iniPath(), QSettings::IniFormat);
    QVERIFY(!file.contains(QStringLiteral("Login/LoginName")));
}

void TestKsKit::loginFailures_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<FakeReply>("reply"); // Kind::PassThrough: the server's own answer
    QTest::addColumn<int>("where"); // 0 server, 1 refused port, 2 silent server
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("logLine");

    const FakeReply own = FakeReply::delayed(0);
    const QString untouched = QStringLiteral("untouched");
    QTest::newRow("wrong password") << QStringLiteral("wrong") << own << 0
                                    << QStringLiteral("Incorrect user name or password")
                                    << QStringLiteral("[kskit.login] Incorrect user name or password");
    QTest::newRow("HTML 500") << QStringLiteral("secret") << FakeReply::html500() << 0 << QStringLiteral("login fail")
                              << QStringLiteral("[kskit.login] login fail");
    QTest::newRow("literal null") << QStringLiteral("secret") << FakeReply::raw("null") << 0
                                  << QStringLiteral("login fail") << QStringLiteral("[kskit.login] login fail");
    QTest::newRow("JSON array") << QStringLiteral("secret") << FakeReply::raw("[]") << 0 << untouched << QString();
    QTest::newRow("code 1 with data") << QStringLiteral("secret")
                                      << FakeReply::envelope(
                                             1, QStringLiteral("Account locked"),
                                             QJsonObject { { QStringLiteral("UserAccount"), QStringLiteral("alice") } })
                                      << 0 << QStringLiteral("Account locked")
                                      << QStringLiteral("[kskit.login] Account locked");
    QTest::newRow("connection refused") << QStringLiteral("secret") << own << 1 << QStringLiteral("login fail")
                                        << QStringLiteral("[kskit.login] login fail");
    QTest::newRow("silent server") << QStringLiteral("secret") << FakeReply::neverAnswer() << 2
                                   << QStringLiteral("login fail") << QStringLiteral("[kskit.login] login fail");
}

void TestKsKit::loginFailures()
{
    QFETCH(QString, password);
    QFETCH(FakeReply, reply);
    QFETCH(int, where);
    QFETCH(QString, message);
    QFETCH(QString, logLine);

    writeIni(False);
    info()->setPasword(password);
    info()->setUserName(QStringLiteral("ALICE"));
    if (where == 1) {
        info()->setKsServerUrl(refusedUrl());
    }
    if (where == 2) {
        HttpExchange::setTransferTimeoutForTests(300);
    }
    m_server->setOverride(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew"), reply);
    Logging::startCapture();

    const std::unique_ptr<KsKit> kitOwner = makeKit();
    KsKit& kit = *kitOwner;
    QString got = QStringLiteral("untouched");
    QVERIFY(!kit.login(got));
    QCOMPARE(got, message);
    QVERIFY(!m_session.isLogin());
    QCOMPARE(info()->userName(), QStringLiteral("ALICE"));
    const QStringList log = Logging::takeCaptured();
    QVERIFY(!log.contains(QStringLiteral("###### auto login success")));
    if (logLine.isEmpty()) {
        QVERIFY2(log.filter(QStringLiteral("[kskit.login]")).isEmpty(), qPrintable(log.join(QLatin1Char('\n'))));
    } else {
        QVERIFY2(log.contains(logLine), qPrintable(log.join(QLatin1Char('\n'))));
    }
}

void TestKsKit::loginFailureTextIsTranslated()
{
    // Stands in for the installed translation: every text of the API object comes back marked.
    class MarkingTranslator : public QTranslator
    {
    public:
        QString translate(const char* context, const char* source, const char*, int) const override
        {
            return qstrcmp(context, "KsKit") == 0
                ? QStringLiteral("<") + QString::fromUtf8(source) + QStringLiteral(">")
                : QString();
        }
        bool isEmpty() const override { return false; }
    };
    MarkingTranslator translator;
    QCoreApplication::installTranslator(&translator);

    writeIni(False);
    m_server->setOverride(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew"), FakeReply::html500());
    Logging::startCapture();
    const std::unique_ptr<KsKit> kitOwner = makeKit();
    KsKit& kit = *kitOwner;
    QString message;
    const bool ok = kit.login(message);
    QCoreApplication::removeTranslator(&translator);

    QVERIFY(!ok);
    QCOMPARE(message, QStringLiteral("<login fail>"));
    QVERIFY(Logging::takeCaptured().contains(QStringLiteral("[kskit.login] login fail")));
}

void TestKsKit::loginQuery_data()
{
    QTest::addColumn<int>("verify");
    QTest::addColumn<QByteArray>("query");

    // The placeholder "583920" stands in for the password of an account the server checks itself.
    QTest::newRow("password") << int(KsAccount::Verify::Password)
                              << QByteArray("Password=c2VjcmV0&ClientVersion=L2.1&Type=0&UserID=&UserType="
                                            "&AccountVerify=4&UserAccount=YWxpY2U%3D");
    QTest::newRow("system account") << int(KsAccount::Verify::System)
                                    << QByteArray("Password=NTgzOTIw&ClientVersion=L2.1&Type=0&UserID=&UserType="
                                                  "&AccountVerify=2&UserAccount=YWxpY2U%3D");
    QTest::newRow("QR code") << int(KsAccount::Verify::Qr)
                             << QByteArray("Password=NTgzOTIw&ClientVersion=L2.1&Type=0&UserID=&UserType="
                                           "&AccountVerify=2&UserAccount=YWxpY2U%3D");
    QTest::newRow("unset") << int(KsAccount::Verify::Unset)
                           << QByteArray("Password=c2VjcmV0&ClientVersion=L2.1&Type=0&UserID=&UserType="
                                         "&AccountVerify=&UserAccount=YWxpY2U%3D");
}

void TestKsKit::loginQuery()
{
    QFETCH(int, verify);
    QFETCH(QByteArray, query);
    const std::unique_ptr<KsKit> kit = makeKit();
    KsAccount account;
    // Typed without a scheme: the account adds it.
    account.setServerUrl(m_server->httpUrl().mid(int(qstrlen("http://"))));
    account.userName = QStringLiteral("alice");
    account.password = QStringLiteral("secret");
    account.clientVersion = QStringLiteral("2.1");
    account.verify = KsAccount::Verify(verify);
    Logging::startCapture();

    const HttpAnswer answer = kit->login(account, KsKit::LoginVia::GetQuery);

    QCOMPARE(answer.isObject(), true);
    QCOMPARE(m_server->requestCount(), 1);
    const FakeRequest request = m_server->lastRequest();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, QByteArray("/Orvinaweb/BAS_ClientLoginNew/?") + query);
    QVERIFY(request.body.isEmpty());
    // Neither the password nor its Base64 reaches the log.
    const QString log = Logging::takeCaptured().join(QLatin1Char('\n'));
    QVERIFY(log.contains(QStringLiteral("###### params--Password=******&")));
    QVERIFY(!log.contains(QStringLiteral("c2VjcmV0")));
    // The exchange alone: the session and the kit's own account are the caller's business.
    QVERIFY(!m_session.isLogin());
    QCOMPARE(kit->account().userName, info()->userName());
}

void TestKsKit::abortedLoginFails()
{
    writeIni(False);
    m_server->setOverride(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew"), FakeReply::neverAnswer());
    const std::unique_ptr<KsKit> kit = makeKit();
    // The user's own login replaces a waiting automatic one.
    QTimer::singleShot(200, kit.get(), [&kit]() { kit->abortLogin(); });
    QString message;
    QVERIFY(!kit->login(message));
    QCOMPARE(message, QStringLiteral("login fail"));
    QVERIFY(!m_session.isLogin());
}

void TestKsKit::qrRequests()
{
    KsAccount account = KsAccount::fromSettings(*info());
    account.qrGuid = QStringLiteral("client-7");
    KsKit kit(account, *m_network);
    const QString base = m_server->httpUrl();

    QList<KsKit::QrAnswer> registered;
    kit.registerQr(base, this, [&registered](const KsKit::QrAnswer& answer) { registered.append(answer); });
    QTRY_COMPARE(registered.size(), 1);
    QVERIFY(registered.first().ok);
    QCOMPARE(registered.first().data.value(QStringLiteral("expires_in")).toInt(), 300);
    QCOMPARE(m_server->lastRequest().target, QByteArray("/api/client/invoke?clientId=client-7"));

    // A poll still out blocks the next one; nothing piles up on a slow service.
    m_server->setOverride(QStringLiteral("/api/client/account"), FakeReply::neverAnswer());
    QList<KsKit::QrAnswer> polled;
    const auto keep = [&polled](const KsKit::QrAnswer& answer) { polled.append(answer); };
    QVERIFY(kit.pollQr(base, this, keep));
    QVERIFY(!kit.pollQr(base, this, keep));
    QTRY_COMPARE(m_server->requestCount(QStringLiteral("/api/client/account")), 1);
    m_server->releaseHeldConnections();
    QTRY_COMPARE(polled.size(), 1);
    QVERIFY(!polled.first().isObject);

    m_server->clearOverrides();
    m_server->markQrScanned(QStringLiteral("client-7"), QStringLiteral("alice"));
    QVERIFY(kit.pollQr(base, this, keep));
    QTRY_COMPARE(polled.size(), 2);
    QCOMPARE(polled.last().data.value(QStringLiteral("account")).toString(), QStringLiteral("alice"));
    QCOMPARE(m_server->lastRequest().target, QByteArray("/api/client/account?clientId=client-7"));
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/client/account")), 2);
}

void TestKsKit::queryRequests_data()
{
    QTest::addColumn<bool>("https");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QByteArray>("target");

    for (bool https : { false, true }) {
        const char* s = https ? "https" : "http";
        QTest::addRow("%s printers", s) << https << QStringLiteral("printers") << QStringLiteral("alice")
                                        << QByteArray("/Device/BAS_DeviceStatusList?Type=0&UserAccount=alice");
        QTest::addRow("%s projects", s) << https << QStringLiteral("projects") << QStringLiteral("alice")
                                        << QByteArray("/User/BAS_ProjectList?strUserAccount=alice");
        QTest::addRow("%s permissions", s) << https << QStringLiteral("permissions") << QStringLiteral("alice")
                                           << QByteArray("/User/BAS_UserPermission?UserAccount=alice");
    }
    // The account goes in as the caller encoded it.
    QTest::newRow("printers, encoded account") << false << QStringLiteral("printers") << QStringLiteral("a%2Bb")
                                               << QByteArray("/Device/BAS_DeviceStatusList?Type=0&UserAccount=a%2Bb");
}

void TestKsKit::queryRequests()
{
    QFETCH(bool, https);
    QFETCH(QString, operation);
    QFETCH(QString, account);
    QFETCH(QByteArray, target);

    info()->setKsServerUrl(m_server->url(https));
    const std::unique_ptr<KsKit> kitOwner = makeKit();
    KsKit& kit = *kitOwner;
    if (operation == QLatin1String("printers")) {
        kit.getPrinters(account, 0);
    } else if (operation == QLatin1String("projects")) {
        kit.getProjects(account);
    } else {
        permissions(kit, account);
    }
    QCOMPARE(m_server->requestCount(), 1);
    const FakeRequest request = m_server->lastRequest();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, target);
    QCOMPARE(request.https, https);
    QVERIFY(!request.hasHeader("Content-Type"));
}

void TestKsKit::queryResults()
{
    const std::unique_ptr<KsKit> kitOwner = makeKit();
    KsKit& kit = *kitOwner;
    const QList<KsPrinter> printers = kit.getPrinters(QStringLiteral("alice"), 0);
    QCOMPARE(printers.size(), 2);
    QCOMPARE(printers.at(0).deviceName, QStringLiteral("Floor 2 Colour"));
    QCOMPARE(printers.at(0).status, QStringLiteral("Ready"));
    QCOMPARE(printers.at(0).location, QStringLiteral("Room 201"));
    QCOMPARE(printers.at(0).available, true);
    QCOMPARE(printers.at(0).useCardReader, true);
    QCOMPARE(printers.at(0).controllerMac, QStringLiteral("00:1A:2B:3C:4D:5E"));
    QCOMPARE(printers.at(1).available, false);

    const QList<KsProject> projects = kit.getProjects(QStringLiteral("alice"));
    QCOMPARE(projects.size(), 2);
    QCOMPARE(projects.at(0).projectId, QStringLiteral("12")); // a JSON number on the wire
    QCOMPARE(projects.at(0).balance, 300.0);
    QCOMPARE(projects.at(0).projectName, QStringLiteral("Research"));
    QCOMPARE(projects.at(1).projectId, QStringLiteral("P-7"));

    const KsUserInfo user = permissions(kit, QStringLiteral("alice"));
    QCOMPARE(user.isAllowPrint, true);
    QCOMPARE(user.isAllowPrintColor, true);
    QCOMPARE(user.groupName, QStringLiteral("Staff"));
    QCOMPARE(user.cardNumber, QStringLiteral("C-1001"));
    QCOMPARE(user.userName, QStringLiteral("Alice Example"));
    QCOMPARE(user.balance, 42.5);
    QCOMPARE(user.hasSpent, 7.25);
    QCOMPARE(user.printTimeInfo.allowPrintType, true);
    QCOMPARE(user.printTimeInfo.printDateId, 1);
    QCOMPARE(user.printTimeInfo.printTimeId, 2);
    const KsUserInfo bob = permissions(kit, QStringLiteral("bob"));
    QCOMPARE(bob.isAllowPrint, true);
    QCOMPARE(bob.isAllowPrintColor, false);
    QCOMPARE(bob.isAllowSimple, false);

    QCOMPARE(newestVersion(kit, QStringLiteral("alice")), QStringLiteral("1.2.0"));
}

void TestKsKit::queryFailures_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<int>("where"); // 0 server, 1 refused port, 2 silent server
    QTest::addColumn<bool>("succeeds");

    const QJsonObject anyData { { QStringLiteral("IsAllowPrint"), true },
                                { QStringLiteral("DeviceName"), QStringLiteral("x") } };
    QTest::newRow("HTML 500") << FakeReply::html500() << 0 << false;
    QTest::newRow("JSON array") << FakeReply::raw("[{\"code\":0}]") << 0 << false;
    QTest::newRow("literal null") << FakeReply::raw("null") << 0 << false;
    QTest::newRow("code 1 with data") << FakeReply::envelope(1, QStringLiteral("no"), anyData) << 0 << false;
    QTest::newRow("cut mid-body") << FakeReply::closeMidBody() << 0 << false;
    QTest::newRow("connection refused") << FakeReply::delayed(0) << 1 << false;
    QTest::newRow("silent server") << FakeReply::neverAnswer() << 2 << false;
    QTest::newRow("data of the wrong shape") << FakeReply::envelope(0, QString(), QStringLiteral("text")) << 0 << true;
}

void TestKsKit::queryFailures()
{
    QFETCH(FakeReply, reply);
    QFETCH(int, where);
    QFETCH(bool, succeeds);

    if (where == 1) {
        info()->setKsServerUrl(refusedUrl());
    }
    if (where == 2) {
        HttpExchange::setTransferTimeoutForTests(300);
    }
    for (const char* path : { "/Device/BAS_DeviceStatusList", "/User/BAS_ProjectList", "/User/BAS_UserPermission",
                              "/Orvinaweb/BAS_CheckClientUpdate_New" }) {
        m_server->setOverride(QLatin1String(path), reply);
    }

    Logging::startCapture();
    const std::unique_ptr<KsKit> kitOwner = makeKit();
    KsKit& kit = *kitOwner;
    QVERIFY(kit.getPrinters(QStringLiteral("alice"), 0).isEmpty());
    QVERIFY(kit.getProjects(QStringLiteral("alice")).isEmpty());
    const KsUserInfo user = permissions(kit, QStringLiteral("alice"));
    QCOMPARE(user.isAllowPrint, false);
    QCOMPARE(user.userName, QString());
    QCOMPARE(user.balance, 0.0);
    QVERIFY(user.forbiddenDocTypeList.isEmpty());
    // A text where an array or object belongs decodes as empty; as the update answer it is the version.
    QCOMPARE(newestVersion(kit, QStringLiteral("alice")), succeeds ? QStringLiteral("text") : QString());
    QCOMPARE(m_server->requestCount(), where == 1 ? 0 : 4);
    // Queries fail quietly, a time-out included.
    const QStringList log = Logging::takeCaptured();
    QVERIFY2(log.isEmpty(), qPrintable(log.join(QLatin1Char('\n'))));
}

void TestKsKit::tabQueries_data()
{
    QTest::addColumn<bool>("https");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("target"); // the start of it: the site list's signature changes
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("suffix"); // after the server's address, as people paste it

    for (bool https : { false, true }) {
        const char* s = https ? "https" : "http";
        QTest::addRow("%s job list", s) << https << QStringLiteral("jobs")
                                        << QByteArray("/Job/BAS_JobStausList?UserAccount=a%2Bb") << true << QString();
        QTest::addRow("%s job list, address ending in /", s)
            << https << QStringLiteral("jobs") << QByteArray("/Job/BAS_JobStausList?UserAccount=a%2Bb") << true
            << QStringLiteral("/");
        QTest::addRow("%s job status", s) << https << QStringLiteral("status")
                                          << QByteArray("/Job/BAS_GetJobStatusInfo?jobId=77") << false << QString();
        QTest::addRow("%s scan jobs", s) << https << QStringLiteral("scans")
                                         << QByteArray("/Job/BAS_ScanJobList?UserAccount=a%2Bb") << true << QString();
        QTest::addRow("%s permissions", s)
            << https << QStringLiteral("permissions") << QByteArray("/User/BAS_UserPermission?UserAccount=a%2Bb")
            << true << QString();
        QTest::addRow("%s user details", s)
            << https << QStringLiteral("details") << QByteArray("/PersonalInfo/ClientUserBaseInfo?UserAccount=a%2Bb")
            << true << QString();
        QTest::addRow("%s devices", s) << https << QStringLiteral("devices")
                                       << QByteArray("/Device/BAS_DeviceStatusList?Type=0&UserAccount=a%2Bb") << true
                                       << QString();
        QTest::addRow("%s site list", s) << https << QStringLiteral("sites")
                                         << QByteArray("/KSS/GetIPSegment?Timestamp=") << true << QString();
        QTest::addRow("%s pin code", s) << https << QStringLiteral("pin")
                                        << QByteArray("/User/BAS_GetPinCodeByAccount?UserAccount=a%2Bb") << true
                                        << QString();
        QTest::addRow("%s newest version", s)
            << https << QStringLiteral("version")
            << QByteArray("/Orvinaweb/BAS_CheckClientUpdate_New?UserAccount=a%2Bb&type=3&SysType=amd") << true
            << QString();
    }
}

void TestKsKit::tabQueries()
{
    QFETCH(bool, https);
    QFETCH(QString, operation);
    QFETCH(QByteArray, target);
    QFETCH(bool, ok);
    QFETCH(QString, suffix);
    // An account that needs encoding goes in as the caller encoded it.
    const auto rename = [this](const QString& from, const QString& to) {
        m_server->updateState([&](FakeKestranaState& s) {
            for (FakeKestranaState::User& user : s.users) {
                if (user.account == from) {
                    user.account = to;
                }
            }
        });
    };
    rename(QStringLiteral("alice"), QStringLiteral("a+b"));
    const auto restore = qScopeGuard([&] { rename(QStringLiteral("a+b"), QStringLiteral("alice")); });

    const QString base = m_server->url(https) + suffix;
    const QString account = QStringLiteral("a%2Bb");
    KsKit kit(KsAccount {}, *m_network);
    QList<ApiAnswer> answers;
    const ApiAnswer::Log log { QStringLiteral("ex:"), QStringLiteral("fail:") };
    const auto keep = [&answers](const ApiAnswer& answer) { answers.append(answer); };
    if (operation == QLatin1String("jobs")) {
        kit.requestJobList(base, account, log, this, keep);
    } else if (operation == QLatin1String("status")) {
        kit.requestJobStatus(base, QStringLiteral("77"), log, this, keep);
    } else if (operation == QLatin1String("scans")) {
        kit.requestScanJobs(base, account, log, this, keep);
    } else if (operation == QLatin1String("permissions")) {
        kit.requestPermissions(base, account, log, this, keep);
    } else if (operation == QLatin1String("details")) {
        kit.requestUserDetails(base, account, log, this, keep);
    } else if (operation == QLatin1String("devices")) {
        kit.requestDevices(base, account, log, this, keep);
    } else if (operation == QLatin1String("sites")) {
        kit.requestSiteList(base, log, this, keep);
    } else if (operation == QLatin1String("pin")) {
        kit.requestPinCode(base, account, log, this, keep);
    } else {
        kit.CheckClientUpdate(base, account, this, keep);
    }
    // Sent without waiting: the answer comes through the event loop.
    QVERIFY(answers.isEmpty());
    QTRY_COMPARE(answers.size(), 1);
    QCOMPARE(answers.first().ok(), ok);
    if (ok) {
        QVERIFY(!answers.first().data.isNull());
    }
    QCOMPARE(m_server->requestCount(), 1);
    const FakeRequest request = m_server->lastRequest();
    QCOMPARE(request.method, QByteArray("GET"));
    QVERIFY2(request.target.startsWith(target), request.target.constData());
    QCOMPARE(request.https, https);
}

void TestKsKit::tabAnswers_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("siteList");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QString>("logged");

    const int ex = int(ApiAnswer::Kind::Ex);
    const int fail = int(ApiAnswer::Kind::Fail);
    const int success = int(ApiAnswer::Kind::Success);
    QTest::newRow("data") << QByteArray(R"({"code":0,"data":"1.2.0"})") << false << success << "1.2.0"
                          << "";
    QTest::newRow("refused") << QByteArray(R"({"code":3,"message":"no","data":"x"})") << false << fail << ""
                             << "FAIL:no";
    QTest::newRow("code missing counts as 0") << QByteArray(R"({"data":"x"})") << false << success << "x"
                                              << "";
    QTest::newRow("HTML") << QByteArray("<html>500</html>") << false << ex << ""
                          << "EX:transfer error";
    QTest::newRow("array") << QByteArray(R"([{"code":0}])") << false << ex << ""
                           << "EX:transfer error";
    QTest::newRow("literal null") << QByteArray("null") << false << ex << ""
                                  << "EX:transfer error";
    QTest::newRow("sites") << QByteArray(R"({"Status":1,"SegmentList":"s","data":"d"})") << true << success << "s"
                           << "";
    QTest::newRow("sites refused") << QByteArray(R"({"Status":0,"code":0,"message":"Signature"})") << true << fail << ""
                                   << "FAIL:Signature";
    QTest::newRow("sites without Status") << QByteArray(R"({"code":0,"SegmentList":"s"})") << true << fail << ""
                                          << "FAIL:";
}

void TestKsKit::tabAnswers()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, siteList);
    QFETCH(int, kind);
    QFETCH(QString, payload);
    QFETCH(QString, logged);

    Logging::startCapture();
    const ApiAnswer::Log log { QStringLiteral("EX:"), QStringLiteral("FAIL:") };
    const ApiAnswer answer = ApiAnswer::read(body, QStringLiteral("transfer error"),
                                             siteList ? ApiAnswer::Envelope::Status : ApiAnswer::Envelope::Code, log);
    QCOMPARE(int(answer.kind), kind);
    QCOMPARE(answer.data.toString(), payload);
    QCOMPARE(Logging::takeCaptured(), logged.isEmpty() ? QStringList() : QStringList { logged });

    // A quiet caller gets the same answer and no line.
    ApiAnswer::Log quiet = log;
    quiet.quiet = true;
    const ApiAnswer again = ApiAnswer::read(body, QStringLiteral("transfer error"),
                                            siteList ? ApiAnswer::Envelope::Status : ApiAnswer::Envelope::Code, quiet);
    QCOMPARE(int(again.kind), kind);
    QVERIFY(Logging::takeCaptured().isEmpty());
}

void TestKsKit::checkNetwork_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("http server") << QStringLiteral("http") << true << QString();
    QTest::newRow("https server, self-signed") << QStringLiteral("https") << true << QString();
    QTest::newRow("HTTPS keeps verification")
        << QStringLiteral("HTTPS") << false << QStringLiteral("[kskit.CheckNetwork] Error String :");
    QTest::newRow("HTTP error status") << QStringLiteral("missing") << false
                                       << QStringLiteral("[kskit.CheckNetwork] Error String :");
    QTest::newRow("connection refused") << QStringLiteral("refused") << false
                                        << QStringLiteral("[kskit.CheckNetwork] Error String :");
}

void TestKsKit::checkNetwork()
{
    QFETCH(QString, url);
    QFETCH(bool, reachable);
    QFETCH(QString, logLine);

    if (url == QLatin1String("http")) {
        url = m_server->httpUrl();
    } else if (url == QLatin1String("https")) {
        url = m_server->httpsUrl();
    } else if (url == QLatin1String("HTTPS")) {
        url = QStringLiteral("HTTPS://127.0.0.1:%1").arg(m_server->httpsPort());
    } else if (url == QLatin1String("missing")) {
        url = m_server->httpUrl() + QStringLiteral("/no/such/page");
    } else {
        url = refusedUrl();
    }
    Logging::startCapture();
    const std::unique_ptr<KsKit> kitOwner = makeKit();
    KsKit& kit = *kitOwner;
    QCOMPARE(kit.CheckNetwork(url), reachable);
    const QStringList log = Logging::takeCaptured();
    if (!logLine.isEmpty()) {
        QVERIFY2(log.filter(logLine).size() == 1, qPrintable(log.join(QLatin1Char('\n'))));
    }
}

void TestKsKit::checkNetworkGivesUpOnSilentServer()
{
    // The probe keeps its own bound, whatever the transfer timeout of other requests; the test shortens it.
    HttpExchange::setExchangeBoundForTests(200);
    const auto restore = qScopeGuard([]() { HttpExchange::setExchangeBoundForTests(0); });
    m_server->setOverride(QStringLiteral("/"), FakeReply::neverAnswer());
    Logging::startCapture();
    const std::unique_ptr<KsKit> kitOwner = makeKit();
    KsKit& kit = *kitOwner;
    QVERIFY(!kit.CheckNetwork(m_server->httpUrl()));
    // One line, with the aborted reply's own error text.
    QCOMPARE(Logging::takeCaptured(),
             QStringList { QStringLiteral("[kskit.CheckNetwork] http Timeout:Operation canceled") });
    QCOMPARE(m_server->requestCount(QStringLiteral("/")), 1);
}

void TestKsKit::requestSignature_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("timestamp");
    QTest::addColumn<QString>("signature");
    // Expected digests computed outside the client: printf '%s' <timestamp>4152063918270 | md5sum
    QTest::newRow("morning") << QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9)) << QStringLiteral("20240305070809")
                             << QStringLiteral("246582E3633D61D95C53D8D75F169F8F");
    QTest::newRow("24-hour clock") << QDateTime(QDate(2024, 12, 31), QTime(23, 59, 58))
                                   << QStringLiteral("20241231235958")
                                   << QStringLiteral("8345908D6E42F13CEE3AEEE65A831F5B");
}

void TestKsKit::requestSignature()
{
    QFETCH(QDateTime, time);
    QFETCH(QString, timestamp);
    QFETCH(QString, signature);

    const KsReqCommon common = KsEndpoints::repCommonParamAt(time);
    QCOMPARE(common.timestamp, timestamp);
    QCOMPARE(common.signature, signature);
}

void TestKsKit::signatureAcceptedByServer()
{
    KsReqCommon common;
    KsEndpoints::GetRepCommonParam(common);
    QCOMPARE(common.timestamp.size(), 14);
    HttpExchange exchange;
    const QString url = m_server->httpUrl() + QStringLiteral("/KSS/GetIPSegment?Timestamp=%1&Signature=%2");
    const HttpAnswer good = exchange.get(url.arg(common.timestamp, common.signature));
    QCOMPARE(good.object().value(QLatin1String("Status")).toInt(), 1);
    const HttpAnswer bad = exchange.get(url.arg(common.timestamp, common.signature.toLower()));
    QCOMPARE(bad.object().value(QLatin1String("Status")).toInt(), 0);
}

void TestKsKit::fullRoundTripOverHttps()
{
    writeIni(Absent);
    KsKit::setLocalDomainNameForTests([] { return QStringLiteral("Example.ORG"); });
    info()->setKsServerUrl(m_server->httpsUrl());
    info()->setUserName(QStringLiteral("Alice"));
    info()->setPasword(QStringLiteral("secret"));

    const std::unique_ptr<KsKit> kitOwner = makeKit();
    KsKit& kit = *kitOwner;
    QVERIFY(kit.CheckNetwork(info()->ksServerUrl()));
    QString message;
    QVERIFY2(kit.login(message), qPrintable(message));
    QVERIFY(m_session.isLogin());
    const QString account = QString::fromLatin1(HttpExchange::percentEncode(info()->userName()));
    const KsUserInfo user = permissions(kit, account);
    QVERIFY(user.isAllowPrint);
    QCOMPARE(user.groupName, QStringLiteral("Staff"));
    const QList<KsPrinter> printers = kit.getPrinters(account, 0);
    QCOMPARE(printers.size(), 2);

    const QList<FakeRequest> requests = m_server->requests();
    QCOMPARE(requests.size(), 4);
    QStringList paths;
    for (const FakeRequest& r : requests) {
        QVERIFY(r.https);
        paths << QString::fromLatin1(r.target);
    }
    QCOMPARE(paths,
             QStringList({ QStringLiteral("/"), QStringLiteral("/Orvinaweb/BAS_ClientLoginNew"),
                           QStringLiteral("/User/BAS_UserPermission?UserAccount=alice"),
                           QStringLiteral("/Device/BAS_DeviceStatusList?Type=0&UserAccount=alice") }));
}

QTEST_GUILESS_MAIN(TestKsKit)
#include "tst_kskit.moc"
