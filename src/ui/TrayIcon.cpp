#include "TrayIcon.h"

#include "DesktopNotices.h"
#include "app/Logging.h"
#include "config/LoginInfo.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QTimer>

static Logger* logger = Logging::rootLogger();

TrayIcon::TrayIcon(LoginInfo& settings, QWidget* window)
    : QObject(window)
    , m_info(&settings)
    , m_window(window)
    , m_hideTimer(new QTimer(this))
{
    m_hideTimer->setObjectName(QStringLiteral("trayHideTimer"));
    m_hideTimer->setSingleShot(true);
    m_hideTimer->setInterval(kHiddenBalloonMs);
    connect(m_hideTimer, &QTimer::timeout, this, &TrayIcon::hide);
}

TrayIcon::~TrayIcon() = default;

QString TrayIcon::versionLine() const
{
    return tr("Kestrana Client V%1").arg(m_info->ksVersion());
}

void TrayIcon::show()
{
    if (m_icon) {
        // In hidden-task mode the icon only ever shows for a balloon, also after a new login.
        m_icon->setVisible(!m_info->hidTask());
        return;
    }
    const QString iconPath = QCoreApplication::applicationDirPath() + QStringLiteral("/images/logo32.ico");
    logger->info(iconPath);
    m_icon = new QSystemTrayIcon(QIcon(iconPath), this);
    m_icon->setToolTip(versionLine());
    emit made();
    connect(m_icon, &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);

    m_showMainAction = new QAction(tr("show main UI"), this);
    connect(m_showMainAction, &QAction::triggered, this, &TrayIcon::showWindowRequested);
    m_exitAction = new QAction(tr("exit"), this);
    connect(m_exitAction, &QAction::triggered, this, &TrayIcon::quitRequested);
    m_menu = new QMenu(m_window);
    m_menu->addAction(m_showMainAction);
    m_menu->addSeparator();
    m_menu->addAction(m_exitAction);
    m_icon->setContextMenu(m_menu);

    if (!m_info->hidTask()) {
        m_icon->show();
    }
}

void TrayIcon::hide()
{
    if (m_icon) {
        m_icon->hide();
    }
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Context) {
        emit showWindowRequested();
    }
}

void TrayIcon::showMessage(const QString& title, const QString& text)
{
    if (!DesktopNotices::trayAvailable()) {
        // A balloon of an icon no tray shows would reach nobody.
        DesktopNotices::notify(title, text, m_info->sysTrayMsgTimeoutMs());
        return;
    }
    if (!m_icon) {
        show();
    }
    m_icon->setVisible(true);
    m_icon->showMessage(title, text, QSystemTrayIcon::NoIcon, m_info->sysTrayMsgTimeoutMs());
    if (m_info->hidTask()) {
        // Hidden-task mode: the icon only shows for the balloon. A timer hides it again instead of
        // blocking the interface while the balloon is up.
        m_hideTimer->start();
    }
}

bool TrayIcon::noticesShown() const
{
    return !DesktopNotices::trayAvailable() || (m_icon && m_icon->isVisible());
}

void TrayIcon::setStatus(const QString& status)
{
    if (m_icon) {
        m_icon->setToolTip(versionLine() + QLatin1Char('\n') + status);
    }
}
