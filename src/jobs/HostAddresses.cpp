#include "HostAddresses.h"

#include "app/Logging.h"

#include <QNetworkInterface>

static Logger* logger = Logging::rootLogger();

namespace HostAddresses {

QStringList GetIp()
{
    return GetIp(QNetworkInterface::allAddresses());
}

QStringList GetIp(const QList<QHostAddress>& addresses)
{
    QStringList result;
    for (const QHostAddress& address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            result.append(address.toString());
            logger->info(QStringLiteral("[kskit.GetIp] IPV4:") + address.toString());
        } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
            logger->info(QStringLiteral("[kskit.GetIp] IPV6:") + address.toString());
        }
    }
    return result;
}

} // namespace HostAddresses
