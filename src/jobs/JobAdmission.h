#pragma once

#include "KsJobParam.h"
#include "api/KsUserInfo.h"

#include <QString>

#include <functional>

class JobFolder;
class JobHost;
class JobNotices;
class JobParamReader;
class JobRecovery;
class JobSubmitter;
class RetrySchedule;

// One job's way from its trigger to the server: its files, the server check, its parameters, the user's
// permissions (with a prompt where the user may still choose), the page and size limits, and its submission.
// Each step can end the job's turn; the outcome says how.
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

    Outcome admit(const QString& name, Pass pass, const StopCheck& stopped);
    // The same from the parsed parameters on: permissions, limits, submission.
    Outcome admitParsed(const KsJobParam& param, const QString& name, const StopCheck& stopped);
    // Removes the job's files; it is no longer kept.
    void deleteJob(const QString& name);

private:
    KsUserInfo getKsUserInfo();
    Outcome submitOnce(const KsJobParam& param, const QString& name, const StopCheck& stopped);
    Outcome keepJob(const QString& name, const QString& docName);
    // The user declined the job (a permission question, the no-card dialog): one notice naming the document.
    void tellCancelled(const QString& docName);
    Outcome waitForFiles(const QString& name, const QString& why);
    bool filesReady(const QString& name, QString* why) const;
    bool expired(const QString& name);
    bool withinLimits(const KsJobParam& param, const QString& name);

    JobHost* m_host = nullptr;
    JobParamReader* m_reader = nullptr;
    JobSubmitter* m_submitter = nullptr;
    JobFolder* m_folder = nullptr;
    RetrySchedule* m_schedule = nullptr;
    JobRecovery* m_recovery = nullptr;
    JobNotices* m_notices = nullptr;
};
