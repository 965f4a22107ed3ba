#include "FakeKestranaServer.h"
#include "TestHome.h"
#include "ThreadLimitScope.h"
#include "api/ApiAnswer.h"
#include "api/HttpExchange.h"
#include "api/ServerTrust.h"
#include "api/SocketGet.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "jobs/CurlExchange.h"

#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <optional>

// Declared before the data tables that use it.
Q_DECLARE_METATYPE(FakeReply)

// The one synchronous exchange against a real local server: what goes on the wire, how answers are
// classified, and that no request can hang for ever.
class TestHttpExchange : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void getSendsPathAndQueryAsWritten_data();
    void getSendsPathAndQueryAsWritten();
    void postSendsFormBodyAndContentTypeOnly_data();
    void postSendsFormBodyAndContentTypeOnly();
    void tlsRelaxedOnlyForLowerCaseHttps_data();
    void tlsRelaxedOnlyForLowerCaseHttps();
    void serverCertificateRule_data();
    void serverCertificateRule();
    void answerClassification_data();
    void answerClassification();
    void pipelineWritesQtsBytes_data();
    void pipelineWritesQtsBytes();
    void settingsFetchReadsAsQt_data();
    void settingsFetchReadsAsQt();
    void connectionRefusedIsAFailedTransfer();
    void silentServerEndsAfterTransferTimeout();
    void slowButAnsweringServerIsNotCutOff();
    void connectionClosedMidBodyFails();
    void repliesAreReleasedOnceRead();
    void percentEncodeKeepsOnlyUnreserved_data();
    void percentEncodeKeepsOnlyUnreserved();

private:
    QString base(bool https) const { return m_server->url(https); }
    QScopedPointer<TestHome> m_home; // the certificate pins live in its data folder
    QScopedPointer<FakeKestranaServer> m_server;
};

void TestHttpExchange::initTestCase()
{
    m_home.reset(new TestHome);
    QVERIFY(m_home->isValid());
    m_server.reset(new FakeKestranaServer(FakeKestranaState::sample()));
    QVERIFY(m_server->start());
}

void TestHttpExchange::cleanupTestCase()
{
    m_server->stop();
}

void TestHttpExchange::init()
{
    m_server->clearRequests();
    m_server->clearOverrides();
}

void TestHttpExchange::cleanup()
{
    Singleton<LoginInfo>::getInstance()->setServerCertificate(QStringLiteral("pin"));
    HttpExchange::setTransferTimeoutForTests(0);
    m_server->releaseHeldConnections();
}

void TestHttpExchange::getSendsPathAndQueryAsWritten_data()
{
    QTest::addColumn<bool>("https");
    QTest::addColumn<QString>("pathAndQuery");
    QTest::addColumn<QByteArray>("expectedTarget");

    for (bool https : { false, true }) {
        const char* scheme = https ? "https" : "http";
        QTest::addRow("%s plain", scheme) << https << QStringLiteral("/User/BAS_ProjectList?strUserAccount=alice")
                                          << QByteArray("/User/BAS_ProjectList?strUserAccount=alice");
        // Tolerant parsing escapes what cannot stand in a URL but leaves "&", "+", "=" and escapes alone.
        QTest::addRow("%s tolerant", scheme)
            << https << QStringLiteral("/User/BAS_UserPermission?UserAccount=a b+c&x=%2B")
            << QByteArray("/User/BAS_UserPermission?UserAccount=a%20b+c&x=%2B");
    }
}

void TestHttpExchange::getSendsPathAndQueryAsWritten()
{
    QFETCH(bool, https);
    QFETCH(QString, pathAndQuery);
    QFETCH(QByteArray, expectedTarget);

    HttpExchange exchange;
    const HttpAnswer answer = exchange.get(base(https) + pathAndQuery, base(https));
    QVERIFY2(!answer.transferFailed() || answer.httpStatus > 0, qPrintable(answer.errorString));

    QCOMPARE(m_server->requestCount(), 1);
    const FakeRequest request = m_server->lastRequest();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, expectedTarget);
    QCOMPARE(request.https, https);
    QVERIFY(!request.hasHeader("Content-Type"));
    QVERIFY(!request.hasHeader("Authorization"));
    QVERIFY(!request.hasHeader("Cookie"));
}

