#include "ChunkUpload.h"

#include "CurlExchange.h"

ChunkUpload::ChunkUpload(const QString& url, const QByteArray& contentType, const QString& tlsBase,
                         std::function<bool()> stop, CurlExchange* exchange)
    : m_url(url)
    , m_contentType(contentType)
    , m_tlsBase(tlsBase)
    , m_exchange(exchange)
{
    if (!m_exchange) {
        m_own.reset(new CurlExchange());
        m_exchange = m_own.get();
    }
    m_exchange->setStop(std::move(stop));
}

ChunkUpload::~ChunkUpload()
{
    // The pipeline's other requests run to their end, as Qt's did.
    m_exchange->setStop({});
}

bool ChunkUpload::hasFastPath()
{
    return CurlExchange::hasFastPath();
}

void ChunkUpload::start(const QByteArray& chunk)
{
    m_exchange->startPost(m_url, chunk, m_contentType, m_tlsBase);
}

HttpAnswer ChunkUpload::wait()
{
    return m_exchange->wait();
}
