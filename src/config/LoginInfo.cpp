#include "LoginInfo.h"

#include "CredentialCipher.h"
#include "SettingsTemplate.h"
#include "SiteSettings.h"
#include "app/Logging.h"
#include "app/PrivateFiles.h"
#include "app/ServerUrl.h"
#include "app/UserPaths.h"

#include <QDebug>
#include <QSet>

#include <climits>

static Logger* logger = Logging::rootLogger();

namespace {

const char* const kDefaultJobFolder = "ksprinter";

using Key = LoginInfo::Key;

struct KeyRow
{
    Key key;
    const char* name;
    QVariant fallback;
};

// In the order of LoginInfo::Key.
const KeyRow& keyRow(Key key)
{
    static const KeyRow kKeys[] = {
        { Key::ServerUrl, "Login/KsServerUrl", QString() },
        // Earlier clients' servers tab wrote the address here (letter case differs); read when the key
        // above is empty, never written.
        { Key::OldServerUrl, "Login/KsServerurl", QString() },
        { Key::ServerName, "Login/KsServerName", QString() },
        { Key::LoginName, "Login/LoginName", QString() },
        { Key::Password, "Login/Password", QString() },
        { Key::DefaultLoginType, "Login/DefaultLoginType", 0 },
        { Key::AutoLogin, "Login/AutoLogin", false },
        { Key::SavePassword, "Login/SavePassword", false },
        // Absent means the operating-system account: what the login dialog and the start-up login have
        // always assumed; the template writes the key, so only older or hand-made files lack it.
        { Key::SystemUser, "Login/SystemUser", true },
        { Key::BingoLastTime, "Login/BingoLastTime", false },
        { Key::Version, "Basic/Version", QString() },
        { Key::IsOld, "Basic/IsOld", false },
        { Key::Title, "Basic/Title", QString() },
        { Key::Info, "setting/Info", QString() },
        { Key::Guid, "setting/GUID", QString() },
        { Key::IsInstallFirst, "setting/IsInstallFirst", 0 },
        { Key::SupportScan, "setting/supportScan", false },
        { Key::ShowUser, "setting/ShowUser", false },
        { Key::ShowSystem, "setting/ShowSystem", false },
        { Key::ShowServer, "setting/ShowServer", false },
        { Key::ShowDevice, "setting/ShowDevice", false },
        { Key::ShowCost, "setting/ShowCost", false },
        { Key::SupportSecret, "setting/supportSecret", false },
        { Key::MultiDomain, "setting/MultiDomain", false },
        { Key::HidTask, "setting/HidTask", false },
        { Key::HiddMainDlg, "setting/HiddMainDlg", false },
        { Key::FileLimit, "setting/fileLimit", false },
        { Key::ShowQR, "setting/ShowQR", false },
        { Key::UserNameEncrypt, "setting/UserNameEncrypt", false },
        { Key::JobFileZip, "setting/jobFileZip", false },
        { Key::AutoLoginTime, "setting/AutoLoginTime", 900 },
        { Key::AutoLoginInterval, "setting/AutoLoginInterval", 5 },
        { Key::AutoLoginCount, "setting/AutoLoginCount", 5 },
        { Key::DateTime, "setting/DateTime", QString() },
        { Key::IsShowProgress, "setting/IsShowProgress", false },
        { Key::ShowProgressFileSizeLimit, "setting/ShowProgressFileSizeLimit", 50 },
        { Key::IsLocalization, "setting/IsLocalization", false },
        { Key::ServerCertificate, "setting/ServerCertificate", QStringLiteral("pin") },
        { Key::KeepJobFiles, "Debug/KeepJobFiles", false },
        // The message limit has always been stored under this name; files in use hold it so.
        { Key::MaxMessageCount, "Message/UserNameEncrypt", -1 },
        { Key::SysTrayMsgTimeoutSecs, "Message/SysTrayMsgTimeoutSecs", -1 },
        { Key::JobPath, "Job/Path", QStringLiteral("ksprinter") },
        { Key::UploadFileSegmentSizeKbs, "Job/UploadFileSegmentSizeKbs", 1 },
        { Key::MinJobFileSizeBytes, "Job/MinJobFileSizeBytes", 1 },
        { Key::MaxParamFileDelayMin, "Job/maxParamFileDelayMin", 1 },
        { Key::KeepUnsentJobs, "Job/KeepUnsentJobs", true },
        { Key::KeepUnsentHours, "Job/KeepUnsentHours", 24 },
    };
    static_assert(sizeof(kKeys) / sizeof(kKeys[0]) == size_t(Key::KeepUnsentHours) + 1, "one row per key");
    const KeyRow& row = kKeys[int(key)];
    Q_ASSERT(row.key == key);
    return row;
}

// All settings objects read and write UTF-8, so non-ASCII titles and names survive a hand-edited file.
void useUtf8(QSettings& settings)
{
    settings.setIniCodec("UTF-8");
}

} // namespace

