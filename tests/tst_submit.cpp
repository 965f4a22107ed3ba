#include "FakeKestranaServer.h"
#include "ScriptedJobHost.h"
#include "TestHome.h"
#include "api/HttpExchange.h"
#include "app/Logging.h"
#include "jobs/JobSubmitter.h"
#include "jobs/PrintJob.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

// The three-step submission against the fake server: what goes over the wire and what the user is told.
class TestSubmit : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void announceBody_data();
    void announceBody();
    void chunks_data();
    void chunks();
    void announceRefused_data();
    void announceRefused();
    void announceUnreadable();
    void chunkRefused_data();
    void chunkRefused();
    void connectionLostMidUpload_data();
    void connectionLostMidUpload();
    void logoutAbortsChunkInFlight();
    void cancelFromProgress();
    void confirmation_data();
    void confirmation();
    void failuresAreNeverSilent_data();
    void failuresAreNeverSilent();

private:
    QString writeData(const QString& name, const QByteArray& data);
    KsJobParam job(const QString& path, const QString& docName) const;
    static QByteArray randomBytes(qint64 size);
    FakeKestranaState::Job onlyJob() const;

    QScopedPointer<TestHome> m_home;
    QScopedPointer<FakeKestranaServer> m_server;
    ScriptedJobHost m_host;
};

void TestSubmit::init()
{
    m_home.reset(new TestHome());
    m_server.reset(new FakeKestranaServer(FakeKestranaState::sample()));
    QVERIFY(m_server->start());
    m_host = ScriptedJobHost();
    m_host.options.keepUnsentJobs = false; // off: a job the server cannot take is dropped; kept jobs are tst_jobsafety's
    m_host.server = m_server->httpUrl();
    m_host.account = QStringLiteral("alice");
    m_host.rows = 4;
}

void TestSubmit::cleanup()
{
    HttpExchange::setTransferTimeoutForTests(0);
    m_server.reset();
    m_home.reset();
}

QString TestSubmit::writeData(const QString& name, const QByteArray& data)
{
    const QString path = m_home->path() + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        return QString();
    }
    return path;
}

namespace {
// The job as the queue resolves it when its turn starts, with these parameters.
PrintJob jobOf(const KsJobParam& param)
{
    PrintJob job(param.jobFilePath, param.userAccount);
    job.param = param;
    return job;
}
} // namespace

KsJobParam TestSubmit::job(const QString& path, const QString& docName) const
{
    KsJobParam p;
    p.userAccount = QStringLiteral("alice");
    p.jobFilePath = path;
    p.docName = docName;
    p.color = QStringLiteral("false");
    p.fileType = QStringLiteral("pdf");
    p.computerName = QStringLiteral("ws-7");
    p.computerIp = QStringLiteral("10.0.0.5");
    p.documentPages = 3;
    p.pageWidth = 210;
    p.pageHeight = 297;
    p.duplexMode = 1;
    p.collate = 1;
    p.copies = 2;
    return p;
}

QByteArray TestSubmit::randomBytes(qint64 size)
{
    QByteArray data(static_cast<int>(size), Qt::Uninitialized);
    QRandomGenerator generator(static_cast<quint32>(size));
    for (char& c : data) {
        c = static_cast<char>(generator.bounded(256));
    }
    return data;
}

FakeKestranaState::Job TestSubmit::onlyJob() const
{
    const FakeKestranaState state = m_server->state();
    return state.jobs.isEmpty() ? FakeKestranaState::Job() : state.jobs.first();
}

void TestSubmit::announceBody_data()
{
    QTest::addColumn<QString>("docName");
    QTest::addColumn<double>("width");
    QTest::addColumn<QByteArray>("fileName");
    QTest::addColumn<QByteArray>("widthText");
    QTest::newRow("plain") << "report.pdf" << 210.0 << QByteArray("report.pdf") << QByteArray("210");
    QTest::newRow("ampersand and non-ASCII")
        << QString::fromUtf8("Q&A café 报告.pdf") << 215.9 << QByteArray("QA%20caf%C3%A9%20%E6%8A%A5%E5%91%8A.pdf")
        << QByteArray("215.9");
    QTest::newRow("placeholders stay text")
        << "%1 & %2+x=y.pdf" << 210.0 << QByteArray("%251%20%20%252%2Bx%3Dy.pdf") << QByteArray("210");
}

