#include "ChunkUpload.h"

#include "CurlExchange.h"

ChunkUpload::ChunkUpload(const QString& url, const QByteArray& contentType, const QString& tlsBase,
                         CurlExchange& exchange, std::function<bool()> stop)
    : m_url(url)
    , m_contentType(contentType)
    , m_tlsBase(tlsBase)
    , m_exchange(&exchange)
{
    m_exchange->setStop(std::move(stop));
}

ChunkUpload::~ChunkUpload()
{
    // The pipeline's other requests run to their end, as Qt's did.
    m_exchange->setStop({});
}

void ChunkUpload::start(const QByteArray& chunk)
{
    m_exchange->startPost(m_url, chunk, m_contentType, m_tlsBase);
}

HttpAnswer ChunkUpload::wait()
{
    return m_exchange->wait();
}
