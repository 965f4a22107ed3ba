#include "FakeReply.h"

#include <QJsonValue>

FakeReply FakeReply::json(const QJsonObject& object, int status)
{
    return json(QJsonDocument(object), status);
}

FakeReply FakeReply::json(const QJsonDocument& document, int status)
{
    return raw(document.toJson(QJsonDocument::Compact), "application/json; charset=utf-8", status);
}

FakeReply FakeReply::raw(const QByteArray& body, const QByteArray& contentType, int status)
{
    FakeReply reply;
    reply.status = status;
    reply.contentType = contentType;
    reply.body = body;
    return reply;
}

FakeReply FakeReply::html(int status, const QByteArray& html)
{
    return raw(html, "text/html; charset=utf-8", status);
}

FakeReply FakeReply::html500()
{
    return html(500,
                "<!DOCTYPE html>\n<html><head><title>Runtime Error</title></head>\n"
                "<body><h1>Server Error in '/' Application.</h1><p>Runtime Error</p></body></html>\n");
}

FakeReply FakeReply::notFound()
{
    return html(404,
                "<!DOCTYPE html>\n<html><head><title>404 - Not Found</title></head>\n"
                "<body><h1>404 - File or directory not found.</h1></body></html>\n");
}

FakeReply FakeReply::bytes(const QByteArray& data, const QByteArray& contentType)
{
    return raw(data, contentType, 200);
}

FakeReply FakeReply::envelope(int code, const QString& message, const QJsonValue& data)
{
    QJsonObject object;
    object.insert(QStringLiteral("code"), code);
    object.insert(QStringLiteral("message"), message);
    if (!data.isUndefined()) {
        object.insert(QStringLiteral("data"), data);
    }
    return json(object);
}

FakeReply FakeReply::delayed(int ms)
{
    FakeReply reply;
    reply.kind = Kind::PassThrough;
    reply.delayMs = ms;
    return reply;
}

FakeReply FakeReply::neverAnswer()
{
    FakeReply reply;
    reply.kind = Kind::NeverAnswer;
    return reply;
}

FakeReply FakeReply::closeMidBody(const QByteArray& body)
{
    FakeReply reply;
    reply.kind = Kind::CloseMidBody;
    reply.body = body.isEmpty()
        ? QByteArray("{\"code\":0,\"message\":\"success\",\"data\":[") + QByteArray(4096, ' ') + QByteArray("]}")
        : body;
    return reply;
}
