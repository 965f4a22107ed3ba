#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "AccountTab.h"
#include "DesktopNotices.h"
#include "DevicesTab.h"
#include "FileTransfer.h"
#include "JobsTab.h"
#include "MessagesTab.h"
#include "Prompts.h"
#include "ScanJobsTab.h"
#include "ScreenFit.h"
#include "ServersTab.h"
#include "StateColors.h"
#include "SystemTab.h"
#include "TrayIcon.h"
#include "api/KsKit.h"
#include "app/Singleton.h"
#include "app/UserPaths.h"
#include "config/LoginInfo.h"
#include "config/Session.h"
#include "jobs/JobQueue.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QTabBar>
#include <QToolButton>

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
    // Before the identity is shown: the status strip reads its state.
    m_monitor = new ServerMonitor(settings, session, api, this);
    m_tray = new TrayIcon(settings, this);
    m_downloads = new FileTransfer(*m_ksKit, m_ui->progressBar, this);
    connect(m_downloads, &FileTransfer::reported, this, &MainWindow::loadTabData);

    setIdentity();

    setWindowIcon(QIcon(QCoreApplication::applicationDirPath() + QStringLiteral("/images/logo64.ico")));
    m_ui->frame->hide();

    connect(m_tray, &TrayIcon::made, this, &MainWindow::updateStatus);
    connect(m_tray, &TrayIcon::showWindowRequested, this, &MainWindow::on_showMainAction);
    connect(m_tray, &TrayIcon::quitRequested, this, &MainWindow::on_exitAppAction);
    connect(m_monitor, &ServerMonitor::stateChanged, this, &MainWindow::updateStatus);
    connect(m_monitor, &ServerMonitor::returned, this, &MainWindow::resumeAfterOutage);
    connect(m_monitor, &ServerMonitor::serverSwitched, this, [this](const QString& url) {
        keepChosenServer(url);
        loadData();
    });
    m_ui->tabWidget->setCurrentIndex(0);

    connect(m_ui->btnLogout, &QPushButton::clicked, this, &MainWindow::logoutBtn_clicked);
    connect(m_ui->tabWidget, &QTabWidget::currentChanged, this, &MainWindow::loadTabData);
    connect(m_ui->btnRefresh, &QPushButton::clicked, this, &MainWindow::jobsRefreshBtn_clicked);
    setKeyboardOrder();

    m_jobQueue = new JobQueue(this, this);
    connect(m_monitor, &ServerMonitor::reached, this, [this]() {
        if (m_unreachableBox) {
            m_unreachableBox->close();
        }
        m_jobQueue->serverReachable();
    });
    setUpJobFolder();
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
    m_messageStore = std::make_unique<MessageStore>();
    m_messageStore->setMaxPerAccount(m_info->maxMessageCount());
    m_messageStore->checkDb();
    form.tabMessages->setup(*this, form, *m_messageStore);
    form.tabJobs->setup(*this, form);
    form.tabDevices->setup(*this, form);
    form.tabUserInfo->setup(*this, form, !m_info->showUser() || m_info->showCost());
    form.tabScanJobs->setup(*this, form, *m_downloads);
    form.tabServerInfo->setup(*this, form, *m_info, *m_session, *m_monitor);
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
    connectJobIntake();
    // Every list or status answer of the jobs tab may come with stored messages.
    connect(form.tabJobs, &JobsTab::answered, form.tabMessages, &MessagesTab::load);

    connect(form.tabServerInfo, &ServersTab::serverKept, this, &MainWindow::keepChosenServer);
    connect(form.tabServerInfo, &ServersTab::switchFailed, this, &MainWindow::logoutBtn_clicked);
    connect(form.tabServerInfo, &ServersTab::reloadAll, this, &MainWindow::loadData);
}

void MainWindow::setKeyboardOrder()
{
    // The form gives the order from the first page's buttons to the bottom bar; the tab bar, which the form cannot
    // name, goes before them.
    setTabOrder(m_ui->btnDelete->previousInFocusChain(), m_ui->tabWidget->tabBar());
    // The arrows move between the tabs; the bar's scroll buttons are for the mouse.
    for (QToolButton* scroll : m_ui->tabWidget->tabBar()->findChildren<QToolButton*>()) {
        scroll->setFocusPolicy(Qt::NoFocus);
    }
    addTabKeys();
}

void MainWindow::addTabKeys()
{
    // From anywhere in the window, a table included, which would read Ctrl+PgDn as a page down.
    const auto step = [this](int by) {
        QTabWidget* tabs = m_ui->tabWidget;
        tabs->setCurrentIndex((tabs->currentIndex() + by + tabs->count()) % tabs->count());
    };
    for (const int key : { Qt::CTRL | Qt::Key_Tab, Qt::CTRL | Qt::Key_PageDown }) {
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, this, [step]() { step(1); });
    }
    for (const int key : { Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, Qt::CTRL | Qt::Key_PageUp }) {
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, this, [step]() { step(-1); });
    }
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

QString MainWindow::serverUrl() const
{
    return m_ksKit->account().serverUrl;
}

void MainWindow::setIdentity()
{
    LoginInfo* info = m_info;
    m_account = KsAccount::fromSettings(*info).encodedAccount();
    m_ui->labCurrentUser->setText(info->userName());
    m_ui->labServerPath->setText(stripScheme(serverUrl()));
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
    setUpJobFolder();
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
    m_tray->show();
}

QSystemTrayIcon* MainWindow::trayIcon() const
{
    return m_tray->icon();
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
    m_tray->showMessage(title, text);
}

bool MainWindow::noticesShown() const
{
    return m_tray->noticesShown();
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
    if (!m_tray->icon()) {
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
    QString failure;
    if (m_monitor->check(&failure)) {
        return true;
    }
    if (showDialog) {
        showNetworkWarning(failure);
    }
    return false;
}

void MainWindow::reportNoAnswer(const QString& reason)
{
    m_monitor->noteNoAnswer(reason);
}

void MainWindow::resumeAfterOutage()
{
    loadData();
    m_ui->tabJobs->resumeStatusPoll();
}

QStringList MainWindow::statusParts() const
{
    const QString state = m_monitor->isOnline() ? tr("online") : tr("offline: %1").arg(m_monitor->offlineReason());
    return { m_info->userName(), stripScheme(serverUrl()), state, unsentJobsText() };
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
    const bool online = m_monitor->isOnline();
    for (TabPage* page : pages()) {
        page->setOffline(!online);
    }
    StateColors::apply(m_ui->labNetwork, online ? StateColors::Tone::Fine : StateColors::Tone::Alert,
                       QStringLiteral("\npadding-left: 5px;"));
    m_tray->setStatus(composeStatus(parts));
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
    m_monitor->stop();

    m_session->setIsLogin(false);
    m_ui->tabMessages->clearShown();

    m_tray->hide();

    info->setIsBingoLastTime(false);
    info->saveToFile();

    m_ui->tabMessages->clearAll();

    emit loginshow();

    // Logging out must never log in again on another site.
    if (m_monitor->checkStaying()) {
        sendLogoutRequest();
    }
}

void MainWindow::sendLogoutRequest()
{
    m_ksKit->logout(serverUrl(), m_account);
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

void MainWindow::keepChosenServer(const QString& url)
{
    m_ui->labServerPath->setText(stripScheme(url));
    updateStatus();
}
