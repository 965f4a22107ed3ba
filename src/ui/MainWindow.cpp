#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "AccountTab.h"
#include "DesktopNotices.h"
#include "DevicesTab.h"
#include "FileTransfer.h"
#include "JobsTab.h"
#include "MessagesTab.h"
#include "OnlineState.h"
#include "Prompts.h"
#include "ScanJobsTab.h"
#include "ScreenFit.h"
#include "ServersTab.h"
#include "SystemTab.h"
#include "api/KsKit.h"
#include "api/ServerTrust.h"
#include "app/Logging.h"
#include "app/ServerUrl.h"
#include "app/Singleton.h"
#include "app/UserPaths.h"
#include "config/LoginInfo.h"
#include "config/Session.h"
#include "jobs/JobQueue.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QScopedValueRollback>
#include <QScreen>
#include <QTabBar>
#include <QTimer>

static Logger* logger = Logging::rootLogger();

MainWindow::MainWindow(LoginInfo& settings, Session& session, KsKit& api, QWidget* parent)
    : QMainWindow(parent)
    , m_ui(new Ui::MainWindow)
    , m_info(&settings)
    , m_session(&session)
{
    m_ui->setupUi(this);

    if (ScreenFit::isLargeScreen(QGuiApplication::primaryScreen()->size())) {
        for (QTableView* view : { m_ui->tvJobs, m_ui->tvScanJobs, m_ui->tvServerInfo, m_ui->tvMsg }) {
            view->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
        }
    }

    m_ksKit = &api;
    m_downloads = new FileTransfer(*m_ksKit, m_ui->progressBar, this);
    connect(m_downloads, &FileTransfer::reported, this, &MainWindow::loadTabData);

    setIdentity();

    setWindowIcon(QIcon(QCoreApplication::applicationDirPath() + QStringLiteral("/images/logo64.ico")));
    m_ui->frame->hide();

    m_trayHideTimer = new QTimer(this);
    m_trayHideTimer->setObjectName(QStringLiteral("trayHideTimer"));
    m_trayHideTimer->setSingleShot(true);
    m_trayHideTimer->setInterval(kHiddenTrayBalloonMs);
    connect(m_trayHideTimer, &QTimer::timeout, this, [this]() {
        if (m_trayIcon) {
            m_trayIcon->hide();
        }
    });
    m_reconnectTimer = new QTimer(this);
    m_reconnectTimer->setInterval(kReconnectProbeMs);
    connect(m_reconnectTimer, &QTimer::timeout, this, [this]() {
        if (!m_session->isLogin()) {
            m_reconnectTimer->stop();
            return;
        }
        checkNetworkState(false);
    });
    m_ui->tabWidget->setCurrentIndex(0);

    connect(m_ui->btnLogout, &QPushButton::clicked, this, &MainWindow::logoutBtn_clicked);
    connect(m_ui->tabWidget, &QTabWidget::currentChanged, this, &MainWindow::loadTabData);
    connect(m_ui->btnRefresh, &QPushButton::clicked, this, &MainWindow::jobsRefreshBtn_clicked);

    m_online = new OnlineState(this);

    m_jobQueue = new JobQueue(this, this);
    m_jobQueue->initJobControlOption();
    setupTabs();
    InitConfig();
    loadData();
    // Fitted to the tabs that stay and the texts the loads put in: the form's first update-tab text asks for a
    // CJK fallback font (about 2 MiB) that a measure before the loads would bring in and keep.
    ScreenFit::fit(this);
}

MainWindow::~MainWindow() = default;