void TestHttpExchange::postSendsFormBodyAndContentTypeOnly_data()
{
    QTest::addColumn<bool>("https");
    QTest::newRow("http") << false;
    QTest::newRow("https") << true;
}

void TestHttpExchange::postSendsFormBodyAndContentTypeOnly()
{
    QFETCH(bool, https);
    const QByteArray body("UserAccount=alice&Type=0");

    HttpExchange exchange;
    const HttpAnswer answer = exchange.post(base(https) + QStringLiteral("/Orvinaweb/BAS_ClientLogOutNew"), body);
    QVERIFY2(answer.isObject(), answer.body.constData());
    QCOMPARE(answer.code(), 0);

    const FakeRequest request = m_server->lastRequest(QStringLiteral("/Orvinaweb/BAS_ClientLogOutNew"));
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.body, body);
    QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QVERIFY(!request.hasHeader("Authorization"));
    QVERIFY(!request.hasHeader("Cookie"));
    QCOMPARE(m_server->state().loggedOut, QStringList { QStringLiteral("alice") });
    m_server->updateState([](FakeKestranaState& s) { s.loggedOut.clear(); });
}

void TestHttpExchange::tlsRelaxedOnlyForLowerCaseHttps_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("lower case https accepts the self-signed certificate") << QStringLiteral("https") << true;
    QTest::newRow("upper case HTTPS keeps verification on") << QStringLiteral("HTTPS") << false;
}

void TestHttpExchange::tlsRelaxedOnlyForLowerCaseHttps()
{
    QFETCH(QString, scheme);
    QFETCH(bool, accepted);
    const QString url
        = scheme + QStringLiteral("://127.0.0.1:%1/Orvinaweb/GetClientConfigInfo").arg(m_server->httpsPort());

    HttpExchange exchange;
    const HttpAnswer answer = exchange.get(url);
    QCOMPARE(answer.isObject(), accepted);
    QCOMPARE(answer.transferFailed(), !accepted);
    if (!accepted) {
        QCOMPARE(answer.error, QNetworkReply::SslHandshakeFailedError);
    }
}

void TestHttpExchange::serverCertificateRule_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("pinBefore"); // "", "own" (the server's certificate) or "other"
    QTest::addColumn<bool>("inTrustStore");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("pinAfter");

    QTest::newRow("pin: first use pins") << "pin"
                                         << "" << false << true << "own";
    QTest::newRow("pin: pinned certificate") << "pin"
                                             << "own" << false << true << "own";
    QTest::newRow("pin: replaced certificate refused") << "pin"
                                                       << "other" << false << false << "other";
    QTest::newRow("pin: trusted by the system, not pinned") << "pin"
                                                            << "" << true << true << "";
    QTest::newRow("any: no check") << "any"
                                   << "other" << false << true << "other";
    QTest::newRow("system: self-signed refused") << "system"
                                                 << "" << false << false << "";
    QTest::newRow("system: trusted") << "system"
                                     << "" << true << true << "";
}

