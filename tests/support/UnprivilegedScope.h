#pragma once

#include <QByteArray>

#include <sys/types.h>

// Root reads every file whatever its mode. For the life of this object the calling thread checks file access
// as the unprivileged "nobody" user when the test runs as root (and does nothing otherwise), so a file with
// mode 000 is really unreadable. Directories the code has to list or change must be open to others.
class UnprivilegedScope
{
public:
    UnprivilegedScope();
    ~UnprivilegedScope();
    UnprivilegedScope(const UnprivilegedScope&) = delete;
    UnprivilegedScope& operator=(const UnprivilegedScope&) = delete;

    // The unprivileged identity ("nobody"), also for running a program as another user.
    static constexpr unsigned kUid = 65534;
    static constexpr unsigned kGid = 65534;

    // Opens a directory to everyone (rwx), for the unprivileged identity to work in.
    static bool openToAll(const char* path);

private:
    bool m_active = false;
};

// A process of the unprivileged "nobody" user that creates the folder of socketPath when it is missing (mode
// 0700, its own) and listens on a local socket there, accepting connections until the object is destroyed:
// another user holding a socket name. Only when the test runs as root; isListening() tells.
class ForeignListener
{
public:
    explicit ForeignListener(const QByteArray& socketPath);
    ~ForeignListener();
    ForeignListener(const ForeignListener&) = delete;
    ForeignListener& operator=(const ForeignListener&) = delete;

    bool isListening() const { return m_listening; }

private:
    pid_t m_pid = -1;
    bool m_listening = false;
};
