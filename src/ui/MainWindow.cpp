#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "OnlineState.h"
#include "Prompts.h"
#include "ScreenFit.h"
#include "WindowRequest.h"
#include "api/HttpExchange.h"
#include "api/KsKit.h"
#include "api/ServerTrust.h"
#include "app/Logging.h"
#include "app/ServerUrl.h"
#include "app/Singleton.h"
#include "app/cglobal.h"
#include "config/LoginInfo.h"
#include "config/Session.h"
#include "jobs/JobQueue.h"
#include "store/MessageStore.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QScopedValueRollback>
#include <QScreen>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTimer>

static Logger* logger = Logging::rootLogger();

const char* const MainWindow::kMinimumWidthsProperty = "minimumColumnWidths";

MainWindow::MainWindow(LoginInfo& settings, Session& session, KsKit& api, QWidget* parent)
    : QMainWindow(parent)
    , m_ui(new Ui::MainWindow)
    , m_info(&settings)
    , m_session(&session)
{
    m_ui->setupUi(this);

    if (isLargeScreen(QGuiApplication::primaryScreen()->size())) {
        for (QTableView* view : { m_ui->tvJobs, m_ui->tvScanJobs, m_ui->tvServerInfo, m_ui->tvMsg }) {
            view->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
        }
    }

    m_nam = new QNetworkAccessManager(this);
    ServerTrust::watch(m_nam); // downloads and the window's own requests
    m_ksKit = &api;

    m_ui->labPinCode->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setIdentity();

    ScreenFit::fit(this);

    setWindowIcon(QIcon(QCoreApplication::applicationDirPath() + QStringLiteral("/images/logo64.ico")));
    m_ui->frame->hide();
    // The progress bar belongs to a running transfer only.
    m_ui->progressBar->hide();

    m_jobStatusTimer = new QTimer(this);
    connect(m_jobStatusTimer, &QTimer::timeout, this, &MainWindow::getJobStatusInfo);
    m_jobListTimer = new QTimer(this);
    connect(m_jobListTimer, &QTimer::timeout, this, &MainWindow::RefreshJobInfo);
    m_trayHideTimer = new QTimer(this);
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
    connect(m_ui->btnCheckUpdate, &QPushButton::clicked, this, &MainWindow::checkClientUpdate_clicked);
    connect(m_ui->btnAutoUpdate, &QPushButton::clicked, this, &MainWindow::autoUpdate_clicked);
    connect(m_ui->btnDeleteScanJob, &QPushButton::clicked, this, &MainWindow::scanJobDelBtn_clicked);
    connect(m_ui->btnDownloadSj, &QPushButton::clicked, this, &MainWindow::scanJobDownloadBtn_clicked);
    connect(m_ui->btnRefresh, &QPushButton::clicked, this, &MainWindow::jobsRefreshBtn_clicked);
    connect(m_ui->btnDelete, &QPushButton::clicked, this, &MainWindow::jobsDelBtn_clicked);

    m_online = new OnlineState(this);
    connect(m_online, &OnlineState::onlineStateChanged, this, &MainWindow::onlineStateChangedSlot);

    m_tabNames
        = QStringList { QStringLiteral("tabJobs"),     QStringLiteral("tabDevices"),    QStringLiteral("tabScanJobs"),
                        QStringLiteral("tabUserInfo"), QStringLiteral("tabSystemInfo"), QStringLiteral("tabServerInfo"),
                        QStringLiteral("tabMessages") };

    initJobIntake();
    initJobControlOption();
    checkDb();
    initTableView();
    InitConfig();
    loadData();
}

MainWindow::~MainWindow()
{
    // A transfer still running when the window goes: no report, and no half-written file left behind.
    for (Transfer& transfer : m_transfers) {
        if (transfer.reply) {
            disconnect(transfer.reply, nullptr, this, nullptr);
            transfer.reply->abort();
        }
        if (transfer.file) {
            transfer.file->close();
            transfer.file->remove();
        }
    }
}

