#include "FakeKestranaServer.h"
#include "PdfMaker.h"
#include "ScriptedJobHost.h"
#include "ServerStates.h"
#include "TestHome.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "jobs/CMyFileWatcher.h"
#include "jobs/JobParamReader.h"
#include "jobs/JobQueue.h"
#include "store/MessageStore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

// kestrana-print as the virtual printer, the job queue on its timer, the fake server at the other end.
class TestJobsEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void printedJobReachesTheServer();
    void printerOptionsReachTheRecord_data();
    void printerOptionsReachTheRecord();
    void printerRefusesBadInput_data();
    void printerRefusesBadInput();

private:
    static QString printer() { return QStringLiteral(HALCYRA_BIN_DIR "/kestrana-print"); }
    int runPrinter(const QStringList& args, QByteArray* out = nullptr);
    QString writePdf(int pages);

    QScopedPointer<TestHome> m_home;
    QScopedPointer<FakeKestranaServer> m_server;
};

void TestJobsEndToEnd::init()
{
    m_home.reset(new TestHome());
    m_server.reset(new FakeKestranaServer(FakeKestranaState::sample()));
    QVERIFY(m_server->start());
    // The user's settings as a first start creates them from the template.
    LoginInfo* info = Singleton<LoginInfo>::getInstance();
    QCOMPARE(TestHome::loadAtStartUp(*info), 0);
    info->setKsServerUrl(m_server->httpUrl());
    info->setUserName(QStringLiteral("alice"));
}

void TestJobsEndToEnd::cleanup()
{
    CMyFileWatcher::DestroyKernel();
    m_server.reset();
    m_home.reset();
}

int TestJobsEndToEnd::runPrinter(const QStringList& args, QByteArray* out)
{
    QProcess process;
    process.start(printer(), args);
    if (!process.waitForFinished(60000)) {
        return -1;
    }
    if (out) {
        *out = process.readAllStandardOutput();
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString TestJobsEndToEnd::writePdf(int pages)
{
    const QString path = m_home->path() + QStringLiteral("/Quarterly report.pdf");
    return PdfMaker::write(path, pages) ? path : QString();
}

void TestJobsEndToEnd::printedJobReachesTheServer()
{
    MessageStore store(QStringLiteral("e2e"));
    QVERIFY(store.checkDb());
    ScriptedJobHost host;
    host.server = m_server->httpUrl();
    host.account = QStringLiteral("alice");
    host.options = JobOptions::fromSettings(*Singleton<LoginInfo>::getInstance());
    host.store = &store;

    JobQueue queue(&host);
    host.listen(&queue);
    QVERIFY(queue.initJobControlOption());
    QCOMPARE(queue.jobPath(), m_home->dataPath() + QStringLiteral("/ksprinter"));
    CMyFileWatcher* watcher = CMyFileWatcher::instance();
    QVERIFY(watcher->addWatchPath(queue.jobPath()));
    QSignalSpy arrived(watcher, &CMyFileWatcher::signalNewFile);
    queue.initialCheck4JobPath();
    QVERIFY(queue.isJobTimerActive());

    const QString pdf = writePdf(3);
    QVERIFY(!pdf.isEmpty());
    QFile source(pdf);
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();

    Logging::startCapture();
    QByteArray out;
    QCOMPARE(runPrinter({ QStringLiteral("--copies"), QStringLiteral("2"), pdf }, &out), 0);
    const QString jobPdf = QString::fromLocal8Bit(out).trimmed();
    QVERIFY2(jobPdf.startsWith(queue.jobPath() + QLatin1Char('/')), qPrintable(jobPdf));
    const QString base = QFileInfo(jobPdf).completeBaseName();

    QTRY_VERIFY_WITH_TIMEOUT(m_server->requestCount(QStringLiteral("/Job/BAS_UploadComplete")) == 1, 30000);
    QTRY_VERIFY(queue.isJobTimerActive());
    const QStringList log = Logging::takeCaptured();

    // The pass that found the job handled it, and no pass before it found a half-written job.
    QVERIFY(log.filter(QStringLiteral("Job Path checked and")).size() <= 2);
    QVERIFY(arrived.contains(QVariantList { jobPdf }));

    const FakeKestranaState state = m_server->state();
    QCOMPARE(state.jobs.size(), 1);
    const FakeKestranaState::Job job = state.jobs.first();
    QVERIFY(job.confirmed);
    QVERIFY(job.uploaded == bytes);
    QCOMPARE(job.announce.value(QStringLiteral("FileName")), QStringLiteral("Quarterly report.pdf"));
    QCOMPARE(job.announce.value(QStringLiteral("DocumentPages")), QStringLiteral("3"));
    QCOMPARE(job.announce.value(QStringLiteral("Copies")), QStringLiteral("2"));
    QCOMPARE(job.announce.value(QStringLiteral("UserAccount")), QStringLiteral("alice"));

    for (const QString& name : QDir(queue.jobPath()).entryList(QDir::Files | QDir::Hidden)) {
        QVERIFY2(!name.startsWith(base), qPrintable(name));
    }
    QStringList stored;
    for (const StoredMessage& m : store.loadMessages(QStringLiteral("alice"))) {
        stored << m.message;
    }
    QCOMPARE(stored, QStringList { "job [Quarterly report.pdf] submiited to KS" });
}

void TestJobsEndToEnd::printerOptionsReachTheRecord_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("color");
    QTest::addColumn<int>("duplex");
    QTest::addColumn<int>("copies");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("collate");
    QTest::addColumn<QString>("docName");

    QTest::newRow("defaults") << QStringList() << "false" << 0 << 1 << 210.0 << 297.0 << 1 << 1
                              << "Quarterly report.pdf";
    QTest::newRow("colour, long edge, 3 copies, letter")
        << QStringList { "--color", "--duplex", "long", "--copies", "3", "--paper", "letter" } << "true" << 1 << 3
        << 215.9 << 279.4 << 1 << 1 << "Quarterly report.pdf";
    QTest::newRow("short edge, A3, landscape, uncollated")
        << QStringList { "-d", "short", "-p", "A3", "--landscape", "--no-collate" } << "false" << 2 << 1 << 297.0
        << 420.0 << 2 << 0 << "Quarterly report.pdf";
    QTest::newRow("name with commas, semicolon and ampersand")
        << QStringList { "--name", QString::fromUtf8("Q&A; März, 2024.pdf") } << "false" << 0 << 1 << 210.0 << 297.0
        << 1 << 1 << QString::fromUtf8("Q&A; März, 2024.pdf");
}

void TestJobsEndToEnd::printerOptionsReachTheRecord()
{
    QFETCH(QStringList, options);
    const QString folder = m_home->path() + QStringLiteral("/out");
    const QString pdf = writePdf(2);
    QCOMPARE(runPrinter(options + QStringList { "--folder", folder, "--job", "j1", pdf }), 0);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), (QStringList { "j1", "j1.pdf" }));

    ScriptedJobHost host;
    m_server->updateState(ServerStates::removeNoCardNeeds);
    JobParamReader reader(&host);
    const KsJobParam p = reader.parseJobParamFileLinux(folder + QStringLiteral("/j1.pdf"), QStringLiteral("j1.pdf"));
    QVERIFY(p.isValid);
    QTEST(p.color, "color");
    QTEST(p.duplexMode, "duplex");
    QTEST(p.copies, "copies");
    QTEST(p.pageWidth, "width");
    QTEST(p.pageHeight, "height");
    QTEST(p.orientation, "orientation");
    QTEST(p.collate, "collate");
    QTEST(p.docName, "docName");
    QCOMPARE(p.documentPages, 2);
}

