#include "JobWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char kDataFolder[] = "halcyraclient";
const char kSettingsFile[] = "halcyraclient.ini";
const char kDefaultJobFolder[] = "ksprinter";
const size_t kMaxSettingsSize = 1 << 20;
const size_t kCopyBlock = 1 << 16;
const std::time_t kStaleTemporaryAge = 3600;
// The largest job the client sends: a larger document would only fill the home and wait for ever.
const unsigned long long kMaxDocumentSize = 1ULL << 30;

std::string lastError()
{
    return std::strerror(errno);
}

// Closes a descriptor when it goes out of scope.
class Fd
{
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    { }
    ~Fd()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

std::string randomHex(int digits)
{
    static std::random_device device;
    static std::mt19937_64 generator((static_cast<uint64_t>(device()) << 32) ^ device() ^ getpid());
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < digits; ++i) {
        text += hex[generator() % 16];
    }
    return text;
}

// One folder below parentFd, never through a link, created owner-only when missing and asked for.
int openOwnedFolder(int parentFd, const std::string& name, const std::string& shown, bool create, std::string* error)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(parentFd, name.c_str(), flags);
    if (fd < 0 && errno == ENOENT && create) {
        if (::mkdirat(parentFd, name.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = "cannot create " + shown + ": " + lastError();
            return -1;
        }
        fd = ::openat(parentFd, name.c_str(), flags);
    }
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR) {
            *error = shown + " is not a plain directory";
        } else {
            *error = "cannot open " + shown + ": " + lastError();
        }
        return -1;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd);
        *error = shown + " is not a directory owned by the printing user";
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool stopped(const volatile std::sig_atomic_t* stop)
{
    return stop && *stop;
}

// Reads up to size bytes; fewer only at the end of the input. -1 on an error or a stop.
ssize_t readFull(int fd, char* data, size_t size, const volatile std::sig_atomic_t* stop)
{
    size_t done = 0;
    while (done < size) {
        if (stopped(stop)) {
            errno = EINTR;
            return -1;
        }
        const ssize_t got = ::read(fd, data + done, size - done);
        if (got < 0) {
            if (errno == EINTR && !stopped(stop)) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

// A hidden file that no listing of the job folder shows, created here and nowhere else (no link followed,
// no file reused). The first name is the job's own; another is tried when it is taken.
int createHidden(int folderFd, const std::string& finalName, std::string* tempName, std::string* error)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        *tempName = "." + finalName + (attempt == 0 ? std::string() : "-" + randomHex(8)) + ".part";
        const int fd = ::openat(folderFd, tempName->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            return fd;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    *error = "cannot create a file for " + finalName + ": " + lastError();
    tempName->clear();
    return -1;
}

bool isTemporaryName(const std::string& name)
{
    const std::string suffix = ".part";
    return name.size() > suffix.size() + 1 && name.front() == '.'
        && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A writer killed mid-copy leaves its hidden temporaries; one that is still at work keeps them fresh.
void removeStaleTemporaries(int folderFd)
{
    const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0) {
            ::close(listFd);
        }
        return;
    }
    const std::time_t now = std::time(nullptr);
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat info;
        if (isTemporaryName(name) && ::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0
            && !S_ISDIR(info.st_mode) && now - info.st_mtime >= kStaleTemporaryAge) {
            stale.push_back(name);
        }
    }
    ::closedir(dir);
    for (const std::string& name : stale) {
        ::unlinkat(folderFd, name.c_str(), 0);
    }
}

bool finishFile(int fd, const std::string& finalName, std::string* error)
{
    if (::fsync(fd) != 0) {
        *error = "cannot write " + finalName + ": " + lastError();
        return false;
    }
    return true;
}

// Moves a finished file to its job name unless that name is taken.
bool renameNoReplace(int folderFd, const std::string& from, const std::string& to)
{
    if (::renameat2(folderFd, from.c_str(), folderFd, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // File systems without the flag: a hard link fails on a taken name just the same.
    if (::linkat(folderFd, from.c_str(), folderFd, to.c_str(), 0) != 0) {
        return false;
    }
    ::unlinkat(folderFd, from.c_str(), 0);
    return true;
}

bool exists(int folderFd, const std::string& name)
{
    struct stat info;
    return ::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}
} // namespace

bool JobWriter::paperSize(const std::string& name, int* width, int* height)
{
    struct Paper
    {
        const char* name;
        int width;
        int height;
    };
    static const Paper papers[] = {
        { "a3", 2970, 4200 },     { "a4", 2100, 2970 },    { "a5", 1480, 2100 },
        { "letter", 2159, 2794 }, { "legal", 2159, 3556 },
    };
    for (const Paper& paper : papers) {
        if (::strcasecmp(name.c_str(), paper.name) == 0) {
            *width = paper.width;
            *height = paper.height;
            return true;
        }
    }
    return false;
}

std::string JobWriter::parameterText(const PrintJobOptions& printJob)
{
    // One line per value: a control character in the name would start a key of its own.
    std::string docName = printJob.docName;
    for (char& c : docName) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = ' ';
        }
    }
    const std::string common = "Color=" + std::string(printJob.color ? "1" : "0")
        + "\nCopies=" + std::to_string(printJob.copies) + "\nCollate=" + (printJob.collate ? "1" : "0")
        + "\nDuplexType=" + std::to_string(printJob.duplexType) + "\nPageWidth=" + std::to_string(printJob.pageWidth)
        + "\nPageHeight=" + std::to_string(printJob.pageHeight) + "\n";
    return "[AppPara]\n" + common + "Orientation=" + std::to_string(printJob.orientation) + "\n\n[PrintPara]\n" + common
        + "DocName=" + docName + "\n";
}

