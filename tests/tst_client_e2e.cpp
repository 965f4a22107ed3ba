#include "ClientParts.h"
// The whole client against the fake server.
//  - The real program, started with automatic login configured: its main window comes up, a job printed
//    with kestrana-print reaches the server byte for byte, and the outcome is stored for the messages tab.
//  - In this process, with the program's own start-up pieces (login dialog, main window, application
//    object): logout stops the job intake, and logging in again resumes it; a second start brings back the
//    minimised main window.
#include "config/CredentialCipher.h"
#include "ui_MainWindow.h"

#include "FakeKestranaServer.h"
#include "PdfMaker.h"
#include "ServerStates.h"
#include "StartUp.h"
#include "TestHome.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "jobs/JobQueue.h"
#include "session/OnlineState.h"
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"
#include "ui/Prompts.h"
#include "ui/SingleApplication.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QLocalSocket>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
// Confirmed jobs on the server, in id order.
QList<FakeKestranaState::Job> confirmedJobs(const FakeKestranaServer& server)
{
    QList<FakeKestranaState::Job> jobs;
    for (const FakeKestranaState::Job& job : server.state().jobs) {
        if (job.confirmed) {
            jobs.append(job);
        }
    }
    return jobs;
}

QStringList storedMessages(const QString& dbPath)
{
    QStringList texts;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e-reader"));
        db.setDatabaseName(dbPath);
        if (db.open()) {
            QSqlQuery query(db);
            query.exec(QStringLiteral("SELECT message FROM Message WHERE usrAccount = 'alice' ORDER BY msgId"));
            while (query.next()) {
                texts.append(query.value(0).toString());
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e-reader"));
    return texts;
}

// Answers the start-up pass's "Existed jobs found" box with the given button once it shows.
void answerExistingJobsBox(const QString& buttonText, bool* answered)
{
    QTimer::singleShot(50, [buttonText, answered]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->text() == QLatin1String("Existed jobs found")) {
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == buttonText) {
                    *answered = true;
                    button->click();
                    return;
                }
            }
        }
        answerExistingJobsBox(buttonText, answered);
    });
}
} // namespace

class TestClientEndToEnd : public QObject
{
    Q_OBJECT
public:
    TestClientEndToEnd(SingleApplication* app, TestHome* home)
        : m_app(app)
        , m_home(home)
    { }

private slots:
    void programPrintsAJob();
    void logoutStopsIntakeAndLoginResumes();

private:
    int print(const QString& home, const QString& pdf, const QString& name);
    void loginThroughDialog(LoginDialog& dialog, const QString& server);

    SingleApplication* m_app;
    TestHome* m_home;
};

int TestClientEndToEnd::print(const QString& home, const QString& pdf, const QString& name)
{
    QProcess printer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    printer.setProcessEnvironment(env);
    printer.start(TestHome::binaryPath(QStringLiteral("kestrana-print")), { QStringLiteral("--name"), name, pdf });
    if (!printer.waitForFinished(30000)) {
        return -1;
    }
    return printer.exitCode();
}

