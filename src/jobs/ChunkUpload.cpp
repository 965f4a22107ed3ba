#include "ChunkUpload.h"

#include "CurlTransfer.h"
#include "api/ServerTrust.h"
#include "app/Logging.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonParseError>
#include <QLibrary>
#include <QLocale>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

static Logger* logger = Logging::rootLogger();

namespace {

// How often a waiting post asks whether it should stop.
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

struct ChunkUpload::Transfer
{
    QString url;
    QByteArray contentType;
    QString tlsBase;
    std::function<bool()> stop;
    std::unique_ptr<CurlTransfer> curl;
    // Without the module (or a libcurl that can apply the rule) the chunks take Qt's path.
    std::unique_ptr<HttpExchange> fallback;
    HttpAnswer fallbackAnswer;
    bool pinRule = false;
    QString server;
    QByteArray pinned;

    // The worker, kept for the whole file: a new thread per chunk cost a start and a join each time.
    std::thread worker;
    std::mutex mutex;
    std::condition_variable wake; // worker: a chunk or the end
    std::condition_variable finished; // caller: the chunk's answer
    const QByteArray* pending = nullptr;
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
            wake.wait(lock, [this]() { return pending != nullptr || quitting; });
            if (quitting) {
                return;
            }
            const QByteArray* body = pending;
            pending = nullptr;
            lock.unlock();
            CurlTransfer::Answer answer = curl->post(*body, timeoutMs, abort);
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

    ~Transfer()
    {
        if (worker.joinable()) {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                quitting = true;
                abort = true;
            }
            wake.notify_all();
            worker.join();
        }
    }
};

bool ChunkUpload::hasFastPath()
{
    return curlModule() != nullptr;
}

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
    t->url = url;
    t->contentType = contentType;
    t->tlsBase = tlsBase;
    t->stop = std::move(stop);

    const QUrl parsed(url, QUrl::TolerantMode);
    CurlTransfer::Config config;
    config.url = parsed.toEncoded();
    // The request as Qt writes it: no "Accept", no "Expect: 100-continue", Qt's own fields.
    config.headers = { QByteArrayLiteral("Content-Type: ") + contentType,
                       QByteArrayLiteral("Connection: Keep-Alive"),
                       QByteArrayLiteral("Accept-Language: ") + acceptLanguage(),
                       QByteArrayLiteral("User-Agent: Mozilla/5.0"),
                       QByteArrayLiteral("Accept:"),
                       QByteArrayLiteral("Expect:") };
    config.acceptEncoding = QByteArrayLiteral("gzip, deflate");
    if (parsed.scheme() == QLatin1String("https")) {
        // Case-sensitive like ServerTrust::prepare: any other base keeps the library's own verification.
        const ServerTrust::Mode mode
            = tlsBase.startsWith(QLatin1String("https")) ? ServerTrust::mode() : ServerTrust::Mode::System;
        config.tls = mode == ServerTrust::Mode::Pin ? CurlTransfer::Tls::Pin
            : mode == ServerTrust::Mode::Any        ? CurlTransfer::Tls::Any
                                                    : CurlTransfer::Tls::System;
        if (mode == ServerTrust::Mode::Pin) {
            t->pinRule = true;
            t->server = ServerTrust::serverKey(parsed);
            t->pinned = ServerTrust::pinnedFingerprint(t->server).toLatin1();
            config.host = parsed.host().toLatin1();
            config.pinned = t->pinned;
        }
    }
    const CreateCurlTransfer create = curlModule();
    if (create) {
        t->curl.reset(create(config));
    }
    if (!t->curl) {
        t->fallback.reset(new HttpExchange());
        return;
    }
    t->waker.reset(new QObject);
    t->poll.setInterval(kStopPollMs);
    QObject::connect(&t->poll, &QTimer::timeout, t->waker.get(), [t]() {
        if (t->stop && t->stop()) {
            t->abort = true;
        }
    });
    t->worker = std::thread([t]() { t->run(); });
}

ChunkUpload::~ChunkUpload() = default;

void ChunkUpload::start(const QByteArray& chunk)
{
    Transfer* t = m_transfer.get();
    if (t->fallback) {
        t->fallbackAnswer = t->fallback->post(t->url, chunk, t->contentType, t->tlsBase);
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(t->mutex);
        t->timeoutMs = HttpExchange::transferTimeout();
        t->abort = false;
        t->done = false;
        t->pending = &chunk;
    }
    t->wake.notify_one();
}

HttpAnswer ChunkUpload::wait()
{
    Transfer* t = m_transfer.get();
    if (t->fallback) {
        return std::move(t->fallbackAnswer);
    }

    // The caller's loop runs while the worker sends; it ends when the worker is done or the application quits.
    if (!t->done) {
        QEventLoop loop;
        t->loop = &loop;
        t->poll.start();
        loop.exec();
        t->poll.stop();
        t->loop = nullptr;
    }
    CurlTransfer::Answer sent;
    {
        std::unique_lock<std::mutex> lock(t->mutex);
        if (!t->done) {
            t->abort = true;
            t->finished.wait(lock, [t]() { return t->done.load(); });
        }
        sent = std::move(t->sent);
        t->sent = CurlTransfer::Answer();
    }

    if (t->pinRule && !sent.firstSeen.isEmpty()) {
        ServerTrust::pin(t->server, QString::fromLatin1(sent.firstSeen));
        logger->info(QStringLiteral("[ServerTrust] first connection to %1: certificate SHA-256 %2 pinned")
                         .arg(t->server, QString::fromLatin1(sent.firstSeen)));
        t->pinned = sent.firstSeen;
        t->curl->setPinned(t->pinned);
    }
    if (!sent.refused.isEmpty()) {
        logger->error(QStringLiteral("[ServerTrust] certificate of %1 refused: pinned SHA-256 %2, presented SHA-256 %3")
                          .arg(t->server, QString::fromLatin1(t->pinned), QString::fromLatin1(sent.refused)));
    }

    HttpAnswer answer;
    answer.httpStatus = static_cast<int>(sent.httpStatus);
    answer.error = networkError(sent.result);
    answer.timedOut = sent.result == CurlTransfer::Result::TimedOut;
    if (answer.error == QNetworkReply::OperationCanceledError) {
        answer.errorString = QStringLiteral("Operation canceled");
    } else if (answer.error != QNetworkReply::NoError) {
        answer.errorString = QString::fromUtf8(sent.error);
    } else if (answer.httpStatus >= 400) {
        answer.error
            = answer.httpStatus >= 500 ? QNetworkReply::UnknownServerError : QNetworkReply::UnknownContentError;
        answer.errorString = QStringLiteral("Error transferring %1 - server replied: HTTP status %2")
                                 .arg(t->url, QString::number(answer.httpStatus));
    }
    if (sent.result == CurlTransfer::Result::Ok) {
        answer.body = std::move(sent.body);
    }
    QJsonParseError parseError;
    answer.document = QJsonDocument::fromJson(answer.body, &parseError);
    answer.parseOk = !answer.document.isNull() && parseError.error == QJsonParseError::NoError;
    return answer;
}
