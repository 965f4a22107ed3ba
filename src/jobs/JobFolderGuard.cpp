#include "JobFolderGuard.h"

#include "JobNotices.h"
#include "SafeJobFile.h"
#include "app/Logging.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

static Logger* logger = Logging::rootLogger();

JobFolderGuard::JobFolderGuard(JobNotices* notices)
    : m_notices(notices)
{ }

void JobFolderGuard::sweep(const QString& folder)
{
    if (folder.isEmpty()) {
        return;
    }
    // Hidden names are never taken as jobs, so they need no guarding (the virtual printer's temporary files).
    const QStringList names
        = QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    QSet<QString> present;
    for (const QString& name : names) {
        const QString path = folder + QLatin1Char('/') + name;
        const QByteArray native = QFile::encodeName(path);
        struct stat st;
        if (::lstat(native.constData(), &st) != 0) {
            continue;
        }
        const SafeJobFile::Verdict verdict = SafeJobFile::inspect(path);
        if (verdict == SafeJobFile::Verdict::Accepted || verdict == SafeJobFile::Verdict::Missing) {
            continue;
        }
        if (verdict == SafeJobFile::Verdict::Symlink && ::unlink(native.constData()) == 0) {
            report(QStringLiteral("removed %1 from the job path: a symbolic link").arg(name),
                   tr("%1 in the job folder was a link to another file: the link was removed, nothing was sent")
                       .arg(name));
            continue;
        }
        const QString key = name + QLatin1Char('|') + QString::number(quint64(st.st_dev)) + QLatin1Char(':')
            + QString::number(quint64(st.st_ino));
        present.insert(key);
        if (!m_reported.contains(key)) {
            report(QStringLiteral("ignored %1 in the job path: %2").arg(name, SafeJobFile::describe(verdict)),
                   tr("%1 in the job folder is not a print job file and is ignored").arg(name));
        }
    }
    m_reported = present;
}

void JobFolderGuard::report(const QString& logLine, const QString& message)
{
    logger->warn(logLine);
    if (m_notices) {
        m_notices->addForUser(message);
    }
}
