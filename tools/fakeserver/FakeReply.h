#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

// What the fake server sends back: an ordinary answer, or one of the misbehaviours tests need.
class FakeReply
{
public:
    enum class Kind {
        Answer, // status, content type and body as given
        PassThrough, // let the endpoint answer (used with a delay)
        NeverAnswer, // accept the request, send nothing until released or stopped, then cut the answer
        CloseMidBody, // announce the full length, send half of the body, close the connection
    };

    Kind kind = Kind::Answer;
    int status = 200;
    QByteArray contentType = "application/json; charset=utf-8";
    QByteArray body;
    int delayMs = 0; // wait this long before answering
    int remaining = -1; // overrides only: how many requests it serves, -1 = until cleared
    int skip = 0; // overrides only: requests the endpoint answers itself before the override starts

    static FakeReply json(const QJsonObject& object, int status = 200);
    static FakeReply json(const QJsonDocument& document, int status = 200);
    // Any body, for example a JSON array, the literal null or text that is not JSON.
    static FakeReply raw(const QByteArray& body, const QByteArray& contentType = "application/json; charset=utf-8",
                         int status = 200);
    static FakeReply html(int status, const QByteArray& html);
    static FakeReply html500();
    static FakeReply notFound();
    static FakeReply bytes(const QByteArray& data, const QByteArray& contentType = "application/octet-stream");
    // The envelope {"code", "message", "data"}; data is left out when it is undefined.
    static FakeReply envelope(int code, const QString& message, const QJsonValue& data = QJsonValue::Undefined);
    static FakeReply delayed(int ms);
    static FakeReply neverAnswer();
    static FakeReply closeMidBody(const QByteArray& body = QByteArray());

    FakeReply& times(int count)
    {
        remaining = count;
        return *this;
    }
    // "The third chunk fails": the first n requests to the path are answered as usual.
    FakeReply& skipping(int n)
    {
        skip = n;
        return *this;
    }
    FakeReply& after(int ms)
    {
        delayMs = ms;
        return *this;
    }
};
