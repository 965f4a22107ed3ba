#include "ClientParts.h"
// The main window's frame against the fake server: tabs by setting, the network check and its automatic
// switch, offline seen at once, logout, the messages tab, the pin-code panel, the tray and the desktop's
// notifications where there is no tray.
#include "ui_MainWindow.h"

#include "FakeKestranaServer.h"
#include "PdfMaker.h"
#include "ServerStates.h"
#include "TestHome.h"
#include "WindowFixture.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "jobs/JobQueue.h"
#include "jobs/JobSubmitter.h"
#include "session/OnlineState.h"
#include "store/MessageStore.h"
#include "ui/DesktopNotices.h"
#include "ui/FileTransfer.h"
#include "ui/MainWindow.h"
#include "ui/NoCardPrintDialog.h"
#include "ui/Prompts.h"
#include "ui/ScreenFit.h"
#include "ui/TrayIcon.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QItemSelectionModel>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QWindow>

namespace {
LoginInfo* info()
{
    return Singleton<LoginInfo>::getInstance();
}

int storedMessageCount(const QString& where = QString())
{
    QSqlQuery query(QStringLiteral("SELECT COUNT(*) FROM Message") + where);
    return query.next() ? query.value(0).toInt() : -1;
}

using WindowFixture::capturedContaining;

// The desktop's notification service, as a desktop without a tray provides it.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QList<QStringList> received; // application, title, text

public slots:
    uint Notify(const QString& application, uint, const QString&, const QString& title, const QString& text,
                const QStringList&, const QVariantMap&, int)
    {
        received.append({ application, title, text });
        return uint(received.size());
    }
};
// Raises one box of the client; modal boxes return once answered.
using RaiseBox = std::function<QString(MainWindow&)>;

// Presses key on whatever has the focus in the next box that shows, as a person at the keyboard would, and
// returns the text of the button that answered it (empty when the box closed without one); a box the key did not
// close is closed afterwards.
QString pressKeyInBox(MainWindow& window, const std::function<void(MainWindow&)>& raise, Qt::Key key)
{
    QString pressed;
    QPointer<QWidget> box;
    QElapsedTimer sinceKey;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&]() {
        if (box) {
            if (box->isVisible() && sinceKey.elapsed() > 3000) {
                pressed = QStringLiteral("(the box stayed open)");
                QApplication::closeAllWindows(); // lets the test go on
            }
            return;
        }
        // The box is up once it is the active window and holds the focus.
        QWidget* active = QApplication::activeWindow();
        QWidget* focus = QApplication::focusWidget();
        if (sinceKey.isValid() || !active || active == &window || !focus || focus->window() != active) {
            return;
        }
        box = active;
        for (QAbstractButton* button : active->findChildren<QAbstractButton*>()) {
            QObject::connect(button, &QAbstractButton::clicked, [&pressed, button]() { pressed = button->text(); });
        }
        sinceKey.start();
        QTest::keyClick(focus, key);
    });
    poll.start();
    raise(window);
    if (!QTest::qWaitFor([&]() { return sinceKey.isValid() && (!box || !box->isVisible()); }, 10000)) {
        return QStringLiteral("(no box showed)");
    }
    return pressed;
}
} // namespace

Q_DECLARE_METATYPE(RaiseBox)

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void tabsBySetting_data();
    void tabsBySetting();
    void costHiddenButFilled();
    void largeScreen_data();
    void largeScreen();
    void statusStripAndIdentity();

    void networkCheckBareAddress();
    void reportedJobStartsPassAtOnce();
    void networkCheckOffline();
    void networkFailuresSwitchServer_data();
    void networkFailuresSwitchServer();
    void noAnswerShowsOfflineAtOnce_data();
    void noAnswerShowsOfflineAtOnce();

    void logoutEffects();
    void showAgainAfterLogout();

    void messagesNewestFirstAndQuotes();
    void messagesInsertedInPlaceAsStored();
    void messagesDeleteSelectedInOneStatement();
    void messagesDeleteNothingSelected();
    void messagesClear_data();
    void messagesClear();

    void pinCode_data();
    void pinCode();

    void returnEnterAndSpaceInEveryBox_data();
    void returnEnterAndSpaceInEveryBox();

    void closeOnlyHides();
    void noTrayNoticesGoToTheDesktop();
    void hiddenTaskBalloonDoesNotBlock();
    void exitClearsMessagesAndEndsLoop();

private:
    std::unique_ptr<MainWindow> makeWindow(const QVariantMap& keys = QVariantMap());
    // Waits until the window's first loads have been answered.
    void waitLoaded(MainWindow& window);

    TestHome m_home;
    std::unique_ptr<FakeKestranaServer> m_server;
    // A session bus of the test's own, so no notice reaches the desktop of whoever runs the tests.
    QProcess m_bus;
    QString m_busAddress;
};

void TestMainWindow::initTestCase()
{
    QVERIFY(m_home.isValid());
    m_bus.start(QStringLiteral("dbus-daemon"), { "--session", "--nofork", "--print-address" });
    QVERIFY2(m_bus.waitForStarted() && m_bus.waitForReadyRead(10000), "dbus-daemon is needed");
    m_busAddress = QString::fromUtf8(m_bus.readLine().trimmed());
    // Before anything of the process asks for the session bus: its address is read once.
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());
}

