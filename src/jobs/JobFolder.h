#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

class PrintJob;

// The job folder the queue works on, the backup folder beside it, and the one place a job's files leave the
// folder. A submitted job whose trigger could not be removed is remembered: it is never submitted a second time.
class JobFolder
{
public:
    JobFolder();

    // Empty until set up: an empty path would name the working directory, so nothing is touched then.
    QString path() const { return m_path; }
    void setPath(const QString& path) { m_path = path; }
    bool isSet() const { return !m_path.isEmpty(); }
    QString backupPath() const { return m_backupPath; }
    void setBackupPath(const QString& path) { m_backupPath = path; }
    // Creates the backup folder (owner-only access) when it does not exist.
    bool ensureBackupFolder() const;

    QStringList files() const;

    // Jobs in the folder that wait to be sent.
    int unsentCount() const;
    // Submitted before: confirmed in the journal (the job's entry), or its trigger stayed after its submission.
    bool sentBefore(const PrintJob& job) const;
    void markSubmitted(const PrintJob& job);

    // How a job leaves: refused or dropped (its files deleted), or after its submission (moved into the backup
    // folder with keepCopies, otherwise deleted; a trigger that stays is remembered).
    enum class Removal { Dropped, Submitted };
    void removeJob(const PrintJob& job, Removal removal, bool keepCopies);
    // Removes the files named (those still there), into the backup folder with keepCopies.
    void removeAll(const QStringList& names, bool keepCopies);

    // The files a job owns, those present: its parameter file (the base), its trigger and, for a PCL job, its
    // data file. Nothing else: a user's "report.docx" beside job "report" is not the job's.
    static QStringList ownFiles(const PrintJob& job);

private:
    // A job is known by its trigger's name with its data file's size and time: the same name printed again is
    // another job.
    static QString jobKey(const QString& name, qint64 dataSize, qint64 dataTime);
    // Deletes one file with the usual log lines; true when it is gone.
    bool deleteFile(const QString& name) const;
    // Moves one file into the backup folder, private to the user; on failure the file is deleted instead, so a
    // submitted job can never be picked up again.
    bool moveToBackup(const QString& name) const;

    QString m_path;
    QString m_backupPath;
    QSet<QString> m_submittedTriggers;
};