void TestHttpExchange::serverCertificateRule()
{
    QFETCH(QString, mode);
    QFETCH(QString, pinBefore);
    QFETCH(bool, inTrustStore);
    QFETCH(bool, accepted);
    QFETCH(QString, pinAfter);

    const QString own = ServerTrust::fingerprint(QSslCertificate(m_server->certificatePem()));
    const QString other = ServerTrust::fingerprint(QSslCertificate(SelfSignedCertificate::generate().certificatePem()));
    const QString server = ServerTrust::serverKey(QUrl(base(true)));
    auto fingerprintOf = [&](const QString& which) {
        return which == QLatin1String("own") ? own : which == QLatin1String("other") ? other : QString();
    };
    QFile::remove(ServerTrust::pinFilePath());
    if (!pinBefore.isEmpty()) {
        QVERIFY(ServerTrust::pin(server, fingerprintOf(pinBefore)));
    }
    Singleton<LoginInfo>::getInstance()->setServerCertificate(mode);
    const QSslConfiguration systemDefault = QSslConfiguration::defaultConfiguration();
    if (inTrustStore) {
        QSslConfiguration withServer = systemDefault;
        withServer.addCaCertificate(QSslCertificate(m_server->certificatePem()));
        QSslConfiguration::setDefaultConfiguration(withServer);
    }
    ServerTrust::clearRefusal();
    const QString url = base(true) + QStringLiteral("/User/BAS_ProjectList?strUserAccount=alice");

    // The blocking exchange and the main window's non-blocking loads follow the same rule.
    HttpExchange exchange;
    const HttpAnswer answer = exchange.get(url, base(true));
    const ServerTrust::Refusal refusal = ServerTrust::takeRefusal();
    QNetworkAccessManager nam;
    bool finished = false;
    bool loaded = false;
    ApiAnswer::get(&nam, url, base(true), ApiAnswer::Envelope::Code, ApiAnswer::Log(), this, [&](const ApiAnswer& got) {
        finished = true;
        loaded = got.ok();
    });
    QTRY_VERIFY(finished);
    // The settings fetched before the first window, on a connection of their own.
    QFile::remove(ServerTrust::pinFilePath());
    if (!pinBefore.isEmpty()) {
        QVERIFY(ServerTrust::pin(server, fingerprintOf(pinBefore)));
    }
    ServerTrust::clearRefusal();
    const HttpAnswer fetched = SocketGet::get(url, {}, base(true), 5000);
    const ServerTrust::Refusal fetchRefusal = ServerTrust::takeRefusal();
    QSslConfiguration::setDefaultConfiguration(systemDefault);
    QCOMPARE(fetched.isObject(), accepted);
    QCOMPARE(fetchRefusal.isValid(), !accepted);
    QCOMPARE(fetchRefusal.pinned, refusal.pinned);
    if (!accepted) {
        QCOMPARE(fetched.error, QNetworkReply::SslHandshakeFailedError);
    }

    QCOMPARE(answer.isObject(), accepted);
    QCOMPARE(loaded, accepted);
    if (!accepted) {
        QCOMPARE(answer.error, QNetworkReply::SslHandshakeFailedError);
    }
    QCOMPARE(ServerTrust::pinnedFingerprint(server), fingerprintOf(pinAfter));
    // A replaced certificate is refused naming both fingerprints, so the user can be asked about it.
    const bool replaced = mode == QLatin1String("pin") && pinBefore == QLatin1String("other") && !inTrustStore;
    QCOMPARE(refusal.isValid(), !accepted);
    QCOMPARE(refusal.pinned, replaced ? other : QString());
    QCOMPARE(refusal.presented, accepted ? QString() : own);

    // A job's file chunks travel another way and follow the same rule, refused before any byte is sent.
    if (inTrustStore) {
        return; // that path reads the machine's trust store, which the test cannot extend
    }
    QFile::remove(ServerTrust::pinFilePath());
    if (!pinBefore.isEmpty()) {
        QVERIFY(ServerTrust::pin(server, fingerprintOf(pinBefore)));
    }
    m_server->clearRequests();
    const QString uploadPath = QStringLiteral("/Job/BAS_UploadJobFile");
    // The chunks' path: the pipeline's exchange, as ChunkUpload posts each chunk.
    CurlExchange pipeline;
    const HttpAnswer chunk = pipeline.post(base(true) + uploadPath + QStringLiteral("?JobID=1&FileType=1&FileSize=4"),
                                           QByteArrayLiteral("%PDF"),
                                           QByteArrayLiteral("multipart/form-data; boundary=----x"), base(true));
    QCOMPARE(chunk.isObject(), accepted);
    QCOMPARE(m_server->requestCount(uploadPath), accepted ? 1 : 0);
    if (!accepted) {
        QCOMPARE(chunk.error, QNetworkReply::SslHandshakeFailedError);
    } else {
        QCOMPARE(m_server->lastRequest(uploadPath).body, QByteArray("%PDF"));
    }
    QCOMPARE(ServerTrust::pinnedFingerprint(server), fingerprintOf(pinAfter));
}

