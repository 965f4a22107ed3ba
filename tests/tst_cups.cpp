// The Kestrana printer: the CUPS backend run as CUPS runs it (as root, for a real user with a home of its own),
// against hostile homes, other users and a full disk; prints through a private cupsd whose queue the package's
// own scripts add and remove, and whose job the client's job queue then uploads to the fake server. No user can
// hold that queue: a runaway conversion is cancelled and the next user's job goes through.
#include "FakeKestranaServer.h"
#include "PdfMaker.h"
#include "ScriptedJobHost.h"
#include "ServerStates.h"
#include "TestHome.h"
#include "UnprivilegedScope.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "jobs/JobParamReader.h"
#include "jobs/JobQueue.h"
#include "store/MessageStore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtPdf/QPdfDocument>
#include <QtTest>

#include <csignal>

#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every entry of a folder, hidden ones included.
QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

struct Result
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Result run(const QString& program, const QStringList& args, const QByteArray& input = QByteArray(),
           const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    Result result;
    if (!process.waitForStarted(30000)) {
        result.err = process.errorString().toUtf8();
        return result;
    }
    process.write(input);
    process.closeWriteChannel();
    if (process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// Runs a program as another user, as that user would from a shell of its own.
Result runAs(uid_t uid, gid_t gid, const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    return run(QStringLiteral("setpriv"),
               QStringList { QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(gid),
                             QStringLiteral("--clear-groups"), QStringLiteral("--"), program }
                   + args,
               QByteArray(), env);
}

// The first page's size as a PDF viewer shows it, its rotation applied.
QSizeF shownPageSize(const QString& pdfPath)
{
    QPdfDocument document;
    document.load(pdfPath);
    return document.pageCount() > 0 ? document.pageSize(0) : QSizeF();
}
} // namespace

class TestCups : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void backendFilesTheJob_data();
    void backendFilesTheJob();
    void backendRefusesHostileSetups_data();
    void backendRefusesHostileSetups();
    void fullDiskLeavesNothing();
    void stoppedCopyLeavesNothing_data();
    void stoppedCopyLeavesNothing();
    void linkAtTheTemporaryNameIsNotFollowed();
    void printThroughCups();
    void cupsFilesOnlyTheUsersOwnJobs_data();
    void cupsFilesOnlyTheUsersOwnJobs();
    void runawayJobDoesNotHoldTheQueue();
    void packageScriptsLeaveNoAcceptingQueue_data();
    void packageScriptsLeaveNoAcceptingQueue();

private:
    // auth: what CUPS tells the backend of who submitted the job: "cups" the job's own user as CUPS authenticated
    // it, "other" another user, "none" nobody (a queue without the authenticated policy), "typed" a name typed
    // for the device (auth-info-required).
    Result runBackend(const QString& user, const QStringList& tail, const QByteArray& input = QByteArray(),
                      const QString& auth = QStringLiteral("cups"));
    QString jobFolder() const { return m_home + QStringLiteral("/halcyraclient/ksprinter"); }
    KsJobParam readJob(const QString& pdfPath);
    QString startCupsd();
    void stopCupsd();
    QProcessEnvironment cupsEnvironment() const;
    Result cupsTool(const QString& tool, const QStringList& args) const; // as root, against the private cupsd
    QString cancelAfter() const; // the queue's job-cancel-after as CUPS reports it
    // A maintainer script of the package, run as dpkg runs it with the private cupsd as the system's.
    Result runPackageScript(const QString& script, const QString& action);
    QString filedPdf(); // waits for the one job of the folder; its PDF's path

    QScopedPointer<QTemporaryDir> m_base;
    QString m_user;
    QString m_home;
    QString m_system; // stands for a system folder a hostile home points into
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    bool m_mounted = false;
    QByteArray m_pdf;
    QScopedPointer<FakeKestranaServer> m_server;
    QProcess m_cupsd;
    QString m_cupsDir;
};

void TestCups::initTestCase()
{
    if (::geteuid() != 0) {
        QSKIP("runs the backend as CUPS does, as root for a user of its own: needs root");
    }
    m_base.reset(new QTemporaryDir());
    QVERIFY(m_base->isValid());
    // The printing user and CUPS's own user must reach what lies below.
    QVERIFY(::chmod(QFile::encodeName(m_base->path()).constData(), 0755) == 0);
    m_home = m_base->filePath(QStringLiteral("home"));
    m_system = m_base->filePath(QStringLiteral("system"));
    QVERIFY(QDir().mkpath(m_home) && QDir().mkpath(m_system));
    QVERIFY(::chmod(QFile::encodeName(m_system).constData(), 0777) == 0);

    m_user = QStringLiteral("kstest%1").arg(QCoreApplication::applicationPid() % 1000000);
    const Result added = run(QStringLiteral("useradd"),
                             { QStringLiteral("-M"), QStringLiteral("-d"), m_home, QStringLiteral("-s"),
                               QStringLiteral("/usr/sbin/nologin"), m_user });
    if (added.exitCode != 0) {
        QSKIP(qPrintable(QStringLiteral("cannot create a test user: %1").arg(QString::fromLocal8Bit(added.err))));
    }
    const struct passwd* entry = ::getpwnam(qPrintable(m_user));
    QVERIFY(entry);
    m_uid = entry->pw_uid;
    m_gid = entry->pw_gid;

    m_pdf = PdfMaker::make(2);
    QVERIFY(m_pdf.startsWith("%PDF-"));
    m_server.reset(new FakeKestranaServer(ServerStates::plainSample()));
    QVERIFY(m_server->start());

    // Called without arguments, as CUPS lists devices.
    QProcess list;
    list.start(TestHome::binaryPath(QStringLiteral("cups-backend/kestrana")), QStringList());
    QVERIFY(list.waitForFinished(30000));
    QCOMPARE(list.readAllStandardOutput(), QByteArray("direct kestrana \"Kestrana\" \"Kestrana secure printing\"\n"));
    QCOMPARE(list.exitCode(), 0);
}

void TestCups::cleanupTestCase()
{
    if (m_cupsd.state() != QProcess::NotRunning) {
        m_cupsd.terminate();
        m_cupsd.waitForFinished(30000);
    }
    if (!m_user.isEmpty() && m_uid != 0) {
        run(QStringLiteral("userdel"), { m_user });
    }
    m_server.reset();
}

