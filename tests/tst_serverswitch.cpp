#include "ClientParts.h"
// The server tab, the user's switch to another site, the automatic switch after repeated failures, and
// the server chooser dialog, with several fake servers standing in for the sites.
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
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"
#include "ui/Prompts.h"
#include "ui/ServerDialog.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTimer>

namespace {
LoginInfo* info()
{
    return Singleton<LoginInfo>::getInstance();
}

QString bare(const QString& url)
{
    return url.mid(url.indexOf(QLatin1String("://")) + 3);
}

using WindowFixture::capturedContaining;

QStringList boxTexts()
{
    QStringList texts;
    for (const Prompts::Record& box : Prompts::takeCaptured()) {
        texts << box.text;
    }
    return texts;
}
} // namespace

class TestServerSwitch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void siteList();
    void siteListRefused_data();
    void siteListRefused();

    void userSwitch_data();
    void userSwitch();
    void userSwitchNeedsSelectionAndYes();

    void automaticSwitch_data();
    void automaticSwitch();
    void logoutNeverSwitches();

    void serverDialogChoice_data();
    void serverDialogChoice();
    void serverDialogFailedList_data();
    void serverDialogFailedList();
    void loginDialogServerAction();

private:
    std::unique_ptr<MainWindow> makeWindow();
    int rowOf(MainWindow& window, const QString& siteUrl) const;

    TestHome m_home;
    std::unique_ptr<FakeKestranaServer> m_main; // the server the user is logged in to
    std::unique_ptr<FakeKestranaServer> m_branch; // another site that works
    std::unique_ptr<FakeKestranaServer> m_refusing; // a site that answers but refuses the login
    QString m_dead; // a site that does not answer
};

void TestServerSwitch::init()
{
    m_main = std::make_unique<FakeKestranaServer>(FakeKestranaState::sample());
    m_branch = std::make_unique<FakeKestranaServer>(FakeKestranaState::sample());
    FakeKestranaState refusing = FakeKestranaState::sample();
    refusing.loginRefusal = { 1, QStringLiteral("Account locked") };
    m_refusing = std::make_unique<FakeKestranaServer>(refusing);
    QVERIFY(m_main->start());
    QVERIFY(m_branch->start());
    QVERIFY(m_refusing->start());
    m_dead = WindowFixture::deadServerUrl();
    const QString branch = m_branch->httpUrl();
    const QString refusingUrl = m_refusing->httpUrl();
    const QString dead = m_dead;
    m_main->updateState([&](FakeKestranaState& s) {
        s.sites.clear();
        s.sites.append({ QStringLiteral("{server}"), "10.0.0.1", "10.0.0.254", "Head office", "Building A" });
        s.sites.append({ branch, "10.1.0.1", "10.1.0.254", "Branch", "Building B" });
        s.sites.append({ bare(branch), "10.2.0.1", "10.2.0.254", "Branch (bare)", "Building B" });
        s.sites.append({ refusingUrl, "10.3.0.1", "10.3.0.254", "Locked site", "Building C" });
        s.sites.append({ dead, "10.4.0.1", "10.4.0.254", "Closed site", "Nowhere" });
    });
    WindowFixture::beginCase(m_home);
}

void TestServerSwitch::cleanup()
{
    WindowFixture::endCase();
    m_main.reset();
    m_branch.reset();
    m_refusing.reset();
}

std::unique_ptr<MainWindow> TestServerSwitch::makeWindow()
{
    return WindowFixture::openWindow(m_main->httpUrl(), QVariantMap(), [](MainWindow& window) {
        return window.form()->tabServerInfo->model()->rowCount() == 5;
    });
}

int TestServerSwitch::rowOf(MainWindow& window, const QString& siteUrl) const
{
    QStandardItemModel* model = window.form()->tabServerInfo->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, 0).data().toString() == siteUrl) {
            return row;
        }
    }
    return -1;
}