void TestSubmit::announceBody()
{
    QFETCH(QString, docName);
    QFETCH(double, width);
    QFETCH(QByteArray, fileName);
    QFETCH(QByteArray, widthText);
    KsJobParam p = job(writeData(QStringLiteral("job1.pdf"), "%PDF-1.4 x"), docName);
    p.pageWidth = width;
    p.controllerMac = QStringLiteral("00:1A:2B:3C:4D:5F");
    p.projectId = QStringLiteral("12");
    p.securityLevel = 3;

    JobSubmitter submitter(&m_host);
    m_host.listen(&submitter);
    QCOMPARE(submitter.SubmitJob(jobOf(p)), JobSubmitter::Outcome::Confirmed);

    const FakeRequest request = m_server->lastRequest(QStringLiteral("/Job/BAS_SubmitPrintJob"));
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(request.body,
             QByteArray("DocumentPages=3&PageWidth=") + widthText
                 + "&PageHeight=297&Color=false&Orientation=1&DuplexMode=1&Copies=2&Collate=1&FileType=pdf"
                   "&ControllerMac=00:1A:2B:3C:4D:5F&ComputerName=ws-7&ComputerIP=10.0.0.5&ProjectID=12"
                   "&SecurityLevel=3&UserAccount=alice&FileName="
                 + fileName);
}

void TestSubmit::chunks_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("chunks");
    QTest::addColumn<int>("progressLimitMiB"); // 0: progress display off
    QTest::addColumn<QString>("suffix"); // after the server's address, as people paste it
    QTest::newRow("1 byte") << qint64(1) << 1 << 0 << QString();
    QTest::newRow("exactly 1 MiB") << qint64(1048576) << 1 << 0 << QString();
    QTest::newRow("1 MiB + 1") << qint64(1048577) << 2 << 0 << QString();
    QTest::newRow("3 MiB + 5") << qint64(3 * 1048576 + 5) << 4 << 0 << QString();
    QTest::newRow("progress: 2 MiB, limit 2") << qint64(2 * 1048576) << 2 << 2 << QString();
    QTest::newRow("progress: 2 MiB + 3, limit 1") << qint64(2 * 1048576 + 3) << 3 << 1 << QString();
    QTest::newRow("below the progress limit") << qint64(2 * 1048576 - 1) << 2 << 2 << QString();
    QTest::newRow("address ending in /") << qint64(1048577) << 2 << 0 << QStringLiteral("/");
}

