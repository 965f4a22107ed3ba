#include "ApiAnswer.h"

#include "HttpExchange.h"
#include "ServerTrust.h"
#include "app/Logging.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

static Logger* logger = Logging::rootLogger();

ApiAnswer ApiAnswer::read(const QByteArray& body, const QString& errorString, Envelope envelope, const Log& log)
{
    ApiAnswer answer;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    // A document that is not an object carries no envelope: nothing usable, like an unreadable answer.
    if (document.isNull() || parseError.error != QJsonParseError::NoError || !document.isObject()) {
        answer.kind = Kind::Ex;
        answer.errorString = errorString;
        if (!log.quiet) {
            logger->error(log.exWithErrorString ? log.exPrefix + errorString : log.exPrefix);
        }
        return answer;
    }

    answer.object = document.object();
    const bool success = envelope == Envelope::Status ? answer.object.value(QStringLiteral("Status")).toInt() == 1
                                                      : answer.object.value(QStringLiteral("code")).toInt() == 0;
    if (!success) {
        answer.kind = Kind::Fail;
        answer.message = answer.object.value(QStringLiteral("message")).toString();
        if (!log.quiet) {
            logger->error(log.failPrefix + answer.message);
        }
        return answer;
    }

    answer.kind = Kind::Success;
    answer.data
        = answer.object.value(envelope == Envelope::Status ? QStringLiteral("SegmentList") : QStringLiteral("data"));
    return answer;
}

QNetworkReply* ApiAnswer::get(QNetworkAccessManager* nam, const QString& url, const QString& serverUrl,
                              Envelope envelope, const Log& log, QObject* context, Handler handler)
{
    ServerTrust::watch(nam);
    QNetworkReply* reply = nam->get(HttpExchange::makeRequest(url, serverUrl));
    QPointer<QObject> guard(context);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, guard, envelope, log, handler]() {
        HttpAnswer got;
        HttpExchange::readAnswer(reply, got);
        // Nothing else aborts these replies: a cancelled one ran out of time.
        got.timedOut = got.error == QNetworkReply::OperationCanceledError;
        ApiAnswer answer = read(got.body, got.failureText(), envelope, log);
        answer.timedOut = got.timedOut;
        answer.unanswered = got.unanswered();
        reply->deleteLater();
        if (guard && handler) {
            handler(answer);
        }
    });
    return reply;
}