void TestHttpExchange::answerClassification_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<bool>("isJson");
    QTest::addColumn<bool>("isObject");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    QJsonObject withData { { QStringLiteral("code"), 1 },
                           { QStringLiteral("message"), QStringLiteral("denied") },
                           { QStringLiteral("data"), QJsonObject { { QStringLiteral("IsAllowPrint"), true } } } };
    QJsonObject noCode { { QStringLiteral("data"), QStringLiteral("1.2.0") } };
    QJsonObject textCode { { QStringLiteral("code"), QStringLiteral("1") } };

    QTest::newRow("HTML 500") << FakeReply::html500() << false << false << 0 << QString();
    QTest::newRow("JSON array") << FakeReply::raw("[{\"code\":0}]") << true << false << 0 << QString();
    QTest::newRow("literal null") << FakeReply::raw("null") << false << false << 0 << QString();
    QTest::newRow("empty body") << FakeReply::raw("") << false << false << 0 << QString();
    QTest::newRow("code 1 with data") << FakeReply::json(withData) << true << true << 1 << QStringLiteral("denied");
    QTest::newRow("no code reads as success") << FakeReply::json(noCode) << true << true << 0 << QString();
    QTest::newRow("text code reads as success") << FakeReply::json(textCode) << true << true << 0 << QString();
    QTest::newRow("JSON object in a 500") << FakeReply::json(noCode, 500) << true << true << 0 << QString();
}

void TestHttpExchange::answerClassification()
{
    QFETCH(FakeReply, reply);
    QFETCH(bool, isJson);
    QFETCH(bool, isObject);
    QFETCH(int, code);
    QFETCH(QString, message);

    m_server->setOverride(QStringLiteral("/Orvinaweb/BAS_CheckClientUpdate_New"), reply);
    HttpExchange exchange;
    const HttpAnswer answer
        = exchange.get(base(false) + QStringLiteral("/Orvinaweb/BAS_CheckClientUpdate_New?UserAccount=alice"));
    QCOMPARE(answer.isJson(), isJson);
    QCOMPARE(answer.isObject(), isObject);
    QCOMPARE(answer.code(), code);
    QCOMPARE(answer.message(), message);
    QCOMPARE(answer.httpStatus, reply.status);
}

namespace {
// Keeps each request's bytes as they arrived and answers it with fixed bytes (none: the connection is closed).
class RawServer : public QTcpServer
{
public:
    explicit RawServer(const QByteArray& reply)
        : m_reply(reply)
    {
        connect(this, &QTcpServer::newConnection, this, [this]() {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket]() { take(socket); });
            }
        });
    }
    QList<QByteArray> requests;

private:
    void take(QTcpSocket* socket)
    {
        QByteArray& bytes = m_pending[socket];
        bytes += socket->readAll();
        const int end = bytes.indexOf("\r\n\r\n");
        if (end < 0) {
            return;
        }
        const QByteArray head = bytes.left(end).toLower();
        const int field = head.indexOf("content-length: ");
        const int length = field < 0 ? 0 : head.mid(field + 16, head.indexOf('\r', field) - field - 16).toInt();
        if (bytes.size() < end + 4 + length) {
            return;
        }
        requests.append(m_pending.take(socket));
        socket->write(m_reply);
        socket->disconnectFromHost();
    }
    QByteArray m_reply;
    QHash<QTcpSocket*, QByteArray> m_pending;
};
} // namespace