std::string JobWriter::newBaseName()
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return "job-" + std::string(stamp) + "-" + std::to_string(::getpid()) + "-" + randomHex(8);
}

bool JobWriter::isPlainFolderName(const std::string& name)
{
    if (name.empty() || name.size() > 255 || name.front() == '.' || name.front() == ' ' || name.back() == ' ') {
        return false;
    }
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        // Letters, digits, " -_." and UTF-8: what the settings file holds without quotes or escapes.
        const bool plain = u >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '-' || c == '_' || c == '.' || c == ' ';
        if (!plain) {
            return false;
        }
    }
    return true;
}

std::string JobWriter::jobFolderName(int dataFolderFd)
{
    Fd fd(::openat(dataFolderFd, kSettingsFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info;
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)
        || static_cast<size_t>(info.st_size) > kMaxSettingsSize) {
        return kDefaultJobFolder;
    }
    std::string text(static_cast<size_t>(info.st_size), '\0');
    const ssize_t got = readFull(fd.get(), &text[0], text.size(), nullptr);
    if (got < 0) {
        return kDefaultJobFolder;
    }
    text.resize(static_cast<size_t>(got));

    auto trim = [](std::string s) {
        const size_t first = s.find_first_not_of(" \t\r");
        const size_t last = s.find_last_not_of(" \t\r");
        return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
    };
    std::string section;
    std::string value;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = trim(text.substr(start, end - start));
        start = end + 1;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = trim(line.substr(1, line.size() - 2));
            continue;
        }
        const size_t eq = line.find('=');
        if (section == "Job" && eq != std::string::npos && trim(line.substr(0, eq)) == "Path") {
            value = trim(line.substr(eq + 1));
        }
    }
    return isPlainFolderName(value) ? value : kDefaultJobFolder;
}