void TestMainWindow::cleanupTestCase()
{
    m_bus.terminate();
    m_bus.waitForFinished();
}

void TestMainWindow::init()
{
    m_server = std::make_unique<FakeKestranaServer>(FakeKestranaState::sample());
    QVERIFY(m_server->start());
    WindowFixture::beginCase(m_home);
}

void TestMainWindow::cleanup()
{
    WindowFixture::endCase();
    m_server.reset();
}

std::unique_ptr<MainWindow> TestMainWindow::makeWindow(const QVariantMap& keys)
{
    return WindowFixture::openWindow(m_server->httpUrl(), keys);
}

void TestMainWindow::waitLoaded(MainWindow& window)
{
    QTRY_COMPARE(window.form()->tabDevices->model()->rowCount(), 2);
    QTRY_COMPARE(window.form()->tabServerInfo->model()->rowCount(), 2);
    QTRY_COMPARE(window.form()->txtEmail->text(), QStringLiteral("alice@example.org"));
}

void TestMainWindow::tabsBySetting_data()
{
    QTest::addColumn<QVariantMap>("keys");
    QTest::addColumn<QStringList>("tabs");

    QTest::newRow("all shown") << QVariantMap()
                               << QStringList { "tabJobs",       "tabDevices",    "tabScanJobs", "tabUserInfo",
                                                "tabSystemInfo", "tabServerInfo", "tabMessages" };
    QTest::newRow("server, device and scan off") << QVariantMap {
        { "setting/ShowServer", false }, { "setting/ShowDevice", false }, { "setting/supportScan", false }
    } << QStringList { "tabJobs", "tabUserInfo", "tabSystemInfo", "tabMessages" };
    QTest::newRow("everything off") << QVariantMap { { "setting/ShowServer", false },
                                                     { "setting/ShowDevice", false },
                                                     { "setting/supportScan", false },
                                                     { "setting/ShowUser", false },
                                                     { "setting/ShowSystem", false } }
                                    << QStringList { "tabJobs", "tabMessages" };
    QTest::newRow("system off only") << QVariantMap { { "setting/ShowSystem", false } }
                                     << QStringList { "tabJobs",     "tabDevices",    "tabScanJobs",
                                                      "tabUserInfo", "tabServerInfo", "tabMessages" };
}

void TestMainWindow::tabsBySetting()
{
    QFETCH(QVariantMap, keys);
    QFETCH(QStringList, tabs);
    auto window = makeWindow(keys);
    QVERIFY(window);

    QTabWidget* tabWidget = window->form()->tabWidget;
    QStringList shown;
    for (int i = 0; i < tabWidget->count(); ++i) {
        shown.append(tabWidget->widget(i)->objectName());
    }
    QCOMPARE(shown, tabs);

    // A page's count reaches its own tab, whichever tabs the settings removed before it.
    window->insertMsgToDb(window->userAccount(), QString(), QStringLiteral("one"), QString());
    QCOMPARE(tabWidget->tabText(tabs.size() - 1), QStringLiteral("Messages(1)"));
}

void TestMainWindow::costHiddenButFilled()
{
    auto window = makeWindow({ { "setting/ShowUser", true }, { "setting/ShowCost", false } });
    QVERIFY(window);
    Ui::MainWindow* ui = window->form();
    QVERIFY(ui->labBalance->isHidden());
    QVERIFY(ui->txtBalance->isHidden());
    QVERIFY(ui->labSpend->isHidden());
    QVERIFY(ui->txtSpend->isHidden());
    QVERIFY(!ui->txtCardNumber->isHidden());
    QTRY_COMPARE(ui->txtBalance->text(), QStringLiteral("42.5"));
    QCOMPARE(ui->txtSpend->text(), QStringLiteral("7.25"));
}

void TestMainWindow::largeScreen_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<bool>("large");
    QTest::newRow("3840x2160") << QSize(3840, 2160) << true;
    QTest::newRow("one pixel smaller") << QSize(3839, 2159) << false;
    QTest::newRow("wide only") << QSize(3840, 1080) << true;
    QTest::newRow("tall only") << QSize(1920, 2160) << true;
}

void TestMainWindow::largeScreen()
{
    QFETCH(QSize, screen);
    QFETCH(bool, large);
    QCOMPARE(ScreenFit::isLargeScreen(screen), large);
}

