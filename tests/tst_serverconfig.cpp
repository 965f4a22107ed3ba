#include "FakeKestranaServer.h"
#include "TestHome.h"
#include "api/HttpExchange.h"
#include "api/ServerTrust.h"
#include "app/Logging.h"
#include "config/LoginInfo.h"
#include "config/SettingsTemplate.h"
#include "config/SiteSettings.h"

#include <QDir>
#include <QScopeGuard>
#include <QSettings>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

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
    void siteFileFixesKeys_data();
    void siteFileFixesKeys();

private:
    void writeTemplate(const QString& serverUrl);
    QString fileValue(const QString& key) const;

    QScopedPointer<TestHome> m_home;
    QScopedPointer<FakeKestranaServer> m_server;
    QString m_template;
};

Q_DECLARE_METATYPE(FakeReply)

namespace {
// What the server pushes unless a test says otherwise.
QList<FakeKestranaState::ConfigEntry> defaultEntries()
{
    return {
        { QStringLiteral("setting"), QStringLiteral("ShowQR"), QStringLiteral("true"), 1 },
        { QStringLiteral("setting"), QStringLiteral("ShowCost"), QStringLiteral("false"), 0 },
        { QStringLiteral("Login"), QStringLiteral("DefaultLoginType"), QStringLiteral("2"), 1 },
        { QStringLiteral("setting"), QStringLiteral("AutoLoginInterval"), QStringLiteral("9"), 1 },
    };
}
} // namespace

