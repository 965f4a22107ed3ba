#pragma once

#include "config/CertificateRule.h"

#include <QList>
#include <QObject>
#include <QSslError>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QSslCertificate;
class QSslConfiguration;
class QUrl;

// The one rule by which the client trusts an "https" server (setting/ServerCertificate):
//   pin     a certificate the system trust store accepts is used as usual; any other (self-signed) is
//           pinned by its SHA-256 fingerprint for that address on first use, and from then on only that
//           certificate is accepted there;
//   any     every certificate is accepted (no check at all);
//   system  only certificates the system trust store accepts.
// Pins live in their own file in the data folder (mode 0600), out of reach of the server-pushed settings
// and kept when a new settings template replaces the settings file.
class ServerTrust : public QObject
{
    Q_OBJECT
public:
    using Mode = CertificateRule;

    // What a refused certificate looked like; pinned is empty when it was refused for not verifying.
    struct Refusal
    {
        QString server; // "host:port"
        QString pinned;
        QString presented;
        bool isValid() const { return !server.isEmpty(); }
    };

    // The rule in force (setting/ServerCertificate as the settings read it); "pin" until one is set.
    static void setMode(Mode mode);
    static Mode mode();

    // Whether the rule applies to a request whose base address is tlsBase: only a lower-case "https" prefix
    // decides; any other address keeps the TLS library's own verification.
    static bool governs(const QString& tlsBase);
    // Whether requests to url check the server's certificate: an https address whose rule is not "any" (a
    // pinned certificate counts as checked). An "https" address in other letter cases has the TLS library's
    // own check.
    static bool verifiesCertificate(const QString& url);
    // TLS configuration of a request, for a base the rule governs.
    static void prepare(QNetworkRequest& request, const QString& tlsBase);
    // The same for a connection of its own; true when its certificate may be judged by the pin rule.
    static bool configure(QSslConfiguration& config, const QString& tlsBase);
    // Whether a certificate that did not verify is accepted for the server at url (pinned on first use).
    static bool accepts(const QUrl& url, const QSslCertificate& peer, const QList<QSslError>& errors, bool pinnable);
    // The same for a fingerprint (empty: none could be read), with the reasons it did not verify; for the
    // requests that do not go through Qt. Pins, logs and records a refusal.
    static bool accepts(const QString& server, const QString& presented, bool pinnable, const QString& reasons);
    // The pin rule itself, free of side effects (a worker thread asks it during the handshake).
    static bool pinAllows(const QString& pinned, const QString& presented)
    {
        return !presented.isEmpty() && (pinned.isEmpty() || pinned == presented);
    }
    // Every reply of the manager whose certificate does not verify is then judged by the rule.
    static void watch(QNetworkAccessManager* nam);

    static QString serverKey(const QUrl& url);
    // Upper-case hex pairs joined by ':'.
    static QString fingerprint(const QSslCertificate& certificate);
    static QString pinFilePath();
    static QString pinnedFingerprint(const QString& server);
    static bool pin(const QString& server, const QString& fingerprint);

    // The latest refusal, handed out once (the login dialog asks the user about it).
    static Refusal takeRefusal();
    static void clearRefusal();

private slots:
    void judge(QNetworkReply* reply, const QList<QSslError>& errors);

private:
    static ServerTrust* instance();
};