void TestCups::init()
{
    QVERIFY(QDir(m_home).removeRecursively() && QDir().mkpath(m_home));
    QVERIFY(::chown(QFile::encodeName(m_home).constData(), m_uid, m_gid) == 0);
    QVERIFY(::chmod(QFile::encodeName(m_home).constData(), 0700) == 0);
    for (const QString& name : entries(m_system)) {
        QFile::remove(m_system + QLatin1Char('/') + name);
    }
}

void TestCups::cleanup()
{
    if (m_mounted) {
        ::umount2(QFile::encodeName(m_home).constData(), MNT_DETACH);
        m_mounted = false;
    }
}

Result TestCups::runBackend(const QString& user, const QStringList& tail, const QByteArray& input, const QString& auth)
{
    // The environment CUPS gives a backend.
    QProcessEnvironment env;
    env.insert(QStringLiteral("DEVICE_URI"), QStringLiteral("kestrana:/"));
    env.insert(QStringLiteral("CONTENT_TYPE"), QStringLiteral("application/pdf"));
    env.insert(QStringLiteral("PRINTER"), QStringLiteral("Kestrana"));
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    env.insert(QStringLiteral("AUTH_INFO_REQUIRED"), QStringLiteral("none"));
    if (auth == QLatin1String("cups")) {
        // CUPS names root by name alone: it never passes a user id of 0.
        const struct passwd* entry = ::getpwnam(qPrintable(user));
        if (entry && entry->pw_uid != 0) {
            env.insert(QStringLiteral("AUTH_UID"), QString::number(entry->pw_uid));
        }
        env.insert(QStringLiteral("AUTH_USERNAME"), user);
    } else if (auth == QLatin1String("other")) {
        env.insert(QStringLiteral("AUTH_UID"), QString::number(UnprivilegedScope::kUid));
        env.insert(QStringLiteral("AUTH_USERNAME"), QStringLiteral("nobody"));
    } else if (auth == QLatin1String("typed")) {
        env.insert(QStringLiteral("AUTH_INFO_REQUIRED"), QStringLiteral("username,password"));
        env.insert(QStringLiteral("AUTH_USERNAME"), user);
        env.insert(QStringLiteral("AUTH_PASSWORD"), QStringLiteral("secret"));
    }
    return run(TestHome::binaryPath(QStringLiteral("cups-backend/kestrana")),
               QStringList { QStringLiteral("42"), user } + tail, input, env);
}

namespace {
// The client runs as the printing user and takes only that user's own files: act as that user meanwhile.
class AsUser
{
public:
    AsUser(uid_t uid, gid_t gid) { m_active = ::setegid(gid) == 0 && ::seteuid(uid) == 0; }
    ~AsUser()
    {
        if (::seteuid(0) != 0 || ::setegid(0) != 0) {
            qFatal("cannot return to root");
        }
    }
    bool active() const { return m_active; }

private:
    bool m_active = false;
};
} // namespace

KsJobParam TestCups::readJob(const QString& pdfPath)
{
    AsUser asUser(m_uid, m_gid);
    if (!asUser.active()) {
        return KsJobParam();
    }
    m_server->updateState(ServerStates::removeNoCardNeeds);
    ScriptedJobHost host;
    host.server = m_server->httpUrl();
    JobParamReader reader(&host);
    return reader.parseJobParamFileLinux(pdfPath, QFileInfo(pdfPath).fileName());
}

namespace {
// 300 characters, more than CUPS takes for a job name (255 bytes) and more than the client shows.
QString longTitle()
{
    return QString::fromUtf8("Quartalsbericht über ") + QString(275, QLatin1Char('x')) + QStringLiteral(".pdf");
}

QByteArray document(const QString& kind)
{
    if (kind == QLatin1String("landscape")) {
        return PdfMaker::make(2, QPageSize::A4, QPageLayout::Landscape);
    }
    if (kind == QLatin1String("titled")) {
        return PdfMaker::make(2, QPageSize::A4, QPageLayout::Portrait, longTitle());
    }
    return PdfMaker::make(2);
}
} // namespace

void TestCups::backendFilesTheJob_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("copies");
    QTest::addColumn<QString>("options");
    QTest::addColumn<bool>("fromFile");
    QTest::addColumn<QString>("pages"); // portrait, landscape, titled (portrait, a long title in the PDF)
    QTest::addColumn<QString>("color");
    QTest::addColumn<int>("duplex");
    QTest::addColumn<int>("copyCount");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("collate");
    QTest::addColumn<QString>("docName");

    QTest::newRow("defaults, standard input: colour") << "report.pdf"
                                                      << "1"
                                                      << "" << false << "portrait"
                                                      << "true" << 0 << 1 << 210.0 << 297.0 << 1 << 1 << "report.pdf";
    // As cupsd passes "lp -o sides=two-sided-long-edge -o ColorModel=Gray -n 2 -o media=A3".
    QTest::newRow("grey, long edge, two copies, A3, from a file")
        << "Quarterly report"
        << "2"
        << "ColorModel=Gray finishings=3 media=A3 number-up=1 print-color-mode=monochrome sides=two-sided-long-edge "
           "Duplex=DuplexNoTumble PageSize=A3"
        << true << "portrait"
        << "false" << 1 << 2 << 297.0 << 420.0 << 1 << 1 << "Quarterly report";
    // CUPS's filters have turned the pages for landscape before the backend sees them.
    QTest::newRow("printer options: colour, short edge, Letter, landscape, uncollated")
        << "Q&A; März, 2024"
        << "3"
        << "ColorModel=RGB Duplex=DuplexTumble PageSize=Letter landscape Collate=False" << false << "portrait"
        << "true" << 2 << 3 << 215.9 << 279.4 << 1 << 0 << QString::fromUtf8("Q&A; März, 2024");
    QTest::newRow("IPP attributes only: A5, reverse landscape")
        << "a\nb"
        << "1"
        << "print-color-mode=color sides=two-sided-short-edge media=iso_a5_148x210mm orientation-requested=5 "
           "multiple-document-handling=separate-documents-uncollated-copies"
        << true << "portrait"
        << "true" << 2 << 1 << 148.0 << 210.0 << 1 << 0 << "a b";
    QTest::newRow("IPP grey, media list with Legal, copies out of range")
        << "legal"
        << "0"
        << "print-color-mode=monochrome media=na_legal_8.5x14in,tray-1 collate=false" << false << "portrait"
        << "false" << 0 << 1 << 215.9 << 355.6 << 1 << 0 << "legal";
    QTest::newRow("landscape pages: the paper turned with them")
        << "slides"
        << "1"
        << "PageSize=A4" << false << "landscape"
        << "true" << 0 << 1 << 297.0 << 210.0 << 2 << 1 << "slides";
    // CUPS puts "Untitled" in place of a job name over 255 bytes; the program wrote its own into the PDF.
    QTest::newRow("name too long for CUPS: the document's title before the file's name, shortened")
        << "Untitled"
        << "1"
        << "document-name-supplied=qt_tempAb12Cd" << true << "titled"
        << "true" << 0 << 1 << 210.0 << 297.0 << 1 << 1 << longTitle().left(251) + QStringLiteral(".pdf");
}

