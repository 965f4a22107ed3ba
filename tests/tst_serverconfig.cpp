#include "FakeKestranaServer.h"
#include "TestHome.h"
#include "api/HttpExchange.h"
#include "api/ServerTrust.h"
#include "app/Logging.h"
#include "config/LoginInfo.h"
#include "config/SettingsTemplate.h"

#include <QScopeGuard>
#include <QSettings>
#include <QSslCertificate>
#include <QtTest>

// The client settings the server hands out at start-up: fetched while the configuration loads, written
// into the user's file, and visible to the reads that follow in the same run.
class TestServerConfig : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void appliedEntriesReachFileAndRun_data();
    void appliedEntriesReachFileAndRun();
    void unusableAnswersChangeNothing_data();
    void unusableAnswersChangeNothing();
    void pushedSettingsCannotWeakenTrust_data();
    void pushedSettingsCannotWeakenTrust();
    void emptyServerAddressSendsNothing();
    void silentServerDelaysStartUpOnlyBriefly();

private:
    void writeTemplate(const QString& serverUrl);
    QString fileValue(const QString& key) const;

    QScopedPointer<TestHome> m_home;
    QScopedPointer<FakeKestranaServer> m_server;
    QString m_template;
};

Q_DECLARE_METATYPE(FakeReply)

void TestServerConfig::initTestCase()
{
    m_home.reset(new TestHome);
    QVERIFY(m_home->isValid());
    m_template = m_home->path() + QStringLiteral("/template.ini");
    SettingsTemplate::setTemplatePathForTests(m_template);

    FakeKestranaState state;
    state.configEntries = {
        { QStringLiteral("setting"), QStringLiteral("ShowQR"), QStringLiteral("true"), 1 },
        { QStringLiteral("setting"), QStringLiteral("ShowCost"), QStringLiteral("false"), 0 },
        { QStringLiteral("Login"), QStringLiteral("DefaultLoginType"), QStringLiteral("2"), 1 },
        { QStringLiteral("setting"), QStringLiteral("AutoLoginInterval"), QStringLiteral("9"), 1 },
    };
    m_server.reset(new FakeKestranaServer(state));
    QVERIFY(m_server->start());
}

void TestServerConfig::cleanupTestCase()
{
    m_server->stop();
    SettingsTemplate::setTemplatePathForTests(QString());
}

void TestServerConfig::init()
{
    m_server->clearRequests();
    m_server->clearOverrides();
    QFile::remove(m_home->iniPath());
}

void TestServerConfig::writeTemplate(const QString& serverUrl)
{
    QFile::remove(m_template);
    QSettings s(m_template, QSettings::IniFormat);
    s.setValue(QStringLiteral("Basic/Version"), QStringLiteral("1.0.0"));
    s.setValue(QStringLiteral("Login/KsServerUrl"), serverUrl);
    s.setValue(QStringLiteral("Login/DefaultLoginType"), 1);
    s.setValue(QStringLiteral("setting/ShowQR"), false);
    s.setValue(QStringLiteral("setting/ShowCost"), true);
    s.setValue(QStringLiteral("setting/AutoLoginInterval"), 5);
}

QString TestServerConfig::fileValue(const QString& key) const
{
    QSettings file(m_home->iniPath(), QSettings::IniFormat);
    return file.value(key).toString();
}

void TestServerConfig::appliedEntriesReachFileAndRun_data()
{
    QTest::addColumn<bool>("https");
    QTest::addColumn<QString>("pushedJobPath");
    QTest::addColumn<QString>("jobFolder");
    QTest::addColumn<QString>("suffix"); // after the server's address, as people paste it
    QTest::newRow("http") << false << "spool"
                          << "spool"
                          << "";
    QTest::newRow("https, address ending in /") << true << "spool"
                                                << "spool"
                                                << "/";
    QTest::newRow("https, self-signed") << true << "ksprinter"
                                        << "ksprinter"
                                        << "";
    // A server cannot move the job folder (which the client empties) out of the data folder.
    QTest::newRow("job folder ..") << false << ".."
                                   << "ksprinter"
                                   << "";
    QTest::newRow("job folder absolute") << true << "/home"
                                         << "ksprinter"
                                         << "";
    QTest::newRow("job folder with separator") << false << "a/../../Documents"
                                               << "ksprinter"
                                               << "";
}

