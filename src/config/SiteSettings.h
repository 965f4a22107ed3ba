#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

class QSettings;

// The administrator's settings, /etc/halcyraclient/site.ini: the groups and keys of the user's settings file,
// written over the user's values at every start and fixed for the run. Nothing else may change a fixed key:
// not the server's pushed settings, not the windows, not a save.
namespace SiteSettings {

QString filePath();
// Tests point it at a file of their own and accept their own uid as its owner; an empty path restores
// the installed file and root.
void setFileForTests(const QString& path, uid_t owner);

// Reads the site file and writes each usable key over the user's value in user; the keys written become the
// fixed ones (none when the file is missing, unreadable, or not the administrator's). Returns them.
QStringList apply(QSettings& user);
// "Group/Name" was fixed by the last apply().
bool isFixed(const QString& keyName);

} // namespace SiteSettings
