// The settings loader on any settings file, in a home of its own. Loading does no network I/O: the server's
// settings are fetched by the start-up, not by the loader.
#include "FuzzSupport.h"
#include "config/LoginInfo.h"
#include "config/SettingsTemplate.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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
    if (run == 0) {
        QDir().mkpath(dataPath);
        qputenv("HOME", QFile::encodeName(home.path()));
        // The template carries the same version as the user file, so the fuzzed file itself is loaded.
        SettingsTemplate::setTemplatePathForTests(templateFile);
    }
    // QSettings keeps files cached by name and rereads one only when its size or time stamp changed: each
    // run gets a time stamp of its own.
    const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1000000000 + ++run);
    const QByteArray text = FuzzSupport::bytes(data, size);
    for (const QString& path : { userFile, templateFile }) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(text);
            file.setFileTime(stamp, QFileDevice::FileModificationTime);
        }
    }
    LoginInfo info;
    info.loadFromFile();
    info.userName();
    info.password();
    return 0;
}
