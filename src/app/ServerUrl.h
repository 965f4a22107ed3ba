#pragma once

#include <QString>

namespace ServerUrl {

// A server address typed without a scheme is reached over plain HTTP.
inline QString withScheme(const QString& url)
{
    return url.contains(QLatin1String("http")) ? url : QStringLiteral("http://") + url;
}

} // namespace ServerUrl
