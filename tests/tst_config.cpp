#include "FakeKestranaServer.h"
#include "ForwardingProxy.h"
#include "TestHome.h"
#include "api/KsEndpoints.h"
#include "api/KsKit.h"
#include "app/Logging.h"
#include "config/CredentialCipher.h"
#include "config/LoginInfo.h"
#include "config/SettingsTemplate.h"
#include "jobs/CurlExchange.h"

#include <QDir>
#include <QFile>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

namespace {
int modeOf(const QString& path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}
} // namespace

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
    void settingsFileIsPrivate_data();
    void settingsFileIsPrivate();
    void absentKeysTakeDefaults();
    void acceptanceRules_data();
    void acceptanceRules();
    void systemUserTakesUserVariable_data();
    void systemUserTakesUserVariable();
    void saveAddsHttpOnlyWhenMissing_data();
    void saveAddsHttpOnlyWhenMissing();
    void serverUrlKeys_data();
    void serverUrlKeys();
    void savedCredentialsReadBack_data();
    void savedCredentialsReadBack();
    void unreadablePasswordReadsEmpty();
    void serverSettingsFetchedOnlyWithAddress_data();
    void serverSettingsFetchedOnlyWithAddress();
    void systemProxyCarriesEveryRequest_data();
    void systemProxyCarriesEveryRequest();

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
    SettingsTemplate::setTemplatePathForTests(m_template);
}

void TestConfig::cleanup()
{
    SettingsTemplate::setTemplatePathForTests(QString());
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
    QCOMPARE(TestHome::loadAtStartUp(info), 0);

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

    // Accounts with a name of their own: the system account would take the name from USER.
    writeTemplate(templateVersion, QStringLiteral("[Login]\nLoginName=\nKsServerUrl=\nSystemUser=false\n"));
    const QString stored = QString::fromLatin1(CredentialCipher::encryptValue(QStringLiteral("pw")));
    writeFile(m_home->iniPath(),
              QStringLiteral("[Basic]\nVersion=") + userVersion
                  + QStringLiteral("\n[Login]\nLoginName=alice\nSystemUser=false\nPassword=@ByteArray(") + stored
                  + QStringLiteral(")\n"));

    LoginInfo info;
    QCOMPARE(TestHome::loadAtStartUp(info), 0);
    // A replacement takes the stored login with it.
    QCOMPARE(info.userName(), replaced ? QString() : QStringLiteral("alice"));
    QCOMPARE(info.password(), replaced ? QString() : QStringLiteral("pw"));
    QCOMPARE(info.ksVersion(), replaced ? templateVersion : userVersion);
    QSettings templateSettings(m_template, QSettings::IniFormat);
    QCOMPARE(templateSettings.contains(QStringLiteral("setting/IsInstallFirst")), replaced);
}

void TestConfig::missingTemplateFails()
{
    Logging::startCapture();
    LoginInfo info;
    QCOMPARE(TestHome::loadAtStartUp(info), 2);
    QVERIFY(!QFile::exists(m_home->iniPath()));

    const QStringList lines = Logging::takeCaptured();
    const QStringList failures = lines.filter(QRegularExpression(QStringLiteral("^copy ini file failed:.+")));
    QCOMPARE(failures.size(), 1);
    QVERIFY(!lines.contains(QStringLiteral("copy ini file succeeded")));

    // A user file of another version stays as it was, stored login included, when no template can replace it.
    const QString userFile = QStringLiteral("[Basic]\nVersion=0.9\n[Login]\nLoginName=alice\nPassword=@ByteArray(")
        + QString::fromLatin1(CredentialCipher::encryptValue(QStringLiteral("pw"))) + QStringLiteral(")\n");
    writeFile(m_home->iniPath(), userFile);
    LoginInfo again;
    QCOMPARE(TestHome::loadAtStartUp(again), 2);
    QCOMPARE(readFile(m_home->iniPath()), userFile);
    QCOMPARE(QDir(m_home->dataPath()).entryList(QDir::Files | QDir::Hidden), QStringList { "halcyraclient.ini" });
}

void TestConfig::settingsFileIsPrivate_data()
{
    QTest::addColumn<QString>("start"); // what is there before the client starts
    QTest::addColumn<QString>("after"); // what the run does before the modes are read

    QTest::newRow("first start") << "nothing"
                                 << "load";
    QTest::newRow("installation of 0644 in 0755 repaired") << "open file"
                                                           << "load";
    QTest::newRow("replaced by a newer template") << "open old file"
                                                  << "load";
    QTest::newRow("rewritten by a login") << "open file"
                                          << "save";
    QTest::newRow("written afresh after removal") << "open file"
                                                  << "remove and save";
}

