#pragma once

#include <QHash>
#include <QList>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>

class PrintJob;

// What the client knows about each job it has begun to send, kept in SQLite beside the message store so a
// crash, a kill or a full disk between the steps never leads to a job sent twice or dropped. A job is known
// by its trigger name together with the size and time of its data file, so a later job of the same name is
// a new job.
class JobJournal
{
public:
    enum class UploadState { None = 0, Announced = 1, Uploaded = 2 };

    struct Entry
    {
        bool found = false;
        QString trigger;
        qint64 dataSize = -1;
        qint64 dataTime = 0; // ms since the epoch
        qint64 firstSeenMs = 0; // when the journal first recorded the job; 0 when not known
        QString account;
        QString serverJobId; // empty until announced, and again once that server job is cancelled
        UploadState state = UploadState::None;
        bool confirmed = false;
        bool toldKept = false; // the user has heard that this job is kept
        // A new job under the name of one whose server job is still open: serverJobId is the old job's.
        bool replaced = false;
    };

    // Opens (and creates) the journal at path under its own connection name.
    explicit JobJournal(const QString& path);
    ~JobJournal();
    JobJournal(const JobJournal&) = delete;
    JobJournal& operator=(const JobJournal&) = delete;

    static QString defaultPath();
    bool isOpen() const { return m_open; }

    // The entry of the job's trigger; an entry recorded for another data file of the same name is dropped.
    Entry find(const PrintJob& job);
    // Every write returns false when it was not taken; those given the job keep its entry as written. The
    // server's job ID and the confirmation, which decide what a restart does, are on the disk before the call
    // returns; the other steps reach it with the next of those (the log is only appended to, so a sync covers
    // every step before it). nowMs: the first-seen time of a job not recorded before.
    bool begin(PrintJob& job, qint64 nowMs);
    // Records a kept job, so its age counts across restarts (first seen at nowMs unless recorded before), and
    // that the user has been told it is kept.
    bool noteKept(PrintJob& job, qint64 nowMs);
    bool setAnnounced(PrintJob& job, const QString& serverJobId);
    bool setUploaded(PrintJob& job);
    bool setConfirmed(PrintJob& job);
    bool clearServerJob(const QString& trigger);
    bool remove(const QString& trigger);
    // Drops the entries whose trigger has left the job folder, and returns those among them that still have
    // an unconfirmed server job to cancel.
    QList<Entry> prune(const QStringList& triggersPresent);

private:
    enum class Sync { Later, Now };
    bool exec(const QString& sql, const QVariantList& values, Sync sync = Sync::Later);
    // The statement of this text, prepared on first use and kept: every job runs the same few.
    QSqlQuery* statement(const QString& sql);

    QString m_connection;
    QHash<QString, QSqlQuery> m_statements;
    bool m_open = false;
    Sync m_sync = Sync::Later;
};
