#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QObject;

// How one of the non-blocking queries ended: "ex" (no JSON object came back), "fail" (the server refused) or
// success with the payload.
struct ApiAnswer
{
    enum class Kind { Ex, Fail, Success };
    // Which envelope the endpoint answers with: "code"/"data", or the site list's "Status"/"SegmentList".
    enum class Envelope { Code, Status };
    // The log line of each failure case: the prefix followed by the reply's error text or the server's reason.
    struct Log
    {
        QString exPrefix;
        QString failPrefix;
        bool exWithErrorString = true; // false: the ex line is the prefix alone
        bool quiet = false; // no line at all
    };
    using Handler = std::function<void(const ApiAnswer&)>;

    Kind kind = Kind::Ex;
    QJsonObject object; // the whole answer object
    QJsonValue data; // the payload: "data", or "SegmentList" for the site list
    QString message; // the server's reason in the fail case
    QString errorString; // the failure's text in the ex case (HttpAnswer::failureText)
    bool timedOut = false; // no answer within the transfer time-out
    bool unanswered = false; // the server was not reached, or did not answer (HttpAnswer::unanswered)

    bool ok() const { return kind == Kind::Success; }

    // Sorts one finished answer (body and the failure's text) and writes the log line of its case.
    static ApiAnswer read(const QByteArray& body, const QString& errorString, Envelope envelope, const Log& log);
    // One GET on the given manager, under the rules of HttpExchange::makeRequest (certificate, time-out): the
    // answer is sorted and logged when the reply finishes, then the handler runs (only while the context lives).
    static QNetworkReply* get(QNetworkAccessManager* nam, const QString& url, const QString& serverUrl,
                              Envelope envelope, const Log& log, QObject* context, Handler handler);
};