LoginInfo::LoginInfo(QObject* parent)
    : QObject(parent)
{ }

LoginInfo::~LoginInfo() = default;

QString LoginInfo::keyName(Key key)
{
    return QString::fromLatin1(keyRow(key).name);
}

QVariant LoginInfo::keyDefault(Key key)
{
    return keyRow(key).fallback;
}

namespace {
// "a//b/" as QSettings reads and writes it: "a/b".
QString normalizedKey(const QString& key)
{
    return key.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/'));
}

// How much a setting/ServerCertificate value checks: any < pin < system. A missing or unusable value is read
// as pin.
int ruleStrictness(const QString& value)
{
    switch (parseCertificateRule(value).value_or(CertificateRule::Pin)) {
    case CertificateRule::Any:
        return 0;
    case CertificateRule::Pin:
        return 1;
    case CertificateRule::System:
        return 2;
    }
    return 1;
}

void logUnusable(const QString& key, const QVariant& value, const QString& used)
{
    logger->warn(
        QStringLiteral("setting %1 has the unusable value \"%2\", using %3").arg(key, value.toString().left(64), used));
}
} // namespace

bool LoginInfo::readSwitch(const QSettings& settings, Key which)
{
    const QString key = keyName(which);
    const bool defaultValue = keyDefault(which).toBool();
    const QVariant value = settings.value(key);
    if (!value.isValid()) {
        return defaultValue;
    }
    if (value.type() == QVariant::Bool) {
        return value.toBool();
    }
    const QString word = value.toString().trimmed().toLower();
    if (word == QLatin1String("1") || word == QLatin1String("true")) {
        return true;
    }
    if (word == QLatin1String("0") || word == QLatin1String("false")) {
        return false;
    }
    logUnusable(key, value, defaultValue ? QStringLiteral("true") : QStringLiteral("false"));
    return defaultValue;
}

int LoginInfo::readNumber(const QSettings& settings, Key which, int min, int max)
{
    const QString key = keyName(which);
    const int defaultValue = keyDefault(which).toInt();
    const QVariant value = settings.value(key);
    if (!value.isValid()) {
        return defaultValue;
    }
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    if (!ok || number < min || number > max) {
        logUnusable(key, value, QString::number(defaultValue));
        return defaultValue;
    }
    return number;
}

QString LoginInfo::jobFolderInFile()
{
    return checkedJobFolder(fileValue(Key::JobPath).toString());
}

QVariant LoginInfo::fileValue(Key key)
{
    QSettings settings(UserPaths::iniFilePath(), QSettings::IniFormat);
    useUtf8(settings);
    return settings.value(keyName(key), keyDefault(key));
}

bool LoginInfo::fileSwitch(Key key)
{
    QSettings settings(UserPaths::iniFilePath(), QSettings::IniFormat);
    useUtf8(settings);
    return readSwitch(settings, key);
}

bool LoginInfo::isFixed(Key key)
{
    return SiteSettings::isFixed(keyName(key));
}

void LoginInfo::writeFileValue(Key key, const QVariant& value)
{
    // The site's value stays; the window that asked shows the key as fixed.
    if (isFixed(key)) {
        return;
    }
    QSettings settings(UserPaths::iniFilePath(), QSettings::IniFormat);
    useUtf8(settings);
    settings.setValue(keyName(key), value);
    settings.sync();
}

void LoginInfo::rememberServerAccount(const QString& account)
{
    m_userName = account;
    // Read from the file as the next start will read it, so the name decrypts there rather than to nothing.
    const bool encrypted = fileSwitch(Key::UserNameEncrypt);
    writeFileValue(Key::LoginName, encrypted ? QVariant(CredentialCipher::encryptValue(account)) : QVariant(account));
}

QString LoginInfo::checkedJobFolder(const QString& value)
{
    // Anything but one plain name could reach outside the data folder, where emptying the job folder
    // would delete the user's own files. "logs" is the client's own folder.
    const bool plainName = !value.isEmpty() && value != QLatin1String(".") && value != QLatin1String("..")
        && value != QLatin1String("logs") && !value.contains(QLatin1Char('/')) && !value.contains(QLatin1Char('\\'))
        && !value.contains(QChar(0));
    if (plainName) {
        return value;
    }
    logger->warn(QStringLiteral("Job/Path \"%1\" is not a folder name inside the data folder, using \"%2\"")
                     .arg(value.left(64), QLatin1String(kDefaultJobFolder)));
    return QLatin1String(kDefaultJobFolder);
}

int LoginInfo::loadFromFile()
{
    const int result = openFile();
    if (result == 0) {
        readValues();
    }
    return result;
}

