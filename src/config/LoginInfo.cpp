#include "LoginInfo.h"

#include "QAESEncryption.h"
#include "app/Logging.h"
#include "app/PrivateFiles.h"
#include "app/ServerUrl.h"
#include "app/Singleton.h"
#include "app/cglobal.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QTextCodec>

#include <cctype>
#include <climits>

static Logger* logger = Logging::rootLogger();

namespace {

// Key material for the stored credentials. Changing either text makes existing files unreadable.
const char* const kKeyText = "Kq7#Vm2!Tz9wR"; // 13 characters
const char* const kIvText = "p4Lx@8Nc3Hs6"; // 12 characters
const char* const kDefaultJobFolder = "ksprinter";

QString& templateOverride()
{
    static QString path;
    return path;
}

QByteArray cipherKey()
{
    return QCryptographicHash::hash(QString::fromLatin1(kKeyText).toLocal8Bit(), QCryptographicHash::Sha256);
}

QByteArray cipherIv()
{
    return QCryptographicHash::hash(QString::fromLatin1(kIvText).toLocal8Bit(), QCryptographicHash::Md5);
}

bool isValidUtf8(const QByteArray& bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
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

QString LoginInfo::templatePath()
{
    if (!templateOverride().isEmpty()) {
        return templateOverride();
    }
    return QCoreApplication::applicationDirPath() + QDir::separator() + QStringLiteral("halcyraclient.ini");
}

void LoginInfo::setTemplatePathForTests(const QString& path)
{
    templateOverride() = path;
}

namespace {
void logUnusable(const QString& key, const QVariant& value, const QString& used)
{
    logger->warn(
        QStringLiteral("setting %1 has the unusable value \"%2\", using %3").arg(key, value.toString().left(64), used));
}
} // namespace

bool LoginInfo::readSwitch(const QSettings& settings, const QString& key, bool defaultValue)
{
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

int LoginInfo::readNumber(const QSettings& settings, const QString& key, int defaultValue, int min, int max)
{
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
    return checkedJobFolder(fileValue(QStringLiteral("Job/Path"), QStringLiteral("ksprinter")).toString());
}

QVariant LoginInfo::fileValue(const QString& key, const QVariant& defaultValue)
{
    QSettings settings(Singleton<cglobal>::getInstance()->getIniFilePath(), QSettings::IniFormat);
    useUtf8(settings);
    return settings.value(key, defaultValue);
}

bool LoginInfo::fileSwitch(const QString& key, bool defaultValue)
{
    QSettings settings(Singleton<cglobal>::getInstance()->getIniFilePath(), QSettings::IniFormat);
    useUtf8(settings);
    return readSwitch(settings, key, defaultValue);
}

void LoginInfo::writeFileValue(const QString& key, const QVariant& value)
{
    QSettings settings(Singleton<cglobal>::getInstance()->getIniFilePath(), QSettings::IniFormat);
    useUtf8(settings);
    settings.setValue(key, value);
    settings.sync();
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

QByteArray LoginInfo::encryptValue(const QString& plain)
{
    QAESEncryption aes(QAESEncryption::Aes256, QAESEncryption::ModeCbc, QAESEncryption::PaddingIso);
    return aes.encode(plain.toUtf8(), cipherKey(), cipherIv()).toHex();
}

QString LoginInfo::decryptValue(const QString& stored)
{
    if (stored.isEmpty()) {
        return QString();
    }
    // Characters that are not hexadecimal digits are skipped.
    QByteArray digits;
    digits.reserve(stored.size());
    for (const QChar c : stored) {
        // isxdigit() is only defined for byte values.
        if (c.unicode() < 0x80 && isxdigit(c.unicode())) {
            digits.append(static_cast<char>(c.unicode()));
        }
    }
    // Whole blocks only: a cut or odd-length value cannot be ours, so it reads as empty rather than as a
    // decrypted fragment.
    const int digitsPerBlock = 2 * QAESEncryption::kBlockLen;
    if (digits.isEmpty() || digits.size() % digitsPerBlock != 0) {
        return QString();
    }
    QAESEncryption aes(QAESEncryption::Aes256, QAESEncryption::ModeCbc, QAESEncryption::PaddingIso);
    const QByteArray decoded = aes.decode(QByteArray::fromHex(digits), cipherKey(), cipherIv());
    QByteArray plain = aes.removePadding(decoded);
    // A text of whole blocks gets no padding, so its own last byte may be 0x80 (the tail of many CJK and
    // Cyrillic characters) and look like a pad marker. Only one reading of the two is valid UTF-8.
    if (plain.size() == decoded.size() - 1 && isValidUtf8(decoded) && !isValidUtf8(plain)) {
        plain = decoded;
    }
    const int zero = plain.indexOf('\0');
    if (zero >= 0) {
        plain.truncate(zero);
    }
    return QString::fromUtf8(plain);
}

bool LoginInfo::checkIniFile()
{
    const QString templateFile = templatePath();
    const QString userFile = Singleton<cglobal>::getInstance()->getIniFilePath();
    // The folder holds the stored password and the certificate pins; a wider mode is repaired here.
    PrivateFiles::makePrivateDir(Singleton<cglobal>::getInstance()->getDataPath());

    QString newVersion;
    QString oldVersion;
    {
        QSettings templateSettings(templateFile, QSettings::IniFormat);
        useUtf8(templateSettings);
        newVersion = templateSettings.value(QStringLiteral("Basic/Version"), QString()).toString();
        QSettings userSettings(userFile, QSettings::IniFormat);
        useUtf8(userSettings);
        oldVersion = userSettings.value(QStringLiteral("Basic/Version"), QString()).toString();
    }
    logger->info(QStringLiteral("newVersion:") + newVersion + QStringLiteral(" oldVersion:") + oldVersion);

    if (QFile::exists(userFile) && newVersion == oldVersion) {
        if (PrivateFiles::restrictFile(userFile)) {
            logger->info(QStringLiteral("settings file made private: ") + userFile);
        }
        return true;
    }

    logger->info(QStringLiteral("ini file not existed in hyc path,  copy from applicaiton path"));
    logger->info(QStringLiteral("from path:") + templateFile);
    logger->info(QStringLiteral("to path:") + userFile);

    // Replaced in one step (mode 0600): a missing template or a full disk leaves the user's file as it was.
    QString error;
    if (!PrivateFiles::copyFile(templateFile, userFile, &error)) {
        logger->error(QStringLiteral("copy ini file failed:") + error);
        return false;
    }
    logger->info(QStringLiteral("copy ini file succeeded"));
    QSettings templateSettings(templateFile, QSettings::IniFormat);
    useUtf8(templateSettings);
    templateSettings.setValue(QStringLiteral("setting/IsInstallFirst"), 1);
    return true;
}

int LoginInfo::loadFromFile()
{
    if (!checkIniFile()) {
        return 2;
    }
    m_settings.reset(new QSettings(Singleton<cglobal>::getInstance()->getIniFilePath(), QSettings::IniFormat));
    useUtf8(*m_settings);
    QSettings& s = *m_settings;

    m_ksServerUrl = s.value(QStringLiteral("Login/KsServerUrl"), QString()).toString();
    // The fetch below already follows the local certificate rule; what the server pushes applies after it.
    readServerCertificate(false);
    if (!m_ksServerUrl.isEmpty()) {
        // Server-pushed settings land in the file before any of the keys below is read.
        if (serverSettingsSource()) {
            if (const std::optional<ServerSettings> pushed = serverSettingsSource()(m_ksServerUrl)) {
                applyServerSettings(*pushed);
            }
        }
    }

    m_ksServerName = s.value(QStringLiteral("Login/KsServerName"), tr("default KS server")).toString();
    m_userName = s.value(QStringLiteral("Login/LoginName"), QString()).toString();
    m_defaultLoginType = readNumber(s, QStringLiteral("Login/DefaultLoginType"), 0, 0, 2);
    m_isOld = readSwitch(s, QStringLiteral("Basic/IsOld"), false);
    m_version = s.value(QStringLiteral("Basic/Version"), QString()).toString();
    m_title = s.value(QStringLiteral("Basic/Title"), QString()).toString();
    m_info = s.value(QStringLiteral("setting/Info"), QString()).toString();
    m_guid = s.value(QStringLiteral("setting/GUID"), QString()).toString();
    m_supportScan = readSwitch(s, QStringLiteral("setting/supportScan"), false);
    m_showUser = readSwitch(s, QStringLiteral("setting/ShowUser"), false);
    m_showSystem = readSwitch(s, QStringLiteral("setting/ShowSystem"), false);
    m_showServer = readSwitch(s, QStringLiteral("setting/ShowServer"), false);
    m_showDevice = readSwitch(s, QStringLiteral("setting/ShowDevice"), false);
    m_showCost = readSwitch(s, QStringLiteral("setting/ShowCost"), false);
    m_supportSecret = readSwitch(s, QStringLiteral("setting/supportSecret"), false);
    m_multiDomain = readSwitch(s, QStringLiteral("setting/MultiDomain"), false);
    m_hidTask = readSwitch(s, QStringLiteral("setting/HidTask"), false);
    m_hiddMainDlg = readSwitch(s, QStringLiteral("setting/HiddMainDlg"), false);
    m_fileLimit = readSwitch(s, QStringLiteral("setting/fileLimit"), false);
    m_showQR = readSwitch(s, QStringLiteral("setting/ShowQR"), false);
    m_userNameEncrypt = readSwitch(s, QStringLiteral("setting/UserNameEncrypt"), false);
    m_jobFileZip = readSwitch(s, QStringLiteral("setting/jobFileZip"), false);
    // Bounded so the retry arithmetic (seconds, milliseconds, count times interval) stays within an int.
    m_autoLoginTime = readNumber(s, QStringLiteral("setting/AutoLoginTime"), 900, 0, 7 * 24 * 3600);
    m_autoLoginInterval = readNumber(s, QStringLiteral("setting/AutoLoginInterval"), 5, 1, 3600);
    m_autoLoginCount = readNumber(s, QStringLiteral("setting/AutoLoginCount"), 5, 0, 10000);
    m_dateTime = s.value(QStringLiteral("setting/DateTime"), QString()).toString();
    m_isShowProgress = readSwitch(s, QStringLiteral("setting/IsShowProgress"), false);
    // MiB; shifted into bytes by the upload, so never negative.
    m_showProgressFileSizeLimit
        = readNumber(s, QStringLiteral("setting/ShowProgressFileSizeLimit"), 50, 0, 1024 * 1024);
    m_isLocalization = readSwitch(s, QStringLiteral("setting/IsLocalization"), false);

    if (!m_userName.isEmpty() && m_userNameEncrypt) {
        m_userName = decryptValue(m_userName);
    }

    const QString storedPassword = s.value(QStringLiteral("Login/Password"), QString()).toString();
    m_password = storedPassword.isEmpty() ? QString() : decryptValue(storedPassword);

    m_autoLogin = readSwitch(s, QStringLiteral("Login/AutoLogin"), false);
    m_savePassword = readSwitch(s, QStringLiteral("Login/SavePassword"), false);
    m_systemUser = readSwitch(s, QStringLiteral("Login/SystemUser"), false);
    m_bingoLastTime = readSwitch(s, QStringLiteral("Login/BingoLastTime"), false);
    m_keepJobFiles = readSwitch(s, QStringLiteral("Debug/KeepJobFiles"), false);

    const int maxMessages = s.value(QStringLiteral("Message/UserNameEncrypt"), -1).toInt();
    m_maxMessageCount = maxMessages < 1 ? 50 : maxMessages;

    if (m_systemUser) {
        m_userName = qEnvironmentVariable("USER");
    }

    const int trayTimeoutSecs = s.value(QStringLiteral("Message/SysTrayMsgTimeoutSecs"), -1).toInt();
    // Capped so a huge value in the file cannot overflow into a negative display time.
    m_sysTrayMsgTimeoutMs = trayTimeoutSecs < 1 ? 1000 : int(qMin<qint64>(qint64(trayTimeoutSecs) * 1000, INT_MAX));

    const int segmentSize = s.value(QStringLiteral("Job/UploadFileSegmentSizeKbs"), 1).toInt();
    if (segmentSize > 0) {
        m_uploadFileSegmentSize = segmentSize;
    }
    const int minJobFileSize = s.value(QStringLiteral("Job/MinJobFileSizeBytes"), 1).toInt();
    if (minJobFileSize > 511) {
        m_minJobFileSizeBytes = minJobFileSize;
    }
    const int maxParamFileDelay = s.value(QStringLiteral("Job/maxParamFileDelayMin"), 1).toInt();
    if (maxParamFileDelay > 0) {
        m_maxParamFileDelayMin = maxParamFileDelay;
    }
    m_jobFolder = checkedJobFolder(s.value(QStringLiteral("Job/Path"), QLatin1String(kDefaultJobFolder)).toString());
    readServerCertificate(true);
    m_keepUnsentJobs = readSwitch(s, QStringLiteral("Job/KeepUnsentJobs"), true);
    m_keepUnsentHours = readNumber(s, QStringLiteral("Job/KeepUnsentHours"), 24, 1, 24 * 365);
    return 0;
}

void LoginInfo::readServerCertificate(bool complain)
{
    const QString key = QStringLiteral("setting/ServerCertificate");
    const QVariant value = m_settings->value(key);
    // The rules of the server's certificate (ServerTrust): pin, any or system, in any case.
    static const QStringList kRules { QStringLiteral("pin"), QStringLiteral("any"), QStringLiteral("system") };
    if (!value.isValid()) {
        m_serverCertificate = QStringLiteral("pin");
    } else if (kRules.contains(value.toString().trimmed().toLower())) {
        m_serverCertificate = value.toString().trimmed().toLower();
    } else {
        if (complain) {
            logUnusable(key, value, QStringLiteral("pin"));
        }
        m_serverCertificate = QStringLiteral("pin");
    }
}

void LoginInfo::saveToFile()
{
    QSettings s(Singleton<cglobal>::getInstance()->getIniFilePath(), QSettings::IniFormat);
    useUtf8(s);

    m_ksServerUrl = ServerUrl::withScheme(m_ksServerUrl);
    s.setValue(QStringLiteral("Login/KsServerUrl"), m_ksServerUrl);
    s.setValue(QStringLiteral("Login/KsServerName"), m_ksServerName);
    s.setValue(QStringLiteral("Login/LoginName"), m_userName);
    if (m_userNameEncrypt) {
        s.setValue(QStringLiteral("Login/LoginName"), encryptValue(m_userName));
    }
    if (m_savePassword) {
        s.setValue(QStringLiteral("Login/Password"), encryptValue(m_password));
    } else {
        s.setValue(QStringLiteral("Login/Password"), QString());
    }
    s.setValue(QStringLiteral("Login/AutoLogin"), m_autoLogin);
    s.setValue(QStringLiteral("Login/SavePassword"), m_savePassword);
    s.setValue(QStringLiteral("Login/SystemUser"), m_systemUser);
    s.setValue(QStringLiteral("Login/BingoLastTime"), m_bingoLastTime);
    s.sync();
    // A file written afresh (removed while the client ran) would get the default mode.
    PrivateFiles::restrictFile(s.fileName());
}

LoginInfo::ServerSettingsSource& LoginInfo::serverSettingsSource()
{
    static ServerSettingsSource source;
    return source;
}

void LoginInfo::setServerSettingsSource(ServerSettingsSource source)
{
    serverSettingsSource() = std::move(source);
}

void LoginInfo::applyServerSettings(const ServerSettings& settings)
{
    if (!m_settings) {
        return;
    }
    for (const QPair<QString, QString>& setting : settings) {
        m_settings->setValue(setting.first, setting.second);
    }
    m_settings->sync();
    PrivateFiles::restrictFile(m_settings->fileName());
}
