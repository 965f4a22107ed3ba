// Many users on one host (a terminal server, fast user switching): three users' real clients side by side, each
// with its own home and runtime folder, logged in automatically to one server. Each user's job reaches that
// user's account once, no process holds open for writing, nor as a named socket, anything outside its own
// user's folders, and none leaves a file in the host's temporary folder: no shared guard, socket or file.
#include "FakeKestranaServer.h"
#include "PdfMaker.h"
#include "ServerStates.h"
#include "TestHome.h"
#include "config/CredentialCipher.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {
struct Session
{
    QString account;
    QString password;
    int pages = 1;
    std::unique_ptr<QTemporaryDir> home;
    QString runtime;
    std::unique_ptr<QProcess> client;
    QByteArray pdf;

    QString data() const { return home->path() + QStringLiteral("/halcyraclient"); }
    QString log() const { return data() + QStringLiteral("/logs/hyc.log"); }
    bool owns(const QString& path) const
    {
        return path.startsWith(home->path() + QLatin1Char('/')) || path.startsWith(runtime + QLatin1Char('/'));
    }
};

// Named local sockets by inode, from the kernel's table (abstract names start with "@": one namespace per host).
QHash<QString, QString> unixSocketNames()
{
    QHash<QString, QString> names;
    const QList<QByteArray> lines = TestHome::fileContents(QStringLiteral("/proc/net/unix")).split('\n');
    for (const QByteArray& line : lines.mid(1)) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 8) {
            names.insert(QString::fromLatin1(fields.at(6)), QString::fromLocal8Bit(fields.at(7)));
        }
    }
    return names;
}

// What a process holds open for writing (devices aside), and the names of the local sockets it holds.
QStringList writtenPaths(qint64 pid)
{
    const QHash<QString, QString> sockets = unixSocketNames();
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    QStringList paths;
    for (const QString& fd : QDir(proc + QStringLiteral("fd")).entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char target[4096];
        const ssize_t size
            = ::readlink(QFile::encodeName(proc + QStringLiteral("fd/") + fd).constData(), target, sizeof target - 1);
        if (size <= 0) {
            continue;
        }
        const QString path = QString::fromLocal8Bit(target, static_cast<int>(size));
        if (path.startsWith(QLatin1String("socket:["))) {
            const QString name = sockets.value(path.mid(8).chopped(1));
            if (!name.isEmpty()) {
                paths << name;
            }
            continue;
        }
        if (!path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1String("/dev/"))) {
            continue;
        }
        const QByteArray info = TestHome::fileContents(proc + QStringLiteral("fdinfo/") + fd);
        const int at = info.indexOf("flags:");
        const int flags = at < 0 ? 0 : info.mid(at + 6, info.indexOf('\n', at) - at - 6).trimmed().toInt(nullptr, 8);
        if ((flags & O_ACCMODE) != O_RDONLY) {
            paths << path;
        }
    }
    return paths;
}
} // namespace

class TestManyUsers : public QObject
{
    Q_OBJECT
private slots:
    void threeUsersPrintSideBySide();
};

