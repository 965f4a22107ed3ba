#pragma once

#include <QString>
#include <QStringList>

// The client's logging: one root logger with a console target on standard output and a rolling file
// "hyc.log" (65536 bytes, one backup, threshold DEBUG), one TTCC-shaped layout with the date format
// "dd.MM.yyyy hh:mm:ss.zzz", and Qt's own messages routed into it. Backed by spdlog.
//
// Each source file keeps a file-level pointer:  static Logger* logger = Logging::rootLogger();
// The root logger exists before setupRootLogger() runs; until then it writes to the console only.
class Logger
{
public:
    enum class Level { Trace, Debug, Info, Warn, Error, Fatal };

    void trace(const QString& message);
    void debug(const QString& message);
    void info(const QString& message);
    void warn(const QString& message);
    void error(const QString& message);
    void fatal(const QString& message);
    void log(Level level, const QString& message);
    QString name() const { return QStringLiteral("root"); }
};

namespace Logging {
Logger* rootLogger();

void setupRootLogger(const QString& logDir);
void logStartup();
void logShutdown();
void shutdownRootLogger();

// Masks the value of every credential field (Password and the like) in query, form, INI and JSON form.
// Every message passes through it before it reaches a target.
QString maskSecrets(const QString& text);

// Tests: keep a copy of every message text (without the layout) logged from now on.
void startCapture();
QStringList takeCaptured();
} // namespace Logging
