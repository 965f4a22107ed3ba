#include "FakeKestranaApi.h"
#include "FakeKestranaServer.h"
#include "api/HttpExchange.h"

#include <QJsonArray>
#include <QtTest>

// The fake server's endpoints that the other tests lean on: the job pipeline, QR login, scan jobs and
// the dialog's login, driven through the client's own exchange.
class TestFakeServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void dialogLoginByQuery_data();
    void dialogLoginByQuery();
    void jobPipeline();
    void refusals_data();
    void refusals();
    void cancelTakesIndexedIds();
    void scanJobs();
    void qrRegistrationAndScan();
    void accountEndpoints();
    void unknownPathAndWrongMethod();
    void overrideCountsDown();
    void stopReleasesHeldConnections();

private:
    HttpAnswer get(const QString& pathAndQuery);
    HttpAnswer post(const QString& path, const QByteArray& body,
                    const QByteArray& type = "application/x-www-form-urlencoded");
    qint64 announce(const QString& account = QStringLiteral("alice"));

    QScopedPointer<FakeKestranaServer> m_server;
};

void TestFakeServer::initTestCase()
{
    m_server.reset(new FakeKestranaServer(FakeKestranaState::sample()));
    QVERIFY(m_server->start());
}

void TestFakeServer::init()
{
    m_server->setState(FakeKestranaState::sample());
    m_server->clearOverrides();
    m_server->clearRequests();
}

void TestFakeServer::cleanupTestCase()
{
    m_server->stop();
}

HttpAnswer TestFakeServer::get(const QString& pathAndQuery)
{
    HttpExchange exchange;
    return exchange.get(m_server->httpUrl() + pathAndQuery);
}

HttpAnswer TestFakeServer::post(const QString& path, const QByteArray& body, const QByteArray& type)
{
    HttpExchange exchange;
    return exchange.post(m_server->httpUrl() + path, body, type);
}

qint64 TestFakeServer::announce(const QString& account)
{
    const QByteArray body = "DocumentPages=3&PageWidth=210&PageHeight=297&Color=1&Orientation=1&DuplexMode=1&Copies=2"
                            "&Collate=1&FileType=pdf&ControllerMac=&ComputerName=pc1&ComputerIP=127.0.0.1&ProjectID=12"
                            "&SecurityLevel=0&UserAccount="
        + account.toUtf8() + "&FileName=Q1%20report%E2%82%AC.pdf";
    const HttpAnswer answer = post(QStringLiteral("/Job/BAS_SubmitPrintJob"), body);
    return answer.code() == 0 ? answer.data().toVariant().toLongLong() : 0;
}

void TestFakeServer::dialogLoginByQuery_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("account");

    // The login dialog sends its form as the query of a GET to ".../BAS_ClientLoginNew/?".
    QTest::newRow("password") << QStringLiteral("Password=c2VjcmV0&ClientVersion=L1&Type=0&UserID=&UserType="
                                                "&AccountVerify=4&UserAccount=QUxJQ0U%3D")
                              << 0 << QStringLiteral("alice");
    QTest::newRow("wrong password") << QStringLiteral("Password=d3Jvbmc%3D&ClientVersion=L1&Type=0&UserID=&UserType="
                                                      "&AccountVerify=4&UserAccount=YWxpY2U%3D")
                                    << 1 << QString();
    QTest::newRow("system account placeholder") << QStringLiteral("Password=NTgzOTIw&ClientVersion=L1&Type=0&UserID="
                                                                  "&UserType=&AccountVerify=2&UserAccount=Ym9i")
                                                << 0 << QStringLiteral("bob");
    // An unescaped "+" in a form is a blank, so Base64 that was not escaped does not decode.
    QTest::newRow("unescaped plus") << QStringLiteral("Password=Pj4+&ClientVersion=L1&Type=0&UserID=&UserType="
                                                      "&AccountVerify=4&UserAccount=YWxpY2U%3D")
                                    << 1 << QString();
}

