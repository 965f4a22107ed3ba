#include "FakeKestranaServer.h"

#include "FakeKestranaApi.h"
#include "SelfSignedCertificate.h"

#include <httplib.h>
#include <openssl/pem.h>

#include <QMap>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

const char* const kOriginalContentType = "X-Fake-Original-Content-Type";
// httplib adds these to every request's headers; they were not sent by the client.
const char* const kSyntheticHeaders[]
    = { "REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR", "LOCAL_PORT", kOriginalContentType };

bool isSynthetic(const std::string& name)
{
    for (const char* h : kSyntheticHeaders) {
        if (name == h) {
            return true;
        }
    }
    return false;
}

} // namespace

struct FakeKestranaServer::Private
{
    mutable std::mutex mutex; // guards everything below
    std::condition_variable wake;
    FakeKestranaState state;
    QList<FakeRequest> requests;
    QMap<QString, FakeReply> overrides;
    bool recordRequests = true;
    std::function<void(const FakeRequest&, const FakeReply&)> observer;
    bool stopping = false;
    quint64 releaseGeneration = 0;
    int held = 0;

    SelfSignedCertificate certificate; // invalid = the shared one

    const SelfSignedCertificate& usedCertificate() const
    {
        return certificate.isValid() ? certificate : SelfSignedCertificate::shared();
    }

    std::unique_ptr<httplib::Server> http;
    std::unique_ptr<httplib::SSLServer> https;
    std::thread httpThread;
    std::thread httpsThread;
    int httpPort = 0;
    int httpsPort = 0;
    std::atomic<bool> running { false };

    void install(httplib::Server& server, bool secure);
    void serve(const httplib::Request& req, httplib::Response& res, bool secure);
    // Waits up to ms (forever when negative); false when the server stops meanwhile.
    bool waitFor(int ms);
    bool holdUntilReleased();
    bool startListeners(bool withHttp, int httpPortWanted, bool withHttps, int httpsPortWanted);
};

