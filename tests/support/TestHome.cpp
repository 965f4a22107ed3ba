#include "TestHome.h"

#include "api/KsKit.h"
#include "api/StartUpSettings.h"
#include "config/LoginInfo.h"
#include "config/SiteSettings.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

TestHome::TestHome()
{
    m_hadHome = qEnvironmentVariableIsSet("HOME");
    m_oldHome = qgetenv("HOME");
    if (m_dir.isValid()) {
        qputenv("HOME", QFile::encodeName(m_dir.path()));
        QDir(m_dir.path()).mkpath(QStringLiteral("halcyraclient"));
        SiteSettings::setFileForTests(sitePath(), ::getuid());
    }
}

TestHome::~TestHome()
{
    SiteSettings::setFileForTests(QString(), 0);
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

QString TestHome::sitePath() const
{
    return m_dir.path() + QStringLiteral("/site.ini");
}

QString TestHome::iniPath() const
{
    return dataPath() + QStringLiteral("/halcyraclient.ini");
}

int TestHome::loadAtStartUp(LoginInfo& settings)
{
    KsKit api { KsAccount {} };
    return StartUpSettings::load(settings, api);
}

QString TestHome::templatePath()
{
    return QStringLiteral(HALCYRA_BIN_DIR "/halcyraclient.ini");
}

QString TestHome::binaryPath(const QString& name)
{
    return QStringLiteral(HALCYRA_BIN_DIR "/") + name;
}

QByteArray TestHome::fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