void TestHttpExchange::pipelineWritesQtsBytes_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("reply"); // empty: closed without an answer; "-": nothing listens
    QTest::addColumn<bool>("noThread"); // the pipeline's worker cannot be started: Qt's path sends
    const QByteArray json = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 21\r\n"
                            "Connection: close\r\n\r\n{\"code\":0,\"data\":\"7\"}";
    QTest::newRow("GET") << QByteArray("GET") << json << false;
    QTest::newRow("POST") << QByteArray("POST") << json << false;
    QTest::newRow("cookie set and sent back")
        << QByteArray("POST")
        << QByteArray("HTTP/1.1 200 OK\r\nSet-Cookie: SessionId=ab12; path=/\r\nSet-Cookie: lang=en\r\n"
                      "Content-Length: 2\r\nConnection: close\r\n\r\n{}")
        << false;
    QTest::newRow("404 page") << QByteArray("POST")
                              << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n"
                                            "Connection: close\r\n\r\nno such x")
                              << false;
    QTest::newRow("JSON in a 500") << QByteArray("GET")
                                   << QByteArray("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 10\r\n"
                                                 "Connection: close\r\n\r\n{\"code\":1}")
                                   << false;
    QTest::newRow("closed") << QByteArray("GET") << QByteArray() << false;
    QTest::newRow("refused") << QByteArray("POST") << QByteArray("-") << false;
    QTest::newRow("no thread to be had") << QByteArray("POST") << json << true;
}

void TestHttpExchange::pipelineWritesQtsBytes()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, reply);
    QFETCH(bool, noThread);
    // The job pipeline sends through libcurl; the server must not be able to tell it from Qt's requests.
    QVERIFY(CurlExchange::hasFastPath());
    RawServer server(reply);
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QString url
        = QStringLiteral("http://127.0.0.1:%1/Job/BAS_UploadComplete?UserAccount=a%2540b&x=%C3%A9&y=a b&z=ü[1]")
              .arg(server.serverPort());
    if (reply == "-") {
        server.close();
    }
    const QByteArray body = "JobID=1001&DirectDeviceJob=false&UserAccount=alice";
    const QByteArray type = HttpExchange::kFormContentType;
    QNetworkAccessManager nam; // one cookie jar for both
    HttpExchange qt(&nam);
    CurlExchange pipeline(&nam);
    const auto viaQt = [&]() { return method == "GET" ? qt.get(url) : qt.post(url, body, type); };
    const auto viaPipeline
        = [&]() { return method == "GET" ? pipeline.get(url, url) : pipeline.post(url, body, type, url); };
    viaQt(); // any cookie set is sent by every request after it
    const QList<QByteArray> first = std::exchange(server.requests, {});
    const HttpAnswer expected = viaQt();
    // A user's task limit reached on a shared host: the requests still go, without the worker.
    std::optional<ThreadLimitScope> limit;
    if (noThread) {
        limit.emplace();
        QVERIFY(ThreadLimitScope::refusesThreads());
    }
    const HttpAnswer answer = viaPipeline();
    // Again on the same worker, as the next job's request goes.
    const HttpAnswer again = viaPipeline();
    limit.reset();

    if (reply == "-") {
        QVERIFY(server.requests.isEmpty());
    } else if (reply.isEmpty()) {
        QVERIFY(server.requests.size() >= 3); // Qt may send again once on a closed connection
    } else {
        QCOMPARE(server.requests.size(), 3);
    }
    for (const QByteArray& request : qAsConst(server.requests)) {
        QCOMPARE(request, server.requests.first());
    }
    if (reply.contains("Set-Cookie")) {
        QVERIFY(!first.first().contains("Cookie"));
        QVERIFY(server.requests.first().contains("SessionId=ab12"));
    }
    for (const HttpAnswer& a : { answer, again }) {
        QCOMPARE(a.error, expected.error);
        QCOMPARE(a.errorString, expected.errorString);
        QCOMPARE(a.httpStatus, expected.httpStatus);
        QCOMPARE(a.body, expected.body);
        QCOMPARE(a.isObject(), expected.isObject());
        QCOMPARE(a.timedOut, false);
    }
}

