#pragma once

#include <QObject>
#include <QString>

// The job folder watched for the client's whole run: while nobody is logged in a job printed asks for a login,
// after a login it starts the job queue's pass at once (the queue's timer stays as the safety net).
class JobFolderWatch : public QObject
{
    Q_OBJECT
public:
    explicit JobFolderWatch(QObject* parent = nullptr);

public slots:
    // The folder the settings file names, made if missing and watched (again: a login window shown after a
    // logout reads the settings anew).
    void start();
    void stop();

private:
    QString m_jobPath;
};