void TestMainWindow::statusStripAndIdentity()
{
    const QString httpsUrl = m_server->httpsUrl();
    QVERIFY(WindowFixture::loadSettings(httpsUrl, {}, QStringLiteral("alice")));
    ClientParts::shared().refreshAccount();
    MainWindow window(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    QCOMPARE(window.form()->labCurrentUser->text(), QStringLiteral("alice"));
    QCOMPARE(window.form()->labServerPath->text(), httpsUrl.mid(int(qstrlen("https://"))));
    QVERIFY(window.form()->frame->isHidden());
    QVERIFY(window.form()->labPinCode->textInteractionFlags() & Qt::TextSelectableByMouse);
    // The loads go over HTTPS with the certificate check relaxed.
    QTRY_COMPARE(window.form()->tabDevices->model()->rowCount(), 2);
    QVERIFY(m_server->lastRequest(QStringLiteral("/Device/BAS_DeviceStatusList")).https);
}

// A job the folder watcher reports starts a pass at once, and jobs reported during a pass get one more pass right
// after it (nothing is taken while logged out: tst_client_e2e). The job timer is stopped: no tick sends a job.
void TestMainWindow::reportedJobStartsPassAtOnce()
{
    m_server->updateState(ServerStates::removeNoCardNeeds);
    auto window = makeWindow();
    QVERIFY(window);
    waitLoaded(*window);
    JobQueue* queue = window->jobQueue();
    const QString folder = queue->jobPath();
    const auto drop = [&folder](const QString& base) {
        QFile params(folder + QLatin1Char('/') + base);
        if (!params.open(QIODevice::WriteOnly) || params.write("[PrintPara]\nDocName=" + base.toUtf8() + "\n") <= 0) {
            return false;
        }
        params.close();
        return PdfMaker::write(folder + QLatin1Char('/') + base + QStringLiteral(".pdf"), 1);
    };
    const auto confirmed = [this]() { return m_server->requestCount(QStringLiteral("/Job/BAS_UploadComplete")); };
    queue->initialCheck4JobPath();
    queue->jobTimer()->stop();
    bool secondDropped = false;
    connect(queue->submitter(), &JobSubmitter::submitStarted, this, [&]() {
        if (!secondDropped) {
            secondDropped = drop(QStringLiteral("second"));
            queue->jobArrived(folder);
        }
    });

    QVERIFY(drop(QStringLiteral("first")));
    queue->jobArrived(folder);
    QCOMPARE(confirmed(), 1);
    QVERIFY(secondDropped);
    queue->jobTimer()->stop();
    QTRY_COMPARE(confirmed(), 2);
}

void TestMainWindow::networkCheckBareAddress()
{
    auto window = makeWindow();
    QVERIFY(window);
    waitLoaded(*window);
    // A server address without a scheme is probed as "http://" + address.
    info()->setKsServerUrl(m_server->httpUrl().mid(int(qstrlen("http://"))));
    window->show_mainwindow();
    // The queue's notice of an outage goes away once the server answers again.
    window->reportServerUnreachable();
    const auto outageNotice = []() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box && box->isVisible() && box->text() == QLatin1String("Unable to link server")) {
                return true;
            }
        }
        return false;
    };
    QVERIFY(outageNotice());
    m_server->clearRequests();
    QVERIFY(window->checkNetworkState(false));
    QCOMPARE(m_server->requestCount(QStringLiteral("/")), 1);
    QVERIFY(Prompts::takeCaptured().isEmpty());
    QVERIFY(!outageNotice());
}

void TestMainWindow::networkCheckOffline()
{
    auto window = makeWindow();
    QVERIFY(window);
    waitLoaded(*window);
    OnlineState::setForcedForTests(0);
    Prompts::takeCaptured();
    m_server->clearRequests();

    QVERIFY(!window->checkNetworkState(false));
    QVERIFY(Prompts::takeCaptured().isEmpty());
    QVERIFY(!window->checkNetworkState(true));
    const auto boxes = Prompts::takeCaptured();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text, QStringLiteral("network is down"));
    QCOMPARE(boxes.first().icon, QMessageBox::Warning);
    QCOMPARE(m_server->requestCount(), 0);
}

void TestMainWindow::networkFailuresSwitchServer_data()
{
    QTest::addColumn<bool>("withList");
    QTest::newRow("server list") << true;
    QTest::newRow("empty list") << false;
}

