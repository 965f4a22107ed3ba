// What happens to print jobs when things go wrong: the server goes away, is killed mid-upload, answers an
// error page or garbage, never answers; the user quits or logs out with a question open; the client is
// killed and started again. The real queue and pipeline run against the fake server (and, for the kills,
// the real program); each case counts the jobs dropped, arrived intact, lost and sent twice. Run with
// -v1 to see the table the README shows.
#include "FakeKestranaServer.h"
#include "PdfMaker.h"
#include "ScriptedJobHost.h"
#include "ServerStates.h"
#include "TestHome.h"
#include "api/HttpExchange.h"
#include "app/Singleton.h"
#include "config/CredentialCipher.h"
#include "config/LoginInfo.h"
#include "jobs/JobJournal.h"
#include "jobs/JobQueue.h"
#include "jobs/JobSubmitter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTimer>
#include <QtTest>

#include <csignal>

namespace {
enum class Fault {
    None,
    NetworkCheckFails,
    ServerStopped,
    ServerKilledMidUpload,
    Html500OnChunk,
    GarbageOnChunk,
    Html500OnConfirm,
    GarbageOnConfirm,
    NeverAnswers,
    GarbageOnLargeUpload,
    Refusal221,
    NoCardDialogClosed, // Escape on the no-card print dialog
};

struct Tally
{
    int dropped = 0;
    int arrived = 0; // confirmed once, bytes equal
    int refused = 0; // removed with the server's or the user's no, and the user was told
    int lost = 0;
    int twice = 0;
};

QList<QPair<QString, Tally>> g_table;

const QStringList kJobs { QStringLiteral("job-a"), QStringLiteral("job-b"), QStringLiteral("job-c") };
} // namespace

Q_DECLARE_METATYPE(Fault)

class TestJobSafety : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void faults_data();
    void faults();
    void questionClosedByQuitOrLogout_data();
    void questionClosedByQuitOrLogout();
    void confirmedJobIsNeverSentAgain();
    void newJobAfterAStreakOfErrors();
    void timedWaits_data();
    void timedWaits();
    void pclJobSendsItsData();
    void journalThatCannotBeWrittenKeepsTheJob();
    void clientKilledOrStopped_data();
    void clientKilledOrStopped();

private:
    QString folder() const { return m_home->dataPath() + QStringLiteral("/ksprinter"); }
    QString inFolder(const QString& name) const { return folder() + QLatin1Char('/') + name; }
    void newQueue();
    QByteArray addJob(const QString& base, qint64 size, bool color = false);
    QStringList triggersLeft() const { return QDir(folder()).entryList({ QStringLiteral("*.pdf") }, QDir::Files); }
    Tally count(const QMap<QString, QByteArray>& sent) const;
    void runUntilSettled(int passes = 12);
    void writeClientSettings();
    void setClock(qint64 ms);
    void advanceClock(qint64 ms) { m_now += ms; }

    QScopedPointer<TestHome> m_home;
    QScopedPointer<FakeKestranaServer> m_server;
    QScopedPointer<JobQueue> m_queue;
    ScriptedJobHost m_host;
    qint64 m_now = 0; // the queue's clock, once a case sets it
};

void TestJobSafety::initTestCase()
{
    HttpExchange::setTransferTimeoutForTests(1500);
}

void TestJobSafety::init()
{
    m_home.reset(new TestHome());
    QVERIFY(QDir().mkpath(m_home->dataPath()));
    QFile ini(m_home->iniPath());
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Job]\nPath=ksprinter\n");
    ini.close();
    m_server.reset(new FakeKestranaServer(ServerStates::plainSample()));
    QVERIFY(m_server->start());
    Singleton<LoginInfo>::getInstance()->setKsServerUrl(m_server->httpUrl());
    m_host = ScriptedJobHost();
    m_host.server = m_server->httpUrl();
    m_host.options.showProgress = false;
    newQueue();
}

void TestJobSafety::newQueue()
{
    m_queue.reset(new JobQueue(&m_host));
    m_host.listen(m_queue.data());
    if (m_now > 0) {
        m_queue->setClock([this]() { return m_now; });
    }
    m_queue->setBackupPath(m_home->path() + QStringLiteral("/backupjobs"));
    QVERIFY(m_queue->initJobControlOption());
}