void TestHttpExchange::settingsFetchReadsAsQt_data()
{
    QTest::addColumn<QByteArray>("reply"); // empty: closed without an answer; "-": nothing listens
    QTest::addColumn<bool>("sameAsQt"); // false: the fetch refuses what Qt would read
    QTest::addColumn<QString>("host");
    const auto row
        = [](const char* name, const QByteArray& reply, bool sameAsQt,
             const QString& host = QStringLiteral("127.0.0.1")) { QTest::newRow(name) << reply << sameAsQt << host; };
    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
    const QByteArray json = "{\"code\":0,\"data\":\"7\"}";
    row("length", head + "Content-Length: 21\r\n\r\n" + json, true);
    row("IPv6 address", head + "Content-Length: 21\r\n\r\n" + json, true, QStringLiteral("[::1]"));
    row("chunked", head + "Transfer-Encoding: chunked\r\n\r\n5\r\n{\"cod\r\n10\r\ne\":0,\"data\":\"7\"}\r\n0\r\n\r\n",
        true);
    row("until the connection ends", head + "\r\n" + json, true);
    row("interim answer first", "HTTP/1.1 100 Continue\r\n\r\n" + head + "Content-Length: 21\r\n\r\n" + json, true);
    row("404 page", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nno such x", true);
    row("JSON in a 500", "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 10\r\n\r\n{\"code\":1}", true);
    // Qt hands out what came, here a whole JSON object; a cut answer is no answer.
    row("cut mid-body", head + "Content-Length: 90\r\n\r\n" + json, false);
    row("closed", QByteArray(), true);
    row("refused", "-", true);
    row("not HTTP", "SSH-2.0-OpenSSH_9.2\r\n", false);
    row("endless header", "HTTP/1.1 200 OK\r\nX: " + QByteArray(200 * 1024, 'x'), false);
    row("body beyond 4 MiB", head + "Content-Length: 5242901\r\n\r\n" + QByteArray(5 * 1024 * 1024, ' ') + json, false);
}

void TestHttpExchange::settingsFetchReadsAsQt()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, sameAsQt);
    QFETCH(QString, host);
    RawServer server(reply);
    const bool v6 = host.startsWith(QLatin1Char('['));
    if (!server.listen(v6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost)) {
        QSKIP("no loopback address of this kind");
    }
    const QString url = QStringLiteral("http://%1:%2/Orvinaweb/GetClientConfigInfo?a=%2540b&x=%C3%A9&y=a b&z=ü[1]")
                            .arg(host)
                            .arg(server.serverPort());
    if (reply == "-") {
        server.close();
    }
    const QByteArray type = HttpExchange::kFormContentType;
    HttpExchange qt;
    QNetworkRequest request = HttpExchange::makeRequest(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, type);
    const HttpAnswer expected = qt.getRequest(request, 5000);
    const QList<QByteArray> qtRequests = std::exchange(server.requests, {});
    const HttpAnswer answer = SocketGet::get(url, { { "Content-Type", type } }, url, 5000);
    // Qt may send its request once more on a new connection, racing its own reading of an answer that ends with
    // the connection; that copy can arrive while the fetch runs. It is Qt's, known by its Keep-Alive.
    QList<QByteArray> fetched;
    for (const QByteArray& request : qAsConst(server.requests)) {
        if (!request.contains("\r\nConnection: Keep-Alive\r\n")) {
            fetched << request;
        }
    }

    // Qt's request, but for one connection and no compression.
    if (reply == "-") {
        QVERIFY(server.requests.isEmpty());
    } else {
        QCOMPARE(fetched.size(), 1);
        QByteArray qtBytes = qtRequests.value(0);
        qtBytes.replace("Connection: Keep-Alive\r\nAccept-Encoding: gzip, deflate\r\n", "Connection: close\r\n");
        QCOMPARE(fetched.first(), qtBytes);
    }
    QVERIFY(!answer.timedOut);
    if (!sameAsQt) {
        QVERIFY(answer.transferFailed());
        QVERIFY(answer.body.isEmpty());
        return;
    }
    QCOMPARE(answer.transferFailed(), expected.transferFailed());
    QCOMPARE(answer.httpStatus, expected.httpStatus);
    QCOMPARE(answer.isObject(), expected.isObject());
    if (!answer.transferFailed() || answer.httpStatus >= 400) {
        QCOMPARE(answer.error, expected.error);
        QCOMPARE(answer.errorString, expected.errorString);
        QCOMPARE(answer.body, expected.body);
    }
}