void TestConfig::settingsFileIsPrivate()
{
    QFETCH(QString, start);
    QFETCH(QString, after);

    writeTemplate(QStringLiteral("2"));
    QFile::setPermissions(
        m_template, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    QVERIFY(::chmod(QFile::encodeName(m_home->dataPath()).constData(), 0755) == 0);
    if (start != QLatin1String("nothing")) {
        writeFile(m_home->iniPath(),
                  start == QLatin1String("open old file") ? QStringLiteral("[Basic]\nVersion=1\n")
                                                          : QStringLiteral("[Basic]\nVersion=2\n"));
        QVERIFY(::chmod(QFile::encodeName(m_home->iniPath()).constData(), 0644) == 0);
    }

    LoginInfo info;
    QCOMPARE(TestHome::loadAtStartUp(info), 0);
    if (after != QLatin1String("load")) {
        if (after == QLatin1String("remove and save")) {
            QVERIFY(QFile::remove(m_home->iniPath()));
        }
        info.setUserName(QStringLiteral("alice"));
        info.setPasword(QStringLiteral("pw"));
        info.setIsSavingPassword(true);
        info.saveToFile();
        QVERIFY(readFile(m_home->iniPath()).contains(QStringLiteral("LoginName=alice")));
    }
    QCOMPARE(modeOf(m_home->dataPath()), 0700);
    QCOMPARE(modeOf(m_home->iniPath()), 0600);
    // No temporary file is left beside it.
    QCOMPARE(QDir(m_home->dataPath()).entryList(QDir::Files | QDir::Hidden), QStringList { "halcyraclient.ini" });
}

void TestConfig::absentKeysTakeDefaults()
{
    writeTemplate(QStringLiteral("1"));
    LoginInfo info;
    QCOMPARE(TestHome::loadAtStartUp(info), 0);

    QCOMPARE(info.ksServerUrl(), QString());
    QCOMPARE(info.ksServerName(), QStringLiteral("default KS server"));
    QCOMPARE(info.defaultLoginType(), 0);
    QCOMPARE(info.autoLoginTime(), 900);
    QCOMPARE(info.autoLoginInterval(), 5);
    QCOMPARE(info.autoLoginCount(), 5);
    QCOMPARE(info.showProgressFileSizeLimit(), 50);
    QVERIFY(!info.isAutoLogin());
    QVERIFY(!info.isSavingPassword());
    // Absent: the operating-system account, as the login dialog and the start-up login assume.
    QVERIFY(info.isSystemUser());
    QVERIFY(!info.showQR());
    QVERIFY(!info.fileLimit());
    QVERIFY(!info.isDebugKeepJobFiles());
    QCOMPARE(info.maxPageCount(), 1000);
    QCOMPARE(info.maxJobFileSize(), 1073741824.0);
}

void TestConfig::acceptanceRules_data()
{
    QTest::addColumn<QString>("lines"); // appended to the template; empty = key absent
    QTest::addColumn<QString>("value");
    QTest::addColumn<QVariant>("expected");
    QTest::addColumn<bool>("logged"); // one line names the unusable value

    auto row
        = [](const char* name, const QString& lines, const char* value, const QVariant& expected, bool logged = false) {
              QTest::newRow(name) << lines << QString::fromLatin1(value) << expected << logged;
          };
    row("min size absent", QString(), "minJobFileSizeBytes", 512);
    row("min size 100", "[Job]\nMinJobFileSizeBytes=100\n", "minJobFileSizeBytes", 512);
    row("min size 511", "[Job]\nMinJobFileSizeBytes=511\n", "minJobFileSizeBytes", 512);
    row("min size 512", "[Job]\nMinJobFileSizeBytes=512\n", "minJobFileSizeBytes", 512);
    row("min size 2048", "[Job]\nMinJobFileSizeBytes=2048\n", "minJobFileSizeBytes", 2048);
    row("min size not a number", "[Job]\nMinJobFileSizeBytes=big\n", "minJobFileSizeBytes", 512);
    row("segment 0", "[Job]\nUploadFileSegmentSizeKbs=0\n", "uploadFileSegmentSize", 4194304);
    row("segment -3", "[Job]\nUploadFileSegmentSizeKbs=-3\n", "uploadFileSegmentSize", 4194304);
    row("segment 1024", "[Job]\nUploadFileSegmentSizeKbs=1024\n", "uploadFileSegmentSize", 1024);
    row("segment absent", QString(), "uploadFileSegmentSize", 1);
    row("delay 0", "[Job]\nmaxParamFileDelayMin=0\n", "maxParamFileDelayMin", 60);
    row("delay 30", "[Job]\nmaxParamFileDelayMin=30\n", "maxParamFileDelayMin", 30);
    row("delay absent", QString(), "maxParamFileDelayMin", 1);
    row("tray absent", QString(), "sysTrayMsgTimeoutMs", 1000);
    row("tray 0", "[Message]\nSysTrayMsgTimeoutSecs=0\n", "sysTrayMsgTimeoutMs", 1000);
    row("tray 5", "[Message]\nSysTrayMsgTimeoutSecs=5\n", "sysTrayMsgTimeoutMs", 5000);
    row("tray beyond the int range in ms", "[Message]\nSysTrayMsgTimeoutSecs=3000000\n", "sysTrayMsgTimeoutMs",
        2147483647);
    row("messages absent", QString(), "maxMessageCount", 50);
    row("messages 0", "[Message]\nUserNameEncrypt=0\n", "maxMessageCount", 50);
    row("messages 1", "[Message]\nUserNameEncrypt=1\n", "maxMessageCount", 1);
    row("messages 200", "[Message]\nUserNameEncrypt=200\n", "maxMessageCount", 200);

    // Numbers outside their range and switches that are neither 1/true nor 0/false take the default.
    row("progress limit 200", "[setting]\nShowProgressFileSizeLimit=200\n", "showProgressFileSizeLimit", 200);
    row("progress limit -1", "[setting]\nShowProgressFileSizeLimit=-1\n", "showProgressFileSizeLimit", 50, true);
    row("retry interval 0", "[setting]\nAutoLoginInterval=0\n", "autoLoginInterval", 5, true);
    row("retry interval beyond ms range", "[setting]\nAutoLoginInterval=2147484\n", "autoLoginInterval", 5, true);
    row("retry budget not a number", "[setting]\nAutoLoginTime=soon\n", "autoLoginTime", 900, true);
    row("login page 7", "[Login]\nDefaultLoginType=7\n", "defaultLoginType", 0, true);
    row("switch 1", "[setting]\nfileLimit=1\n", "fileLimit", true);
    row("switch yes", "[setting]\nfileLimit=yes\n", "fileLimit", false, true);
    row("switch 2", "[setting]\nShowQR=2\n", "showQR", false, true);
    row("switch with a comma", "[setting]\nShowQR=\"true,1\"\n", "showQR", false, true);

    // The job folder is one name inside the data folder.
    row("job folder absent", QString(), "jobFolder", "ksprinter");
    row("job folder spool", "[Job]\nPath=spool\n", "jobFolder", "spool");
    row("job folder empty", "[Job]\nPath=\n", "jobFolder", "ksprinter", true);
    row("job folder .", "[Job]\nPath=.\n", "jobFolder", "ksprinter", true);
    row("job folder ..", "[Job]\nPath=..\n", "jobFolder", "ksprinter", true);
    row("job folder absolute", "[Job]\nPath=/home/alice\n", "jobFolder", "ksprinter", true);
    row("job folder with separator", "[Job]\nPath=ksprinter/../..\n", "jobFolder", "ksprinter", true);
    row("job folder with backslash", "[Job]\nPath=..\\\\x\n", "jobFolder", "ksprinter", true);
    row("job folder logs", "[Job]\nPath=logs\n", "jobFolder", "ksprinter", true);

    row("certificate rule absent", QString(), "serverCertificate", "pin");
    row("certificate rule any", "[setting]\nServerCertificate=any\n", "serverCertificate", "any");
    row("certificate rule SYSTEM", "[setting]\nServerCertificate=SYSTEM\n", "serverCertificate", "system");
    row("certificate rule none", "[setting]\nServerCertificate=none\n", "serverCertificate", "pin", true);
}

void TestConfig::acceptanceRules()
{
    QFETCH(QString, lines);
    QFETCH(QString, value);
    QFETCH(QVariant, expected);
    QFETCH(bool, logged);

    writeTemplate(QStringLiteral("1"), lines);
    Logging::startCapture();
    LoginInfo info;
    QCOMPARE(TestHome::loadAtStartUp(info), 0);
    const QStringList log = Logging::takeCaptured();

    const QMap<QString, QVariant> actual {
        { "minJobFileSizeBytes", info.minJobFileSizeBytes() },
        { "uploadFileSegmentSize", info.uploadFileSegmentSize() },
        { "maxParamFileDelayMin", info.maxParamFileDelayMin() },
        { "sysTrayMsgTimeoutMs", info.sysTrayMsgTimeoutMs() },
        { "maxMessageCount", info.maxMessageCount() },
        { "showProgressFileSizeLimit", info.showProgressFileSizeLimit() },
        { "autoLoginInterval", info.autoLoginInterval() },
        { "autoLoginTime", info.autoLoginTime() },
        { "defaultLoginType", info.defaultLoginType() },
        { "fileLimit", info.fileLimit() },
        { "showQR", info.showQR() },
        { "jobFolder", info.jobFolder() },
        { "serverCertificate", certificateRuleName(info.certificateRule()) },
    };
    QVERIFY2(actual.contains(value), qPrintable(value));
    QCOMPARE(actual.value(value), expected);
    const QStringList complaints = log.filter(QRegularExpression(QStringLiteral("unusable value|not a folder name")));
    QVERIFY2(complaints.size() == (logged ? 1 : 0), qPrintable(log.join(QLatin1Char('\n'))));
}

void TestConfig::systemUserTakesUserVariable_data()
{
    QTest::addColumn<QString>("stored"); // empty: no such key
    QTest::addColumn<bool>("systemUser");
    QTest::addColumn<bool>("userSet");
    QTest::addColumn<QString>("expected");

    QTest::newRow("system user") << "true" << true << true << QStringLiteral("carol");
    QTest::newRow("system user, USER unset") << "true" << true << false << QString();
    QTest::newRow("account") << "false" << false << true << QStringLiteral("alice");
    QTest::newRow("key absent") << "" << true << true << QStringLiteral("carol");
}

void TestConfig::systemUserTakesUserVariable()
{
    QFETCH(QString, stored);
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
                  QStringLiteral("[Login]\nLoginName=alice\n")
                      + (stored.isEmpty() ? QString() : QStringLiteral("SystemUser=") + stored + QStringLiteral("\n")));
    LoginInfo info;
    const int result = TestHome::loadAtStartUp(info);
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
    QTest::newRow("http inside the name") << QStringLiteral("printhttp.lan") << QStringLiteral("http://printhttp.lan");
    QTest::newRow("upper-case scheme") << QStringLiteral("HTTP://print.example")
                                       << QStringLiteral("HTTP://print.example");
}