void FakeKestranaServer::Private::install(httplib::Server& server, bool secure)
{
    // One request per connection ("Connection: close"): an idle keep-alive connection would pin a worker
    // and hold up stop() for the keep-alive timeout.
    server.set_keep_alive_max_count(1);
    // A connection the client opens and leaves unused (Qt keeps spares) would likewise hold up stop() for the
    // wait for its first request.
    server.set_keep_alive_timeout(1);
    // httplib's default also sets SO_REUSEPORT, which lets a second server bind a port already in use and
    // take half of its requests.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const void*>(&yes), sizeof(yes));
    });
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    // The client's upload chunks carry a multipart content type over a raw body. httplib would parse
    // (and reject) them as multipart, so the type is set aside here and restored in the record.
    server.set_pre_routing_handler([](const httplib::Request& constReq, httplib::Response&) {
        auto& req = const_cast<httplib::Request&>(constReq);
        auto it = req.headers.find("Content-Type");
        if (it != req.headers.end() && it->second.rfind("multipart/", 0) == 0) {
            const std::string original = it->second;
            req.headers.erase(it);
            req.headers.emplace(kOriginalContentType, original);
            req.headers.emplace("Content-Type", "application/octet-stream");
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    auto handler = [this, secure](const httplib::Request& req, httplib::Response& res) { serve(req, res, secure); };
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    server.Delete(".*", handler);
    server.Patch(".*", handler);
    server.Options(".*", handler);
}

bool FakeKestranaServer::Private::waitFor(int ms)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (ms < 0) {
        wake.wait(lock, [this] { return stopping; });
        return false;
    }
    return !wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
}

bool FakeKestranaServer::Private::holdUntilReleased()
{
    std::unique_lock<std::mutex> lock(mutex);
    const quint64 generation = releaseGeneration;
    ++held;
    wake.wait(lock, [&] { return stopping || releaseGeneration != generation; });
    --held;
    return !stopping;
}

void FakeKestranaServer::Private::serve(const httplib::Request& req, httplib::Response& res, bool secure)
{
    FakeRequest request;
    request.method = QByteArray::fromStdString(req.method);
    request.path = QString::fromStdString(req.path);
    request.target = QByteArray::fromStdString(req.target);
    const int q = request.target.indexOf('?');
    request.query = q < 0 ? QByteArray() : request.target.mid(q + 1);
    for (const auto& h : req.headers) {
        if (!isSynthetic(h.first)) {
            request.headers.append(qMakePair(QByteArray::fromStdString(h.first), QByteArray::fromStdString(h.second)));
        }
    }
    if (req.has_header(kOriginalContentType)) {
        for (auto& h : request.headers) {
            if (h.first.compare("Content-Type", Qt::CaseInsensitive) == 0) {
                h.second = QByteArray::fromStdString(req.get_header_value(kOriginalContentType));
            }
        }
    }
    request.body = QByteArray::fromStdString(req.body);
    request.https = secure;

    FakeReply reply;
    bool overridden = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (recordRequests) {
            requests.append(request);
        }
        auto it = overrides.find(request.path);
        if (it != overrides.end() && it->skip > 0) {
            --it->skip;
        } else if (it != overrides.end()) {
            reply = it.value();
            overridden = true;
            if (it->remaining > 0 && --it->remaining == 0) {
                overrides.erase(it);
            }
        }
    }

    if (overridden && reply.delayMs > 0 && !waitFor(reply.delayMs)) {
        res.status = 503;
        return;
    }
    if (overridden && reply.kind == FakeReply::Kind::NeverAnswer) {
        holdUntilReleased();
        // Answering nothing: a provider that fails at once makes httplib close the connection.
        res.set_content_provider(1, "text/plain", [](size_t, size_t, httplib::DataSink&) { return false; });
        return;
    }
    if (!overridden || reply.kind == FakeReply::Kind::PassThrough) {
        const QString base = QStringLiteral("%1://127.0.0.1:%2")
                                 .arg(secure ? QStringLiteral("https") : QStringLiteral("http"))
                                 .arg(secure ? httpsPort : httpPort);
        std::lock_guard<std::mutex> lock(mutex);
        reply = FakeKestranaApi::handle(request, state, base);
    }

    res.status = reply.status;
    if (reply.kind == FakeReply::Kind::CloseMidBody) {
        const std::string body = reply.body.toStdString();
        const size_t half = body.size() / 2;
        res.set_content_provider(body.size(), reply.contentType.toStdString(),
                                 [body, half](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset == 0) {
                                         sink.write(body.data(), half);
                                     }
                                     return false;
                                 });
        return;
    }
    res.set_content(reply.body.toStdString(), reply.contentType.toStdString());

    std::function<void(const FakeRequest&, const FakeReply&)> observe;
    {
        std::lock_guard<std::mutex> lock(mutex);
        observe = observer;
    }
    if (observe) {
        observe(request, reply);
    }
}

FakeKestranaServer::FakeKestranaServer(const FakeKestranaState& state)
    : d(new Private)
{
    d->state = state;
}

FakeKestranaServer::~FakeKestranaServer()
{
    stop();
}

bool FakeKestranaServer::start()
{
    return d->startListeners(true, 0, true, 0);
}

bool FakeKestranaServer::startListener(bool https, int port)
{
    return d->startListeners(!https, https ? 0 : port, https, https ? port : 0);
}

bool FakeKestranaServer::Private::startListeners(bool withHttp, int httpPortWanted, bool withHttps, int httpsPortWanted)
{
    if (running) {
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = false;
    }
    if (withHttps) {
        const SelfSignedCertificate& certificate = usedCertificate();
        if (!certificate.isValid()) {
            return false;
        }
        BIO* certBio = BIO_new_mem_buf(certificate.certificatePem().constData(), certificate.certificatePem().size());
        BIO* keyBio = BIO_new_mem_buf(certificate.privateKeyPem().constData(), certificate.privateKeyPem().size());
        X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
        EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
        BIO_free(certBio);
        BIO_free(keyBio);
        if (cert && key) {
            https.reset(new httplib::SSLServer(cert, key));
        }
        X509_free(cert);
        EVP_PKEY_free(key);
        if (!https || !https->is_valid()) {
            https.reset();
            return false;
        }
        install(*https, true);
        // Likewise for a spare connection left before its TLS handshake.
        https->set_read_timeout(1);
    }
    if (withHttp) {
        http.reset(new httplib::Server);
        install(*http, false);
    }

    // Bound sockets already listen, so requests made right after start() simply wait in the backlog.
    auto bind = [](httplib::Server& server, int wanted) {
        if (wanted == 0) {
            return server.bind_to_any_port("127.0.0.1");
        }
        return server.bind_to_port("127.0.0.1", wanted) ? wanted : -1;
    };
    httpPort = http ? bind(*http, httpPortWanted) : 0;
    httpsPort = https ? bind(*https, httpsPortWanted) : 0;
    if ((http && httpPort <= 0) || (https && httpsPort <= 0)) {
        http.reset();
        https.reset();
        httpPort = 0;
        httpsPort = 0;
        return false;
    }
    if (http) {
        httpThread = std::thread([this] { http->listen_after_bind(); });
    }
    if (https) {
        httpsThread = std::thread([this] { https->listen_after_bind(); });
    }
    // A stop() that comes before the listeners run would be missed by them and hang the join.
    while ((http && !http->is_running()) || (https && !https->is_running())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    running = true;
    return true;
}

void FakeKestranaServer::stop()
{
    if (!d->running) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
    }
    d->wake.notify_all();
    if (d->http) {
        d->http->stop();
    }
    if (d->https) {
        d->https->stop();
    }
    if (d->httpThread.joinable()) {
        d->httpThread.join();
    }
    if (d->httpsThread.joinable()) {
        d->httpsThread.join();
    }
    d->http.reset();
    d->https.reset();
    d->running = false;
}

