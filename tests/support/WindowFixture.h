#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>

class MainWindow;
class TestHome;

// Settings for a main window under test. The test home (TestHome) must exist first.
namespace WindowFixture {
// Copies the settings template into the test home, writes the given keys ("Group/Key" -> value), loads
// LoginInfo from it and sets the logged-in user and server in memory. False when loading failed.
bool loadSettings(const QString& serverUrl, const QVariantMap& keys = QVariantMap(),
                  const QString& userName = QStringLiteral("alice"),
                  const QString& password = QStringLiteral("secret"));
// The settings of the test home as the client wrote them (reads the file again).
QVariant iniValue(const QString& key);
// A local address where nothing listens.
QString deadServerUrl();

// Start of a window test case: no message database left from the case before, the network taken as up, a tray
// taken as there, message boxes and log lines captured.
void beginCase(const TestHome& home);
// Undoes beginCase.
void endCase();
// Loads the settings (see loadSettings) and opens a main window on them; then, when given, waits until
// `ready` holds. Null when loading failed or the window never got ready.
std::unique_ptr<MainWindow> openWindow(const QString& serverUrl, const QVariantMap& keys = QVariantMap(),
                                       const std::function<bool(MainWindow&)>& ready = nullptr);
// Takes the captured log lines and keeps those that contain `part`.
QStringList capturedContaining(const QString& part);
} // namespace WindowFixture