void MainWindow::setupTabs()
{
    Ui::MainWindow& form = *m_ui;
    form.tabMessages->setup(*this, form, m_info->maxMessageCount());
    form.tabJobs->setup(*this, form);
    form.tabDevices->setup(*this, form);
    form.tabUserInfo->setup(*this, form, !m_info->showUser() || m_info->showCost());
    form.tabScanJobs->setup(*this, form, *m_downloads);
    form.tabServerInfo->setup(*this, form, *m_info, *m_session);
    form.tabSystemInfo->setup(*this, form, m_info->ksVersion(), *m_downloads);

    for (TabPage* page : pages()) {
        connect(page, &TabPage::captionChanged, this, [this, page](const QString& text) {
            const int index = m_ui->tabWidget->indexOf(page);
            // The same text again would still lay out and repaint the tab bar.
            if (index >= 0 && m_ui->tabWidget->tabText(index) != text) {
                m_ui->tabWidget->setTabText(index, text);
            }
        });
    }
    // Every list or status answer of the jobs tab may come with stored messages.
    connect(form.tabJobs, &JobsTab::answered, form.tabMessages, &MessagesTab::load);

    connect(form.tabServerInfo, &ServersTab::serverChosen, this, [this](const QString& url) { m_serverUrl = url; });
    connect(form.tabServerInfo, &ServersTab::serverKept, this, &MainWindow::keepChosenServer);
    connect(form.tabServerInfo, &ServersTab::switchFailed, this, &MainWindow::logoutBtn_clicked);
    connect(form.tabServerInfo, &ServersTab::reloadAll, this, &MainWindow::loadData);
}

QList<TabPage*> MainWindow::pages() const
{
    // The order the tabs load in.
    return { m_ui->tabJobs,       m_ui->tabDevices,    m_ui->tabScanJobs, m_ui->tabUserInfo,
             m_ui->tabSystemInfo, m_ui->tabServerInfo, m_ui->tabMessages };
}

QString MainWindow::stripScheme(const QString& url)
{
    QString shown = url;
    shown.remove(QStringLiteral("http://"));
    shown.remove(QStringLiteral("https://"));
    return shown;
}

void MainWindow::setIdentity()
{
    LoginInfo* info = m_info;
    m_account = KsAccount::fromSettings(*info).encodedAccount();
    m_serverUrl = info->ksServerUrl();
    m_ui->labCurrentUser->setText(info->userName());
    m_ui->labServerPath->setText(stripScheme(m_serverUrl));
    updateStatus();
}

void MainWindow::init(bool showTrayIcon)
{
    // Registered from the first start on, not only after a later login: logout closes the registered
    // window, and a second start of the program brings it to the front.
    emit iniMain(this);
    if (showTrayIcon) {
        showSystemTrayIcon();
    }
    m_jobQueue->initialCheck4JobPath();
}

void MainWindow::show_mainwindow()
{
    emit iniMain(this);
    setIdentity();
    loadData();
    showSystemTrayIcon();
    LoginInfo* info = m_info;
    if (!info->hidTask()) {
        if (info->hiddMainDlg()) {
            hide();
        } else {
            show();
        }
    }
    m_jobQueue->initJobControlOption();
    m_ui->tabWidget->setCurrentIndex(0);
    m_jobQueue->initialCheck4JobPath();
    m_ui->tabMessages->load();
    m_ui->tabJobs->getPinCodeInfo();
}

void MainWindow::loadData()
{
    for (TabPage* page : pages()) {
        page->load();
    }
}

void MainWindow::InitConfig()
{
    LoginInfo* info = m_info;
    // Highest index first, so every index still names the same tab when it is used.
    const struct
    {
        bool shown;
        int index;
        const char* name;
    } tabs[] = { { info->showServer(), 5, "tabServerInfo" },
                 { info->showSystem(), 4, "tabSystemInfo" },
                 { info->showUser(), 3, "tabUserInfo" },
                 { info->supportScan(), 2, "tabScanJobs" },
                 { info->showDevice(), 1, "tabDevices" } };
    for (const auto& tab : tabs) {
        if (!tab.shown) {
            m_ui->tabWidget->removeTab(tab.index);
        }
    }
}

void MainWindow::loadTabData()
{
    if (auto* page = qobject_cast<TabPage*>(m_ui->tabWidget->currentWidget())) {
        page->load();
    }
}