void TestServerConfig::appliedEntriesReachFileAndRun()
{
    QFETCH(bool, https);
    QFETCH(QString, pushedJobPath);
    QFETCH(QString, jobFolder);
    QFETCH(QString, suffix);
    m_server->updateState([&](FakeKestranaState& state) {
        state.configEntries = state.configEntries.mid(0, 4);
        state.configEntries.append({ QStringLiteral("Job"), QStringLiteral("Path"), pushedJobPath, 1 });
    });
    writeTemplate(m_server->url(https) + suffix);

    LoginInfo info;
    QCOMPARE(TestHome::loadAtStartUp(info), 0);

    // Entries with IsUpdate 1 are visible to this run and kept in the file; IsUpdate 0 is ignored.
    QCOMPARE(info.showQR(), true);
    QCOMPARE(info.defaultLoginType(), 2);
    QCOMPARE(info.autoLoginInterval(), 9);
    QCOMPARE(info.showCost(), true);
    QCOMPARE(fileValue(QStringLiteral("setting/ShowQR")), QStringLiteral("true"));
    QCOMPARE(fileValue(QStringLiteral("Login/DefaultLoginType")), QStringLiteral("2"));
    QCOMPARE(fileValue(QStringLiteral("setting/ShowCost")), QStringLiteral("true"));
    QCOMPARE(info.jobFolder(), jobFolder);
    if (https) {
        // The fetch follows the certificate rule: a self-signed server is pinned on first use.
        const QString server = ServerTrust::serverKey(QUrl(m_server->httpsUrl()));
        QCOMPARE(ServerTrust::pinnedFingerprint(server),
                 ServerTrust::fingerprint(QSslCertificate(m_server->certificatePem())));
    }

    QCOMPARE(m_server->requestCount(), 1);
    const FakeRequest request = m_server->lastRequest();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, QByteArray("/Orvinaweb/GetClientConfigInfo"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QVERIFY(request.body.isEmpty());

    // The next start, handed the same values, leaves the file alone (its time and size unchanged); a value the
    // server changed since is written, and the others are kept.
    const auto identity = [this] {
        const QFileInfo file(m_home->iniPath());
        return QStringLiteral("%1/%2").arg(file.lastModified().toMSecsSinceEpoch()).arg(file.size());
    };
    QFile ini(m_home->iniPath());
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QVERIFY(ini.setFileTime(QDateTime::fromMSecsSinceEpoch(1000000), QFileDevice::FileModificationTime));
    ini.close();
    const QString unchanged = identity();
    LoginInfo again;
    QCOMPARE(TestHome::loadAtStartUp(again), 0);
    QCOMPARE(identity(), unchanged);
    const auto setInterval = [this](const QString& value) {
        m_server->updateState([&](FakeKestranaState& state) { state.configEntries[3].value = value; });
    };
    setInterval(QStringLiteral("11"));
    const auto restore = qScopeGuard([&] { setInterval(QStringLiteral("9")); });
    LoginInfo next;
    QCOMPARE(TestHome::loadAtStartUp(next), 0);
    QVERIFY(identity() != unchanged);
    QCOMPARE(next.autoLoginInterval(), 11);
    QCOMPARE(next.showQR(), true);
    QCOMPARE(fileValue(QStringLiteral("setting/AutoLoginInterval")), QStringLiteral("11"));
    QCOMPARE(fileValue(QStringLiteral("Login/DefaultLoginType")), QStringLiteral("2"));
}

void TestServerConfig::unusableAnswersChangeNothing_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<bool>("logsFailure");

    const QJsonArray entries { QJsonObject { { QStringLiteral("Section"), QStringLiteral("setting") },
                                             { QStringLiteral("Key"), QStringLiteral("ShowQR") },
                                             { QStringLiteral("Value"), QStringLiteral("true") },
                                             { QStringLiteral("IsUpdate"), 1 } } };
    QTest::newRow("HTML 500") << FakeReply::html500() << true;
    QTest::newRow("literal null") << FakeReply::raw("null") << true;
    QTest::newRow("cut mid-body") << FakeReply::closeMidBody() << true;
    QTest::newRow("non-zero code") << FakeReply::envelope(1, QStringLiteral("no"), entries) << false;
    QTest::newRow("JSON array") << FakeReply::json(QJsonDocument(entries)) << false;
    QTest::newRow("IsUpdate as text") << FakeReply::envelope(
        0, QString(),
        QJsonArray { QJsonObject { { QStringLiteral("Section"), QStringLiteral("setting") },
                                   { QStringLiteral("Key"), QStringLiteral("ShowQR") },
                                   { QStringLiteral("Value"), QStringLiteral("true") },
                                   { QStringLiteral("IsUpdate"), QStringLiteral("1") } } })
                                      << false;
}

