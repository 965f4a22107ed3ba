#include "FakeRequest.h"

namespace {

bool findField(const QByteArray& text, const QString& key, QByteArray* value)
{
    const QByteArray wanted = key.toUtf8();
    const auto fields = FakeRequest::splitFields(text);
    for (const auto& field : fields) {
        if (FakeRequest::decodeFormValue(field.first) == wanted) {
            if (value) {
                *value = FakeRequest::decodeFormValue(field.second);
            }
            return true;
        }
    }
    return false;
}

} // namespace

QByteArray FakeRequest::rawPath() const
{
    const int q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

QByteArray FakeRequest::header(const QByteArray& name) const
{
    for (const auto& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
            return h.second;
        }
    }
    return QByteArray();
}

bool FakeRequest::hasHeader(const QByteArray& name) const
{
    for (const auto& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

bool FakeRequest::hasQueryItem(const QString& key) const
{
    return findField(query, key, nullptr);
}

QString FakeRequest::queryItem(const QString& key) const
{
    QByteArray value;
    findField(query, key, &value);
    return QString::fromUtf8(value);
}

bool FakeRequest::hasFormField(const QString& key) const
{
    return findField(body, key, nullptr);
}

QString FakeRequest::formField(const QString& key) const
{
    QByteArray value;
    findField(body, key, &value);
    return QString::fromUtf8(value);
}

QList<QPair<QByteArray, QByteArray>> FakeRequest::splitFields(const QByteArray& text)
{
    QList<QPair<QByteArray, QByteArray>> fields;
    if (text.isEmpty()) {
        return fields;
    }
    const QList<QByteArray> parts = text.split('&');
    for (const QByteArray& part : parts) {
        if (part.isEmpty()) {
            continue;
        }
        const int eq = part.indexOf('=');
        if (eq < 0) {
            fields.append(qMakePair(part, QByteArray()));
        } else {
            fields.append(qMakePair(part.left(eq), part.mid(eq + 1)));
        }
    }
    return fields;
}

QByteArray FakeRequest::decodeFormValue(const QByteArray& value)
{
    QByteArray plus = value;
    plus.replace('+', ' ');
    return QByteArray::fromPercentEncoding(plus);
}
