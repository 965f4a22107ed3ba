#include "CurlExchange.h"

#include "CurlTransfer.h"
#include "api/ServerTrust.h"
#include "app/Logging.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLibrary>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

static Logger* logger = Logging::rootLogger();

namespace {

// How often a waiting request asks whether it should stop.
constexpr int kStopPollMs = 100;

// The module beside the executable, loaded once and kept; null when it is missing.
CreateCurlTransfer curlModule()
{
    static const CreateCurlTransfer create = []() {
        QLibrary module(QCoreApplication::applicationDirPath() + QStringLiteral("/halcyra_curl"));
        const auto entry = reinterpret_cast<CreateCurlTransfer>(module.resolve("halcyraCreateCurlTransfer"));
        if (!entry) {
            logger->warn(
                QStringLiteral("###### [uploadFileSegment] no fast upload module: %1").arg(module.errorString()));
        }
        return entry;
    }();
    return create;
}

QNetworkReply::NetworkError networkError(CurlTransfer::Result result)
{
    switch (result) {
    case CurlTransfer::Result::Ok:
        return QNetworkReply::NoError;
    case CurlTransfer::Result::Aborted:
    case CurlTransfer::Result::TimedOut:
        return QNetworkReply::OperationCanceledError; // as an aborted Qt reply reads
    case CurlTransfer::Result::HostNotFound:
        return QNetworkReply::HostNotFoundError;
    case CurlTransfer::Result::Refused:
        return QNetworkReply::ConnectionRefusedError;
    case CurlTransfer::Result::Ssl:
        return QNetworkReply::SslHandshakeFailedError;
    case CurlTransfer::Result::Closed:
        return QNetworkReply::RemoteHostClosedError;
    case CurlTransfer::Result::Other:
        break;
    }
    return QNetworkReply::UnknownNetworkError;
}

} // namespace

struct CurlExchange::Worker
{
    QNetworkAccessManager* nam = nullptr;
    std::function<bool()> stop;
    // Qt's path: without the module, or for a rule the module's libcurl cannot apply.
    std::unique_ptr<HttpExchange> fallback;
    HttpAnswer fallbackAnswer;
    bool usedFallback = false;

    // One transfer for every request under the same rule: libcurl keeps its handle's set-up between them.
    std::unique_ptr<CurlTransfer> curl;
    CurlTransfer::Config config;
    bool pinRule = false;
    QString server;
    QUrl url;
    CurlTransfer::Request request;

    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake; // worker: a request or the end
    std::condition_variable finished; // caller: the answer
    bool pending = false;
    bool quitting = false;
    std::atomic<bool> done { true };
    std::atomic<bool> abort { false };
    int timeoutMs = 0;
    CurlTransfer::Answer sent;
    // Lives in the caller's thread: the worker's "done" reaches the caller's loop through it.
    std::unique_ptr<QObject> waker;
    QEventLoop* loop = nullptr;
    QTimer poll;

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
            CurlTransfer::Answer answer = curl->perform(request, timeoutMs, abort);
            lock.lock();
            sent = std::move(answer);
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

