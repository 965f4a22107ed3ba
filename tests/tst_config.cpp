#include "TestHome.h"
#include "app/Logging.h"
#include "config/LoginInfo.h"

#include <QFile>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The per-user settings file: created from the template, replaced when the template's version changes,
// read with every key's default and acceptance rule, and the login keys written back.
class TestConfig : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartCopiesTemplate();
    void versionDecidesReplacement_data();
    void versionDecidesReplacement();
    void missingTemplateFails();
    void absentKeysTakeDefaults();
    void acceptanceRules_data();
    void acceptanceRules();
    void systemUserTakesUserVariable_data();
    void systemUserTakesUserVariable();
    void saveAddsHttpOnlyWhenMissing_data();
    void saveAddsHttpOnlyWhenMissing();
    void savedCredentialsReadBack_data();
    void savedCredentialsReadBack();
    void unreadablePasswordReadsEmpty();
    void serverSettingsFetchedOnlyWithAddress_data();
    void serverSettingsFetchedOnlyWithAddress();

private:
    void writeFile(const QString& path, const QString& text);
    QString readFile(const QString& path);
    // Writes the template with a version and extra lines appended to the file.
    void writeTemplate(const QString& version, const QString& extra = QString());

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<QTemporaryDir> m_appDir;
    QString m_template;
};

void TestConfig::init()
{
    m_home.reset(new TestHome);
    QVERIFY(m_home->isValid());
    m_appDir.reset(new QTemporaryDir);
    QVERIFY(m_appDir->isValid());
    m_template = m_appDir->path() + QStringLiteral("/halcyraclient.ini");
    LoginInfo::setTemplatePathForTests(m_template);
}

void TestConfig::cleanup()
{
    LoginInfo::setTemplatePathForTests(QString());
    m_appDir.reset();
    m_home.reset();
}

void TestConfig::writeFile(const QString& path, const QString& text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
}

QString TestConfig::readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

void TestConfig::writeTemplate(const QString& version, const QString& extra)
{
    writeFile(m_template, QStringLiteral("[Basic]\nVersion=") + version + QStringLiteral("\n") + extra);
}

void TestConfig::firstStartCopiesTemplate()
{
    writeTemplate(QStringLiteral("3.1"),
                  QStringLiteral("Title=Print Desk \u00c4\u6d4b\n"
                                 "[Login]\nKsServerName=Main office\n"
                                 "[setting]\nShowQR=true\nAutoLoginTime=120\n"));
    QVERIFY(!QFile::exists(m_home->iniPath()));

    LoginInfo info;
    QCOMPARE(info.loadFromFile(), 0);

    QVERIFY(QFile::exists(m_home->iniPath()));
    QVERIFY(readFile(m_home->iniPath()).contains(QStringLiteral("KsServerName=Main office")));
    QCOMPARE(info.ksVersion(), QStringLiteral("3.1"));
    QCOMPARE(info.title(), QStringLiteral("Print Desk \u00c4\u6d4b"));
    QCOMPARE(info.ksServerName(), QStringLiteral("Main office"));
    QVERIFY(info.showQR());
    QCOMPARE(info.autoLoginTime(), 120);

    // The template itself is marked as installed; the user's copy is not.
    QSettings templateSettings(m_template, QSettings::IniFormat);
    QCOMPARE(templateSettings.value(QStringLiteral("setting/IsInstallFirst")).toInt(), 1);
    QVERIFY(!readFile(m_home->iniPath()).contains(QStringLiteral("IsInstallFirst")));
}

void TestConfig::versionDecidesReplacement_data()
{
    QTest::addColumn<QString>("templateVersion");
    QTest::addColumn<QString>("userVersion");
    QTest::addColumn<bool>("replaced");

    QTest::newRow("raised") << QStringLiteral("2.0") << QStringLiteral("1.0") << true;
    QTest::newRow("lowered") << QStringLiteral("1.0") << QStringLiteral("2.0") << true;
    QTest::newRow("user file without version") << QStringLiteral("1.0") << QString() << true;
    QTest::newRow("equal") << QStringLiteral("1.0") << QStringLiteral("1.0") << false;
    QTest::newRow("both empty") << QString() << QString() << false;
}

