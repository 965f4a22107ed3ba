#pragma once

#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class QFileSystemWatcher;
class QTimer;

// Process-wide directory watcher. Reports job files that appear in a watched directory by comparing the
// directory's listing with the one seen before: each new print file for the login prompt, and once per look
// a folder that gained a job's trigger, for the job queue of a logged-in user.
class CMyFileWatcher : public QObject
{
    Q_OBJECT
public:
    static CMyFileWatcher* instance();
    static void DestroyKernel();

    bool addWatchPath(const QString& path);
    bool removeWatchPath(const QString& path);

    // What a change is judged against: the names QDir lists with NoDotAndDotDot | AllDirs | Files.
    static QSet<QString> listEntries(const QString& dirPath);

signals:
    // A new ".pdf" or ".pcl" file written in place (a rename into place is not reported).
    void signalNewFile(const QString& path);
    // folder gained at least one trigger (".pdf", ".xml"), however it came: a burst of jobs is one report.
    void signalJobArrived(const QString& folder);

private slots:
    void directoryUpdated(const QString& path);
    void compareDue();

private:
    explicit CMyFileWatcher(QObject* parent = nullptr);
    // Emits the job files added to path since its last listing.
    void compare(const QString& path);
    ~CMyFileWatcher() override;

    static CMyFileWatcher* s_instance;
    QFileSystemWatcher* m_watcher = nullptr;
    QMap<QString, QSet<QString>> m_currentContentsMap;
    // Changes within a short span are compared with one listing: a backlog removes a job's files every few
    // milliseconds, and listing a folder of hundreds of jobs each time cost a quarter of a millisecond.
    QTimer* m_coalesce = nullptr;
    QSet<QString> m_due;
};