void TestCups::backendFilesTheJob()
{
    QFETCH(QString, title);
    QFETCH(QString, copies);
    QFETCH(QString, options);
    QFETCH(bool, fromFile);
    QFETCH(QString, pages);

    const QByteArray pdf = document(pages);
    const QString spool = m_base->filePath(QStringLiteral("d00042-001"));
    QVERIFY(writeFile(spool, pdf));
    QFile::setPermissions(spool, QFile::ReadOwner | QFile::WriteOwner); // as CUPS keeps its spool files
    const Result result = fromFile ? runBackend(m_user, { title, copies, options, spool })
                                   : runBackend(m_user, { title, copies, options }, pdf);
    QVERIFY2(result.exitCode == 0, result.err.constData());

    // One job, owned by the printing user and private to it, in folders private to it.
    const QStringList files = entries(jobFolder());
    QCOMPARE(files.size(), 2);
    const QString base = files.first();
    QCOMPARE(files.last(), base + QStringLiteral(".pdf"));
    const QStringList paths { m_home + QStringLiteral("/halcyraclient"), jobFolder(), jobFolder() + '/' + base,
                              jobFolder() + '/' + base + QStringLiteral(".pdf") };
    for (const QString& path : paths) {
        struct stat info;
        QVERIFY(::lstat(QFile::encodeName(path).constData(), &info) == 0);
        QVERIFY2(info.st_uid == m_uid && info.st_gid == m_gid, qPrintable(path));
        QCOMPARE(info.st_mode & 07777, S_ISDIR(info.st_mode) ? 0700u : 0600u);
    }
    QCOMPARE(TestHome::fileContents(jobFolder() + '/' + base + QStringLiteral(".pdf")), pdf);

    const KsJobParam job = readJob(jobFolder() + '/' + base + QStringLiteral(".pdf"));
    QVERIFY(job.isValid);
    QTEST(job.color, "color");
    QTEST(job.duplexMode, "duplex");
    QTEST(job.copies, "copyCount");
    QTEST(job.pageWidth, "width");
    QTEST(job.pageHeight, "height");
    QTEST(job.orientation, "orientation");
    QTEST(job.collate, "collate");
    QTEST(job.docName, "docName");
    QCOMPARE(job.documentPages, 2);
}

void TestCups::backendRefusesHostileSetups_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("user"); // the test user, "unknown" or "root"
    QTest::addColumn<QString>("auth"); // see runBackend
    QTest::addColumn<QString>("error"); // empty: the job is filed in ksprinter after all

    QTest::newRow("unknown user") << ""
                                  << "unknown"
                                  << "cups"
                                  << "ERROR: unknown user";
    QTest::newRow("job folder a link to a system folder") << "jobLink"
                                                          << ""
                                                          << "cups"
                                                          << "is not a plain directory";
    QTest::newRow("data folder a link to a system folder") << "dataLink"
                                                           << ""
                                                           << "cups"
                                                           << "is not a plain directory";
    QTest::newRow("job folder owned by root") << "jobRoot"
                                              << ""
                                              << "cups"
                                              << "not a directory owned by the printing user";
    QTest::newRow("job folder a file") << "jobFile"
                                       << ""
                                       << "cups"
                                       << "is not a plain directory";
    QTest::newRow("home owned by root") << "homeRoot"
                                        << ""
                                        << "cups"
                                        << "cannot be used";
    QTest::newRow("not a PDF") << "text"
                               << ""
                               << "cups"
                               << "ERROR: the document is not a PDF file";
    QTest::newRow("Job/Path leading out of the data folder") << "pathOut"
                                                             << ""
                                                             << "cups"
                                                             << "";
    QTest::newRow("settings file a link") << "iniLink"
                                          << ""
                                          << "cups"
                                          << "";
    QTest::newRow("submitted by another user under this name") << ""
                                                               << ""
                                                               << "other"
                                                               << "another user printed it under that name";
    QTest::newRow("queue without the authenticated policy") << ""
                                                            << ""
                                                            << "none"
                                                            << "CUPS did not authenticate";
    QTest::newRow("user name typed for the device") << ""
                                                    << ""
                                                    << "typed"
                                                    << "CUPS did not authenticate";
    QTest::newRow("root without a client of its own") << ""
                                                      << "root"
                                                      << "cups"
                                                      << "jobs printed as root";
    QTest::newRow("temporaries an hour old removed, fresh ones kept") << "stale"
                                                                      << ""
                                                                      << "cups"
                                                                      << "";
}