void TestConfig::versionDecidesReplacement()
{
    QFETCH(QString, templateVersion);
    QFETCH(QString, userVersion);
    QFETCH(bool, replaced);

    writeTemplate(templateVersion, QStringLiteral("[Login]\nLoginName=\nKsServerUrl=\n"));
    const QString stored = QString::fromLatin1(LoginInfo::encryptValue(QStringLiteral("pw")));
    writeFile(m_home->iniPath(),
              QStringLiteral("[Basic]\nVersion=") + userVersion
                  + QStringLiteral("\n[Login]\nLoginName=alice\nPassword=@ByteArray(") + stored
                  + QStringLiteral(")\n"));

    LoginInfo info;
    QCOMPARE(info.loadFromFile(), 0);
    // A replacement takes the stored login with it.
    QCOMPARE(info.userName(), replaced ? QString() : QStringLiteral("alice"));
    QCOMPARE(info.pasword(), replaced ? QString() : QStringLiteral("pw"));
    QCOMPARE(info.ksVersion(), replaced ? templateVersion : userVersion);
    QSettings templateSettings(m_template, QSettings::IniFormat);
    QCOMPARE(templateSettings.contains(QStringLiteral("setting/IsInstallFirst")), replaced);
}

void TestConfig::missingTemplateFails()
{
    Logging::startCapture();
    LoginInfo info;
    QCOMPARE(info.loadFromFile(), 2);
    QVERIFY(!QFile::exists(m_home->iniPath()));

    const QStringList lines = Logging::takeCaptured();
    const QStringList failures = lines.filter(QRegularExpression(QStringLiteral("^copy ini file failed:.+")));
    QCOMPARE(failures.size(), 1);
    QVERIFY(!lines.contains(QStringLiteral("copy ini file succeeded")));
}

void TestConfig::absentKeysTakeDefaults()
{
    writeTemplate(QStringLiteral("1"));
    LoginInfo info;
    QCOMPARE(info.loadFromFile(), 0);

    QCOMPARE(info.ksServerUrl(), QString());
    QCOMPARE(info.ksServerName(), QStringLiteral("default KS server"));
    QCOMPARE(info.defaultLoginType(), 0);
    QCOMPARE(info.autoLoginTime(), 900);
    QCOMPARE(info.autoLoginInterval(), 5);
    QCOMPARE(info.autoLoginCount(), 5);
    QCOMPARE(info.showProgressFileSizeLimit(), 50);
    QVERIFY(!info.isAutoLogin());
    QVERIFY(!info.isSavingPassword());
    QVERIFY(!info.isSystemUser());
    QVERIFY(!info.showQR());
    QVERIFY(!info.fileLimit());
    QVERIFY(!info.isDebugKeepJobFiles());
    QCOMPARE(info.maxPageCount(), 1000);
    QCOMPARE(info.maxJobFileSize(), 1073741824.0);
    QVERIFY(!info.isLogin());
}