bool MainWindow::isLargeScreen(const QSize& screen)
{
    return ScreenFit::isLargeScreen(screen);
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
    m_account = QString::fromLatin1(HttpExchange::percentEncode(info->userName()));
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
    initialCheck4JobPath();
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
    initJobControlOption();
    m_ui->tabWidget->setCurrentIndex(0);
    initialCheck4JobPath();
    loadMsgFromDb();
    getPinCodeInfo();
}

void MainWindow::initTableView()
{
    initJobTabelView();
    initMsgabelView();
    initDeviceTabelView();
    loadUserInfoData();
    initScanJobTabelView();
    initServerTabelView();
}

void MainWindow::loadData()
{
    loadJobData();
    loadDeviceData();
    loadScanJobData();
    loadUserInfoData();
    initSystemInfo();
    loadServerData();
    loadMsgFromDb();
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
            m_tabNames.removeAll(QLatin1String(tab.name));
        }
    }
    if (info->showUser() && !info->showCost()) {
        m_ui->labBalance->hide();
        m_ui->txtBalance->hide();
        m_ui->labSpend->hide();
        m_ui->txtSpend->hide();
    }
}

void MainWindow::InitTabText(const QString& tabName, const QString& caption, int count)
{
    const QString text = QStringLiteral("%1(%2)")
                             .arg(QCoreApplication::translate("MainWindow", caption.toUtf8().constData()))
                             .arg(count);
    for (int i = 0; i < m_tabNames.size(); ++i) {
        if (m_tabNames.at(i) == tabName) {
            m_ui->tabWidget->setTabText(i, text);
        }
    }
}

void MainWindow::loadTabData()
{
    QWidget* current = m_ui->tabWidget->currentWidget();
    const QString name = current ? current->objectName() : QString();
    if (name == QLatin1String("tabJobs")) {
        loadJobData();
    } else if (name == QLatin1String("tabDevices")) {
        loadDeviceData();
    } else if (name == QLatin1String("tabScanJobs")) {
        loadScanJobData();
    } else if (name == QLatin1String("tabUserInfo")) {
        loadUserInfoData();
    } else if (name == QLatin1String("tabSystemInfo")) {
        initSystemInfo();
    } else if (name == QLatin1String("tabServerInfo")) {
        loadServerData();
    } else if (name == QLatin1String("tabMessages")) {
        loadMsgFromDb();
    }
}

void MainWindow::RefreshData()
{
    loadTabData();
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
    loadJobData();
}

void MainWindow::on_exitAppAction()
{
    // Before the event loops end: an open question must not read as an answer.
    stopJobsForQuit();
    clearAllMessages();
    // Leave through the event loop so start-up's shutdown (log banner, clean-up) still runs.
    QCoreApplication::exit(0);
}

