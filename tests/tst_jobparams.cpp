#include "FakeKestranaServer.h"
#include "PdfMaker.h"
#include "ScriptedJobHost.h"
#include "ServerStates.h"
#include "TestHome.h"
#include "UnprivilegedScope.h"
#include "api/KsKit.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "jobs/HostAddresses.h"
#include "jobs/JobParamReader.h"
#include "jobs/JobQueue.h"
#include "jobs/PrintJob.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QScopeGuard>
#include <QtTest>

#include <algorithm>
#include <sys/stat.h>

// Parameter files as the virtual printer writes them, read into the job record.
class TestJobParams : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void keyTable_data();
    void keyTable();
    void successiveFilesOfOneSize();
    void nothingInTheSharedTemporaryFolder();
    void documentName_data();
    void documentName();
    void pageCount_data();
    void pageCount();
    void unreadableTrigger();
    void computerIp_data();
    void computerIp();
    void hostFacts();
    void noCardChoice_data();
    void noCardChoice();

private:
    QString folder() const { return m_home->path() + QStringLiteral("/jobs"); }
    void writeFile(const QString& name, const QByteArray& data);
    KsJobParam read(const QString& trigger);

    QScopedPointer<TestHome> m_home;
    QScopedPointer<FakeKestranaServer> m_server;
    ScriptedJobHost m_host;
};

void TestJobParams::initTestCase()
{
    qputenv("USER", "tester");
}

void TestJobParams::init()
{
    m_home.reset(new TestHome());
    QVERIFY(QDir().mkpath(folder()));
    m_server.reset(new FakeKestranaServer(ServerStates::plainSample()));
    QVERIFY(m_server->start());
    Singleton<LoginInfo>::getInstance()->setKsServerUrl(m_server->httpUrl());
    m_host = ScriptedJobHost();
    m_host.options.keepUnsentJobs = false; // off: a job dropped when the server goes away
    m_host.server = m_server->httpUrl();
    m_host.account = QStringLiteral("alice");
}

void TestJobParams::cleanup()
{
    m_server.reset();
    m_home.reset();
}

void TestJobParams::writeFile(const QString& name, const QByteArray& data)
{
    QFile file(folder() + QLatin1Char('/') + name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), qint64(data.size()));
}

KsJobParam TestJobParams::read(const QString& trigger)
{
    JobParamReader reader(&m_host);
    return reader.parseJobParamFileLinux(folder() + QLatin1Char('/') + trigger, trigger);
}