void TestFakeServer::dialogLoginByQuery()
{
    QFETCH(QString, query);
    QFETCH(int, code);
    QFETCH(QString, account);

    const HttpAnswer answer = get(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew/?") + query);
    QVERIFY(answer.isObject());
    QCOMPARE(answer.code(), code);
    QCOMPARE(answer.data().toObject().value(QLatin1String("UserAccount")).toString(), account);
    if (code == 0) {
        QCOMPARE(answer.data().toObject().value(QLatin1String("HostAddress")).toString(),
                 QStringLiteral("example.org"));
    }
}

void TestFakeServer::jobPipeline()
{
    const qint64 id = announce();
    QVERIFY(id > 0);
    const FakeKestranaState::Job announced = m_server->job(id);
    QCOMPARE(announced.jobName, QString::fromUtf8("Q1 report€.pdf"));
    QCOMPARE(announced.announce.value(QStringLiteral("ComputerName")), QStringLiteral("pc1"));
    QCOMPARE(announced.copies, 2);
    QCOMPARE(announced.projectName, QStringLiteral("Research"));
    // Not listed before the upload is confirmed.
    QCOMPARE(get(QStringLiteral("/Job/BAS_JobStausList?UserAccount=alice")).data().toArray().size(), 0);

    const QString upload
        = QStringLiteral("/Job/BAS_UploadJobFile?JobID=%1&FileType=1&FileSize=7&UserAccount=alice&FileName=%1.pdf")
              .arg(id);
    const QByteArray multipart = "multipart/form-data; boundary=----2024-05-01-10:00:00-Wed";
    QCOMPARE(post(upload, "%PDF", multipart).code(), 0);
    QCOMPARE(post(upload, "-1.4", multipart).code(), 0);
    QCOMPARE(m_server->uploadedBytes(id), QByteArray("%PDF-1.4"));
    QCOMPARE(m_server->lastRequest(QStringLiteral("/Job/BAS_UploadJobFile")).header("Content-Type"), multipart);
    QCOMPARE(m_server->job(id).chunks, 2);
    QCOMPARE(m_server->job(id).uploadFileName, QStringLiteral("%1.pdf").arg(id));

    QCOMPARE(post(QStringLiteral("/Job/BAS_UploadComplete"),
                  QStringLiteral("JobID=%1&DirectDeviceJob=false&UserAccount=alice").arg(id).toUtf8())
                 .code(),
             0);
    const QJsonArray list = get(QStringLiteral("/Job/BAS_JobStausList?UserAccount=alice")).data().toArray();
    QCOMPARE(list.size(), 1);
    QCOMPARE(list.at(0).toObject().value(QLatin1String("StatusID")).toInt(), 51);

    // Processing first, then waiting for release.
    const QString status = QStringLiteral("/Job/BAS_GetJobStatusInfo?jobId=%1").arg(id);
    QCOMPARE(get(status).data().toObject().value(QLatin1String("Status")).toInt(), 51);
    const QJsonObject done = get(status).data().toObject();
    QCOMPARE(done.value(QLatin1String("Status")).toInt(), 5);
    QCOMPARE(done.value(QLatin1String("FileSize")).toInt(), 8);
    QCOMPARE(done.value(QLatin1String("JobName")).toString(), QString::fromUtf8("Q1 report€.pdf"));
}

void TestFakeServer::refusals_data()
{
    QTest::addColumn<int>("step"); // 0 announce, 1 second chunk, 2 confirm
    QTest::addColumn<int>("code");
    QTest::newRow("announce 221") << 0 << 221;
    QTest::newRow("second chunk 220") << 1 << 220;
    QTest::newRow("second chunk 826") << 1 << 826;
    QTest::newRow("confirm 1") << 2 << 1;
}

void TestFakeServer::refusals()
{
    QFETCH(int, step);
    QFETCH(int, code);

    m_server->updateState([&](FakeKestranaState& s) {
        const FakeKestranaState::Refusal r { code, QStringLiteral("refused here") };
        if (step == 0) {
            s.submitRefusal = r;
        } else if (step == 1) {
            s.uploadRefusal = r;
            s.uploadRefusalChunk = 2;
        } else {
            s.completeRefusal = r;
        }
    });
    const qint64 id = announce();
    if (step == 0) {
        QCOMPARE(id, 0);
        QCOMPARE(m_server->lastRequest().target, QByteArray("/Job/BAS_SubmitPrintJob"));
        return;
    }
    const QString upload
        = QStringLiteral("/Job/BAS_UploadJobFile?JobID=%1&FileType=1&FileSize=4&UserAccount=alice&FileName=x.pdf")
              .arg(id);
    QCOMPARE(post(upload, "ab").code(), 0);
    const HttpAnswer second = post(upload, "cd");
    QCOMPARE(second.code(), step == 1 ? code : 0);
    QCOMPARE(m_server->uploadedBytes(id), step == 1 ? QByteArray("ab") : QByteArray("abcd"));
    const HttpAnswer confirm
        = post(QStringLiteral("/Job/BAS_UploadComplete"),
               QStringLiteral("JobID=%1&DirectDeviceJob=false&UserAccount=alice").arg(id).toUtf8());
    QCOMPARE(confirm.code(), step == 2 ? code : 0);
    QCOMPARE(confirm.message(), step == 2 ? QStringLiteral("refused here") : QStringLiteral("success"));
}

void TestFakeServer::cancelTakesIndexedIds()
{
    QList<qint64> ids;
    for (int i = 0; i < 3; ++i) {
        ids << announce();
        post(QStringLiteral("/Job/BAS_UploadComplete"),
             QStringLiteral("JobID=%1&DirectDeviceJob=false&UserAccount=alice").arg(ids.last()).toUtf8());
    }
    // The jobs tab's form ("JobID%5B0%5D=") and the upload dialog's form ("JobID=").
    QCOMPARE(get(QStringLiteral("/Job/BAS_CancelJob?UserAccount=alice&Type=0&JobID%5B0%5D=%1&JobID%5B1%5D=%2")
                     .arg(ids.at(0))
                     .arg(ids.at(2)))
                 .code(),
             0);
    QVERIFY(m_server->job(ids.at(0)).cancelled);
    QVERIFY(!m_server->job(ids.at(1)).cancelled);
    QVERIFY(m_server->job(ids.at(2)).cancelled);
    QCOMPARE(get(QStringLiteral("/Job/BAS_CancelJob?UserAccount=alice&Type=0&JobID=%1").arg(ids.at(1))).code(), 0);
    QVERIFY(m_server->job(ids.at(1)).cancelled);
    QCOMPARE(get(QStringLiteral("/Job/BAS_JobStausList?UserAccount=alice")).data().toArray().size(), 0);
}

void TestFakeServer::scanJobs()
{
    QCOMPARE(get(QStringLiteral("/Job/BAS_ScanJobList?UserAccount=alice")).data().toArray().size(), 2);
    QCOMPARE(get(QStringLiteral("/Job/BAS_ScanJobList?UserAccount=bob")).data().toArray().size(), 0);

    const HttpAnswer file = get(QStringLiteral("/Job/BAS_DownloadScanJob?JobID=5001"));
    QCOMPARE(file.body, QByteArray("%PDF-1.4\n% scanned contract\n"));
    QCOMPARE(get(QStringLiteral("/Job/BAS_DownloadScanJob?JobID=999")).httpStatus, 404);

    QCOMPARE(get(QStringLiteral("/Job/BAS_DeleteScanJob?UserAccount=alice&JobID%5B0%5D=5002")).code(), 0);
    const QJsonArray left = get(QStringLiteral("/Job/BAS_ScanJobList?UserAccount=alice")).data().toArray();
    QCOMPARE(left.size(), 1);
    QCOMPARE(left.at(0).toObject().value(QLatin1String("JobID")).toInt(), 5001);
}

void TestFakeServer::qrRegistrationAndScan()
{
    const QString id = QStringLiteral("1b4e28ba-2fa1-11d2-883f-0016d3cca427");
    QCOMPARE(get(QStringLiteral("/api/client/account?clientId=") + id).code(), 404);

    const HttpAnswer reg = get(QStringLiteral("/api/client/invoke?clientId=") + id);
    QCOMPARE(reg.code(), 200);
    QCOMPARE(reg.data().toObject().value(QLatin1String("expires_in")).toInt(), 300);
    QCOMPARE(reg.data().toObject().value(QLatin1String("clientId")).toString(), id);

    const HttpAnswer waiting = get(QStringLiteral("/api/client/account?clientId=") + id);
    QCOMPARE(waiting.code(), 200);
    QCOMPARE(waiting.data().toObject().value(QLatin1String("account")).toString(), QString());

    m_server->markQrScanned(id, QStringLiteral("alice"));
    const QJsonObject scanned = get(QStringLiteral("/api/client/account?clientId=") + id).data().toObject();
    QCOMPARE(scanned.value(QLatin1String("account")).toString(), QStringLiteral("alice"));
    QCOMPARE(scanned.value(QLatin1String("password")).toString(), QStringLiteral("secret"));
    QCOMPARE(scanned.value(QLatin1String("type")).toString(), QStringLiteral("2"));
    QCOMPARE(m_server->state().qrRegistrations.value(id).polls, 2);
}

void TestFakeServer::accountEndpoints()
{
    const QJsonObject pin = get(QStringLiteral("/User/BAS_GetPinCodeByAccount?UserAccount=alice")).data().toObject();
    QCOMPARE(pin.value(QLatin1String("PinCode")).toString(), QStringLiteral("482913"));
    QCOMPARE(pin.value(QLatin1String("ExpiryTime")).toString(), QStringLiteral("2030-01-31T18:30:00"));
    QCOMPARE(pin.value(QLatin1String("IsExpired")).toBool(), false);
    QCOMPARE(get(QStringLiteral("/User/BAS_UserPermission?UserAccount=nobody")).code(), 1);
    QCOMPARE(get(QStringLiteral("/MyJob/ResponseDownLoad?type=3&SysType=amd")).body,
             FakeKestranaState::sample().clientPackage);

    // Sites: "{server}" becomes the address of the listener asked.
    const QByteArray ts("20240305070809");
    const HttpAnswer sites
        = get(QStringLiteral("/KSS/GetIPSegment?Timestamp=%1&Signature=%2")
                  .arg(QString::fromLatin1(ts),
                       QString::fromLatin1(FakeKestranaApi::signature(ts, QStringLiteral("4152063918270")))));
    const QJsonArray list = sites.object().value(QLatin1String("SegmentList")).toArray();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(0).toObject().value(QLatin1String("SiteUrl")).toString(), m_server->httpUrl());

    QCOMPARE(post(QStringLiteral("/Orvinaweb/BAS_ClientLogOutNew"), "UserAccount=alice&Type=0").code(), 0);
    QCOMPARE(m_server->state().loggedOut, QStringList { QStringLiteral("alice") });
}

