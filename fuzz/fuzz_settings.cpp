// The settings loader on any settings file, in a home of its own, given as the user's file and as the site file.
// Loading does no network I/O: the server's settings are fetched by the start-up, not by the loader.
#include "FuzzSupport.h"
#include "config/LoginInfo.h"
#include "config/SettingsTemplate.h"
#include "config/SiteSettings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir home;
    static qint64 run = 0;
    static const QString dataPath = home.path() + QStringLiteral("/halcyraclient");
    static const QString userFile = dataPath + QStringLiteral("/halcyraclient.ini");
    static const QString templateFile = home.path() + QStringLiteral("/template.ini");
    static const QString siteFile = home.path() + QStringLiteral("/site.ini");
    if (run == 0) {
        QDir().mkpath(dataPath);
        qputenv("HOME", QFile::encodeName(home.path()));
        // The template carries the same version as the user file, so the fuzzed file itself is loaded.
        SettingsTemplate::setTemplatePathForTests(templateFile);
        SiteSettings::setFileForTests(siteFile, ::getuid());
    }
    // QSettings keeps files cached by name and rereads one only when its size or time stamp changed: each
    // run gets a time stamp of its own.
    const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1000000000 + ++run);
    const QByteArray text = FuzzSupport::bytes(data, size);
    for (const QString& path : { userFile, templateFile, siteFile }) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(text);
            file.setFileTime(stamp, QFileDevice::FileModificationTime);
        }
    }
    // Read only when no one but its owner may write it.
    QFile::setPermissions(siteFile, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    LoginInfo info;
    info.loadFromFile();
    info.userName();
    info.password();
    return 0;
}