void TestJobSafety::setClock(qint64 ms)
{
    m_now = ms;
    m_queue->setClock([this]() { return m_now; });
}

void TestJobSafety::cleanup()
{
    m_now = 0;
    m_queue.reset();
    m_server.reset();
    m_home.reset();
}

void TestJobSafety::cleanupTestCase()
{
    HttpExchange::setTransferTimeoutForTests(0);
    qInfo("| What happens to a print job when ... | dropped | arrived intact | refused, user told | lost | sent "
          "twice |");
    for (const auto& row : qAsConst(g_table)) {
        const Tally& t = row.second;
        qInfo("| %s | %d | %d | %d | %d | %d |", qPrintable(row.first), t.dropped, t.arrived, t.refused, t.lost,
              t.twice);
    }
}

QByteArray TestJobSafety::addJob(const QString& base, qint64 size, bool color)
{
    const QByteArray data = PdfMaker::ofSize(size);
    QFile params(inFolder(base));
    params.open(QIODevice::WriteOnly);
    params.write("[PrintPara]\nDocName=" + base.toUtf8() + ".pdf\nDuplexType=1\n[AppPara]\nColor=" + (color ? "1" : "0")
                 + "\n");
    params.close();
    QFile pdf(inFolder(base + QStringLiteral(".pdf")));
    pdf.open(QIODevice::WriteOnly);
    pdf.write(data);
    return data;
}

// Per job: the copies the server confirmed (one cancelled afterwards may have been printed meanwhile), whether
// one that stands holds the bytes, and what is left.
Tally TestJobSafety::count(const QMap<QString, QByteArray>& sent) const
{
    Tally tally;
    const QStringList stored = m_host.textsOf(QStringLiteral("stored"));
    for (auto it = sent.cbegin(); it != sent.cend(); ++it) {
        const QString docName = it.key() + QStringLiteral(".pdf");
        ++tally.dropped;
        int confirmed = 0;
        bool intact = false;
        for (const auto& job : m_server->state().jobs) {
            if (job.jobName == docName && job.confirmed) {
                ++confirmed;
                intact = intact || (!job.cancelled && job.uploaded == it.value());
            }
        }
        const bool told = std::any_of(stored.cbegin(), stored.cend(), [&](const QString& text) {
            return text.startsWith(QStringLiteral("job [%1] submit fail").arg(docName))
                || text == QStringLiteral("Print job [%1] was cancelled").arg(docName)
                || (text.contains(QStringLiteral("[%1]").arg(docName)) && text.contains(QLatin1String("removed")));
        });
        const bool waiting = QFileInfo::exists(inFolder(docName));
        tally.twice += confirmed > 1 ? 1 : 0;
        if (confirmed >= 1 && intact) {
            ++tally.arrived;
        } else if (told && !waiting) {
            ++tally.refused;
        } else if (!waiting) {
            ++tally.lost;
        }
    }
    return tally;
}

void TestJobSafety::runUntilSettled(int passes)
{
    for (int i = 0; i < passes && !triggersLeft().isEmpty(); ++i) {
        m_queue->serverReachable(); // as the window's network check does when the server answers again
        m_queue->timerCallback();
    }
}

void TestJobSafety::faults_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("keep");
    QTest::addColumn<int>("arrived");
    QTest::addColumn<int>("refused");
    QTest::addColumn<int>("lost");

    QTest::newRow("nothing goes wrong") << Fault::None << true << 3 << 0 << 0;
    QTest::newRow("the server cannot be reached, then can") << Fault::NetworkCheckFails << true << 3 << 0 << 0;
    QTest::newRow("the server is stopped, then started") << Fault::ServerStopped << true << 3 << 0 << 0;
    QTest::newRow("the server is killed mid-upload") << Fault::ServerKilledMidUpload << true << 3 << 0 << 0;
    QTest::newRow("a chunk is answered with HTML 500") << Fault::Html500OnChunk << true << 3 << 0 << 0;
    QTest::newRow("a chunk is answered with garbage") << Fault::GarbageOnChunk << true << 3 << 0 << 0;
    QTest::newRow("the confirmation is answered with HTML 500") << Fault::Html500OnConfirm << true << 3 << 0 << 0;
    QTest::newRow("the confirmation is answered with garbage") << Fault::GarbageOnConfirm << true << 3 << 0 << 0;
    QTest::newRow("the server never answers a chunk") << Fault::NeverAnswers << true << 3 << 0 << 0;
    QTest::newRow("a large upload (progress shown) gets garbage") << Fault::GarbageOnLargeUpload << true << 3 << 0 << 0;
    QTest::newRow("the server refuses (221)") << Fault::Refusal221 << true << 0 << 3 << 0;
    QTest::newRow("the user closes the no-card dialog (Escape)") << Fault::NoCardDialogClosed << true << 0 << 3 << 0;
    QTest::newRow("Job/KeepUnsentJobs=0, server unreachable")
        << Fault::NetworkCheckFails << false << 0 << 0 << 3;
    QTest::newRow("Job/KeepUnsentJobs=0, chunk gets garbage")
        << Fault::GarbageOnChunk << false << 2 << 0 << 1;
}

