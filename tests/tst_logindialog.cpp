#include "ClientParts.h"
#include "FakeKestranaServer.h"
#include "LoginHome.h"
#include "StartUp.h"
#include "api/HttpExchange.h"
#include "api/ServerTrust.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "config/CredentialCipher.h"
#include "config/LoginInfo.h"
#include "jobs/CMyFileWatcher.h"
#include "session/OnlineState.h"
#include "ui/LoginDialog.h"
#include "ui/Prompts.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QTimer>
#include <QValidator>
#include <QtTest>

#include <memory>

// The login window as the user and the server see it: the boxes it raises, the login request on the wire,
// the settings it writes, the automatic retries and the prompt for jobs printed before logging in.
class TestLoginDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void loginNameCharacters_data();
    void loginNameCharacters();
    void validationBoxesInOrder_data();
    void validationBoxesInOrder();
    void loginRequestOnTheWire_data();
    void loginRequestOnTheWire();
    void passwordStaysOutOfTheLog();
    void successIsSaved();
    void failedLoginsShowWhy_data();
    void failedLoginsShowWhy();
    void unansweredLoginEnds();
    void changedCertificateIsAskedAbout();
    void domainCheck_data();
    void domainCheck();

    void savePasswordCascade();
    void autoLoginCascade();
    void systemAccountSwitchesFields_data();
    void systemAccountSwitchesFields();

    void autoLoginStopsAfterAttempts();
    void autoLoginStopsAtTimeBudget();
    void autoLoginSucceeds();
    void manualLoginDuringAutomaticAttempt();
    void focusOnOpen_data();
    void focusOnOpen();
    void titleFontFollowsItsText_data();
    void titleFontFollowsItsText();

    void onlyTheShownBannerIsHeld();
    void jobBeforeLoginAsksToLogIn();
    void loginWindowReturnsAfterLogout();
    void closingEndsTheProcess();
    void siteServerIsShownFixed();

private:
    LoginInfo* info() const { return Singleton<LoginInfo>::getInstance(); }
    // Writes keys into the user's settings file and reads it again, as a start of the client would.
    void configure(const QVariantMap& values);
    QVariant storedValue(const QString& key) const;
    QString serverAddress() const { return m_server->httpUrl(); }
    QString bareServerAddress() const { return m_server->httpUrl().mid(int(qstrlen("http://"))); }
    QList<Prompts::Record> boxes() { return Prompts::takeCaptured(); }

    std::unique_ptr<FakeKestranaServer> m_server;
    std::unique_ptr<LoginHome> m_home;
    QList<int> m_exitCodes;
};

static const QString kLoginPath = QStringLiteral("/Orvinaweb/BAS_ClientLoginNew/");

void TestLoginDialog::initTestCase()
{
    FakeKestranaState state = FakeKestranaState::sample();
    FakeKestranaState::User carol;
    carol.account = QStringLiteral("carol");
    carol.password = QStringLiteral("k?>~/?>"); // Base64 "az8+fi8/Pg==": all three escapes
    carol.hostAddress = QStringLiteral("example.org");
    state.users.append(carol);
    m_server.reset(new FakeKestranaServer(state));
    QVERIFY(m_server->start());
    OnlineState::setForcedForTests(1);
    LoginDialog::setExitHandlerForTests([this](int code) { m_exitCodes.append(code); });
}

void TestLoginDialog::cleanupTestCase()
{
    LoginDialog::setExitHandlerForTests(nullptr);
    OnlineState::setForcedForTests(-1);
    m_server.reset();
}

void TestLoginDialog::init()
{
    m_home.reset(new LoginHome);
    QVERIFY(m_home->isValid());
    qputenv("USER", "alice");
    ClientParts::shared().session.setIsLogin(false);
    configure({});
    m_server->clearRequests();
    m_server->clearOverrides();
    m_exitCodes.clear();
    Prompts::startCapture();
    HttpExchange::setTransferTimeoutForTests(0);
}

void TestLoginDialog::cleanup()
{
    Prompts::stopCapture();
    HttpExchange::setTransferTimeoutForTests(0);
    ClientParts::shared().session.setIsLogin(false);
    m_home.reset();
}

void TestLoginDialog::configure(const QVariantMap& values)
{
    m_home->write(values);
    QCOMPARE(TestHome::loadAtStartUp(*info()), 0);
}

QVariant TestLoginDialog::storedValue(const QString& key) const
{
    return m_home->value(key);
}

void TestLoginDialog::loginNameCharacters_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("plain") << "alice" << true;
    QTest::newRow("mail address") << "alice.smith@corp-1.example" << true;
    QTest::newRow("CJK") << "\u5f20\u4e09" << true;
    QTest::newRow("punctuation") << "a|!#$%^&*()_=+,\"'<>?`~{}[] z" << true;
    QTest::newRow("slash") << "corp/alice" << false;
    QTest::newRow("backslash") << "CORP\\alice" << false;
    QTest::newRow("colon") << "a:b" << false;
    QTest::newRow("semicolon") << "a;b" << false;
    QTest::newRow("tab") << "a\tb" << false;
    QTest::newRow("accented") << "Jos\u00e9" << false;
}

