#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// One request as the fake server received it, kept for tests to inspect.
class FakeRequest
{
public:
    QByteArray method;
    QString path; // percent-decoded path, as routed
    QByteArray target; // the request target exactly as sent: raw path, "?" and raw query
    QByteArray query; // raw query text after the first "?", empty when there is none
    QList<QPair<QByteArray, QByteArray>> headers; // as received (the names keep the client's case)
    QByteArray body;
    bool https = false;

    QByteArray rawPath() const;
    // Value of a header, compared case-insensitively; empty when absent.
    QByteArray header(const QByteArray& name) const;
    bool hasHeader(const QByteArray& name) const;

    // Query and form fields decoded like a web server does: "+" is a blank, "%XX" a byte.
    bool hasQueryItem(const QString& key) const;
    QString queryItem(const QString& key) const;
    bool hasFormField(const QString& key) const;
    QString formField(const QString& key) const;

    // The raw "key=value" pairs of a query or form text, in order, values still encoded.
    static QList<QPair<QByteArray, QByteArray>> splitFields(const QByteArray& text);
    // Form decoding of one value.
    static QByteArray decodeFormValue(const QByteArray& value);
};