void TestServerSwitch::siteList()
{
    auto window = makeWindow();
    QVERIFY(window);
    QStandardItemModel* model = window->form()->tabServerInfo->model();
    QCOMPARE(model->index(0, 0).data().toString(), m_main->httpUrl());
    QCOMPARE(model->index(1, 1).data().toString(), QStringLiteral("Branch"));
    QCOMPARE(model->index(1, 2).data().toString(), QStringLiteral("Building B"));
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Location"));
    QCOMPARE(window->form()->tvServerInfo->columnWidth(1), 200);
    QCOMPARE(ClientParts::shared().session.serverList(),
             (QStringList { m_main->httpUrl(), m_branch->httpUrl(), bare(m_branch->httpUrl()), m_refusing->httpUrl(),
                            m_dead }));
    QCOMPARE(window->form()->tabWidget->tabText(5), QStringLiteral("ServerInfo(5)"));
    // The request carries a timestamp and its signature (the server checked it, or there would be no rows).
    const FakeRequest request = m_main->lastRequest(QStringLiteral("/KSS/GetIPSegment"));
    QVERIFY(QRegularExpression(QStringLiteral("^Timestamp=\\d{14}&Signature=[0-9A-F]{32}$"))
                .match(QString::fromLatin1(request.query))
                .hasMatch());
}

void TestServerSwitch::siteListRefused_data()
{
    QTest::addColumn<bool>("wrongSignature");
    QTest::newRow("signature refused") << true;
    QTest::newRow("Status 0") << false;
}

void TestServerSwitch::siteListRefused()
{
    QFETCH(bool, wrongSignature);
    auto window = makeWindow();
    QVERIFY(window);
    const QStringList listBefore = ClientParts::shared().session.serverList();
    if (wrongSignature) {
        m_main->updateState([](FakeKestranaState& s) { s.signingSalt = QStringLiteral("0000000000000"); });
    } else {
        m_main->setOverride(
            QStringLiteral("/KSS/GetIPSegment"),
            FakeReply::json(QJsonObject { { "Status", 0 }, { "message", "Signature verification failed" } }));
    }
    Logging::takeCaptured();
    window->form()->tabWidget->setTabText(5, QStringLiteral("pending"));

    window->form()->tabServerInfo->load();

    QTRY_COMPARE(window->form()->tabWidget->tabText(5), QStringLiteral("ServerInfo(5)"));
    QCOMPARE(window->form()->tabServerInfo->model()->rowCount(), 5);
    QCOMPARE(ClientParts::shared().session.serverList(), listBefore);
    QCOMPARE(capturedContaining(QStringLiteral("[mainwindow.loadServerData]")),
             QStringList { QStringLiteral("[mainwindow.loadServerData] fail message:Signature verification failed") });
}

void TestServerSwitch::userSwitch_data()
{
    QTest::addColumn<QString>("site"); // which row: branch, bare, refusing, dead
    QTest::newRow("branch") << "branch";
    QTest::newRow("address without scheme") << "bare";
    QTest::newRow("login refused") << "refusing";
    QTest::newRow("unreachable") << "dead";
}

