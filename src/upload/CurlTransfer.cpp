// The libcurl side of the job pipeline's requests, built as a module the client loads on its first job.
#include "jobs/CurlTransfer.h"

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <arpa/inet.h>

#include <chrono>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

bool hasOpenSsl()
{
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info && info->ssl_version && QByteArray(info->ssl_version).startsWith("OpenSSL");
}

bool isAddress(const QByteArray& host)
{
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.constData(), buffer) == 1 || inet_pton(AF_INET6, host.constData(), buffer) == 1;
}

CurlTransfer::Result resultOf(CURLcode code)
{
    switch (code) {
    case CURLE_OK:
        return CurlTransfer::Result::Ok;
    case CURLE_COULDNT_RESOLVE_HOST:
        return CurlTransfer::Result::HostNotFound;
    case CURLE_COULDNT_CONNECT:
        return CurlTransfer::Result::Refused;
    case CURLE_OPERATION_TIMEDOUT:
        return CurlTransfer::Result::TimedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
        return CurlTransfer::Result::Ssl;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return CurlTransfer::Result::Closed;
    default:
        return CurlTransfer::Result::Other;
    }
}

class EasyTransfer : public CurlTransfer
{
public:
    explicit EasyTransfer(const Config& config)
        : m_config(config)
    { }

    ~EasyTransfer() override
    {
        if (m_easy) {
            curl_easy_cleanup(m_easy);
        }
    }

    bool setUp()
    {
        static std::once_flag once;
        std::call_once(once, []() { curl_global_init(CURL_GLOBAL_DEFAULT); });
        if (m_config.tls == Tls::Pin && !hasOpenSsl()) {
            return false;
        }
        m_easy = curl_easy_init();
        if (!m_easy) {
            return false;
        }
        CURL* e = m_easy;
        curl_easy_setopt(e, CURLOPT_PROXY, ""); // Qt's manager uses no proxy either
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_TCP_NODELAY, 1L);
        if (!m_config.acceptEncoding.isEmpty()) {
            curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, m_config.acceptEncoding.constData());
        }
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, m_errorBuffer);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &EasyTransfer::write);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &EasyTransfer::header);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &EasyTransfer::progress);
        curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);

        switch (m_config.tls) {
        case Tls::None:
        case Tls::System:
            curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
            curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
            return true;
        case Tls::Any:
            curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
            return true;
        case Tls::Pin:
            // libcurl's own checks are off; the handshake runs the rule in verifyChain instead.
            curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
            return curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &EasyTransfer::prepareTls) == CURLE_OK
                && curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, this) == CURLE_OK;
        }
        return false;
    }

    Answer perform(const Request& request, int timeoutMs, const std::atomic<bool>& abort) override
    {
        curl_easy_setopt(m_easy, CURLOPT_URL, request.url.constData());
        if (request.body) {
            curl_easy_setopt(m_easy, CURLOPT_POST, 1L);
            curl_easy_setopt(m_easy, CURLOPT_POSTFIELDS, request.body->constData());
            curl_easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body->size()));
        } else {
            curl_easy_setopt(m_easy, CURLOPT_HTTPGET, 1L);
        }
        curl_slist* headers = nullptr;
        for (const QByteArray& field : request.headers) {
            headers = curl_slist_append(headers, field.constData());
        }
        curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs));
        m_abort = &abort;
        m_timeoutMs = timeoutMs;
        m_timedOut = false;
        m_lastUp = -1;
        m_lastDown = -1;
        m_lastProgress = Clock::now();
        m_errorBuffer[0] = '\0';
        m_answer = Answer();

        const CURLcode code = curl_easy_perform(m_easy);
        Answer answer = std::move(m_answer);
        m_answer = Answer();
        answer.result
            = code == CURLE_ABORTED_BY_CALLBACK ? (m_timedOut ? Result::TimedOut : Result::Aborted) : resultOf(code);
        if (code != CURLE_OK) {
            answer.error = m_errorBuffer[0] ? QByteArray(m_errorBuffer) : QByteArray(curl_easy_strerror(code));
        }
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &answer.httpStatus);
        curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, nullptr);
        curl_slist_free_all(headers);
        m_abort = nullptr;
        return answer;
    }

    void setPinned(const QByteArray& fingerprint) override { m_config.pinned = fingerprint; }

