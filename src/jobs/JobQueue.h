#pragma once

#include "JobFolderGuard.h"
#include "JobParamReader.h"
#include "KsJobParam.h"
#include "api/KsUserInfo.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class JobHost;
class JobJournal;
class JobSubmitter;
class QTimer;

// The job folder as a queue: the start-up pass over jobs already waiting, the timer pass that admits each
// new job (parameters, server check, permissions, limits), submission and the removal of the job's files.
class JobQueue : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTimerIntervalMs = 1000;
    static constexpr qint64 kFirstRetryMs = 5000;
    static constexpr qint64 kLastRetryMs = 5 * 60 * 1000;
    // How long a job may wait for its data file or readable parameters before the user hears of it.
    static constexpr qint64 kWaitNoticeMs = 60 * 1000;
    // What a quit leaves for the cancellation of an interrupted upload.
    static constexpr int kQuitCancelMs = 2000;

    explicit JobQueue(JobHost* host, QObject* parent = nullptr);
    ~JobQueue() override;

    // Sets up the job folder from the settings file and creates it; false when the settings file is missing
    // (the job folder then stays as it was, empty at first, and no pass touches any folder).
    bool initJobControlOption();
    QString jobPath() const { return m_jobPath; }

    // applicationDirPath/halcyraclient/backupjobs unless set otherwise.
    QString backupPath() const { return m_backupPath; }
    void setBackupPath(const QString& path) { m_backupPath = path; }

    // Start-up pass: asks about jobs already waiting, submits or discards them, then starts the job timer.
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
    void serverReachable();
    // Kept jobs are due now, whatever their back-off.
    void retryKeptJobsNow();
    // Jobs in the job folder that wait to be sent.
    int unsentJobCount() const;
    // The journal (in the client's data folder unless set before the first pass).
    void setJournalPath(const QString& path) { m_journalPath = path; }
    // The clock of the timed decisions (back-off, the one-minute waits, expiry), in ms since the epoch; tests
    // set their own, an empty one is the system clock.
    void setClock(const std::function<qint64()>& clock) { m_clock = clock; }
    bool isJobTimerActive() const;
    QTimer* jobTimer() const { return m_jobTimer; }

    JobParamReader* reader() { return &m_reader; }
    JobSubmitter* submitter() const { return m_submitter; }

public slots:
    // One pass over the job folder.
    void timerCallback();

private:
    // How one job's turn ended: sent or removed; kept for a later pass; waiting for its files; broken off.
    enum class Turn { Done, Kept, Waiting, Interrupted };
    // What the server's job list says of a server job whose confirmation may have reached it.
    enum class ServerJob { Listed, Unknown, NoAnswer };

    Turn admitFromTimer(const QString& name);
    Turn admitParsed(const KsJobParam& param, const QString& name);
    KsUserInfo userPermissions();
    Turn submitOnce(const KsJobParam& param, const QString& name);
    Turn keepJob(const QString& name, const QString& docName);
    Turn waitForFiles(const QString& name, const QString& why);
    bool filesReady(const QString& name, QString* why) const;
    bool expired(const QString& name);
    bool dueForRetry(const QString& name) const;
    bool alreadySent(const QString& name);
    ServerJob serverJobState(const QString& jobId, const QString& account);
    void settleDelivered(const QString& name, const QString& docName);
    bool heldBack(const QStringList& files, bool* printedSince);
    qint64 now() const;
    void settleJournal(const QStringList& files);
    JobJournal* journal();
    QString docNameOf(const QString& name) const;
    void tell(const QString& text);
    void publishCount();
    bool withinLimits(const KsJobParam& param, const QString& name);
    void removeAfterSubmission(const QString& name, const QString& docName, bool keepCopies);
    void startJobTimer();
    bool sessionEnded(int session) const;
    bool keepUnsent() const;
    QString triggerKey(const QString& name) const;
    void runDeferredStartup();

    JobHost* m_host = nullptr;
    JobParamReader m_reader;
    JobFolderGuard m_guard;
    JobSubmitter* m_submitter = nullptr;
    QTimer* m_jobTimer = nullptr;
    QString m_jobPath;
    QString m_backupPath;
    int m_session = 0; // advanced by every stop: a pass compares it with the value it started with
    int m_passSession = 0; // the value the running pass started with
    bool m_passRunning = false;
    bool m_startupDeferred = false;
    bool m_quitting = false;
    // Submitted jobs whose trigger could not be removed: never submitted a second time.
    QSet<QString> m_submittedTriggers;
    struct Retry
    {
        qint64 delayMs = 0;
        qint64 dueMs = 0;
    };
    QHash<QString, Retry> m_retries; // kept jobs, by trigger name
    QHash<QString, qint64> m_waitingSince; // jobs whose files are not ready, by trigger name
    QSet<QString> m_known; // triggers a timer pass has seen: any other was printed since
    QSet<QString> m_toldWaiting;
    QSet<QString> m_toldKept; // besides the journal, which may not be writable
    bool m_outageReported = false;
    qint64 m_nextOrphanTryMs = 0;
    QString m_journalPath;
    std::unique_ptr<JobJournal> m_journal;
    std::function<qint64()> m_clock;
};