void TestCups::backendRefusesHostileSetups()
{
    QFETCH(QString, setup);
    QFETCH(QString, user);
    QFETCH(QString, auth);
    QFETCH(QString, error);
    const QString rootSettings = QStringLiteral("/root/halcyraclient/halcyraclient.ini");
    if (user == QLatin1String("root") && QFileInfo::exists(rootSettings)) {
        QSKIP("root has a client of its own on this machine");
    }
    const QStringList rootDataBefore = entries(QStringLiteral("/root/halcyraclient"));

    const QString data = m_home + QStringLiteral("/halcyraclient");
    const QByteArray dataPath = QFile::encodeName(data);
    auto asUser
        = [this](const QString& path) { return ::chown(QFile::encodeName(path).constData(), m_uid, m_gid) == 0; };
    QByteArray input = m_pdf;
    if (setup == QLatin1String("dataLink")) {
        QVERIFY(QFile::link(m_system, data));
        QVERIFY(::lchown(dataPath.constData(), m_uid, m_gid) == 0);
    } else if (setup != QLatin1String("homeRoot") && !setup.isEmpty()) {
        QVERIFY(QDir().mkpath(data) && asUser(data));
    }
    if (setup == QLatin1String("jobLink")) {
        QVERIFY(QFile::link(m_system, jobFolder()));
        QVERIFY(::lchown(QFile::encodeName(jobFolder()).constData(), m_uid, m_gid) == 0);
    } else if (setup == QLatin1String("jobRoot")) {
        QVERIFY(QDir().mkpath(jobFolder()));
        QVERIFY(::chmod(QFile::encodeName(jobFolder()).constData(), 0777) == 0);
    } else if (setup == QLatin1String("jobFile")) {
        QVERIFY(writeFile(jobFolder(), "not a folder") && asUser(jobFolder()));
    } else if (setup == QLatin1String("homeRoot")) {
        QVERIFY(::chown(QFile::encodeName(m_home).constData(), 0, 0) == 0);
        QVERIFY(::chmod(QFile::encodeName(m_home).constData(), 0777) == 0);
    } else if (setup == QLatin1String("text")) {
        input = "Dear printer,\nplease print this.\n";
    } else if (setup == QLatin1String("pathOut")) {
        QVERIFY(writeFile(data + QStringLiteral("/halcyraclient.ini"), "[Job]\nPath=../../system\n"));
        QVERIFY(asUser(data + QStringLiteral("/halcyraclient.ini")));
    } else if (setup == QLatin1String("iniLink")) {
        QVERIFY(writeFile(m_system + QStringLiteral("/halcyraclient.ini"), "[Job]\nPath=out\n"));
        QVERIFY(
            QFile::link(m_system + QStringLiteral("/halcyraclient.ini"), data + QStringLiteral("/halcyraclient.ini")));
        QVERIFY(::symlink("../system", qPrintable(data + QStringLiteral("/out"))) == 0);
    } else if (setup == QLatin1String("stale")) {
        // Left by backends killed mid-copy, and one at work right now.
        QVERIFY(QDir().mkpath(jobFolder()) && asUser(jobFolder()));
        for (const char* name : { ".job-1.pdf.part", ".job-1.part", ".job-2.pdf.part" }) {
            const QString path = jobFolder() + QLatin1Char('/') + QLatin1String(name);
            QVERIFY(writeFile(path, "%PDF-1.4 half") && asUser(path));
            if (qstrcmp(name, ".job-2.pdf.part") != 0) {
                QFile file(path);
                QVERIFY(file.open(QIODevice::ReadWrite));
                QVERIFY(
                    file.setFileTime(QDateTime::currentDateTime().addSecs(-3700), QFileDevice::FileModificationTime));
            }
        }
    }
    const QStringList systemBefore = entries(m_system);

    const QString printing = user.isEmpty() ? m_user
        : user == QLatin1String("unknown")  ? QStringLiteral("kstest-nobody")
                                            : user;
    const Result result
        = runBackend(printing, { QStringLiteral("report"), QStringLiteral("1"), QString() }, input, auth);

    // Nothing reached the system folder, nor root's home.
    QCOMPARE(entries(m_system), systemBefore);
    QCOMPARE(entries(QStringLiteral("/root/halcyraclient")), rootDataBefore);
    if (error.isEmpty()) {
        QVERIFY2(result.exitCode == 0, result.err.constData());
        QStringList jobs = entries(jobFolder());
        if (setup == QLatin1String("stale")) {
            QVERIFY(jobs.removeOne(QStringLiteral(".job-2.pdf.part")));
        }
        QCOMPARE(jobs.size(), 2);
        QVERIFY(!jobs.first().startsWith(QLatin1Char('.')));
        return;
    }
    QCOMPARE(result.exitCode, 1); // CUPS_BACKEND_FAILED: the queue's error policy aborts the job
    QVERIFY2(result.err.startsWith("ERROR: ") && result.err.contains(error.toUtf8()), result.err.constData());
    if (QFileInfo(jobFolder()).isDir() && !QFileInfo(jobFolder()).isSymLink()) {
        QCOMPARE(entries(jobFolder()), QStringList());
    }
}

void TestCups::fullDiskLeavesNothing()
{
    const QByteArray size
        = "size=128k,mode=0700,uid=" + QByteArray::number(m_uid) + ",gid=" + QByteArray::number(m_gid);
    if (::mount("tmpfs", QFile::encodeName(m_home).constData(), "tmpfs", 0, size.constData()) != 0) {
        QSKIP(qPrintable(QStringLiteral("cannot mount a small file system here: %1").arg(qt_error_string(errno))));
    }
    m_mounted = true;
    QByteArray large = m_pdf;
    large.append(QByteArray(1 << 20, '\n'));

    const Result filed = runBackend(m_user, { QStringLiteral("report"), QStringLiteral("1"), QString() }, large);
    QCOMPARE(filed.exitCode, 1);
    QVERIFY2(filed.err.contains("ERROR: cannot write") && filed.err.contains("No space left on device"),
             filed.err.constData());
    QCOMPARE(entries(jobFolder()), QStringList());

    // kestrana-print shares the writer and names the same fault.
    const QString source = m_base->filePath(QStringLiteral("large.pdf"));
    QVERIFY(writeFile(source, large));
    const QString folder = m_home + QStringLiteral("/out");
    const Result printed
        = run(TestHome::binaryPath(QStringLiteral("kestrana-print")), { QStringLiteral("--folder"), folder, source });
    QCOMPARE(printed.exitCode, 1);
    QVERIFY2(printed.err.contains("No space left on device"), printed.err.constData());
    QCOMPARE(entries(folder), QStringList());
}

void TestCups::stoppedCopyLeavesNothing_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("error");

    // CUPS cancels a job with SIGTERM.
    QTest::newRow("cancelled by CUPS") << int(SIGTERM) << 5 << QByteArray("ERROR: cancelled"); // CUPS_BACKEND_CANCEL
    // The backend's own bound on how long a job may take: the queue is free for the next job after it.
    QTest::newRow("out of time") << int(SIGALRM) << 1
                                 << QByteArray("ERROR: the job is not filed: the document did not arrive within 60 "
                                               "minutes\nINFO:\n");
}

