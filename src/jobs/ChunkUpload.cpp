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
    bool pinRule = false;
    QString server;
    QByteArray pinned;
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
    }
}

ChunkUpload::~ChunkUpload() = default;

HttpAnswer ChunkUpload::post(const QByteArray& chunk)
{
    Transfer* t = m_transfer.get();
    if (t->fallback) {
        return t->fallback->post(t->url, chunk, t->contentType, t->tlsBase);
    }

    // The caller's loop runs while the worker sends; it ends when the worker is done or the application quits.
    QEventLoop loop;
    std::atomic<bool> abort { false };
    std::atomic<bool> done { false };
    CurlTransfer::Answer sent;
    const int timeoutMs = HttpExchange::transferTimeout();
    std::thread worker([&]() {
        sent = t->curl->post(chunk, timeoutMs, abort);
        done = true;
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&]() {
        if (t->stop && t->stop()) {
            abort = true;
        }
    });
    poll.start(kStopPollMs);
    loop.exec();
    poll.stop();
    if (!done) {
        abort = true;
    }
    worker.join();

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
