#pragma once

#include "api/HttpExchange.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QNetworkAccessManager;

// The job pipeline's requests (permission query, announcement, file chunks, confirmation) through libcurl (the
// halcyra_curl module, CurlTransfer) on one worker thread kept for the exchange's life, or through Qt's
// HttpExchange when the module is missing. Qt's HTTP layer costs a thread hop each way and its manager's
// machinery on every request, and for a large file it hands the body over in 16 KiB pieces with Nagle's
// algorithm on. The caller's event loop runs while the worker waits, so windows repaint, and the caller can do
// other work between start and wait(). The requests are the bytes Qt writes, under the same certificate rule
// (ServerTrust), the same no-progress time-out and the same answer (HttpAnswer, with Qt's error texts).
class CurlExchange
{
public:
    // nam: the manager of Qt's path; null gives that path a manager of its own.
    explicit CurlExchange(QNetworkAccessManager* nam = nullptr);
    ~CurlExchange();
    CurlExchange(const CurlExchange&) = delete;
    CurlExchange& operator=(const CurlExchange&) = delete;

    // Asked while a request waits; true ends it early (logout, quit). Empty: requests run to their end.
    void setStop(std::function<bool()> stop);

    // tlsBase as for HttpExchange. A body must stay unchanged until wait() has returned. Without the module the
    // whole exchange runs in start.
    void startGet(const QString& url, const QString& tlsBase);
    void startPost(const QString& url, const QByteArray& body, const QByteArray& contentType, const QString& tlsBase);
    // The answer to the last start.
    HttpAnswer wait();

    HttpAnswer get(const QString& url, const QString& tlsBase)
    {
        startGet(url, tlsBase);
        return wait();
    }
    HttpAnswer post(const QString& url, const QByteArray& body, const QByteArray& contentType, const QString& tlsBase)
    {
        startPost(url, body, contentType, tlsBase);
        return wait();
    }

    // True when the libcurl module beside the executable could be loaded.
    static bool hasFastPath();

private:
    void start(const QString& url, const QByteArray* body, const QByteArray& contentType, const QString& tlsBase);

    struct Worker;
    std::unique_ptr<Worker> m_worker;
};