void TestSubmit::chunks()
{
    QFETCH(qint64, size);
    QFETCH(int, chunks);
    QFETCH(int, progressLimitMiB);
    QFETCH(QString, suffix);
    m_host.options.showProgress = progressLimitMiB > 0;
    m_host.options.showProgressFileSizeLimitMiB = progressLimitMiB;
    m_host.server += suffix;
    const QByteArray data = randomBytes(size);
    const KsJobParam p = job(writeData(QStringLiteral("job1.pdf"), data), QStringLiteral("report.pdf"));

    JobSubmitter submitter(&m_host);
    m_host.listen(&submitter);
    QCOMPARE(submitter.SubmitJob(jobOf(p)), JobSubmitter::Outcome::Confirmed);

    const FakeKestranaState::Job server = onlyJob();
    QCOMPARE(server.chunks, chunks);
    QCOMPARE(server.uploaded.size(), data.size());
    QVERIFY(server.uploaded == data);
    QVERIFY(server.confirmed);
    QCOMPARE(server.declaredFileSize, size);

    const QList<FakeRequest> uploads = m_server->requestsTo(QStringLiteral("/Job/BAS_UploadJobFile"));
    QCOMPARE(uploads.size(), chunks);
    for (const FakeRequest& r : uploads) {
        QCOMPARE(r.method, QByteArray("POST"));
        QVERIFY(r.body.size() <= 1048576);
        QVERIFY(r.header("Content-Type").startsWith("multipart/form-data; boundary=----"));
        QCOMPARE(r.query,
                 QByteArray("JobID=1001&FileType=1&FileSize=") + QByteArray::number(size)
                     + "&UserAccount=alice&FileName=1001.pdf");
    }
    QCOMPARE(uploads.first().body.size(), int(qMin<qint64>(size, 1048576)));
    // Every request of the job carries the same fields.
    const auto fieldsOf = [](const FakeRequest& r) {
        QMap<QByteArray, QByteArray> fields;
        for (const auto& field : r.headers) {
            const QByteArray name = field.first.toLower();
            if (name != "content-type" && name != "content-length") {
                fields.insert(name, field.second);
            }
        }
        return fields;
    };
    const QMap<QByteArray, QByteArray> announced
        = fieldsOf(m_server->lastRequest(QStringLiteral("/Job/BAS_SubmitPrintJob")));
    for (const FakeRequest& r : uploads) {
        QCOMPARE(fieldsOf(r), announced);
        QCOMPARE(r.header("Content-Length"), QByteArray::number(r.body.size()));
    }
    QCOMPARE(m_server->lastRequest(QStringLiteral("/Job/BAS_UploadComplete")).body,
             QByteArray("JobID=1001&DirectDeviceJob=false&UserAccount=alice"));

    const bool progress = progressLimitMiB > 0 && size >= (qint64(progressLimitMiB) << 20);
    QCOMPARE(m_host.eventsOf(QStringLiteral("progress")).size(), progress ? 1 : 0);
    if (progress) {
        const ScriptedJobHost::Event e = m_host.eventsOf(QStringLiteral("progress")).first();
        QCOMPARE(e.title, QStringLiteral("Printing assignment submission in progress"));
        QCOMPARE(e.text, QStringLiteral("report.pdf|cancel printing|%1").arg(size / 1024));
        QCOMPARE(m_host.progressValues.size(), chunks);
        QCOMPARE(m_host.progressValues.last(), int(size / 1024));
        QVERIFY(m_host.progressClosed);
    }
    QCOMPARE(m_host.rowsBeforeSubmit, 4);
    QCOMPARE(m_host.currentJobId, QStringLiteral("1001"));
    QCOMPARE(m_host.uploadedSize, size);
    QCOMPARE(m_host.textsOf(QStringLiteral("stored")), QStringList { "job [report.pdf] submiited to KS" });
    QCOMPARE(m_host.eventsOf(QStringLiteral("tray")).size(), 1);
    QCOMPARE(m_host.eventsOf(QStringLiteral("tray")).first().title, QStringLiteral("Job submitted to KS"));
    QCOMPARE(m_host.eventsOf(QStringLiteral("tray")).first().text, QStringLiteral("report.pdf"));
    QCOMPARE(m_host.eventsOf(QStringLiteral("refresh")).size(), 1);
}

void TestSubmit::announceRefused_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<int>("status"); // the HTTP status the refusal comes with
    QTest::newRow("221") << 221 << "No permission"
                         << "User has no permission to print!" << 200;
    QTest::newRow("other code") << 17 << "Quota exhausted"
                                << "Quota exhausted" << 200;
    // A refusal is read from the answer's envelope, whatever the status: not a failure to try again.
    QTest::newRow("826 under 403") << 826 << "Client address is not authenticated"
                                   << "Client address is not authenticated" << 403;
}

void TestSubmit::announceRefused()
{
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(QString, logged);
    QFETCH(int, status);
    if (status == 200) {
        m_server->updateState([&](FakeKestranaState& s) { s.submitRefusal = { code, message }; });
    } else {
        m_server->setOverride(QStringLiteral("/Job/BAS_SubmitPrintJob"),
                              FakeReply::json(QJsonObject { { "code", code }, { "message", message } }, status));
        m_host.options.keepUnsentJobs = true; // a failure would be kept for later; a refusal is not
    }
    const KsJobParam p = job(writeData(QStringLiteral("job1.pdf"), "%PDF"), QStringLiteral("a&b.pdf"));

    Logging::startCapture();
    JobSubmitter submitter(&m_host);
    m_host.listen(&submitter);
    QVERIFY(submitter.SubmitJob(jobOf(p)) != JobSubmitter::Outcome::Confirmed);
    const QStringList log = Logging::takeCaptured();

    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_UploadJobFile")), 0);
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_UploadComplete")), 0);
    const QList<ScriptedJobHost::Event> tray = m_host.eventsOf(QStringLiteral("tray"));
    QCOMPARE(tray.size(), 1);
    QCOMPARE(tray.first().title, QStringLiteral("job submit fail"));
    QCOMPARE(tray.first().text, QStringLiteral("a&b.pdf User has no permission to print!"));
    QCOMPARE(m_host.textsOf(QStringLiteral("stored")),
             QStringList { "job [a&b.pdf] submit fail User has no permission to print!" });
    QCOMPARE(m_host.eventsOf(QStringLiteral("stored")).first().account, QStringLiteral("alice"));
    QVERIFY(log.contains(QStringLiteral("###### [beginSubmitJob] job [a&b.pdf] submit fail errMsg ") + logged));
    QVERIFY(m_host.currentJobId.isEmpty());
}

