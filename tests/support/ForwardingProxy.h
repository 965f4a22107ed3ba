#pragma once

#include <QByteArray>
#include <QHash>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

// A small HTTP proxy on 127.0.0.1: requests in absolute form ("GET http://host:port/path") are sent on in origin
// form, and CONNECT opens a tunnel, always to 127.0.0.1 at the port asked for, so the host name may resolve nowhere.
// Each request line is recorded as it arrived.
class ForwardingProxy : public QTcpServer
{
    Q_OBJECT
public:
    explicit ForwardingProxy(QObject* parent = nullptr);
    bool start();
    QString address() const; // "http://127.0.0.1:PORT"
    QStringList requests;

private:
    struct Link
    {
        QTcpSocket* upstream = nullptr;
        QByteArray pending; // from the client, not yet sent on
        bool tunnel = false;
    };
    void readClient(QTcpSocket* client);
    QHash<QTcpSocket*, Link> m_links;
};