void TestJobSafety::faults()
{
    QFETCH(Fault, fault);
    QFETCH(bool, keep);
    m_host.options.keepUnsentJobs = keep;
    const int port = m_server->httpPort();
    const QString upload = QStringLiteral("/Job/BAS_UploadJobFile");
    const QString confirm = QStringLiteral("/Job/BAS_UploadComplete");

    QMap<QString, QByteArray> sent;
    for (const QString& base : kJobs) {
        sent.insert(base, addJob(base, 2 * JobSubmitter::kChunkSize + 4096)); // three chunks each
    }
    switch (fault) {
    case Fault::None:
        break;
    case Fault::NetworkCheckFails:
        m_host.networkDefault = false;
        break;
    case Fault::ServerStopped:
        m_server->stop();
        break;
    case Fault::ServerKilledMidUpload:
        m_server->setOverride(upload, FakeReply::neverAnswer().skipping(1).times(1));
        // Killed while the second chunk is on its way.
        for (int wait = 0; wait < 100; wait += 10) {
            QTimer::singleShot(wait * 50, this, [this]() {
                if (m_server->isRunning() && m_server->heldConnections() > 0) {
                    m_server->stop();
                }
            });
        }
        break;
    case Fault::Html500OnChunk:
        m_server->setOverride(upload, FakeReply::html500().skipping(1).times(1));
        break;
    case Fault::GarbageOnChunk:
        m_server->setOverride(upload, FakeReply::raw("{\"code\":0,").skipping(1).times(1));
        break;
    case Fault::Html500OnConfirm:
        m_server->setOverride(confirm, FakeReply::html500().times(1));
        break;
    case Fault::GarbageOnConfirm:
        m_server->setOverride(confirm, FakeReply::raw("<<not json>>").times(1));
        break;
    case Fault::NeverAnswers:
        m_server->setOverride(upload, FakeReply::neverAnswer().skipping(1).times(1));
        break;
    case Fault::GarbageOnLargeUpload:
        m_host.options.showProgress = true;
        m_host.options.showProgressFileSizeLimitMiB = 1;
        m_server->setOverride(upload, FakeReply::raw("garbage").skipping(1).times(1));
        break;
    case Fault::Refusal221:
        m_server->updateState([](FakeKestranaState& s) { s.users.first().allowPrint = false; });
        break;
    case Fault::NoCardDialogClosed:
        m_server->setState(FakeKestranaState::sample()); // fee projects: the no-card dialog is needed
        m_host.noCardAccept = false;
        break;
    }

    m_queue->timerCallback();
    if (fault == Fault::NoCardDialogClosed) {
        // One notice per job, each naming its own (count() below).
        QCOMPARE(m_host.textsOf(QStringLiteral("stored")).size(), 3);
    } else if (keep && fault != Fault::None && fault != Fault::Refusal221) {
        // The first job is kept, and the ones behind it wait in order.
        QCOMPARE(triggersLeft().size(), 3);
        QCOMPARE(m_host.textsOf(QStringLiteral("stored")).filter(QStringLiteral("is kept")),
                 QStringList {
                     QStringLiteral("Print job [job-a.pdf] is kept and will be sent when the server can be reached") });
        QCOMPARE(m_host.unsentCount, 3);
    }
    // A fault that lasts is met by a second pass as well; the user hears nothing more.
    if (fault == Fault::NetworkCheckFails || fault == Fault::ServerStopped) {
        m_queue->retryKeptJobsNow();
        m_queue->timerCallback();
        if (keep) {
            QCOMPARE(triggersLeft().size(), 3);
            QCOMPARE(m_host.textsOf(QStringLiteral("stored")).filter(QStringLiteral("is kept")).size(), 1);
            QCOMPARE(m_host.eventsOf(QStringLiteral("unreachable")).size(), fault == Fault::NetworkCheckFails ? 1 : 0);
        }
    }

    // A job request that got no answer at all shows the client offline at once; an answer of any kind does not.
    const bool unanswered
        = fault == Fault::ServerStopped || fault == Fault::ServerKilledMidUpload || fault == Fault::NeverAnswers;
    QCOMPARE(!m_host.noAnswerReasons.isEmpty(), unanswered);

    m_host.networkDefault = true;
    if (!m_server->isRunning()) {
        QVERIFY(m_server->startListener(false, port));
    }
    m_server->releaseHeldConnections();
    runUntilSettled();

    const Tally tally = count(sent);
    g_table.append({ QString::fromUtf8(QTest::currentDataTag()), tally });
    QTEST(tally.arrived, "arrived");
    QTEST(tally.refused, "refused");
    QTEST(tally.lost, "lost");
    QCOMPARE(tally.twice, 0);
    QCOMPARE(triggersLeft(), QStringList());
    if (keep) {
        // Retries raise no box.
        QVERIFY(!m_host.kinds().contains(QStringLiteral("critical")));
        QVERIFY(!m_host.kinds().contains(QStringLiteral("warning")));
        QCOMPARE(m_host.unsentCount, 0);
    }
}