void TestHttpExchange::connectionRefusedIsAFailedTransfer()
{
    // A port that was free a moment ago: nothing listens there.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();

    HttpExchange exchange;
    const HttpAnswer answer = exchange.get(QStringLiteral("http://127.0.0.1:%1/User/BAS_ProjectList").arg(port));
    QCOMPARE(answer.error, QNetworkReply::ConnectionRefusedError);
    QVERIFY(!answer.isJson());
    QVERIFY(!answer.timedOut);
}

void TestHttpExchange::silentServerEndsAfterTransferTimeout()
{
    m_server->setOverride(QStringLiteral("/User/BAS_UserPermission"), FakeReply::neverAnswer());
    HttpExchange::setTransferTimeoutForTests(300);
    Logging::startCapture();

    HttpExchange exchange;
    const HttpAnswer answer
        = exchange.get(base(true) + QStringLiteral("/User/BAS_UserPermission?UserAccount=alice"), base(true));

    QVERIFY(answer.timedOut);
    QVERIFY(answer.transferFailed());
    QVERIFY(!answer.isJson());
    QCOMPARE(answer.errorString, QStringLiteral("Operation canceled")); // the reply's own text
    QCOMPARE(m_server->requestCount(QStringLiteral("/User/BAS_UserPermission")), 1);
    // The exchange logs no failure of its own: each caller logs its failures where it has a line for them.
    const QStringList log
        = Logging::takeCaptured().filter(QRegularExpression(QStringLiteral("^(?!\\[ServerTrust\\])")));
    QVERIFY2(log.isEmpty(), qPrintable(log.join(QLatin1Char('\n'))));
}

void TestHttpExchange::slowButAnsweringServerIsNotCutOff()
{
    // The timeout is about silence: a server that answers within it is waited for.
    m_server->setOverride(QStringLiteral("/User/BAS_ProjectList"), FakeReply::delayed(200));
    HttpExchange::setTransferTimeoutForTests(5000);

    HttpExchange exchange;
    const HttpAnswer answer = exchange.get(base(false) + QStringLiteral("/User/BAS_ProjectList?strUserAccount=alice"));
    QVERIFY(!answer.timedOut);
    QVERIFY(answer.isObject());
    QCOMPARE(answer.data().toArray().size(), 2);
}

void TestHttpExchange::connectionClosedMidBodyFails()
{
    m_server->setOverride(QStringLiteral("/Device/BAS_DeviceStatusList"), FakeReply::closeMidBody());
    for (bool https : { false, true }) {
        HttpExchange exchange;
        const HttpAnswer answer = exchange.get(
            base(https) + QStringLiteral("/Device/BAS_DeviceStatusList?Type=0&UserAccount=alice"), base(https));
        QVERIFY2(answer.transferFailed(), https ? "https" : "http");
        QVERIFY(!answer.isJson());
    }
}

void TestHttpExchange::repliesAreReleasedOnceRead()
{
    QNetworkAccessManager nam;
    HttpExchange exchange(&nam);
    for (int i = 0; i < 3; ++i) {
        const HttpAnswer answer = exchange.post(base(false) + QStringLiteral("/Orvinaweb/BAS_ClientLogOutNew"),
                                                QByteArray("UserAccount=bob&Type=0"));
        QVERIFY(answer.isObject());
        QCOMPARE(nam.findChildren<QNetworkReply*>().size(), 0);
    }
}

void TestHttpExchange::percentEncodeKeepsOnlyUnreserved_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("plain") << QStringLiteral("alice") << QByteArray("alice");
    QTest::newRow("unreserved kept") << QStringLiteral("a-b.c_d~e") << QByteArray("a-b.c_d~e");
    QTest::newRow("reserved escaped") << QStringLiteral("a+b/c=d&e f") << QByteArray("a%2Bb%2Fc%3Dd%26e%20f");
    QTest::newRow("utf-8 bytes, upper-case hex") << QStringLiteral("张三") << QByteArray("%E5%BC%A0%E4%B8%89");
}

void TestHttpExchange::percentEncodeKeepsOnlyUnreserved()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, encoded);
    QCOMPARE(HttpExchange::percentEncode(text), encoded);
}

QTEST_GUILESS_MAIN(TestHttpExchange)
#include "tst_httpexchange.moc"
