#pragma once

#include <QByteArray>
#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// What every target shares: an application object for the code that needs one, and no log output (the
// client logs to standard output, which would drown the fuzzer's own report).
namespace FuzzSupport {
inline void quietMessages(QtMsgType, const QMessageLogContext&, const QString&) { }

inline void init(int* argc, char*** argv)
{
    static QCoreApplication* app = nullptr;
    if (!app) {
        std::fflush(stdout);
        std::freopen("/dev/null", "w", stdout);
        qInstallMessageHandler(quietMessages);
        // Temporary files in memory where there is such a place: the disk would set the pace otherwise.
        if (access("/dev/shm", W_OK) == 0) {
            setenv("TMPDIR", "/dev/shm", 1);
        }
        app = new QCoreApplication(*argc, *argv);
    }
}

inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), int(size));
}
} // namespace FuzzSupport
