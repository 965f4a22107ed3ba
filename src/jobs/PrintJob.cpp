#include "PrintJob.h"

#include "JobFiles.h"
#include "JobParamReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

PrintJob::PrintJob(const QString& folder, const QString& name, const QString& userAccount)
    : name(name)
    , folder(folder)
    , triggerPath(folder + QDir::separator() + name)
    , account(userAccount)
{
    resolve();
}

PrintJob::PrintJob(const QString& triggerPath, const QString& userAccount)
    : name(QFileInfo(triggerPath).fileName())
    , folder(QFileInfo(triggerPath).absolutePath())
    , triggerPath(triggerPath)
    , account(userAccount)
{
    resolve();
}

void PrintJob::resolve()
{
    paramPath = triggerPath.left(triggerPath.size() - 4);
    dataPath = JobFiles::dataFileOf(folder, name);
    const auto ms
        = [](const struct stat& st) { return qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000; };
    struct stat st;
    triggerExists = ::stat(QFile::encodeName(triggerPath).constData(), &st) == 0;
    triggerTime = triggerExists ? ms(st) : 0;
    triggerReadable = triggerExists && JobParamReader::checkParamFile(triggerPath);
    if (::stat(QFile::encodeName(dataPath).constData(), &st) == 0) {
        dataIsFile = S_ISREG(st.st_mode);
        dataSize = st.st_size;
        dataTime = ms(st);
    }
    // Read once: a missing parameter file gives the defaults; one that is not a small regular file of the
    // user's own is not read at all.
    paramVerdict = SafeJobFile::readAll(paramPath, SafeJobFile::kMaxParamFileSize, &paramText);
    docName = JobParamReader::documentName(JobParamReader::readDocName(paramText), name, account,
                                           qEnvironmentVariable("USER"));
}

int PrintJob::pageCount()
{
    if (m_pages < 0) {
        m_pages = JobParamReader::pageCount(paramPath + QStringLiteral(".pdf"));
    }
    return m_pages;
}
