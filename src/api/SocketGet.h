#pragma once

#include "api/HttpExchange.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// One GET on a connection of its own, for the client settings fetched before the login dialog. Qt 5 loads its
// bearer plugins, D-Bus and two threads with the first network manager of a process, which costs start-up as
// much as building the dialog; the first request needs none of it. The request carries the fields Qt would
// write, the certificate rule is the one of every other request (ServerTrust), the answer is what the caller
// uses of Qt's (status, body, failure), and the whole exchange is bounded by timeoutMs. The event loop runs
// while it waits. A failed exchange has no body.
namespace SocketGet {

using Fields = QList<QPair<QByteArray, QByteArray>>;

// tlsBase: the address whose "https" prefix decides the certificate rule (the server base URL).
HttpAnswer get(const QString& url, const Fields& fields, const QString& tlsBase, int timeoutMs);

} // namespace SocketGet
