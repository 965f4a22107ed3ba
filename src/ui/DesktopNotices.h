#pragma once

#include <QString>

// Where the client's notices reach the user: the tray's balloons when the desktop has a tray, otherwise the
// desktop's notification service (org.freedesktop.Notifications on the session bus), which every desktop
// without a tray still provides.
namespace DesktopNotices {
// Whether the desktop shows tray icons now (it may gain or lose its tray while the client runs).
bool trayAvailable();
// Sends a notice to the notification service without waiting for its answer; false when there is no session
// bus to send it on. timeoutMs: how long it stays, as the tray balloon would (0 = the service's choice).
bool notify(const QString& title, const QString& text, int timeoutMs);

// Tests: force trayAvailable() (1 available, 0 not, -1 the desktop's answer).
void setTrayAvailableForTests(int available);
} // namespace DesktopNotices
