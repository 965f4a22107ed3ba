#include "cglobal.h"

#include <QDir>

cglobal::cglobal(QObject* parent)
    : QObject(parent)
{
}

QString cglobal::getHomePath() const
{
    return QDir::homePath();
}

QString cglobal::getDataPath() const
{
    return getHomePath() + QDir::separator() + QStringLiteral("halcyraclient");
}

QString cglobal::getIniFilePath() const
{
    return getDataPath() + QDir::separator() + QStringLiteral("halcyraclient.ini");
}

QString cglobal::getConfigPath() const
{
    return getIniFilePath();
}
