#pragma once

#include "TestHome.h"

#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <QVariantMap>

// A fresh test home whose settings file is a copy of the settings template, with the client's template
// pointed at a private copy for the life of the object (login code may fall back to the template).
class LoginHome
{
public:
    LoginHome();
    ~LoginHome();
    LoginHome(const LoginHome&) = delete;
    LoginHome& operator=(const LoginHome&) = delete;

    // False when the home or either copy of the template could not be made.
    bool isValid() const { return m_valid; }
    QString path() const { return m_home.path(); }
    QString dataPath() const { return m_home.dataPath(); }
    QString iniPath() const { return m_home.iniPath(); }
    QString sitePath() const { return m_home.sitePath(); }
    // Writes the keys ("Group/Key" -> value) into the settings file, UTF-8.
    void write(const QVariantMap& values) const;
    // A key of the settings file as it stands on disk.
    QVariant value(const QString& key) const;

private:
    TestHome m_home;
    QTemporaryDir m_appDir;
    bool m_valid = false;
};