void TestJobSafety::questionClosedByQuitOrLogout_data()
{
    QTest::addColumn<QString>("question");
    QTest::addColumn<bool>("quit"); // false: logout

    QTest::newRow("quit with the start-up question open") << QStringLiteral("existing") << true;
    QTest::newRow("quit with a permission question open") << QStringLiteral("confirm") << true;
    QTest::newRow("logout with a permission question open") << QStringLiteral("confirm") << false;
    QTest::newRow("logout while the no-card dialog loads") << QStringLiteral("nocard") << false;
}

// A quit or logout ends the question's event loop, so it returns "No", "Discard" or "cancelled". That is no
// answer: the jobs wait, untouched, and go once the next session says "Submit".
void TestJobSafety::questionClosedByQuitOrLogout()
{
    QFETCH(QString, question);
    QFETCH(bool, quit);
    if (question == QLatin1String("nocard")) {
        m_server->setState(FakeKestranaState::sample()); // fee projects: the no-card dialog is needed
    }
    m_server->updateState([](FakeKestranaState& s) { s.users.first().allowPrintColor = false; });
    m_host.confirmDefault = false;
    m_host.noCardAccept = false;
    m_host.existingChoice = JobHost::ExistingJobsChoice::Discard;
    m_host.onQuestion = [&](const QString&) {
        if (m_host.eventsOf(question).isEmpty()) {
            return;
        }
        if (quit) {
            m_queue->requestQuit();
        } else {
            m_queue->stopJobTimer();
        }
    };
    QMap<QString, QByteArray> sent;
    sent.insert(QStringLiteral("job-a"), addJob(QStringLiteral("job-a"), 5000, true));
    if (question == QLatin1String("existing")) {
        m_queue->initialCheck4JobPath();
    } else {
        m_queue->timerCallback();
    }
    QCOMPARE(m_host.eventsOf(question).size(), 1);
    QCOMPARE(QDir(folder()).entryList(QDir::Files).size(), 2);
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_SubmitPrintJob")), 0);
    QVERIFY(!m_queue->isJobTimerActive());

    // The next start: "Submit", and "Yes" to the question.
    m_host.onQuestion = nullptr;
    m_host.existingChoice = JobHost::ExistingJobsChoice::Submit;
    m_host.confirmDefault = true;
    m_host.noCardAccept = true;
    newQueue();
    m_queue->initialCheck4JobPath();
    QCOMPARE(m_host.eventsOf(QStringLiteral("existing")).last().text, QStringLiteral("1"));
    const Tally tally = count(sent);
    g_table.append({ QString::fromUtf8(QTest::currentDataTag()), tally });
    QCOMPARE(tally.arrived, 1);
    QCOMPARE(tally.twice, 0);
}