void TestLoginDialog::loginNameCharacters()
{
    QFETCH(QString, name);
    QFETCH(bool, accepted);

    configure({ { "Login/SystemUser", false } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    const QValidator* validator = dialog.findChild<QLineEdit*>("editLoginName")->validator();
    QVERIFY(validator);
    int pos = name.size();
    QString text = name;
    QCOMPARE(validator->validate(text, pos) == QValidator::Acceptable, accepted);
}

void TestLoginDialog::validationBoxesInOrder_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expected");

    QTest::newRow("nothing typed") << ""
                                   << ""
                                   << ""
                                   << "ks server path is not empty";
    QTest::newRow("only a name and password") << ""
                                              << "alice"
                                              << "secret"
                                              << "ks server path is not empty";
    QTest::newRow("server only") << "127.0.0.1:1"
                                 << ""
                                 << ""
                                 << "login name is not empty";
    QTest::newRow("server and password") << "127.0.0.1:1"
                                         << ""
                                         << "secret"
                                         << "login name is not empty";
    QTest::newRow("no password") << "127.0.0.1:1"
                                 << "alice"
                                 << ""
                                 << "password is not empty";
}

void TestLoginDialog::validationBoxesInOrder()
{
    QFETCH(QString, server);
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, expected);

    configure({ { "Login/SystemUser", false } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    QSignalSpy shown(&dialog, &LoginDialog::mainshow);
    dialog.findChild<QLineEdit*>("editKsServer")->setText(server);
    dialog.findChild<QLineEdit*>("editLoginName")->setText(name);
    dialog.findChild<QLineEdit*>("editPassword")->setText(password);
    auto* button = dialog.findChild<QPushButton*>("btnLogin");
    button->setEnabled(true);
    button->click();

    const QList<Prompts::Record> seen = boxes();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].text, expected);
    QCOMPARE(seen[0].title, QStringLiteral("Title"));
    QCOMPARE(seen[0].icon, QMessageBox::Warning);
    QCOMPARE(m_server->requestCount(kLoginPath), 0);
    QVERIFY(button->isEnabled());
    QCOMPARE(shown.count(), 0);
}

void TestLoginDialog::loginRequestOnTheWire_data()
{
    QTest::addColumn<bool>("systemAccount");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("query");

    QTest::newRow("typed account")
        << false << "alice"
        << "secret"
        << QByteArray("Password=c2VjcmV0&ClientVersion=L1.0.0&Type=0&UserID=&UserType=&AccountVerify=4"
                      "&UserAccount=YWxpY2U%3D");
    QTest::newRow("Base64 with + / =")
        << false << "carol"
        << "k?>~/?>"
        << QByteArray("Password=az8%2Bfi8%2FPg%3D%3D&ClientVersion=L1.0.0&Type=0&UserID=&UserType=&AccountVerify=4"
                      "&UserAccount=Y2Fyb2w%3D");
    // The operating-system account sends the fixed placeholder, whatever the password field holds.
    QTest::newRow("system account")
        << true << "alice"
        << ""
        << QByteArray("Password=NTgzOTIw&ClientVersion=L1.0.0&Type=0&UserID=&UserType=&AccountVerify=2"
                      "&UserAccount=YWxpY2U%3D");
}

void TestLoginDialog::loginRequestOnTheWire()
{
    QFETCH(bool, systemAccount);
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QByteArray, query);

    configure({ { "Login/SystemUser", systemAccount }, { "Login/SavePassword", true } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    dialog.setLocalDomainNameForTests(QString());
    QSignalSpy shown(&dialog, &LoginDialog::mainshow);
    auto* server = dialog.findChild<QLineEdit*>("editKsServer");
    server->setText(bareServerAddress());
    dialog.findChild<QCheckBox*>("chkSysUser")->setChecked(systemAccount);
    dialog.findChild<QLineEdit*>("editLoginName")->setText(name);
    if (!systemAccount) {
        dialog.findChild<QLineEdit*>("editPassword")->setText(password);
    }
    dialog.findChild<QPushButton*>("btnLogin")->click();

    QCOMPARE(boxes().size(), 0);
    QCOMPARE(m_server->requestCount(kLoginPath), 1);
    const FakeRequest request = m_server->lastRequest(kLoginPath);
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, QByteArray("/Orvinaweb/BAS_ClientLoginNew/?") + query);
    // The bare address got its scheme in the field itself.
    QCOMPARE(server->text(), serverAddress());
    QCOMPARE(shown.count(), 1);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(ClientParts::shared().session.isLogin());
}