void TestManyUsers::threeUsersPrintSideBySide()
{
    // Three accounts alike (alice's rights: no question asked on printing), each job of its own length.
    std::vector<Session> sessions(3);
    FakeKestranaState state = ServerStates::plainSample();
    const FakeKestranaState::User alice = *state.findUser(QStringLiteral("alice"));
    for (int i = 0; i < 3; ++i) {
        Session& session = sessions[static_cast<size_t>(i)];
        session.account = QStringLiteral("user%1").arg(i);
        session.password = QStringLiteral("pw-") + session.account;
        session.pages = i + 1;
        FakeKestranaState::User user = alice;
        user.account = session.account;
        user.password = session.password;
        state.users.append(user);
    }
    FakeKestranaServer server(state);
    QVERIFY(server.start());
    // The host's temporary folder, one for all users as on a terminal server.
    QTemporaryDir hostTemp;
    QVERIFY(hostTemp.isValid());

    for (Session& session : sessions) {
        session.home.reset(new QTemporaryDir);
        QVERIFY(session.home->isValid());
        session.runtime = session.home->filePath(QStringLiteral("run"));
        QVERIFY(QDir().mkpath(session.runtime) && QDir().mkpath(session.data()));
        QFile::setPermissions(session.runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString ini = session.data() + QStringLiteral("/halcyraclient.ini");
        QVERIFY(QFile::copy(TestHome::templatePath(), ini));
        QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
        {
            QSettings settings(ini, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Login/KsServerUrl"), server.httpUrl());
            settings.setValue(QStringLiteral("Login/LoginName"), session.account);
            settings.setValue(QStringLiteral("Login/Password"), CredentialCipher::encryptValue(session.password));
            settings.setValue(QStringLiteral("Login/AutoLogin"), true);
            settings.setValue(QStringLiteral("Login/SavePassword"), true);
        }
        // Side by side: each started before the one before it has logged in.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), session.home->path());
        env.insert(QStringLiteral("USER"), session.account);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), session.runtime);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TMPDIR"), hostTemp.path());
        session.client.reset(new QProcess);
        session.client->setProcessEnvironment(env);
        session.client->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        session.client->start(TestHome::binaryPath(QStringLiteral("HalcyraClient")), QStringList());
        QVERIFY(session.client->waitForStarted());
    }
    for (Session& session : sessions) {
        QTRY_VERIFY_WITH_TIMEOUT(TestHome::fileContents(session.log()).contains("enter initialCheck4JobPath"), 60000);
        QCOMPARE(session.client->state(), QProcess::Running);
    }

    for (Session& session : sessions) {
        const QString pdf = session.home->filePath(QStringLiteral("report.pdf"));
        QVERIFY(PdfMaker::write(pdf, session.pages));
        session.pdf = TestHome::fileContents(pdf);
        QProcess printer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), session.home->path());
        printer.setProcessEnvironment(env);
        printer.start(TestHome::binaryPath(QStringLiteral("kestrana-print")),
                      { QStringLiteral("--name"), session.account + QStringLiteral(".pdf"), pdf });
        QVERIFY(printer.waitForFinished(30000));
        QCOMPARE(printer.exitCode(), 0);
    }

    // Each job in its own user's account, once, byte for byte; every job folder emptied.
    auto uploadsOf = [&server](const QString& account) {
        QList<QByteArray> uploads;
        for (const FakeKestranaState::Job& job : server.state().jobs) {
            if (job.confirmed && job.account == account) {
                uploads << job.uploaded;
            }
        }
        return uploads;
    };
    for (const Session& session : sessions) {
        QTRY_VERIFY_WITH_TIMEOUT(QDir(session.data() + QStringLiteral("/ksprinter")).isEmpty(), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(uploadsOf(session.account), QList<QByteArray> { session.pdf }, 30000);
    }

    // Nothing any of them writes, nor any socket name it holds, lies outside its own user's folders.
    for (const Session& session : sessions) {
        const QStringList written = writtenPaths(session.client->processId());
        // The guard: a socket in the user's own runtime folder (bound under a passing name, then renamed).
        QVERIFY2(std::any_of(written.cbegin(), written.cend(),
                             [&session](const QString& path) { return path.startsWith(session.runtime); }),
                 qPrintable(written.join(QLatin1Char(' '))));
        for (const QString& path : written) {
            QVERIFY2(session.owns(path), qPrintable(session.account + QStringLiteral(" holds ") + path));
        }
    }

    const QStringList inHostTemp
        = QDir(hostTemp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QVERIFY2(inHostTemp.isEmpty(), qPrintable(inHostTemp.join(QLatin1Char(' '))));

    for (Session& session : sessions) {
        session.client->terminate();
    }
    for (Session& session : sessions) {
        QVERIFY(session.client->waitForFinished(30000));
        QCOMPARE(session.client->exitStatus(), QProcess::NormalExit);
        QCOMPARE(session.client->exitCode(), 0);
    }
}

QTEST_MAIN(TestManyUsers)
#include "tst_manyusers.moc"
