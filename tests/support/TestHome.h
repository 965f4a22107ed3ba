#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points HOME at a fresh temporary directory for the life of the object (set it before the
// application object exists so every path the client derives lands inside it).
class TestHome
{
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    // <home>/halcyraclient
    QString dataPath() const;
    // <home>/halcyraclient/halcyraclient.ini
    QString iniPath() const;
    // Copies the settings template from the build's bin directory beside the test binary.
    static QString templatePath();

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    bool m_hadHome = false;
};
