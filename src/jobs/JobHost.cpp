#include "JobHost.h"

#include "app/UserPaths.h"
#include "config/LoginInfo.h"

#include <QFileInfo>

QString JobFolderSetting::pathOf(const QString& folderName)
{
    return UserPaths::dataPath() + QLatin1Char('/') + folderName;
}

JobFolderSetting JobFolderSetting::read()
{
    JobFolderSetting setting;
    setting.settingsFile = UserPaths::iniFilePath();
    if (QFileInfo(setting.settingsFile).isFile()) {
        setting.jobFolder = pathOf(LoginInfo::jobFolderInFile());
    }
    return setting;
}

JobOptions JobOptions::fromSettings(const LoginInfo& info)
{
    JobOptions options;
    options.fileLimit = info.fileLimit();
    options.keepJobFiles = info.isDebugKeepJobFiles();
    options.showProgress = info.isShowProgress();
    options.showProgressFileSizeLimitMiB = info.showProgressFileSizeLimit();
    options.isLocalization = info.isLocalization();
    options.supportSecret = info.supportSecret();
    options.clientVersion = info.ksVersion();
    options.maxPageCount = info.maxPageCount();
    options.maxJobFileSize = static_cast<qint64>(info.maxJobFileSize());
    options.keepUnsentJobs = info.keepUnsentJobs();
    options.keepUnsentHours = info.keepUnsentHours();
    return options;
}
