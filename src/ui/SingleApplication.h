#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>

class QLocalServer;
class QWidget;

// The application object with the single-instance guard: the first instance of the client for a user
// listens on a local socket; a later one connects, reports "<key> already running." and leaves, and the
// first brings its main window back (from hidden, minimised or behind other windows), or its login dialog while
// nobody is logged in. Only a listener running as the same user counts.
class SingleApplication : public QApplication
{
    Q_OBJECT
public:
    SingleApplication(int& argc, char** argv);
    ~SingleApplication() override;

    bool isRunning() const { return m_isRunning; }
    // The executable's file name.
    QString serverKey() const { return m_serverKey; }
    // Where the guard's socket lives: in the runtime directory when it is the user's alone (owned by the user,
    // writable by nobody else), otherwise in the client's private data folder.
    static QString socketNameFor(const QString& serverKey);

public slots:
    void acceptConnection();
    void setMainWindow(QWidget* mainWindow);
    // The window a later start brings back while no main window is registered.
    void setLoginWindow(QWidget* loginWindow);
    void closeMainWindow();
    void quitClient();

private:
    void connectToRunningInstance();
    void startListening();
    void bringWindowBack();

    QPointer<QWidget> m_mainWindow;
    QPointer<QWidget> m_loginWindow;
    bool m_isRunning = false;
    QLocalServer* m_localServer = nullptr;
    QString m_serverKey;
    QString m_socketName;
};
