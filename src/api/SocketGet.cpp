#include "SocketGet.h"

#include "ServerTrust.h"

#include <QEventLoop>
#include <QNetworkProxy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <http_parser.h>

#include <memory>

namespace {

// The settings answer is a few KiB; a server that sends without end must not fill the memory.
constexpr int kMaxBody = 4 * 1024 * 1024;

struct Reading
{
    QByteArray body;
    QByteArray reason;
    int status = 0; // once the header is read
    bool complete = false;
    bool tooLarge = false;
};

Reading& readingOf(http_parser* parser)
{
    return *static_cast<Reading*>(parser->data);
}

http_parser_settings parserSettings()
{
    http_parser_settings settings;
    http_parser_settings_init(&settings);
    settings.on_status = [](http_parser* parser, const char* at, size_t length) {
        readingOf(parser).reason.append(at, static_cast<int>(length));
        return 0;
    };
    settings.on_headers_complete = [](http_parser* parser) {
        readingOf(parser).status = int(parser->status_code);
        return 0;
    };
    settings.on_body = [](http_parser* parser, const char* at, size_t length) {
        Reading& reading = readingOf(parser);
        if (length > size_t(kMaxBody - reading.body.size())) {
            reading.tooLarge = true;
            return 1;
        }
        reading.body.append(at, static_cast<int>(length));
        return 0;
    };
    settings.on_message_complete = [](http_parser* parser) {
        Reading& reading = readingOf(parser);
        if (parser->status_code < 200) {
            // An interim answer ("100 Continue"); the real one follows on the same connection.
            reading.status = 0;
            reading.reason.clear();
            reading.body.clear();
            return 0;
        }
        reading.complete = true;
        http_parser_pause(parser, 1);
        return 0;
    };
    return settings;
}

QNetworkReply::NetworkError socketError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError:
        return QNetworkReply::SslHandshakeFailedError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

// absoluteTarget names the whole address, for an HTTP proxy.
QByteArray requestBytes(const QUrl& parsed, const SocketGet::Fields& fields, bool absoluteTarget)
{
    QByteArray target = parsed.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty()) {
        target = QByteArrayLiteral("/");
    }
    if (parsed.hasQuery()) {
        target += '?' + parsed.query(QUrl::FullyEncoded).toLatin1();
    }
    QByteArray host = parsed.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':')) {
        host = '[' + host + ']';
    }
    if (parsed.port() != -1) {
        host += ':' + QByteArray::number(parsed.port());
    }
    if (absoluteTarget) {
        target = parsed.scheme().toLatin1() + "://" + host + target;
    }

    // Qt's order; one request, so the connection closes after the answer. No compression is offered.
    QByteArray bytes = "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const auto& field : fields) {
        bytes += field.first + ": " + field.second + "\r\n";
    }
    bytes += "Connection: close\r\nAccept-Language: " + HttpExchange::acceptLanguage()
        + "\r\nUser-Agent: Mozilla/5.0\r\n\r\n";
    return bytes;
}

} // namespace

