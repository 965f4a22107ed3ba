#pragma once

#include <sys/resource.h>

// For the life of this object the calling thread can start no thread or process, as when a user's task limit is
// reached on a shared host: the process limit drops to zero, and when the test runs as root (which no limit
// binds) this thread alone takes the unprivileged "nobody" identity, so it also reads and writes files as nobody.
// Threads started before keep running.
class ThreadLimitScope
{
public:
    ThreadLimitScope();
    ~ThreadLimitScope();
    ThreadLimitScope(const ThreadLimitScope&) = delete;
    ThreadLimitScope& operator=(const ThreadLimitScope&) = delete;

    // True when a thread started now would be refused.
    static bool refusesThreads();

private:
    rlimit m_saved {};
    bool m_asNobody = false;
};