void TestSubmit::announceUnreadable()
{
    m_server->setOverride(QStringLiteral("/Job/BAS_SubmitPrintJob"), FakeReply::html500());
    const KsJobParam p = job(writeData(QStringLiteral("job1.pdf"), "%PDF"), QStringLiteral("r.pdf"));

    Logging::startCapture();
    JobSubmitter submitter(&m_host);
    m_host.listen(&submitter);
    QVERIFY(submitter.SubmitJob(jobOf(p)) != JobSubmitter::Outcome::Confirmed);
    QVERIFY(Logging::takeCaptured().contains(QStringLiteral("###### [beginSubmitJob] request exception")));
    QCOMPARE(m_host.textsOf(QStringLiteral("critical")), QStringList { "ks server link ex" });
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_UploadJobFile")), 0);
}

void TestSubmit::chunkRefused_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("refusedChunk");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("status"); // not 200: every chunk is refused under this HTTP status
    QTest::newRow("220 on the first chunk") << 220 << 1 << "System users cannot print!" << 200;
    QTest::newRow("826 in the middle") << 826 << 2 << "Client address is not authenticated!" << 200;
    QTest::newRow("other code on the last chunk") << 3 << 3 << "Disk full" << 200;
    QTest::newRow("826 under 403") << 826 << 1 << "Client address is not authenticated!" << 403;
    QTest::newRow("220 under 401") << 220 << 1 << "System users cannot print!" << 401;
}

void TestSubmit::chunkRefused()
{
    QFETCH(int, code);
    QFETCH(int, refusedChunk);
    QFETCH(QString, reason);
    QFETCH(int, status);
    if (status == 200) {
        m_server->updateState([&](FakeKestranaState& s) {
            s.uploadRefusalChunk = refusedChunk;
            s.uploadRefusal = { code, QStringLiteral("Disk full") };
        });
    } else {
        m_server->setOverride(QStringLiteral("/Job/BAS_UploadJobFile"),
                              FakeReply::json(QJsonObject { { "code", code }, { "message", "Disk full" } }, status));
    }
    const KsJobParam p
        = job(writeData(QStringLiteral("job1.pdf"), randomBytes(2 * 1048576 + 10)), QStringLiteral("r.pdf"));

    Logging::startCapture();
    JobSubmitter submitter(&m_host);
    m_host.listen(&submitter);
    QVERIFY(submitter.SubmitJob(jobOf(p)) != JobSubmitter::Outcome::Confirmed);
    const QStringList log = Logging::takeCaptured();

    // The refusal fails the upload; the rest of the file is still sent, and nothing is confirmed.
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_UploadJobFile")), 3);
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_UploadComplete")), 0);
    QVERIFY(!onlyJob().confirmed);
    const QList<ScriptedJobHost::Event> tray = m_host.eventsOf(QStringLiteral("tray"));
    QCOMPARE(tray.size(), 1);
    QCOMPARE(tray.first().title, QStringLiteral("job uploadFile fail"));
    QCOMPARE(tray.first().text, QStringLiteral("job1.pdf ") + reason);
    QCOMPARE(m_host.textsOf(QStringLiteral("stored")),
             QStringList { QStringLiteral("job [job1.pdf] uploadFile fail ") + reason });
    QVERIFY(log.contains(QStringLiteral("###### [uploadFileSegment] job [job1.pdf] uploadFile fail errMsg ")
                         + (code == 3 ? QStringLiteral("Disk full") : reason)));
}

void TestSubmit::connectionLostMidUpload_data()
{
    QTest::addColumn<bool>("silent"); // the server stops answering instead of closing the connection
    QTest::addColumn<bool>("progress");
    QTest::newRow("closed, second chunk") << false << true;
    QTest::newRow("closed, first chunk") << false << false;
    QTest::newRow("silent, second chunk") << true << true;
}