void MainWindow::showSystemMessage(const QString& title, const QString& text)
{
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

void MainWindow::closeEvent(QCloseEvent* event)
{
    hide();
    if (!m_trayIcon) {
        showSystemTrayIcon();
    }
    event->ignore();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    m_ui->tabWidget->tabBar()->setMinimumWidth(m_ui->tabWidget->width());
    m_ui->tabWidget->tabBar()->setMinimumHeight(30);
    m_ui->centralwidget->adjustSize();
    QMainWindow::resizeEvent(event);
}

void MainWindow::onlineStateChangedSlot(bool online)
{
    Q_UNUSED(online)
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

void MainWindow::resumeAfterOutage()
{
    if (!m_session->isLogin() || !m_serverOnline) {
        return;
    }
    logger->info(QStringLiteral("server reachable again, reloading the tabs"));
    loadData();
    if (m_statusPollInterrupted && !m_currentJobId.isEmpty()) {
        m_statusPollInterrupted = false;
        getJobStatusInfo();
    }
}

void MainWindow::stopJobStatusPoll()
{
    if (m_jobStatusTimer->isActive()) {
        // A failed answer ends the poll; it starts again once the server is back.
        m_statusPollInterrupted = true;
        m_jobStatusTimer->stop();
    }
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
    m_ui->labNetwork->setStyleSheet(m_serverOnline ? QStringLiteral("color: rgb(0, 128, 0);\npadding-left: 5px;")
                                                   : QStringLiteral("color: rgb(255, 0, 0);\npadding-left: 5px;"));
    if (m_trayIcon) {
        m_trayIcon->setToolTip(tr("Kestrana Client V%1").arg(m_info->ksVersion()) + QLatin1Char('\n')
                               + composeStatus(parts));
    }
}

void MainWindow::showNetworkWarning(const QString& text)
{
    inform(QMessageBox::Warning, tr("Title"), text);
}

void MainWindow::inform(QMessageBox::Icon icon, const QString& title, const QString& text, const QString& buttonText)
{
    Prompts::message(this, icon, title, text, buttonText);
}

bool MainWindow::askYesNo(const QString& title, const QString& text)
{
    return Prompts::question(this, title, text, tr("Yes"), tr("No"), Prompts::TitleAndClose);
}

void MainWindow::logoutBtn_clicked()
{
    m_ui->labPinCode->clear();
    m_ui->labExpTime->clear();
    m_ui->labPinCodeState->clear();
    m_ui->labGenState->clear();

    LoginInfo* info = m_info;
    LoginInfo::writeFileValue(LoginInfo::Key::DateTime, QString());
    info->setDateTime(QString());

    emit closeMain();

    stopJobIntake();
    // The pollers follow the logged-out user's last job; they end with the session.
    m_jobStatusTimer->stop();
    m_jobListTimer->stop();
    m_reconnectTimer->stop();
    m_statusPollInterrupted = false;

    m_session->setIsLogin(false);
    m_jobsModel->removeRows(0, m_jobsModel->rowCount());
    m_msgModel->removeRows(0, m_msgModel->rowCount());

    if (m_trayIcon) {
        m_trayIcon->hide();
    }

    info->setIsBingoLastTime(false);
    info->saveToFile();

    clearAllMessages();

    emit loginshow();

    // Logging out must never log in again on another site.
    const QScopedValueRollback<bool> noSwitch(m_switchingServer, true);
    if (checkNetworkState(false)) {
        sendLogoutRequest();
    }
}

void MainWindow::sendLogoutRequest()
{
    KsKit::logout(m_nam, m_serverUrl, m_account);
}

void MainWindow::sendGet(const QString& url, const QString& exPrefix, const QString& failPrefix,
                         const std::function<void(const WindowAnswer&)>& handler, bool siteList)
{
    WindowRequest::Options options;
    options.exPrefix = exPrefix;
    options.failPrefix = failPrefix;
    options.envelope = siteList ? WindowRequest::Envelope::Status : WindowRequest::Envelope::Code;
    WindowRequest::get(m_nam, url, m_serverUrl, options, this, handler);
}

void MainWindow::setupTable(QTableView* view, QStandardItemModel* model, const QStringList& headers,
                            const QList<int>& widths)
{
    model->setColumnCount(headers.size());
    model->setHorizontalHeaderLabels(headers);
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->horizontalHeader()->setStretchLastSection(true);
    QVariantList kept;
    for (int i = 0; i < widths.size(); ++i) {
        view->setColumnWidth(i, widths.at(i));
        kept.append(widths.at(i));
    }
    view->setProperty(kMinimumWidthsProperty, kept);
}

void MainWindow::fitColumns(QTableView* view)
{
    // The set widths are the least a column gets; a longer text widens its column instead of being cut.
    if (view->horizontalHeader()->sectionResizeMode(0) != QHeaderView::Interactive) {
        return;
    }
    const QVariantList widths = view->property(kMinimumWidthsProperty).toList();
    for (int i = 0; i < widths.size(); ++i) {
        const int least = widths.at(i).toInt();
        if (least > 0 && !view->isColumnHidden(i)) {
            view->resizeColumnToContents(i);
            view->setColumnWidth(i, qMax(least, view->columnWidth(i)));
        }
    }
}

int MainWindow::jobsRowCount() const
{
    return m_jobsModel ? m_jobsModel->rowCount() : 0;
}
