#pragma once

#include "api/KsPrinter.h"
#include "api/KsProject.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>

class KsKit;
class LoginInfo;

// Where the job folder is, as the settings file says when the job intake is set up.
struct JobFolderSetting
{
    QString settingsFile; // the settings file read
    QString jobFolder; // the job folder (Job/Path); empty when there is no settings file

    // The job folder of this name: <data folder>/<folderName>.
    static QString pathOf(const QString& folderName);
    // Reads the settings file now.
    static JobFolderSetting read();
};

// Settings the job intake reads at the start of each step.
struct JobOptions
{
    JobFolderSetting folder;
    bool fileLimit = false; // setting/fileLimit: apply the page and size limits
    bool keepJobFiles = false; // Debug/KeepJobFiles: move submitted job files to the backup folder
    bool showProgress = true; // setting/IsShowProgress
    int showProgressFileSizeLimitMiB = 50; // setting/ShowProgressFileSizeLimit
    bool isLocalization = false; // setting/IsLocalization
    bool supportSecret = false; // setting/supportSecret
    QString clientVersion; // Basic/Version
    int maxPageCount = 1000;
    qint64 maxJobFileSize = 1073741824;
    bool keepUnsentJobs = true; // Job/KeepUnsentJobs: a job the server could not take waits to be sent again
    int keepUnsentHours = 24; // Job/KeepUnsentHours: how long such a job waits at most

    // The values the settings hold.
    static JobOptions fromSettings(const LoginInfo& info);
};

// What the no-card print dialog hands back when the user confirms it.
struct NoCardChoice
{
    QString documentName; // in: the job the choice is for, shown in the dialog
    QList<KsPrinter> printers; // in: the user's printers, as just fetched
    QList<KsProject> projects; // in: the user's fee projects, as just fetched
    bool supportSecret = false; // in: offer the security levels
    QString controllerMac;
    int securityLevel = 0;
    QString projectId;
};

// Progress display of one large upload; the host decides what it looks like.
class JobProgress
{
public:
    virtual ~JobProgress() = default;
    virtual void setValue(int value) = 0;
    virtual bool wasCanceled() const = 0;
    virtual void close() = 0;
};

// Everything the job queue and the submission pipeline need from the window that hosts them: identity,
// options, the server check, prompts, the tray and the progress display. The main window implements it with
// real boxes and the tray; tests implement it with scripted answers. Notices go to the message store through
// JobNotices, and the jobs tab follows the submission's signals.
class JobHost
{
public:
    // NoChoice: the question was closed without an answer (Escape, the window's close).
    enum class ExistingJobsChoice { Discard, Submit, NoChoice };

    virtual ~JobHost() = default;

    // The percent-encoded account of the logged-in user.
    virtual QString userAccount() const = 0;
    virtual JobOptions jobOptions() const = 0;
    // The server API; one for the host's lifetime. Its account's server is where every request of a job goes.
    virtual KsKit& api() = 0;

    // Whether the server can be reached now; with showDialog the host tells the user when it cannot.
    virtual bool checkNetworkState(bool showDialog) = 0;

    // The server could not be reached while jobs were kept: the host tells the user without blocking, at
    // most once until the server is seen again.
    virtual void reportServerUnreachable() { }
    // A job request got no answer at all: the host shows itself offline at once rather than at its next check
    // (reason: the time-out's text, or empty for the written "Unable to link server").
    virtual void reportNoAnswer(const QString& reason) { Q_UNUSED(reason) }
    // How many jobs wait in the job folder to be sent; the window shows it in its status strip and tray tooltip.
    virtual void setUnsentJobCount(int count) { Q_UNUSED(count) }

    // Modal yes/no question titled "Confirmation" whose "No" removes the job, naming the job's document under the
    // question; true only for "Yes" (closing counts as "No", Return as "Yes").
    virtual bool askConfirmation(const QString& text, const QString& documentName) = 0;
    // Modal warning box titled "Title" with one button "Yes".
    virtual void showWarning(const QString& text) = 0;
    // Modal critical box titled "Error" with one button "Yes" (the announce step's "ks server link ex").
    virtual void showCritical(const QString& text) = 0;
    // Start-up question about jobs already waiting: window title as given, text "Existed jobs found",
    // informative text "Do you want to submit the jobs?" naming how many wait, buttons "Discard" and
    // "Submit" (the default: Return, Enter and Space press it).
    virtual ExistingJobsChoice askExistingJobs(const QString& title, int waiting) = 0;
    // Runs the no-card print dialog; false when the user declined it, otherwise the choice is filled in.
    virtual bool askNoCardChoice(NoCardChoice* choice) = 0;

    // Tray balloon.
    virtual void showSystemMessage(const QString& title, const QString& text) = 0;

    // Window-modal progress display: label, cancel button text, range 0..maximum, window title.
    virtual std::unique_ptr<JobProgress> createProgress(const QString& label, const QString& cancelText, int maximum,
                                                        const QString& title)
        = 0;
};
