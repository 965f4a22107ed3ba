#include "SingleApplication.h"

#include "app/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

static Logger* logger = Logging::rootLogger();

namespace {
const int kConnectTimeoutMs = 500;
const int kReadTimeoutMs = 1000;
} // namespace

SingleApplication::SingleApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    m_serverKey = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    m_socketName = socketNameFor(m_serverKey);
    _initLocalConnection();
}

SingleApplication::~SingleApplication() = default;

QString SingleApplication::socketNameFor(const QString& serverKey)
{
    // Every account on a shared host (terminal servers) needs its own guard. The runtime directory is
    // private to the user; without one the user id keeps the names apart.
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && QFileInfo(runtimeDir).isDir()) {
        return runtimeDir + QLatin1Char('/') + serverKey;
    }
    // Without one, use a directory only this user can enter, so nobody else can squat the socket name.
    const QString privateDir = QDir::tempPath() + QStringLiteral("/halcyraclient-") + QString::number(::getuid());
    const QByteArray dirPath = QFile::encodeName(privateDir);
    ::mkdir(dirPath.constData(), 0700);
    struct stat info;
    if (::lstat(dirPath.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid()
        && (info.st_mode & 077) == 0) {
        return privateDir + QLatin1Char('/') + serverKey;
    }
    logger->warn(QStringLiteral("no private directory for the single instance guard: ") + privateDir);
    return QDir::tempPath() + QLatin1Char('/') + serverKey + QLatin1Char('-') + QString::number(::getuid());
}

void SingleApplication::_initLocalConnection()
{
    m_isRunning = false;

    QLocalSocket socket;
    socket.connectToServer(m_socketName, QIODevice::ReadWrite);
    if (socket.waitForConnected(kConnectTimeoutMs)) {
        std::fprintf(stderr, "%s already running.\n", m_serverKey.toLocal8Bit().constData());
        std::fflush(stderr);
        m_isRunning = true;
        return;
    }
    _newLocalServer();
}

void SingleApplication::_newLocalServer()
{
    m_localServer = new QLocalServer(this);
    m_localServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_localServer, &QLocalServer::newConnection, this, &SingleApplication::_newLocalConnection);
    if (m_localServer->listen(m_socketName)) {
        return;
    }
    if (m_localServer->serverError() == QAbstractSocket::AddressInUseError) {
        // Left behind by an instance that crashed: nobody answered, so take it over.
        QLocalServer::removeServer(m_socketName);
        if (m_localServer->listen(m_socketName)) {
            return;
        }
    }
    logger->warn(QStringLiteral("single instance guard unavailable: ") + m_localServer->errorString());
}

void SingleApplication::_newLocalConnection()
{
    QLocalSocket* socket = m_localServer ? m_localServer->nextPendingConnection() : nullptr;
    if (!socket) {
        return;
    }
    socket->waitForReadyRead(kReadTimeoutMs);
    delete socket;
    _activateWindow();
}

void SingleApplication::_activateWindow()
{
    if (!m_mainWindow) {
        return;
    }
    m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
}

void SingleApplication::iniApp(QWidget* mainWindow)
{
    m_mainWindow = mainWindow;
}

void SingleApplication::_close()
{
    if (m_mainWindow) {
        m_mainWindow->close();
        m_mainWindow = nullptr;
    }
}

void SingleApplication::exitAppa()
{
    QCoreApplication::exit(0);
}
