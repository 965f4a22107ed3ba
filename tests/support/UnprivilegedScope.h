#pragma once

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
