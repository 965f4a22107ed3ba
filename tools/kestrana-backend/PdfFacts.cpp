#include "PdfFacts.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const unsigned kSecondsAllowed = 30;
const size_t kMaxReport = 1 << 16;

// The text after "Key:" and its padding on the line that starts with it.
bool field(const std::string& report, const std::string& key, std::string* value)
{
    size_t start = 0;
    while (start < report.size()) {
        size_t end = report.find('\n', start);
        if (end == std::string::npos) {
            end = report.size();
        }
        if (report.compare(start, key.size() + 1, key + ":") == 0) {
            const size_t text = report.find_first_not_of(' ', start + key.size() + 1);
            *value = text < end ? report.substr(text, end - text) : std::string();
            return true;
        }
        start = end + 1;
    }
    return false;
}

// pdfinfo's report on its standard output.
PdfFacts parse(const std::string& report)
{
    PdfFacts facts;
    std::string size;
    double width = 0;
    double height = 0;
    if (!field(report, "Page size", &size) || std::sscanf(size.c_str(), "%lf x %lf", &width, &height) != 2) {
        return facts;
    }
    facts.known = true;
    std::string rotation;
    const long turn = field(report, "Page rot", &rotation) ? std::strtol(rotation.c_str(), nullptr, 10) : 0;
    // pdfinfo gives the page box as drawn; a page turned a quarter is shown the other way round.
    facts.landscape = (turn % 180 == 0) ? width > height : height > width;
    field(report, "Title", &facts.title);
    return facts;
}
} // namespace

PdfFacts PdfFacts::read(int pdfFd)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return PdfFacts();
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);
        if (::lseek(pdfFd, 0, SEEK_SET) != 0 || ::dup2(pdfFd, STDIN_FILENO) < 0 || ::dup2(out[1], STDOUT_FILENO) < 0
            || quiet < 0 || ::dup2(quiet, STDERR_FILENO) < 0) {
            ::_exit(127);
        }
        // A document pdfinfo cannot get through in time is filed without its facts; the alarm outlives exec.
        ::alarm(kSecondsAllowed);
        ::execlp("pdfinfo", "pdfinfo", "-enc", "UTF-8", "fd://0", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    if (child < 0) {
        ::close(out[0]);
        return PdfFacts();
    }
    std::string report;
    char block[4096];
    for (;;) {
        const ssize_t got = ::read(out[0], block, sizeof block);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        if (report.size() < kMaxReport) {
            report.append(block, static_cast<size_t>(got));
        }
    }
    ::close(out[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? parse(report) : PdfFacts();
}