void TestCups::stoppedCopyLeavesNothing()
{
    QFETCH(int, signal);
    // Here while the backend is half way through the document.
    QProcess backend;
    QProcessEnvironment env;
    env.insert(QStringLiteral("DEVICE_URI"), QStringLiteral("kestrana:/"));
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    env.insert(QStringLiteral("AUTH_UID"), QString::number(m_uid));
    env.insert(QStringLiteral("AUTH_USERNAME"), m_user);
    backend.setProcessEnvironment(env);
    backend.start(TestHome::binaryPath(QStringLiteral("cups-backend/kestrana")),
                  { QStringLiteral("43"), m_user, QStringLiteral("report"), QStringLiteral("1"), QString() });
    QVERIFY(backend.waitForStarted(30000));
    backend.write(m_pdf.left(m_pdf.size() / 2));
    QVERIFY(backend.waitForBytesWritten(30000));
    QTRY_COMPARE_WITH_TIMEOUT(entries(jobFolder()).size(), 1, 30000);
    QVERIFY(entries(jobFolder()).first().startsWith(QLatin1Char('.')));
    QVERIFY(::kill(static_cast<pid_t>(backend.processId()), signal) == 0);
    QVERIFY(backend.waitForFinished(30000));
    QCOMPARE(backend.exitStatus(), QProcess::NormalExit);
    QTEST(backend.exitCode(), "exitCode");
    QFETCH(QByteArray, error);
    QVERIFY2(backend.readAllStandardError().contains(error), error.constData());
    QCOMPARE(entries(jobFolder()), QStringList());
}

void TestCups::linkAtTheTemporaryNameIsNotFollowed()
{
    const QString folder = m_home + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(folder));
    const QString victim = m_system + QStringLiteral("/passwd");
    QVERIFY(writeFile(victim, "root:x:0:0\n"));
    QVERIFY(QFile::link(victim, folder + QStringLiteral("/.j1.pdf.part")));
    QVERIFY(QFile::link(victim, folder + QStringLiteral("/.j1.part")));
    const QString source = m_base->filePath(QStringLiteral("report.pdf"));
    QVERIFY(writeFile(source, m_pdf));

    const Result printed
        = run(TestHome::binaryPath(QStringLiteral("kestrana-print")),
              { QStringLiteral("--folder"), folder, QStringLiteral("--job"), QStringLiteral("j1"), source });
    QVERIFY2(printed.exitCode == 0, printed.err.constData());
    QCOMPARE(TestHome::fileContents(victim), QByteArray("root:x:0:0\n"));
    QCOMPARE(TestHome::fileContents(folder + QStringLiteral("/j1.pdf")), m_pdf);
    QCOMPARE(entries(folder), (QStringList { ".j1.part", ".j1.pdf.part", "j1", "j1.pdf" }));
}

QProcessEnvironment TestCups::cupsEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CUPS_SERVER"), m_cupsDir + QStringLiteral("/run/cups.sock"));
    env.remove(QStringLiteral("HOME")); // lp as another user reads no options of root's
    return env;
}

QString TestCups::startCupsd()
{
    const QStringList sbin { QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin") };
    const QString cupsd = QStandardPaths::findExecutable(QStringLiteral("cupsd"), sbin);
    if (cupsd.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("lpadmin"), sbin).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("lp")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty()) {
        return QStringLiteral("cupsd, lpadmin, lp or setpriv is not installed (scripts/install-deps installs them)");
    }
    if (m_cupsDir.isEmpty()) {
        // A system of its own, laid out as the package's scripts find it under DPKG_ROOT: configuration in etc/cups,
        // the backend as installed (0700) among the system's filters in usr/lib/cups, the PPD in usr/share/ppd.
        m_cupsDir = m_base->filePath(QStringLiteral("cups"));
        for (const char* sub : { "etc/cups", "spool/tmp", "var/cache/cups", "state", "log", "run",
                                 "usr/lib/cups/backend", "usr/share/ppd/halcyraclient" }) {
            QDir().mkpath(m_cupsDir + QLatin1Char('/') + QLatin1String(sub));
        }
        for (const char* sub : { "filter", "daemon", "cgi-bin", "monitor", "notifier" }) {
            QFile::link(QStringLiteral("/usr/lib/cups/") + QLatin1String(sub),
                        m_cupsDir + QStringLiteral("/usr/lib/cups/") + sub);
        }
        const QString backend = m_cupsDir + QStringLiteral("/usr/lib/cups/backend/kestrana");
        if (!QFile::copy(TestHome::binaryPath(QStringLiteral("cups-backend/kestrana")), backend)
            || ::chmod(QFile::encodeName(backend).constData(), 0700) != 0
            || !QFile::copy(QStringLiteral(HALCYRA_SOURCE_DIR "/packaging/cups/kestrana.ppd"),
                            m_cupsDir + QStringLiteral("/usr/share/ppd/halcyraclient/kestrana.ppd"))) {
            return QStringLiteral("cannot install the backend and the PPD for cupsd");
        }
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost)) {
            return QStringLiteral("no free port");
        }
        const quint16 port = probe.serverPort();
        probe.close();
        const QString files
            = QStringLiteral(
                  "ServerRoot %1/etc/cups\nServerBin %1/usr/lib/cups\nRequestRoot %1/spool\n"
                  "TempDir %1/spool/tmp\nCacheDir %1/var/cache/cups\nStateDir %1/state\nErrorLog %1/log/error_log\n"
                  "AccessLog %1/log/access_log\nPageLog %1/log/page_log\nSystemGroup root\n")
                  .arg(m_cupsDir);
        // Debian's authenticated policy: printing needs a user CUPS has authenticated (a local one by the
        // socket's credentials); administration stays open here.
        const QString conf
            = QStringLiteral("LogLevel debug\nListen 127.0.0.1:%1\nListen %2/run/cups.sock\nBrowsing Off\n"
                             "WebInterface No\nDefaultAuthType Basic\nSetEnv ASAN_OPTIONS detect_leaks=0\n"
                             "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                             "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n"
                             "<Policy authenticated>\n"
                             "  <Limit Create-Job Print-Job Print-URI Validate-Job>\n    AuthType Default\n"
                             "    Order deny,allow\n  </Limit>\n"
                             "  <Limit Send-Document Send-URI Cancel-Job Hold-Job Release-Job Set-Job-Attributes "
                             "Close-Job>\n    AuthType Default\n    Require user @OWNER @SYSTEM\n"
                             "    Order deny,allow\n  </Limit>\n"
                             "  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n")
                  .arg(port)
                  .arg(m_cupsDir);
        if (!writeFile(m_cupsDir + QStringLiteral("/etc/cups/cups-files.conf"), files.toUtf8())
            || !writeFile(m_cupsDir + QStringLiteral("/etc/cups/cupsd.conf"), conf.toUtf8())) {
            return QStringLiteral("cannot write the cupsd configuration");
        }
    }
    m_cupsd.setProcessChannelMode(QProcess::MergedChannels);
    m_cupsd.start(cupsd,
                  { QStringLiteral("-f"), QStringLiteral("-c"), m_cupsDir + QStringLiteral("/etc/cups/cupsd.conf"),
                    QStringLiteral("-s"), m_cupsDir + QStringLiteral("/etc/cups/cups-files.conf") });
    if (!m_cupsd.waitForStarted(30000)) {
        return QStringLiteral("cupsd does not start: ") + m_cupsd.errorString();
    }
    for (int attempt = 0; attempt < 150; ++attempt) {
        QProcess status;
        status.setProcessEnvironment(cupsEnvironment());
        status.start(QStringLiteral("lpstat"), { QStringLiteral("-r") });
        status.waitForFinished(30000);
        if (status.readAllStandardOutput().contains("scheduler is running")) {
            return QString();
        }
        if (m_cupsd.state() == QProcess::NotRunning) {
            return QStringLiteral("cupsd stopped: ") + QString::fromLocal8Bit(m_cupsd.readAll())
                + QString::fromLocal8Bit(
                       TestHome::fileContents(m_cupsDir + QStringLiteral("/log/error_log")).right(2000));
        }
        QTest::qWait(200);
    }
    return QStringLiteral("cupsd does not answer on its socket");
}

