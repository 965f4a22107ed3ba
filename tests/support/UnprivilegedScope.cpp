#include "UnprivilegedScope.h"

#include <sys/fsuid.h>
#include <sys/stat.h>
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
