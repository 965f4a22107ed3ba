#pragma once

#include <QObject>
#include <QString>

// Per-user paths. Tests point HOME at a temporary directory before the application object exists.
class UserPaths : public QObject
{
    Q_OBJECT
public:
    explicit UserPaths(QObject* parent = nullptr);

    QString getHomePath() const;
    // <home>/halcyraclient/halcyraclient.ini
    QString getIniFilePath() const;
    QString getConfigPath() const;
    // <home>/halcyraclient
    QString getDataPath() const;
};
