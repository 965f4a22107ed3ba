#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class LoginInfo;

// Points HOME at a fresh temporary directory for the life of the object (set it before the
// application object exists so every path the client derives lands inside it), and the site settings file
// into it, so a file installed on the machine changes no test.
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
    // <home>/site.ini, the site settings file while the object lives (absent until a test writes it; the
    // test's own uid owns it as root owns the installed one).
    QString sitePath() const;
    // Copies the settings template from the build's bin directory beside the test binary.
    static QString templatePath();
    // A program of the build (the client, its tools), from the build's bin directory.
    static QString binaryPath(const QString& name);
    // A file's bytes, empty when it cannot be read.
    static QByteArray fileContents(const QString& path);
    // Loads settings as the client's start does: the server's settings fetched (on an API of its own) and
    // applied after the file was opened and before its values are read; ServerTrust takes the file's rule.
    static int loadAtStartUp(LoginInfo& settings);

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    bool m_hadHome = false;
};
