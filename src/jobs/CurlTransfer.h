#pragma once

#include <QByteArray>
#include <QList>

#include <atomic>

// What the upload needs from libcurl, kept in a module of its own (loaded on the first upload): libcurl and
// its dependencies would otherwise be mapped and relocated at every start of the client.
class CurlTransfer
{
public:
    enum class Tls { None, System, Any, Pin };
    enum class Result { Ok, Aborted, TimedOut, HostNotFound, Refused, Ssl, Closed, Other };

    struct Config
    {
        QByteArray url; // encoded
        QList<QByteArray> headers; // "Name: value"; "Name:" removes one libcurl would add
        QByteArray acceptEncoding;
        Tls tls = Tls::None;
        QByteArray host; // for the pin rule's check against the system trust store
        QByteArray pinned; // SHA-256 as upper-case hex pairs joined by ':'; empty: none yet
    };

    struct Answer
    {
        Result result = Result::Other;
        QByteArray error;
        long httpStatus = 0;
        QByteArray body;
        QByteArray firstSeen; // pin rule: the certificate accepted on first use
        QByteArray refused; // pin rule: the certificate refused
    };

    virtual ~CurlTransfer() = default;
    // Blocks until the server answered; abort ends it early; timeoutMs is the longest silence.
    virtual Answer post(const QByteArray& body, int timeoutMs, const std::atomic<bool>& abort) = 0;
    virtual void setPinned(const QByteArray& fingerprint) = 0;
};

// The module's one entry point; null when libcurl cannot apply the configuration (no OpenSSL for the pin rule).
extern "C" {
using CreateCurlTransfer = CurlTransfer* (*)(const CurlTransfer::Config& config);
CurlTransfer* halcyraCreateCurlTransfer(const CurlTransfer::Config& config);
}
