#include "KsKit.h"

#include "HttpExchange.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "app/cglobal.h"
#include "config/LoginInfo.h"

#include <QCryptographicHash>
#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QSettings>
#include <QtDebug>

static Logger* logger = Logging::rootLogger();

namespace {

std::function<QDateTime()>& clockSeam()
{
    static std::function<QDateTime()> clock;
    return clock;
}

std::function<QString()>& domainSeam()
{
    static std::function<QString()> domain;
    return domain;
}

// UTF-8, then Base64, then every byte outside the unreserved set as %XX.
QString base64Field(const QString& text)
{
    return QString::fromLatin1(text.toUtf8().toBase64().toPercentEncoding());
}

} // namespace

KsKit::KsKit(QObject* parent)
    : QObject(parent)
    , m_settings(new QSettings(Singleton<cglobal>::getInstance()->getIniFilePath(), QSettings::IniFormat))
    , m_nam(new QNetworkAccessManager(this))
{
    m_settings->setIniCodec("UTF-8");
    // A default of its own: a missing key means a system user here.
    m_systemUser = LoginInfo::readSwitch(*m_settings, QStringLiteral("Login/SystemUser"), true);
}

KsKit::~KsKit() = default;

bool KsKit::login(QString& message)
{
    LoginInfo* info = Singleton<LoginInfo>::getInstance();
    const QString version = m_settings->value(QStringLiteral("Basic/Version"), QString()).toString();
    const QString serverUrl = info->ksServerUrl();
    const QString url = serverUrl + QStringLiteral("/Orvinaweb/BAS_ClientLoginNew");
    const QString userName = info->userName();
    if (m_systemUser) {
        m_accountVerify = QStringLiteral("2");
    }

    // One pass over the template, so a "%2B" that the password brings along is never taken for a placeholder.
    const QString form = QStringLiteral("Password=%1&ClientVersion=%2&Type=0&UserID=&UserType=&AccountVerify=%3")
                             .arg(base64Field(info->pasword()), QStringLiteral("L") + version, m_accountVerify);
    const QByteArray body = form.toUtf8() + "&UserAccount=" + base64Field(userName).toUtf8();

    HttpExchange exchange(m_nam);
    const HttpAnswer answer = exchange.post(url, body, HttpExchange::kFormContentType, serverUrl);
    if (!answer.isJson()) {
        // Shown to the user by the start-up login; the log line stays in English.
        message = tr("login fail");
        logger->error(QStringLiteral("[kskit.login] login fail"));
        return false;
    }
    if (!answer.isObject()) {
        return false;
    }
    if (answer.code() != 0) {
        message = answer.message();
        logger->error(QStringLiteral("[kskit.login] %1").arg(message));
        return false;
    }

    const QJsonValue data = answer.data();
    if (data.isObject()) {
        const QJsonObject object = data.toObject();
        if (m_systemUser) {
            const QString domain = localDomainName();
            const QString hostAddress = object.value(QLatin1String("HostAddress")).toString();
            if (!domain.isEmpty() && domain.toLower() != hostAddress.toLower()) {
                logger->info(QStringLiteral("###### domain name error"));
                logger->info(QStringLiteral("###### HostAddress :") + hostAddress
                             + QStringLiteral(" local domain name :") + domain);
                return false;
            }
        }
        const QString account = object.value(QLatin1String("UserAccount")).toString();
        qDebug().noquote() << QStringLiteral("[kskit-login] account ") + account;
        // An answer without an account keeps the name the user logged in with rather than blanking it.
        if (!account.isEmpty()) {
            info->setUserName(account);
            // Stored the way the next start reads it back: a plain name where names are kept encrypted
            // would decrypt to nothing, and the saved login would be lost.
            const bool encrypted = LoginInfo::readSwitch(*m_settings, QStringLiteral("setting/UserNameEncrypt"), false);
            m_settings->setValue(QStringLiteral("Login/LoginName"),
                                 encrypted ? QVariant(LoginInfo::encryptValue(account)) : QVariant(account));
            m_settings->sync();
        }
    }

    logger->info(QStringLiteral("###### auto login success"));
    info->setIsLogin(true);
    return true;
}

