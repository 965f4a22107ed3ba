#pragma once

#include "api/KsPrinter.h"
#include "api/KsProject.h"
#include "api/KsUserInfo.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

class JobFolder;
class JobHost;
class JobNotices;
class JobParamReader;
class JobRecovery;
class JobSubmitter;
class PrintJob;
class RetrySchedule;

// One job's way from its trigger to the server: its files, the server check, its parameters, the no-card
// choice, the user's permissions (with a prompt where the user may still choose), the page and size limits, and
// its submission. Each step reads and changes the job's PrintJob and can end its turn; the outcome says how.
class JobAdmission
{
public:
    // Sent or removed; kept for a later pass; waiting for its files; broken off by a logout or quit.
    enum class Outcome { Done, Kept, Waiting, Interrupted };
    // The timer's pass asks the server before each job; the start-up pass, after the user chose to submit,
    // reads at once.
    enum class Pass { Timer, Startup };
    // True once the pass is to end: checked after every step that waits.
    using StopCheck = std::function<bool()>;

    JobAdmission(JobHost* host, JobParamReader* reader, JobSubmitter* submitter, JobFolder* folder,
                 RetrySchedule* schedule, JobRecovery* recovery, JobNotices* notices);

    // Between these, the printers and projects of the no-card check are asked once per account (the server's
    // lists cannot change within one pass over the job folder), and the host's addresses are listed once.
    void beginPass();
    void endPass();

    Outcome admit(PrintJob& job, Pass pass, const StopCheck& stopped);

private:
    // How a job's turn ends. finish() carries it out: the one place a job is kept, removed or cleared away
    // after its submission, and the user told why.
    enum class Ending {
        Skip, // nothing to do: taken earlier, sent before, or settled by the server's word
        Wait, // for its files, or for a later pass
        Hold, // kept as it is: its record waits for the server's word
        Keep, // kept for a later try, with the back-off
        Remove, // refused or dropped: its files go
        Expire, // kept too long: its files and its record go
        Sent, // submitted, whatever the answer: cleared away
        Confirmed, // submitted and confirmed: recorded as such, then cleared away
        Interrupt, // a logout or quit while it waited
    };
    struct Turn
    {
        Ending ending;
        QString notice = QString(); // told to the user (tray and stored) as the turn ends
        QString stored = QString(); // stored for the user, without a balloon
    };
    // How the no-card step ended.
    enum class NoCard { Accepted, Declined, Unreachable, Interrupted };
    struct ServerLists
    {
        QString account;
        QList<KsPrinter> printers;
        QList<KsProject> projects;
    };

    Turn take(PrintJob& job, Pass pass, const StopCheck& stopped);
    Outcome finish(PrintJob& job, const Turn& turn);
    Turn admitParsed(PrintJob& job, const StopCheck& stopped);
    NoCard checkNoCardPrint(PrintJob& job, const StopCheck& stopped);
    const ServerLists& serverLists(const QString& account);
    KsUserInfo getKsUserInfo(const QString& account);
    Turn submitOnce(PrintJob& job, const StopCheck& stopped);
    Turn waitForFiles(PrintJob& job, const QString& why);
    // The user declined the job (a permission question, the no-card dialog): removed with one notice naming it.
    static Turn cancelled(const PrintJob& job);
    bool filesReady(PrintJob& job, QString* why) const;
    bool expired(const PrintJob& job) const;
    // Empty when the job may go; otherwise the notice of its refusal (the limits' own messages are shown here).
    std::optional<QString> refusedByLimits(const PrintJob& job);

    JobHost* m_host = nullptr;
    JobParamReader* m_reader = nullptr;
    JobSubmitter* m_submitter = nullptr;
    JobFolder* m_folder = nullptr;
    RetrySchedule* m_schedule = nullptr;
    JobRecovery* m_recovery = nullptr;
    JobNotices* m_notices = nullptr;
    bool m_inPass = false;
    std::optional<ServerLists> m_lists;
};
