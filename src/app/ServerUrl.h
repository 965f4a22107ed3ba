#pragma once

#include <QString>

namespace ServerUrl {

// A server address typed without a scheme is reached over plain HTTP.
inline QString withScheme(const QString& url)
{
    const bool hasScheme = url.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    return hasScheme ? url : QStringLiteral("http://") + url;
}

// The address of path on the server at base: exactly one "/" between them, however the stored address ends
// (people paste "http://host:8080/").
inline QString join(const QString& base, const QString& path)
{
    int end = base.size();
    while (end > 0 && base.at(end - 1) == QLatin1Char('/')) {
        --end;
    }
    int start = 0;
    while (start < path.size() && path.at(start) == QLatin1Char('/')) {
        ++start;
    }
    return base.leftRef(end) + QLatin1Char('/') + path.midRef(start);
}

} // namespace ServerUrl