void TestMainWindow::networkFailuresSwitchServer()
{
    QFETCH(bool, withList);
    FakeKestranaServer spare(FakeKestranaState::sample());
    QVERIFY(spare.start());

    auto window = makeWindow();
    QVERIFY(window);
    waitLoaded(*window);
    QCOMPARE(window->monitor().failureCount(), 0);
    // The site list load filled the list with this server; replace it with the spare (bare address).
    ClientParts::shared().session.setServerList(withList ? QStringList { spare.httpUrl().mid(int(qstrlen("http://"))) }
                                                         : QStringList());
    m_server->stop();
    Prompts::takeCaptured();

    QVERIFY(!window->checkNetworkState(false));
    QVERIFY(!window->checkNetworkState(false));
    QCOMPARE(spare.requestCount(), 0);
    QCOMPARE(window->monitor().failureCount(), 2);

    QVERIFY(!window->checkNetworkState(true));
    const auto boxes = Prompts::takeCaptured();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text, QStringLiteral("Unable to link server"));

    if (withList) {
        QCOMPARE(spare.requestCount(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew")), 1);
        QCOMPARE(window->serverUrl(), spare.httpUrl());
        QCOMPARE(info()->ksServerUrl(), spare.httpUrl());
        QCOMPARE(WindowFixture::iniValue(QStringLiteral("Login/KsServerUrl")).toString(), spare.httpUrl());
        QCOMPARE(window->form()->labServerPath->text(), spare.httpUrl().mid(int(qstrlen("http://"))));
        QCOMPARE(window->monitor().failureCount(), 0);
        // The tabs were reloaded from the new server.
        QTRY_VERIFY(spare.requestCount(QStringLiteral("/Device/BAS_DeviceStatusList")) > 0);
    } else {
        QCOMPARE(spare.requestCount(), 0);
        QCOMPARE(window->monitor().failureCount(), 3);
        QCOMPARE(window->serverUrl(), m_server->httpUrl());
    }
}

void TestMainWindow::noAnswerShowsOfflineAtOnce_data()
{
    QTest::addColumn<QString>("request");
    QTest::newRow("job list, connection closed") << "list";
    QTest::newRow("scan jobs, connection closed") << "scan";
    QTest::newRow("job status poll, server stopped") << "status";
}

void TestMainWindow::noAnswerShowsOfflineAtOnce()
{
    QFETCH(QString, request);
    auto window = makeWindow();
    QVERIFY(window);
    waitLoaded(*window);
    Ui::MainWindow* ui = window->form();
    QTRY_COMPARE(ui->tabScanJobs->model()->rowCount(), 2);
    window->showSystemTrayIcon();
    QVERIFY(window->monitor().isOnline());
    QVERIFY(ui->tabJobs->contentAgeNotice()->isHidden());

    TabPage* page = request == QLatin1String("scan") ? static_cast<TabPage*>(ui->tabScanJobs) : ui->tabJobs;
    QSignalSpy answered(page, &TabPage::captionChanged);
    if (request == QLatin1String("list")) {
        m_server->setOverride(QStringLiteral("/Job/BAS_JobStausList"), FakeReply::closeMidBody("{\"code\":0,"));
        page->load();
    } else if (request == QLatin1String("scan")) {
        m_server->setOverride(QStringLiteral("/Job/BAS_ScanJobList"), FakeReply::closeMidBody("{\"code\":0,"));
        page->load();
    } else {
        window->form()->tabJobs->setCurrentJobId(QStringLiteral("1"));
        m_server->stop();
        window->form()->tabJobs->getJobStatusInfo();
    }
    QVERIFY(answered.wait());

    // Straight from the failed answer, with no check of the server or timer in between.
    QVERIFY(!window->monitor().isOnline());
    QVERIFY(ui->labNetwork->text().startsWith(QStringLiteral("offline")));
    QVERIFY(window->trayIcon()->toolTip().contains(QStringLiteral("offline")));
    // The tables keep what they showed and say since when it dates; the stored messages are the client's own.
    QCOMPARE(ui->tabScanJobs->model()->rowCount(), 2);
    for (TabPage* shown : std::initializer_list<TabPage*> { ui->tabJobs, ui->tabScanJobs, ui->tabDevices }) {
        QVERIFY(!shown->contentAgeNotice()->isHidden());
        QVERIFY(
            shown->contentAgeNotice()->text().startsWith(QStringLiteral("Offline: shown as the server sent it at ")));
    }
    QVERIFY(!ui->tabMessages->contentAgeNotice());
}

void TestMainWindow::logoutEffects()
{
    m_server->updateState([](FakeKestranaState& s) {
        FakeKestranaState::Job job;
        job.account = QStringLiteral("alice");
        job.jobName = QStringLiteral("report.pdf");
        job.statusId = 1;
        job.submitTime = QDateTime::currentDateTime();
        s.addJob(job);
    });
    auto window = makeWindow({ { "setting/DateTime", "2024-05-01 10:00:00" } });
    QVERIFY(window);
    waitLoaded(*window);
    QTRY_COMPARE(window->form()->tabJobs->model()->rowCount(), 1);
    window->insertMsgToDb(QStringLiteral("alice"), QString(), QStringLiteral("one"), QString());
    window->insertMsgToDb(QStringLiteral("bob"), QString(), QStringLiteral("someone else's"), QString());
    QCOMPARE(window->form()->tabMessages->model()->rowCount(), 1);
    window->form()->tabJobs->getPinCodeInfo();
    QTRY_COMPARE(window->form()->labPinCode->text(), QStringLiteral("482913"));
    window->form()->labGenState->setText(QStringLiteral("generated"));
    window->showSystemTrayIcon();
    window->form()->tabJobs->jobStatusTimer()->start(60000);

    QSignalSpy closeSpy(window.get(), &MainWindow::closeMain);
    QSignalSpy loginSpy(window.get(), &MainWindow::loginshow);
    QStringList order;
    connect(window.get(), &MainWindow::closeMain, this, [&]() { order << QStringLiteral("closeMain"); });
    connect(window.get(), &MainWindow::loginshow, this, [&]() { order << QStringLiteral("loginshow"); });
    m_server->clearRequests();

    window->logoutBtn_clicked();

    Ui::MainWindow* ui = window->form();
    QVERIFY(ui->labPinCode->text().isEmpty());
    QVERIFY(ui->labExpTime->text().isEmpty());
    QVERIFY(ui->labPinCodeState->text().isEmpty());
    QVERIFY(ui->labGenState->text().isEmpty());
    QCOMPARE(WindowFixture::iniValue(QStringLiteral("setting/DateTime")).toString(), QString());
    QVERIFY(info()->dateTime().isEmpty());
    QCOMPARE(order, (QStringList { QStringLiteral("closeMain"), QStringLiteral("loginshow") }));
    QVERIFY(!ClientParts::shared().session.isLogin());
    QVERIFY(!info()->isBingoLastTime());
    QCOMPARE(window->form()->tabJobs->model()->rowCount(), 0);
    QCOMPARE(window->form()->tabMessages->model()->rowCount(), 0);
    QCOMPARE(storedMessageCount(), 0); // every account's messages
    QVERIFY(!window->trayIcon()->isVisible());
    QVERIFY(!window->form()->tabJobs->jobStatusTimer()->isActive());
    QVERIFY(!window->jobIntakeRunning());

    const FakeRequest logout = m_server->lastRequest(QStringLiteral("/Orvinaweb/BAS_ClientLogOutNew"));
    QCOMPARE(logout.method, QByteArray("POST"));
    QCOMPARE(logout.body, QByteArray("UserAccount=alice&Type=0"));
    QCOMPARE(logout.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(m_server->state().loggedOut, QStringList { QStringLiteral("alice") });
    QVERIFY(!capturedContaining(QStringLiteral("login out success")).isEmpty());
}

void TestMainWindow::showAgainAfterLogout()
{
    auto window = makeWindow();
    QVERIFY(window);
    waitLoaded(*window);
    window->logoutBtn_clicked();
    QVERIFY(!window->isVisible());

    // Log in again, as bob.
    info()->setUserName(QStringLiteral("bob"));
    ClientParts::shared().session.setIsLogin(true);
    QSignalSpy iniSpy(window.get(), &MainWindow::iniMain);
    window->show_mainwindow();
    QCOMPARE(iniSpy.count(), 1);
    QCOMPARE(iniSpy.first().first().value<QWidget*>(), window.get());
    QVERIFY(window->isVisible());
    QVERIFY(window->trayIcon()->isVisible());
    QCOMPARE(window->form()->labCurrentUser->text(), QStringLiteral("bob"));
    QCOMPARE(window->userAccount(), QStringLiteral("bob"));
    QCOMPARE(window->form()->tabWidget->currentIndex(), 0);
    QVERIFY(window->jobIntakeRunning());
    QTRY_COMPARE(
        m_server->lastRequest(QStringLiteral("/User/BAS_UserPermission")).queryItem(QStringLiteral("UserAccount")),
        QStringLiteral("bob"));
}

void TestMainWindow::messagesNewestFirstAndQuotes()
{
    auto window = makeWindow();
    QVERIFY(window);
    window->insertMsgToDb(QStringLiteral("alice"), QString(), QStringLiteral("older"),
                          QStringLiteral("2024-01-01 08:00:00"));
    window->insertMsgToDb(QStringLiteral("alice"), QString(), QStringLiteral("job [it's mine] deleted"),
                          QStringLiteral("2024-03-01 08:00:00"));
    window->insertMsgToDb(QStringLiteral("ALICE"), QString(), QStringLiteral("middle"),
                          QStringLiteral("2024-02-01 08:00:00"));
    window->insertMsgToDb(QStringLiteral("bob"), QString(), QStringLiteral("not alice's"), QString());

    QStandardItemModel* model = window->form()->tabMessages->model();
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("job [it's mine] deleted"));
    QCOMPARE(model->index(1, 1).data().toString(), QStringLiteral("middle"));
    QCOMPARE(model->index(2, 1).data().toString(), QStringLiteral("older"));
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("2024-03-01 08:00:00"));
    QVERIFY(window->form()->tvMsg->isColumnHidden(2));
    const int last = window->form()->tabWidget->count() - 1;
    QCOMPARE(window->form()->tabWidget->tabText(last), QStringLiteral("Messages(3)"));
}