void TestClientEndToEnd::programPrintsAJob()
{
    FakeKestranaServer server(ServerStates::plainSample());
    QVERIFY(server.start());
    QTemporaryDir home;
    QTemporaryDir runtime;
    QVERIFY(home.isValid() && runtime.isValid());
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // Settings as a saved login leaves them, with automatic login on.
    const QString data = home.filePath(QStringLiteral("halcyraclient"));
    QVERIFY(QDir().mkpath(data));
    const QString ini = data + QStringLiteral("/halcyraclient.ini");
    QVERIFY(QFile::copy(TestHome::templatePath(), ini));
    QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
    {
        QSettings settings(ini, QSettings::IniFormat);
        settings.setValue(QStringLiteral("Login/KsServerUrl"), server.httpUrl());
        settings.setValue(QStringLiteral("Login/LoginName"), QStringLiteral("alice"));
        settings.setValue(QStringLiteral("Login/Password"), CredentialCipher::encryptValue(QStringLiteral("secret")));
        settings.setValue(QStringLiteral("Login/AutoLogin"), true);
        settings.setValue(QStringLiteral("Login/SavePassword"), true);
    }

    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    client.setProcessEnvironment(env);
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client.start(TestHome::binaryPath(QStringLiteral("HalcyraClient")), QStringList());
    QVERIFY(client.waitForStarted());

    // Logged in without the dialog, and the main window loaded its tabs and ran the start-up pass.
    QTRY_VERIFY_WITH_TIMEOUT(server.requestCount(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew")) == 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(server.requestCount(QStringLiteral("/Job/BAS_JobStausList")) >= 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(server.requestCount(QStringLiteral("/KSS/GetIPSegment")) >= 1, 30000);
    const QString log = data + QStringLiteral("/logs/hyc.log");
    QTRY_VERIFY_WITH_TIMEOUT(TestHome::fileContents(log).contains("enter initialCheck4JobPath"), 30000);

    const QString pdf = home.filePath(QStringLiteral("report.pdf"));
    QVERIFY(PdfMaker::write(pdf, 3));
    QCOMPARE(print(home.path(), pdf, QStringLiteral("Quarterly report.pdf")), 0);

    QTRY_COMPARE_WITH_TIMEOUT(confirmedJobs(server).size(), 1, 30000);
    const FakeKestranaState::Job job = confirmedJobs(server).first();
    QCOMPARE(job.uploaded, TestHome::fileContents(pdf));
    QCOMPARE(job.announce.value(QStringLiteral("FileName")), QStringLiteral("Quarterly report.pdf"));
    QCOMPARE(job.announce.value(QStringLiteral("DocumentPages")), QStringLiteral("3"));
    QTRY_COMPARE_WITH_TIMEOUT(storedMessages(data + QStringLiteral("/halcyraclient.db")),
                              QStringList { QStringLiteral("job [Quarterly report.pdf] submiited to KS") }, 30000);
    // The job's files left the folder.
    QTRY_VERIFY_WITH_TIMEOUT(QDir(data + QStringLiteral("/ksprinter")).entryList(QDir::Files).isEmpty(), 30000);

    client.terminate();
    QVERIFY(client.waitForFinished(30000));
    QCOMPARE(client.exitStatus(), QProcess::NormalExit);
    QCOMPARE(client.exitCode(), 0);
    QVERIFY(TestHome::fileContents(log).contains("#                          STOP                                #"));
}

void TestClientEndToEnd::loginThroughDialog(LoginDialog& dialog, const QString& server)
{
    dialog.findChild<QLineEdit*>(QStringLiteral("editKsServer"))->setText(server);
    dialog.findChild<QLineEdit*>(QStringLiteral("editLoginName"))->setText(QStringLiteral("alice"));
    dialog.findChild<QLineEdit*>(QStringLiteral("editPassword"))->setText(QStringLiteral("secret"));
    dialog.findChild<QPushButton*>(QStringLiteral("btnLogin"))->click();
}

void TestClientEndToEnd::logoutStopsIntakeAndLoginResumes()
{
    FakeKestranaServer server(ServerStates::plainSample());
    QVERIFY(server.start());
    OnlineState::setForcedForTests(1);
    LoginInfo* info = Singleton<LoginInfo>::getInstance();
    QCOMPARE(TestHome::loadAtStartUp(*info), 0);
    const QString jobFolder = m_home->dataPath() + QStringLiteral("/ksprinter");
    const QString pdf = m_home->path() + QStringLiteral("/letter.pdf");
    QVERIFY(PdfMaker::write(pdf, 1));

    // First login through the dialog, then the main window as start-up creates it.
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    StartUp::watchJobFolder(dialog);
    dialog.show();
    loginThroughDialog(dialog, server.httpUrl());
    QTRY_VERIFY(ClientParts::shared().session.isLogin());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const std::unique_ptr<MainWindow> window
        = StartUp::startAfterLogin(*m_app, dialog, *Singleton<LoginInfo>::getInstance(), ClientParts::shared().session,
                                   ClientParts::shared().api, false);
    QVERIFY(window->isVisible());
    QVERIFY(window->jobIntakeRunning());

    // Minimised (closing it without a tray does that), it comes back when the client is started again.
    window->showMinimized();
    QLocalSocket secondStart;
    secondStart.connectToServer(SingleApplication::socketNameFor(m_app->serverKey()));
    QVERIFY(secondStart.waitForConnected(5000));
    QTRY_VERIFY(!(window->windowState() & Qt::WindowMinimized));

    QCOMPARE(print(m_home->path(), pdf, QStringLiteral("first.pdf")), 0);
    QTRY_COMPARE_WITH_TIMEOUT(confirmedJobs(server).size(), 1, 30000);
    QTRY_VERIFY(!window->form()
                     ->tabMessages->model()
                     ->findItems(QStringLiteral("job [first.pdf] submiited to KS"), Qt::MatchExactly, 1)
                     .isEmpty());

    // Logout: the dialog is back, the window hidden, no intake.
    QTest::mouseClick(window->form()->btnLogout, Qt::LeftButton);
    QTRY_VERIFY(dialog.isVisible());
    QVERIFY(!window->isVisible());
    QVERIFY(!window->jobIntakeRunning());
    QCOMPARE(server.state().loggedOut, QStringList { QStringLiteral("alice") });

    Prompts::startCapture(); // no box may stop the run while logged out
    QCOMPARE(print(m_home->path(), pdf, QStringLiteral("while-out.pdf")), 0);
    // The watcher saw the job (the login prompt says so); a pass it would have started has ended by then. The job
    // waits in the folder and is not sent.
    QList<Prompts::Record> seen;
    QTRY_VERIFY((seen += Prompts::takeCaptured(), !seen.isEmpty()));
    QCOMPARE(seen.first().text, QStringLiteral("Please log in to the print client"));
    QVERIFY(!window->jobIntakeRunning());
    QCOMPARE(confirmedJobs(server).size(), 1);
    QCOMPARE(server.requestCount(QStringLiteral("/Job/BAS_SubmitPrintJob")), 1);
    QVERIFY(!QDir(jobFolder).entryList({ QStringLiteral("*.pdf") }, QDir::Files).isEmpty());
    Prompts::stopCapture();

    // Logging in again shows the same window; the waiting job is offered and submitted, and new jobs flow.
    bool answered = false;
    answerExistingJobsBox(QStringLiteral("Submit"), &answered);
    loginThroughDialog(dialog, server.httpUrl());
    QTRY_VERIFY(answered);
    QTRY_VERIFY(window->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(confirmedJobs(server).size(), 2, 30000);
    QCOMPARE(confirmedJobs(server).at(1).announce.value(QStringLiteral("FileName")), QStringLiteral("while-out.pdf"));
    QTRY_VERIFY(window->jobIntakeRunning());

    // With the job timer stopped only the folder watcher can start the pass that sends a new job.
    window->jobQueue()->jobTimer()->stop();
    QCOMPARE(print(m_home->path(), pdf, QStringLiteral("after.pdf")), 0);
    QTRY_COMPARE_WITH_TIMEOUT(confirmedJobs(server).size(), 3, 30000);
    QCOMPARE(confirmedJobs(server).at(2).uploaded, TestHome::fileContents(pdf));
    QTRY_VERIFY(!window->form()
                     ->tabMessages->model()
                     ->findItems(QStringLiteral("job [after.pdf] submiited to KS"), Qt::MatchExactly, 1)
                     .isEmpty());
    OnlineState::setForcedForTests(-1);
}

int main(int argc, char** argv)
{
    TestHome home; // before the application object, so every path lands in it
    // The guard's socket in the test's home too: a test run beside it must not answer for this one.
    qunsetenv("XDG_RUNTIME_DIR");
    SingleApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TestClientEndToEnd test(&app, &home);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_client_e2e.moc"
