// kestrana: CUPS backend of the Kestrana printer.
//   kestrana                                          lists the device
//   kestrana job-id user title copies options [file]  files the job (the file, or standard input) into the
//                                                     printing user's job folder for the HalcyraClient
// CUPS runs it as root. It reads the document, becomes the printing user (groups included) and only then
// touches that user's home, so a job can never write where its user could not.
#include "BackendOptions.h"
#include "JobWriter.h"

#include <cups/backend.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t g_cancelled = 0;

void onTerminate(int)
{
    g_cancelled = 1;
}

int refuse(int status, const std::string& message)
{
    std::fprintf(stderr, "ERROR: %s\n", message.c_str());
    return status;
}

struct User
{
    std::string name;
    std::string home;
    uid_t uid = 0;
    gid_t gid = 0;
};

bool lookUp(const char* name, User* user)
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    while (::getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (!found) {
        return false;
    }
    user->name = found->pw_name;
    user->home = found->pw_dir ? found->pw_dir : "";
    user->uid = found->pw_uid;
    user->gid = found->pw_gid;
    return true;
}

// Becomes the user for good; a backend not run as root may only write for its own user.
bool becomeUser(const User& user, std::string* error)
{
    if (::geteuid() != 0) {
        if (::geteuid() == user.uid) {
            return true;
        }
        *error = "the backend does not run as root and cannot file jobs for " + user.name
            + "; install it owned by root with mode 0700";
        return false;
    }
    if (::initgroups(user.name.c_str(), user.gid) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0) {
        *error = "cannot switch to user " + user.name + ": " + std::strerror(errno);
        return false;
    }
    gid_t realGid;
    gid_t effectiveGid;
    gid_t savedGid;
    uid_t realUid;
    uid_t effectiveUid;
    uid_t savedUid;
    const bool switched = ::getresuid(&realUid, &effectiveUid, &savedUid) == 0
        && ::getresgid(&realGid, &effectiveGid, &savedGid) == 0 && realUid == user.uid && effectiveUid == user.uid
        && savedUid == user.uid && realGid == user.gid && effectiveGid == user.gid && savedGid == user.gid
        && (user.uid == 0 || ::setuid(0) != 0);
    if (!switched) {
        *error = "cannot switch to user " + user.name + " for good";
    }
    return switched;
}
} // namespace

int main(int argc, char* argv[])
{
    if (argc == 1) {
        std::puts("direct kestrana \"Kestrana\" \"Kestrana secure printing\"");
        return CUPS_BACKEND_OK;
    }
    if (argc < 6 || argc > 7) {
        std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
        return CUPS_BACKEND_FAILED;
    }

    // A cancelled job stops the copy; what was written so far is removed.
    struct sigaction action
    {
    };
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // The spool file is readable by root and CUPS only: open it before giving up root.
    int source = STDIN_FILENO;
    if (argc == 7) {
        source = ::open(argv[6], O_RDONLY | O_CLOEXEC);
        if (source < 0) {
            return refuse(CUPS_BACKEND_FAILED, std::string("cannot read the print file: ") + std::strerror(errno));
        }
    }

    User user;
    if (!*argv[2] || !lookUp(argv[2], &user)) {
        return refuse(CUPS_BACKEND_FAILED, std::string("unknown user \"") + argv[2] + "\"");
    }
    std::string error;
    if (!becomeUser(user, &error)) {
        // Not a fault of this job: the queue cannot work until the backend is installed right.
        return refuse(::geteuid() == 0 || ::getuid() == 0 ? CUPS_BACKEND_FAILED : CUPS_BACKEND_STOP, error);
    }
    ::umask(077);

    std::string folderPath;
    const int folder = JobWriter::openJobFolder(user.home, &folderPath, &error);
    if (folder < 0) {
        return refuse(CUPS_BACKEND_FAILED, error);
    }
    const PrintJobOptions job = BackendOptions::parse(argv[3], argv[4], argv[5]);
    std::string baseName;
    if (!JobWriter::write(folder, job, source, &baseName, &error, &g_cancelled)) {
        ::close(folder);
        return refuse(g_cancelled ? CUPS_BACKEND_CANCEL : CUPS_BACKEND_FAILED, error);
    }
    ::close(folder);
    std::fprintf(stderr, "INFO: Job filed as %s/%s.pdf\n", folderPath.c_str(), baseName.c_str());
    return CUPS_BACKEND_OK;
}
