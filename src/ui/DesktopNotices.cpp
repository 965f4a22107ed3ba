#include "DesktopNotices.h"

#include "app/Logging.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QSystemTrayIcon>
#include <QVariantMap>

static Logger* logger = Logging::rootLogger();

namespace {
int g_forcedTray = -1;
}

namespace DesktopNotices {

bool trayAvailable()
{
    if (g_forcedTray >= 0) {
        return g_forcedTray != 0;
    }
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool notify(const QString& title, const QString& text, int timeoutMs)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        logger->warn(QStringLiteral("no tray and no session bus for the notice: ") + title + QStringLiteral(" ")
                     + text);
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QString icon = QCoreApplication::applicationDirPath() + QStringLiteral("/images/logo64.ico");
    call << QStringLiteral("HalcyraClient") << uint(0) << icon << title << text << QStringList() << QVariantMap()
         << qint32(timeoutMs > 0 ? timeoutMs : -1);
    // Not waited for: the notification service may be slow to start, and the interface must not wait for it.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [](QDBusPendingCallWatcher* done) {
        if (done->isError()) {
            logger->warn(QStringLiteral("desktop notification not shown: ") + done->error().message());
        }
        done->deleteLater();
    });
    return true;
}

void setTrayAvailableForTests(int available)
{
    g_forcedTray = available;
}

} // namespace DesktopNotices