void TestConfig::acceptanceRules_data()
{
    QTest::addColumn<QString>("lines"); // appended to the template; empty = key absent
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("expected");

    QTest::newRow("min size absent") << QString() << "minJobFileSizeBytes" << 512;
    QTest::newRow("min size 100") << "[Job]\nMinJobFileSizeBytes=100\n"
                                  << "minJobFileSizeBytes" << 512;
    QTest::newRow("min size 511") << "[Job]\nMinJobFileSizeBytes=511\n"
                                  << "minJobFileSizeBytes" << 512;
    QTest::newRow("min size 512") << "[Job]\nMinJobFileSizeBytes=512\n"
                                  << "minJobFileSizeBytes" << 512;
    QTest::newRow("min size 2048") << "[Job]\nMinJobFileSizeBytes=2048\n"
                                   << "minJobFileSizeBytes" << 2048;
    QTest::newRow("min size not a number") << "[Job]\nMinJobFileSizeBytes=big\n"
                                           << "minJobFileSizeBytes" << 512;
    QTest::newRow("segment 0") << "[Job]\nUploadFileSegmentSizeKbs=0\n"
                               << "uploadFileSegmentSize" << 4194304;
    QTest::newRow("segment -3") << "[Job]\nUploadFileSegmentSizeKbs=-3\n"
                                << "uploadFileSegmentSize" << 4194304;
    QTest::newRow("segment 1024") << "[Job]\nUploadFileSegmentSizeKbs=1024\n"
                                  << "uploadFileSegmentSize" << 1024;
    QTest::newRow("segment absent") << QString() << "uploadFileSegmentSize" << 1;
    QTest::newRow("delay 0") << "[Job]\nmaxParamFileDelayMin=0\n"
                             << "maxParamFileDelayMin" << 60;
    QTest::newRow("delay 30") << "[Job]\nmaxParamFileDelayMin=30\n"
                              << "maxParamFileDelayMin" << 30;
    QTest::newRow("delay absent") << QString() << "maxParamFileDelayMin" << 1;
    QTest::newRow("tray absent") << QString() << "sysTrayMsgTimeoutMs" << 1000;
    QTest::newRow("tray 0") << "[Message]\nSysTrayMsgTimeoutSecs=0\n"
                            << "sysTrayMsgTimeoutMs" << 1000;
    QTest::newRow("tray 5") << "[Message]\nSysTrayMsgTimeoutSecs=5\n"
                            << "sysTrayMsgTimeoutMs" << 5000;
    QTest::newRow("tray beyond the int range in ms") << "[Message]\nSysTrayMsgTimeoutSecs=3000000\n"
                                                     << "sysTrayMsgTimeoutMs" << 2147483647;
    QTest::newRow("messages absent") << QString() << "maxMessageCount" << 50;
    QTest::newRow("messages 0") << "[Message]\nUserNameEncrypt=0\n"
                                << "maxMessageCount" << 50;
    QTest::newRow("messages 1") << "[Message]\nUserNameEncrypt=1\n"
                                << "maxMessageCount" << 1;
    QTest::newRow("messages 200") << "[Message]\nUserNameEncrypt=200\n"
                                  << "maxMessageCount" << 200;
}

void TestConfig::acceptanceRules()
{
    QFETCH(QString, lines);
    QFETCH(QString, value);
    QFETCH(int, expected);

    writeTemplate(QStringLiteral("1"), lines);
    LoginInfo info;
    QCOMPARE(info.loadFromFile(), 0);

    int actual = -12345;
    if (value == QLatin1String("minJobFileSizeBytes")) {
        actual = info.minJobFileSizeBytes();
    } else if (value == QLatin1String("uploadFileSegmentSize")) {
        actual = info.uploadFileSegmentSize();
    } else if (value == QLatin1String("maxParamFileDelayMin")) {
        actual = info.maxParamFileDelayMin();
    } else if (value == QLatin1String("sysTrayMsgTimeoutMs")) {
        actual = info.sysTrayMsgTimeoutMs();
    } else if (value == QLatin1String("maxMessageCount")) {
        actual = info.maxMessageCount();
    }
    QCOMPARE(actual, expected);
}

void TestConfig::systemUserTakesUserVariable_data()
{
    QTest::addColumn<bool>("systemUser");
    QTest::addColumn<bool>("userSet");
    QTest::addColumn<QString>("expected");

    QTest::newRow("system user") << true << true << QStringLiteral("carol");
    QTest::newRow("system user, USER unset") << true << false << QString();
    QTest::newRow("account") << false << true << QStringLiteral("alice");
}

