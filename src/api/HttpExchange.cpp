#include "HttpExchange.h"

#include "ServerTrust.h"

#include <QEventLoop>
#include <QJsonParseError>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QTimer>
#include <QUrl>

namespace {
int g_timeoutOverrideMs = 0;

// Qt's reading of an HTTP error status.
QNetworkReply::NetworkError statusError(int status)
{
    switch (status) {
    case 400:
    case 418:
        return QNetworkReply::ProtocolInvalidOperationError;
    case 401:
        return QNetworkReply::AuthenticationRequiredError;
    case 403:
        return QNetworkReply::ContentAccessDenied;
    case 404:
        return QNetworkReply::ContentNotFoundError;
    case 405:
        return QNetworkReply::ContentOperationNotPermittedError;
    case 407:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case 409:
        return QNetworkReply::ContentConflictError;
    case 410:
        return QNetworkReply::ContentGoneError;
    case 500:
        return QNetworkReply::InternalServerError;
    case 501:
        return QNetworkReply::OperationNotImplementedError;
    case 503:
        return QNetworkReply::ServiceUnavailableError;
    default:
        return status > 500 ? QNetworkReply::UnknownServerError : QNetworkReply::UnknownContentError;
    }
}
} // namespace

int HttpAnswer::code() const
{
    return isObject() ? document.object().value(QStringLiteral("code")).toInt() : 0;
}

QString HttpAnswer::message() const
{
    return isObject() ? document.object().value(QStringLiteral("message")).toString() : QString();
}

QJsonValue HttpAnswer::data() const
{
    return isObject() ? document.object().value(QStringLiteral("data")) : QJsonValue();
}

HttpExchange::HttpExchange(QNetworkAccessManager* nam)
    : m_nam(nam)
{
    if (!m_nam) {
        m_ownNam = new QNetworkAccessManager();
        m_nam = m_ownNam;
    }
    ServerTrust::watch(m_nam);
}

HttpExchange::~HttpExchange()
{
    delete m_ownNam;
}

int HttpExchange::transferTimeout()
{
    return g_timeoutOverrideMs > 0 ? g_timeoutOverrideMs : kTransferTimeoutMs;
}

void HttpExchange::setTransferTimeoutForTests(int ms)
{
    g_timeoutOverrideMs = ms;
}

QNetworkRequest HttpExchange::makeRequest(const QString& url, const QString& tlsBase)
{
    QNetworkRequest request;
    ServerTrust::prepare(request, tlsBase.isEmpty() ? url : tlsBase);
    request.setUrl(QUrl(url, QUrl::TolerantMode));
    return request;
}

void HttpExchange::readStatus(HttpAnswer& answer, const QUrl& url, const QByteArray& reason)
{
    if (answer.httpStatus >= 400) {
        answer.error = statusError(answer.httpStatus);
        answer.errorString = QStringLiteral("Error transferring %1 - server replied: %2")
                                 .arg(url.toString(), QString::fromLatin1(reason));
    } else {
        answer.errorString = QStringLiteral("Unknown error"); // a finished Qt reply's text
    }
}

QByteArray HttpExchange::acceptLanguage()
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

QByteArray HttpExchange::percentEncode(const QString& text)
{
    return text.toUtf8().toPercentEncoding();
}

void HttpExchange::readAnswer(QNetworkReply* reply, HttpAnswer& answer)
{
    // An aborted reply is closed; reading it would only warn.
    answer.body = reply->isOpen() ? reply->readAll() : QByteArray();
    if (answer.error == QNetworkReply::NoError) {
        answer.error = reply->error();
        answer.errorString = reply->errorString();
    }
    answer.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.parseBody();
}

void HttpAnswer::parseBody()
{
    QJsonParseError parseError;
    document = QJsonDocument::fromJson(body, &parseError);
    parseOk = !document.isNull() && parseError.error == QJsonParseError::NoError;
}

void HttpExchange::abort()
{
    if (m_running) {
        m_running->abort();
    }
}

HttpAnswer HttpExchange::get(const QString& url, const QString& tlsBase, int timeoutMs)
{
    QNetworkRequest request = makeRequest(url, tlsBase);
    return run(m_nam->get(request), timeoutMs);
}

HttpAnswer HttpExchange::getRequest(const QNetworkRequest& request, int timeoutMs)
{
    return run(m_nam->get(request), timeoutMs);
}

HttpAnswer HttpExchange::post(const QString& url, const QByteArray& body, const QByteArray& contentType,
                              const QString& tlsBase, int timeoutMs)
{
    QNetworkRequest request = makeRequest(url, tlsBase);
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    return run(m_nam->post(request, body), timeoutMs);
}

HttpAnswer HttpExchange::run(QNetworkReply* reply, int timeoutMs)
{
    HttpAnswer answer;
    const int limit = timeoutMs > 0 ? timeoutMs : transferTimeout();

    QEventLoop loop;
    QTimer stall;
    stall.setSingleShot(true);
    stall.setInterval(limit);
    bool timedOut = false;

    // The timeout measures silence, not total time: a large upload that keeps moving is never cut off.
    if (!m_timeoutIsTotal) {
        auto progressed = [&stall](qint64, qint64) { stall.start(); };
        QObject::connect(reply, &QNetworkReply::uploadProgress, &loop, progressed);
        QObject::connect(reply, &QNetworkReply::downloadProgress, &loop, progressed);
    }
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&stall, &QTimer::timeout, &loop, [&]() {
        timedOut = true;
        loop.quit();
    });
    stall.start();
    if (!reply->isFinished()) {
        m_running = reply;
        loop.exec(m_excludeUserInput ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents);
        m_running = nullptr;
    }
    stall.stop();

    if (timedOut && !reply->isFinished()) {
        QObject::disconnect(reply, nullptr, &loop, nullptr);
        // The reply's own error text stands for the time-out; callers log it where they log failures.
        reply->abort();
        answer.timedOut = true;
    }
    readAnswer(reply, answer);
    // Released now rather than later: a deferred delete would wait for the outermost event loop, and a
    // caller that loops (the chunked upload) would keep every reply and its request body until then.
    QObject::disconnect(reply, nullptr, &loop, nullptr);
    delete reply;
    return answer;
}