void TestServerSwitch::userSwitch()
{
    QFETCH(QString, site);
    auto window = makeWindow();
    QVERIFY(window);
    QString rowUrl = m_branch->httpUrl();
    QString used = m_branch->httpUrl();
    QString name = QStringLiteral("Branch");
    if (site == QLatin1String("bare")) {
        rowUrl = bare(m_branch->httpUrl());
        name = QStringLiteral("Branch (bare)");
    } else if (site == QLatin1String("refusing")) {
        rowUrl = used = m_refusing->httpUrl();
        name = QStringLiteral("Locked site");
    } else if (site == QLatin1String("dead")) {
        rowUrl = used = m_dead;
        name = QStringLiteral("Closed site");
    }
    const int row = rowOf(*window, rowUrl);
    QVERIFY(row >= 0);
    window->form()->tvServerInfo->selectRow(row);
    QSignalSpy loginShown(window.get(), &MainWindow::loginshow);
    Prompts::takeCaptured();
    Prompts::setNextAnswer(QMessageBox::Yes);
    const bool fails = site == QLatin1String("dead") || site == QLatin1String("refusing");
    const QVariant iniNameBefore = WindowFixture::iniValue(QStringLiteral("Login/KsServerName"));
    const QString nameBefore = info()->ksServerName();

    QTest::mouseClick(window->form()->btnSwitchServer, Qt::LeftButton);

    // A switch that fails leaves the server in use as it was, in the file, the settings and the API.
    const QString now = fails ? m_main->httpUrl() : used;
    // (The failed switch's logout saves the settings: the file then names the server in use.)
    QCOMPARE(WindowFixture::iniValue(QStringLiteral("Login/KsServerUrl")).toString(), now);
    QCOMPARE(WindowFixture::iniValue(QStringLiteral("Login/KsServerName")), fails ? iniNameBefore : QVariant(name));
    QCOMPARE(info()->ksServerUrl(), now);
    QCOMPARE(info()->ksServerName(), fails ? nameBefore : name);
    QCOMPARE(ClientParts::shared().api.account().serverUrl, now);
    const QStringList boxes = boxTexts();
    QCOMPARE(boxes.value(0), QStringLiteral("Do you want to switch the Server?"));
    if (site == QLatin1String("dead")) {
        QCOMPARE(boxes.mid(1), QStringList { QStringLiteral("ks server link ex") });
        QCOMPARE(loginShown.count(), 1);
        QVERIFY(!ClientParts::shared().session.isLogin());
    } else if (site == QLatin1String("refusing")) {
        QCOMPARE(boxes.mid(1), QStringList { QStringLiteral("Switch server fail") });
        QCOMPARE(m_refusing->requestCount(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew")), 1);
        QCOMPARE(loginShown.count(), 1);
    } else {
        QCOMPARE(boxes.mid(1), QStringList { QStringLiteral("Switch server success") });
        QCOMPARE(loginShown.count(), 0);
        QCOMPARE(m_branch->requestCount(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew")), 1);
        QCOMPARE(window->serverUrl(), used);
        QCOMPARE(window->form()->labServerPath->text(), bare(used));
        // Everything is reloaded from the new site.
        QTRY_VERIFY(m_branch->requestCount(QStringLiteral("/KSS/GetIPSegment")) > 0);
        QTRY_VERIFY(m_branch->requestCount(QStringLiteral("/Job/BAS_JobStausList")) > 0);
        QTRY_COMPARE(window->form()->tabServerInfo->model()->rowCount(), 2); // the branch's own site list

        // Quitting from the tray without a logout, the next start still uses the chosen server.
        QTimer::singleShot(0, window.get(), &MainWindow::on_exitAppAction);
        QCOMPARE(QCoreApplication::exec(), 0);
        LoginInfo restarted;
        QCOMPARE(TestHome::loadAtStartUp(restarted), 0);
        QCOMPARE(restarted.ksServerUrl(), used);
        QCOMPARE(WindowFixture::iniValue(QStringLiteral("Login/KsServerUrl")).toString(), used);
    }
}

void TestServerSwitch::userSwitchNeedsSelectionAndYes()
{
    auto window = makeWindow();
    QVERIFY(window);
    Prompts::takeCaptured();
    QTest::mouseClick(window->form()->btnSwitchServer, Qt::LeftButton);
    QCOMPARE(boxTexts(), QStringList { QStringLiteral("Please select data") });

    window->form()->tvServerInfo->selectRow(rowOf(*window, m_branch->httpUrl()));
    Prompts::setNextAnswer(QMessageBox::No);
    QTest::mouseClick(window->form()->btnSwitchServer, Qt::LeftButton);
    QCOMPARE(boxTexts(), QStringList { QStringLiteral("Do you want to switch the Server?") });
    QCOMPARE(m_branch->requestCount(), 0);
    QCOMPARE(info()->ksServerUrl(), m_main->httpUrl());
}

void TestServerSwitch::automaticSwitch_data()
{
    QTest::addColumn<QStringList>("sites"); // dead, refusing, branch, bare
    QTest::addColumn<bool>("switched"); // to the branch; otherwise the client stays on the main server
    QTest::newRow("a refusing site, then one that takes the login")
        << QStringList { "dead", "refusing", "bare", "branch" } << true;
    QTest::newRow("only a refusing site") << QStringList { "refusing", "dead" } << false;
    QTest::newRow("none answers") << QStringList { "dead" } << false;
}

void TestServerSwitch::automaticSwitch()
{
    QFETCH(QStringList, sites);
    QFETCH(bool, switched);
    m_main->updateState(ServerStates::removeNoCardNeeds);
    m_branch->updateState(ServerStates::removeNoCardNeeds);
    auto window = makeWindow();
    QVERIFY(window);
    const auto url = [&](const QString& key) {
        if (key == QLatin1String("dead")) {
            return m_dead;
        }
        if (key == QLatin1String("refusing")) {
            return m_refusing->httpUrl();
        }
        if (key == QLatin1String("bare")) {
            return bare(m_branch->httpUrl());
        }
        return m_branch->httpUrl();
    };
    QStringList list;
    for (const QString& key : sites) {
        list << url(key);
    }
    ClientParts::shared().session.setServerList(list);
    Prompts::takeCaptured();

    QCOMPARE(window->monitor().walkSites(), switched);

    QVERIFY(Prompts::takeCaptured().isEmpty()); // silent either way
    QCOMPARE(m_refusing->requestCount(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew")),
             sites.contains(QStringLiteral("refusing")) ? 1 : 0);
    // One server in use: the settings file, the settings, the API, the window and the job path all name it.
    FakeKestranaServer& used = switched ? *m_branch : *m_main;
    QCOMPARE(WindowFixture::iniValue(QStringLiteral("Login/KsServerUrl")).toString(),
             switched ? used.httpUrl() : QString());
    QCOMPARE(info()->ksServerUrl(), used.httpUrl());
    QCOMPARE(ClientParts::shared().api.account().serverUrl, used.httpUrl());
    QCOMPARE(window->serverUrl(), used.httpUrl());
    QCOMPARE(window->jobQueue()->submitter()->serverUrl(), used.httpUrl());
    QCOMPARE(window->form()->labServerPath->text(), bare(used.httpUrl()));
    QVERIFY(ClientParts::shared().session.isLogin());
    if (switched) {
        QCOMPARE(m_branch->requestCount(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew")), 1);
        QCOMPARE(window->monitor().failureCount(), 0);
        QTRY_VERIFY(m_branch->requestCount(QStringLiteral("/Device/BAS_DeviceStatusList")) > 0);
    } else {
        QCOMPARE(m_branch->requestCount(), 0);
    }

    // Every later request goes there: a job's (server check, permission query, upload) and the tabs'.
    for (FakeKestranaServer* server : { m_main.get(), m_branch.get(), m_refusing.get() }) {
        server->clearRequests();
    }
    const QString base = window->jobQueue()->jobPath() + QStringLiteral("/after-switch");
    QFile params(base);
    QVERIFY(params.open(QIODevice::WriteOnly));
    params.write("[PrintPara]\nDocName=after-switch.pdf\n");
    params.close();
    QVERIFY(PdfMaker::write(base + QStringLiteral(".pdf"), 1));
    window->jobQueue()->timerCallback();
    window->loadData();
    QCOMPARE(used.requestCount(QStringLiteral("/Job/BAS_UploadComplete")), 1);
    QVERIFY(used.requestCount(QStringLiteral("/User/BAS_UserPermission")) >= 1);
    QTRY_VERIFY(used.requestCount(QStringLiteral("/KSS/GetIPSegment")) > 0);
    for (FakeKestranaServer* server : { m_main.get(), m_branch.get(), m_refusing.get() }) {
        if (server != &used) {
            QCOMPARE(server->requestCount(), 0);
        }
    }
}

// Logout's own check of the server must not log the user in again on another site.
void TestServerSwitch::logoutNeverSwitches()
{
    auto window = makeWindow();
    QVERIFY(window);
    ClientParts::shared().session.setServerList({ m_branch->httpUrl() });
    m_main->stop();
    window->checkNetworkState(false);
    window->checkNetworkState(false);
    QCOMPARE(window->monitor().failureCount(), 2); // the next failure would start the automatic switch
    Prompts::takeCaptured();

    window->logoutBtn_clicked();

    QVERIFY(!ClientParts::shared().session.isLogin());
    QCOMPARE(m_branch->requestCount(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew")), 0);
    QCOMPARE(window->serverUrl(), m_main->httpUrl());
}

void TestServerSwitch::serverDialogChoice_data()
{
    QTest::addColumn<int>("row"); // -1: nothing selected
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("name");
    QTest::newRow("second row") << 1 << true << "branch"
                                << "Branch";
    QTest::newRow("yes without a row") << -1 << true << ""
                                       << "";
    QTest::newRow("no") << 1 << false << ""
                        << "";
}

void TestServerSwitch::serverDialogChoice()
{
    QFETCH(int, row);
    QFETCH(bool, yes);
    QFETCH(QString, url);
    QFETCH(QString, name);
    QVERIFY(WindowFixture::loadSettings(m_main->httpUrl()));
    const QStringList listBefore = QStringList { QStringLiteral("untouched") };
    ClientParts::shared().session.setServerList(listBefore);
    ServerDialog dialog(ClientParts::shared().api, Singleton<LoginInfo>::getInstance()->ksServerUrl());
    QSignalSpy loaded(&dialog, &ServerDialog::loaded);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("ServerInfo"));
    QTRY_COMPARE(loaded.count(), 1);
    QStandardItemModel* model = dialog.model();
    QCOMPARE(model->rowCount(), 5);
    QCOMPARE(model->columnCount(), 2);
    QCOMPARE(model->index(1, 0).data().toString(), m_branch->httpUrl());
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("SiteName"));

    auto* view = dialog.findChild<QTableView*>(QStringLiteral("tvServerInfo"));
    QVERIFY(view);
    QVERIFY(view->verticalHeader()->isHidden());
    if (row >= 0) {
        view->selectRow(row);
    }
    dialog.show();
    QTest::mouseClick(dialog.findChild<QPushButton*>(yes ? QStringLiteral("btnYes") : QStringLiteral("btnNo")),
                      Qt::LeftButton);
    QCOMPARE(dialog.result(), yes ? int(QDialog::Accepted) : int(QDialog::Rejected));
    QCOMPARE(dialog.siteUrl(), url == QLatin1String("branch") ? m_branch->httpUrl() : QString());
    QCOMPARE(dialog.siteName(), name);
    QCOMPARE(ClientParts::shared().session.serverList(), listBefore);
}

void TestServerSwitch::serverDialogFailedList_data()
{
    QTest::addColumn<bool>("html");
    QTest::addColumn<QString>("logged");
    QTest::newRow("refused") << false << "[serverdialog.loadServerData] message:Signature verification failed";
    QTest::newRow("not JSON") << true << "[serverdialog.loadServerData]";
}

void TestServerSwitch::serverDialogFailedList()
{
    QFETCH(bool, html);
    QFETCH(QString, logged);
    QVERIFY(WindowFixture::loadSettings(m_main->httpUrl()));
    if (html) {
        m_main->setOverride(QStringLiteral("/KSS/GetIPSegment"), FakeReply::html500());
    } else {
        m_main->updateState([](FakeKestranaState& s) { s.signingSalt = QStringLiteral("1111111111111"); });
    }
    Logging::takeCaptured();
    ServerDialog dialog(ClientParts::shared().api, Singleton<LoginInfo>::getInstance()->ksServerUrl());
    QSignalSpy loaded(&dialog, &ServerDialog::loaded);
    QTRY_COMPARE(loaded.count(), 1);
    QCOMPARE(dialog.model()->rowCount(), 0);
    QCOMPARE(capturedContaining(QStringLiteral("[serverdialog.loadServerData]")), QStringList { logged });
}

void TestServerSwitch::loginDialogServerAction()
{
    QVERIFY(WindowFixture::loadSettings(m_main->httpUrl()));
    ClientParts::shared().session.setIsLogin(false);
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    auto* server = dialog.findChild<QLineEdit*>(QStringLiteral("editKsServer"));
    QVERIFY(server);
    server->setText(m_main->httpUrl());
    QAction* more = nullptr;
    for (QAction* action : server->actions()) {
        if (action->toolTip() == QLatin1String("Choose a server")) {
            more = action;
        }
    }
    QVERIFY(more);

    // The chooser lists the typed server's sites; picking the branch puts its address into the field.
    bool chosen = false;
    QTimer::singleShot(0, this, [&]() {
        QTRY_VERIFY(qobject_cast<ServerDialog*>(QApplication::activeModalWidget()));
        auto* chooser = qobject_cast<ServerDialog*>(QApplication::activeModalWidget());
        QTRY_COMPARE(chooser->model()->rowCount(), 5);
        chooser->findChild<QTableView*>(QStringLiteral("tvServerInfo"))->selectRow(1);
        chooser->findChild<QPushButton*>(QStringLiteral("btnYes"))->click();
        chosen = true;
    });
    more->trigger();
    QVERIFY(chosen);
    QCOMPARE(server->text(), m_branch->httpUrl());
    QCOMPARE(m_main->requestCount(QStringLiteral("/KSS/GetIPSegment")), 1);
}

QTEST_MAIN(TestServerSwitch)
#include "tst_serverswitch.moc"