void TestJobSafety::confirmedJobIsNeverSentAgain()
{
    // The server takes the job, but its files cannot be removed (a folder that went read-only).
    QMap<QString, QByteArray> sent;
    sent.insert(QStringLiteral("job-a"), addJob(QStringLiteral("job-a"), 5000));
    QFile::setPermissions(folder(), QFile::ReadOwner | QFile::ExeOwner);
    m_queue->timerCallback();
    m_queue->timerCallback();
    // Started again, with the folder writable: the job is recognised and only its files go.
    newQueue();
    QFile::setPermissions(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_queue->initialCheck4JobPath();
    QCOMPARE(m_host.eventsOf(QStringLiteral("existing")).size(), 0);
    QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList());
    const Tally tally = count(sent);
    QCOMPARE(tally.arrived, 1);
    QCOMPARE(tally.twice, 0);
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_SubmitPrintJob")), 1);
}

// A streak of error pages on the uploads leaves the kept job minutes of back-off; once the server is well again,
// a job printed then goes within two passes, the kept one before it.
void TestJobSafety::newJobAfterAStreakOfErrors()
{
    setClock(QDateTime::currentMSecsSinceEpoch());
    QMap<QString, QByteArray> sent;
    sent.insert(QStringLiteral("job-a"), addJob(QStringLiteral("job-a"), 5000));
    const int streak = 6; // back-off 5, 10, 20, 40, 80, 160 s
    m_server->setOverride(QStringLiteral("/Job/BAS_UploadJobFile"), FakeReply::html500().times(streak));
    for (int failure = 0; failure < streak; ++failure) {
        m_queue->timerCallback();
        advanceClock(200 * 1000);
    }
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_UploadJobFile")), streak);
    advanceClock(-200 * 1000); // the last back-off has just begun
    sent.insert(QStringLiteral("job-b"), addJob(QStringLiteral("job-b"), 5000));
    for (int pass = 0; pass < 2 && !triggersLeft().isEmpty(); ++pass) {
        m_queue->timerCallback();
    }
    const Tally tally = count(sent);
    g_table.append(
        { QStringLiteral("a streak of HTML 500 on uploads, then a job printed once the server is well"), tally });
    QCOMPARE(tally.arrived, 2);
    QCOMPARE(tally.twice, 0);
    // In printing order.
    const QList<FakeRequest> announced = m_server->requestsTo(QStringLiteral("/Job/BAS_SubmitPrintJob"));
    QCOMPARE(announced.last().formField(QStringLiteral("FileName")), QStringLiteral("job-b.pdf"));
}

void TestJobSafety::timedWaits_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("arrived");
    QTest::addColumn<QString>("told");
    const QString expired = QStringLiteral("Print job [job-a.pdf] could not be sent within 24 hours and was removed");
    QTest::newRow("the server stays away for longer than Job/KeepUnsentHours")
        << QStringLiteral("expire") << 0 << expired;
    QTest::newRow("the server stays away for longer than Job/KeepUnsentHours, across a restart")
        << QStringLiteral("expire-restart") << 0 << expired;
    QTest::newRow("the server is back within Job/KeepUnsentHours, after a restart")
        << QStringLiteral("back-restart") << 1 << QString();
    QTest::newRow("the document never arrives (one minute)")
        << QStringLiteral("no-document") << 0
        << QStringLiteral("Print job [job-a.pdf] was removed: its document did not arrive");
    QTest::newRow("the document stays cut off (one minute)")
        << QStringLiteral("cut") << 0
        << QStringLiteral("Print job [job-a.pdf] was removed: its document is not a complete PDF");
    QTest::newRow("the document is cut off, then completed within the minute")
        << QStringLiteral("cut-then-whole") << 1 << QString();
    QTest::newRow("Job/KeepUnsentJobs=0, Submit at start-up, the document is cut off")
        << QStringLiteral("startup-cut") << 1 << QString();
}