bool JobWriter::clientSettingsExist(const std::string& home, std::string* path)
{
    *path = home + "/" + kDataFolder + "/" + kSettingsFile;
    struct stat info;
    return ::lstat(path->c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

int JobWriter::openJobFolder(const std::string& home, std::string* path, std::string* error)
{
    if (home.empty() || home.front() != '/') {
        *error = "the home directory \"" + home + "\" cannot be used";
        return -1;
    }
    // The home itself is where the system's user database puts it; from there on nothing is followed.
    Fd homeFd(::open(home.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat info;
    if (homeFd.get() < 0 || ::fstat(homeFd.get(), &info) != 0 || info.st_uid != ::geteuid()) {
        *error = "the home directory " + home + " cannot be used"
            + (homeFd.get() < 0 ? ": " + lastError() : std::string(": not owned by the printing user"));
        return -1;
    }
    const std::string dataShown = home + "/" + kDataFolder;
    Fd dataFd(openOwnedFolder(homeFd.get(), kDataFolder, dataShown, true, error));
    if (dataFd.get() < 0) {
        return -1;
    }
    const std::string folder = jobFolderName(dataFd.get());
    *path = dataShown + "/" + folder;
    return openOwnedFolder(dataFd.get(), folder, *path, true, error);
}

int JobWriter::openFolder(const std::string& path, std::string* error)
{
    // Each missing step is created in turn, like mkdir -p.
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700);
    }
    ::mkdir(path.c_str(), 0700);
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open the job folder " + path + ": " + lastError();
    }
    return fd;
}

bool JobWriter::write(int folderFd, PrintJobOptions printJob, int sourceFd, std::string* baseName, std::string* error,
                      const volatile std::sig_atomic_t* stop, const Inspect& inspect)
{
    error->clear();
    removeStaleTemporaries(folderFd);
    const bool fixedName = !baseName->empty();
    std::string base = fixedName ? *baseName : newBaseName();

    std::vector<char> block(kCopyBlock);
    ssize_t got = readFull(sourceFd, block.data(), 5, stop);
    if (got < 0) {
        *error = stopped(stop) ? std::string("cancelled") : "cannot read the document: " + lastError();
        return false;
    }
    if (got < 5 || std::memcmp(block.data(), "%PDF-", 5) != 0) {
        *error = "the document is not a PDF file";
        return false;
    }

    std::string pdfTemp;
    std::string paramTemp;
    std::string placedParam;
    auto fail = [&](const std::string& reason) {
        *error = reason;
        for (const std::string* name : { &pdfTemp, &paramTemp, &placedParam }) {
            if (!name->empty()) {
                ::unlinkat(folderFd, name->c_str(), 0);
            }
        }
        return false;
    };

    Fd pdf(createHidden(folderFd, base + ".pdf", &pdfTemp, error));
    if (pdf.get() < 0) {
        return false;
    }
    size_t pending = static_cast<size_t>(got);
    unsigned long long total = pending;
    for (;;) {
        if (total > kMaxDocumentSize) {
            return fail("the document is larger than 1 GiB, the most a Kestrana job may be");
        }
        if (!writeAll(pdf.get(), block.data(), pending)) {
            return fail("cannot write " + base + ".pdf: " + lastError());
        }
        got = readFull(sourceFd, block.data(), block.size(), stop);
        if (got < 0) {
            return fail(stopped(stop) ? std::string("cancelled") : "cannot read the document: " + lastError());
        }
        if (got == 0) {
            break;
        }
        pending = static_cast<size_t>(got);
        total += pending;
    }
    if (stopped(stop)) {
        return fail("cancelled");
    }
    if (!finishFile(pdf.get(), base + ".pdf", error)) {
        return fail(*error);
    }
    if (inspect) {
        inspect(pdf.get(), &printJob);
    }
    if (::close(pdf.release()) != 0) {
        return fail("cannot write " + base + ".pdf: " + lastError());
    }
    if (stopped(stop)) {
        return fail("cancelled");
    }

    const std::string params = parameterText(printJob);
    Fd param(createHidden(folderFd, base, &paramTemp, error));
    if (param.get() < 0) {
        return fail(*error);
    }
    if (!writeAll(param.get(), params.data(), params.size())) {
        return fail("cannot write " + base + ": " + lastError());
    }
    if (!finishFile(param.get(), base, error) || ::close(param.release()) != 0) {
        return fail(error->empty() ? "cannot write " + base + ": " + lastError() : *error);
    }

    // The parameter file first: the client takes up a job when its PDF appears.
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (attempt > 0) {
            if (fixedName) {
                return fail("a job named " + base + " is already waiting");
            }
            base = newBaseName();
        }
        if (exists(folderFd, base + ".pdf")) {
            continue;
        }
        if (!renameNoReplace(folderFd, paramTemp, base)) {
            if (errno == EEXIST) {
                continue;
            }
            return fail("cannot place " + base + ": " + lastError());
        }
        const std::string paramHidden = paramTemp;
        paramTemp.clear();
        placedParam = base;
        if (!renameNoReplace(folderFd, pdfTemp, base + ".pdf")) {
            const int reason = errno;
            // Back under its hidden name, for the next job name to try.
            if (renameNoReplace(folderFd, base, paramHidden)) {
                paramTemp = paramHidden;
                placedParam.clear();
            }
            if (reason == EEXIST && placedParam.empty()) {
                continue;
            }
            errno = reason;
            return fail("cannot place " + base + ".pdf: " + lastError());
        }
        ::fsync(folderFd);
        *baseName = base;
        return true;
    }
    return fail("no free job name in the job folder");
}
