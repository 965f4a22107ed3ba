// kestrana: CUPS backend of the Kestrana printer.
//   kestrana                                          lists the device
//   kestrana job-id user title copies options [file]  files the job (the file, or standard input) into the
//                                                     printing user's job folder for the HalcyraClient
// CUPS runs it as root. It reads the document, becomes the printing user (groups included) and only then
// touches that user's home, so a job can never write where its user could not. Only a job whose user CUPS has
// authenticated is filed.
#include "BackendOptions.h"
#include "JobWriter.h"
#include "PdfFacts.h"

#include <cups/backend.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The queue files one job at a time: whatever the queue's own bound (job-cancel-after), no job holds it longer.
const unsigned kSecondsAllowed = 3600;

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_outOfTime = 0;

void onTerminate(int)
{
    g_stop = 1;
}

void onAlarm(int)
{
    g_outOfTime = 1;
    g_stop = 1;
}

int refuse(int status, const std::string& message)
{
    std::fprintf(stderr, "ERROR: %s\n", message.c_str());
    // CUPS shows the last message on the printer's status line to everyone until the next job: the reason
    // stays with this job alone, unless the printer itself stops.
    if (status != CUPS_BACKEND_STOP) {
        std::fputs("INFO:\n", stderr);
    }
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

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Under the queue's "authenticated" operation policy CUPS names who submitted the job: AUTH_UID from the local
// socket's credentials, else AUTH_USERNAME (root, or a password). AUTH_USERNAME is only the submitter's own
// when the queue asks no credentials of its own (auth-info-required none); otherwise the submitter types it.
bool submittedBy(const User& user, std::string* error)
{
    const std::string uid = environment("AUTH_UID");
    const std::string name = environment("AUTH_USERNAME");
    const std::string required = environment("AUTH_INFO_REQUIRED");
    bool authenticated = false;
    bool same = false;
    if (!uid.empty()) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(uid.c_str(), &end, 10);
        authenticated = *end == '\0';
        same = authenticated && value == user.uid;
    } else if (!name.empty() && (required.empty() || required == "none")) {
        authenticated = true;
        same = name == user.name;
    }
    if (!authenticated) {
        const std::string queue = environment("PRINTER").empty() ? "Kestrana" : environment("PRINTER");
        *error = "the job of " + user.name
            + " is not filed: CUPS did not authenticate who printed it; the queue needs the authenticated "
              "operation policy: lpadmin -p "
            + queue + " -o printer-op-policy=authenticated";
    } else if (!same) {
        *error = "the job of " + user.name + " is not filed: another user printed it under that name";
    }
    return authenticated && same;
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

    // A cancelled job, or one out of time, stops the copy; what was written so far is removed.
    struct sigaction action
    {
    };
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = onAlarm;
    ::sigaction(SIGALRM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    ::alarm(kSecondsAllowed);

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
    if (!submittedBy(user, &error)) {
        return refuse(CUPS_BACKEND_FAILED, error);
    }
    std::string settings;
    // Nothing would ever send a job filed in root's home unless root runs a client of its own.
    if (user.uid == 0 && !JobWriter::clientSettingsExist(user.home, &settings)) {
        return refuse(CUPS_BACKEND_FAILED,
                      "jobs printed as root are not filed: root has no HalcyraClient set up (" + settings
                          + " is missing); print as the user who runs the client");
    }
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
    const std::string supplied = BackendOptions::documentName(argv[5]);
    const auto untitled = [](const std::string& name) { return name.empty() || name == "Untitled"; };
    const auto fitToDocument = [&supplied, &untitled](int pdfFd, PrintJobOptions* printJob) {
        const PdfFacts facts = PdfFacts::read(pdfFd);
        if (!facts.known) {
            std::fputs("DEBUG: pdfinfo could not read the document: filed as portrait\n", stderr);
        }
        // The pages come from CUPS's filters already turned (landscape, number-up): say what they are, the paper
        // turned with them.
        printJob->orientation = facts.landscape ? 2 : 1;
        const int shorter = std::min(printJob->pageWidth, printJob->pageHeight);
        const int longer = std::max(printJob->pageWidth, printJob->pageHeight);
        printJob->pageWidth = facts.landscape ? longer : shorter;
        printJob->pageHeight = facts.landscape ? shorter : longer;
        // CUPS puts "Untitled" in place of a job name longer than IPP allows (255 bytes): the program's own name
        // for the document in the PDF, else the name of the file printed.
        for (const std::string& name : { facts.title, supplied }) {
            if (untitled(printJob->docName) && !untitled(name)) {
                printJob->docName = name;
            }
        }
    };
    std::string baseName;
    if (!JobWriter::write(folder, job, source, &baseName, &error, &g_stop, fitToDocument)) {
        ::close(folder);
        if (g_outOfTime) {
            return refuse(CUPS_BACKEND_FAILED,
                          "the job is not filed: the document did not arrive within "
                              + std::to_string(kSecondsAllowed / 60) + " minutes");
        }
        return refuse(g_stop ? CUPS_BACKEND_CANCEL : CUPS_BACKEND_FAILED, error);
    }
    ::close(folder);
    std::fprintf(stderr, "INFO: Job filed as %s/%s.pdf\n", folderPath.c_str(), baseName.c_str());
    return CUPS_BACKEND_OK;
}