// The queue's timed decisions, driven through its clock: the expiry of kept jobs (counted from when the journal
// first saw the job, restarts included) and the minute a job may wait for its document.
void TestJobSafety::timedWaits()
{
    QFETCH(QString, scenario);
    QFETCH(int, arrived);
    QFETCH(QString, told);
    setClock(QDateTime::currentMSecsSinceEpoch());
    const qint64 hour = 3600 * 1000;
    QMap<QString, QByteArray> sent;
    sent.insert(QStringLiteral("job-a"), addJob(QStringLiteral("job-a"), 5000));
    const QString pdf = inFolder(QStringLiteral("job-a.pdf"));
    const auto writeDocument = [&pdf](const QByteArray& data) {
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(data);
    };

    if (scenario.startsWith(QLatin1String("expire")) || scenario == QLatin1String("back-restart")) {
        // Printed days before the client first saw it (the machine was off): the hours count from that sighting.
        for (const QString& name : { QStringLiteral("job-a"), QStringLiteral("job-a.pdf") }) {
            QFile file(inFolder(name));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addDays(-3), QFileDevice::FileModificationTime));
        }
        m_host.networkDefault = false;
        m_queue->timerCallback();
        if (scenario != QLatin1String("expire")) {
            newQueue();
        }
        advanceClock(23 * hour);
        m_host.networkDefault = scenario == QLatin1String("back-restart");
        runUntilSettled(2);
        if (arrived == 0) {
            QCOMPARE(triggersLeft().size(), 1);
            advanceClock(2 * hour);
            runUntilSettled(2);
        }
    } else if (scenario == QLatin1String("startup-cut")) {
        // Without kept jobs the start-up pass clears the folder after it: the job is tried as it is and reported.
        m_host.options.keepUnsentJobs = false;
        sent.insert(QStringLiteral("job-a"), sent.value(QStringLiteral("job-a")).left(2500));
        writeDocument(sent.value(QStringLiteral("job-a")));
        m_queue->initialCheck4JobPath();
        QVERIFY(m_host.textsOf(QStringLiteral("stored")).contains(QStringLiteral("job [job-a.pdf] submiited to KS")));
    } else if (scenario == QLatin1String("no-document")) {
        writeDocument(QByteArray());
        m_queue->timerCallback();
        advanceClock(59 * 1000);
        m_queue->timerCallback();
        QCOMPARE(triggersLeft().size(), 1);
        advanceClock(2000);
        m_queue->timerCallback();
    } else {
        writeDocument(sent.value(QStringLiteral("job-a")).left(2500));
        m_queue->timerCallback();
        advanceClock(59 * 1000);
        m_queue->timerCallback();
        QCOMPARE(triggersLeft().size(), 1);
        if (scenario == QLatin1String("cut-then-whole")) {
            writeDocument(sent.value(QStringLiteral("job-a")));
        }
        advanceClock(2000);
        m_queue->timerCallback();
        // Nothing cut off ever reaches the server.
        for (const auto& job : m_server->state().jobs) {
            QCOMPARE(job.uploaded, sent.value(QStringLiteral("job-a")));
        }
    }

    const Tally tally = count(sent);
    g_table.append({ QString::fromUtf8(QTest::currentDataTag()), tally });
    QCOMPARE(tally.arrived, arrived);
    QCOMPARE(tally.lost, 0);
    QCOMPARE(triggersLeft(), QStringList());
    const QStringList stored = m_host.textsOf(QStringLiteral("stored"));
    if (!told.isEmpty()) {
        QCOMPARE(stored.filter(QStringLiteral("removed")), QStringList { told });
    }
}

void TestJobSafety::pclJobSendsItsData()
{
    QFile(inFolder(QStringLiteral("job-p"))).open(QIODevice::WriteOnly);
    QFile xml(inFolder(QStringLiteral("job-p.xml")));
    QVERIFY(xml.open(QIODevice::WriteOnly));
    xml.write("<job/>");
    xml.close();
    const QByteArray pcl = "\x1b%-12345X@PJL\r\n" + QByteArray(70000, 'p');
    QFile data(inFolder(QStringLiteral("job-p.pcl")));
    QVERIFY(data.open(QIODevice::WriteOnly));
    data.write(pcl);
    data.close();
    m_queue->timerCallback();
    const QList<FakeKestranaState::Job> jobs = m_server->state().jobs.values();
    QCOMPARE(jobs.size(), 1);
    QVERIFY(jobs.first().confirmed);
    QCOMPARE(jobs.first().uploaded, pcl);
    QVERIFY(jobs.first().uploadFileName.endsWith(QLatin1String(".pcl")));
    QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList());
}

