#include "ForwardingProxy.h"

#include <QTcpSocket>
#include <QUrl>

ForwardingProxy::ForwardingProxy(QObject* parent)
    : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, [this]() {
        while (QTcpSocket* client = nextPendingConnection()) {
            m_links.insert(client, Link());
            connect(client, &QTcpSocket::readyRead, this, [this, client]() { readClient(client); });
            connect(client, &QTcpSocket::disconnected, this, [this, client]() {
                const Link link = m_links.take(client);
                if (link.upstream) {
                    link.upstream->disconnectFromHost();
                }
                client->deleteLater();
            });
        }
    });
}

bool ForwardingProxy::start()
{
    return listen(QHostAddress::LocalHost);
}

QString ForwardingProxy::address() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(serverPort());
}

void ForwardingProxy::readClient(QTcpSocket* client)
{
    Link& link = m_links[client];
    link.pending += client->readAll();
    if (link.tunnel) {
        link.upstream->write(link.pending);
        link.pending.clear();
        return;
    }
    // One whole request at a time (head and Content-Length body): the client waits for each answer.
    while (true) {
        const int headEnd = link.pending.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            return;
        }
        const QByteArray head = link.pending.left(headEnd);
        const int lineEnd = head.indexOf("\r\n");
        const QList<QByteArray> line = head.left(lineEnd < 0 ? head.size() : lineEnd).split(' ');
        if (line.size() < 3) {
            client->abort();
            return;
        }
        const QByteArray lower = head.toLower();
        const int field = lower.indexOf("\r\ncontent-length:");
        const int length
            = field < 0 ? 0 : lower.mid(field + 17, lower.indexOf('\r', field + 2) - field - 17).trimmed().toInt();
        if (link.pending.size() < headEnd + 4 + length) {
            return;
        }
        requests.append(QString::fromLatin1(line.at(0) + ' ' + line.at(1)));
        const bool connectRequest = line.at(0) == "CONNECT";
        const QUrl target = connectRequest ? QUrl(QStringLiteral("//") + QString::fromLatin1(line.at(1)))
                                           : QUrl(QString::fromLatin1(line.at(1)));
        if (!link.upstream) {
            link.upstream = new QTcpSocket(client);
            QTcpSocket* upstream = link.upstream;
            connect(upstream, &QTcpSocket::readyRead, client,
                    [client, upstream]() { client->write(upstream->readAll()); });
            connect(upstream, &QTcpSocket::disconnected, client, [client]() { client->disconnectFromHost(); });
            upstream->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(target.port(80)));
            if (!upstream->waitForConnected(5000)) {
                client->abort();
                return;
            }
        }
        if (connectRequest) {
            link.tunnel = true;
            link.pending.remove(0, headEnd + 4);
            client->write("HTTP/1.1 200 Connection established\r\n\r\n");
            if (!link.pending.isEmpty()) {
                link.upstream->write(link.pending);
                link.pending.clear();
            }
            return;
        }
        const QByteArray originForm = target.path(QUrl::FullyEncoded).toLatin1()
            + (target.hasQuery() ? '?' + target.query(QUrl::FullyEncoded).toLatin1() : QByteArray());
        link.upstream->write(line.at(0) + ' ' + originForm + ' ' + line.at(2) + head.mid(lineEnd)
                             + link.pending.mid(headEnd, 4 + length));
        link.pending.remove(0, headEnd + 4 + length);
    }
}