void TestJobParams::keyTable_data()
{
    QTest::addColumn<QByteArray>("ini"); // null: no parameter file at all
    QTest::addColumn<QString>("color");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<int>("collate");
    QTest::addColumn<int>("duplex");
    QTest::addColumn<int>("copies");
    QTest::addColumn<int>("orientation");

    QTest::newRow("no parameter file") << QByteArray() << "false" << 210.0 << 210.0 << 1 << 1 << 1 << 1;
    QTest::newRow("empty parameter file") << QByteArray("") << "false" << 210.0 << 210.0 << 1 << 1 << 1 << 1;
    QTest::newRow("colour from the second key")
        << QByteArray("[AppPara]\nColor=-1\n[PrintPara]\nColor=1\n") << "true" << 210.0 << 210.0 << 1 << 1 << 1 << 1;
    QTest::newRow("first colour key wins unless -1")
        << QByteArray("[AppPara]\nColor=2\n[PrintPara]\nColor=1\n") << "false" << 210.0 << 210.0 << 1 << 1 << 1 << 1;
    QTest::newRow("colour 1") << QByteArray("[AppPara]\nColor=1\n") << "true" << 210.0 << 210.0 << 1 << 1 << 1 << 1;
    QTest::newRow("A4 from the first keys")
        << QByteArray("[AppPara]\nPageWidth=2100\nPageHeight=2970\n") << "false" << 210.0 << 297.0 << 1 << 1 << 1 << 1;
    QTest::newRow("2104 and 2975 from the second keys") << QByteArray("[PrintPara]\nPageWidth=2104\nPageHeight=2975\n")
                                                        << "false" << 210.0 << 297.0 << 1 << 1 << 1 << 1;
    QTest::newRow("2975 in the first key is kept")
        << QByteArray("[AppPara]\nPageHeight=2975\n") << "false" << 210.0 << 297.5 << 1 << 1 << 1 << 1;
    QTest::newRow("letter") << QByteArray("[AppPara]\nPageWidth=-1\n[PrintPara]\nPageWidth=2159\nPageHeight=2794\n")
                            << "false" << 215.9 << 279.4 << 1 << 1 << 1 << 1;
    QTest::newRow("collate and duplex from the first keys")
        << QByteArray("[AppPara]\nCollate=0\nDuplexType=0\n[PrintPara]\nCollate=1\nDuplexType=2\n") << "false" << 210.0
        << 210.0 << 0 << 0 << 1 << 1;
    QTest::newRow("collate and duplex from the second keys")
        << QByteArray("[AppPara]\nCollate=-1\nDuplexType=-1\n[PrintPara]\nCollate=0\nDuplexType=2\n") << "false"
        << 210.0 << 210.0 << 0 << 2 << 1 << 1;
    QTest::newRow("larger copies: print")
        << QByteArray("[PrintPara]\nCopies=3\n[AppPara]\nCopies=2\n") << "false" << 210.0 << 210.0 << 1 << 1 << 3 << 1;
    QTest::newRow("larger copies: app") << QByteArray("[PrintPara]\nCopies=1\n[AppPara]\nCopies=5\n") << "false"
                                        << 210.0 << 210.0 << 1 << 1 << 5 << 1;
    QTest::newRow("orientation") << QByteArray("[AppPara]\nOrientation=2\n") << "false" << 210.0 << 210.0 << 1 << 1 << 1
                                 << 2;
    QTest::newRow("unparsable numbers read as 0")
        << QByteArray("[AppPara]\nColor=x\nPageWidth=wide\nCollate=y\nDuplexType=z\nCopies=many\nOrientation=up\n"
                      "[PrintPara]\nCopies=lots\n")
        << "false" << 0.0 << 210.0 << 0 << 0 << 0 << 0;
    QTest::newRow("CRLF lines") << QByteArray("[AppPara]\r\nColor=1\r\nCopies=4\r\n") << "true" << 210.0 << 210.0 << 1
                                << 1 << 4 << 1;
    // The file is parsed in memory; what QSettings makes of these is the measure.
    QTest::newRow("byte-order mark") << QByteArray("\xef\xbb\xbf[AppPara]\r\nColor=1\r\nCopies=3\r\n") << "true"
                                     << 210.0 << 210.0 << 1 << 1 << 3 << 1;
    QTest::newRow("quotes and escapes") << QByteArray("[AppPara]\nCopies=\"3\"\nOrientation=\\x32\nColor=\\061\n")
                                        << "true" << 210.0 << 210.0 << 1 << 1 << 3 << 2;
    QTest::newRow("comments, blanks, a semicolon ends the value")
        << QByteArray("; comment\n[AppPara]\n  Copies = 4 ; four\n  Orientation = \" 2 \"\n") << "false" << 210.0
        << 210.0 << 1 << 1 << 4 << 2;
    QTest::newRow("continued and quoted lines") << QByteArray("[AppPara]\nCopies=\\\n5\nOrientation=\"2\n\"\n")
                                                << "false" << 210.0 << 210.0 << 1 << 1 << 5 << 2;
    QTest::newRow("a value with a comma is a list, not a number")
        << QByteArray("[AppPara]\nCopies=3,4\nOrientation=\"3,4\"\n") << "false" << 210.0 << 210.0 << 1 << 1 << 1 << 0;
    QTest::newRow("repeated sections joined, the last repeated key wins")
        << QByteArray("[AppPara]\nCopies=2\n[PrintPara]\nCopies=1\n[AppPara]\nCopies=6\nColor=1\nColor=0\n") << "false"
        << 210.0 << 210.0 << 1 << 1 << 6 << 1;
    QTest::newRow("section names: case, escapes, blanks")
        << QByteArray("[apppara]\nCopies=9\n[App%50ara]\nOrientation=2\n[ PrintPara ]\nCopies=3\n") << "false" << 210.0
        << 210.0 << 1 << 1 << 3 << 2;
    QTest::newRow("a subsection sorted before the key hides the section")
        << QByteArray("[AppPara\\A]\nx=1\n[AppPara]\nColor=1\nCopies=2\n") << "false" << 210.0 << 210.0 << 1 << 1 << 1
        << 1;
    QTest::newRow("keys outside a section")
        << QByteArray("AppPara\\Copies=8\nAppPara/Orientation=2\n[PrintPara]\nCopies=2\n") << "false" << 210.0 << 210.0
        << 1 << 1 << 2 << 1;
    QTest::newRow("UTF-8 section and key names")
        << QByteArray("[PrintPara]\nCopies=2\n[\xc3\x84pp]\nCopies=7\n[AppPara]\nC\xc3\xb6pies=5\nOrientation=3\n")
        << "false" << 210.0 << 210.0 << 1 << 1 << 2 << 3;
    QTest::newRow("@-forms") << QByteArray(
        "[AppPara]\nCopies=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\nOrientation=@String(3)\n")
                             << "false" << 210.0 << 210.0 << 1 << 1 << 5 << 3;
    // A stored bitmap needs a GUI and aborts without one; a list that claims two billion entries exhausts memory.
    QTest::newRow("@Variant of any other type counts as absent")
        << QByteArray("[AppPara]\nCopies=@Variant(\\0\\0\\0I\\0\\xff\\xff\\xff\\xff)\nCopies=4\nColor=1\n"
                      "Color=@Variant(\\0\\0\\0\\t\\0\\x7f\\xff\\xff\\xff)\nOrientation=a,@Variant(\\0\\0\\0I)\n")
        << "false" << 210.0 << 210.0 << 1 << 1 << 4 << 1;
}

