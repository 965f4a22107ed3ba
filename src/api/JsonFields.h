#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

// The conversion rules every record decoder follows, so a server that sends a value of another type
// gets the same answer everywhere: texts stay texts, whole 32-bit numbers are integers, flags are JSON
// booleans only, and identifiers accept a string or a number.
class JsonFields
{
public:
    // A JSON string; anything else gives empty text.
    static QString text(const QJsonValue& value);
    // A JSON number holding a whole value in the 32-bit signed range; anything else gives 0.
    static int integer(const QJsonValue& value);
    // A JSON number; anything else gives 0.
    static double real(const QJsonValue& value);
    // A JSON boolean; anything else (also 0, 1, "true") gives false.
    static bool flag(const QJsonValue& value);
    // A JSON string as it is, a JSON number as decimal text (1024 -> "1024"); anything else gives "0".
    static QString identifier(const QJsonValue& value);
    // The array under a value; anything else gives an empty array.
    static QJsonArray array(const QJsonValue& value) { return value.toArray(); }
    // The object under a value; anything else (including array elements that are not objects) gives {}.
    static QJsonObject object(const QJsonValue& value) { return value.toObject(); }
};
