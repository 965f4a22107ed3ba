#pragma once

#include <QCoreApplication>
#include <QSet>
#include <QString>

class JobNotices;

// Keeps the job folder to the user's own regular files. A symlink is removed (the link, never what it points
// to); a FIFO, socket, device, directory or another user's file is left alone and never read. Each is
// reported once, with a log line and a stored message, not on every pass.
class JobFolderGuard
{
    Q_DECLARE_TR_FUNCTIONS(JobFolderGuard)
public:
    explicit JobFolderGuard(JobNotices* notices);

    void sweep(const QString& folder);

private:
    void report(const QString& logLine, const QString& message);

    JobNotices* m_notices = nullptr;
    QSet<QString> m_reported; // name + identity of entries already reported and still present
};
