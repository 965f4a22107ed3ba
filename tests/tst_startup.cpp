#include "UnprivilegedScope.h"

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
#include <vector>

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
    void privateFilesRepairedAtStart();
    void squattedGuardDoesNotStopStart_data();
    void squattedGuardDoesNotStopStart();

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

void TestStartup::privateFilesRepairedAtStart()
{
    User user = makeUser();
    const QString data = user.home->path() + QStringLiteral("/halcyraclient");
    const auto modeOf = [](const QString& path) {
        struct stat info;
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
    };
    const QStringList files { QStringLiteral("halcyraclient.ini"),    QStringLiteral("servercerts.ini"),
                              QStringLiteral("halcyraclient.db"),     QStringLiteral("halcyraclient.db-wal"),
                              QStringLiteral("halcyraclient.db-shm"), QStringLiteral("jobjournal.db"),
                              QStringLiteral("jobjournal.db-wal"),    QStringLiteral("logs/hyc.log"),
                              QStringLiteral("logs/hyc.log.1") };

    // Made private from the first start.
    auto client = start(user);
    QTRY_VERIFY_WITH_TIMEOUT(upAndRunning(user), kWaitMs);
    QCOMPARE(modeOf(data), 0700);
    QCOMPARE(modeOf(data + QStringLiteral("/logs")), 0700);
    QCOMPARE(modeOf(data + QStringLiteral("/halcyraclient.ini")), 0600);
    QCOMPARE(modeOf(data + QStringLiteral("/logs/hyc.log")), 0600);
    client->terminate();
    QVERIFY(client->waitForFinished(kWaitMs));

    // Left open to others by an earlier client: repaired at the next start.
    for (const QString& name : files) {
        QFile file(data + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::Append));
        file.close();
        QCOMPARE(::chmod(QFile::encodeName(file.fileName()).constData(), 0644), 0);
    }
    QCOMPARE(::chmod(QFile::encodeName(data).constData(), 0755), 0);
    QCOMPARE(::chmod(QFile::encodeName(data + QStringLiteral("/logs")).constData(), 0755), 0);
    client = start(user);
    QTRY_VERIFY_WITH_TIMEOUT(upAndRunning(user, 2), kWaitMs);
    QCOMPARE(modeOf(data), 0700);
    QCOMPARE(modeOf(data + QStringLiteral("/logs")), 0700);
    for (const QString& name : files) {
        QVERIFY2(modeOf(data + QLatin1Char('/') + name) == 0600, qPrintable(name));
    }
    client->terminate();
    QVERIFY(client->waitForFinished(kWaitMs));
}

void TestStartup::squattedGuardDoesNotStopStart_data()
{
    QTest::addColumn<QString>("runtimeDir");
    QTest::newRow("no runtime directory") << "unset";
    QTest::newRow("runtime directory shared by all users, like /tmp") << "shared";
    QTest::newRow("another user's runtime directory") << "other user's";
    QTest::newRow("own runtime directory, writable by others") << "open to others";
    QTest::newRow("own private runtime directory, another user's socket in it") << "foreign socket";
}

void TestStartup::squattedGuardDoesNotStopStart()
{
    QFETCH(QString, runtimeDir);
    if (::geteuid() != 0) {
        QSKIP("acting as another user needs root");
    }
    User user = makeUser();
    QVERIFY(UnprivilegedScope::openToAll(QFile::encodeName(user.home->path()).constData()));
    const QString shared = user.home->path() + QStringLiteral("/tmp");
    QVERIFY(QDir().mkpath(shared));
    QVERIFY(::chmod(QFile::encodeName(shared).constData(), 01777) == 0);

    // Another user listens first wherever a guard could be looked for: the names in the temporary folder that
    // earlier clients used without a private runtime directory, and the runtime directory's.
    std::vector<std::unique_ptr<ForeignListener>> squatters;
    const auto squat = [&](const QString& path) {
        squatters.push_back(std::make_unique<ForeignListener>(QFile::encodeName(path)));
        return squatters.back()->isListening();
    };
    const QString uid = QString::number(::geteuid());
    QVERIFY(squat(shared + QStringLiteral("/halcyraclient-") + uid + QStringLiteral("/HalcyraClient")));
    QVERIFY(squat(shared + QStringLiteral("/HalcyraClient-") + uid));
    QString runtime;
    QString guard = user.home->path() + QStringLiteral("/halcyraclient/HalcyraClient");
    if (runtimeDir == QLatin1String("shared")) {
        runtime = shared;
    } else if (runtimeDir == QLatin1String("other user's")) {
        runtime = shared + QStringLiteral("/run-nobody");
    } else if (runtimeDir != QLatin1String("unset")) {
        runtime = user.runtimeDir;
        QVERIFY(UnprivilegedScope::openToAll(QFile::encodeName(runtime).constData()));
    }
    if (!runtime.isEmpty()) {
        QVERIFY(squat(runtime + QStringLiteral("/HalcyraClient")));
    }
    if (runtimeDir == QLatin1String("foreign socket")) {
        QVERIFY(::chmod(QFile::encodeName(runtime).constData(), 0700) == 0);
        guard = runtime + QStringLiteral("/HalcyraClient");
    }

    auto startClient = [&]() {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), user.home->path());
        env.insert(QStringLiteral("TMPDIR"), shared);
        if (runtime.isEmpty()) {
            env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        } else {
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        }
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process->setProcessEnvironment(env);
        process->start(QStringLiteral(HALCYRA_BIN_DIR "/HalcyraClient"), QStringList());
        process->waitForStarted();
        return process;
    };

    auto first = startClient();
    QTRY_VERIFY_WITH_TIMEOUT(upAndRunning(user) || first->state() == QProcess::NotRunning, kWaitMs);
    QCOMPARE(first->state(), QProcess::Running);
    // (Qt itself warns about a runtime directory it cannot use.)
    QVERIFY(!first->readAllStandardError().contains("already running"));
    // Its own guard, where nobody else can reach it, keeps a second start of the user out.
    struct stat info;
    QCOMPARE(::lstat(QFile::encodeName(guard).constData(), &info), 0);
    QVERIFY(S_ISSOCK(info.st_mode));
    QCOMPARE(info.st_uid, ::geteuid());
    QCOMPARE(::lstat(QFile::encodeName(QFileInfo(guard).path()).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 0777), 0700);
    auto second = startClient();
    QVERIFY(second->waitForFinished(kWaitMs));
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(second->readAllStandardError().endsWith("HalcyraClient already running.\n"));

    first->terminate();
    QVERIFY(first->waitForFinished(kWaitMs));
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