void TestConfig::systemUserTakesUserVariable()
{
    QFETCH(bool, systemUser);
    QFETCH(bool, userSet);
    QFETCH(QString, expected);

    const QByteArray oldUser = qgetenv("USER");
    const bool hadUser = qEnvironmentVariableIsSet("USER");
    if (userSet) {
        qputenv("USER", "carol");
    } else {
        qunsetenv("USER");
    }
    writeTemplate(QStringLiteral("1"),
                  QStringLiteral("[Login]\nLoginName=alice\nSystemUser=")
                      + (systemUser ? QStringLiteral("true") : QStringLiteral("false")) + QStringLiteral("\n"));
    LoginInfo info;
    const int result = info.loadFromFile();
    if (hadUser) {
        qputenv("USER", oldUser);
    } else {
        qunsetenv("USER");
    }
    QCOMPARE(result, 0);
    QCOMPARE(info.isSystemUser(), systemUser);
    QCOMPARE(info.userName(), expected);
}

void TestConfig::saveAddsHttpOnlyWhenMissing_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("saved");

    QTest::newRow("host and port") << QStringLiteral("10.0.0.5:8080") << QStringLiteral("http://10.0.0.5:8080");
    QTest::newRow("http") << QStringLiteral("http://print.example:80") << QStringLiteral("http://print.example:80");
    QTest::newRow("https") << QStringLiteral("https://print.example") << QStringLiteral("https://print.example");
    QTest::newRow("http inside the name") << QStringLiteral("myhttphost:81") << QStringLiteral("myhttphost:81");
}