void TestMainWindow::messagesInsertedInPlaceAsStored()
{
    auto window = makeWindow();
    QVERIFY(window);
    QStandardItemModel* model = window->form()->tabMessages->model();
    const auto rows = [model]() {
        QStringList texts;
        for (int row = 0; row < model->rowCount(); ++row) {
            texts << model->index(row, 0).data().toString() + QLatin1Char('|') + model->index(row, 1).data().toString()
                    + QLatin1Char('|') + model->index(row, 2).data().toString();
        }
        return texts;
    };
    // Past, future and current dates, equal dates, the account in other cases and another account, past the cap
    // of 50 so the oldest rows go.
    const QStringList dates { QStringLiteral("2024-05-01 08:00:00"), QString(), QStringLiteral("2999-01-01 00:00:00"),
                              QStringLiteral("2024-05-01 08:00:00"), QStringLiteral("2000-01-01 00:00:00") };
    const QStringList accounts { QStringLiteral("alice"), QStringLiteral("ALICE"), QStringLiteral("bob"),
                                 QStringLiteral("Alice") };
    for (int i = 0; i < 57; ++i) {
        window->insertMsgToDb(accounts.at(i % accounts.size()), QString(), QStringLiteral("m%1").arg(i),
                              dates.at(i % dates.size()));
    }
    const QStringList inPlace = rows();
    QCOMPARE(inPlace.size(), 43); // three of every four
    const int last = window->form()->tabWidget->count() - 1;
    QCOMPARE(window->form()->tabWidget->tabText(last), QStringLiteral("Messages(43)"));
    for (int i = 57; i < 80; ++i) {
        window->insertMsgToDb(QStringLiteral("alice"), QString(), QStringLiteral("m%1").arg(i), dates.at(i % 5));
    }
    QCOMPARE(model->rowCount(), 50);
    QCOMPARE(window->form()->tabWidget->tabText(last), QStringLiteral("Messages(50)"));
    const QStringList capped = rows();
    window->form()->tabMessages->load();
    QCOMPARE(capped, rows());
}

