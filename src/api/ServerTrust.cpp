#include "ServerTrust.h"

#include "app/Logging.h"
#include "app/PrivateFiles.h"
#include "app/UserPaths.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>

static Logger* logger = Logging::rootLogger();

namespace {

// Set on requests whose certificate may be judged by the pin rule.
const QNetworkRequest::Attribute kPinnable = QNetworkRequest::Attribute(QNetworkRequest::User + 71);

ServerTrust::Mode& currentMode()
{
    static ServerTrust::Mode mode = ServerTrust::Mode::Pin;
    return mode;
}

ServerTrust::Refusal& lastRefusal()
{
    static ServerTrust::Refusal refusal;
    return refusal;
}

QString pinKey(const QString& server)
{
    return QStringLiteral("Pins/") + server;
}

} // namespace

ServerTrust* ServerTrust::instance()
{
    // Lives as long as the process: managers of every lifetime connect to it.
    static ServerTrust* trust = new ServerTrust;
    return trust;
}

void ServerTrust::setMode(Mode mode)
{
    currentMode() = mode;
}

ServerTrust::Mode ServerTrust::mode()
{
    return currentMode();
}

bool ServerTrust::governs(const QString& tlsBase)
{
    // Case-sensitive on purpose.
    return tlsBase.startsWith(QLatin1String("https"));
}

bool ServerTrust::verifiesCertificate(const QString& url)
{
    if (QUrl(url, QUrl::TolerantMode).scheme() != QLatin1String("https")) {
        return false;
    }
    return !governs(url) || mode() != Mode::Any;
}

void ServerTrust::prepare(QNetworkRequest& request, const QString& tlsBase)
{
    if (!governs(tlsBase)) {
        return;
    }
    QSslConfiguration config = request.sslConfiguration();
    request.setAttribute(kPinnable, configure(config, tlsBase));
    request.setSslConfiguration(config);
}

bool ServerTrust::configure(QSslConfiguration& config, const QString& tlsBase)
{
    if (!governs(tlsBase)) {
        return false;
    }
    config.setProtocol(QSsl::AnyProtocol);
    const Mode current = mode();
    if (current == Mode::Any) {
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        return false;
    }
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    return current == Mode::Pin;
}

void ServerTrust::watch(QNetworkAccessManager* nam)
{
    if (nam) {
        connect(nam, &QNetworkAccessManager::sslErrors, instance(), &ServerTrust::judge, Qt::UniqueConnection);
    }
}

QString ServerTrust::serverKey(const QUrl& url)
{
    return url.host().toLower() + QLatin1Char(':') + QString::number(url.port(443));
}

QString ServerTrust::fingerprint(const QSslCertificate& certificate)
{
    const QByteArray hex = certificate.digest(QCryptographicHash::Sha256).toHex().toUpper();
    QStringList pairs;
    for (int i = 0; i + 1 < hex.size(); i += 2) {
        pairs.append(QString::fromLatin1(hex.mid(i, 2)));
    }
    return pairs.join(QLatin1Char(':'));
}

QString ServerTrust::pinFilePath()
{
    return UserPaths::dataPath() + QStringLiteral("/servercerts.ini");
}

QString ServerTrust::pinnedFingerprint(const QString& server)
{
    const QSettings pins(pinFilePath(), QSettings::IniFormat);
    return pins.value(pinKey(server)).toString();
}

bool ServerTrust::pin(const QString& server, const QString& fingerprint)
{
    PrivateFiles::makePrivateDir(UserPaths::dataPath());
    QSettings pins(pinFilePath(), QSettings::IniFormat);
    pins.setValue(pinKey(server), fingerprint);
    pins.sync();
    PrivateFiles::restrictFile(pinFilePath());
    return pins.status() == QSettings::NoError;
}

ServerTrust::Refusal ServerTrust::takeRefusal()
{
    Refusal refusal = lastRefusal();
    lastRefusal() = Refusal();
    return refusal;
}

void ServerTrust::clearRefusal()
{
    lastRefusal() = Refusal();
}

void ServerTrust::judge(QNetworkReply* reply, const QList<QSslError>& errors)
{
    if (accepts(reply->url(), reply->sslConfiguration().peerCertificate(), errors,
                reply->request().attribute(kPinnable).toBool())) {
        // These errors of this certificate only: a connection the shared manager reopens later to a server
        // with another certificate is judged again.
        reply->ignoreSslErrors(errors);
    }
}

bool ServerTrust::accepts(const QUrl& url, const QSslCertificate& peer, const QList<QSslError>& errors, bool pinnable)
{
    QSslCertificate certificate = peer;
    if (certificate.isNull() && !errors.isEmpty()) {
        certificate = errors.constFirst().certificate();
    }
    QStringList reasons;
    for (const QSslError& error : errors) {
        reasons.append(error.errorString());
    }
    return accepts(serverKey(url), certificate.isNull() ? QString() : fingerprint(certificate), pinnable,
                   reasons.join(QStringLiteral("; ")));
}

bool ServerTrust::accepts(const QString& server, const QString& presented, bool pinnable, const QString& reasons)
{
    if (presented.isEmpty() || !pinnable) {
        logger->error(QStringLiteral("[ServerTrust] certificate of %1 refused: %2").arg(server, reasons));
        lastRefusal() = Refusal { server, QString(), presented };
        return false;
    }
    const QString pinned = pinnedFingerprint(server);
    if (pinAllows(pinned, presented)) {
        if (pinned.isEmpty()) {
            pin(server, presented);
            logger->info(QStringLiteral("[ServerTrust] first connection to %1: certificate SHA-256 %2 pinned")
                             .arg(server, presented));
        }
        return true;
    }
    logger->error(QStringLiteral("[ServerTrust] certificate of %1 refused: pinned SHA-256 %2, presented SHA-256 %3")
                      .arg(server, pinned, presented));
    lastRefusal() = Refusal { server, pinned, presented };
    return false;
}
