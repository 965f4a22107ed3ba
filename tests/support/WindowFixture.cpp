#include "WindowFixture.h"

#include "ClientParts.h"
#include "TestHome.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "app/UserPaths.h"
#include "config/LoginInfo.h"
#include "session/OnlineState.h"
#include "ui/DesktopNotices.h"
#include "ui/MainWindow.h"
#include "ui/Prompts.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTcpServer>
#include <QTest>

namespace WindowFixture {

bool loadSettings(const QString& serverUrl, const QVariantMap& keys, const QString& userName, const QString& password)
{
    const QString iniPath = UserPaths::iniFilePath();
    QDir().mkpath(UserPaths::dataPath());
    QFile::remove(iniPath);
    if (!QFile::copy(TestHome::templatePath(), iniPath)) {
        return false;
    }
    QFile::setPermissions(iniPath, QFile::ReadOwner | QFile::WriteOwner);
    {
        QSettings ini(iniPath, QSettings::IniFormat);
        for (auto it = keys.constBegin(); it != keys.constEnd(); ++it) {
            ini.setValue(it.key(), it.value());
        }
    }
    LoginInfo* info = Singleton<LoginInfo>::getInstance();
    if (TestHome::loadAtStartUp(*info) != 0) {
        return false;
    }
    info->setKsServerUrl(serverUrl);
    info->setUserName(userName);
    info->setPasword(password);
    ClientParts& parts = ClientParts::shared();
    parts.session = Session();
    parts.session.setIsLogin(true);
    parts.refreshAccount();
    return true;
}

QVariant iniValue(const QString& key)
{
    QSettings ini(UserPaths::iniFilePath(), QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    return ini.value(key);
}

QString deadServerUrl()
{
    // Bind a free port and let it go again: nothing listens there afterwards.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

void beginCase(const TestHome& home)
{
    QFile::remove(home.dataPath() + QStringLiteral("/halcyraclient.db"));
    OnlineState::setForcedForTests(1);
    // The window's notices go to its tray icon, whatever the desktop running the tests offers.
    DesktopNotices::setTrayAvailableForTests(1);
    Prompts::startCapture();
    Logging::startCapture();
}

void endCase()
{
    Prompts::stopCapture();
    Logging::takeCaptured();
    OnlineState::setForcedForTests(-1);
    DesktopNotices::setTrayAvailableForTests(-1);
}

std::unique_ptr<MainWindow> openWindow(const QString& serverUrl, const QVariantMap& keys,
                                       const std::function<bool(MainWindow&)>& ready)
{
    if (!loadSettings(serverUrl, keys)) {
        return nullptr;
    }
    ClientParts& parts = ClientParts::shared();
    auto window = std::make_unique<MainWindow>(parts.settings, parts.session, parts.api);
    if (ready && !QTest::qWaitFor([&]() { return ready(*window); })) {
        return nullptr;
    }
    return window;
}

QStringList capturedContaining(const QString& part)
{
    QStringList lines;
    for (const QString& line : Logging::takeCaptured()) {
        if (line.contains(part)) {
            lines.append(line);
        }
    }
    return lines;
}

} // namespace WindowFixture
