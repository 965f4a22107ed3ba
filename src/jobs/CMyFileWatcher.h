#pragma once

#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class QFileSystemWatcher;
class QTimer;

// Process-wide directory watcher. Reports files that appear in, leave or are renamed inside a watched
// directory by comparing the directory's listing with the one seen before.
class CMyFileWatcher : public QObject
{
    Q_OBJECT
public:
    static CMyFileWatcher* GetKernel();
    static void DestroyKernel();

    bool addWatchPath(const QString& path);
    bool removeWatchPath(const QString& path);

    // What a change is judged against: the names QDir lists with NoDotAndDotDot | AllDirs | Files.
    static QSet<QString> listEntries(const QString& dirPath);

signals:
    void signalNewFile(const QString& path);
    void signalDelFile(const QString& path);
    void signalRenameFile(const QString& oldPath, const QString& newPath);
    void signalFileChange(const QString& path);

private slots:
    void directoryUpdated(const QString& path);
    void fileUpdated(const QString& path);
    void compareDue();

private:
    explicit CMyFileWatcher(QObject* parent = nullptr);
    // Emits what changed in path since its last listing.
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