void TestJobParams::keyTable()
{
    QFETCH(QByteArray, ini);
    if (!ini.isNull()) {
        writeFile(QStringLiteral("job1"), ini);
    }
    writeFile(QStringLiteral("job1.pdf"), PdfMaker::make(1));

    const KsJobParam p = read(QStringLiteral("job1.pdf"));
    QVERIFY(p.isValid);
    QTEST(p.color, "color");
    QTEST(p.pageWidth, "width");
    QTEST(p.pageHeight, "height");
    QTEST(p.collate, "collate");
    QTEST(p.duplexMode, "duplex");
    QTEST(p.copies, "copies");
    QTEST(p.orientation, "orientation");
    QCOMPARE(p.fileType, QStringLiteral("pdf"));
    QCOMPARE(p.userAccount, QStringLiteral("alice"));
    QCOMPARE(p.jobFilePath, folder() + QStringLiteral("/job1.pdf"));
    QCOMPARE(p.documentPages, 1);
    QCOMPARE(p.securityLevel, 1);
    QVERIFY(p.controllerMac.isEmpty());
    QVERIFY(p.projectId.isEmpty());
}

void TestJobParams::successiveFilesOfOneSize()
{
    // Jobs follow each other within a millisecond and their files often have the same size: each read must
    // still see its own file, never the previous one's keys.
    for (int i = 0; i < 20; ++i) {
        const int copies = 1 + i % 9;
        KsJobParam p;
        JobParamReader::readKeys(QStringLiteral("[AppPara]\nColor=%1\nCopies=%2\n").arg(i % 2).arg(copies).toUtf8(),
                                 &p);
        QCOMPARE(p.color, i % 2 ? QStringLiteral("true") : QStringLiteral("false"));
        QCOMPARE(p.copies, copies);
    }
}