void TestMainWindow::messagesDeleteSelectedInOneStatement()
{
    auto window = makeWindow();
    QVERIFY(window);
    for (int i = 0; i < 4; ++i) {
        window->insertMsgToDb(QStringLiteral("alice"), QString(), QStringLiteral("m%1").arg(i),
                              QStringLiteral("2024-01-0%1 08:00:00").arg(i + 1));
    }
    window->insertMsgToDb(QStringLiteral("bob"), QString(), QStringLiteral("it's bob's"), QString());
    QTableView* view = window->form()->tvMsg;
    QStandardItemModel* model = window->form()->tabMessages->model();
    QStringList ids;
    for (int row : { 0, 1, 3 }) {
        view->selectionModel()->select(model->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        ids << model->index(row, 2).data().toString();
    }
    Logging::takeCaptured();

    QTest::mouseClick(window->form()->btnDeleteMsg, Qt::LeftButton);

    const QStringList lines = capturedContaining(QStringLiteral("msgDelBtn_clicked: "));
    QCOMPARE(lines.size(), 1);
    QCOMPARE(
        lines.first(),
        QStringLiteral("msgDelBtn_clicked: DELETE FROM Message WHERE msgId IN(%1);").arg(ids.join(QLatin1Char(','))));
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("m1"));
    QCOMPARE(storedMessageCount(QStringLiteral(" WHERE usrAccount = 'bob'")), 1);
    QVERIFY(Prompts::takeCaptured().isEmpty()); // no confirmation for deleting selected rows
}

void TestMainWindow::messagesDeleteNothingSelected()
{
    auto window = makeWindow();
    QVERIFY(window);
    window->insertMsgToDb(QStringLiteral("alice"), QString(), QStringLiteral("kept"), QString());
    QTest::mouseClick(window->form()->btnDeleteMsg, Qt::LeftButton);
    const auto boxes = Prompts::takeCaptured();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text, QStringLiteral("Please select data"));
    QCOMPARE(boxes.first().icon, QMessageBox::Information);
    QCOMPARE(storedMessageCount(), 1);
}

void TestMainWindow::messagesClear_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("asked");
    QTest::addColumn<int>("left");
    QTest::newRow("empty table asks nothing") << 0 << int(QMessageBox::Yes) << 0 << 1;
    QTest::newRow("yes clears every account") << 2 << int(QMessageBox::Yes) << 1 << 0;
    QTest::newRow("no keeps them") << 2 << int(QMessageBox::No) << 1 << 3;
}

void TestMainWindow::messagesClear()
{
    QFETCH(int, rows);
    QFETCH(int, answer);
    QFETCH(int, asked);
    QFETCH(int, left);
    auto window = makeWindow();
    QVERIFY(window);
    for (int i = 0; i < rows; ++i) {
        window->insertMsgToDb(QStringLiteral("alice"), QString(), QStringLiteral("m%1").arg(i), QString());
    }
    window->insertMsgToDb(QStringLiteral("bob"), QString(), QStringLiteral("bob's"), QString());
    Prompts::takeCaptured();
    Prompts::setNextAnswer(QMessageBox::StandardButton(answer));

    QTest::mouseClick(window->form()->btnClear, Qt::LeftButton);

    const auto boxes = Prompts::takeCaptured();
    QCOMPARE(boxes.size(), asked);
    if (asked) {
        QCOMPARE(boxes.first().title, QStringLiteral("Confirmation"));
        QCOMPARE(boxes.first().text, QStringLiteral("Do you want to clear the data?"));
    }
    QCOMPARE(storedMessageCount(), left);
}

void TestMainWindow::pinCode_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("expiry");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("logged");

    QTest::newRow("valid") << QByteArray(
        R"({"code":0,"data":{"PinCode":"1234","ExpiryTime":"2030-01-31T18:30:00","IsExpired":false}})")
                           << "1234"
                           << "2030-01-31 18:30:00"
                           << ""
                           << "";
    QTest::newRow("every T replaced") << QByteArray(
        R"({"code":0,"data":{"PinCode":"77","ExpiryTime":"T1T2","IsExpired":true}})")
                                      << "77"
                                      << " 1 2"
                                      << "Expired"
                                      << "";
    QTest::newRow("refused keeps labels") << QByteArray(R"({"code":3,"message":"No pin code"})") << "old"
                                          << "old-exp"
                                          << "old-state"
                                          << "###### [getPinCodeInfo] userAccount [alice] fail errMsg No pin code";
    QTest::newRow("not JSON keeps labels") << QByteArray("<html>404</html>") << "old"
                                           << "old-exp"
                                           << "old-state"
                                           << "###### [getPinCodeInfo] userAccount [alice] request fail";
}

void TestMainWindow::pinCode()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, code);
    QFETCH(QString, expiry);
    QFETCH(QString, state);
    QFETCH(QString, logged);
    auto window = makeWindow();
    QVERIFY(window);
    Ui::MainWindow* ui = window->form();
    ui->labPinCode->setText(QStringLiteral("old"));
    ui->labExpTime->setText(QStringLiteral("old-exp"));
    ui->labPinCodeState->setText(QStringLiteral("old-state"));
    m_server->setOverride(QStringLiteral("/User/BAS_GetPinCodeByAccount"), FakeReply::raw(answer));
    Logging::takeCaptured();
    Prompts::takeCaptured();

    window->form()->tabJobs->getPinCodeInfo();

    // The answer is handled once the labels change or the failure is logged.
    QStringList lines;
    QTRY_VERIFY((lines += capturedContaining(QStringLiteral("[getPinCodeInfo]")),
                 logged.isEmpty() ? ui->labPinCode->text() == code : !lines.isEmpty()));
    QCOMPARE(ui->labPinCode->text(), code);
    QCOMPARE(ui->labExpTime->text(), expiry);
    QCOMPARE(ui->labPinCodeState->text(), state);
    QCOMPARE(lines, logged.isEmpty() ? QStringList() : QStringList { logged });
    QVERIFY(Prompts::takeCaptured().isEmpty());
    QCOMPARE(m_server->lastRequest(QStringLiteral("/User/BAS_GetPinCodeByAccount")).query,
             QByteArray("UserAccount=alice"));
}

