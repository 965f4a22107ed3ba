#include "UnprivilegedScope.h"

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const unsigned kNobody = 65534;
}

UnprivilegedScope::UnprivilegedScope()
{
    if (geteuid() == 0) {
        setfsgid(kNobody);
        setfsuid(kNobody);
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