bool FakeKestranaServer::isRunning() const
{
    return d->running;
}

int FakeKestranaServer::httpPort() const
{
    return d->httpPort;
}

int FakeKestranaServer::httpsPort() const
{
    return d->httpsPort;
}

QString FakeKestranaServer::httpUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(d->httpPort);
}

QString FakeKestranaServer::httpsUrl() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(d->httpsPort);
}

QList<FakeRequest> FakeKestranaServer::requests() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->requests;
}

QList<FakeRequest> FakeKestranaServer::requestsTo(const QString& path) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    QList<FakeRequest> result;
    for (const FakeRequest& r : qAsConst(d->requests)) {
        if (r.path == path) {
            result.append(r);
        }
    }
    return result;
}

FakeRequest FakeKestranaServer::lastRequest(const QString& path) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    for (int i = d->requests.size() - 1; i >= 0; --i) {
        if (path.isEmpty() || d->requests.at(i).path == path) {
            return d->requests.at(i);
        }
    }
    return FakeRequest();
}

int FakeKestranaServer::requestCount(const QString& path) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (path.isEmpty()) {
        return d->requests.size();
    }
    int count = 0;
    for (const FakeRequest& r : qAsConst(d->requests)) {
        count += r.path == path ? 1 : 0;
    }
    return count;
}

void FakeKestranaServer::clearRequests()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->requests.clear();
}

void FakeKestranaServer::setRecordRequests(bool record)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->recordRequests = record;
}

void FakeKestranaServer::setRequestObserver(const std::function<void(const FakeRequest&, const FakeReply&)>& observer)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->observer = observer;
}

void FakeKestranaServer::setOverride(const QString& path, const FakeReply& reply)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->overrides.insert(path, reply);
}

void FakeKestranaServer::clearOverride(const QString& path)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->overrides.remove(path);
}

void FakeKestranaServer::clearOverrides()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->overrides.clear();
}

void FakeKestranaServer::releaseHeldConnections()
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        ++d->releaseGeneration;
    }
    d->wake.notify_all();
}

int FakeKestranaServer::heldConnections() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->held;
}

FakeKestranaState FakeKestranaServer::state() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->state;
}

void FakeKestranaServer::setState(const FakeKestranaState& state)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->state = state;
}

void FakeKestranaServer::updateState(const std::function<void(FakeKestranaState&)>& change)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    change(d->state);
}

void FakeKestranaServer::markQrScanned(const QString& clientId, const QString& account)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    FakeKestranaState::QrRegistration& reg = d->state.qrRegistrations[clientId];
    reg.clientId = clientId;
    reg.scannedBy = account;
}

QByteArray FakeKestranaServer::uploadedBytes(qint64 jobId) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    auto it = d->state.jobs.constFind(jobId);
    return it == d->state.jobs.constEnd() ? QByteArray() : it->uploaded;
}

FakeKestranaState::Job FakeKestranaServer::job(qint64 jobId) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->state.jobs.value(jobId);
}

void FakeKestranaServer::setCertificate(const SelfSignedCertificate& certificate)
{
    d->certificate = certificate;
}

QByteArray FakeKestranaServer::certificatePem() const
{
    return d->usedCertificate().certificatePem();
}