void TestSubmit::connectionLostMidUpload()
{
    QFETCH(bool, silent);
    QFETCH(bool, progress);
    HttpExchange::setTransferTimeoutForTests(1000);
    const FakeReply broken = silent ? FakeReply::neverAnswer() : FakeReply::closeMidBody();
    if (progress) {
        // The progress display is told after each chunk: break the connection after the first one.
        m_host.options.showProgressFileSizeLimitMiB = 1;
        m_host.onProgressValue = [&](int) { m_server->setOverride(QStringLiteral("/Job/BAS_UploadJobFile"), broken); };
    } else {
        m_server->setOverride(QStringLiteral("/Job/BAS_UploadJobFile"), broken);
    }
    const KsJobParam p = job(writeData(QStringLiteral("job1.pdf"), randomBytes(3 * 1048576)), QStringLiteral("r.pdf"));

    JobSubmitter submitter(&m_host);
    m_host.listen(&submitter);
    QVERIFY(submitter.SubmitJob(jobOf(p)) != JobSubmitter::Outcome::Confirmed);

    // The upload stops at the broken chunk and the user hears why.
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_UploadJobFile")), progress ? 2 : 1);
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_UploadComplete")), 0);
    const QList<ScriptedJobHost::Event> tray = m_host.eventsOf(QStringLiteral("tray"));
    QCOMPARE(tray.size(), 1);
    QCOMPARE(tray.first().title, QStringLiteral("job uploadFile fail"));
    QVERIFY(tray.first().text.startsWith(QStringLiteral("job1.pdf ")));
    QCOMPARE(m_host.eventsOf(QStringLiteral("stored")).size(), 1);
    QVERIFY(
        m_host.textsOf(QStringLiteral("stored")).first().startsWith(QStringLiteral("job [job1.pdf] uploadFile fail ")));
    QVERIFY(m_host.textsOf(QStringLiteral("stored")).first().size()
            > QStringLiteral("job [job1.pdf] uploadFile fail ").size());
    if (progress) {
        QVERIFY(m_host.progressClosed);
    }
    m_server->releaseHeldConnections();
}

void TestSubmit::logoutAbortsChunkInFlight()
{
    // The server takes the chunk and never answers; the logout must not wait for the time-out.
    m_server->setOverride(QStringLiteral("/Job/BAS_UploadJobFile"), FakeReply::neverAnswer());
    const KsJobParam p = job(writeData(QStringLiteral("job1.pdf"), randomBytes(1048576)), QStringLiteral("r.pdf"));
    JobSubmitter::Hooks hooks;
    // The user logs out once the chunk has reached the server, while its answer is awaited.
    hooks.stopped = [this]() { return m_server->requestCount(QStringLiteral("/Job/BAS_UploadJobFile")) > 0; };

    JobSubmitter submitter(&m_host);
    m_host.listen(&submitter);
    QCOMPARE(submitter.SubmitJob(jobOf(p), hooks), JobSubmitter::Outcome::Interrupted);
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_UploadJobFile")), 1);
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_UploadComplete")), 0);
    QVERIFY(m_host.eventsOf(QStringLiteral("tray")).isEmpty());
    m_server->releaseHeldConnections();
}

void TestSubmit::cancelFromProgress()
{
    m_host.options.showProgressFileSizeLimitMiB = 1;
    m_host.cancelProgressAtValue = 0;
    const KsJobParam p = job(writeData(QStringLiteral("job1.pdf"), randomBytes(3 * 1048576)), QStringLiteral("r.pdf"));

    JobSubmitter submitter(&m_host);
    m_host.listen(&submitter);
    QVERIFY(submitter.SubmitJob(jobOf(p)) != JobSubmitter::Outcome::Confirmed);

    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_UploadJobFile")), 1);
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_UploadComplete")), 0);
    const FakeRequest cancel = m_server->lastRequest(QStringLiteral("/Job/BAS_CancelJob"));
    QCOMPARE(cancel.method, QByteArray("GET"));
    QCOMPARE(cancel.query, QByteArray("UserAccount=alice&Type=0&JobID=1001"));
    QVERIFY(onlyJob().cancelled);
    QVERIFY(m_host.progressClosed);
    // The user cancelled: no failure message on top of it.
    QVERIFY(m_host.eventsOf(QStringLiteral("tray")).isEmpty());
    QVERIFY(m_host.eventsOf(QStringLiteral("stored")).isEmpty());
}

void TestSubmit::confirmation_data()
{
    QTest::addColumn<bool>("localization");
    QTest::addColumn<int>("refusal");
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<QStringList>("stored");
    QTest::newRow("IsLocalization off") << false << 0 << QStringList { "refresh", "tray", "stored" }
                                        << QStringList { "job [r.pdf] submiited to KS" };
    QTest::newRow("IsLocalization on") << true << 0 << QStringList { "status" } << QStringList();
    QTest::newRow("refused") << false << 9 << QStringList { "stored" }
                             << QStringList { "job [r.pdf] submit failJob lost" };
}