void TestConfig::saveAddsHttpOnlyWhenMissing()
{
    QFETCH(QString, address);
    QFETCH(QString, saved);

    writeTemplate(QStringLiteral("1"));
    LoginInfo info;
    QCOMPARE(info.loadFromFile(), 0);
    info.setKsServerUrl(address);
    info.saveToFile();

    QCOMPARE(info.ksServerUrl(), saved);
    QSettings file(m_home->iniPath(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Login/KsServerUrl")).toString(), saved);
}

void TestConfig::savedCredentialsReadBack_data()
{
    QTest::addColumn<bool>("nameEncrypted");
    QTest::addColumn<bool>("savePassword");

    QTest::newRow("plain name, password saved") << false << true;
    QTest::newRow("encrypted name, password saved") << true << true;
    QTest::newRow("encrypted name, password not saved") << true << false;
    QTest::newRow("plain name, password not saved") << false << false;
}

void TestConfig::savedCredentialsReadBack()
{
    QFETCH(bool, nameEncrypted);
    QFETCH(bool, savePassword);

    const QString name = QStringLiteral("J\u00fcrgen.\u6d4b\u8bd5");
    const QString password = QStringLiteral("p@ss w\u00f6rd+/=");
    writeTemplate(QStringLiteral("1"),
                  QStringLiteral("[setting]\nUserNameEncrypt=")
                      + (nameEncrypted ? QStringLiteral("true") : QStringLiteral("false")) + QStringLiteral("\n"));
    {
        LoginInfo info;
        QCOMPARE(info.loadFromFile(), 0);
        info.setKsServerUrl(QStringLiteral("http://127.0.0.1:1"));
        info.setKsServerName(QStringLiteral("Office"));
        info.setUserName(name);
        info.setPasword(password);
        info.setIsSavingPassword(savePassword);
        info.setIsAutoLogin(savePassword);
        info.setIsBingoLastTime(true);
        info.saveToFile();
    }

    // On disk: the password never in clear; the name in clear only when not encrypted.
    const QString raw = readFile(m_home->iniPath());
    QVERIFY(!raw.contains(QStringLiteral("w\u00f6rd")));
    QVERIFY(!raw.contains(QStringLiteral("rd+/=")));
    QSettings file(m_home->iniPath(), QSettings::IniFormat);
    file.setIniCodec("UTF-8");
    const QVariant storedPassword = file.value(QStringLiteral("Login/Password"));
    if (savePassword) {
        QCOMPARE(storedPassword.type(), QVariant::ByteArray);
        QVERIFY(QRegularExpression(QStringLiteral("^([0-9a-f]{32})+$")).match(storedPassword.toString()).hasMatch());
    } else {
        QCOMPARE(storedPassword.toString(), QString());
    }
    const QVariant storedName = file.value(QStringLiteral("Login/LoginName"));
    QCOMPARE(storedName.toString() == name, !nameEncrypted);
    QCOMPARE(storedName.type() == QVariant::ByteArray, nameEncrypted);
    QCOMPARE(file.value(QStringLiteral("Login/BingoLastTime")).toString(), QStringLiteral("true"));

    LoginInfo reloaded;
    QCOMPARE(reloaded.loadFromFile(), 0);
    QCOMPARE(reloaded.userName(), name);
    QCOMPARE(reloaded.pasword(), savePassword ? password : QString());
    QCOMPARE(reloaded.isSavingPassword(), savePassword);
    QCOMPARE(reloaded.isAutoLogin(), savePassword);
    QCOMPARE(reloaded.isBingoLastTime(), true);
    QCOMPARE(reloaded.ksServerName(), QStringLiteral("Office"));
}

void TestConfig::unreadablePasswordReadsEmpty()
{
    const QString stored = QString::fromLatin1(LoginInfo::encryptValue(QStringLiteral("seventeen chars!!")));
    QCOMPARE(stored.size(), 64);
    writeTemplate(QStringLiteral("1"),
                  QStringLiteral("[Login]\nLoginName=bob\nPassword=@ByteArray(") + stored.left(40)
                      + QStringLiteral(")\n[setting]\nAutoLoginTime=77\n"));
    LoginInfo info;
    QCOMPARE(info.loadFromFile(), 0);
    QCOMPARE(info.pasword(), QString());
    // Loading went on past the bad value.
    QCOMPARE(info.userName(), QStringLiteral("bob"));
    QCOMPARE(info.autoLoginTime(), 77);
}

void TestConfig::serverSettingsFetchedOnlyWithAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("requested");

    QTest::newRow("empty address") << QString() << false;
    QTest::newRow("address set") << QStringLiteral("http://kestrana.test:8088") << true;
}

void TestConfig::serverSettingsFetchedOnlyWithAddress()
{
    QFETCH(QString, address);
    QFETCH(bool, requested);

    // Every request of this process goes through a local proxy that records it and pushes ShowQR=true.
    QTcpServer proxy;
    QVERIFY(proxy.listen(QHostAddress::LocalHost));
    QStringList requestLines;
    connect(&proxy, &QTcpServer::newConnection, this, [&]() {
        while (QTcpSocket* socket = proxy.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, socket, [socket, &requestLines]() {
                const QByteArray head = socket->peek(socket->bytesAvailable());
                if (!head.contains("\r\n\r\n")) {
                    return;
                }
                requestLines << QString::fromLatin1(socket->readAll());
                const QByteArray body
                    = R"({"code":0,"data":[{"Section":"setting","Key":"ShowQR","Value":"true","IsUpdate":1}]})";
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n"
                              "Content-Length: "
                              + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        }
    });
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), proxy.serverPort()));

    writeTemplate(QStringLiteral("1"),
                  QStringLiteral("[Login]\nKsServerUrl=") + address + QStringLiteral("\n[setting]\nShowQR=false\n"));
    LoginInfo info;
    const int result = info.loadFromFile();
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));

    QCOMPARE(result, 0);
    QCOMPARE(requestLines.size(), requested ? 1 : 0);
    QCOMPARE(info.showQR(), requested);
    if (requested) {
        QVERIFY(requestLines.first().startsWith(
            QStringLiteral("GET http://kestrana.test:8088/Orvinaweb/GetClientConfigInfo HTTP/1.1\r\n")));
        QVERIFY(requestLines.first().contains(QStringLiteral("Content-Type: application/x-www-form-urlencoded\r\n"),
                                              Qt::CaseInsensitive));
        QSettings file(m_home->iniPath(), QSettings::IniFormat);
        QCOMPARE(file.value(QStringLiteral("setting/ShowQR")).toString(), QStringLiteral("true"));
    }
}

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
