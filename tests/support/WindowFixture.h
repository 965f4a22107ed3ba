#pragma once

#include <QString>
#include <QVariantMap>

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
} // namespace WindowFixture