void TestJobParams::nothingInTheSharedTemporaryFolder()
{
    // The temporary folder is open to every user: another user's file or FIFO there must neither feed nor
    // block a job, and nothing of a job may be left there for another user to read or take over.
    const QString shared = m_home->path() + QStringLiteral("/shared-tmp");
    QVERIFY(QDir().mkpath(shared));
    QVERIFY(::chmod(QFile::encodeName(shared).constData(), 01777) == 0);
    QVERIFY(UnprivilegedScope::openToAll(QFile::encodeName(m_home->path()).constData()));
    const bool hadTmp = qEnvironmentVariableIsSet("TMPDIR");
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(shared));
    const auto restore = qScopeGuard([&] { hadTmp ? qputenv("TMPDIR", oldTmp) : qunsetenv("TMPDIR"); });
    QStringList planted;
    {
        UnprivilegedScope otherUser;
        for (const QString& name : { QStringLiteral("halcyra-param-fifo"), QStringLiteral("job1") }) {
            QCOMPARE(::mkfifo(QFile::encodeName(shared + QLatin1Char('/') + name).constData(), 0666), 0);
            planted << name;
        }
        QFile hostile(shared + QStringLiteral("/halcyra-param-file"));
        QVERIFY(hostile.open(QIODevice::WriteOnly));
        hostile.write("[AppPara]\nColor=1\nCopies=99\nDuplexType=2\n");
        planted << QStringLiteral("halcyra-param-file");
    }
    planted.sort();

    writeFile(QStringLiteral("job1"), "[AppPara]\nColor=0\nCopies=1\nDuplexType=1\n");
    writeFile(QStringLiteral("job1.pdf"), PdfMaker::make(1));
    for (int i = 0; i < 3; ++i) {
        const KsJobParam p = read(QStringLiteral("job1.pdf"));
        QVERIFY(p.isValid);
        QCOMPARE(p.color, QStringLiteral("false"));
        QCOMPARE(p.copies, 1);
        QCOMPARE(p.duplexMode, 1);
        QCOMPARE(
            QDir(shared).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
            planted);
    }
}