void MainWindow::showSystemTrayIcon()
{
    if (m_trayIcon) {
        // In hidden-task mode the icon only ever shows for a balloon, also after a new login.
        m_trayIcon->setVisible(!m_info->hidTask());
        return;
    }
    const QString iconPath = QCoreApplication::applicationDirPath() + QStringLiteral("/images/logo32.ico");
    logger->info(iconPath);
    m_trayIcon = new QSystemTrayIcon(QIcon(iconPath), this);
    m_trayIcon->setToolTip(tr("Kestrana Client V%1").arg(m_info->ksVersion()));
    updateStatus();
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::on_activatedSysTrayIcon);

    m_showMainAction = new QAction(tr("show main UI"), this);
    connect(m_showMainAction, &QAction::triggered, this, &MainWindow::on_showMainAction);
    m_exitAction = new QAction(tr("exit"), this);
    connect(m_exitAction, &QAction::triggered, this, &MainWindow::on_exitAppAction);
    m_trayMenu = new QMenu(this);
    m_trayMenu->addAction(m_showMainAction);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_exitAction);
    m_trayIcon->setContextMenu(m_trayMenu);

    if (!m_info->hidTask()) {
        m_trayIcon->show();
    }
}

void MainWindow::on_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Context) {
        on_showMainAction();
    }
}

void MainWindow::on_showMainAction()
{
    const bool maximized = isMaximized();
    setWindowState(Qt::WindowMinimized);
    setWindowState(maximized ? (Qt::WindowActive | Qt::WindowMaximized) : Qt::WindowActive);
    show();
    raise();
    m_ui->tabJobs->load();
}

void MainWindow::on_exitAppAction()
{
    // Before the event loops end: an open question must not read as an answer.
    stopJobsForQuit();
    m_ui->tabMessages->clearAll();
    // Leave through the event loop so start-up's shutdown (log banner, clean-up) still runs.
    QCoreApplication::exit(0);
}

void MainWindow::showSystemMessage(const QString& title, const QString& text)
{
    if (!DesktopNotices::trayAvailable()) {
        // A balloon of an icon no tray shows would reach nobody.
        DesktopNotices::notify(title, text, m_info->sysTrayMsgTimeoutMs());
        return;
    }
    if (!m_trayIcon) {
        showSystemTrayIcon();
    }
    m_trayIcon->setVisible(true);
    m_trayIcon->showMessage(title, text, QSystemTrayIcon::NoIcon, m_info->sysTrayMsgTimeoutMs());
    if (m_info->hidTask()) {
        // Hidden-task mode: the icon only shows for the balloon. A timer hides it again instead of
        // blocking the interface while the balloon is up.
        m_trayHideTimer->start();
    }
}

bool MainWindow::noticesShown() const
{
    return !DesktopNotices::trayAvailable() || (m_trayIcon && m_trayIcon->isVisible());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    // The user closing it: without a tray a hidden window could only come back through a second start, so it
    // goes to the task bar. The client's own close (logout) hides it.
    if (event->spontaneous() && !DesktopNotices::trayAvailable()) {
        showMinimized();
        return;
    }
    hide();
    if (!m_trayIcon) {
        showSystemTrayIcon();
    }
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    m_ui->tabWidget->tabBar()->setMinimumWidth(m_ui->tabWidget->width());
    m_ui->tabWidget->tabBar()->setMinimumHeight(30);
    m_ui->centralwidget->adjustSize();
    QMainWindow::resizeEvent(event);
}

bool MainWindow::checkNetworkState(bool showDialog)
{
    if (!m_online->isOnline()) {
        setServerOnline(false, tr("network is down"));
        if (showDialog) {
            showNetworkWarning(tr("network is down"));
        }
        return false;
    }
    if (m_ksKit->CheckNetwork(ServerUrl::withScheme(m_serverUrl))) {
        setServerOnline(true);
        if (m_jobQueue) {
            m_jobQueue->serverReachable();
        }
        return true;
    }
    setServerOnline(false, tr("Unable to link server"));
    ++m_networkFailures;
    if (m_networkFailures > 2 && !m_session->serverList().isEmpty() && !m_switchingServer) {
        changeServerUrl();
    }
    if (showDialog) {
        showNetworkWarning(tr("Unable to link server"));
    }
    return false;
}

void MainWindow::setServerOnline(bool online, const QString& reason)
{
    if (online) {
        m_reconnectTimer->stop();
        if (m_unreachableBox) {
            m_unreachableBox->close();
        }
        if (!m_serverOnline) {
            m_serverOnline = true;
            m_offlineReason.clear();
            updateStatus();
            // Queued: the check may run inside a tab load, which must not start the same load again.
            QTimer::singleShot(0, this, &MainWindow::resumeAfterOutage);
        }
        return;
    }
    const bool changed = m_serverOnline || m_offlineReason != reason;
    m_serverOnline = false;
    m_offlineReason = reason;
    if (changed) {
        updateStatus();
    }
    // Nothing else may look at the server while the window sits idle; keep looking so it notices the return.
    if (m_session->isLogin() && !m_reconnectTimer->isActive()) {
        m_reconnectTimer->start();
    }
}

