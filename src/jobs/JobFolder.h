#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

class JobHost;

// The job folder the queue works on, the backup folder beside it, and the removal of a job's files. A
// submitted job whose trigger could not be removed is remembered: it is never submitted a second time.
class JobFolder
{
public:
    explicit JobFolder(JobHost* host);

    // Empty until set up: an empty path would name the working directory, so nothing is touched then.
    QString path() const { return m_path; }
    void setPath(const QString& path) { m_path = path; }
    bool isSet() const { return !m_path.isEmpty(); }
    QString backupPath() const { return m_backupPath; }
    void setBackupPath(const QString& path) { m_backupPath = path; }

    QString filePath(const QString& name) const;
    bool exists(const QString& name) const;
    QStringList files() const;
    // The document name the job's parameters give, read through the same checks as the job itself.
    QString docNameOf(const QString& name) const;

    // Jobs in the folder that wait to be sent.
    int unsentCount() const;
    // A trigger that stayed after its job was submitted.
    bool submittedBefore(const QString& name) const;
    void markSubmitted(const QString& name);

    // Removes the job's own files after its submission, into the backup folder with keepCopies.
    void removeAfterSubmission(const QString& name, const QString& docName, bool keepCopies);
    // Deletes the job's own files.
    void deleteJob(const QString& name);
    // Removes the files named (those still there), into the backup folder with keepCopies.
    void removeAll(const QStringList& names, bool keepCopies);

private:
    // A trigger is known by its name, size and time: the same name printed again is another job.
    QString triggerKey(const QString& name) const;

    JobHost* m_host = nullptr;
    QString m_path;
    QString m_backupPath;
    QSet<QString> m_submittedTriggers;
};