void TestMainWindow::returnEnterAndSpaceInEveryBox_data()
{
    QTest::addColumn<RaiseBox>("raise");
    QTest::addColumn<QString>("pressed"); // by Return, Enter and Space
    QTest::addColumn<QString>("escape"); // what the caller gets for Escape, when it gets anything
    const QString yes = QStringLiteral("Yes");
    const QString no = QStringLiteral("No");
    const auto answered = [](bool yes) { return yes ? QStringLiteral("Yes") : QStringLiteral("No"); };

    // A key never throws a job away: the job's questions keep it.
    QTest::newRow("Existed jobs found") << RaiseBox([](MainWindow& w) {
        const auto choice = w.askExistingJobs(QStringLiteral("KestranaClient V1.0.0"), 2);
        return choice == JobHost::ExistingJobsChoice::Submit ? QStringLiteral("Submit")
            : choice == JobHost::ExistingJobsChoice::Discard ? QStringLiteral("Discard")
                                                             : QStringLiteral("(closed)");
    }) << QStringLiteral("Submit") << QStringLiteral("(closed)");
    QTest::newRow("colour question") << RaiseBox([answered](MainWindow& w) {
        return answered(
            w.askConfirmation(QStringLiteral("You are not allowed to submit color homework. Do you want to submit it?"),
                              QStringLiteral("report.pdf")));
    }) << yes << no;
    QTest::newRow("single-sided question") << RaiseBox([answered](MainWindow& w) {
        return answered(w.askConfirmation(
            QStringLiteral("You are not allowed to submit single-sided operation. Do you want to submit it?"),
            QStringLiteral("report.pdf")));
    }) << yes << no;
    QTest::newRow("no-card print dialog") << RaiseBox([answered](MainWindow& w) {
        NoCardChoice choice;
        KsPrinter printer;
        printer.deviceName = QStringLiteral("Floor 2");
        choice.printers << printer;
        return answered(w.askNoCardChoice(&choice));
    }) << yes << no;
    QTest::newRow("page limit warning") << RaiseBox([](MainWindow& w) {
        w.showWarning(QStringLiteral("Page number of print job [a.pdf] exceeds [1000] limit"));
        return QString();
    }) << yes << QString();
    QTest::newRow("Unable to link server (jobs kept)") << RaiseBox([](MainWindow& w) {
        w.reportServerUnreachable();
        return QString();
    }) << yes << QString();
    // Nor does a key delete anything: the questions before a deletion or a switch answer "No".
    QTest::newRow("cancel selected jobs") << RaiseBox([](MainWindow& w) {
        w.form()->tvJobs->selectRow(0);
        QTest::mouseClick(w.form()->btnDelete, Qt::LeftButton);
        return QString();
    }) << no << QString();
    QTest::newRow("delete selected scan jobs") << RaiseBox([](MainWindow& w) {
        w.form()->tvScanJobs->selectRow(0);
        QTest::mouseClick(w.form()->btnDeleteScanJob, Qt::LeftButton);
        return QString();
    }) << no << QString();
    QTest::newRow("clear messages") << RaiseBox([](MainWindow& w) {
        w.insertMsgToDb(QStringLiteral("alice"), QString(), QStringLiteral("kept"), QString());
        QTest::mouseClick(w.form()->btnClear, Qt::LeftButton);
        return QString();
    }) << no << QString();
    QTest::newRow("switch the server") << RaiseBox([](MainWindow& w) {
        w.form()->tvServerInfo->selectRow(0);
        QTest::mouseClick(w.form()->btnSwitchServer, Qt::LeftButton);
        return QString();
    }) << no << QString();
    QTest::newRow("update package saved") << RaiseBox([](MainWindow& w) {
        QTest::mouseClick(w.form()->btnCheckUpdate, Qt::LeftButton);
        if (QTest::qWaitFor([&w]() { return w.form()->btnAutoUpdate->isEnabled(); }, 5000)) {
            w.downloads()->setSaveFileChooser(
                [](const QString& name) -> QString { return qEnvironmentVariable("HOME") + QLatin1Char('/') + name; });
            QTest::mouseClick(w.form()->btnAutoUpdate, Qt::LeftButton);
        }
        return QString();
    }) << no << QString();
}