void TestConfig::saveAddsHttpOnlyWhenMissing()
{
    QFETCH(QString, address);
    QFETCH(QString, saved);

    writeTemplate(QStringLiteral("1"));
    LoginInfo info;
    QCOMPARE(TestHome::loadAtStartUp(info), 0);
    info.setKsServerUrl(address);
    QSignalSpy changed(&info, &LoginInfo::changed);
    info.saveToFile();

    QCOMPARE(changed.count(), 1);
    QCOMPARE(info.ksServerUrl(), saved);
    QSettings file(m_home->iniPath(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Login/KsServerUrl")).toString(), saved);
}

void TestConfig::serverUrlKeys_data()
{
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("read");
    // Nothing listens on these ports: the fetch of the server's settings fails at once.

    QTest::newRow("the key") << "KsServerUrl=http://127.0.0.1:1"
                             << "http://127.0.0.1:1";
    // Earlier clients' servers tab wrote this spelling only.
    QTest::newRow("earlier spelling alone") << "KsServerUrl=\nKsServerurl=http://127.0.0.1:2"
                                            << "http://127.0.0.1:2";
    QTest::newRow("the key wins") << "KsServerUrl=http://127.0.0.1:1\nKsServerurl=http://127.0.0.1:2"
                                  << "http://127.0.0.1:1";
}

void TestConfig::serverUrlKeys()
{
    QFETCH(QString, lines);
    QFETCH(QString, read);
    writeTemplate(QStringLiteral("1"), QStringLiteral("[Login]\n") + lines + QStringLiteral("\n"));
    LoginInfo info;
    QCOMPARE(TestHome::loadAtStartUp(info), 0);
    QCOMPARE(info.ksServerUrl(), read);
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
                  QStringLiteral("[Login]\nSystemUser=false\n[setting]\nUserNameEncrypt=")
                      + (nameEncrypted ? QStringLiteral("true") : QStringLiteral("false")) + QStringLiteral("\n"));
    {
        LoginInfo info;
        QCOMPARE(TestHome::loadAtStartUp(info), 0);
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
    QCOMPARE(TestHome::loadAtStartUp(reloaded), 0);
    QCOMPARE(reloaded.userName(), name);
    QCOMPARE(reloaded.password(), savePassword ? password : QString());
    QCOMPARE(reloaded.isSavingPassword(), savePassword);
    QCOMPARE(reloaded.isAutoLogin(), savePassword);
    QCOMPARE(reloaded.isBingoLastTime(), true);
    QCOMPARE(reloaded.ksServerName(), QStringLiteral("Office"));
}

void TestConfig::unreadablePasswordReadsEmpty()
{
    const QString stored = QString::fromLatin1(CredentialCipher::encryptValue(QStringLiteral("seventeen chars!!")));
    QCOMPARE(stored.size(), 64);
    writeTemplate(QStringLiteral("1"),
                  QStringLiteral("[Login]\nLoginName=bob\nSystemUser=false\nPassword=@ByteArray(") + stored.left(40)
                      + QStringLiteral(")\n[setting]\nAutoLoginTime=77\n"));
    LoginInfo info;
    QCOMPARE(TestHome::loadAtStartUp(info), 0);
    QCOMPARE(info.password(), QString());
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
    const int result = TestHome::loadAtStartUp(info);
    // Back to the system's proxy, which the client follows.
    QNetworkProxyFactory::setUseSystemConfiguration(true);

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

void TestConfig::systemProxyCarriesEveryRequest_data()
{
    QTest::addColumn<bool>("https");
    QTest::addColumn<bool>("bypassed"); // the server is named in no_proxy
    QTest::newRow("http through the proxy") << false << false;
    QTest::newRow("https through the proxy") << true << false;
    QTest::newRow("no_proxy entry") << false << true;
}

void TestConfig::systemProxyCarriesEveryRequest()
{
    QFETCH(bool, https);
    QFETCH(bool, bypassed);
    FakeKestranaServer server(FakeKestranaState::sample());
    QVERIFY(server.start());
    ForwardingProxy proxy;
    QVERIFY(proxy.start());
    // The server is reached only through the proxy: its name resolves nowhere.
    const QString base = QStringLiteral("%1://%2:%3/")
                             .arg(https ? QStringLiteral("https") : QStringLiteral("http"),
                                  bypassed ? QStringLiteral("127.0.0.1") : QStringLiteral("kestrana.invalid"))
                             .arg(https ? server.httpsPort() : server.httpPort());
    qputenv("http_proxy", proxy.address().toLatin1());
    qputenv("https_proxy", proxy.address().toLatin1());
    qputenv("no_proxy", bypassed ? "localhost,127.0.0.1" : "localhost");
    const auto unset = qScopeGuard([] {
        qunsetenv("http_proxy");
        qunsetenv("https_proxy");
        qunsetenv("no_proxy");
    });

    // The settings fetch, a login and a tab load on the UI thread's manager; the job pipeline on libcurl.
    writeTemplate(QStringLiteral("1"), QStringLiteral("[Login]\nKsServerUrl=") + base);
    LoginInfo info;
    QCOMPARE(TestHome::loadAtStartUp(info), 0);
    KsAccount account;
    account.serverUrl = base;
    account.userName = QStringLiteral("alice");
    account.password = QStringLiteral("alice123");
    KsKit api(account);
    QVERIFY(api.login(account, KsKit::LoginVia::PostBody).isObject());
    bool loaded = false;
    api.requestJobList(base, QStringLiteral("alice"), ApiAnswer::Log(), this,
                       [&](const ApiAnswer& answer) { loaded = answer.ok(); });
    QTRY_VERIFY(loaded);
    CurlExchange pipeline(&api.networkManager());
    QVERIFY(pipeline.get(KsEndpoints::permissionsUrl(base, QStringLiteral("alice")), base).isObject());

    const QStringList paths { QStringLiteral("/Orvinaweb/GetClientConfigInfo"),
                              QStringLiteral("/Orvinaweb/BAS_ClientLoginNew"), QStringLiteral("/Job/BAS_JobStausList"),
                              QStringLiteral("/User/BAS_UserPermission") };
    for (const QString& path : paths) {
        QCOMPARE(server.requestCount(path), 1);
    }
    QStringList expected;
    if (!bypassed && https) {
        // One tunnel per connection: Qt's manager keeps one to the server, libcurl its own.
        expected = proxy.requests.filter(QStringLiteral("CONNECT kestrana.invalid:"));
        QVERIFY2(expected.size() >= 2 && expected.size() == proxy.requests.size(),
                 qPrintable(proxy.requests.join(',')));
    } else if (!bypassed) {
        for (const QString& path : paths) {
            QCOMPARE(proxy.requests.filter(QRegularExpression(QStringLiteral(" http://kestrana.invalid:\\d+") + path))
                         .size(),
                     1);
        }
        QCOMPARE(proxy.requests.size(), paths.size());
    } else {
        QVERIFY2(proxy.requests.isEmpty(), qPrintable(proxy.requests.join(',')));
    }
}

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
