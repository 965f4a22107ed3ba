#pragma once

#include <QObject>
#include <QString>

// The job folder watched while nobody is logged in, so that a job printed then can ask for a login; after a
// login the folder belongs to the job queue.
class JobFolderWatch : public QObject
{
    Q_OBJECT
public:
    explicit JobFolderWatch(QObject* parent = nullptr);

public slots:
    // The folder the settings file names, made if missing and watched.
    void start();
    void stop();

private:
    QString m_jobPath;
};
