#include "ChunkUpload.h"

#include "api/ServerTrust.h"
#include "app/Logging.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QJsonParseError>
#include <QLocale>
#include <QTimer>
#include <QUrl>

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

static Logger* logger = Logging::rootLogger();

namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting post asks whether it should stop.
constexpr int kStopPollMs = 100;

bool curlHasOpenSsl()
{
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info && info->ssl_version && QByteArray(info->ssl_version).startsWith("OpenSSL");
}

void globalInit()
{
    static std::once_flag once;
    std::call_once(once, []() { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QNetworkReply::NetworkError networkError(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return QNetworkReply::HostNotFoundError;
    case CURLE_COULDNT_CONNECT:
        return QNetworkReply::ConnectionRefusedError;
    case CURLE_OPERATION_TIMEDOUT:
        return QNetworkReply::TimeoutError;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return QNetworkReply::SslHandshakeFailedError;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return QNetworkReply::RemoteHostClosedError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

} // namespace

struct ChunkUpload::Transfer
{
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    QByteArray url;
    QByteArray contentType;
    QString tlsBase;
    std::function<bool()> stop;
    // Without an OpenSSL libcurl the certificate rule cannot be applied here: such https uploads keep Qt's path.
    std::unique_ptr<HttpExchange> fallback;

    // Pin rule: the server's key and its pinned SHA-256; what the server presented on first use.
    bool pinRule = false;
    QString server;
    QByteArray host;
    QByteArray pinned;
    QByteArray firstSeen;
    QByteArray refused;

    // Touched by the worker while a post runs, read by the caller after it joined.
    QByteArray body;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::atomic<bool> abort { false };
    bool timedOut = false;
    int timeoutMs = 0;
    curl_off_t lastUp = -1;
    curl_off_t lastDown = -1;
    Clock::time_point lastProgress;

    static size_t write(char* data, size_t size, size_t count, void* self)
    {
        static_cast<Transfer*>(self)->body.append(data, static_cast<int>(size * count));
        return size * count;
    }

    // The time-out measures silence, as HttpExchange's does; any byte either way restarts it.
    static int progress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up)
    {
        Transfer* t = static_cast<Transfer*>(self);
        const Clock::time_point now = Clock::now();
        if (up != t->lastUp || down != t->lastDown) {
            t->lastUp = up;
            t->lastDown = down;
            t->lastProgress = now;
        } else if (now - t->lastProgress > std::chrono::milliseconds(t->timeoutMs)) {
            t->timedOut = true;
            return 1;
        }
        return t->abort.load() ? 1 : 0;
    }

    // ServerTrust's pin rule on the handshake, before any byte of the body leaves: a certificate the system
    // trusts for this host passes, any other only when its SHA-256 is the pinned one (or none is pinned yet).
    static int verifyChain(X509_STORE_CTX* store, void* self)
    {
        Transfer* t = static_cast<Transfer*>(self);
        if (X509_verify_cert(store) == 1) {
            return 1;
        }
        X509* leaf = X509_STORE_CTX_get0_cert(store);
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (!leaf || X509_digest(leaf, EVP_sha256(), digest, &length) != 1) {
            return 0;
        }
        QByteArray presented;
        for (unsigned int i = 0; i < length; ++i) {
            if (i > 0) {
                presented.append(':');
            }
            presented.append(QByteArray(1, static_cast<char>(digest[i])).toHex().toUpper());
        }
        if (!t->pinned.isEmpty() && t->pinned != presented) {
            t->refused = presented;
            return 0;
        }
        if (t->pinned.isEmpty()) {
            t->firstSeen = presented;
        }
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }

    static CURLcode prepareTls(CURL*, void* sslContext, void* self)
    {
        Transfer* t = static_cast<Transfer*>(self);
        SSL_CTX* context = static_cast<SSL_CTX*>(sslContext);
        SSL_CTX_set_default_verify_paths(context);
        X509_VERIFY_PARAM* param = SSL_CTX_get0_param(context);
        const bool isAddress = !QHostAddress(QString::fromLatin1(t->host)).isNull();
        const int set = isAddress ? X509_VERIFY_PARAM_set1_ip_asc(param, t->host.constData())
                                  : X509_VERIFY_PARAM_set1_host(param, t->host.constData(), 0);
        if (set != 1) {
            return CURLE_SSL_CERTPROBLEM;
        }
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_cert_verify_callback(context, &Transfer::verifyChain, self);
        return CURLE_OK;
    }
};

QByteArray ChunkUpload::acceptLanguage()
{
    const QString locale = QLocale::system().name().replace(QLatin1Char('_'), QLatin1Char('-'));
    if (locale == QLatin1String("C")) {
        return QByteArrayLiteral("en,*");
    }
    if (locale.startsWith(QLatin1String("en-"))) {
        return locale.toLatin1() + ",*";
    }
    return locale.toLatin1() + ",en,*";
}

ChunkUpload::ChunkUpload(const QString& url, const QByteArray& contentType, const QString& tlsBase,
                         std::function<bool()> stop)
    : m_transfer(new Transfer)
{
    Transfer* t = m_transfer.get();
    t->contentType = contentType;
    t->tlsBase = tlsBase;
    t->stop = std::move(stop);
    const QUrl parsed(url, QUrl::TolerantMode);
    t->url = parsed.toEncoded();
    const bool https = parsed.scheme() == QLatin1String("https");
    if (https && !curlHasOpenSsl()) {
        t->fallback.reset(new HttpExchange());
        return;
    }

    globalInit();
    t->easy = curl_easy_init();
    if (!t->easy) {
        t->fallback.reset(new HttpExchange());
        return;
    }
    CURL* e = t->easy;
    curl_easy_setopt(e, CURLOPT_URL, t->url.constData());
    curl_easy_setopt(e, CURLOPT_PROXY, ""); // Qt's manager uses no proxy either
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->errorBuffer);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::write);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, t);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Transfer::progress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, t);

    // The request as Qt writes it: no "Accept", no "Expect: 100-continue", Qt's own fields.
    const QByteArray fields[] = {
        QByteArrayLiteral("Content-Type: ") + contentType,
        QByteArrayLiteral("Connection: Keep-Alive"),
        QByteArrayLiteral("Accept-Language: ") + acceptLanguage(),
        QByteArrayLiteral("User-Agent: Mozilla/5.0"),
        QByteArrayLiteral("Accept:"),
        QByteArrayLiteral("Expect:"),
    };
    for (const QByteArray& field : fields) {
        t->headers = curl_slist_append(t->headers, field.constData());
    }
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headers);

    if (!https) {
        return;
    }
    // Case-sensitive like ServerTrust::prepare: any other base keeps the library's own verification.
    const ServerTrust::Mode mode
        = tlsBase.startsWith(QLatin1String("https")) ? ServerTrust::mode() : ServerTrust::Mode::System;
    if (mode == ServerTrust::Mode::System) {
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
        return;
    }
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
    if (mode == ServerTrust::Mode::Any) {
        return;
    }
    t->pinRule = true;
    t->server = ServerTrust::serverKey(parsed);
    t->host = parsed.host().toLatin1();
    t->pinned = ServerTrust::pinnedFingerprint(t->server).toLatin1();
    if (curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &Transfer::prepareTls) != CURLE_OK
        || curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, t) != CURLE_OK) {
        curl_easy_cleanup(e);
        t->easy = nullptr;
        t->fallback.reset(new HttpExchange());
    }
}

