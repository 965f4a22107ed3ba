#include "SiteSettings.h"

#include "CertificateRule.h"
#include "LoginInfo.h"
#include "app/Logging.h"
#include "app/PrivateFiles.h"

#include <QFile>
#include <QSet>
#include <QSettings>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

static Logger* logger = Logging::rootLogger();

namespace {

using Key = LoginInfo::Key;

struct Source
{
    QString path;
    uid_t owner = 0;
};

Source& source()
{
    static Source s;
    return s;
}

QSet<QString>& fixedKeys()
{
    static QSet<QString> keys;
    return keys;
}

const char* const kInstalledPath = "/etc/halcyraclient/site.ini";

// Keys that are each user's own state or the template's: a site value would wipe a login or make the
// template's version check replace the user's file at every start.
bool perUser(Key key)
{
    switch (key) {
    case Key::LoginName:
    case Key::Password:
    case Key::BingoLastTime:
    case Key::Version:
    case Key::IsInstallFirst:
    case Key::Info:
    case Key::Guid:
    case Key::DateTime:
        return true;
    default:
        return false;
    }
}

bool keyFor(const QString& name, Key* key)
{
    for (int i = 0; i <= int(Key::KeepUnsentHours); ++i) {
        if (LoginInfo::keyName(Key(i)) == name) {
            *key = Key(i);
            return true;
        }
    }
    return false;
}

// A value the client's reader would take rather than replace by the key's default.
bool usable(Key key, const QVariant& value)
{
    if (key == Key::ServerCertificate) {
        return parseCertificateRule(value.toString()).has_value();
    }
    // A server fixed as empty would leave no way to log in.
    if (key == Key::ServerUrl && value.toString().trimmed().isEmpty()) {
        return false;
    }
    const QString word = value.toString().trimmed().toLower();
    switch (LoginInfo::keyDefault(key).type()) {
    case QVariant::Bool:
        return word == QLatin1String("true") || word == QLatin1String("false") || word == QLatin1String("1")
            || word == QLatin1String("0");
    case QVariant::Int: {
        bool ok = false;
        word.toInt(&ok);
        return ok;
    }
    default:
        return value.userType() == QMetaType::QString;
    }
}

// Only root may decide for every user of the host: a file anyone else owns or may write is not the site's.
bool trusted(const QString& path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        if (errno != ENOENT) {
            logger->warn(QStringLiteral("site settings file %1 cannot be read: %2, ignored")
                             .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        }
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        logger->warn(QStringLiteral("site settings file %1 is not a file, ignored").arg(path));
        return false;
    }
    if (info.st_uid != source().owner) {
        logger->warn(QStringLiteral("site settings file %1 ignored: owned by uid %2, not by uid %3")
                         .arg(path)
                         .arg(info.st_uid)
                         .arg(source().owner));
        return false;
    }
    if (info.st_mode & (S_IWGRP | S_IWOTH)) {
        logger->warn(QStringLiteral("site settings file %1 ignored: writable by others (mode %2)")
                         .arg(path, QString::number(info.st_mode & 07777, 8)));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        logger->warn(QStringLiteral("site settings file %1 cannot be read: %2, ignored").arg(path, file.errorString()));
        return false;
    }
    return true;
}

} // namespace

namespace SiteSettings {

QString filePath()
{
    return source().path.isEmpty() ? QString::fromLatin1(kInstalledPath) : source().path;
}

void setFileForTests(const QString& path, uid_t owner)
{
    source().path = path;
    source().owner = path.isEmpty() ? 0 : owner;
    // What another file fixed does not carry over to a test that loads nothing.
    fixedKeys().clear();
}

QStringList apply(QSettings& user)
{
    fixedKeys().clear();
    const QString path = filePath();
    if (!trusted(path)) {
        return {};
    }
    QSettings site(path, QSettings::IniFormat);
    site.setIniCodec("UTF-8");
    // The file is parsed at the first look into it; only then does the status tell.
    const QStringList names = site.allKeys();
    if (site.status() == QSettings::FormatError) {
        logger->warn(QStringLiteral("site settings file %1: lines that are not settings were ignored").arg(path));
    }
    QStringList fixed;
    bool written = false;
    for (const QString& name : names) {
        Key key;
        if (!keyFor(name, &key)) {
            logger->warn(QStringLiteral("site setting %1 ignored: not a setting of the client").arg(name.left(64)));
            continue;
        }
        const QVariant value = site.value(name);
        if (perUser(key)) {
            logger->warn(QStringLiteral("site setting %1 ignored: each user keeps their own").arg(name));
            continue;
        }
        if (!usable(key, value)) {
            logger->warn(QStringLiteral("site setting %1 has the unusable value \"%2\", ignored")
                             .arg(name, value.toString().left(64)));
            continue;
        }
        fixed.append(name);
        // Rewritten only when it differs: most starts find the site's values in place.
        if (user.value(name) != value) {
            user.setValue(name, value);
            written = true;
        }
    }
    if (written) {
        user.sync();
        PrivateFiles::restrictFile(user.fileName());
    }
    if (!fixed.isEmpty()) {
        logger->info(QStringLiteral("site settings file %1 fixes %2").arg(path, fixed.join(QStringLiteral(", "))));
    }
    fixedKeys() = QSet<QString>(fixed.cbegin(), fixed.cend());
    return fixed;
}

bool isFixed(const QString& keyName)
{
    return fixedKeys().contains(keyName);
}

} // namespace SiteSettings
