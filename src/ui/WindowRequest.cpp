#include "WindowRequest.h"

#include "api/HttpExchange.h"
#include "api/ServerTrust.h"
#include "app/Logging.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QNetworkAccessManager>
#include <QNetworkReply>

static Logger* logger = Logging::rootLogger();

WindowAnswer WindowRequest::classify(const QByteArray& body, const QString& errorString, const Options& options)
{
    WindowAnswer answer;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    // A document that is not an object carries no envelope: nothing usable, like an unreadable answer.
    if (document.isNull() || parseError.error != QJsonParseError::NoError || !document.isObject()) {
        answer.kind = WindowAnswer::Kind::Ex;
        answer.errorString = errorString;
        logger->error(options.exWithErrorString ? options.exPrefix + errorString : options.exPrefix);
        return answer;
    }

    answer.object = document.object();
    const bool success = options.envelope == Envelope::Status
        ? answer.object.value(QStringLiteral("Status")).toInt() == 1
        : answer.object.value(QStringLiteral("code")).toInt() == 0;
    if (!success) {
        answer.kind = WindowAnswer::Kind::Fail;
        answer.message = answer.object.value(QStringLiteral("message")).toString();
        logger->error(options.failPrefix + answer.message);
        return answer;
    }

    answer.kind = WindowAnswer::Kind::Success;
    answer.data = answer.object.value(options.envelope == Envelope::Status ? QStringLiteral("SegmentList")
                                                                           : QStringLiteral("data"));
    return answer;
}

QNetworkReply* WindowRequest::get(QNetworkAccessManager* nam, const QString& url, const QString& serverUrl,
                                  const Options& options, QObject* context, Handler handler)
{
    ServerTrust::watch(nam);
    QNetworkReply* reply = nam->get(HttpExchange::makeRequest(url, serverUrl));
    QPointer<QObject> guard(context);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, guard, options, handler]() {
        const WindowAnswer answer = classify(reply->readAll(), reply->errorString(), options);
        reply->deleteLater();
        if (guard && handler) {
            handler(answer);
        }
    });
    return reply;
}