private:
    // Keeps the reason phrase of the last status line ("HTTP/1.1 404 Not Found") and the cookies set.
    static size_t header(char* data, size_t size, size_t count, void* self)
    {
        Answer& answer = static_cast<EasyTransfer*>(self)->m_answer;
        const QByteArray line = QByteArray::fromRawData(data, static_cast<int>(size * count)).trimmed();
        if (line.startsWith("HTTP/")) {
            const int code = line.indexOf(' ');
            const int reason = code < 0 ? -1 : line.indexOf(' ', code + 1);
            answer.reason = reason < 0 ? QByteArray() : line.mid(reason + 1);
            answer.setCookies.clear();
        } else if (line.size() > 11 && qstrnicmp(line.constData(), "set-cookie:", 11) == 0) {
            answer.setCookies.append(line.mid(11).trimmed());
        }
        return size * count;
    }

    static size_t write(char* data, size_t size, size_t count, void* self)
    {
        static_cast<EasyTransfer*>(self)->m_answer.body.append(data, static_cast<int>(size * count));
        return size * count;
    }

    // The time-out measures silence: any byte either way restarts it.
    static int progress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up)
    {
        auto* t = static_cast<EasyTransfer*>(self);
        const Clock::time_point now = Clock::now();
        if (up != t->m_lastUp || down != t->m_lastDown) {
            t->m_lastUp = up;
            t->m_lastDown = down;
            t->m_lastProgress = now;
        } else if (now - t->m_lastProgress > std::chrono::milliseconds(t->m_timeoutMs)) {
            t->m_timedOut = true;
            return 1;
        }
        return t->m_abort && t->m_abort->load() ? 1 : 0;
    }

    // The pin rule on the handshake, before any byte of the body leaves: a certificate the system trusts for
    // this host passes, any other only when its SHA-256 is the pinned one (or none is pinned yet).
    static int verifyChain(X509_STORE_CTX* store, void* self)
    {
        auto* t = static_cast<EasyTransfer*>(self);
        if (X509_verify_cert(store) == 1) {
            return 1;
        }
        X509* leaf = X509_STORE_CTX_get0_cert(store);
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (!leaf || X509_digest(leaf, EVP_sha256(), digest, &length) != 1) {
            return 0;
        }
        const QByteArray presented
            = QByteArray(reinterpret_cast<const char*>(digest), static_cast<int>(length)).toHex(':').toUpper();
        if (!t->m_config.pinned.isEmpty() && t->m_config.pinned != presented) {
            t->m_answer.refused = presented;
            return 0;
        }
        if (t->m_config.pinned.isEmpty()) {
            t->m_answer.firstSeen = presented;
        }
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }

    static CURLcode prepareTls(CURL*, void* sslContext, void* self)
    {
        auto* t = static_cast<EasyTransfer*>(self);
        auto* context = static_cast<SSL_CTX*>(sslContext);
        SSL_CTX_set_default_verify_paths(context);
        X509_VERIFY_PARAM* param = SSL_CTX_get0_param(context);
        const QByteArray& host = t->m_config.host;
        const int set = isAddress(host) ? X509_VERIFY_PARAM_set1_ip_asc(param, host.constData())
                                        : X509_VERIFY_PARAM_set1_host(param, host.constData(), 0);
        if (set != 1) {
            return CURLE_SSL_CERTPROBLEM;
        }
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_cert_verify_callback(context, &EasyTransfer::verifyChain, self);
        return CURLE_OK;
    }

    Config m_config;
    CURL* m_easy = nullptr;
    char m_errorBuffer[CURL_ERROR_SIZE] = {};
    Answer m_answer;
    const std::atomic<bool>* m_abort = nullptr;
    int m_timeoutMs = 0;
    bool m_timedOut = false;
    curl_off_t m_lastUp = -1;
    curl_off_t m_lastDown = -1;
    Clock::time_point m_lastProgress;
};

} // namespace

extern "C" CurlTransfer* halcyraCreateCurlTransfer(const CurlTransfer::Config& config)
{
    auto* transfer = new EasyTransfer(config);
    if (!transfer->setUp()) {
        delete transfer;
        return nullptr;
    }
    return transfer;
}
