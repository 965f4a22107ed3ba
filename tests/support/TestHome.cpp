#include "TestHome.h"

#include "api/KsKit.h"
#include "api/ServerTrust.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"

#include <QDir>
#include <QFile>

TestHome::TestHome()
{
    m_hadHome = qEnvironmentVariableIsSet("HOME");
    m_oldHome = qgetenv("HOME");
    // Loading the settings fetches what the server pushes, as at start-up (there through the client's one API).
    LoginInfo::setServerSettingsSource([](const QString& url) { return KsKit(KsAccount {}).fetchClientSettings(url); });
    LoginInfo::setCertificateCheck(&ServerTrust::verifiesCertificate);
    ServerTrust::setSettings(Singleton<LoginInfo>::getInstance());
    if (m_dir.isValid()) {
        qputenv("HOME", QFile::encodeName(m_dir.path()));
        QDir(m_dir.path()).mkpath(QStringLiteral("halcyraclient"));
    }
}

TestHome::~TestHome()
{
    if (m_hadHome) {
        qputenv("HOME", m_oldHome);
    } else {
        qunsetenv("HOME");
    }
}

QString TestHome::dataPath() const
{
    return m_dir.path() + QStringLiteral("/halcyraclient");
}

QString TestHome::iniPath() const
{
    return dataPath() + QStringLiteral("/halcyraclient.ini");
}

QString TestHome::templatePath()
{
    return QStringLiteral(HALCYRA_BIN_DIR "/halcyraclient.ini");
}