void TestServerConfig::unusableAnswersChangeNothing()
{
    QFETCH(FakeReply, reply);
    QFETCH(bool, logsFailure);

    writeTemplate(m_server->httpUrl());
    m_server->setOverride(QStringLiteral("/Orvinaweb/GetClientConfigInfo"), reply);
    if (logsFailure) {
        QTest::ignoreMessage(QtDebugMsg, "getConfigInfo fail");
    }

    LoginInfo info;
    QCOMPARE(TestHome::loadAtStartUp(info), 0);
    QCOMPARE(info.showQR(), false);
    QCOMPARE(info.defaultLoginType(), 1);
    QCOMPARE(fileValue(QStringLiteral("setting/ShowQR")), QStringLiteral("false"));
    QCOMPARE(m_server->requestCount(), 1);
}

void TestServerConfig::pushedSettingsCannotWeakenTrust_data()
{
    QTest::addColumn<bool>("https");
    QTest::addColumn<QString>("localRule"); // setting/ServerCertificate in the file before the start
    QTest::addColumn<QStringList>("pushed"); // "Section|Key|Value"
    QTest::addColumn<QStringList>("fileAfter"); // Login/KsServerUrl, Login/KsServerurl, Login/KsServerName, rule
    QTest::addColumn<QStringList>("logged");

    const QString evil = QStringLiteral("https://evil.example");
    const QStringList address { QStringLiteral("Login|KsServerUrl|") + evil,
                                QStringLiteral("|Login//KsServerurl/|") + evil,
                                QStringLiteral("Login|KsServerName|Evil") };
    const QString notChecked = QStringLiteral("\" ignored: not sent by an https server with a checked certificate");
    // arg() rather than "+": GCC's -O3 sees a false overflow in the string builder here.
    const QStringList addressIgnored { QStringLiteral("server setting Login/KsServerUrl=\"%1%2").arg(evil, notChecked),
                                       QStringLiteral("server setting Login/KsServerurl=\"%1%2").arg(evil, notChecked),
                                       QStringLiteral("server setting Login/KsServerName=\"Evil%1").arg(notChecked) };

    QTest::newRow("address over http: ignored")
        << false << "pin" << address << QStringList { "<server>", "", "Local", "pin" } << addressIgnored;
    QTest::newRow("address over https, rule any: ignored")
        << true << "any" << address << QStringList { "<server>", "", "Local", "any" } << addressIgnored;
    QTest::newRow("address over https, pinned certificate: applied")
        << true << "pin" << address << QStringList { evil, evil, "Evil", "pin" }
        << QStringList {
               QStringLiteral("server setting Login/KsServerUrl changed from \"<server>\" to \"%1\"").arg(evil),
               QStringLiteral("server setting Login/KsServerurl changed from \"\" to \"%1\"").arg(evil),
               QStringLiteral("server setting Login/KsServerName changed from \"Local\" to \"Evil\"")
           };
    const QString looser = QStringLiteral("\" ignored: the certificate rule may only be made stricter than \"");
    QTest::newRow("rule any: ignored")
        << true << "pin" << QStringList { "setting|ServerCertificate|any" }
        << QStringList { "<server>", "", "Local", "pin" }
        << QStringList { QStringLiteral("server setting setting/ServerCertificate=\"any%1pin\"").arg(looser) };
    QTest::newRow("rule system to pin: ignored")
        << false << "system" << QStringList { "setting|ServerCertificate|pin" }
        << QStringList { "<server>", "", "Local", "system" }
        << QStringList { QStringLiteral("server setting setting/ServerCertificate=\"pin%1system\"").arg(looser) };
    QTest::newRow("rule pin to system: applied")
        << false << "pin" << QStringList { "setting|ServerCertificate|system" }
        << QStringList { "<server>", "", "Local", "system" }
        << QStringList { "server setting setting/ServerCertificate changed from \"pin\" to \"system\"" };
}