void TestCups::stopCupsd()
{
    if (m_cupsd.state() != QProcess::NotRunning) {
        m_cupsd.terminate();
        m_cupsd.waitForFinished(30000);
    }
}

Result TestCups::runPackageScript(const QString& script, const QString& action)
{
    QProcessEnvironment env = cupsEnvironment();
    env.insert(QStringLiteral("DPKG_ROOT"), m_cupsDir);
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    return run(QStringLiteral("/bin/sh"), { QStringLiteral(HALCYRA_SOURCE_DIR "/packaging/cups/") + script, action },
               QByteArray(), env);
}

QString TestCups::filedPdf()
{
    // Done once the PDF is in place: it comes last.
    auto done = [this] {
        const QStringList files = entries(jobFolder());
        return files.size() == 2 && files.last().endsWith(QLatin1String(".pdf"));
    };
    return QTest::qWaitFor(done, 120000) ? jobFolder() + QLatin1Char('/') + entries(jobFolder()).last() : QString();
}

void TestCups::printThroughCups()
{
    const QString failure = startCupsd();
    if (!failure.isEmpty()) {
        QSKIP(qPrintable(QStringLiteral("no private cupsd: %1").arg(failure)));
    }
    // The queue as the package adds it: no job holds it for more than five minutes.
    const Result added = runPackageScript(QStringLiteral("postinst"), QStringLiteral("configure"));
    QVERIFY2(added.exitCode == 0 && added.out.contains("The printer Kestrana is ready"),
             QByteArray(added.out + added.err).constData());
    QCOMPARE(cancelAfter(), QStringLiteral("300"));

    const QString pdf = m_base->filePath(QStringLiteral("Quarterly report.pdf"));
    QVERIFY(writeFile(pdf, m_pdf));
    QVERIFY(::chmod(QFile::encodeName(pdf).constData(), 0644) == 0);
    const Result printed
        = runAs(m_uid, m_gid, QStringLiteral("lp"),
                { QStringLiteral("-d"), QStringLiteral("Kestrana"), QStringLiteral("-o"),
                  QStringLiteral("sides=two-sided-long-edge"), QStringLiteral("-o"), QStringLiteral("ColorModel=Gray"),
                  QStringLiteral("-n"), QStringLiteral("2"), QStringLiteral("-o"), QStringLiteral("media=A3"), pdf },
                cupsEnvironment());
    QVERIFY2(printed.exitCode == 0, printed.err.constData());

    const QString jobPdf = filedPdf();
    QVERIFY2(!jobPdf.isEmpty(),
             TestHome::fileContents(m_cupsDir + QStringLiteral("/log/error_log")).right(3000).constData());
    QCOMPARE(QFileInfo(jobPdf).ownerId(), m_uid);
    const QByteArray filed = TestHome::fileContents(jobPdf);
    QVERIFY(filed.startsWith("%PDF-"));
    const KsJobParam job = readJob(jobPdf);
    QVERIFY(job.isValid);
    QCOMPARE(job.copies, 2);
    QCOMPARE(job.duplexMode, 1);
    QCOMPARE(job.color, QStringLiteral("false"));
    QCOMPARE(job.pageWidth, 297.0);
    QCOMPARE(job.pageHeight, 420.0);
    QCOMPARE(job.docName, QStringLiteral("Quarterly report.pdf"));
    QCOMPARE(job.documentPages, 2);

    // The client, logged in as alice in that user's home, finds the job waiting and sends it.
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(m_home));
    LoginInfo* info = Singleton<LoginInfo>::getInstance();
    {
        AsUser asUser(m_uid, m_gid);
        QCOMPARE(info->loadFromFile(), 0);
    }
    info->setKsServerUrl(m_server->httpUrl());
    info->setUserName(QStringLiteral("alice"));
    {
        AsUser asUser(m_uid, m_gid);
        QVERIFY(asUser.active());
        MessageStore store(QStringLiteral("cups"));
        QVERIFY(store.checkDb());
        ScriptedJobHost host;
        host.server = m_server->httpUrl();
        host.options = JobOptions::fromSettings(*Singleton<LoginInfo>::getInstance());
        host.store = &store;
        JobQueue queue(&host);
        host.listen(&queue);
        QVERIFY(queue.initJobControlOption());
        QCOMPARE(queue.jobPath(), jobFolder());
        queue.initialCheck4JobPath();
        queue.stopJobTimer();
    }
    qputenv("HOME", oldHome);

    QList<FakeKestranaState::Job> confirmed;
    for (const FakeKestranaState::Job& sent : m_server->state().jobs) {
        if (sent.confirmed) {
            confirmed << sent;
        }
    }
    QCOMPARE(confirmed.size(), 1);
    QVERIFY(confirmed.first().uploaded == filed);
    QCOMPARE(confirmed.first().announce.value(QStringLiteral("Copies")), QStringLiteral("2"));
    QCOMPARE(entries(jobFolder()), QStringList());
}