ChunkUpload::~ChunkUpload()
{
    if (m_transfer->easy) {
        curl_easy_cleanup(m_transfer->easy);
    }
    curl_slist_free_all(m_transfer->headers);
}

HttpAnswer ChunkUpload::post(const QByteArray& chunk)
{
    Transfer* t = m_transfer.get();
    if (t->fallback) {
        return t->fallback->post(QString::fromUtf8(t->url), chunk, t->contentType, t->tlsBase);
    }
    curl_easy_setopt(t->easy, CURLOPT_POSTFIELDS, chunk.constData());
    curl_easy_setopt(t->easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(chunk.size()));
    t->timeoutMs = HttpExchange::transferTimeout();
    curl_easy_setopt(t->easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(t->timeoutMs));
    t->body.clear();
    t->errorBuffer[0] = '\0';
    t->abort = false;
    t->timedOut = false;
    t->lastUp = -1;
    t->lastDown = -1;
    t->lastProgress = Clock::now();
    t->firstSeen.clear();
    t->refused.clear();

    // The caller's loop runs while the worker sends; it ends when the worker is done or the application quits.
    QEventLoop loop;
    std::atomic<bool> done { false };
    CURLcode code = CURLE_OK;
    std::thread worker([t, &loop, &done, &code]() {
        code = curl_easy_perform(t->easy);
        done = true;
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [t]() {
        if (t->stop && t->stop()) {
            t->abort = true;
        }
    });
    poll.start(kStopPollMs);
    loop.exec();
    poll.stop();
    if (!done) {
        t->abort = true;
    }
    worker.join();

    HttpAnswer answer;
    if (t->pinRule && !t->firstSeen.isEmpty()) {
        ServerTrust::pin(t->server, QString::fromLatin1(t->firstSeen));
        logger->info(QStringLiteral("[ServerTrust] first connection to %1: certificate SHA-256 %2 pinned")
                         .arg(t->server, QString::fromLatin1(t->firstSeen)));
        t->pinned = t->firstSeen;
    }
    if (!t->refused.isEmpty()) {
        logger->error(QStringLiteral("[ServerTrust] certificate of %1 refused: pinned SHA-256 %2, presented SHA-256 %3")
                          .arg(t->server, QString::fromLatin1(t->pinned), QString::fromLatin1(t->refused)));
    }
    long status = 0;
    curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
    answer.httpStatus = static_cast<int>(status);
    if (code == CURLE_ABORTED_BY_CALLBACK) {
        // As an aborted Qt reply reads; a time-out is told apart by the flag.
        answer.error = QNetworkReply::OperationCanceledError;
        answer.errorString = QStringLiteral("Operation canceled");
        answer.timedOut = t->timedOut;
    } else if (code != CURLE_OK) {
        answer.error = networkError(code);
        answer.errorString = QString::fromUtf8(t->errorBuffer[0] ? t->errorBuffer : curl_easy_strerror(code));
    } else if (status >= 400) {
        answer.error = status >= 500 ? QNetworkReply::UnknownServerError : QNetworkReply::UnknownContentError;
        answer.errorString = QStringLiteral("Error transferring %1 - server replied: HTTP status %2")
                                 .arg(QString::fromUtf8(t->url), QString::number(status));
    }
    if (code == CURLE_OK) {
        answer.body = t->body;
    }
    t->body.clear();
    QJsonParseError parseError;
    answer.document = QJsonDocument::fromJson(answer.body, &parseError);
    answer.parseOk = !answer.document.isNull() && parseError.error == QJsonParseError::NoError;
    return answer;
}
