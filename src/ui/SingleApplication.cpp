#include "SingleApplication.h"

#include "app/Logging.h"
#include "app/PrivateFiles.h"
#include "app/UserPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

static Logger* logger = Logging::rootLogger();

namespace {
const int kConnectTimeoutMs = 500;
const int kReadTimeoutMs = 1000;

// A folder where no one else can put or replace a socket: the user's own, writable by nobody else.
bool isPrivateFolder(const QString& path)
{
    if (!QDir::isAbsolutePath(path)) {
        return false;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info;
    const bool ok = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid()
        && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    ::close(fd);
    return ok;
}

// Whether the process at the other end of a connected local socket runs as this user.
bool peerIsThisUser(qintptr descriptor)
{
    struct ucred peer;
    socklen_t size = sizeof peer;
    return descriptor >= 0 && ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0
        && peer.uid == ::geteuid();
}
} // namespace

SingleApplication::SingleApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    m_serverKey = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    m_socketName = socketNameFor(m_serverKey);
    connectToRunningInstance();
}

SingleApplication::~SingleApplication() = default;

QString SingleApplication::socketNameFor(const QString& serverKey)
{
    // Every account on a shared host (terminal servers) needs its own guard, in a folder nobody else can
    // write: anyone who could put a listening socket there could stop the client from starting. The runtime
    // directory is such a folder when it is set and private; otherwise the client's own data folder is.
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && isPrivateFolder(runtimeDir)) {
        return runtimeDir + QLatin1Char('/') + serverKey;
    }
    const QString dataPath = UserPaths::dataPath();
    PrivateFiles::makePrivateDir(dataPath);
    return dataPath + QLatin1Char('/') + serverKey;
}

void SingleApplication::connectToRunningInstance()
{
    m_isRunning = false;

    QLocalSocket socket;
    socket.connectToServer(m_socketName, QIODevice::ReadWrite);
    // Only an instance of this user counts: whatever else listens there is replaced by this one's guard.
    if (socket.waitForConnected(kConnectTimeoutMs) && peerIsThisUser(socket.socketDescriptor())) {
        std::fprintf(stderr, "%s already running.\n", m_serverKey.toLocal8Bit().constData());
        std::fflush(stderr);
        m_isRunning = true;
        return;
    }
    socket.abort();
    startListening();
}

void SingleApplication::startListening()
{
    m_localServer = new QLocalServer(this);
    m_localServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_localServer, &QLocalServer::newConnection, this, &SingleApplication::acceptConnection);
    if (m_localServer->listen(m_socketName)) {
        return;
    }
    if (m_localServer->serverError() == QAbstractSocket::AddressInUseError) {
        // Left behind by an instance that crashed, or not this user's: nobody of ours answered, so take it over.
        QLocalServer::removeServer(m_socketName);
        if (m_localServer->listen(m_socketName)) {
            return;
        }
    }
    logger->warn(QStringLiteral("single instance guard unavailable: ") + m_localServer->errorString());
}

void SingleApplication::acceptConnection()
{
    QLocalSocket* socket = m_localServer ? m_localServer->nextPendingConnection() : nullptr;
    if (!socket) {
        return;
    }
    // A later instance sends nothing. Whatever a peer sends is read and dropped while the event loop runs on,
    // and the connection is closed when the peer leaves or after a short time.
    const bool ours = peerIsThisUser(socket->socketDescriptor());
    connect(socket, &QLocalSocket::readyRead, socket, [socket] { socket->readAll(); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kReadTimeoutMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    if (ours) {
        bringWindowBack();
    }
}

void SingleApplication::bringWindowBack()
{
    QWidget* window = m_mainWindow ? m_mainWindow.data() : m_loginWindow.data();
    if (!window) {
        return;
    }
    // show() alone leaves a minimised window in the task bar: the user started the client to see it.
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}

void SingleApplication::setMainWindow(QWidget* mainWindow)
{
    m_mainWindow = mainWindow;
}

void SingleApplication::setLoginWindow(QWidget* loginWindow)
{
    m_loginWindow = loginWindow;
}

void SingleApplication::closeMainWindow()
{
    if (m_mainWindow) {
        m_mainWindow->close();
        m_mainWindow = nullptr;
    }
}

void SingleApplication::quitClient()
{
    QCoreApplication::exit(0);
}
