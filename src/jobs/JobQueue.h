#pragma once

#include "JobAdmission.h"
#include "JobFolder.h"
#include "JobFolderGuard.h"
#include "JobParamReader.h"
#include "JobRecovery.h"
#include "RetrySchedule.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class JobHost;
class JobNotices;
class JobSubmitter;
class QTimer;

// The job folder as a queue: when passes run over the folder (the start-up pass, the timer's), that no two
// run at once, and that a logout or quit ends them. Each job's turn is JobAdmission's; the journal's
// reconciliation JobRecovery's; the timing of kept jobs RetrySchedule's.
class JobQueue : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTimerIntervalMs = 1000;
    static constexpr qint64 kFirstRetryMs = RetrySchedule::kFirstRetryMs;
    static constexpr qint64 kLastRetryMs = RetrySchedule::kLastRetryMs;
    static constexpr qint64 kWaitNoticeMs = RetrySchedule::kWaitNoticeMs;
    // What a quit leaves for the cancellation of an interrupted upload.
    static constexpr int kQuitCancelMs = 2000;

    explicit JobQueue(JobHost* host, QObject* parent = nullptr);
    ~JobQueue() override;

    // Sets up the job folder the host's options name and creates it; false when the options come from no
    // settings file (the job folder then stays as it was, empty at first, and no pass touches any folder).
    bool initJobControlOption();
    QString jobPath() const { return m_folder.path(); }

    // applicationDirPath/halcyraclient/backupjobs unless set otherwise.
    QString backupPath() const { return m_folder.backupPath(); }
    void setBackupPath(const QString& path) { m_folder.setBackupPath(path); }

    // Start-up pass: asks about jobs already waiting, then submits them in an ordinary pass or discards them,
    // then starts the job timer.
    void initialCheck4JobPath();
    // Removes the files of the job whose trigger has this name.
    void deleteJobFile(const QString& triggerName);
    // Logout: stops the timer; a pass still running ends without starting it again or submitting more.
    void stopJobTimer();
    // Quit: like a logout, and no later pass starts.
    void requestQuit();
    // Cancels server jobs left unconfirmed by an interrupted upload, within timeoutMs in all.
    void cancelOpenServerJobs(int timeoutMs);
    // The server answered (a check, a tab load, another job's request): kept jobs are tried again at once.
    void serverReachable() { m_schedule.serverAnswered(); }
    // Kept jobs are due now, whatever their back-off.
    void retryKeptJobsNow() { m_schedule.makeAllDue(); }
    // Jobs in the job folder that wait to be sent.
    int unsentJobCount() const { return m_folder.unsentCount(); }
    // The journal (in the client's data folder unless set before the first pass).
    void setJournalPath(const QString& path) { m_recovery.setJournalPath(path); }
    // The clock of the timed decisions (back-off, the one-minute waits, expiry), in ms since the epoch; tests
    // set their own, an empty one is the system clock.
    void setClock(const std::function<qint64()>& clock) { m_schedule.setClock(clock); }
    bool isJobTimerActive() const;
    QTimer* jobTimer() const { return m_jobTimer; }

    JobSubmitter* submitter() const { return m_submitter; }
    JobAdmission* admission() { return &m_admission; }
    // Where the queue's and the submission's notices go.
    JobNotices* notices() const { return m_notices; }

public slots:
    // One pass over the job folder.
    void timerCallback();
    // The folder watcher saw a job arrive in folder: a pass starts now rather than at the next tick, or right
    // after the pass that is running. Nothing while nobody is logged in.
    void jobArrived(const QString& folder);

private:
    // The jobs among files, in order, each admitted until one is kept or the pass is broken off.
    void runPass(const QStringList& files, JobAdmission::Pass pass, int session);
    void publishCount();
    void startJobTimer();
    bool sessionEnded(int session) const;
    void runDeferredStartup();
    // Ends a pass begun for session: the count is published, the timer runs again unless the session ended.
    void endPass(int session);

    JobHost* m_host = nullptr;
    JobNotices* m_notices = nullptr;
    JobParamReader m_reader;
    JobFolderGuard m_guard;
    JobSubmitter* m_submitter = nullptr;
    QTimer* m_jobTimer = nullptr;
    JobFolder m_folder;
    RetrySchedule m_schedule;
    JobRecovery m_recovery;
    JobAdmission m_admission;
    int m_session = 0; // advanced by every stop: a pass compares it with the value it started with
    bool m_passRunning = false;
    bool m_startupDeferred = false;
    bool m_quitting = false;
    bool m_taking = false; // jobs are taken in: from the start-up pass until a logout or quit
    bool m_arrivedDuringPass = false;
};
