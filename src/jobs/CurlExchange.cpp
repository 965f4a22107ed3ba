#include "CurlExchange.h"

#include "api/ServerTrust.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QTimer>
#include <QUrl>

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting request asks whether it should stop.
constexpr int kStopPollMs = 100;

bool isAddress(const QByteArray& host)
{
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.constData(), buffer) == 1 || inet_pton(AF_INET6, host.constData(), buffer) == 1;
}

// The proxy Qt's manager would take for url, in libcurl's words; empty: none.
QByteArray curlProxy(const QNetworkProxy& proxy)
{
    const QByteArray hostPort = proxy.hostName().toUtf8() + ':' + QByteArray::number(proxy.port());
    switch (proxy.type()) {
    case QNetworkProxy::Socks5Proxy:
        return (proxy.capabilities() & QNetworkProxy::HostNameLookupCapability ? "socks5h://" : "socks5://") + hostPort;
    case QNetworkProxy::HttpProxy:
    case QNetworkProxy::HttpCachingProxy:
        return "http://" + hostPort;
    default:
        return QByteArray();
    }
}

// A failed libcurl transfer read as a failed Qt reply: its error code and text.
void readFailure(CURLcode code, bool timedOut, const QUrl& url, const QByteArray& detail, HttpAnswer& answer)
{
    switch (code) {
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_OPERATION_TIMEDOUT:
        answer.error = QNetworkReply::OperationCanceledError;
        answer.errorString = QStringLiteral("Operation canceled");
        answer.timedOut = timedOut || code == CURLE_OPERATION_TIMEDOUT;
        return;
    case CURLE_COULDNT_RESOLVE_HOST:
        answer.error = QNetworkReply::HostNotFoundError;
        answer.errorString = QStringLiteral("Host %1 not found").arg(url.host());
        return;
    case CURLE_COULDNT_RESOLVE_PROXY:
        answer.error = QNetworkReply::ProxyNotFoundError;
        break;
    case CURLE_COULDNT_CONNECT:
        answer.error = QNetworkReply::ConnectionRefusedError;
        answer.errorString = QStringLiteral("Connection refused");
        return;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
        answer.error = QNetworkReply::SslHandshakeFailedError;
        break;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        answer.error = QNetworkReply::RemoteHostClosedError;
        answer.errorString = QStringLiteral("Connection closed");
        return;
    default:
        answer.error = QNetworkReply::UnknownNetworkError;
        break;
    }
    answer.errorString = QString::fromUtf8(detail);
}

} // namespace

struct CurlExchange::Worker
{
    QNetworkAccessManager* nam = nullptr;
    std::function<bool()> stop;

    // One handle for every request under the same certificate rule and host: its connections are kept alive.
    CURL* easy = nullptr;
    bool verifyOff = false; // "any"
    bool pinRule = false;
    QByteArray host;
    QByteArray pinned; // as ServerTrust writes it
    QString server;

    // The request, set by the caller while the worker is idle.
    QUrl url;
    QByteArray target;
    curl_slist* headers = nullptr;
    const QByteArray* body = nullptr;
    QByteArray proxy;
    QByteArray proxyUser;
    QByteArray proxyPassword;
    int timeoutMs = 0;

    // The answer, written by the worker.
    CURLcode code = CURLE_OK;
    long status = 0;
    QByteArray reason; // the status line's reason phrase
    QList<QByteArray> setCookies;
    QByteArray answerBody;
    QByteArray presented; // a certificate that did not verify
    QByteArray verifyError;
    bool timedOut = false;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_off_t lastUp = -1;
    curl_off_t lastDown = -1;
    Clock::time_point lastProgress;

    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake; // worker: a request or the end
    std::condition_variable finished; // caller: the answer
    bool pending = false;
    bool quitting = false;
    std::atomic<bool> done { true };
    std::atomic<bool> abort { false };
    // Lives in the caller's thread: the worker's "done" reaches the caller's loop through it.
    std::unique_ptr<QObject> waker;
    QEventLoop* loop = nullptr;
    QTimer poll;

    ~Worker()
    {
        stopThread();
        release();
    }

