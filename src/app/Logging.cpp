#include "Logging.h"

#include "PrivateFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QThread>

#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include <cstdio>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kSecondsFormat = "dd.MM.yyyy hh:mm:ss"; // then ".zzz"
const qint64 kMaxFileSize = 65536;

// A size-limited file that keeps one backup, "<file>.1", and flushes every line so a crash loses nothing.
class RollingFileSink : public spdlog::sinks::base_sink<std::mutex>
{
public:
    explicit RollingFileSink(const QString& path)
        : m_path(path)
    {
        openFile();
    }
    ~RollingFileSink() override
    {
        if (m_file) {
            std::fclose(m_file);
        }
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override
    {
        if (!m_file) {
            return;
        }
        const size_t len = msg.payload.size() + 1;
        if (m_size > 0 && m_size + static_cast<qint64>(len) > kMaxFileSize) {
            rotate();
            if (!m_file) {
                return;
            }
        }
        std::fwrite(msg.payload.data(), 1, msg.payload.size(), m_file);
        std::fputc('\n', m_file);
        std::fflush(m_file);
        m_size += static_cast<qint64>(len);
    }
    void flush_() override
    {
        if (m_file) {
            std::fflush(m_file);
        }
    }

private:
    void openFile()
    {
        // The user's alone from the first byte; a wider mode left by an earlier client is repaired.
        m_file = nullptr;
        const int fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                              S_IRUSR | S_IWUSR);
        if (fd < 0) {
            m_size = 0;
            return;
        }
        struct stat info;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
            ::fchmod(fd, info.st_mode & S_IRWXU);
        }
        m_file = ::fdopen(fd, "ab");
        if (!m_file) {
            ::close(fd);
        }
        m_size = m_file ? QFileInfo(m_path).size() : 0;
    }
    void rotate()
    {
        std::fclose(m_file);
        m_file = nullptr;
        const QString backup = m_path + QStringLiteral(".1");
        QFile::remove(backup);
        QFile::rename(m_path, backup);
        openFile();
    }

    QString m_path;
    std::FILE* m_file = nullptr;
    qint64 m_size = 0;
};

struct LogState
{
    std::shared_ptr<spdlog::logger> logger;
    QMutex captureMutex;
    bool capturing = false;
    QStringList captured;
    bool handlingQtMessages = false;
    QtMessageHandler previousHandler = nullptr;
};

// Never destroyed: Qt messages and log calls can still arrive from static destructors at exit.
LogState& state()
{
    static LogState* s = new LogState;
    return *s;
}

std::shared_ptr<spdlog::logger> makeConsoleLogger()
{
    auto console = std::make_shared<spdlog::sinks::stdout_sink_mt>();
    console->set_pattern("%v");
    auto logger = std::make_shared<spdlog::logger>("root", console);
    logger->set_pattern("%v");
    logger->set_level(spdlog::level::trace);
    logger->flush_on(spdlog::level::trace);
    return logger;
}

spdlog::level::level_enum toSpd(Logger::Level level)
{
    switch (level) {
    case Logger::Level::Trace:
        return spdlog::level::trace;
    case Logger::Level::Debug:
        return spdlog::level::debug;
    case Logger::Level::Info:
        return spdlog::level::info;
    case Logger::Level::Warn:
        return spdlog::level::warn;
    case Logger::Level::Error:
        return spdlog::level::err;
    case Logger::Level::Fatal:
        return spdlog::level::critical;
    }
    return spdlog::level::info;
}

// Local time makes glibc check the time-zone file on every call. An offset only changes on a whole second,
// so the text up to the seconds is made once per second and the milliseconds are appended.
QString timestamp()
{
    struct Clock
    {
        QMutex mutex;
        qint64 second = std::numeric_limits<qint64>::min();
        QString upToSeconds;
    };
    static Clock* clock = new Clock; // never destroyed, as the state: lines can come from static destructors
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 millis = ((now % 1000) + 1000) % 1000;
    QMutexLocker locker(&clock->mutex);
    if (now - millis != clock->second) {
        clock->second = now - millis;
        clock->upToSeconds = QDateTime::fromMSecsSinceEpoch(clock->second).toString(QLatin1String(kSecondsFormat));
    }
    return clock->upToSeconds + QLatin1Char('.') + QStringLiteral("%1").arg(millis, 3, 10, QLatin1Char('0'));
}

const char* levelName(Logger::Level level)
{
    switch (level) {
    case Logger::Level::Trace:
        return "TRACE";
    case Logger::Level::Debug:
        return "DEBUG";
    case Logger::Level::Info:
        return "INFO";
    case Logger::Level::Warn:
        return "WARN";
    case Logger::Level::Error:
        return "ERROR";
    case Logger::Level::Fatal:
        return "FATAL";
    }
    return "INFO";
}

QString threadName()
{
    QThread* thread = QThread::currentThread();
    QString name = thread ? thread->objectName() : QString();
    if (name.isEmpty() && QCoreApplication::instance() && thread == QCoreApplication::instance()->thread()) {
        name = QStringLiteral("main");
    }
    if (name.isEmpty()) {
        name = QString::number(reinterpret_cast<quintptr>(thread), 16);
    }
    return name;
}

void qtMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    Logger* logger = Logging::rootLogger();
    switch (type) {
    case QtDebugMsg:
        logger->debug(message);
        break;
    case QtInfoMsg:
        logger->info(message);
        break;
    case QtWarningMsg:
        logger->warn(message);
        break;
    case QtCriticalMsg:
        logger->error(message);
        break;
    case QtFatalMsg:
        logger->fatal(message);
        break;
    }
}

} // namespace

void Logger::log(Level level, const QString& rawMessage)
{
    const QString message = Logging::maskSecrets(rawMessage);
    LogState& s = state();
    std::shared_ptr<spdlog::logger> target;
    {
        QMutexLocker locker(&s.captureMutex);
        if (s.capturing) {
            s.captured.append(message);
        }
        if (!s.logger) {
            s.logger = makeConsoleLogger();
        }
        // A copy, so a concurrent setup or shutdown cannot free the logger under this call.
        target = s.logger;
    }
    // TTCC shape: date [thread] LEVEL logger - message
    const QString line = timestamp() + QStringLiteral(" [") + threadName() + QStringLiteral("] ")
        + QLatin1String(levelName(level)) + QStringLiteral(" root - ") + message;
    const QByteArray bytes = line.toUtf8();
    target->log(toSpd(level), spdlog::string_view_t(bytes.constData(), static_cast<size_t>(bytes.size())));
}

void Logger::trace(const QString& message)
{
    log(Level::Trace, message);
}
void Logger::debug(const QString& message)
{
    log(Level::Debug, message);
}
void Logger::info(const QString& message)
{
    log(Level::Info, message);
}
void Logger::warn(const QString& message)
{
    log(Level::Warn, message);
}
void Logger::error(const QString& message)
{
    log(Level::Error, message);
}
void Logger::fatal(const QString& message)
{
    log(Level::Fatal, message);
}

namespace Logging {

Logger* rootLogger()
{
    static Logger root;
    return &root;
}

void setupRootLogger(const QString& logDir)
{
    // Owner-only, with the log and its backup inside.
    PrivateFiles::makePrivateDir(logDir);
    auto console = std::make_shared<spdlog::sinks::stdout_sink_mt>();
    console->set_pattern("%v");
    console->set_level(spdlog::level::trace);
    auto file = std::make_shared<RollingFileSink>(logDir + QDir::separator() + QStringLiteral("hyc.log"));
    file->set_pattern("%v");
    file->set_level(spdlog::level::debug); // TRACE reaches the console only

    auto logger = std::make_shared<spdlog::logger>("root", spdlog::sinks_init_list { console, file });
    logger->set_pattern("%v");
    logger->set_level(spdlog::level::trace);
    logger->flush_on(spdlog::level::trace);

    LogState& s = state();
    {
        QMutexLocker locker(&s.captureMutex);
        s.logger = logger;
    }
    if (!s.handlingQtMessages) {
        s.previousHandler = qInstallMessageHandler(qtMessageHandler);
        s.handlingQtMessages = true;
    }
}

void logStartup()
{
    Logger* logger = rootLogger();
    logger->info(QStringLiteral("################################################################"));
    logger->info(QStringLiteral("#                          START                               #"));
    logger->info(QStringLiteral("################################################################"));
}

void logShutdown()
{
    Logger* logger = rootLogger();
    logger->info(QStringLiteral("################################################################"));
    logger->info(QStringLiteral("#                          STOP                                #"));
    logger->info(QStringLiteral("################################################################"));
}

void shutdownRootLogger()
{
    rootLogger()->info(QStringLiteral("Root logger was shutdown."));
    LogState& s = state();
    if (s.handlingQtMessages) {
        qInstallMessageHandler(s.previousHandler);
        s.handlingQtMessages = false;
    }
    QMutexLocker locker(&s.captureMutex);
    if (s.logger) {
        s.logger->flush();
    }
    // Every target is removed: later messages (static destruction) go nowhere, the console included.
    s.logger = std::make_shared<spdlog::logger>("root", spdlog::sinks_init_list {});
}

QString maskSecrets(const QString& text)
{
    // Cheap test first: almost no line names a credential.
    static const char* const kHints[] = { "pass", "pwd", "secret", "token" };
    bool hinted = false;
    for (const char* hint : kHints) {
        hinted = hinted || text.contains(QLatin1String(hint), Qt::CaseInsensitive);
    }
    if (!hinted) {
        return text;
    }
    // The value goes whatever its encoding (plain, Base64, percent-encoded, hex), up to the next field.
    static const QRegularExpression pair(
        QStringLiteral("\\b([A-Za-z_]*(?:password|passwd|pwd|secret|token)[A-Za-z_]*)=[^&\\s]*"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression json(
        QStringLiteral("(\"[A-Za-z_]*(?:password|passwd|pwd|secret|token)[A-Za-z_]*\"\\s*:\\s*)"
                       "(?:\"(?:[^\"\\\\]|\\\\.)*\"|[^,}\\s]+)"),
        QRegularExpression::CaseInsensitiveOption);
    QString masked = text;
    masked.replace(pair, QStringLiteral("\\1=******"));
    masked.replace(json, QStringLiteral("\\1\"******\""));
    return masked;
}

void startCapture()
{
    LogState& s = state();
    QMutexLocker locker(&s.captureMutex);
    s.capturing = true;
    s.captured.clear();
}

QStringList takeCaptured()
{
    LogState& s = state();
    QMutexLocker locker(&s.captureMutex);
    QStringList out;
    out.swap(s.captured);
    return out;
}

} // namespace Logging
