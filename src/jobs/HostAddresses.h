#pragma once

#include <QHostAddress>
#include <QList>
#include <QStringList>

// The host's own addresses, as a job names the computer it came from. Each one is logged.
namespace HostAddresses {

// The host's IPv4 addresses in text form.
QStringList GetIp();
// The same for addresses listed before (the job reader lists them once per pass).
QStringList GetIp(const QList<QHostAddress>& addresses);

} // namespace HostAddresses
