#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

// How the main window's own non-blocking GET requests end: "ex" (no JSON answer), "fail" (the server
// refused) or success with the payload.
struct WindowAnswer
{
    enum class Kind { Ex, Fail, Success };

    Kind kind = Kind::Ex;
    QJsonObject object; // the whole answer object
    QJsonValue data; // the payload: "data", or "SegmentList" for the site list
    QString message; // the server's reason in the fail case
    QString errorString; // the reply's error text in the ex case

    bool ok() const { return kind == Kind::Success; }
};

// One GET of the main window: sent through the window's manager, the certificate rule for "https" servers, the
// answer sorted and logged ("<ex prefix>" + error string or "<fail prefix>" + message) when the reply
// finishes, then the handler runs (only while the context object lives) and the reply is released.
class WindowRequest
{
public:
    // Which envelope the endpoint answers with: "code"/"data", or the site list's "Status"/"SegmentList".
    enum class Envelope { Code, Status };

    struct Options
    {
        QString exPrefix;
        QString failPrefix;
        Envelope envelope = Envelope::Code;
        bool exWithErrorString = true; // false: the ex line is the prefix alone
    };

    using Handler = std::function<void(const WindowAnswer&)>;

    static QNetworkReply* get(QNetworkAccessManager* nam, const QString& url, const QString& serverUrl,
                              const Options& options, QObject* context, Handler handler);

    // Sorts one finished answer (body and the reply's error text) and writes the log line of its case.
    static WindowAnswer classify(const QByteArray& body, const QString& errorString, const Options& options);
};
