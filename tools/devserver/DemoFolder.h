#pragma once

#include "FakeKestranaState.h"

#include <QDir>
#include <QMap>
#include <QString>

#include <functional>

class FakeKestranaServer;

// The devserver's data folder, kept in step with the server's state:
//   jobs/processing/, jobs/waiting/   uploaded print jobs (one file each, "<job id>-<document name>")
//   jobs/printed/, jobs/cancelled/    released and cancelled ones
//   jobs/index/<job id>.json          what the client sent with each job
//   scans/<account>/<file>            the account's scan jobs
// A confirmed upload lands in processing/ and moves to waiting/ after the processing delay. Moving a file into
// printed/ releases the job as a printer would (it leaves the job list); deleting it removes the job. Files
// dropped into scans/<account>/ become scan jobs; deleting a scan job in the client deletes its file.
// Jobs still processing or waiting are loaded again when the devserver restarts on the same folder.
class DemoFolder
{
public:
    using Log = std::function<void(const QString&)>;

    DemoFolder(FakeKestranaServer& server, const QString& dataDir, int processingMs, Log log);

    // Creates the folders (with sample scans the first time) and loads the jobs and scans already there.
    bool prepare(QString* error);
    // One pass: stores new uploads, advances processed jobs, notices released, removed and cancelled jobs and
    // added or deleted scans.
    void sync();

    QString path(const QString& relative) const { return m_dir.filePath(relative); }

private:
    struct TrackedJob
    {
        QString fileName;
        QString folder; // "processing", "waiting", "printed", "cancelled"
        qint64 sinceMs = 0;
    };

    void syncJobs();
    void syncScans();
    bool storeJob(const FakeKestranaState::Job& job);
    bool moveJob(qint64 id, TrackedJob& tracked, const QString& folder);
    QString locateJob(const TrackedJob& tracked) const;
    void loadStoredJobs();
    void writeSampleScans();
    static QString safeFileName(const QString& name);

    FakeKestranaServer& m_server;
    QDir m_dir;
    int m_processingMs;
    Log m_log;
    QMap<qint64, TrackedJob> m_jobs;
    QMap<QString, QString> m_scanFiles; // file path -> scan job id
    int m_nextScanId = 5001;
};