void TestCups::cupsFilesOnlyTheUsersOwnJobs_data()
{
    QTest::addColumn<QString>("who"); // "self", "other" (another user) or "root"
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("pages"); // see document()
    QTest::addColumn<QString>("color"); // empty: refused, nothing filed
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QString>("docName");

    QTest::newRow("own job, no colour option: colour") << "self" << QStringList() << "portrait"
                                                       << "true" << 1 << "Report.pdf";
    QTest::newRow("another user gives this user's name (lp -U): refused")
        << "other" << QStringList { QStringLiteral("-U"), m_user } << "portrait"
        << "" << 0 << "";
    // Refused by the backend: the reason stays with the job, not on the printer's status line for everyone.
    QTest::newRow("root without a client of its own: refused") << "root" << QStringList() << "portrait"
                                                               << "" << 0 << "";
    // What a Qt program does: the document's name as the job's name and in the PDF.
    QTest::newRow("name of 300 characters: shortened")
        << "self" << QStringList { QStringLiteral("-t"), longTitle() } << "titled"
        << "true" << 1 << longTitle().left(251) + QStringLiteral(".pdf");
    QTest::newRow("name of 300 characters, none in the PDF: the file's name")
        << "self" << QStringList { QStringLiteral("-t"), longTitle() } << "portrait"
        << "true" << 1 << "Report.pdf";
    QTest::newRow("landscape: pages come turned on the paper")
        << "self" << QStringList { QStringLiteral("-o"), QStringLiteral("landscape") } << "portrait"
        << "true" << 1 << "Report.pdf";
    QTest::newRow("two pages per sheet") << "self"
                                         << QStringList { QStringLiteral("-o"), QStringLiteral("number-up=2") }
                                         << "portrait"
                                         << "true" << 1 << "Report.pdf";
}

void TestCups::cupsFilesOnlyTheUsersOwnJobs()
{
    QFETCH(QString, who);
    QFETCH(QStringList, options);
    QFETCH(QString, pages);
    QFETCH(QString, color);
    if (m_cupsd.state() != QProcess::Running) {
        QSKIP("no private cupsd");
    }
    if (who == QLatin1String("root") && QFileInfo::exists(QStringLiteral("/root/halcyraclient/halcyraclient.ini"))) {
        QSKIP("root has a client of its own on this machine");
    }
    const QString pdf = m_base->filePath(QStringLiteral("Report.pdf"));
    QVERIFY(writeFile(pdf, document(pages)));
    QVERIFY(::chmod(QFile::encodeName(pdf).constData(), 0644) == 0);
    const QStringList args
        = QStringList { QStringLiteral("-d"), QStringLiteral("Kestrana") } + options + QStringList { pdf };
    const Result printed = who == QLatin1String("other")
        ? runAs(UnprivilegedScope::kUid, UnprivilegedScope::kGid, QStringLiteral("lp"), args, cupsEnvironment())
        : who == QLatin1String("root") ? cupsTool(QStringLiteral("lp"), args)
                                       : runAs(m_uid, m_gid, QStringLiteral("lp"), args, cupsEnvironment());

    if (who == QLatin1String("root")) {
        QVERIFY2(printed.exitCode == 0, printed.err.constData());
        const QString log = m_cupsDir + QStringLiteral("/log/error_log");
        QTRY_VERIFY_WITH_TIMEOUT(
            cupsTool(QStringLiteral("lpstat"), { QStringLiteral("-o"), QStringLiteral("Kestrana") }).out.isEmpty(),
            120000);
        QVERIFY(TestHome::fileContents(log).contains("jobs printed as root are not filed"));
        const Result status = cupsTool(QStringLiteral("lpstat"),
                                       { QStringLiteral("-l"), QStringLiteral("-p"), QStringLiteral("Kestrana") });
        QVERIFY2(status.exitCode == 0 && status.out.startsWith("printer Kestrana is idle")
                     && !status.out.contains("not filed"),
                 status.out.constData());
        return;
    }
    if (color.isEmpty()) {
        // CUPS asks who is printing, and the local socket tells it: not the user named.
        QVERIFY2(printed.exitCode != 0 && !printed.out.contains("request id"), printed.out.constData());
        QVERIFY(!QFileInfo::exists(jobFolder()));
        return;
    }
    QVERIFY2(printed.exitCode == 0, printed.err.constData());
    const QString jobPdf = filedPdf();
    QVERIFY2(!jobPdf.isEmpty(),
             TestHome::fileContents(m_cupsDir + QStringLiteral("/log/error_log")).right(3000).constData());
    const KsJobParam job = readJob(jobPdf);
    QVERIFY(job.isValid);
    QCOMPARE(job.color, color);
    QTEST(job.docName, "docName");
    QTEST(job.orientation, "orientation");
    // The job says what a release printer finds: the paper and orientation of the pages as filed.
    const QSizeF shown = shownPageSize(jobPdf);
    QVERIFY(!shown.isEmpty());
    QCOMPARE(job.orientation == 2, shown.width() > shown.height());
    QCOMPARE(job.pageWidth > job.pageHeight, shown.width() > shown.height());
    QCOMPARE(qMin(job.pageWidth, job.pageHeight), 210.0);
}

Result TestCups::cupsTool(const QString& tool, const QStringList& args) const
{
    QProcessEnvironment env = cupsEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    return run(tool, args, QByteArray(), env);
}

QString TestCups::cancelAfter() const
{
    const Result options = cupsTool(QStringLiteral("lpoptions"), { QStringLiteral("-p"), QStringLiteral("Kestrana") });
    for (const QByteArray& option : options.out.trimmed().split(' ')) {
        if (option.startsWith("job-cancel-after=")) {
            return QString::fromLatin1(option.mid(17));
        }
    }
    return QString();
}

