#pragma once

#include <QByteArray>
#include <QList>

#include <atomic>

// What the job pipeline needs from libcurl, kept in a module of its own (loaded on the first job): libcurl and
// its dependencies would otherwise be mapped and relocated at every start of the client.
class CurlTransfer
{
public:
    enum class Tls { None, System, Any, Pin };
    enum class Result { Ok, Aborted, TimedOut, HostNotFound, Refused, Ssl, Closed, Other };

    // The certificate rule of one server; a transfer serves any number of requests under it.
    struct Config
    {
        QByteArray acceptEncoding; // decoded as Qt decodes it; the request's own header names it
        Tls tls = Tls::None;
        QByteArray host; // for the pin rule's check against the system trust store
        QByteArray pinned; // SHA-256 as upper-case hex pairs joined by ':'; empty: none yet
    };

    struct Request
    {
        QByteArray url; // encoded
        QList<QByteArray> headers; // "Name: value" in the order sent; "Name:" removes one libcurl would add
        const QByteArray* body = nullptr; // null: GET
    };

    struct Answer
    {
        Result result = Result::Other;
        QByteArray error;
        long httpStatus = 0;
        QByteArray reason; // the status line's reason phrase
        QList<QByteArray> setCookies; // the values of the answer's "Set-Cookie" fields
        QByteArray body;
        QByteArray firstSeen; // pin rule: the certificate accepted on first use
        QByteArray refused; // pin rule: the certificate refused
    };

    virtual ~CurlTransfer() = default;
    // Blocks until the server answered; abort ends it early; timeoutMs is the longest silence.
    virtual Answer perform(const Request& request, int timeoutMs, const std::atomic<bool>& abort) = 0;
    virtual void setPinned(const QByteArray& fingerprint) = 0;
};

// The module's one entry point; null when libcurl cannot apply the configuration (no OpenSSL for the pin rule).
extern "C" {
using CreateCurlTransfer = CurlTransfer* (*)(const CurlTransfer::Config& config);
CurlTransfer* halcyraCreateCurlTransfer(const CurlTransfer::Config& config);
}
