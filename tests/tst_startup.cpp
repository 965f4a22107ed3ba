#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

// The real client binary, started the way a desktop session starts it: single instance per user, the
// fatal start-up path, and a normal shutdown on SIGTERM/SIGINT.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void secondInstanceForSameUserLeaves();
    void otherUserRunsOwnInstance();
    void signalEndsWithStopBanner_data();
    void signalEndsWithStopBanner();
    void staleSocketIsTakenOver();
    void missingTemplateEndsWithMinusOne();
    void guardWithoutRuntimeDirIsPrivate();

private:
    struct User
    {
        std::unique_ptr<QTemporaryDir> home;
        QString runtimeDir;
        QString log() const { return home->path() + QStringLiteral("/halcyraclient/logs/hyc.log"); }
        QString socket() const { return runtimeDir + QStringLiteral("/HalcyraClient"); }
    };
    User makeUser();
    std::unique_ptr<QProcess> start(const User& user, const QString& program = QString());
    static QString readLog(const User& user);
    // The client has passed the screen diagnostics, the last step before its event loop.
    static bool upAndRunning(const User& user, int instances = 1);
    static int count(const QString& text, const QString& what) { return text.count(what); }
};

static const int kWaitMs = 60000;

TestStartup::User TestStartup::makeUser()
{
    User user;
    user.home.reset(new QTemporaryDir);
    user.runtimeDir = user.home->path() + QStringLiteral("/run");
    QDir().mkpath(user.runtimeDir);
    QFile::setPermissions(user.runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return user;
}

std::unique_ptr<QProcess> TestStartup::start(const User& user, const QString& program)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), user.home->path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), user.runtimeDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process->setProcessEnvironment(env);
    process->setProgram(program.isEmpty() ? QStringLiteral(HALCYRA_BIN_DIR "/HalcyraClient") : program);
    process->start();
    process->waitForStarted();
    return process;
}

QString TestStartup::readLog(const User& user)
{
    QFile file(user.log());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool TestStartup::upAndRunning(const User& user, int instances)
{
    return readLog(user).count(QStringLiteral(" root - rect2 ")) >= instances;
}

void TestStartup::secondInstanceForSameUserLeaves()
{
    User user = makeUser();
    auto first = start(user);
    QTRY_VERIFY_WITH_TIMEOUT(upAndRunning(user), kWaitMs);
    QVERIFY(QFile::exists(user.home->path() + QStringLiteral("/halcyraclient/halcyraclient.ini")));

    auto second = start(user);
    QVERIFY(second->waitForFinished(kWaitMs));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(second->readAllStandardError()),
             QStringLiteral("HalcyraClient already running.\n"));
    QCOMPARE(first->state(), QProcess::Running);

    const QString log = readLog(user);
    QCOMPARE(count(log, QStringLiteral("WARN root - HalcyraClient is already running\n")), 1);
    // The second instance never touched the settings.
    QCOMPARE(count(log, QStringLiteral(" root - loading latest login info\n")), 1);

    ::kill(static_cast<pid_t>(first->processId()), SIGTERM);
    QVERIFY(first->waitForFinished(kWaitMs));
    QCOMPARE(first->exitCode(), 0);
}

void TestStartup::otherUserRunsOwnInstance()
{
    User alice = makeUser();
    User bob = makeUser();
    auto first = start(alice);
    QTRY_VERIFY_WITH_TIMEOUT(upAndRunning(alice), kWaitMs);

    auto second = start(bob);
    QTRY_VERIFY_WITH_TIMEOUT(upAndRunning(bob), kWaitMs);
    QCOMPARE(second->state(), QProcess::Running);
    QVERIFY(second->readAllStandardError().isEmpty());

    // Each user's socket is private to that user.
    QCOMPARE(QFileInfo(alice.socket()).permissions()
                 & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup),
             QFile::Permissions());

    ::kill(static_cast<pid_t>(first->processId()), SIGTERM);
    ::kill(static_cast<pid_t>(second->processId()), SIGTERM);
    QVERIFY(first->waitForFinished(kWaitMs));
    QVERIFY(second->waitForFinished(kWaitMs));
}

void TestStartup::signalEndsWithStopBanner_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("duringFetch"); // the server takes the settings request and never answers
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGINT") << int(SIGINT) << false;
    QTest::newRow("SIGTERM while the settings are fetched") << int(SIGTERM) << true;
}