void TestLoginDialog::passwordStaysOutOfTheLog()
{
    configure({ { "Login/SystemUser", false } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    dialog.findChild<QLineEdit*>("editKsServer")->setText(serverAddress());
    dialog.findChild<QLineEdit*>("editLoginName")->setText(QStringLiteral("alice"));
    dialog.findChild<QLineEdit*>("editPassword")->setText(QStringLiteral("secret"));
    Logging::startCapture();
    dialog.findChild<QPushButton*>("btnLogin")->click();
    const QStringList lines = Logging::takeCaptured();

    QVERIFY(ClientParts::shared().session.isLogin());
    QVERIFY(lines.contains(QStringLiteral("###### UserAccount=alice")));
    const QStringList params = lines.filter(QStringLiteral("###### params--"));
    QCOMPARE(params.size(), 1);
    QVERIFY2(params[0].contains(QLatin1String("UserAccount=YWxpY2U%3D")), qPrintable(params[0]));
    QVERIFY2(params[0].contains(QLatin1String("Password=******&")), qPrintable(params[0]));
    for (const QString& line : lines) {
        QVERIFY2(!line.contains(QLatin1String("c2VjcmV0")) && !line.contains(QLatin1String("secret")),
                 qPrintable(line));
    }
}

void TestLoginDialog::successIsSaved()
{
    configure({ { "Login/SystemUser", false }, { "Login/AutoLogin", false }, { "Login/SavePassword", false } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    dialog.findChild<QLineEdit*>("editKsServer")->setText(bareServerAddress());
    dialog.findChild<QLineEdit*>("editLoginName")->setText(QStringLiteral("bob"));
    dialog.findChild<QLineEdit*>("editPassword")->setText(QStringLiteral("hunter2"));
    dialog.findChild<QCheckBox*>("chkSavePassword")->setChecked(true);
    dialog.findChild<QPushButton*>("btnLogin")->click();
    QVERIFY(ClientParts::shared().session.isLogin());

    QCOMPARE(storedValue("Login/KsServerUrl").toString(), serverAddress());
    QCOMPARE(storedValue("Login/LoginName").toString(), QStringLiteral("bob"));
    const QString stored = storedValue("Login/Password").toString();
    QVERIFY(!stored.isEmpty());
    QVERIFY(!stored.contains(QLatin1String("hunter2")));
    QCOMPARE(CredentialCipher::decryptValue(stored), QStringLiteral("hunter2"));
    QCOMPARE(storedValue("Login/SavePassword").toBool(), true);
    QCOMPARE(storedValue("Login/AutoLogin").toBool(), false);
    QCOMPARE(storedValue("Login/SystemUser").toBool(), false);
    QCOMPARE(storedValue("Login/BingoLastTime").toBool(), true);

    // A new start of the client finds the same values.
    configure({});
    QCOMPARE(info()->userName(), QStringLiteral("bob"));
    QCOMPARE(info()->password(), QStringLiteral("hunter2"));
    QCOMPARE(info()->ksServerUrl(), serverAddress());
}

void TestLoginDialog::failedLoginsShowWhy_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("text");

    QTest::newRow("html page") << QByteArray("<html><body>Service Unavailable</body></html>")
                               << int(QMessageBox::Critical) << "Unable to link server";
    QTest::newRow("empty body") << QByteArray() << int(QMessageBox::Critical) << "Unable to link server";
    QTest::newRow("json array") << QByteArray("[0]") << int(QMessageBox::Critical) << "Unable to link server";
    QTest::newRow("code 1") << QByteArray(R"({"code":1,"message":"The account is disabled"})")
                            << int(QMessageBox::Warning) << "The account is disabled";
}

void TestLoginDialog::failedLoginsShowWhy()
{
    QFETCH(QByteArray, body);
    QFETCH(int, icon);
    QFETCH(QString, text);

    m_server->setOverride(kLoginPath, FakeReply::raw(body));
    configure({ { "Login/SystemUser", false } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    QSignalSpy shown(&dialog, &LoginDialog::mainshow);
    dialog.findChild<QLineEdit*>("editKsServer")->setText(serverAddress());
    dialog.findChild<QLineEdit*>("editLoginName")->setText(QStringLiteral("alice"));
    dialog.findChild<QLineEdit*>("editPassword")->setText(QStringLiteral("secret"));
    auto* button = dialog.findChild<QPushButton*>("btnLogin");
    button->click();

    const QList<Prompts::Record> seen = boxes();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(int(seen[0].icon), icon);
    QCOMPARE(seen[0].title, QStringLiteral("Title"));
    QCOMPARE(seen[0].text, text);
    QVERIFY(button->isEnabled());
    QCOMPARE(shown.count(), 0);
    QVERIFY(!ClientParts::shared().session.isLogin());
    QCOMPARE(storedValue("Login/BingoLastTime").toBool(), false);
    // A refused password is selected, so typing it again replaces it.
    const QString selected = dialog.findChild<QLineEdit*>("editPassword")->selectedText();
    QCOMPARE(selected, icon == int(QMessageBox::Warning) ? QStringLiteral("secret") : QString());
}

void TestLoginDialog::unansweredLoginEnds()
{
    HttpExchange::setTransferTimeoutForTests(300);
    m_server->setOverride(kLoginPath, FakeReply::neverAnswer());
    configure({ { "Login/SystemUser", false } });
    const QString logDir = m_home->dataPath() + QStringLiteral("/logs");
    Logging::setupRootLogger(logDir);
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    dialog.findChild<QLineEdit*>("editKsServer")->setText(serverAddress());
    dialog.findChild<QLineEdit*>("editLoginName")->setText(QStringLiteral("alice"));
    dialog.findChild<QLineEdit*>("editPassword")->setText(QStringLiteral("secret"));
    auto* button = dialog.findChild<QPushButton*>("btnLogin");
    button->click();
    m_server->releaseHeldConnections();
    Logging::shutdownRootLogger();

    const QList<Prompts::Record> seen = boxes();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].text, QStringLiteral("Unable to link server"));
    QVERIFY(button->isEnabled());
    QVERIFY(!ClientParts::shared().session.isLogin());

    // The log file has the failed login, and the password in none of its forms: plain, Base64, hex, stored.
    QFile file(logDir + QStringLiteral("/hyc.log"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray log = file.readAll();
    QVERIFY(log.contains("###### login fail:"));
    for (const QByteArray& form : { QByteArray("secret"), QByteArray("c2VjcmV0"), QByteArray("736563726574"),
                                    CredentialCipher::encryptValue(QStringLiteral("secret")) }) {
        QVERIFY2(!log.contains(form), form.constData());
    }
}

void TestLoginDialog::changedCertificateIsAskedAbout()
{
    // A server of its own, so that its certificate can be replaced at the same address.
    FakeKestranaServer first(FakeKestranaState::sample());
    QVERIFY(first.startListener(true, 0));
    const QString address = first.httpsUrl();
    const QString server = ServerTrust::serverKey(QUrl(address));
    auto login = [&]() {
        ClientParts::shared().session.setIsLogin(false);
        LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session,
                           ClientParts::shared().api);
        dialog.findChild<QLineEdit*>("editKsServer")->setText(address);
        dialog.findChild<QLineEdit*>("editLoginName")->setText(QStringLiteral("alice"));
        dialog.findChild<QLineEdit*>("editPassword")->setText(QStringLiteral("secret"));
        dialog.findChild<QPushButton*>("btnLogin")->click();
        return ClientParts::shared().session.isLogin();
    };
    configure({ { "Login/SystemUser", false } });
    QVERIFY(login());
    const QString firstPrint = ServerTrust::fingerprint(QSslCertificate(first.certificatePem()));
    QCOMPARE(ServerTrust::pinnedFingerprint(server), firstPrint);
    QVERIFY(boxes().isEmpty());

    first.stop();
    FakeKestranaServer second(FakeKestranaState::sample());
    second.setCertificate(SelfSignedCertificate::generate());
    QVERIFY(second.startListener(true, first.httpsPort()));
    const QString secondPrint = ServerTrust::fingerprint(QSslCertificate(second.certificatePem()));

    // Declined: nothing, the password least of all, reaches the server with the new certificate.
    Prompts::setNextAnswer(QMessageBox::No);
    QVERIFY(!login());
    QList<Prompts::Record> seen = boxes();
    QCOMPARE(seen.size(), 2);
    QVERIFY2(seen[0].text.contains(firstPrint) && seen[0].text.contains(secondPrint), qPrintable(seen[0].text));
    QCOMPARE(seen[1].text, QStringLiteral("Unable to link server"));
    QCOMPARE(ServerTrust::pinnedFingerprint(server), firstPrint);
    QCOMPARE(second.requestCount(), 0);

    // Accepted: the new certificate is pinned and the login goes through.
    Prompts::setNextAnswer(QMessageBox::Yes);
    QVERIFY(login());
    seen = boxes();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].answer, QMessageBox::Yes);
    QCOMPARE(ServerTrust::pinnedFingerprint(server), secondPrint);
    QCOMPARE(second.requestCount(kLoginPath), 1);
}

void TestLoginDialog::domainCheck_data()
{
    QTest::addColumn<QString>("localDomain");
    QTest::addColumn<bool>("loggedIn");

    // alice's server-side HostAddress is "example.org".
    QTest::newRow("same name") << "example.org" << true;
    QTest::newRow("other letter case") << "EXAMPLE.Org" << true;
    QTest::newRow("no local domain") << "" << true;
    QTest::newRow("other domain") << "corp.example.net" << false;
}

void TestLoginDialog::domainCheck()
{
    QFETCH(QString, localDomain);
    QFETCH(bool, loggedIn);

    configure({ { "Login/SystemUser", true } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    dialog.setLocalDomainNameForTests(localDomain);
    QSignalSpy shown(&dialog, &LoginDialog::mainshow);
    dialog.findChild<QLineEdit*>("editKsServer")->setText(serverAddress());
    QCOMPARE(dialog.findChild<QLineEdit*>("editLoginName")->text(), QStringLiteral("alice"));
    auto* button = dialog.findChild<QPushButton*>("btnLogin");
    button->click();

    QCOMPARE(m_server->requestCount(kLoginPath), 1);
    QCOMPARE(ClientParts::shared().session.isLogin(), loggedIn);
    QCOMPARE(shown.count(), loggedIn ? 1 : 0);
    const QList<Prompts::Record> seen = boxes();
    if (loggedIn) {
        QCOMPARE(seen.size(), 0);
    } else {
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].text, QStringLiteral("Login failed"));
        QVERIFY(button->isEnabled());
        QCOMPARE(storedValue("Login/BingoLastTime").toBool(), false);
    }
}

void TestLoginDialog::savePasswordCascade()
{
    configure({ { "Login/SystemUser", false },
                { "Login/AutoLogin", true },
                { "Login/SavePassword", true },
                { "Login/LoginName", "alice" },
                { "setting/AutoLoginInterval", 60 } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    auto* save = dialog.findChild<QCheckBox*>("chkSavePassword");
    auto* autoLogin = dialog.findChild<QCheckBox*>("chkAutoLogin");
    auto* timer = dialog.findChild<QTimer*>("autoLoginTimer");
    QVERIFY(save->isChecked());
    QVERIFY(autoLogin->isChecked());
    dialog.startTimer();
    QVERIFY(timer->isActive());

    save->setChecked(false);
    QVERIFY(!autoLogin->isChecked());
    QVERIFY(!timer->isActive());
    QCOMPARE(storedValue("Login/SavePassword").toBool(), false);
    QCOMPARE(storedValue("Login/AutoLogin").toBool(), false);
    QVERIFY(!info()->isAutoLogin());
}

void TestLoginDialog::autoLoginCascade()
{
    configure({ { "Login/SystemUser", false }, { "Login/AutoLogin", false }, { "Login/SavePassword", false } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    auto* save = dialog.findChild<QCheckBox*>("chkSavePassword");
    auto* autoLogin = dialog.findChild<QCheckBox*>("chkAutoLogin");

    autoLogin->setChecked(true);
    QVERIFY(save->isChecked());
    QCOMPARE(storedValue("Login/AutoLogin").toBool(), true);
    QCOMPARE(storedValue("Login/SavePassword").toBool(), true);
    QVERIFY(info()->isAutoLogin());

    autoLogin->setChecked(false);
    QVERIFY(save->isChecked());
    QCOMPARE(storedValue("Login/AutoLogin").toBool(), false);
    QCOMPARE(storedValue("Login/SavePassword").toBool(), true);
}

void TestLoginDialog::systemAccountSwitchesFields_data()
{
    QTest::addColumn<bool>("multiDomain");
    QTest::newRow("single domain") << false;
    QTest::newRow("several domains") << true;
}

void TestLoginDialog::systemAccountSwitchesFields()
{
    QFETCH(bool, multiDomain);

    qputenv("USER", "dave");
    configure(
        { { "Login/SystemUser", false }, { "setting/MultiDomain", multiDomain }, { "Login/LoginName", "alice" } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    auto* sysUser = dialog.findChild<QCheckBox*>("chkSysUser");
    auto* name = dialog.findChild<QLineEdit*>("editLoginName");
    auto* password = dialog.findChild<QLineEdit*>("editPassword");
    auto* save = dialog.findChild<QCheckBox*>("chkSavePassword");
    auto* autoLogin = dialog.findChild<QCheckBox*>("chkAutoLogin");
    auto* button = dialog.findChild<QPushButton*>("btnLogin");
    password->setText(QStringLiteral("typed"));
    QCOMPARE(name->text(), QStringLiteral("alice"));

    sysUser->setChecked(true);
    QCOMPARE(name->text(), QStringLiteral("dave"));
    QCOMPARE(name->isEnabled(), multiDomain);
    QVERIFY(password->text().isEmpty());
    QVERIFY(!password->isEnabled());
    QVERIFY(!save->isEnabled() && save->isChecked());
    QVERIFY(!autoLogin->isEnabled() && autoLogin->isChecked());
    QVERIFY(button->isEnabled());
    QCOMPARE(storedValue("Login/SystemUser").toBool(), true);
    QCOMPARE(storedValue("Login/AutoLogin").toBool(), true);
    QCOMPARE(storedValue("Login/SavePassword").toBool(), true);

    sysUser->setChecked(false);
    QVERIFY(name->isEnabled() && password->isEnabled() && save->isEnabled() && autoLogin->isEnabled());
    QCOMPARE(storedValue("Login/SystemUser").toBool(), false);

    // Without the system account the button waits for both fields.
    name->setText(QStringLiteral("alice"));
    password->clear();
    QVERIFY(!button->isEnabled());
    password->setText(QStringLiteral("secret"));
    QVERIFY(button->isEnabled());
}

void TestLoginDialog::autoLoginStopsAfterAttempts()
{
    // Wrong stored password: every attempt is refused; two attempts at one-second spacing, then it gives up.
    configure({ { "Login/SystemUser", false },
                { "Login/AutoLogin", true },
                { "Login/SavePassword", true },
                { "Login/KsServerUrl", serverAddress() },
                { "Login/LoginName", "alice" },
                { "Login/Password", QString::fromLatin1(CredentialCipher::encryptValue(QStringLiteral("wrong"))) },
                { "setting/AutoLoginInterval", 1 },
                { "setting/AutoLoginCount", 2 },
                { "setting/AutoLoginTime", 900 } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    QSignalSpy shown(&dialog, &LoginDialog::mainshow);
    auto* timer = dialog.findChild<QTimer*>("autoLoginTimer");
    m_server->clearRequests();
    dialog.startTimer();
    // Ticks, not their length, count against the budget: a short tick tests the same.
    QCOMPARE(timer->interval(), 1000);
    timer->setInterval(20);
    QVERIFY(timer->isActive());

    QTRY_VERIFY_WITH_TIMEOUT(!timer->isActive(), 20000);
    QCOMPARE(m_server->requestCount(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew")), 2);
    QCOMPARE(shown.count(), 0);
    QVERIFY(!ClientParts::shared().session.isLogin());
}

void TestLoginDialog::autoLoginStopsAtTimeBudget()
{
    configure({ { "Login/SystemUser", false },
                { "Login/AutoLogin", true },
                { "Login/SavePassword", true },
                { "Login/KsServerUrl", serverAddress() },
                { "Login/LoginName", "alice" },
                { "Login/Password", QString::fromLatin1(CredentialCipher::encryptValue(QStringLiteral("wrong"))) },
                { "setting/AutoLoginInterval", 1 },
                { "setting/AutoLoginCount", 5 },
                { "setting/AutoLoginTime", 2 } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    auto* timer = dialog.findChild<QTimer*>("autoLoginTimer");
    m_server->clearRequests();
    Logging::startCapture();
    dialog.startTimer();
    // Ticks, not their length, count against the budget: a short tick tests the same.
    QCOMPARE(timer->interval(), 1000);
    timer->setInterval(20);

    QTRY_VERIFY_WITH_TIMEOUT(!timer->isActive(), 20000);
    // The first tick tries, the second reaches the two-second budget and stops without trying.
    QCOMPARE(m_server->requestCount(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew")), 1);
    QVERIFY(Logging::takeCaptured().contains(QStringLiteral("###### timer on_autoLogin stop.")));
}

void TestLoginDialog::autoLoginSucceeds()
{
    configure({ { "Login/SystemUser", false },
                { "Login/AutoLogin", true },
                { "Login/SavePassword", true },
                { "Login/KsServerUrl", serverAddress() },
                { "Login/LoginName", "alice" },
                { "Login/Password", QString::fromLatin1(CredentialCipher::encryptValue(QStringLiteral("secret"))) },
                { "setting/AutoLoginInterval", 1 },
                { "setting/AutoLoginCount", 5 },
                { "setting/AutoLoginTime", 900 } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    QSignalSpy shown(&dialog, &LoginDialog::mainshow);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    auto* timer = dialog.findChild<QTimer*>("autoLoginTimer");
    dialog.show();
    dialog.startTimer();
    // Ticks, not their length, count against the budget: a short tick tests the same.
    QCOMPARE(timer->interval(), 1000);
    timer->setInterval(20);

    QTRY_COMPARE_WITH_TIMEOUT(shown.count(), 1, 20000);
    QCOMPARE(accepted.count(), 1);
    QVERIFY(!dialog.isVisible());
    QVERIFY(!timer->isActive());
    QVERIFY(!dialog.findChild<QTimer*>("qrPollTimer")->isActive());
    QVERIFY(ClientParts::shared().session.isLogin());
}

void TestLoginDialog::manualLoginDuringAutomaticAttempt()
{
    // The automatic attempt (stored, wrong password) hangs on the server; the user types and clicks Login.
    configure({ { "Login/SystemUser", false },
                { "Login/AutoLogin", true },
                { "Login/SavePassword", true },
                { "Login/KsServerUrl", serverAddress() },
                { "Login/LoginName", "alice" },
                { "Login/Password", QString::fromLatin1(CredentialCipher::encryptValue(QStringLiteral("wrong"))) },
                { "setting/AutoLoginInterval", 1 },
                { "setting/AutoLoginCount", 5 },
                { "setting/AutoLoginTime", 900 } });
    m_server->setOverride(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew"), FakeReply::neverAnswer().times(1));
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    QSignalSpy shown(&dialog, &LoginDialog::mainshow);
    auto* button = dialog.findChild<QPushButton*>("btnLogin");
    // The attempt waits inside its own event loop, so the user's click has to come from there too.
    QTimer user;
    user.setInterval(20);
    connect(&user, &QTimer::timeout, &dialog, [&]() {
        if (m_server->heldConnections() == 1) {
            user.stop();
            dialog.findChild<QLineEdit*>("editPassword")->setText(QStringLiteral("secret"));
            button->click();
        }
    });
    user.start();
    dialog.show();
    dialog.startTimer();
    auto* timer = dialog.findChild<QTimer*>("autoLoginTimer");
    QCOMPARE(timer->interval(), 1000);
    timer->setInterval(20);

    QTRY_COMPARE_WITH_TIMEOUT(shown.count(), 1, 20000);
    QVERIFY(!user.isActive());
    QVERIFY(ClientParts::shared().session.isLogin());
    QVERIFY(button->isEnabled());
    QVERIFY(boxes().isEmpty());
    // The automatic attempt was given up and the typed login went out, once.
    QCOMPARE(m_server->requestCount(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew")), 1);
    QCOMPARE(m_server->requestCount(kLoginPath), 1);
    QVERIFY(!timer->isActive());
    m_server->releaseHeldConnections();
}

void TestLoginDialog::focusOnOpen_data()
{
    QTest::addColumn<bool>("systemUser");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("focused");
    QTest::newRow("nothing stored") << false << ""
                                    << "editLoginName";
    QTest::newRow("name stored") << false << "bob"
                                 << "editPassword";
    QTest::newRow("system account") << true << ""
                                    << "btnLogin";
    QTest::newRow("QR page") << false << "bob"
                             << "qrImageLabel";
}

void TestLoginDialog::focusOnOpen()
{
    QFETCH(bool, systemUser);
    QFETCH(QString, name);
    QFETCH(QString, focused);
    const bool qrPage = focused == QLatin1String("qrImageLabel");
    configure({ { "Login/SystemUser", systemUser },
                { "Login/SavePassword", false },
                { "Login/LoginName", name },
                { "Login/KsServerUrl", serverAddress() },
                { "setting/ShowQR", qrPage },
                { "Login/DefaultLoginType", qrPage ? 2 : 1 } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.focusWidget());
    QCOMPARE(dialog.focusWidget()->objectName(), focused);

    // On the QR page keys stay on it, none reaches the hidden password field; Shift+Tab leads to the page switch
    // above it.
    if (qrPage) {
        QTest::keyClicks(dialog.focusWidget(), QStringLiteral(" x"));
        QVERIFY(dialog.findChild<QLineEdit*>("editPassword")->text().isEmpty());
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(dialog.focusWidget()->objectName(), QStringLiteral("btnDesktop"));
    }
    // Typing goes there, and Return logs in.
    if (focused == QLatin1String("editPassword")) {
        QTest::keyClicks(dialog.focusWidget(), QStringLiteral("hunter2"));
        QCOMPARE(dialog.findChild<QLineEdit*>("editPassword")->text(), QStringLiteral("hunter2"));
        QSignalSpy shown(&dialog, &LoginDialog::mainshow);
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(shown.count(), 1);
    }
}

void TestLoginDialog::titleFontFollowsItsText_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("cjkFamily");
    QTest::newRow("latin") << "Kestrana Print Client" << false;
    QTest::newRow("chinese") << QString::fromUtf8("\xe6\x89\x93\xe5\x8d\xb0\xe5\xae\xa2\xe6\x88\xb7\xe7\xab\xaf")
                             << true;
    QTest::newRow("korean after latin") << QString::fromUtf8("Print \xed\x94\x84\xeb\xa6\xb0\xed\x8a\xb8") << true;
}

void TestLoginDialog::titleFontFollowsItsText()
{
    // A CJK title is drawn in a CJK font; a Latin one does not make the first paint load that large file.
    QFETCH(QString, title);
    QFETCH(bool, cjkFamily);
    configure({ { "Basic/Title", title }, { "Login/KsServerUrl", serverAddress() } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* label = dialog.findChild<QLabel*>("lab_login_title");
    QVERIFY(label);
    QCOMPARE(label->text(), title);
    QCOMPARE(label->font().families().contains(QStringLiteral("Noto Sans CJK SC")), cjkFamily);
    QCOMPARE(label->font().families().constLast(), QStringLiteral("DejaVu Sans"));
    QCOMPARE(label->font().pixelSize(), 24);
}

void TestLoginDialog::onlyTheShownBannerIsHeld()
{
    configure({ { "setting/ShowQR", true }, { "Login/KsServerUrl", serverAddress() } });
    info()->setDefaultLoginType(1);
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    auto* login = dialog.findChild<QWidget*>("header_login");
    auto* qr = dialog.findChild<QWidget*>("header_qr");
    QVERIFY(login && qr);
    // Built but not shown (the automatic login path): no banner decoded.
    const auto banner = [](QWidget* header) { return header->property("banner").toString(); };
    QVERIFY(banner(login).isEmpty());
    QVERIFY(banner(qr).isEmpty());

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(banner(login).endsWith(QLatin1String("images/1.jpg")));
    // The fields' icons are made from cached pixmaps: a wrong name leaves one blank.
    int icons = 0;
    for (auto* edit : dialog.findChildren<QLineEdit*>()) {
        for (QAction* action : edit->actions()) {
            QVERIFY2(!action->icon().isNull(), qPrintable(edit->objectName()));
            ++icons;
        }
    }
    QCOMPARE(icons, 4);
    QVERIFY(banner(qr).isEmpty());
    // Decoded at the header's size and drawn: the header's top left shows the banner's deep blue, not the grey
    // of a header without one.
    const auto drawsBanner = [](QWidget* header) {
        const QColor corner = header->grab().toImage().pixelColor(2, 2);
        return corner.blue() > corner.red() + 80;
    };
    QVERIFY(drawsBanner(login));

    QTest::mouseClick(dialog.findChild<QPushButton*>("btnQr"), Qt::LeftButton);
    QVERIFY(banner(qr).endsWith(QLatin1String("images/11.jpg")));
    QVERIFY(banner(login).isEmpty());

    // Back the other way, the new page shown before the old one is hidden: the old page's hiding must not take
    // the new page's banner with it.
    dialog.findChild<QWidget*>("frame_login")->show();
    dialog.findChild<QWidget*>("frame_qr")->hide();
    QVERIFY(banner(login).endsWith(QLatin1String("images/1.jpg")));
    QVERIFY(banner(qr).isEmpty());
    QVERIFY(drawsBanner(login));

    dialog.hide();
    QVERIFY(banner(login).isEmpty());
    QVERIFY(banner(qr).isEmpty());
}

void TestLoginDialog::jobBeforeLoginAsksToLogIn()
{
    configure({ { "Login/SystemUser", false }, { "Job/Path", "spool" } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    StartUp::watchJobFolder(dialog);
    const QString folder = m_home->dataPath() + QStringLiteral("/spool");
    QVERIFY(QDir(folder).exists());

    auto drop = [&](const QString& name) {
        QFile file(folder + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("%PDF-1.4\n");
    };

    // Only print data is worth a prompt.
    drop(QStringLiteral("job-1.xml"));
    drop(QStringLiteral("job-1.pdf"));
    QList<Prompts::Record> seen;
    QTRY_VERIFY((seen += Prompts::takeCaptured(), !seen.isEmpty()));
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].text, QStringLiteral("Please log in to the print client"));
    QCOMPARE(seen[0].title, QStringLiteral("Title"));
    QCOMPARE(seen[0].icon, QMessageBox::Information);
    QVERIFY(!seen[0].modal);

    // After a login a job is the job queue's: the watcher still reports it, but no prompt asks to log in.
    dialog.findChild<QLineEdit*>("editKsServer")->setText(serverAddress());
    dialog.findChild<QLineEdit*>("editLoginName")->setText(QStringLiteral("alice"));
    dialog.findChild<QLineEdit*>("editPassword")->setText(QStringLiteral("secret"));
    dialog.findChild<QPushButton*>("btnLogin")->click();
    QVERIFY(ClientParts::shared().session.isLogin());
    QSignalSpy reported(CMyFileWatcher::instance(), &CMyFileWatcher::signalNewFile);
    drop(QStringLiteral("job-2.pdf"));
    QTRY_COMPARE(reported.count(), 1);
    // The dialog's handler is queued behind the report.
    QCoreApplication::sendPostedEvents();
    QCOMPARE(Prompts::takeCaptured().size(), 0);
}

void TestLoginDialog::loginWindowReturnsAfterLogout()
{
    configure({ { "Login/SystemUser", false } });
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    StartUp::watchJobFolder(dialog);
    dialog.show();
    dialog.findChild<QLineEdit*>("editKsServer")->setText(serverAddress());
    dialog.findChild<QLineEdit*>("editLoginName")->setText(QStringLiteral("bob"));
    dialog.findChild<QLineEdit*>("editPassword")->setText(QStringLiteral("hunter2"));
    dialog.findChild<QPushButton*>("btnLogin")->click();
    QVERIFY(ClientParts::shared().session.isLogin());
    QVERIFY(!dialog.isVisible());

    // What the main window's logout does before handing back.
    ClientParts::shared().session.setIsLogin(false);
    dialog.show_loginwindow();
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.findChild<QLineEdit*>("editLoginName")->text(), QStringLiteral("bob"));
    QCOMPARE(dialog.findChild<QLineEdit*>("editKsServer")->text(), serverAddress());
    // "Save Password" was off: the password does not wait in the field for the next person.
    QVERIFY(dialog.findChild<QLineEdit*>("editPassword")->text().isEmpty());

    // Jobs printed while logged out are announced again.
    QFile file(m_home->dataPath() + QStringLiteral("/ksprinter/after-logout.pdf"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("%PDF-1.4\n");
    file.close();
    QList<Prompts::Record> seen;
    QTRY_VERIFY((seen += Prompts::takeCaptured(), !seen.isEmpty()));
    QCOMPARE(seen[0].text, QStringLiteral("Please log in to the print client"));
}

void TestLoginDialog::closingEndsTheProcess()
{
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    dialog.show();
    dialog.findChild<QPushButton*>("btnClose")->click();
    QCOMPARE(m_exitCodes, QList<int>({ 0 }));
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!dialog.isVisible());
}

void TestLoginDialog::siteServerIsShownFixed()
{
    // The administrator names the server and keeps passwords; the user's own file names another server.
    QFile site(m_home->sitePath());
    QVERIFY(site.open(QIODevice::WriteOnly));
    site.write("[Login]\nKsServerUrl=" + serverAddress().toUtf8() + "\nSavePassword=true\n");
    site.close();
    QVERIFY(site.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    configure({ { "Login/KsServerUrl", "http://127.0.0.1:1" }, { "Login/SystemUser", false } });

    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    dialog.show();
    auto* server = dialog.findChild<QLineEdit*>("editKsServer");
    auto* save = dialog.findChild<QCheckBox*>("chkSavePassword");
    QCOMPARE(server->text(), serverAddress());
    QVERIFY(server->isReadOnly());
    QCOMPARE(server->toolTip(), QStringLiteral("Set by your site's administrator"));
    QVERIFY(!dialog.findChild<QAction*>("actionSiteMore")->isEnabled());
    QVERIFY(save->isChecked() && !save->isEnabled());
    QTest::keyClick(server, Qt::Key_Backspace);
    QTest::keyClicks(server, QStringLiteral("x"));
    QCOMPARE(server->text(), serverAddress());

    dialog.findChild<QLineEdit*>("editLoginName")->setText(QStringLiteral("bob"));
    dialog.findChild<QLineEdit*>("editPassword")->setText(QStringLiteral("hunter2"));
    dialog.findChild<QPushButton*>("btnLogin")->click();
    QVERIFY(ClientParts::shared().session.isLogin());
    QCOMPARE(storedValue("Login/KsServerUrl").toString(), serverAddress());
    QCOMPARE(CredentialCipher::decryptValue(storedValue("Login/Password").toString()), QStringLiteral("hunter2"));
}

QTEST_MAIN(TestLoginDialog)
#include "tst_logindialog.moc"