void TestServerConfig::pushedSettingsCannotWeakenTrust()
{
    QFETCH(bool, https);
    QFETCH(QString, localRule);
    QFETCH(QStringList, pushed);
    QFETCH(QStringList, fileAfter);
    QFETCH(QStringList, logged);

    const QString server = m_server->url(https);
    m_server->updateState([&](FakeKestranaState& state) {
        state.configEntries.clear();
        // Pushed beside the guarded keys, and applied whatever the connection.
        state.configEntries.append({ QStringLiteral("setting"), QStringLiteral("ShowQR"), QStringLiteral("true"), 1 });
        for (const QString& entry : pushed) {
            const QStringList parts = entry.split(QLatin1Char('|'));
            state.configEntries.append({ parts.at(0), parts.at(1), parts.at(2), 1 });
        }
    });
    const auto restoreEntries = qScopeGuard([this] {
        m_server->updateState([](FakeKestranaState& state) {
            state.configEntries = {
                { QStringLiteral("setting"), QStringLiteral("ShowQR"), QStringLiteral("true"), 1 },
                { QStringLiteral("setting"), QStringLiteral("ShowCost"), QStringLiteral("false"), 0 },
                { QStringLiteral("Login"), QStringLiteral("DefaultLoginType"), QStringLiteral("2"), 1 },
                { QStringLiteral("setting"), QStringLiteral("AutoLoginInterval"), QStringLiteral("9"), 1 },
            };
        });
    });
    writeTemplate(server);
    {
        QSettings s(m_template, QSettings::IniFormat);
        s.setValue(QStringLiteral("Login/KsServerName"), QStringLiteral("Local"));
        s.setValue(QStringLiteral("setting/ServerCertificate"), localRule);
    }

    // The fetch follows this file's rule, as at start-up.
    LoginInfo info;
    const auto restoreTrust = qScopeGuard([] { ServerTrust::setMode(ServerTrust::Mode::Pin); });
    Logging::startCapture();
    QCOMPARE(TestHome::loadAtStartUp(info), 0);
    const QStringList log = Logging::takeCaptured();

    QCOMPARE(m_server->requestCount(), 1);
    QCOMPARE(info.showQR(), true);
    const QStringList keys { QStringLiteral("Login/KsServerUrl"), QStringLiteral("Login/KsServerurl"),
                             QStringLiteral("Login/KsServerName"), QStringLiteral("setting/ServerCertificate") };
    for (int i = 0; i < keys.size(); ++i) {
        QCOMPARE(fileValue(keys.at(i)), QString(fileAfter.at(i)).replace(QStringLiteral("<server>"), server));
    }
    QCOMPARE(certificateRuleName(info.certificateRule()), fileAfter.at(3));
    for (const QString& line : logged) {
        QVERIFY2(log.contains(QString(line).replace(QStringLiteral("<server>"), server)), qPrintable(line));
    }
}

void TestServerConfig::emptyServerAddressSendsNothing()
{
    writeTemplate(QString());
    LoginInfo info;
    QCOMPARE(TestHome::loadAtStartUp(info), 0);
    QCOMPARE(info.showQR(), false);
    QCOMPARE(m_server->requestCount(), 0);
}

void TestServerConfig::silentServerDelaysStartUpOnlyBriefly()
{
    // The fetch has its own bound (shortened here); a server that accepts and never answers must not stop start-up.
    HttpExchange::setExchangeBoundForTests(200);
    const auto restore = qScopeGuard([]() { HttpExchange::setExchangeBoundForTests(0); });
    writeTemplate(m_server->httpUrl());
    m_server->setOverride(QStringLiteral("/Orvinaweb/GetClientConfigInfo"), FakeReply::neverAnswer());
    QTest::ignoreMessage(QtDebugMsg, "getConfigInfo fail");

    LoginInfo info;
    QCOMPARE(TestHome::loadAtStartUp(info), 0);
    QCOMPARE(info.showQR(), false);
    QCOMPARE(m_server->heldConnections(), 1);
    m_server->releaseHeldConnections();
}

QTEST_GUILESS_MAIN(TestServerConfig)
#include "tst_serverconfig.moc"