// Each box with its real window flags, answered from the keyboard: Return, Enter and Space go to whatever has
// the focus, and the caller gets the answer of the button that took the key.
void TestMainWindow::returnEnterAndSpaceInEveryBox()
{
    QFETCH(RaiseBox, raise);
    QFETCH(QString, pressed);
    m_server->updateState([](FakeKestranaState& s) {
        FakeKestranaState::Job job;
        job.account = QStringLiteral("alice");
        job.jobName = QStringLiteral("report.pdf");
        s.addJob(job);
    });
    auto window = makeWindow();
    QVERIFY(window);
    window->show();
    waitLoaded(*window);
    QTRY_COMPARE(window->form()->tabJobs->model()->rowCount(), 1);
    Prompts::stopCapture();
    QFETCH(QString, escape);
    // In the no-card dialog the focus is on the printer list, whose own key Space is.
    const bool list = QByteArray(QTest::currentDataTag()) == "no-card print dialog";
    QList<Qt::Key> keys { Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape };
    if (!list) {
        keys << Qt::Key_Space;
    }
    for (const Qt::Key key : keys) {
        QString outcome;
        const QString button = pressKeyInBox(
            *window, [&](MainWindow& w) { outcome = raise(w); }, key);
        const QString what
            = QStringLiteral("key %1: button \"%2\", answer \"%3\"").arg(key, 0, 16).arg(button, outcome);
        if (key == Qt::Key_Escape) {
            // Escape closes every box; a question reads it as its cautious answer, the start-up one as none.
            QVERIFY2(button != QLatin1String("(the box stayed open)") && (escape.isEmpty() || outcome == escape),
                     qPrintable(what));
        } else {
            QVERIFY2(button == pressed && (outcome.isEmpty() || outcome == pressed), qPrintable(what));
        }
    }
}

void TestMainWindow::closeOnlyHides()
{
    auto window = makeWindow();
    QVERIFY(window);
    window->show();
    QVERIFY(!window->trayIcon());
    QVERIFY(!window->close());
    QVERIFY(!window->isVisible());
    QVERIFY(window->trayIcon());
    QVERIFY(window->trayIcon()->isVisible());
    const QList<QAction*> actions = window->trayIcon()->contextMenu()->actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions.at(0)->text(), QStringLiteral("show main UI"));
    QVERIFY(actions.at(1)->isSeparator());
    QCOMPARE(actions.at(2)->text(), QStringLiteral("exit"));

    actions.at(0)->trigger();
    QVERIFY(window->isVisible());
}

void TestMainWindow::noTrayNoticesGoToTheDesktop()
{
    FakeNotifications service;
    QDBusConnection bus = QDBusConnection::connectToBus(m_busAddress, QStringLiteral("notification-service"));
    QVERIFY(bus.isConnected());
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                               QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    DesktopNotices::setTrayAvailableForTests(0);
    m_server->setOverride(QStringLiteral("/Job/BAS_GetJobStatusInfo"),
                          FakeReply::envelope(0, QStringLiteral("success"),
                                              QJsonObject { { "JobName", "report.pdf" }, { "Status", 5 } }));
    auto window = makeWindow();
    QVERIFY(window);
    window->show();
    window->init(true);

    // The job the status poll follows is done: the user hears of it from the desktop.
    window->form()->tabJobs->setCurrentJobId(QStringLiteral("7"));
    window->form()->tabJobs->getJobStatusInfo();
    QTRY_COMPARE(service.received.size(), 1);
    QCOMPARE(service.received.first(), (QStringList { "HalcyraClient", "Job submitted success", "report.pdf" }));

    // Closing the window (as the window manager asks) leaves it in the task bar: hidden, nothing could bring it
    // back. The client's own close at logout still hides it.
    QCloseEvent closeByWindowManager; // delivered to the platform window, as the window manager's request is
    QCoreApplication::sendEvent(window->windowHandle(), &closeByWindowManager);
    QVERIFY(window->isVisible());
    QVERIFY(window->isMinimized());
    QVERIFY(!window->close());
    QVERIFY(!window->isVisible());
}

void TestMainWindow::hiddenTaskBalloonDoesNotBlock()
{
    auto window = makeWindow({ { "setting/HidTask", true } });
    QVERIFY(window);
    window->showSystemTrayIcon();
    QVERIFY(!window->trayIcon()->isVisible());
    auto* hideTimer = window->findChild<QTimer*>(QStringLiteral("trayHideTimer"));
    QVERIFY(hideTimer);
    QCOMPARE(hideTimer->interval(), TrayIcon::kHiddenBalloonMs);
    hideTimer->setInterval(50); // the balloon's own time is not what is tested here

    window->showSystemMessage(QStringLiteral("Job submitted to KS"), QStringLiteral("report.pdf"));
    // Back at once, with the icon up for the balloon; it goes away by itself afterwards.
    QVERIFY(window->trayIcon()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!window->trayIcon()->isVisible(), 10000);

    // A new login does not bring the icon back either.
    window->show_mainwindow();
    QVERIFY(!window->trayIcon()->isVisible());
}

void TestMainWindow::exitClearsMessagesAndEndsLoop()
{
    auto window = makeWindow();
    QVERIFY(window);
    window->insertMsgToDb(QStringLiteral("alice"), QString(), QStringLiteral("a"), QString());
    window->insertMsgToDb(QStringLiteral("bob"), QString(), QStringLiteral("b"), QString());
    window->showSystemTrayIcon();

    QEventLoop loop;
    QTimer::singleShot(20000, &loop, [&]() { loop.exit(1); }); // only if the exit never came
    QTimer::singleShot(0, window.get(), [&]() { window->trayIcon()->contextMenu()->actions().at(2)->trigger(); });
    QCOMPARE(loop.exec(), 0);
    QCOMPARE(storedMessageCount(), 0);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
