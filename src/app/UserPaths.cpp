#include "UserPaths.h"

#include <QDir>

namespace UserPaths {

QString homePath()
{
    return QDir::homePath();
}

QString dataPath()
{
    return homePath() + QDir::separator() + QStringLiteral("halcyraclient");
}

QString iniFilePath()
{
    return dataPath() + QDir::separator() + QStringLiteral("halcyraclient.ini");
}

} // namespace UserPaths