void MainWindow::reportNoAnswer(const QString& reason)
{
    // What the probe would find out, known already: no need to wait for the next check.
    setServerOnline(false, reason.isEmpty() ? tr("Unable to link server") : reason);
}

void MainWindow::resumeAfterOutage()
{
    if (!m_session->isLogin() || !m_serverOnline) {
        return;
    }
    logger->info(QStringLiteral("server reachable again, reloading the tabs"));
    loadData();
    m_ui->tabJobs->resumeStatusPoll();
}

QStringList MainWindow::statusParts() const
{
    const QString state = m_serverOnline ? tr("online") : tr("offline: %1").arg(m_offlineReason);
    return { m_info->userName(), stripScheme(m_serverUrl), state, unsentJobsText() };
}

QString MainWindow::composeStatus(const QStringList& parts)
{
    QStringList shown;
    for (const QString& part : parts) {
        if (!part.isEmpty()) {
            shown.append(part);
        }
    }
    return shown.join(QStringLiteral(" · "));
}

void MainWindow::updateStatus()
{
    const QStringList parts = statusParts();
    // The strip has its own labels for user and server; the network notice carries the rest.
    m_ui->labNetwork->setText(composeStatus(parts.mid(2)));
    for (TabPage* page : pages()) {
        page->setOffline(!m_serverOnline);
    }
    m_ui->labNetwork->setStyleSheet(m_serverOnline ? QStringLiteral("color: rgb(0, 128, 0);\npadding-left: 5px;")
                                                   : QStringLiteral("color: rgb(255, 0, 0);\npadding-left: 5px;"));
    if (m_trayIcon) {
        m_trayIcon->setToolTip(tr("Kestrana Client V%1").arg(m_info->ksVersion()) + QLatin1Char('\n')
                               + composeStatus(parts));
    }
}

void MainWindow::showNetworkWarning(const QString& text)
{
    Prompts::message(this, QMessageBox::Warning, tr("Title"), text);
}

void MainWindow::logoutBtn_clicked()
{
    LoginInfo* info = m_info;
    LoginInfo::writeFileValue(LoginInfo::Key::DateTime, QString());
    info->setDateTime(QString());

    emit closeMain();

    m_jobQueue->stopJobTimer();
    // The pollers follow the logged-out user's last job; they end with the session.
    m_ui->tabJobs->clearForLogout();
    m_reconnectTimer->stop();

    m_session->setIsLogin(false);
    m_ui->tabMessages->clearShown();

    if (m_trayIcon) {
        m_trayIcon->hide();
    }

    info->setIsBingoLastTime(false);
    info->saveToFile();

    m_ui->tabMessages->clearAll();

    emit loginshow();

    // Logging out must never log in again on another site.
    const QScopedValueRollback<bool> noSwitch(m_switchingServer, true);
    if (checkNetworkState(false)) {
        sendLogoutRequest();
    }
}

void MainWindow::sendLogoutRequest()
{
    m_ksKit->logout(m_serverUrl, m_account);
}

void MainWindow::jobsRefreshBtn_clicked()
{
    setCursor(Qt::BusyCursor);
    m_ui->btnRefresh->setEnabled(false);
    if (checkNetworkState(true)) {
        loadTabData();
    }
    setCursor(Qt::ArrowCursor);
    m_ui->btnRefresh->setEnabled(true);
}

void MainWindow::changeServerUrl()
{
    // The loads after a switch probe the server again; a failure there must not start a second walk.
    const QScopedValueRollback<bool> guard(m_switchingServer, true);
    const QString url = m_ui->tabServerInfo->findWorkingServer();
    if (url.isEmpty()) {
        return;
    }
    m_serverUrl = url;
    keepChosenServer(url);
    m_networkFailures = 0;
    loadData();
}

void MainWindow::keepChosenServer(const QString& url)
{
    m_ui->labServerPath->setText(stripScheme(url));
    updateStatus();
}
