#pragma once

#include "api/HttpExchange.h"

#include <QByteArray>
#include <QString>

#include <functional>

class CurlExchange;

// The file chunks of one job, posted one after another through the pipeline's CurlExchange (libcurl on its
// worker thread, Qt's path when the module is missing): Qt's HTTP layer hands a body to its thread in 16 KiB
// pieces and leaves Nagle's algorithm on, which costs about half the speed of a large upload. The caller can
// read the next chunk between start() and wait().
class ChunkUpload
{
public:
    // tlsBase as for HttpExchange; stop is asked while a post waits and ends it early (logout, quit).
    // exchange: the pipeline's, kept for the whole pass.
    ChunkUpload(const QString& url, const QByteArray& contentType, const QString& tlsBase, CurlExchange& exchange,
                std::function<bool()> stop);
    ~ChunkUpload();
    ChunkUpload(const ChunkUpload&) = delete;
    ChunkUpload& operator=(const ChunkUpload&) = delete;

    // Hands chunk to the worker; it must stay unchanged until wait() has returned. Without the module the
    // whole exchange runs here.
    void start(const QByteArray& chunk);
    // The answer to the chunk of the last start().
    HttpAnswer wait();

private:
    QString m_url;
    QByteArray m_contentType;
    QString m_tlsBase;
    CurlExchange* m_exchange = nullptr;
};
