#include "JsonFields.h"

#include <QLocale>

#include <cmath>
#include <limits>

QString JsonFields::text(const QJsonValue& value)
{
    return value.toString();
}

int JsonFields::integer(const QJsonValue& value)
{
    if (!value.isDouble()) {
        return 0;
    }
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || d < double(std::numeric_limits<int>::min())
        || d > double(std::numeric_limits<int>::max())) {
        return 0;
    }
    return int(d);
}

double JsonFields::real(const QJsonValue& value)
{
    return value.isDouble() ? value.toDouble() : 0.0;
}

bool JsonFields::flag(const QJsonValue& value)
{
    return value.isBool() && value.toBool();
}

QString JsonFields::identifier(const QJsonValue& value)
{
    if (value.isString()) {
        return value.toString();
    }
    if (value.isDouble()) {
        const double d = value.toDouble();
        // Whole numbers in full, so a large identifier never turns into exponent notation.
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9007199254740992.0) {
            return QString::number(qint64(d));
        }
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
    return QStringLiteral("0");
}