    void release()
    {
        if (easy) {
            curl_easy_cleanup(easy);
            easy = nullptr;
        }
        curl_slist_free_all(headers);
        headers = nullptr;
    }

    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (true) {
            wake.wait(lock, [this]() { return pending || quitting; });
            if (quitting) {
                return;
            }
            pending = false;
            lock.unlock();
            perform();
            lock.lock();
            done = true;
            finished.notify_all();
            QMetaObject::invokeMethod(
                waker.get(),
                [this]() {
                    if (done && loop) {
                        loop->quit();
                    }
                },
                Qt::QueuedConnection);
        }
    }

    // Nothing of the last answer is left for the next.
    void clearAnswer()
    {
        code = CURLE_OK;
        status = 0;
        reason.clear();
        setCookies.clear();
        answerBody.clear();
        presented.clear();
        verifyError.clear();
        timedOut = false;
        errorBuffer[0] = '\0';
    }

    void perform()
    {
        CURL* e = easy;
        curl_easy_setopt(e, CURLOPT_URL, target.constData());
        if (body) {
            curl_easy_setopt(e, CURLOPT_POST, 1L);
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, body->constData());
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
        } else {
            curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        }
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);
        // Qt has applied no_proxy already; libcurl must not read the environment a second time.
        curl_easy_setopt(e, CURLOPT_PROXY, proxy.constData());
        curl_easy_setopt(e, CURLOPT_NOPROXY, "");
        curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, proxyUser.isEmpty() ? nullptr : proxyUser.constData());
        curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, proxyPassword.isEmpty() ? nullptr : proxyPassword.constData());
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs));
        lastUp = -1;
        lastDown = -1;
        lastProgress = Clock::now();
        code = curl_easy_perform(e);
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    }

    // The handle for this request's rule, made again when the rule or the host changed.
    bool prepare(const QUrl& parsed, const QString& tlsBase)
    {
        bool off = false;
        bool pin = false;
        QByteArray name;
        if (parsed.scheme() == QLatin1String("https")) {
            const ServerTrust::Mode mode
                = ServerTrust::governs(tlsBase) ? ServerTrust::mode() : ServerTrust::Mode::System;
            off = mode == ServerTrust::Mode::Any;
            pin = mode == ServerTrust::Mode::Pin;
            name = parsed.host().toLatin1();
            server = ServerTrust::serverKey(parsed);
            // Read for every request: the login dialog may have pinned another certificate meanwhile.
            pinned = pin ? ServerTrust::pinnedFingerprint(server).toLatin1() : QByteArray();
            if (easy && (off != verifyOff || name != host)) {
                curl_easy_cleanup(easy);
                easy = nullptr;
            }
        }
        pinRule = pin;
        if (easy) {
            return true;
        }
        verifyOff = off;
        host = name;
        static std::once_flag once;
        std::call_once(once, []() { curl_global_init(CURL_GLOBAL_DEFAULT); });
        easy = curl_easy_init();
        if (!easy) {
            return false;
        }
        CURL* e = easy;
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_TCP_NODELAY, 1L);
        curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "gzip, deflate"); // decoded as Qt decodes it
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorBuffer);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Worker::write);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Worker::header);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Worker::progress);
        curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
        // libcurl's own checks are off: "any" checks nothing, the other rules are judged on the handshake by
        // verifyChain, before a byte of the body leaves.
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
        if (!verifyOff) {
            return curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &Worker::prepareTls) == CURLE_OK
                && curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, this) == CURLE_OK;
        }
        return true;
    }

    // False when no thread can be had (a user's task limit reached on a shared host).
    bool startThread()
    {
        if (thread.joinable()) {
            return true;
        }
        if (!waker) {
            waker.reset(new QObject);
            poll.setInterval(kStopPollMs);
            QObject::connect(&poll, &QTimer::timeout, waker.get(), [this]() {
                if (stop && stop()) {
                    abort = true;
                }
            });
        }
        quitting = false;
        try {
            thread = std::thread([this]() { run(); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    void stopThread()
    {
        if (thread.joinable()) {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                quitting = true;
                abort = true;
            }
            wake.notify_all();
            thread.join();
        }
    }

    // Keeps the reason phrase of the last status line ("HTTP/1.1 404 Not Found") and the cookies set.
    static size_t header(char* data, size_t size, size_t count, void* self)
    {
        auto* w = static_cast<Worker*>(self);
        const QByteArray line = QByteArray::fromRawData(data, static_cast<int>(size * count)).trimmed();
        if (line.startsWith("HTTP/")) {
            const int code = line.indexOf(' ');
            const int reason = code < 0 ? -1 : line.indexOf(' ', code + 1);
            w->reason = reason < 0 ? QByteArray() : line.mid(reason + 1);
            w->setCookies.clear();
        } else if (line.size() > 11 && qstrnicmp(line.constData(), "set-cookie:", 11) == 0) {
            w->setCookies.append(line.mid(11).trimmed());
        }
        return size * count;
    }

    static size_t write(char* data, size_t size, size_t count, void* self)
    {
        static_cast<Worker*>(self)->answerBody.append(data, static_cast<int>(size * count));
        return size * count;
    }

    // The time-out measures silence: any byte either way restarts it.
    static int progress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up)
    {
        auto* w = static_cast<Worker*>(self);
        const Clock::time_point now = Clock::now();
        if (up != w->lastUp || down != w->lastDown) {
            w->lastUp = up;
            w->lastDown = down;
            w->lastProgress = now;
        } else if (now - w->lastProgress > std::chrono::milliseconds(w->timeoutMs)) {
            w->timedOut = true;
            return 1;
        }
        return w->abort ? 1 : 0;
    }

    // A certificate the system trusts for this host passes; any other only as ServerTrust's pin rule allows.
    // The caller settles the outcome with ServerTrust afterwards (pin on first use, log, refusal).
    static int verifyChain(X509_STORE_CTX* store, void* self)
    {
        auto* w = static_cast<Worker*>(self);
        if (X509_verify_cert(store) == 1) {
            return 1;
        }
        w->verifyError = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
        X509* leaf = X509_STORE_CTX_get0_cert(store);
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (leaf && X509_digest(leaf, EVP_sha256(), digest, &length) == 1) {
            w->presented
                = QByteArray(reinterpret_cast<const char*>(digest), static_cast<int>(length)).toHex(':').toUpper();
        }
        if (!w->pinRule || !ServerTrust::pinAllows(QString::fromLatin1(w->pinned), QString::fromLatin1(w->presented))) {
            return 0;
        }
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }

    static CURLcode prepareTls(CURL*, void* sslContext, void* self)
    {
        auto* w = static_cast<Worker*>(self);
        auto* context = static_cast<SSL_CTX*>(sslContext);
        SSL_CTX_set_default_verify_paths(context);
        X509_VERIFY_PARAM* param = SSL_CTX_get0_param(context);
        const int set = isAddress(w->host) ? X509_VERIFY_PARAM_set1_ip_asc(param, w->host.constData())
                                           : X509_VERIFY_PARAM_set1_host(param, w->host.constData(), 0);
        if (set != 1) {
            return CURLE_SSL_CERTPROBLEM;
        }
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_cert_verify_callback(context, &Worker::verifyChain, self);
        return CURLE_OK;
    }
};

CurlExchange::CurlExchange(QNetworkAccessManager* nam)
    : m_worker(new Worker)
{
    m_worker->nam = nam;
}

CurlExchange::~CurlExchange() = default;

void CurlExchange::setStop(std::function<bool()> stop)
{
    m_worker->stop = std::move(stop);
}

void CurlExchange::startGet(const QString& url, const QString& tlsBase)
{
    start(url, nullptr, QByteArray(), tlsBase);
}

void CurlExchange::startPost(const QString& url, const QByteArray& body, const QByteArray& contentType,
                             const QString& tlsBase)
{
    start(url, &body, contentType, tlsBase);
}

void CurlExchange::start(const QString& url, const QByteArray* body, const QByteArray& contentType,
                         const QString& tlsBase)
{
    Worker* w = m_worker.get();
    w->url = QUrl(url, QUrl::TolerantMode);
    w->abort = false;
    w->done = false;
    w->clearAnswer();
    if (!w->prepare(w->url, tlsBase)) {
        w->code = CURLE_FAILED_INIT;
        w->done = true;
        return;
    }
    w->target = w->url.toEncoded();
    w->body = body;
    const QNetworkProxy proxy = HttpExchange::proxyFor(w->url);
    w->proxy = curlProxy(proxy);
    w->proxyUser = proxy.user().toUtf8();
    w->proxyPassword = proxy.password().toUtf8();
    w->timeoutMs = HttpExchange::transferTimeout();

    // The fields in the order Qt writes them after "Host"; libcurl adds nothing of its own.
    QList<QByteArray> fields;
    if (body) {
        fields.append(QByteArrayLiteral("Content-Type: ") + contentType);
    }
    // Qt's manager keeps the cookies a server sets and sends them back; so does the pipeline, from the same jar.
    const QList<QNetworkCookie> cookies
        = w->nam && w->nam->cookieJar() ? w->nam->cookieJar()->cookiesForUrl(w->url) : QList<QNetworkCookie>();
    if (!cookies.isEmpty()) {
        QByteArray field = QByteArrayLiteral("Cookie: ");
        for (int i = 0; i < cookies.size(); ++i) {
            field += (i ? "; " : "") + cookies.at(i).toRawForm(QNetworkCookie::NameAndValueOnly);
        }
        fields.append(field);
    }
    if (body) {
        fields.append(QByteArrayLiteral("Content-Length: ") + QByteArray::number(body->size()));
    }
    fields.append(QByteArrayLiteral("Connection: Keep-Alive"));
    fields.append(QByteArrayLiteral("Accept-Encoding: gzip, deflate"));
    fields.append(QByteArrayLiteral("Accept-Language: ") + HttpExchange::acceptLanguage());
    fields.append(QByteArrayLiteral("User-Agent: Mozilla/5.0"));
    fields.append(QByteArrayLiteral("Accept:"));
    fields.append(QByteArrayLiteral("Expect:"));
    curl_slist_free_all(w->headers);
    w->headers = nullptr;
    for (const QByteArray& field : qAsConst(fields)) {
        w->headers = curl_slist_append(w->headers, field.constData());
    }

    if (!w->startThread()) {
        // No thread to be had: the request runs here, the window still for its length.
        w->perform();
        w->done = true;
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(w->mutex);
        w->pending = true;
    }
    w->wake.notify_one();
}

HttpAnswer CurlExchange::wait(int totalMs)
{
    Worker* w = m_worker.get();
    // The caller's loop runs while the worker sends; it ends when the worker is done or the application quits.
    bool overTime = false;
    if (!w->done) {
        QEventLoop loop;
        w->loop = &loop;
        if (w->stop) {
            w->poll.start();
        }
        QTimer total;
        if (totalMs > 0) {
            total.setSingleShot(true);
            QObject::connect(&total, &QTimer::timeout, &loop, [&]() {
                overTime = true;
                loop.quit();
            });
            total.start(totalMs);
        }
        loop.exec(m_excludeUserInput ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents);
        w->poll.stop();
        w->loop = nullptr;
    }
    {
        std::unique_lock<std::mutex> lock(w->mutex);
        if (!w->done) {
            w->abort = true;
            w->finished.wait(lock, [w]() { return w->done.load(); });
        }
    }
    w->body = nullptr;

    if (!w->verifyError.isEmpty()) {
        ServerTrust::accepts(w->server, QString::fromLatin1(w->presented), w->pinRule,
                             QString::fromLatin1(w->verifyError));
    }
    if (!w->setCookies.isEmpty() && w->nam && w->nam->cookieJar()) {
        QList<QNetworkCookie> cookies;
        for (const QByteArray& value : qAsConst(w->setCookies)) {
            cookies += QNetworkCookie::parseCookies(value);
        }
        w->nam->cookieJar()->setCookiesFromUrl(cookies, w->url);
    }

    HttpAnswer answer;
    answer.httpStatus = static_cast<int>(w->status);
    if (w->code == CURLE_OK) {
        HttpExchange::readStatus(answer, w->url, w->reason);
        answer.body = std::move(w->answerBody);
    } else {
        readFailure(w->code, w->timedOut || overTime, w->url,
                    w->errorBuffer[0] ? QByteArray(w->errorBuffer) : QByteArray(curl_easy_strerror(w->code)), answer);
    }
    w->answerBody = QByteArray();
    answer.parseBody();
    return answer;
}