void TestCups::runawayJobDoesNotHoldTheQueue()
{
    if (m_cupsd.state() != QProcess::Running) {
        QSKIP("no private cupsd");
    }
    // A short bound for the test; the package's is five minutes.
    QCOMPARE(cupsTool(QStringLiteral("lpadmin"),
                      { QStringLiteral("-p"), QStringLiteral("Kestrana"), QStringLiteral("-o"),
                        QStringLiteral("job-cancel-after-default=5") })
                 .exitCode,
             0);
    // PostScript that never ends: CUPS's converter runs until CUPS cancels the job.
    const QString loop = m_base->filePath(QStringLiteral("loop.ps"));
    QVERIFY(writeFile(loop, "%!PS\n{ 1 pop } loop\n"));
    QVERIFY(::chmod(QFile::encodeName(loop).constData(), 0644) == 0);
    const Result looping = runAs(UnprivilegedScope::kUid, UnprivilegedScope::kGid, QStringLiteral("lp"),
                                 { QStringLiteral("-d"), QStringLiteral("Kestrana"), loop }, cupsEnvironment());
    QVERIFY2(looping.exitCode == 0, looping.err.constData());
    const QString pdf = m_base->filePath(QStringLiteral("Report.pdf"));
    QVERIFY(writeFile(pdf, m_pdf));
    QVERIFY(::chmod(QFile::encodeName(pdf).constData(), 0644) == 0);
    const Result next = runAs(m_uid, m_gid, QStringLiteral("lp"),
                              { QStringLiteral("-d"), QStringLiteral("Kestrana"), pdf }, cupsEnvironment());
    QVERIFY2(next.exitCode == 0, next.err.constData());

    // The next user's job is filed (CUPS's own default would hold it for three hours), the runaway one cancelled.
    QVERIFY2(!filedPdf().isEmpty(),
             TestHome::fileContents(m_cupsDir + QStringLiteral("/log/error_log")).right(3000).constData());
    const QByteArray id = looping.out.mid(looping.out.indexOf("Kestrana-")).split(' ').first();
    const Result done = cupsTool(
        QStringLiteral("lpstat"),
        { QStringLiteral("-W"), QStringLiteral("completed"), QStringLiteral("-o"), QStringLiteral("Kestrana") });
    QVERIFY2(done.out.contains(id), done.out.constData());
    QVERIFY(cupsTool(QStringLiteral("lpstat"), { QStringLiteral("-o"), QStringLiteral("Kestrana") }).out.isEmpty());

    // An upgrade keeps a bound the administrator chose and replaces CUPS's three-hour default.
    QVERIFY(runPackageScript(QStringLiteral("postinst"), QStringLiteral("configure")).exitCode == 0);
    QCOMPARE(cancelAfter(), QStringLiteral("5"));
    QCOMPARE(cupsTool(QStringLiteral("lpadmin"),
                      { QStringLiteral("-p"), QStringLiteral("Kestrana"), QStringLiteral("-o"),
                        QStringLiteral("job-cancel-after-default=10800") })
                 .exitCode,
             0);
    QVERIFY(runPackageScript(QStringLiteral("postinst"), QStringLiteral("configure")).exitCode == 0);
    QCOMPARE(cancelAfter(), QStringLiteral("300"));
}

void TestCups::packageScriptsLeaveNoAcceptingQueue_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("cupsRunning");
    QTest::addColumn<bool>("defaultPrinter");

    QTest::newRow("remove, CUPS running") << "remove" << true << false;
    QTest::newRow("remove, CUPS stopped") << "remove" << false << false;
    QTest::newRow("purge, CUPS running") << "purge" << true << false;
    QTest::newRow("purge, CUPS stopped, Kestrana the default printer") << "purge" << false << true;
}

void TestCups::packageScriptsLeaveNoAcceptingQueue()
{
    QFETCH(QString, action);
    QFETCH(bool, cupsRunning);
    QFETCH(bool, defaultPrinter);
    if (m_cupsDir.isEmpty()) {
        QSKIP("no private cupsd");
    }
    if (m_cupsd.state() != QProcess::Running) {
        const QString failure = startCupsd();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
    auto lpstat = [this](const QStringList& args) {
        QProcessEnvironment env = cupsEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        return run(QStringLiteral("lpstat"), args, QByteArray(), env);
    };
    // Another printer of the site, which must come through untouched.
    const Result other = run(QStringLiteral("lpadmin"),
                             { QStringLiteral("-p"), QStringLiteral("Other"), QStringLiteral("-E"),
                               QStringLiteral("-v"), QStringLiteral("kestrana:/other") },
                             QByteArray(), cupsEnvironment());
    QVERIFY2(other.exitCode == 0, other.err.constData());
    const Result added = runPackageScript(QStringLiteral("postinst"), QStringLiteral("configure"));
    QVERIFY2(added.exitCode == 0 && added.out.contains("ready"), QByteArray(added.out + added.err).constData());
    QVERIFY(lpstat({ QStringLiteral("-a"), QStringLiteral("Kestrana") }).out.startsWith("Kestrana accepting"));
    if (defaultPrinter) {
        QCOMPARE(run(QStringLiteral("lpadmin"), { QStringLiteral("-d"), QStringLiteral("Kestrana") }, QByteArray(),
                     cupsEnvironment())
                     .exitCode,
                 0);
    }
    if (!cupsRunning) {
        stopCupsd();
        QVERIFY(TestHome::fileContents(m_cupsDir + QStringLiteral("/etc/cups/printers.conf"))
                    .contains("Printer Kestrana>"));
    }

    // What CUPS keeps of the queue in its cache goes with it.
    const QString cache = m_cupsDir + QStringLiteral("/var/cache/cups/Kestrana");
    QVERIFY(QFileInfo::exists(cache + QStringLiteral(".data")));
    const Result removed = runPackageScript(QStringLiteral("postrm"), action);
    QVERIFY2(removed.exitCode == 0 && removed.out.contains("Removed the printer Kestrana"),
             QByteArray(removed.out + removed.err).constData());

    if (!cupsRunning) {
        const QString failure = startCupsd();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
    QVERIFY(!lpstat({ QStringLiteral("-a") }).out.contains("Kestrana accepting"));
    QVERIFY(lpstat({ QStringLiteral("-p"), QStringLiteral("Kestrana") }).exitCode != 0);
    QVERIFY(lpstat({ QStringLiteral("-a"), QStringLiteral("Other") }).out.startsWith("Other accepting"));
    QVERIFY(!QFileInfo::exists(cache + QStringLiteral(".data")));
    QVERIFY(!QFileInfo::exists(cache + QStringLiteral(".strings")));
}

QTEST_MAIN(TestCups)
#include "tst_cups.moc"