void TestServerConfig::initTestCase()
{
    m_home.reset(new TestHome);
    QVERIFY(m_home->isValid());
    m_template = m_home->path() + QStringLiteral("/template.ini");
    SettingsTemplate::setTemplatePathForTests(m_template);

    FakeKestranaState state;
    state.configEntries = defaultEntries();
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
    const auto restoreEntries = qScopeGuard(
        [this] { m_server->updateState([](FakeKestranaState& state) { state.configEntries = defaultEntries(); }); });
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

void TestServerConfig::siteFileFixesKeys_data()
{
    QTest::addColumn<QByteArray>("site"); // empty: no file; "<dir>": a folder in its place
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("ownerAccepted");
    QTest::addColumn<bool>("serverFixed");
    QTest::addColumn<bool>("showQR"); // the template says false, the server pushes true
    QTest::addColumn<QStringList>("logged");

    const QByteArray site = "; the site's choice\n[Login]\nKsServerUrl=<https>\n[setting]\nShowQR=false\n";
    const QString fixedServer
        = QStringLiteral("server setting Login/KsServerUrl=\"https://evil.example\" ignored: fixed by the site "
                         "settings file");
    QTest::newRow("server and switch fixed")
        << site << 0644 << true << true << false
        << QStringList { fixedServer,
                         QStringLiteral("server setting setting/ShowQR=\"true\" ignored: fixed by the site settings "
                                        "file"),
                         QStringLiteral("site settings file <site> fixes Login/KsServerUrl, setting/ShowQR") };
    QTest::newRow("bad lines ignored one by one")
        << QByteArray("garbage\n[Login]\nKsServerUrl=<https>\n[setting]\nShowQR=maybe\nNoSuchKey=1\n"
                      "[Basic]\nVersion=9\n")
        << 0644 << true << true << true
        << QStringList { fixedServer,
                         QStringLiteral("site settings file <site>: lines that are not settings were ignored"),
                         QStringLiteral("site setting setting/ShowQR has the unusable value \"maybe\", ignored"),
                         QStringLiteral("site setting setting/NoSuchKey ignored: not a setting of the client"),
                         QStringLiteral("site setting Basic/Version ignored: each user keeps their own") };
    QTest::newRow("nothing usable")
        << QByteArray("\xff\xfe[[\n=\n\\\n[Login\nKsServerUrl\n\x01\n[Login]\nKsServerUrl=  \n") << 0644 << true
        << false << true
        << QStringList { QStringLiteral("site settings file <site>: lines that are not settings were ignored"),
                         QStringLiteral("site setting Login/KsServerUrl has the unusable value \"\", ignored") };
    QTest::newRow("writable by its group")
        << site << 0664 << true << false << true
        << QStringList { QStringLiteral("site settings file <site> ignored: writable by others (mode 664)") };
    QTest::newRow("not root's") << site << 0644 << false << false << true
                                << QStringList { QStringLiteral("site settings file <site> ignored: owned by uid") };
    QTest::newRow("a folder") << QByteArray("<dir>") << 0755 << true << false << true
                              << QStringList { QStringLiteral("site settings file <site> is not a file, ignored") };
    QTest::newRow("missing") << QByteArray() << 0 << true << false << true << QStringList {};
}

void TestServerConfig::siteFileFixesKeys()
{
    QFETCH(QByteArray, site);
    QFETCH(int, mode);
    QFETCH(bool, ownerAccepted);
    QFETCH(bool, serverFixed);
    QFETCH(bool, showQR);
    QFETCH(QStringList, logged);

    // A file of its own per row: QSettings keeps what it read of a path.
    QTemporaryDir siteDir;
    const QString sitePath = siteDir.path() + QStringLiteral("/site.ini");
    SiteSettings::setFileForTests(sitePath, ownerAccepted ? ::getuid() : ::getuid() + 1);
    const auto restoreSite = qScopeGuard([this] { SiteSettings::setFileForTests(m_home->sitePath(), ::getuid()); });
    const QString user = m_server->url(false);
    const QString https = m_server->url(true);
    if (site == "<dir>") {
        QVERIFY(QDir().mkpath(sitePath));
    } else if (!site.isEmpty()) {
        QFile file(sitePath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(site).replace("<https>", https.toUtf8()));
        file.close();
        QCOMPARE(::chmod(QFile::encodeName(sitePath).constData(), mode_t(mode)), 0);
    }
    m_server->updateState([](FakeKestranaState& state) {
        state.configEntries = {
            { QStringLiteral("setting"), QStringLiteral("ShowQR"), QStringLiteral("true"), 1 },
            { QStringLiteral("Login"), QStringLiteral("KsServerUrl"), QStringLiteral("https://evil.example"), 1 },
        };
    });
    const auto restoreEntries = qScopeGuard(
        [this] { m_server->updateState([](FakeKestranaState& state) { state.configEntries = defaultEntries(); }); });
    writeTemplate(user);

    // The site's server is asked for its settings; over https, checked, its pushed address would apply.
    LoginInfo info;
    Logging::startCapture();
    QCOMPARE(TestHome::loadAtStartUp(info), 0);
    const QStringList log = Logging::takeCaptured();
    const QString expected = serverFixed ? https : user;
    QCOMPARE(info.ksServerUrl(), expected);
    QCOMPARE(fileValue(QStringLiteral("Login/KsServerUrl")), expected);
    QCOMPARE(info.showQR(), showQR);
    QCOMPARE(LoginInfo::isFixed(LoginInfo::Key::ServerUrl), serverFixed);
    for (const QString& line : logged) {
        const QString wanted = QString(line).replace(QStringLiteral("<site>"), sitePath);
        QVERIFY2(std::any_of(log.cbegin(), log.cend(), [&](const QString& l) { return l.contains(wanted); }),
                 qPrintable(wanted));
    }

    // Neither a save nor a window's write replaces a fixed value; the next start finds it again.
    const QString elsewhere = QStringLiteral("http://127.0.0.1:1");
    info.setKsServerUrl(elsewhere);
    info.saveToFile();
    LoginInfo::writeFileValue(LoginInfo::Key::ServerUrl, elsewhere);
    const QString kept = serverFixed ? https : elsewhere;
    QCOMPARE(fileValue(QStringLiteral("Login/KsServerUrl")), kept);
    LoginInfo again;
    QCOMPARE(TestHome::loadAtStartUp(again), 0);
    QCOMPARE(again.ksServerUrl(), kept);
    QCOMPARE(again.showQR(), showQR);
    // A site's version is refused: the template's check would replace the user's file at every start.
    QCOMPARE(again.ksVersion(), QStringLiteral("1.0.0"));
}

QTEST_GUILESS_MAIN(TestServerConfig)
#include "tst_serverconfig.moc"
