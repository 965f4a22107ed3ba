#include "HttpExchange.h"

#include "ServerTrust.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonParseError>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QTimer>
#include <QUrl>

namespace {
int g_timeoutOverrideMs = 0;
int g_boundOverrideMs = 0;

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

QString HttpAnswer::failureText() const
{
    if (!isTransient()) {
        return QString();
    }
    if (timedOut) {
        return QCoreApplication::translate("HttpAnswer", "the server did not answer in time");
    }
    // Before the transfer's own text, which names the whole address (and with it the account).
    if (httpStatus >= 400) {
        return QCoreApplication::translate("HttpAnswer", "HTTP status %1").arg(httpStatus);
    }
    if (transferFailed()) {
        return errorString;
    }
    if (!isObject()) {
        return QCoreApplication::translate("HttpAnswer", "unreadable answer");
    }
    return QString();
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

void HttpExchange::setExchangeBoundForTests(int ms)
{
    g_boundOverrideMs = ms;
}

QNetworkRequest HttpExchange::makeRequest(const QString& url, const QString& tlsBase)
{
    QNetworkRequest request;
    ServerTrust::prepare(request, tlsBase.isEmpty() ? url : tlsBase);
    request.setUrl(QUrl(url, QUrl::TolerantMode));
    request.setTransferTimeout(transferTimeout());
    return request;
}

QNetworkProxy HttpExchange::proxyFor(const QUrl& url)
{
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url));
    return proxies.isEmpty() ? QNetworkProxy(QNetworkProxy::NoProxy) : proxies.constFirst();
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
        m_aborted = true;
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
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // Silence is bounded by the reply's own transfer time-out; a whole exchange (the probe) by this timer.
    QTimer total;
    total.setSingleShot(true);
    bool timedOut = false;
    if (timeoutMs > 0) {
        QObject::connect(&total, &QTimer::timeout, &loop, [&]() {
            timedOut = true;
            loop.quit();
        });
        total.start(g_boundOverrideMs > 0 ? g_boundOverrideMs : timeoutMs);
    }
    m_aborted = false;
    if (!reply->isFinished()) {
        m_running = reply;
        loop.exec(m_excludeUserInput ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents);
        m_running = nullptr;
    }
    total.stop();
    QObject::disconnect(reply, nullptr, &loop, nullptr);
    if (timedOut && !reply->isFinished()) {
        // The reply's own error text stands for the time-out; callers log it where they log failures.
        reply->abort();
    }
    readAnswer(reply, answer);
    // Cancelled, and not by the caller: the transfer time-out ended it.
    answer.timedOut = timedOut || (answer.error == QNetworkReply::OperationCanceledError && !m_aborted);
    // Released now rather than later: a deferred delete would wait for the outermost event loop, and a
    // caller that loops would keep every reply and its request body until then.
    delete reply;
    return answer;
}
