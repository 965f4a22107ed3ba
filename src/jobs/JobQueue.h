#pragma once

#include "JobFolderGuard.h"
#include "JobParamReader.h"
#include "KsJobParam.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class JobHost;
class JobSubmitter;
class QTimer;

// The job folder as a queue: the start-up pass over jobs already waiting, the timer pass that admits each
// new job (parameters, server check, permissions, limits), submission and the removal of the job's files.
class JobQueue : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTimerIntervalMs = 1000;

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
    bool isJobTimerActive() const;
    QTimer* jobTimer() const { return m_jobTimer; }

    JobParamReader* reader() { return &m_reader; }
    JobSubmitter* submitter() const { return m_submitter; }

public slots:
    // One pass over the job folder.
    void timerCallback();

private:
    void admitFromTimer(const QString& name);
    void admitParsed(const KsJobParam& param, const QString& name);
    bool withinLimits(const KsJobParam& param, const QString& name);
    void removeAfterSubmission(const QString& name, const QString& docName, bool keepCopies);
    void startJobTimer();
    bool sessionEnded(int session) const { return session != m_session; }
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
    bool m_passRunning = false;
    bool m_startupDeferred = false;
    // Submitted jobs whose trigger could not be removed: never submitted a second time.
    QSet<QString> m_submittedTriggers;
};