void TestJobsEndToEnd::printerRefusesBadInput_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("no file") << QStringList() << 2;
    QTest::newRow("missing file") << QStringList { "/nonexistent/x.pdf" } << 1;
    QTest::newRow("bad duplex") << QStringList { "--duplex", "both", "PDF" } << 2;
    QTest::newRow("bad copies") << QStringList { "--copies", "0", "PDF" } << 2;
    QTest::newRow("bad paper") << QStringList { "--paper", "B7", "PDF" } << 2;
    QTest::newRow("job name taken") << QStringList { "--job", "taken", "PDF" } << 1;
    QTest::newRow("job name with a path") << QStringList { "--job", "../x", "PDF" } << 2;
    QTest::newRow("text file") << QStringList { "TEXT" } << 1;
}

void TestJobsEndToEnd::printerRefusesBadInput()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    const QString folder = m_home->path() + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(folder));
    QFile taken(folder + QStringLiteral("/taken.pdf"));
    QVERIFY(taken.open(QIODevice::WriteOnly));
    taken.write("mine");
    taken.close();
    args.replaceInStrings(QStringLiteral("PDF"), writePdf(1));
    const QString text = m_home->path() + QStringLiteral("/notes.txt");
    QFile notes(text);
    QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("plain text, not a PDF\n") > 0);
    notes.close();
    args.replaceInStrings(QStringLiteral("TEXT"), text);

    QCOMPARE(runPrinter(QStringList { "--folder", folder } + args), exitCode);
    // Nothing half-written stays behind, and the job already there is untouched.
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList { "taken.pdf" });
    QVERIFY(taken.open(QIODevice::ReadOnly));
    QCOMPARE(taken.readAll(), QByteArray("mine"));
}

QTEST_MAIN(TestJobsEndToEnd)
#include "tst_jobs_e2e.moc"