// A full disk or a journal that cannot be opened: nothing is sent without a record, and nothing is lost.
void TestJobSafety::journalThatCannotBeWrittenKeepsTheJob()
{
    QMap<QString, QByteArray> sent;
    sent.insert(QStringLiteral("job-a"), addJob(QStringLiteral("job-a"), 5000));
    m_queue->setJournalPath(m_home->path() + QStringLiteral("/no such folder/jobjournal.db"));
    m_queue->timerCallback();
    QCOMPARE(triggersLeft().size(), 1);
    QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_SubmitPrintJob")), 0);
    newQueue();
    runUntilSettled();
    const Tally tally = count(sent);
    g_table.append({ QStringLiteral("the job journal cannot be written (full disk)"), tally });
    QCOMPARE(tally.arrived, 1);
    QCOMPARE(tally.twice, 0);
}

void TestJobSafety::writeClientSettings()
{
    QFile::remove(m_home->iniPath());
    QVERIFY(QFile::copy(TestHome::templatePath(), m_home->iniPath()));
    QFile::setPermissions(m_home->iniPath(), QFile::ReadOwner | QFile::WriteOwner);
    QSettings settings(m_home->iniPath(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Login/KsServerUrl"), m_server->httpUrl());
    settings.setValue(QStringLiteral("Login/LoginName"), QStringLiteral("alice"));
    settings.setValue(QStringLiteral("Login/Password"), CredentialCipher::encryptValue(QStringLiteral("secret")));
    settings.setValue(QStringLiteral("Login/AutoLogin"), true);
    settings.setValue(QStringLiteral("Login/SavePassword"), true);
    settings.setValue(QStringLiteral("setting/IsShowProgress"), false);
}

void TestJobSafety::clientKilledOrStopped_data()
{
    QTest::addColumn<QString>("moment");
    QTest::addColumn<bool>("sigkill");
    QTest::newRow("the client is killed (SIGKILL) mid-upload") << QStringLiteral("upload") << true;
    QTest::newRow("the client is killed (SIGKILL) once the server took the confirmation, before its answer")
        << QStringLiteral("confirm") << true;
    QTest::newRow("the client is stopped (SIGTERM) mid-upload") << QStringLiteral("upload-term") << false;
    QTest::newRow("the client is stopped (SIGTERM) with the start-up question open")
        << QStringLiteral("existing") << false;
    QTest::newRow("the client is stopped (SIGTERM) with a permission question open")
        << QStringLiteral("confirm-question") << false;
}

// The real program, killed or stopped at the worst moment, then started again (here: the same queue code
// on the same folder and journal).
void TestJobSafety::clientKilledOrStopped()
{
    QFETCH(QString, moment);
    QFETCH(bool, sigkill);
    // A server that can kill the client the moment it has taken the confirmation, before the client acts.
    static qint64 s_killOnConfirm = 0;
    s_killOnConfirm = 0;
    m_server.reset(new FakeKestranaServer(ServerStates::plainSample()));
    m_server->setRequestObserver([](const FakeRequest& request, const FakeReply&) {
        if (request.path == QLatin1String("/Job/BAS_UploadComplete") && s_killOnConfirm > 0) {
            ::kill(pid_t(s_killOnConfirm), SIGKILL);
        }
    });
    QVERIFY(m_server->start());
    Singleton<LoginInfo>::getInstance()->setKsServerUrl(m_server->httpUrl());
    m_host.server = m_server->httpUrl();
    writeClientSettings();

    QMap<QString, QByteArray> sent;
    const bool early = moment == QLatin1String("existing");
    if (early) {
        sent.insert(QStringLiteral("job-a"), addJob(QStringLiteral("job-a"), 5000));
    }
    if (moment == QLatin1String("confirm-question")) {
        m_server->updateState([](FakeKestranaState& s) { s.users.first().allowPrintColor = false; });
    }
    const bool midUpload = moment.startsWith(QLatin1String("upload"));
    if (midUpload) {
        m_server->setOverride(QStringLiteral("/Job/BAS_UploadJobFile"), FakeReply::neverAnswer().skipping(1));
    }
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(QStringLiteral("HOME"), m_home->path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    client.setProcessEnvironment(env);
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client.start(QStringLiteral(HALCYRA_BIN_DIR "/HalcyraClient"), QStringList());
    QVERIFY(client.waitForStarted());
    if (moment == QLatin1String("confirm")) {
        s_killOnConfirm = client.processId();
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_server->requestCount(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew")) == 1, 60000);
    if (!early) {
        QTRY_VERIFY_WITH_TIMEOUT(m_server->requestCount(QStringLiteral("/Job/BAS_JobStausList")) >= 1, 60000);
        sent.insert(QStringLiteral("job-a"),
                    addJob(QStringLiteral("job-a"), 2 * JobSubmitter::kChunkSize + 10,
                           moment == QLatin1String("confirm-question")));
    }

    if (midUpload) {
        QTRY_VERIFY_WITH_TIMEOUT(m_server->heldConnections() > 0, 60000);
        if (sigkill) {
            client.kill();
        } else {
            client.terminate();
        }
    } else if (moment == QLatin1String("confirm")) {
        // Generous: the sanitizer build runs beside the rest of the suite.
        QTRY_VERIFY_WITH_TIMEOUT(client.state() == QProcess::NotRunning, 180000);
    } else {
        // The client logs the question just before its box waits for the user.
        const QByteArray marker = QByteArrayLiteral("###### job question open: ")
            + (early ? QByteArray("Existed jobs found") : QByteArray("You are not allowed to submit color"));
        const QString log = m_home->dataPath() + QStringLiteral("/logs/hyc.log");
        const auto logged = [&log, &marker]() {
            QFile file(log);
            return file.open(QIODevice::ReadOnly) && file.readAll().contains(marker);
        };
        QTRY_VERIFY_WITH_TIMEOUT(logged(), 60000);
        client.terminate();
    }
    QVERIFY(client.state() == QProcess::NotRunning || client.waitForFinished(30000));
    if (!sigkill) {
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        // Stopped mid-upload, the client cancelled its half-sent server job on the way out.
        QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_SubmitPrintJob")), midUpload ? 1 : 0);
        QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_CancelJob")), midUpload ? 1 : 0);
    }
    m_server->clearOverrides();
    m_server->releaseHeldConnections();
    QVERIFY2(!triggersLeft().isEmpty() || moment == QLatin1String("confirm"), "the job left the folder");

    // Started again.
    m_server->updateState([](FakeKestranaState& s) { s.users.first().allowPrintColor = true; });
    m_host.server = m_server->httpUrl();
    m_host.existingChoice = JobHost::ExistingJobsChoice::Submit;
    newQueue();
    m_queue->initialCheck4JobPath();
    runUntilSettled();

    const Tally tally = count(sent);
    g_table.append({ QString::fromUtf8(QTest::currentDataTag()), tally });
    QCOMPARE(tally.arrived, 1);
    QCOMPARE(tally.lost, 0);
    QCOMPARE(tally.twice, 0);
    QCOMPARE(triggersLeft(), QStringList());
    if (midUpload) {
        // The half-sent server job was cancelled once, before the job went again.
        QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_CancelJob")), 1);
    }
    if (moment == QLatin1String("confirm")) {
        // The server took the confirmation whose answer never arrived: the job is there once, never cancelled
        // nor sent again, nobody is asked about it, and the user hears it was delivered.
        QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_SubmitPrintJob")), 1);
        QCOMPARE(m_server->requestCount(QStringLiteral("/Job/BAS_CancelJob")), 0);
        QCOMPARE(m_server->state().jobs.size(), 1);
        QVERIFY(m_host.eventsOf(QStringLiteral("existing")).isEmpty());
        QCOMPARE(m_host.textsOf(QStringLiteral("stored")), QStringList { "job [job-a.pdf] submiited to KS" });
    }
    s_killOnConfirm = 0;
}

QTEST_GUILESS_MAIN(TestJobSafety)

#include "tst_jobsafety.moc"