void TestSubmit::confirmation()
{
    QFETCH(bool, localization);
    QFETCH(int, refusal);
    QFETCH(QStringList, kinds);
    QFETCH(QStringList, stored);
    m_host.options.isLocalization = localization;
    m_server->updateState([&](FakeKestranaState& s) { s.completeRefusal = { refusal, QStringLiteral("Job lost") }; });
    const KsJobParam p = job(writeData(QStringLiteral("job1.pdf"), "%PDF-1.4"), QStringLiteral("r.pdf"));

    JobSubmitter submitter(&m_host);
    m_host.listen(&submitter);
    QCOMPARE(submitter.SubmitJob(jobOf(p)) == JobSubmitter::Outcome::Confirmed, refusal == 0);
    QCOMPARE(m_host.kinds(), kinds);
    QCOMPARE(m_host.textsOf(QStringLiteral("stored")), stored);
}

void TestSubmit::failuresAreNeverSilent_data()
{
    QTest::addColumn<QString>("path"); // the endpoint whose answer is replaced
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("trayTitle"); // empty: no tray message expected
    QTest::addColumn<QString>("stored");
    QTest::addColumn<qint64>("shrinkTo"); // >= 0: the file is cut to this size once the first chunk is answered

    QTest::newRow("announce accepted without a job ID")
        << "/Job/BAS_SubmitPrintJob" << QByteArray("{\"code\":0,\"message\":\"ok\"}") << qint64(10) << "job submit fail"
        << "job [r.pdf] submit fail the server gave no job ID" << qint64(-1);
    QTest::newRow("announce answered with an array")
        << "/Job/BAS_SubmitPrintJob" << QByteArray("[]") << qint64(10) << "job submit fail"
        << "job [r.pdf] submit fail unreadable answer" << qint64(-1);
    QTest::newRow("chunks answered with something that is not JSON")
        << "/Job/BAS_UploadJobFile" << QByteArray("OK") << qint64(10) << "job uploadFile fail"
        << "job [job1.pdf] uploadFile fail unreadable answer" << qint64(-1);
    QTest::newRow("empty file") << "" << QByteArray() << qint64(0) << "job uploadFile fail"
                                << "job [job1.pdf] uploadFile fail the file is empty" << qint64(-1);
    QTest::newRow("confirmation unreadable")
        << "/Job/BAS_UploadComplete" << QByteArray("<html>oops</html>") << qint64(10) << ""
        << "job [r.pdf] submit fail unreadable answer" << qint64(-1);
    // The next chunk is read while one is sent: a file cut short meanwhile must still fail, not be confirmed.
    QTest::newRow("file cut short while it is sent")
        << "" << QByteArray() << qint64(3 * 1048576) << "job uploadFile fail"
        << "job [job1.pdf] uploadFile fail the file changed while it was sent" << qint64(1048576 + 1048576 / 2);
}

void TestSubmit::failuresAreNeverSilent()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, answer);
    QFETCH(qint64, size);
    QFETCH(QString, trayTitle);
    QFETCH(QString, stored);
    QFETCH(qint64, shrinkTo);
    if (!path.isEmpty()) {
        m_server->setOverride(path, FakeReply::raw(answer, "text/plain"));
    }
    const KsJobParam p = job(writeData(QStringLiteral("job1.pdf"), randomBytes(size)), QStringLiteral("r.pdf"));
    if (shrinkTo >= 0) {
        // The progress display is told after each answered chunk.
        m_host.options.showProgressFileSizeLimitMiB = 1;
        m_host.onProgressValue = [&](int) { QFile::resize(p.jobFilePath, shrinkTo); };
    }

    JobSubmitter submitter(&m_host);
    m_host.listen(&submitter);
    QVERIFY(submitter.SubmitJob(jobOf(p)) != JobSubmitter::Outcome::Confirmed);
    QCOMPARE(m_host.textsOf(QStringLiteral("stored")), QStringList { stored });
    const QList<ScriptedJobHost::Event> tray = m_host.eventsOf(QStringLiteral("tray"));
    QCOMPARE(tray.size(), trayTitle.isEmpty() ? 0 : 1);
    if (!trayTitle.isEmpty()) {
        QCOMPARE(tray.first().title, trayTitle);
    }
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_UploadComplete")),
             path == QLatin1String("/Job/BAS_UploadComplete") ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestSubmit)
#include "tst_submit.moc"
