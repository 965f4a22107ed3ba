#include "UserPaths.h"

#include <QDir>

UserPaths::UserPaths(QObject* parent)
    : QObject(parent)
{ }

QString UserPaths::getHomePath() const
{
    return QDir::homePath();
}

QString UserPaths::getDataPath() const
{
    return getHomePath() + QDir::separator() + QStringLiteral("halcyraclient");
}

QString UserPaths::getIniFilePath() const
{
    return getDataPath() + QDir::separator() + QStringLiteral("halcyraclient.ini");
}

QString UserPaths::getConfigPath() const
{
    return getIniFilePath();
}
