#pragma once

#include "KsJobParam.h"

#include <QObject>
#include <QString>

class JobHost;
struct HttpAnswer;

// Sends one accepted job to the server: announce it and get a job ID, upload the file in 1 MiB chunks,
// confirm. Every outcome the user has to know about reaches them through the host's tray and message store.
class JobSubmitter : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kChunkSize = 1048576;

    explicit JobSubmitter(JobHost* host, QObject* parent = nullptr);

    // Runs the three steps; true when the server confirmed the job.
    bool SubmitJob(KsJobParam param);
    // The server's job ID, empty on any failure.
    QString beginSubmitJob(const KsJobParam& param);
    bool uploadJobFile(const KsJobParam& param, const QString& jobId);
    bool uploadFileSegment(const QString& url, const QString& filePath, const QString& fileName);
    bool uploadFileSegmentProgress(const QString& url, const QString& filePath, const QString& fileName,
                                   const QString& jobId, const QString& docName);
    bool endSubmitJob(const KsJobParam& param, const QString& jobId);
    void cancelJob(const QString& jobId);

    // The announce form body.
    static QByteArray announceBody(const KsJobParam& param);

private:
    bool uploadLoop(const QString& url, const QString& filePath, const QString& fileName, bool withProgress,
                    const QString& jobId, const QString& docName);
    void reportUploadFailure(const QString& fileName, const QString& reason);
    QString jobUrl(const QString& endpoint) const;

    JobHost* m_host = nullptr;
};