void TestJobParams::documentName_data()
{
    QTest::addColumn<QByteArray>("value"); // null: no DocName key
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QByteArray>("user"); // the USER environment variable

    const QByteArray user("tester");
    QTest::newRow("missing: the trigger's name") << QByteArray() << "job1.pdf" << user;
    QTest::newRow("empty: the trigger's name") << QByteArray("") << "job1.pdf" << user;
    QTest::newRow("plain") << QByteArray("report.pdf") << "report.pdf" << user;
    QTest::newRow("path: last part") << QByteArray("/tmp/x/report.pdf") << "report.pdf" << user;
    QTest::newRow("trailing slash: empty") << QByteArray("/tmp/x/") << "" << user;
    QTest::newRow("--USER prefix: the account") << QByteArray("--testerreport.pdf") << "alicereport.pdf" << user;
    QTest::newRow("other user's prefix is kept") << QByteArray("--otherreport.pdf") << "--otherreport.pdf" << user;
    QTest::newRow("empty USER: \"--\" is the prefix")
        << QByteArray("--report.pdf") << "alicereport.pdf" << QByteArray();
    QTest::newRow("empty USER: no prefix, last part") << QByteArray("a/-report.pdf") << "-report.pdf" << QByteArray();
    QTest::newRow("NUL cuts the name") << QByteArray("abc\0def/ghi", 11) << "abc" << user;
    QTest::newRow("comma and semicolon kept")
        << QByteArray("Invoice; March, 2024.pdf") << "Invoice; March, 2024.pdf" << user;
    QTest::newRow("non-ASCII") << QByteArray("\xe6\x8a\xa5\xe5\x91\x8a caf\xc3\xa9 & co.pdf")
                               << QString::fromUtf8("报告 café & co.pdf") << user;
    QTest::newRow("quoted value") << QByteArray("\"a, b.pdf\"") << "a, b.pdf" << user;
    QTest::newRow("escapes as QSettings writes them") << QByteArray("\\x62a5\\x544a \\\\ \\\"q\\\"; x\\ty.pdf")
                                                      << QString::fromUtf8("报告 \\ \"q\"; x\ty.pdf") << user;
    QTest::newRow("quoted with escapes") << QByteArray("\"\\x4e2d, \\\"x\\\".pdf\"")
                                         << QString::fromUtf8("中, \"x\".pdf") << user;
    QTest::newRow("escaped NUL cuts the name") << QByteArray("abc\\0def.pdf") << "abc" << user;
    QTest::newRow("escaped path: last part") << QByteArray("\\x2ftmp\\x2freport.pdf") << "report.pdf" << user;
    QTest::newRow("300 characters: 255 with the extension")
        << QByteArray(300, 'a') + ".pdf" << QString(251, QLatin1Char('a')) + QStringLiteral(".pdf") << user;
    QTest::newRow("300 CJK characters: 255 characters")
        << QByteArray("\xe6\x8a\xa5").repeated(300) + ".docx"
        << QString::fromUtf8("报").repeated(250) + QStringLiteral(".docx") << user;
    QTest::newRow("60000 characters without extension")
        << QByteArray(60000, 'b') << QString(255, QLatin1Char('b')) << user;
    QTest::newRow("long account after the prefix")
        << QByteArray("--tester") + QByteArray(300, 'c') + ".pdf"
        << QStringLiteral("alice") + QString(246, QLatin1Char('c')) + QStringLiteral(".pdf") << user;
}

void TestJobParams::documentName()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, user);
    qputenv("USER", user);
    QByteArray ini("[AppPara]\nColor=0\n[PrintPara]\nCopies=1\n");
    if (!value.isNull()) {
        ini += QByteArrayLiteral("DocName=") + value + '\n';
    }
    ini += "PageWidth=2100\n";
    writeFile(QStringLiteral("job1"), ini);
    writeFile(QStringLiteral("job1.pdf"), PdfMaker::make(1));

    const KsJobParam p = read(QStringLiteral("job1.pdf"));
    qputenv("USER", "tester");
    QVERIFY(p.isValid);
    QTEST(p.docName, "expected");
}

void TestJobParams::pageCount_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<int>("pages");
    QTest::newRow("1 page") << "job1.pdf" << PdfMaker::make(1) << 1;
    QTest::newRow("3 pages") << "job1.pdf" << PdfMaker::make(3) << 3;
    QTest::newRow("1000 pages") << "job1.pdf" << PdfMaker::make(1000) << 1000;
    QTest::newRow("corrupt PDF") << "job1.pdf" << PdfMaker::corrupt() << 0;
    QTest::newRow("PCL job without PDF") << "job1.xml" << QByteArray() << 0;
}

void TestJobParams::pageCount()
{
    QFETCH(QString, trigger);
    QFETCH(QByteArray, pdf);
    writeFile(QStringLiteral("job1"), "[AppPara]\nColor=0\n");
    writeFile(trigger, trigger.endsWith(QLatin1String(".xml")) ? QByteArray("<job/>") : pdf);

    Logging::startCapture();
    const KsJobParam p = read(trigger);
    const QStringList log = Logging::takeCaptured();
    QVERIFY(p.isValid);
    QTEST(p.documentPages, "pages");
    QVERIFY(log.contains(QStringLiteral("pagecount %1").arg(p.documentPages)));
}

