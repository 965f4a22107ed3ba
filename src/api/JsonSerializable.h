#pragma once

#include <QJsonObject>

// Records that can read themselves from a JSON object and write themselves back under the same keys.
class JsonSerializable
{
public:
    virtual ~JsonSerializable();
    virtual void read(const QJsonObject& json) = 0;
    virtual void write(QJsonObject& json) const = 0;

protected:
    JsonSerializable() = default;
    JsonSerializable(const JsonSerializable&) = default;
    JsonSerializable& operator=(const JsonSerializable&) = default;
};
