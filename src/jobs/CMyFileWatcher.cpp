#include "CMyFileWatcher.h"

#include "JobFiles.h"
#include "SafeJobFile.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSet>
#include <QTimer>

#include <algorithm>

#include <dirent.h>
#include <sys/stat.h>

CMyFileWatcher* CMyFileWatcher::s_instance = nullptr;

namespace {
// How long changes of a folder are gathered before it is listed again.
constexpr int kCoalesceMs = 50;
} // namespace

CMyFileWatcher::CMyFileWatcher(QObject* parent)
    : QObject(parent)
    , m_watcher(new QFileSystemWatcher(this))
    , m_coalesce(new QTimer(this))
{
    m_coalesce->setSingleShot(true);
    m_coalesce->setInterval(kCoalesceMs);
    connect(m_coalesce, &QTimer::timeout, this, &CMyFileWatcher::compareDue);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &CMyFileWatcher::directoryUpdated);
}

CMyFileWatcher::~CMyFileWatcher() = default;

CMyFileWatcher* CMyFileWatcher::instance()
{
    if (!s_instance) {
        s_instance = new CMyFileWatcher();
    }
    return s_instance;
}

void CMyFileWatcher::DestroyKernel()
{
    delete s_instance;
    s_instance = nullptr;
}

QSet<QString> CMyFileWatcher::listEntries(const QString& dirPath)
{
    // Read straight from the directory, since each change of a folder holding hundreds of waiting jobs lists all
    // of them again: no hidden names; files, folders and links whose target exists; nothing else (FIFOs,
    // sockets, devices, broken links).
    QSet<QString> names;
    const QByteArray dir = QFile::encodeName(dirPath);
    DIR* stream = ::opendir(dir.constData());
    if (!stream) {
        return names;
    }
    while (const dirent* entry = ::readdir(stream)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        bool listed = entry->d_type == DT_REG || entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st;
            const QByteArray path = dir + '/' + entry->d_name;
            if (entry->d_type == DT_UNKNOWN && ::lstat(path.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
                listed = S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
            } else {
                listed = ::stat(path.constData(), &st) == 0;
            }
        }
        if (listed) {
            names.insert(QFile::decodeName(entry->d_name));
        }
    }
    ::closedir(stream);
    return names;
}

bool CMyFileWatcher::addWatchPath(const QString& path)
{
    const bool added = m_watcher->addPath(path);
    if (QFileInfo(path).isDir()) {
        m_currentContentsMap[path] = listEntries(path);
    }
    return added;
}

bool CMyFileWatcher::removeWatchPath(const QString& path)
{
    const bool removed = m_watcher->removePath(path);
    if (QFileInfo(path).isDir()) {
        m_currentContentsMap.remove(path);
        m_due.remove(path);
    }
    return removed;
}

void CMyFileWatcher::directoryUpdated(const QString& path)
{
    m_due.insert(path);
    if (!m_coalesce->isActive()) {
        m_coalesce->start();
    }
}

void CMyFileWatcher::compareDue()
{
    const QSet<QString> due = std::exchange(m_due, {});
    for (const QString& path : due) {
        if (m_currentContentsMap.contains(path)) {
            compare(path);
        }
    }
}

void CMyFileWatcher::compare(const QString& path)
{
    // The listing is kept as a set: every change of the folder compares hundreds of names.
    QSet<QString> now = listEntries(path);
    QSet<QString>& before = m_currentContentsMap[path];
    QStringList added;
    bool removed = false;
    for (const QString& name : qAsConst(now)) {
        if (!before.contains(name)) {
            added.append(name);
        }
    }
    for (const QString& name : qAsConst(before)) {
        if (!now.contains(name)) {
            removed = true;
            break;
        }
    }
    before = std::move(now);
    // The virtual printer renames a job's trigger in last: whatever else changed, the job is complete.
    if (std::any_of(added.cbegin(), added.cend(), [](const QString& name) { return JobFiles::isTrigger(name); })) {
        emit signalJobArrived(path);
    }
    // A change that also removed names is a rename or a swap, never a new job to log in for.
    if (removed) {
        return;
    }
    const QString prefix = path + QLatin1Char('/');
    for (const QString& name : added) {
        // Only a regular file of the user's own can be a job; a link or a FIFO is never one.
        if ((name.endsWith(QLatin1String(".pdf")) || name.endsWith(QLatin1String(".pcl")))
            && SafeJobFile::inspect(prefix + name) == SafeJobFile::Verdict::Accepted) {
            emit signalNewFile(prefix + name);
        }
    }
}
