#include "LoginHome.h"

#include "config/SettingsTemplate.h"

#include <QFile>
#include <QSettings>

LoginHome::LoginHome()
{
    if (!m_home.isValid() || !m_appDir.isValid()) {
        return;
    }
    const QString templateFile = m_appDir.path() + QStringLiteral("/halcyraclient.ini");
    if (!QFile::copy(TestHome::templatePath(), templateFile)) {
        return;
    }
    SettingsTemplate::setTemplatePathForTests(templateFile);
    if (!QFile::copy(templateFile, m_home.iniPath())) {
        return;
    }
    QFile::setPermissions(m_home.iniPath(), QFile::ReadOwner | QFile::WriteOwner);
    m_valid = true;
}

LoginHome::~LoginHome()
{
    SettingsTemplate::setTemplatePathForTests(QString());
}

void LoginHome::write(const QVariantMap& values) const
{
    QSettings settings(m_home.iniPath(), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        settings.setValue(it.key(), it.value());
    }
}

QVariant LoginHome::value(const QString& key) const
{
    QSettings settings(m_home.iniPath(), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    return settings.value(key);
}
