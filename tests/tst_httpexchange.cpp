#include "FakeKestranaServer.h"
#include "TestHome.h"
#include "ThreadLimitScope.h"
#include "api/ApiAnswer.h"
#include "api/HttpExchange.h"
#include "api/ServerTrust.h"
#include "app/Logging.h"
#include "config/LoginInfo.h"
#include "jobs/CurlExchange.h"

#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QtTest>

// Declared before the data tables that use it.
Q_DECLARE_METATYPE(FakeReply)

// The UI thread's synchronous exchange and the job pipeline's, against a real local server: what goes on the wire,
// how answers are classified (the same on both), and that no request can hang for ever.
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
    ServerTrust::setMode(ServerTrust::Mode::Pin);
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
    const std::optional<CertificateRule> rule = parseCertificateRule(mode);
    QVERIFY(rule);
    ServerTrust::setMode(*rule);
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
    QSslConfiguration::setDefaultConfiguration(systemDefault);

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
    ServerTrust::clearRefusal();
    const QString uploadPath = QStringLiteral("/Job/BAS_UploadJobFile");
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
    const ServerTrust::Refusal pipelineRefusal = ServerTrust::takeRefusal();
    QCOMPARE(pipelineRefusal.isValid(), !accepted);
    QCOMPARE(pipelineRefusal.pinned, refusal.pinned);
    QCOMPARE(pipelineRefusal.presented, refusal.presented);
}

void TestHttpExchange::answerClassification_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<bool>("isJson");
    QTest::addColumn<bool>("isObject");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("refusal");
    QTest::addColumn<bool>("transient");

    QJsonObject withData { { QStringLiteral("code"), 1 },
                           { QStringLiteral("message"), QStringLiteral("denied") },
                           { QStringLiteral("data"), QJsonObject { { QStringLiteral("IsAllowPrint"), true } } } };
    QJsonObject noCode { { QStringLiteral("data"), QStringLiteral("1.2.0") } };
    QJsonObject textCode { { QStringLiteral("code"), QStringLiteral("1") } };

    QTest::newRow("HTML 500") << FakeReply::html500() << false << false << 0 << QString() << false << true;
    QTest::newRow("JSON array") << FakeReply::raw("[{\"code\":0}]") << true << false << 0 << QString() << false << true;
    QTest::newRow("literal null") << FakeReply::raw("null") << false << false << 0 << QString() << false << true;
    QTest::newRow("empty body") << FakeReply::raw("") << false << false << 0 << QString() << false << true;
    QTest::newRow("code 1 with data") << FakeReply::json(withData) << true << true << 1 << QStringLiteral("denied")
                                      << true << false;
    QTest::newRow("no code reads as success")
        << FakeReply::json(noCode) << true << true << 0 << QString() << false << false;
    QTest::newRow("text code reads as success")
        << FakeReply::json(textCode) << true << true << 0 << QString() << false << false;
    QTest::newRow("success envelope in a 500")
        << FakeReply::json(noCode, 500) << true << true << 0 << QString() << false << true;
    // The server's no comes in its envelope, whatever the HTTP status.
    QTest::newRow("refusal in a 403") << FakeReply::json(withData, 403) << true << true << 1 << QStringLiteral("denied")
                                      << true << false;
}

void TestHttpExchange::answerClassification()
{
    QFETCH(FakeReply, reply);
    QFETCH(bool, isJson);
    QFETCH(bool, isObject);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(bool, refusal);
    QFETCH(bool, transient);

    m_server->setOverride(QStringLiteral("/Orvinaweb/BAS_CheckClientUpdate_New"), reply);
    const QString url = base(false) + QStringLiteral("/Orvinaweb/BAS_CheckClientUpdate_New?UserAccount=alice");
    HttpExchange exchange;
    CurlExchange pipeline;
    // A user's task limit reached on a shared host: the pipeline's request runs on the caller's thread.
    CurlExchange withoutThread;
    HttpAnswer inline_;
    {
        ThreadLimitScope limit;
        QVERIFY(ThreadLimitScope::refusesThreads());
        inline_ = withoutThread.get(url, url);
    }
    for (const HttpAnswer& answer : { exchange.get(url), pipeline.get(url, url), inline_ }) {
        QCOMPARE(answer.isJson(), isJson);
        QCOMPARE(answer.isObject(), isObject);
        QCOMPARE(answer.code(), code);
        QCOMPARE(answer.message(), message);
        QCOMPARE(answer.httpStatus, reply.status);
        QCOMPARE(answer.isRefusal(), refusal);
        QCOMPARE(answer.isTransient(), transient);
        QCOMPARE(answer.failureText().isEmpty(), !transient);
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

    const QString url = base(true) + QStringLiteral("/User/BAS_UserPermission?UserAccount=alice");
    HttpExchange exchange;
    CurlExchange pipeline;
    for (const HttpAnswer& answer : { exchange.get(url, base(true)), pipeline.get(url, base(true)) }) {
        QVERIFY(answer.timedOut);
        QVERIFY(answer.transferFailed());
        QVERIFY(!answer.isJson());
        QCOMPARE(answer.failureText(), QStringLiteral("the server did not answer in time"));
    }
    QCOMPARE(m_server->requestCount(QStringLiteral("/User/BAS_UserPermission")), 2);
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
