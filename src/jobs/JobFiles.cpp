#include "JobFiles.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

bool JobFiles::isTrigger(const QString& name)
{
    return name.endsWith(QLatin1String(".pdf")) || name.endsWith(QLatin1String(".xml"));
}

QString JobFiles::baseOf(const QString& triggerName)
{
    return triggerName.left(triggerName.size() - 4);
}

qint64 JobFiles::modifiedMs(const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return 0;
    }
    return qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
}

QString JobFiles::dataFileOf(const QString& folder, const QString& triggerName)
{
    const QString base = baseOf(triggerName);
    if (triggerName.endsWith(QLatin1String(".xml"))) {
        return folder + QDir::separator() + base + QStringLiteral(".pcl");
    }
    return folder + QDir::separator() + base + QStringLiteral(".pdf");
}

QStringList JobFiles::listFiles(const QString& folder)
{
    if (folder.isEmpty()) {
        return {};
    }
    // Links are never jobs: they would hand over whatever they point to.
    return QDir(folder).entryList(QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Name | QDir::DirsFirst);
}
