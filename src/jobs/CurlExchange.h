#pragma once

#include "api/HttpExchange.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QNetworkAccessManager;

// The job pipeline's requests (permission query, announcement, file chunks, confirmation) through libcurl on one
// worker thread kept for the exchange's life. Qt's HTTP layer hands a request body to its own thread in 16 KiB
// pieces, one queued signal each way per piece, and cannot switch Nagle's algorithm off, which halves the speed of a
// large upload. The caller's event loop runs while the worker sends, so windows repaint, and the caller can read the
// next chunk between start and wait(). The rules are the UI thread's: the address as given (KsEndpoints), the proxy Qt
// would take (HttpExchange::proxyFor), the certificate decision (ServerTrust), the silence time-out
// (HttpExchange::transferTimeout), the fields Qt writes, the cookies of the API's manager, and the answer as an
// HttpAnswer with Qt's error codes and texts.
class CurlExchange
{
public:
    // nam: the manager whose cookie jar the pipeline shares; may be null.
    explicit CurlExchange(QNetworkAccessManager* nam = nullptr);
    ~CurlExchange();
    CurlExchange(const CurlExchange&) = delete;
    CurlExchange& operator=(const CurlExchange&) = delete;

    // Asked while a request waits; true ends it early (logout, quit). Empty: requests run to their end.
    void setStop(std::function<bool()> stop);

    // tlsBase as for HttpExchange. A body must stay unchanged until wait() has returned. Without a thread to be
    // had (a user's task limit), the whole exchange runs in start.
    void startGet(const QString& url, const QString& tlsBase);
    void startPost(const QString& url, const QByteArray& body, const QByteArray& contentType, const QString& tlsBase);
    // The answer to the last start; totalMs > 0 bounds the whole wait (a cancel at quit).
    HttpAnswer wait(int totalMs = 0);
    // Hold the user's input back while waiting (the cancel of a job).
    void setExcludeUserInput(bool exclude) { m_excludeUserInput = exclude; }

    HttpAnswer get(const QString& url, const QString& tlsBase, int totalMs = 0)
    {
        startGet(url, tlsBase);
        return wait(totalMs);
    }
    HttpAnswer post(const QString& url, const QByteArray& body, const QByteArray& contentType, const QString& tlsBase)
    {
        startPost(url, body, contentType, tlsBase);
        return wait();
    }

private:
    void start(const QString& url, const QByteArray* body, const QByteArray& contentType, const QString& tlsBase);

    struct Worker;
    std::unique_ptr<Worker> m_worker;
    bool m_excludeUserInput = false;
};