    // The transfer for this request's rule, made again when the rule or the server changed.
    bool prepare(const QUrl& parsed, const QString& tlsBase)
    {
        CurlTransfer::Config wanted;
        wanted.acceptEncoding = QByteArrayLiteral("gzip, deflate");
        bool pin = false;
        if (parsed.scheme() == QLatin1String("https")) {
            const ServerTrust::Mode mode
                = ServerTrust::governs(tlsBase) ? ServerTrust::mode() : ServerTrust::Mode::System;
            wanted.tls = mode == ServerTrust::Mode::Pin ? CurlTransfer::Tls::Pin
                : mode == ServerTrust::Mode::Any        ? CurlTransfer::Tls::Any
                                                        : CurlTransfer::Tls::System;
            pin = mode == ServerTrust::Mode::Pin;
            if (pin) {
                wanted.host = parsed.host().toLatin1();
                // Read for every request: the login dialog may have pinned another certificate meanwhile.
                server = ServerTrust::serverKey(parsed);
                wanted.pinned = ServerTrust::pinnedFingerprint(server).toLatin1();
            }
        }
        pinRule = pin;
        if (curl && wanted.tls == config.tls && wanted.host == config.host) {
            if (wanted.pinned != config.pinned) {
                curl->setPinned(wanted.pinned);
            }
            config = wanted;
            return true;
        }
        stopThread();
        curl.reset();
        config = wanted;
        const CreateCurlTransfer create = curlModule();
        if (create) {
            curl.reset(create(config));
        }
        return curl != nullptr;
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
        } catch (const std::system_error& error) {
            logger->warn(QStringLiteral("no thread for the job's requests (%1); Qt's network layer sends them")
                             .arg(QString::fromLocal8Bit(error.what())));
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

    ~Worker() { stopThread(); }
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

bool CurlExchange::hasFastPath()
{
    return curlModule() != nullptr;
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
    w->usedFallback = !w->prepare(w->url, tlsBase) || !w->startThread();
    if (w->usedFallback) {
        if (!w->fallback) {
            w->fallback.reset(new HttpExchange(w->nam));
        }
        w->fallbackAnswer = body ? w->fallback->post(url, *body, contentType, tlsBase) : w->fallback->get(url, tlsBase);
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(w->mutex);
        CurlTransfer::Request& request = w->request;
        request.url = w->url.toEncoded();
        request.body = body;
        // The fields in the order Qt writes them after "Host"; libcurl adds nothing of its own.
        request.headers.clear();
        if (body) {
            request.headers.append(QByteArrayLiteral("Content-Type: ") + contentType);
        }
        // Qt's manager keeps the cookies a server sets and sends them back; so does the pipeline, from the same jar.
        const QList<QNetworkCookie> cookies
            = w->nam && w->nam->cookieJar() ? w->nam->cookieJar()->cookiesForUrl(w->url) : QList<QNetworkCookie>();
        if (!cookies.isEmpty()) {
            QByteArray field = QByteArrayLiteral("Cookie: ");
            for (int i = 0; i < cookies.size(); ++i) {
                field += (i ? "; " : "") + cookies.at(i).toRawForm(QNetworkCookie::NameAndValueOnly);
            }
            request.headers.append(field);
        }
        if (body) {
            request.headers.append(QByteArrayLiteral("Content-Length: ") + QByteArray::number(body->size()));
        }
        request.headers.append(QByteArrayLiteral("Connection: Keep-Alive"));
        request.headers.append(QByteArrayLiteral("Accept-Encoding: ") + w->config.acceptEncoding);
        request.headers.append(QByteArrayLiteral("Accept-Language: ") + HttpExchange::acceptLanguage());
        request.headers.append(QByteArrayLiteral("User-Agent: Mozilla/5.0"));
        request.headers.append(QByteArrayLiteral("Accept:"));
        request.headers.append(QByteArrayLiteral("Expect:"));
        w->timeoutMs = HttpExchange::transferTimeout();
        w->abort = false;
        w->done = false;
        w->pending = true;
    }
    w->wake.notify_one();
}

HttpAnswer CurlExchange::wait()
{
    Worker* w = m_worker.get();
    if (w->usedFallback) {
        return std::move(w->fallbackAnswer);
    }

    // The caller's loop runs while the worker sends; it ends when the worker is done or the application quits.
    if (!w->done) {
        QEventLoop loop;
        w->loop = &loop;
        if (w->stop) {
            w->poll.start();
        }
        loop.exec();
        w->poll.stop();
        w->loop = nullptr;
    }
    CurlTransfer::Answer sent;
    {
        std::unique_lock<std::mutex> lock(w->mutex);
        if (!w->done) {
            w->abort = true;
            w->finished.wait(lock, [w]() { return w->done.load(); });
        }
        sent = std::move(w->sent);
        w->sent = CurlTransfer::Answer();
        w->request.body = nullptr;
    }

    if (w->pinRule && !sent.firstSeen.isEmpty()) {
        ServerTrust::pin(w->server, QString::fromLatin1(sent.firstSeen));
        logger->info(QStringLiteral("[ServerTrust] first connection to %1: certificate SHA-256 %2 pinned")
                         .arg(w->server, QString::fromLatin1(sent.firstSeen)));
        w->config.pinned = sent.firstSeen;
        w->curl->setPinned(w->config.pinned);
    }
    if (!sent.refused.isEmpty()) {
        logger->error(QStringLiteral("[ServerTrust] certificate of %1 refused: pinned SHA-256 %2, presented SHA-256 %3")
                          .arg(w->server, QString::fromLatin1(w->config.pinned), QString::fromLatin1(sent.refused)));
    }

    if (!sent.setCookies.isEmpty() && w->nam && w->nam->cookieJar()) {
        QList<QNetworkCookie> cookies;
        for (const QByteArray& value : qAsConst(sent.setCookies)) {
            cookies += QNetworkCookie::parseCookies(value);
        }
        w->nam->cookieJar()->setCookiesFromUrl(cookies, w->url);
    }

    // Read as Qt's reply would be: its error codes and texts, the body of an error page kept.
    HttpAnswer answer;
    answer.httpStatus = static_cast<int>(sent.httpStatus);
    answer.error = networkError(sent.result);
    answer.timedOut = sent.result == CurlTransfer::Result::TimedOut;
    switch (sent.result) {
    case CurlTransfer::Result::Ok:
        HttpExchange::readStatus(answer, w->url, sent.reason);
        answer.body = std::move(sent.body);
        break;
    case CurlTransfer::Result::Aborted:
    case CurlTransfer::Result::TimedOut:
        answer.errorString = QStringLiteral("Operation canceled");
        break;
    case CurlTransfer::Result::Refused:
        answer.errorString = QStringLiteral("Connection refused");
        break;
    case CurlTransfer::Result::Closed:
        answer.errorString = QStringLiteral("Connection closed");
        break;
    case CurlTransfer::Result::HostNotFound:
        answer.errorString = QStringLiteral("Host %1 not found").arg(w->url.host());
        break;
    case CurlTransfer::Result::Ssl:
    case CurlTransfer::Result::Other:
        answer.errorString = QString::fromUtf8(sent.error);
        break;
    }
    answer.parseBody();
    return answer;
}
