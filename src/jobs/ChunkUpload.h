#pragma once

#include "api/HttpExchange.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// The file chunks of one job, posted one after another over one kept-alive connection with libcurl (the
// halcyra_curl module, CurlTransfer), or with Qt when the module is missing: Qt's HTTP
// layer hands a body to its thread in 16 KiB pieces and leaves Nagle's algorithm on, which costs about half
// the speed of a large upload. The posts run on one worker thread kept for the whole file while the caller's
// event loop keeps going, so windows repaint and the progress dialog stays live, and the caller can read the
// next chunk between start() and wait(). Requests, certificate rule (ServerTrust) and the no-progress
// time-out are those of HttpExchange.
class ChunkUpload
{
public:
    // tlsBase as for HttpExchange; stop is asked while a post waits and ends it early (logout, quit).
    ChunkUpload(const QString& url, const QByteArray& contentType, const QString& tlsBase,
                std::function<bool()> stop = {});
    ~ChunkUpload();
    ChunkUpload(const ChunkUpload&) = delete;
    ChunkUpload& operator=(const ChunkUpload&) = delete;

    // Hands chunk to the worker; it must stay unchanged until wait() has returned. Without the module the
    // whole exchange runs here.
    void start(const QByteArray& chunk);
    // The answer to the chunk of the last start().
    HttpAnswer wait();
    HttpAnswer post(const QByteArray& chunk)
    {
        start(chunk);
        return wait();
    }

    // True when the libcurl module beside the executable could be loaded.
    static bool hasFastPath();

    // The headers Qt's HTTP layer adds on its own, so the server sees the same request from either path.
    static QByteArray acceptLanguage();

private:
    struct Transfer;
    std::unique_ptr<Transfer> m_transfer;
};