void TestJobParams::unreadableTrigger()
{
    writeFile(QStringLiteral("job1"), "[AppPara]\nColor=1\n");
    writeFile(QStringLiteral("job1.pdf"), PdfMaker::make(1));
    const QString trigger = folder() + QStringLiteral("/job1.pdf");
    QVERIFY(QFile::setPermissions(trigger, QFileDevice::Permissions()));
    QVERIFY(UnprivilegedScope::openToAll(QFile::encodeName(m_home->path()).constData()));
    QVERIFY(UnprivilegedScope::openToAll(QFile::encodeName(folder()).constData()));

    Logging::startCapture();
    KsJobParam p;
    bool probe = true;
    {
        UnprivilegedScope scope;
        probe = JobParamReader::checkParamFile(trigger);
        p = read(QStringLiteral("job1.pdf"));
    }
    const QStringList log = Logging::takeCaptured();
    QVERIFY(!probe);
    QVERIFY(!p.isValid);
    QVERIFY(log.contains(QStringLiteral("Can't open the job param file for %1").arg(trigger)));
    // Nothing is asked and nothing is removed: the queue decides what happens to the job.
    QVERIFY(m_host.events.isEmpty());
    QVERIFY(QFile::exists(trigger));
    QVERIFY(QFile::exists(folder() + QStringLiteral("/job1")));
}

void TestJobParams::computerIp_data()
{
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QString>("expected");
    QTest::newRow("none") << QStringList() << "";
    QTest::newRow("only loopback") << QStringList { "127.0.0.1" } << "127.0.0.1";
    QTest::newRow("two") << QStringList { "127.0.0.1", "10.0.0.5" } << "10.0.0.5";
    QTest::newRow("three") << QStringList { "127.0.0.1", "10.0.0.5", "192.168.1.9" } << "10.0.0.5";
}

void TestJobParams::computerIp()
{
    QFETCH(QStringList, addresses);
    QTEST(JobParamReader::pickComputerIp(addresses), "expected");
}

void TestJobParams::hostFacts()
{
    writeFile(QStringLiteral("job1"), "[AppPara]\nColor=0\n");
    writeFile(QStringLiteral("job1.pdf"), PdfMaker::make(1));
    const KsJobParam p = read(QStringLiteral("job1.pdf"));
    QCOMPARE(p.computerName, QHostInfo::localHostName());
    Logging::startCapture();
    const QStringList addresses = HostAddresses::GetIp();
    QCOMPARE(p.computerIp, JobParamReader::pickComputerIp(addresses));
    // IPv4 only, each address logged.
    QVERIFY(addresses.contains(QStringLiteral("127.0.0.1")));
    const QStringList log = Logging::takeCaptured();
    for (const QString& a : addresses) {
        QCOMPARE(QHostAddress(a).protocol(), QAbstractSocket::IPv4Protocol);
        QVERIFY(log.contains(QStringLiteral("[kskit.GetIp] IPV4:") + a));
    }
    QCOMPARE(log.filter(QStringLiteral("[kskit.GetIp] IPV4:")).size(), addresses.size());
}

void TestJobParams::noCardChoice_data()
{
    QTest::addColumn<bool>("supportSecret");
    QTest::addColumn<bool>("noCardPrinter");
    QTest::addColumn<bool>("projects");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<bool>("network");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("stored"); // the one notice a job that is not sent leaves

    QTest::newRow("card readers only, no projects: no dialog")
        << false << false << false << true << true << false << true << QString();
    QTest::newRow("a printer without card reader")
        << false << true << false << true << true << true << true << QString();
    QTest::newRow("a project") << false << false << true << true << true << true << true << QString();
    QTest::newRow("security levels") << true << false << false << true << true << true << true << QString();
    QTest::newRow("declined") << false << true << true << false << true << true << false
                              << "Print job [job4.pdf] was cancelled";
    QTest::newRow("server gone after yes") << false << true << false << true << false << true << false
                                           << "Print job [job4.pdf] was removed: the server could not be reached";
}

