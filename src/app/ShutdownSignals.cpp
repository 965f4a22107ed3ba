#include "ShutdownSignals.h"

#include "Logging.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

static Logger* logger = Logging::rootLogger();

namespace {

int g_pipe[2] = { -1, -1 };
std::atomic<bool> g_quitRequested { false };

extern "C" void onQuitSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Nothing but write(2) here: it is async-signal-safe. A full pipe already holds a pending request.
    const ssize_t written = ::write(g_pipe[1], &byte, 1);
    (void)written;
    errno = savedErrno;
}

void setHandler(int signalNumber, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

} // namespace

ShutdownSignals::ShutdownSignals(QObject* parent)
    : QObject(parent)
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        logger->error(QStringLiteral("signal pipe could not be created; SIGTERM ends the client without shutdown"));
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ShutdownSignals::readSignal);
    setHandler(SIGTERM, onQuitSignal);
    setHandler(SIGINT, onQuitSignal);
}

ShutdownSignals::~ShutdownSignals()
{
    setHandler(SIGTERM, SIG_DFL);
    setHandler(SIGINT, SIG_DFL);
}

bool ShutdownSignals::quitRequested()
{
    return g_quitRequested.load();
}

void ShutdownSignals::readSignal()
{
    unsigned char byte = 0;
    int signalNumber = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        signalNumber = byte;
    }
    if (signalNumber == 0) {
        return;
    }
    const bool first = !g_quitRequested.exchange(true);
    if (first) {
        logger->info(QStringLiteral("signal %1 received, shutting down").arg(signalNumber));
        // A second signal while the shutdown runs ends the process the usual way.
        setHandler(SIGTERM, SIG_DFL);
        setHandler(SIGINT, SIG_DFL);
    }
    emit signalReceived(signalNumber);
    QCoreApplication::exit(0);
}
