#include "SettingsTemplate.h"

#include "LoginInfo.h"
#include "app/Logging.h"
#include "app/PrivateFiles.h"
#include "app/UserPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>

static Logger* logger = Logging::rootLogger();

namespace {

QString& templateOverride()
{
    static QString path;
    return path;
}

// The template and the user file are read as LoginInfo reads them.
void useUtf8(QSettings& settings)
{
    settings.setIniCodec("UTF-8");
}

using Key = LoginInfo::Key;

} // namespace

namespace SettingsTemplate {

QString templatePath()
{
    if (!templateOverride().isEmpty()) {
        return templateOverride();
    }
    return QCoreApplication::applicationDirPath() + QDir::separator() + QStringLiteral("halcyraclient.ini");
}

void setTemplatePathForTests(const QString& path)
{
    templateOverride() = path;
}

bool checkIniFile()
{
    const QString templateFile = templatePath();
    const QString userFile = UserPaths::iniFilePath();
    // The folder holds the stored password and the certificate pins; a wider mode is repaired here.
    PrivateFiles::makePrivateDir(UserPaths::dataPath());

    QString newVersion;
    QString oldVersion;
    {
        QSettings templateSettings(templateFile, QSettings::IniFormat);
        useUtf8(templateSettings);
        newVersion = templateSettings.value(LoginInfo::keyName(Key::Version), QString()).toString();
        QSettings userSettings(userFile, QSettings::IniFormat);
        useUtf8(userSettings);
        oldVersion = userSettings.value(LoginInfo::keyName(Key::Version), QString()).toString();
    }
    logger->info(QStringLiteral("newVersion:") + newVersion + QStringLiteral(" oldVersion:") + oldVersion);

    if (QFile::exists(userFile) && newVersion == oldVersion) {
        if (PrivateFiles::restrictFile(userFile)) {
            logger->info(QStringLiteral("settings file made private: ") + userFile);
        }
        return true;
    }

    logger->info(QStringLiteral("ini file not existed in hyc path,  copy from applicaiton path"));
    logger->info(QStringLiteral("from path:") + templateFile);
    logger->info(QStringLiteral("to path:") + userFile);

    // Replaced in one step (mode 0600): a missing template or a full disk leaves the user's file as it was.
    QString error;
    if (!PrivateFiles::copyFile(templateFile, userFile, &error)) {
        logger->error(QStringLiteral("copy ini file failed:") + error);
        return false;
    }
    logger->info(QStringLiteral("copy ini file succeeded"));
    QSettings templateSettings(templateFile, QSettings::IniFormat);
    useUtf8(templateSettings);
    templateSettings.setValue(LoginInfo::keyName(Key::IsInstallFirst), 1);
    return true;
}

} // namespace SettingsTemplate
