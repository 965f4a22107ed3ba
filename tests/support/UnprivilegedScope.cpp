#include "UnprivilegedScope.h"

#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

UnprivilegedScope::UnprivilegedScope()
{
    if (geteuid() == 0) {
        setfsgid(kGid);
        setfsuid(kUid);
        m_active = true;
    }
}

UnprivilegedScope::~UnprivilegedScope()
{
    if (m_active) {
        setfsuid(0);
        setfsgid(0);
    }
}

bool UnprivilegedScope::openToAll(const char* path)
{
    return chmod(path, 0777) == 0;
}

ForeignListener::ForeignListener(const QByteArray& socketPath)
{
    sockaddr_un address {};
    if (geteuid() != 0 || socketPath.size() >= int(sizeof address.sun_path)) {
        return;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    const QByteArray folder = socketPath.left(socketPath.lastIndexOf('/'));
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        return;
    }
    m_pid = fork();
    if (m_pid == 0) {
        // Only calls that are safe after fork() in a process with threads.
        ::close(ready[0]);
        if (setgroups(0, nullptr) != 0 || setgid(UnprivilegedScope::kGid) != 0 || setuid(UnprivilegedScope::kUid) != 0) {
            _exit(1);
        }
        // Gone with the test, even one that ends without its destructors (set after the change of user,
        // which clears it).
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() == 1) {
            _exit(1);
        }
        mkdir(folder.constData(), 0700);
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0) {
            _exit(1);
        }
        const char byte = 1;
        if (write(ready[1], &byte, 1) != 1) {
            _exit(1);
        }
        for (;;) {
            accept(fd, nullptr, nullptr); // held open, never answered
        }
    }
    ::close(ready[1]);
    char byte = 0;
    m_listening = m_pid > 0 && read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
}

ForeignListener::~ForeignListener()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}