int LoginInfo::openFile()
{
    if (!SettingsTemplate::checkIniFile()) {
        return 2;
    }
    m_settings.reset(new QSettings(UserPaths::iniFilePath(), QSettings::IniFormat));
    useUtf8(*m_settings);
    // Before anything is read from the file, so the server's settings are fetched from the site's server.
    SiteSettings::apply(*m_settings);
    m_ksServerUrl = m_settings->value(keyName(Key::ServerUrl), keyDefault(Key::ServerUrl)).toString();
    if (m_ksServerUrl.isEmpty()) {
        m_ksServerUrl = m_settings->value(keyName(Key::OldServerUrl), keyDefault(Key::OldServerUrl)).toString();
    }
    // The server's settings are fetched under the local certificate rule; what the server pushes applies after.
    readServerCertificate(false);
    return 0;
}

void LoginInfo::readValues()
{
    if (!m_settings) {
        return;
    }
    QSettings& s = *m_settings;
    const auto text = [&s](Key key) { return s.value(keyName(key), keyDefault(key)).toString(); };
    const auto number = [&s](Key key) { return s.value(keyName(key), keyDefault(key)).toInt(); };

    m_ksServerName = s.value(keyName(Key::ServerName), tr("default KS server")).toString();
    m_userName = text(Key::LoginName);
    m_defaultLoginType = readNumber(s, Key::DefaultLoginType, 0, 2);
    m_version = text(Key::Version);
    m_title = text(Key::Title);
    m_guid = text(Key::Guid);
    m_supportScan = readSwitch(s, Key::SupportScan);
    m_showUser = readSwitch(s, Key::ShowUser);
    m_showSystem = readSwitch(s, Key::ShowSystem);
    m_showServer = readSwitch(s, Key::ShowServer);
    m_showDevice = readSwitch(s, Key::ShowDevice);
    m_showCost = readSwitch(s, Key::ShowCost);
    m_supportSecret = readSwitch(s, Key::SupportSecret);
    m_multiDomain = readSwitch(s, Key::MultiDomain);
    m_hidTask = readSwitch(s, Key::HidTask);
    m_hiddMainDlg = readSwitch(s, Key::HiddMainDlg);
    m_fileLimit = readSwitch(s, Key::FileLimit);
    m_showQR = readSwitch(s, Key::ShowQR);
    m_userNameEncrypt = readSwitch(s, Key::UserNameEncrypt);
    m_jobFileZip = readSwitch(s, Key::JobFileZip);
    // Bounded so the retry arithmetic (seconds, milliseconds, count times interval) stays within an int.
    m_autoLoginTime = readNumber(s, Key::AutoLoginTime, 0, 7 * 24 * 3600);
    m_autoLoginInterval = readNumber(s, Key::AutoLoginInterval, 1, 3600);
    m_autoLoginCount = readNumber(s, Key::AutoLoginCount, 0, 10000);
    m_dateTime = text(Key::DateTime);
    m_isShowProgress = readSwitch(s, Key::IsShowProgress);
    // MiB; shifted into bytes by the upload, so never negative.
    m_showProgressFileSizeLimit = readNumber(s, Key::ShowProgressFileSizeLimit, 0, 1024 * 1024);
    m_isLocalization = readSwitch(s, Key::IsLocalization);

    if (!m_userName.isEmpty() && m_userNameEncrypt) {
        m_userName = CredentialCipher::decryptValue(m_userName);
    }

    const QString storedPassword = text(Key::Password);
    m_password = storedPassword.isEmpty() ? QString() : CredentialCipher::decryptValue(storedPassword);

    m_autoLogin = readSwitch(s, Key::AutoLogin);
    m_savePassword = readSwitch(s, Key::SavePassword);
    m_systemUser = readSwitch(s, Key::SystemUser);
    m_bingoLastTime = readSwitch(s, Key::BingoLastTime);
    m_keepJobFiles = readSwitch(s, Key::KeepJobFiles);

    const int maxMessages = number(Key::MaxMessageCount);
    m_maxMessageCount = maxMessages < 1 ? 50 : maxMessages;

    if (m_systemUser) {
        m_userName = qEnvironmentVariable("USER");
    }

    const int trayTimeoutSecs = number(Key::SysTrayMsgTimeoutSecs);
    // Capped so a huge value in the file cannot overflow into a negative display time.
    m_sysTrayMsgTimeoutMs = trayTimeoutSecs < 1 ? 1000 : int(qMin<qint64>(qint64(trayTimeoutSecs) * 1000, INT_MAX));

    const int segmentSize = number(Key::UploadFileSegmentSizeKbs);
    if (segmentSize > 0) {
        m_uploadFileSegmentSize = segmentSize;
    }
    const int minJobFileSize = number(Key::MinJobFileSizeBytes);
    if (minJobFileSize > 511) {
        m_minJobFileSizeBytes = minJobFileSize;
    }
    const int maxParamFileDelay = number(Key::MaxParamFileDelayMin);
    if (maxParamFileDelay > 0) {
        m_maxParamFileDelayMin = maxParamFileDelay;
    }
    m_jobFolder = checkedJobFolder(text(Key::JobPath));
    readServerCertificate(true);
    m_keepUnsentJobs = readSwitch(s, Key::KeepUnsentJobs);
    m_keepUnsentHours = readNumber(s, Key::KeepUnsentHours, 1, 24 * 365);
    emit changed();
}

