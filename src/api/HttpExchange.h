#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QString>

class QNetworkAccessManager;
class QNetworkProxy;
class QUrl;

// What one exchange produced: the body, how the transfer ended, and the body read as JSON.
struct HttpAnswer
{
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorString;
    bool timedOut = false; // no progress within the transfer timeout; the reply was aborted
    int httpStatus = 0;
    QJsonDocument document;
    bool parseOk = false; // document not null and no parse error

    // Reads body as JSON into document and parseOk.
    void parseBody();

    bool transferFailed() const { return error != QNetworkReply::NoError; }
    // No answer at all: the server was not reached (refused, closed, TLS, proxy) or said nothing in time.
    bool unanswered() const { return timedOut || (error > QNetworkReply::NoError && error < 200); }
    // The server's no: an answer envelope with a non-zero "code", whatever the HTTP status it came with.
    bool isRefusal() const { return isObject() && code() != 0; }
    // What may pass: no envelope came back (no answer, a time-out, an error page, garbage), or a success
    // envelope under a failed transfer or an error status.
    bool isTransient() const { return !isObject() || (code() == 0 && (transferFailed() || httpStatus >= 400)); }
    // The one text of a failed exchange, for the log and the user; empty when nothing failed.
    QString failureText() const;
    // Usable answer: valid JSON whose document is an object.
    bool isJson() const { return parseOk; }
    bool isObject() const { return parseOk && document.isObject(); }
    QJsonObject object() const { return document.object(); }
    // Envelope: "code" as an integer (0 when missing or not numeric), "message", "data".
    int code() const;
    QString message() const;
    QJsonValue data() const;
};

// The one synchronous request helper of the UI thread's network manager: tolerant URL, the client's certificate
// rule for "https" addresses (ServerTrust), a nested event loop until the reply finishes, the transfer time-out (no
// progress for that long ends the exchange like a failed connection), the body read in one piece and released with
// its reply. Its static pieces are the rules the job pipeline's libcurl side (CurlExchange) shares.
class HttpExchange
{
public:
    static constexpr int kTransferTimeoutMs = 30000;
    static constexpr int kConfigFetchTimeoutMs = 10000;
    static constexpr int kProbeTimeoutMs = 5000;
    static constexpr const char* kFormContentType = "application/x-www-form-urlencoded";

    // nam may be null: the exchange then uses a manager of its own for its lifetime.
    explicit HttpExchange(QNetworkAccessManager* nam = nullptr);
    ~HttpExchange();
    HttpExchange(const HttpExchange&) = delete;
    HttpExchange& operator=(const HttpExchange&) = delete;

    // tlsBase: the address whose "https" prefix decides the certificate rule (the server base URL); empty = url.
    // timeoutMs > 0 bounds the whole exchange (the probe, the start-up's fetch); otherwise only silence is bounded,
    // by transferTimeout().
    HttpAnswer get(const QString& url, const QString& tlsBase = QString(), int timeoutMs = 0);
    HttpAnswer post(const QString& url, const QByteArray& body, const QByteArray& contentType = kFormContentType,
                    const QString& tlsBase = QString(), int timeoutMs = 0);
    // GET of a request prepared with makeRequest(), for callers that add headers of their own.
    HttpAnswer getRequest(const QNetworkRequest& request, int timeoutMs = 0);

    // Exclude user input events from the nested loop while waiting (the cancel request does this).
    void setExcludeUserInput(bool exclude) { m_excludeUserInput = exclude; }
    // Ends the exchange now waiting for its answer, as a failed transfer; the manager may be shared, so
    // only this exchange's reply is touched.
    void abort();

    // Shared pieces for requests that are not synchronous (the main window's tab loads, file transfer):
    // their manager goes through ServerTrust::watch() as well. Every request gets the transfer time-out.
    static QNetworkRequest makeRequest(const QString& url, const QString& tlsBase = QString());
    // The proxy for url as Qt's manager chooses it (the system's: http_proxy, https_proxy, no_proxy), for the
    // requests that do not go through Qt.
    static QNetworkProxy proxyFor(const QUrl& url);
    static void readAnswer(QNetworkReply* reply, HttpAnswer& answer);

    // A finished exchange read as Qt reads its reply: from 400 on the status as an error with Qt's text, below
    // it Qt's text of a finished reply. For the requests that do not go through Qt.
    static void readStatus(HttpAnswer& answer, const QUrl& url, const QByteArray& reason);
    // The Accept-Language field Qt's HTTP layer adds on its own from the system locale.
    static QByteArray acceptLanguage();

    // UTF-8 bytes, every byte outside letters, digits and "-._~" as "%XX" (upper-case hex).
    static QByteArray percentEncode(const QString& text);

    static int transferTimeout();
    // Tests shorten the transfer timeout; 0 restores the default.
    static void setTransferTimeoutForTests(int ms);
    // Tests shorten the bound of whole exchanges (the probe, the start-up's fetch); 0 restores the callers' own.
    static void setExchangeBoundForTests(int ms);

private:
    HttpAnswer run(QNetworkReply* reply, int timeoutMs);

    QNetworkAccessManager* m_nam = nullptr;
    QNetworkAccessManager* m_ownNam = nullptr;
    bool m_excludeUserInput = false;
    QNetworkReply* m_running = nullptr;
    bool m_aborted = false;
};
