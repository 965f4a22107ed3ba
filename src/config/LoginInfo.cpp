#include "LoginInfo.h"

#include "QAESEncryption.h"
#include "api/HttpExchange.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "app/cglobal.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QTextCodec>

#include <cctype>
#include <climits>

static Logger* logger = Logging::rootLogger();

namespace {

// Key material for the stored credentials. Changing either text makes existing files unreadable.
const char* const kKeyText = "Kq7#Vm2!Tz9wR"; // 13 characters
const char* const kIvText = "p4Lx@8Nc3Hs6"; // 12 characters

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
        if (isxdigit(c.unicode()) && c.unicode() < 0x80) {
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
        return true;
    }

    logger->info(QStringLiteral("ini file not existed in hyc path,  copy from applicaiton path"));
    logger->info(QStringLiteral("from path:") + templateFile);
    logger->info(QStringLiteral("to path:") + userFile);

    if (QFile::exists(userFile)) {
        QFile::remove(userFile);
    }
    QFile source(templateFile);
    if (!source.copy(userFile)) {
        logger->error(QStringLiteral("copy ini file failed:") + source.errorString());
        return false;
    }
    // The template may come read-only from the installation; the copy keeps the user file writable.
    QFile::setPermissions(userFile, QFile::permissions(userFile) | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
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
    if (!m_ksServerUrl.isEmpty()) {
        // Server-pushed settings land in the file before any of the keys below is read.
        getConfigInfo();
    }

    m_ksServerName = s.value(QStringLiteral("Login/KsServerName"), tr("default KS server")).toString();
    m_userName = s.value(QStringLiteral("Login/LoginName"), QString()).toString();
    m_defaultLoginType = s.value(QStringLiteral("Login/DefaultLoginType"), 0).toInt();
    m_isOld = s.value(QStringLiteral("Basic/IsOld"), false).toBool();
    m_version = s.value(QStringLiteral("Basic/Version"), QString()).toString();
    m_title = s.value(QStringLiteral("Basic/Title"), QString()).toString();
    m_info = s.value(QStringLiteral("setting/Info"), QString()).toString();
    m_guid = s.value(QStringLiteral("setting/GUID"), QString()).toString();
    m_supportScan = s.value(QStringLiteral("setting/supportScan"), false).toBool();
    m_showUser = s.value(QStringLiteral("setting/ShowUser"), false).toBool();
    m_showSystem = s.value(QStringLiteral("setting/ShowSystem"), false).toBool();
    m_showServer = s.value(QStringLiteral("setting/ShowServer"), false).toBool();
    m_showDevice = s.value(QStringLiteral("setting/ShowDevice"), false).toBool();
    m_showCost = s.value(QStringLiteral("setting/ShowCost"), false).toBool();
    m_supportSecret = s.value(QStringLiteral("setting/supportSecret"), false).toBool();
    m_multiDomain = s.value(QStringLiteral("setting/MultiDomain"), false).toBool();
    m_hidTask = s.value(QStringLiteral("setting/HidTask"), false).toBool();
    m_hiddMainDlg = s.value(QStringLiteral("setting/HiddMainDlg"), false).toBool();
    m_fileLimit = s.value(QStringLiteral("setting/fileLimit"), false).toBool();
    m_showQR = s.value(QStringLiteral("setting/ShowQR"), false).toBool();
    m_userNameEncrypt = s.value(QStringLiteral("setting/UserNameEncrypt"), false).toBool();
    m_jobFileZip = s.value(QStringLiteral("setting/jobFileZip"), false).toBool();
    m_autoLoginTime = s.value(QStringLiteral("setting/AutoLoginTime"), 900).toInt();
    m_autoLoginInterval = s.value(QStringLiteral("setting/AutoLoginInterval"), 5).toInt();
    m_autoLoginCount = s.value(QStringLiteral("setting/AutoLoginCount"), 5).toInt();
    m_dateTime = s.value(QStringLiteral("setting/DateTime"), QString()).toString();
    m_isShowProgress = s.value(QStringLiteral("setting/IsShowProgress"), false).toBool();
    m_showProgressFileSizeLimit = s.value(QStringLiteral("setting/ShowProgressFileSizeLimit"), 50).toInt();
    m_isLocalization = s.value(QStringLiteral("setting/IsLocalization"), false).toBool();

    if (!m_userName.isEmpty() && m_userNameEncrypt) {
        m_userName = decryptValue(m_userName);
    }

    const QString storedPassword = s.value(QStringLiteral("Login/Password"), QString()).toString();
    m_password = storedPassword.isEmpty() ? QString() : decryptValue(storedPassword);

    m_autoLogin = s.value(QStringLiteral("Login/AutoLogin"), false).toBool();
    m_savePassword = s.value(QStringLiteral("Login/SavePassword"), false).toBool();
    m_systemUser = s.value(QStringLiteral("Login/SystemUser"), false).toBool();
    m_bingoLastTime = s.value(QStringLiteral("Login/BingoLastTime"), false).toBool();
    m_keepJobFiles = s.value(QStringLiteral("Debug/KeepJobFiles"), false).toBool();

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
    m_keepUnsentJobs = s.value(QStringLiteral("Job/KeepUnsentJobs"), true).toBool();
    const int keepUnsentHours = s.value(QStringLiteral("Job/KeepUnsentHours"), 24).toInt();
    m_keepUnsentHours = keepUnsentHours > 0 ? keepUnsentHours : 24;
    return 0;
}

void LoginInfo::saveToFile()
{
    QSettings s(Singleton<cglobal>::getInstance()->getIniFilePath(), QSettings::IniFormat);
    useUtf8(s);

    if (!m_ksServerUrl.contains(QLatin1String("http"))) {
        m_ksServerUrl = QStringLiteral("http://") + m_ksServerUrl;
    }
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
}

void LoginInfo::getConfigInfo()
{
    if (m_ksServerUrl.isEmpty() || !m_settings) {
        return;
    }
    if (!m_nam) {
        m_nam = new QNetworkAccessManager(this);
    }
    HttpAnswer answer;
    {
        HttpExchange exchange(m_nam);
        exchange.setTimeoutIsTotal(true);
        // A dead server must not hold start-up: the fetch is bounded and then treated like a failed connection.
        QNetworkRequest request = HttpExchange::makeRequest(
            m_ksServerUrl + QStringLiteral("/Orvinaweb/GetClientConfigInfo"), m_ksServerUrl);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(HttpExchange::kFormContentType));
        answer = exchange.getRequest(request, HttpExchange::kConfigFetchTimeoutMs);
    }
    // The fetch runs once per process; the manager must not outlive the application object.
    delete m_nam;
    m_nam = nullptr;

    if (!answer.isJson()) {
        qDebug() << "getConfigInfo fail";
        return;
    }
    const QJsonObject root = answer.object();
    if (root.value(QStringLiteral("code")).toInt(0) != 0) {
        return;
    }
    const QJsonArray entries = root.value(QStringLiteral("data")).toArray();
    for (const QJsonValue& entry : entries) {
        const QJsonObject item = entry.toObject();
        if (item.value(QStringLiteral("IsUpdate")).toInt(0) != 1) {
            continue;
        }
        const QString key = item.value(QStringLiteral("Section")).toString() + QLatin1Char('/')
            + item.value(QStringLiteral("Key")).toString();
        // Stored as text, so "true"/"false" and digits read back as booleans and integers.
        m_settings->setValue(key, item.value(QStringLiteral("Value")).toVariant().toString());
    }
    m_settings->sync();
}
