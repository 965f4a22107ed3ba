#pragma once

#include <csignal>
#include <functional>
#include <string>

// One print job as the virtual printer writes it: a parameter file named after the job and the PDF beside it.
struct PrintJobOptions
{
    std::string docName; // UTF-8
    bool color = false;
    int duplexType = 0; // 0 single-sided, 1 long edge, 2 short edge
    int copies = 1;
    bool collate = true;
    int orientation = 1; // 1 portrait, 2 landscape
    int pageWidth = 2100; // tenths of a millimetre
    int pageHeight = 2970;
};

// Writes jobs into a job folder without ever following a symbolic link and without leaving a half-written
// file under a job's name: each file is written under a hidden name, synced, and renamed into place, the
// parameter file first and the PDF last, since the client starts on a job when its PDF appears.
class JobWriter
{
public:
    // Called once the PDF is written in full, before the parameter file: may fit the options to the document.
    // pdfFd: the written PDF, open for reading.
    using Inspect = std::function<void(int pdfFd, PrintJobOptions* printJob)>;

    // Paper name (A3, A4, A5, Letter, Legal; any case) to its size in tenths of a millimetre.
    static bool paperSize(const std::string& name, int* width, int* height);
    static std::string parameterText(const PrintJobOptions& printJob);
    // job-<date>-<time>-<pid>-<8 hex digits>: no job name is the start of another one.
    static std::string newBaseName();
    // A single folder name that the client and the writers read the same way.
    static bool isPlainFolderName(const std::string& name);
    // Job/Path of the client's settings file in the open data folder, "ksprinter" when it is unset or not a
    // plain folder name.
    static std::string jobFolderName(int dataFolderFd);

    // Whether the client has been set up in this home: its settings file <home>/halcyraclient/halcyraclient.ini.
    static bool clientSettingsExist(const std::string& home, std::string* path);

    // Opens <home>/halcyraclient/<Job/Path>, creating the two folders (owner only) when missing. Every step
    // from the home on must be a real directory owned by the calling user. Returns a descriptor (and the
    // folder's path in *path) or -1.
    static int openJobFolder(const std::string& home, std::string* path, std::string* error);
    // Opens (and creates when missing) a folder named by the caller itself.
    static int openFolder(const std::string& path, std::string* error);

    // Places one job from the PDF read from sourceFd. *baseName: the job name to use, or empty for a new
    // unique one; on success the name used. stop, when given, is polled while copying (a cancelled job).
    // Temporaries an earlier writer left behind (killed mid-copy) are removed once an hour old. A document over
    // 1 GiB, the most the client sends, is not placed.
    static bool write(int folderFd, PrintJobOptions printJob, int sourceFd, std::string* baseName, std::string* error,
                      const volatile std::sig_atomic_t* stop = nullptr, const Inspect& inspect = Inspect());
};
