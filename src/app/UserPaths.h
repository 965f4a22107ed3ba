#pragma once

#include <QString>

// Per-user paths, read from HOME each time: tests point HOME at a temporary directory before the application
// object exists.
namespace UserPaths {
QString homePath();
// <home>/halcyraclient
QString dataPath();
// <home>/halcyraclient/halcyraclient.ini
QString iniFilePath();
} // namespace UserPaths