void TestFakeServer::unknownPathAndWrongMethod()
{
    QCOMPARE(get(QStringLiteral("/Job/BAS_NoSuchThing")).httpStatus, 404);
    QCOMPARE(get(QStringLiteral("/job/bas_jobstauslist?UserAccount=alice")).httpStatus, 404);
    QCOMPARE(get(QStringLiteral("/Job/BAS_SubmitPrintJob")).httpStatus, 405);
    QCOMPARE(m_server->requestCount(), 3);
}

void TestFakeServer::overrideCountsDown()
{
    m_server->setOverride(QStringLiteral("/User/BAS_ProjectList"), FakeReply::html500().times(2));
    QCOMPARE(get(QStringLiteral("/User/BAS_ProjectList?strUserAccount=alice")).httpStatus, 500);
    QCOMPARE(get(QStringLiteral("/User/BAS_ProjectList?strUserAccount=alice")).httpStatus, 500);
    QCOMPARE(get(QStringLiteral("/User/BAS_ProjectList?strUserAccount=alice")).data().toArray().size(), 2);
}

void TestFakeServer::stopReleasesHeldConnections()
{
    FakeKestranaServer server(FakeKestranaState::sample());
    QVERIFY(server.start());
    server.setOverride(QStringLiteral("/"), FakeReply::neverAnswer());
    HttpExchange::setTransferTimeoutForTests(200);
    HttpExchange exchange;
    QVERIFY(exchange.get(server.httpUrl() + QStringLiteral("/")).timedOut);
    HttpExchange::setTransferTimeoutForTests(0);
    QCOMPARE(server.heldConnections(), 1);
    server.stop();
    QVERIFY(!server.isRunning());
}

QTEST_GUILESS_MAIN(TestFakeServer)
#include "tst_fakeserver.moc"
