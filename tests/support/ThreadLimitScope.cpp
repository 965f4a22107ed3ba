#include "ThreadLimitScope.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
const long kNobody = 65534;
}

ThreadLimitScope::ThreadLimitScope()
{
    getrlimit(RLIMIT_NPROC, &m_saved);
    if (geteuid() == 0) {
        // The raw call changes this thread's identity only; the libc wrapper would change every thread's. The
        // saved ID stays root, so the destructor can come back.
        m_asNobody = syscall(SYS_setresuid, kNobody, kNobody, 0L) == 0;
    }
    rlimit none = m_saved;
    none.rlim_cur = 0;
    setrlimit(RLIMIT_NPROC, &none);
}

ThreadLimitScope::~ThreadLimitScope()
{
    if (m_asNobody) {
        syscall(SYS_setresuid, 0L, 0L, 0L);
    }
    setrlimit(RLIMIT_NPROC, &m_saved);
}

bool ThreadLimitScope::refusesThreads()
{
    pthread_t thread;
    const int error = pthread_create(
        &thread, nullptr, [](void*) -> void* { return nullptr; }, nullptr);
    if (error == 0) {
        pthread_join(thread, nullptr);
    }
    return error != 0;
}