void LoginInfo::readServerCertificate(bool complain)
{
    const QString key = keyName(Key::ServerCertificate);
    const QVariant value = m_settings->value(key);
    const std::optional<CertificateRule> rule = value.isValid() ? parseCertificateRule(value.toString()) : std::nullopt;
    if (value.isValid() && !rule && complain) {
        logUnusable(key, value, certificateRuleName(CertificateRule::Pin));
    }
    m_certificateRule = rule.value_or(CertificateRule::Pin);
}

void LoginInfo::saveToFile()
{
    QSettings s(UserPaths::iniFilePath(), QSettings::IniFormat);
    useUtf8(s);

    m_ksServerUrl = ServerUrl::withScheme(m_ksServerUrl);
    const auto put = [&s](Key key, const QVariant& value) {
        if (!isFixed(key)) {
            s.setValue(keyName(key), value);
        }
    };
    put(Key::ServerUrl, m_ksServerUrl);
    put(Key::ServerName, m_ksServerName);
    put(Key::LoginName,
        m_userNameEncrypt ? QVariant(CredentialCipher::encryptValue(m_userName)) : QVariant(m_userName));
    put(Key::Password, m_savePassword ? QVariant(CredentialCipher::encryptValue(m_password)) : QVariant(QString()));
    put(Key::AutoLogin, m_autoLogin);
    put(Key::SavePassword, m_savePassword);
    put(Key::SystemUser, m_systemUser);
    put(Key::BingoLastTime, m_bingoLastTime);
    s.sync();
    // A file written afresh (removed while the client ran) would get the default mode.
    PrivateFiles::restrictFile(s.fileName());
    emit changed();
}

void LoginInfo::applyServerSettings(const ServerSettings& settings, bool certificateChecked)
{
    if (!m_settings) {
        return;
    }
    // Settings that decide which server the client trusts are taken only where they cannot weaken that trust:
    // the server's address only from a server whose certificate was checked (anyone on the path of a plain or
    // unchecked connection could send it, and the saved password would follow it at every later start), the
    // certificate rule only when it is stricter than the one in the file.
    const QString fileRule = m_settings->value(keyName(Key::ServerCertificate)).toString();
    // Most starts are handed the values of the last one: the file is rewritten (and synced to disk) only
    // when one of them is new.
    bool written = false;
    QSet<QString> refusedFixed;
    for (const QPair<QString, QString>& setting : settings) {
        const QString key = normalizedKey(setting.first);
        const QVariant stored = m_settings->value(key);
        if (stored.userType() == QMetaType::QString && stored.toString() == setting.second) {
            continue;
        }
        if (SiteSettings::isFixed(key)) {
            if (!refusedFixed.contains(key)) {
                refusedFixed.insert(key);
                logger->warn(QStringLiteral("server setting %1=\"%2\" ignored: fixed by the site settings file")
                                 .arg(key, setting.second));
            }
            continue;
        }
        const bool address
            = key == keyName(Key::ServerUrl) || key == keyName(Key::OldServerUrl) || key == keyName(Key::ServerName);
        const bool rule = key == keyName(Key::ServerCertificate);
        if (address && !certificateChecked) {
            logger->warn(QStringLiteral("server setting %1=\"%2\" ignored: not sent by an https server with a "
                                        "checked certificate")
                             .arg(key, setting.second));
            continue;
        }
        if (rule && ruleStrictness(setting.second) <= ruleStrictness(fileRule)) {
            logger->warn(QStringLiteral("server setting %1=\"%2\" ignored: the certificate rule may only be made "
                                        "stricter than \"%3\"")
                             .arg(key, setting.second, fileRule));
            continue;
        }
        if (address || rule) {
            logger->info(QStringLiteral("server setting %1 changed from \"%2\" to \"%3\"")
                             .arg(key, stored.toString(), setting.second));
        }
        m_settings->setValue(key, setting.second);
        written = true;
    }
    if (written) {
        m_settings->sync();
        PrivateFiles::restrictFile(m_settings->fileName());
    }
    emit changed();
}