HttpAnswer SocketGet::get(const QString& url, const Fields& fields, const QString& tlsBase, int timeoutMs)
{
    HttpAnswer answer;
    const QUrl parsed(url, QUrl::TolerantMode);
    const QString scheme = parsed.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        answer.error = QNetworkReply::ProtocolUnknownError;
        answer.errorString = QStringLiteral("Protocol \"%1\" is unknown").arg(parsed.scheme());
        return answer;
    }
    const bool tls = scheme == QLatin1String("https");
    const quint16 port = static_cast<quint16>(parsed.port(tls ? 443 : 80));

    std::unique_ptr<QTcpSocket> socket;
    QSslSocket* secure = nullptr;
    if (tls) {
        secure = new QSslSocket;
        socket.reset(secure);
    } else {
        socket = std::make_unique<QTcpSocket>();
    }

    Reading reading;
    const http_parser_settings settings = parserSettings();
    http_parser parser;
    http_parser_init(&parser, HTTP_RESPONSE);
    parser.data = &reading;

    QEventLoop loop;
    bool finished = false;
    const auto finish = [&](QNetworkReply::NetworkError error, const QString& text) {
        if (finished) {
            return;
        }
        finished = true;
        answer.error = error;
        answer.errorString = text;
        loop.quit();
    };
    const auto feed = [&](const QByteArray& data) {
        const size_t parsedBytes = http_parser_execute(&parser, &settings, data.constData(), size_t(data.size()));
        if (reading.complete) {
            finish(QNetworkReply::NoError, QString());
        } else if (reading.tooLarge) {
            finish(QNetworkReply::ProtocolFailure, QStringLiteral("Answer too large"));
        } else if (HTTP_PARSER_ERRNO(&parser) != HPE_OK || parsedBytes != size_t(data.size())) {
            finish(QNetworkReply::ProtocolFailure,
                   QString::fromLatin1(http_errno_description(HTTP_PARSER_ERRNO(&parser))));
        }
    };

    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
        answer.timedOut = true;
        finish(QNetworkReply::OperationCanceledError, QStringLiteral("Operation canceled"));
    });
    QObject::connect(socket.get(), &QIODevice::readyRead, &loop, [&] { feed(socket->readAll()); });
    QObject::connect(socket.get(), &QAbstractSocket::disconnected, &loop, [&] {
        feed(socket->readAll());
        if (!finished) {
            // The end of the connection ends an answer without a length; any other is cut off.
            feed(QByteArray());
        }
        finish(QNetworkReply::RemoteHostClosedError, QStringLiteral("Connection closed"));
    });
    QObject::connect(socket.get(), &QAbstractSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError) {
            finish(socketError(error), socket->errorString());
        }
    });
    // The proxy Qt's network manager would take. Plain HTTP through an HTTP proxy is asked of the proxy with the
    // whole address, as Qt does; anything else goes through the socket's own proxy (a tunnel, SOCKS or none).
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(parsed));
    const QNetworkProxy proxy = proxies.value(0, QNetworkProxy(QNetworkProxy::NoProxy));
    const bool viaHttpProxy
        = !tls && (proxy.type() == QNetworkProxy::HttpProxy || proxy.type() == QNetworkProxy::HttpCachingProxy);
    socket->setProxy(viaHttpProxy ? QNetworkProxy(QNetworkProxy::NoProxy) : proxy);
    const QByteArray request = requestBytes(parsed, fields, viaHttpProxy);
    if (secure) {
        QSslConfiguration config = secure->sslConfiguration();
        const bool pinnable = ServerTrust::configure(config, tlsBase);
        secure->setSslConfiguration(config);
        QObject::connect(secure, QOverload<const QList<QSslError>&>::of(&QSslSocket::sslErrors), &loop,
                         [&, pinnable](const QList<QSslError>& errors) {
                             if (ServerTrust::accepts(parsed, secure->peerCertificate(), errors, pinnable)) {
                                 secure->ignoreSslErrors(errors);
                             }
                         });
        QObject::connect(secure, &QSslSocket::encrypted, &loop, [&] { secure->write(request); });
        secure->connectToHostEncrypted(parsed.host(), port);
    } else {
        QObject::connect(socket.get(), &QAbstractSocket::connected, &loop, [&] { socket->write(request); });
        if (viaHttpProxy) {
            socket->connectToHost(proxy.hostName(), proxy.port());
        } else {
            socket->connectToHost(parsed.host(), port);
        }
    }
    if (!finished) {
        limit.start(timeoutMs);
        loop.exec();
    }
    // The loop also ends when the application quits (a stop signal during start-up): no answer then.
    finish(QNetworkReply::OperationCanceledError, QStringLiteral("Operation canceled"));
    socket->disconnect(&loop);
    socket->abort();

    answer.httpStatus = reading.status;
    if (answer.error != QNetworkReply::NoError) {
        return answer;
    }
    HttpExchange::readStatus(answer, parsed, reading.reason);
    // An error page's body is kept, as Qt keeps it.
    answer.body = std::move(reading.body);
    answer.parseBody();
    return answer;
}