void TestStartup::signalEndsWithStopBanner()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, duringFetch);

    User user = makeUser();
    QTcpServer silent;
    if (duringFetch) {
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const QString ini = user.home->path() + QStringLiteral("/halcyraclient/halcyraclient.ini");
        QVERIFY(QDir().mkpath(QFileInfo(ini).path()));
        QVERIFY(QFile::copy(QStringLiteral(HALCYRA_BIN_DIR "/halcyraclient.ini"), ini));
        QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
        QSettings(ini, QSettings::IniFormat)
            .setValue(QStringLiteral("Login/KsServerUrl"),
                      QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort()));
    }
    auto client = start(user);
    if (duringFetch) {
        QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), kWaitMs);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(upAndRunning(user), kWaitMs);
    }
    QVERIFY(!readLog(user).contains(QStringLiteral("STOP")));

    ::kill(static_cast<pid_t>(client->processId()), signalNumber);
    // Within the fetch's own 10 s bound: the stop does not wait for the server.
    QVERIFY(client->waitForFinished(duringFetch ? 8000 : kWaitMs));
    QCOMPARE(client->exitStatus(), QProcess::NormalExit);
    QCOMPARE(client->exitCode(), 0);

    const QStringList lines = readLog(user).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(lines.size() >= 4);
    QVERIFY(
        lines.at(lines.size() - 3)
            .endsWith(QStringLiteral("INFO root - #                          STOP                                #")));
    QVERIFY(lines.last().endsWith(QStringLiteral("INFO root - Root logger was shutdown.")));
    // The socket is gone with the instance, so the next start serves at once.
    QVERIFY(!QFile::exists(user.socket()));
}

void TestStartup::staleSocketIsTakenOver()
{
    User user = makeUser();
    auto crashed = start(user);
    QTRY_VERIFY_WITH_TIMEOUT(upAndRunning(user), kWaitMs);
    crashed->kill();
    QVERIFY(crashed->waitForFinished(kWaitMs));
    QVERIFY(QFile::exists(user.socket()));

    auto next = start(user);
    QTRY_VERIFY_WITH_TIMEOUT(upAndRunning(user, 2), kWaitMs);
    QCOMPARE(next->state(), QProcess::Running);
    QVERIFY(next->readAllStandardError().isEmpty());

    // It now guards the user: a further start leaves.
    auto third = start(user);
    QVERIFY(third->waitForFinished(kWaitMs));
    QCOMPARE(third->exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(third->readAllStandardError()), QStringLiteral("HalcyraClient already running.\n"));

    ::kill(static_cast<pid_t>(next->processId()), SIGTERM);
    QVERIFY(next->waitForFinished(kWaitMs));
}

void TestStartup::missingTemplateEndsWithMinusOne()
{
    // A copy of the client in a directory without the settings template.
    QTemporaryDir appDir;
    const QString program = appDir.path() + QStringLiteral("/HalcyraClient");
    QVERIFY(QFile::copy(QStringLiteral(HALCYRA_BIN_DIR "/HalcyraClient"), program));

    User user = makeUser();
    auto client = start(user, program);
    QTRY_VERIFY_WITH_TIMEOUT(readLog(user).contains(QStringLiteral("FATAL root - parse INI file error, code = 2\n")),
                             kWaitMs);
    QVERIFY(readLog(user).contains(QStringLiteral("ERROR root - copy ini file failed:")));
    QCOMPARE(client->state(), QProcess::Running); // the error box is up

    // Dismiss the box the way a session logout does.
    ::kill(static_cast<pid_t>(client->processId()), SIGTERM);
    QVERIFY(client->waitForFinished(kWaitMs));
    QCOMPARE(client->exitStatus(), QProcess::NormalExit);
    QCOMPARE(client->exitCode(), 255); // -1 as the shell sees it
    QVERIFY(!readLog(user).contains(QStringLiteral("STOP")));
    QVERIFY(!QFile::exists(user.home->path() + QStringLiteral("/halcyraclient/halcyraclient.ini")));
}

void TestStartup::guardWithoutRuntimeDirIsPrivate()
{
    User user = makeUser();
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    auto startWithoutRuntimeDir = [&]() {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), user.home->path());
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("TMPDIR"), tmp.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process->setProcessEnvironment(env);
        process->start(QStringLiteral(HALCYRA_BIN_DIR "/HalcyraClient"), QStringList());
        process->waitForStarted();
        return process;
    };

    auto first = startWithoutRuntimeDir();
    QTRY_VERIFY_WITH_TIMEOUT(upAndRunning(user), kWaitMs);
    const QString dir = tmp.path() + QStringLiteral("/halcyraclient-") + QString::number(::getuid());
    struct stat info;
    QCOMPARE(::lstat(QFile::encodeName(dir).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 0777), 0700);
    QVERIFY(QFileInfo::exists(dir + QStringLiteral("/HalcyraClient")));

    auto second = startWithoutRuntimeDir();
    QVERIFY(second->waitForFinished(kWaitMs));
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(QString::fromLocal8Bit(second->readAllStandardError())
                .contains(QStringLiteral("HalcyraClient already running.")));

    first->terminate();
    QVERIFY(first->waitForFinished(kWaitMs));
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
