#pragma once

#include "JobJournal.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class JobFolder;
class JobHost;
class JobNotices;
class JobSubmitter;
class PrintJob;
class RetrySchedule;

// What the journal says of the jobs against what the server knows: jobs sent before a crash are not sent
// again, a confirmation whose answer was lost is looked up in the server's job list before anything is
// cancelled, and server jobs left open by a broken-off upload are cancelled.
class JobRecovery
{
public:
    // What the server's job list says of a server job whose confirmation may have reached it.
    enum class ServerJob { Listed, Unknown, NoAnswer };

    JobRecovery(JobHost* host, JobFolder* folder, RetrySchedule* schedule, JobSubmitter* submitter,
                JobNotices* notices);
    ~JobRecovery();

    // The journal (in the client's data folder unless set before its first use).
    void setJournalPath(const QString& path) { m_journalPath = path; }
    JobJournal* journal();
    bool journalOpened() const { return m_journal != nullptr; }
    ServerJob serverJobState(const QString& jobId, const QString& account);

    // Start-up: jobs sent before are removed, those the server lists as delivered are settled. False when
    // stopped() broke it off.
    bool reconcileAtStart(const std::function<bool()>& stopped);
    // Journal entries whose files are gone: a delivered server job stays, an unknown one is cancelled. The
    // requests wait in an event loop.
    void settleOrphans(const QStringList& files);
    // Cancels server jobs left unconfirmed by an interrupted upload, within timeoutMs in all.
    void cancelOpenServerJobs(int timeoutMs);

private:
    JobHost* m_host = nullptr;
    JobFolder* m_folder = nullptr;
    RetrySchedule* m_schedule = nullptr;
    JobSubmitter* m_submitter = nullptr;
    JobNotices* m_notices = nullptr;
    QString m_journalPath;
    std::unique_ptr<JobJournal> m_journal;
};