void TestJobParams::noCardChoice()
{
    QFETCH(bool, supportSecret);
    QFETCH(bool, noCardPrinter);
    QFETCH(bool, projects);
    QFETCH(bool, accept);
    QFETCH(bool, network);
    QFETCH(bool, asked);
    QFETCH(bool, valid);
    QFETCH(QString, stored);

    m_server->updateState([&](FakeKestranaState& s) {
        s.devices[1].useCardReader = !noCardPrinter;
        if (projects) {
            s.projects.append({ QStringLiteral("12"), 300.0, QStringLiteral("Research") });
        }
    });
    m_host.options.supportSecret = supportSecret;
    m_host.noCardAccept = accept;
    m_host.networkDefault = network;
    m_host.noCardChoice.controllerMac = QStringLiteral("00:1A:2B:3C:4D:5F");
    m_host.noCardChoice.securityLevel = 3;
    m_host.noCardChoice.projectId = QStringLiteral("12");

    // Neighbours whose names start like this job's: they must survive whatever happens to job4.
    const QStringList neighbours { "job42", "job42.pdf", "job4.2", "job4.2.pdf", "job4x.pdf" };
    for (const QString& name : neighbours) {
        writeFile(name, name.endsWith(QLatin1String(".pdf")) ? PdfMaker::make(1) : QByteArray("[AppPara]\n"));
    }
    writeFile(QStringLiteral("job4"), "[AppPara]\nColor=0\n");
    writeFile(QStringLiteral("job4.pdf"), PdfMaker::make(2));

    // The no-card choice is a step of the job's admission, after its parameters are read.
    m_host.options.folder = { QStringLiteral("test settings"), folder() };
    JobQueue queue(&m_host);
    QVERIFY(queue.initJobControlOption());
    m_host.listen(&queue);
    PrintJob job(folder(), QStringLiteral("job4.pdf"), m_host.account);
    queue.admission()->admit(job, JobAdmission::Pass::Startup, []() { return false; });
    QCOMPARE(m_host.eventsOf(QStringLiteral("nocard")).size(), asked ? 1 : 0);
    const QStringList left = QDir(folder()).entryList(QDir::Files, QDir::Name);
    for (const QString& name : neighbours) {
        QVERIFY2(left.contains(name), qPrintable(name));
    }
    QVERIFY(!left.contains(QStringLiteral("job4")));
    QVERIFY(!left.contains(QStringLiteral("job4.pdf")));
    const QList<FakeRequest> announced = m_server->requestsTo(QStringLiteral("/Job/BAS_SubmitPrintJob"));
    QCOMPARE(announced.size(), valid ? 1 : 0);
    if (!valid) {
        QCOMPARE(m_host.textsOf(QStringLiteral("stored")), QStringList { stored });
        return;
    }
    const QByteArray body = announced.first().body;
    if (asked) {
        // The question offers the lists just fetched, so the dialog need not fetch them again.
        const QList<KsPrinter>& offered = m_host.noCardAsked.printers;
        QCOMPARE(std::any_of(offered.cbegin(), offered.cend(),
                             [](const KsPrinter& printer) { return !printer.useCardReader; }),
                 noCardPrinter);
        QCOMPARE(!m_host.noCardAsked.projects.isEmpty(), projects);
        QCOMPARE(m_host.noCardAsked.supportSecret, supportSecret);
        QCOMPARE(m_host.eventsOf(QStringLiteral("network")).size(), 1);
        QVERIFY(body.contains("&ControllerMac=00:1A:2B:3C:4D:5F&"));
        QVERIFY(body.contains("&ProjectID=12&SecurityLevel=3&"));
    } else {
        QVERIFY(body.contains("&ControllerMac=&"));
        QVERIFY(body.contains("&ProjectID=&SecurityLevel=1&"));
    }
}

QTEST_MAIN(TestJobParams)
#include "tst_jobparams.moc"