bool KsKit::CheckNetwork(QString url)
{
    HttpExchange exchange(m_nam);
    exchange.setTimeoutIsTotal(true);
    const HttpAnswer answer = exchange.get(url, url, HttpExchange::kProbeTimeoutMs);
    if (answer.timedOut) {
        logger->error(QStringLiteral("[kskit.CheckNetwork] http Timeout:") + answer.errorString);
        return false;
    }
    if (answer.transferFailed()) {
        logger->error(QStringLiteral("[kskit.CheckNetwork] Error String :") + answer.errorString);
        return false;
    }
    return true;
}

QStringList KsKit::GetIp()
{
    QStringList result;
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress& address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            result.append(address.toString());
            logger->info(QStringLiteral("[kskit.GetIp] IPV4:") + address.toString());
        } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
            logger->info(QStringLiteral("[kskit.GetIp] IPV6:") + address.toString());
        }
    }
    return result;
}

QList<KsPrinter> KsKit::getPrinters(QString userAccount, int type)
{
    const QString base = Singleton<LoginInfo>::getInstance()->ksServerUrl();
    const QString url = base + QStringLiteral("/Device/BAS_DeviceStatusList?Type=%2").arg(type)
        + QStringLiteral("&UserAccount=") + userAccount;
    HttpExchange exchange(m_nam);
    const HttpAnswer answer = exchange.get(url, base);
    if (!answer.isObject() || answer.code() != 0) {
        return {};
    }
    return KsPrinter::listFromJson(answer.data());
}

QList<KsProject> KsKit::getProjects(QString userAccount)
{
    const QString base = Singleton<LoginInfo>::getInstance()->ksServerUrl();
    const QString url = base + QStringLiteral("/User/BAS_ProjectList?strUserAccount=") + userAccount;
    HttpExchange exchange(m_nam);
    const HttpAnswer answer = exchange.get(url, base);
    if (!answer.isObject() || answer.code() != 0) {
        return {};
    }
    return KsProject::listFromJson(answer.data());
}

KsUserInfo KsKit::getKsUserInfo(QString userAccount)
{
    const QString base = Singleton<LoginInfo>::getInstance()->ksServerUrl();
    const QString url = base + QStringLiteral("/User/BAS_UserPermission?UserAccount=") + userAccount;
    HttpExchange exchange(m_nam);
    const HttpAnswer answer = exchange.get(url, base);
    if (!answer.isObject() || answer.code() != 0) {
        return KsUserInfo();
    }
    return KsUserInfo::fromJson(answer.data().toObject());
}

QString KsKit::CheckClientUpdate(QString userAccount)
{
    const QString base = Singleton<LoginInfo>::getInstance()->ksServerUrl();
    // Filled in one pass: an encoded account such as "a%2Bb" must not be mistaken for a placeholder.
    const QString url = base
        + QStringLiteral("/Orvinaweb/BAS_CheckClientUpdate_New?UserAccount=%1&type=%2&SysType=%3")
              .arg(userAccount, QStringLiteral("3"), QStringLiteral("amd"));
    HttpExchange exchange(m_nam);
    const HttpAnswer answer = exchange.get(url, base);
    if (!answer.isObject() || answer.code() != 0) {
        return QString();
    }
    return answer.data().toString();
}

KsReqCommon KsKit::repCommonParamAt(const QDateTime& localTime)
{
    KsReqCommon common;
    common.timestamp = localTime.toString(QStringLiteral("yyyyMMddHHmmss"));
    const QByteArray signed_ = (common.timestamp + QLatin1String(kSigningSalt)).toLatin1();
    common.signature
        = QString::fromLatin1(QCryptographicHash::hash(signed_, QCryptographicHash::Md5).toHex()).toUpper();
    return common;
}

void KsKit::GetRepCommonParam(KsReqCommon& common)
{
    const KsReqCommon filled = repCommonParamAt(clockSeam() ? clockSeam()() : QDateTime::currentDateTime());
    common.timestamp = filled.timestamp;
    common.signature = filled.signature;
}

void KsKit::setClockForTests(std::function<QDateTime()> clock)
{
    clockSeam() = std::move(clock);
}

void KsKit::setLocalDomainNameForTests(std::function<QString()> domainName)
{
    domainSeam() = std::move(domainName);
}

QString KsKit::localDomainName()
{
    return domainSeam() ? domainSeam()() : QHostInfo::localDomainName();
}
