#pragma once

#include "KsJobParam.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class CurlExchange;
class JobHost;
class JobNotices;
class PrintJob;
struct HttpAnswer;

// Sends one accepted job to the server: announce it and get a job ID, upload the file in 1 MiB chunks,
// confirm. Every outcome the user has to know about reaches them through the tray and the job notices; the
// steps the jobs tab follows are signals.
class JobSubmitter : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kChunkSize = 1048576;

    // How a submission ended. Failed covers what may pass (no connection, a time-out, an error page, an
    // answer that is not JSON); Refused is the server's or the user's final no; Interrupted is a logout or
    // a quit noticed while waiting.
    enum class Outcome { Confirmed, Refused, Failed, Interrupted };

    // Steps the caller records as they happen, and its check for a logout or quit.
    struct Hooks
    {
        std::function<bool(const QString& jobId)> announced; // false: not recorded, the job must not go on
        std::function<void()> uploaded;
        std::function<bool()> stopped;
    };

    // Without notices given, it keeps its own.
    explicit JobSubmitter(JobHost* host, QObject* parent = nullptr, JobNotices* notices = nullptr);
    ~JobSubmitter() override;

    // Runs the three steps for the job's parameters and data file, against the server of the API's account.
    Outcome SubmitJob(const PrintJob& job, const Hooks& hooks = Hooks());
    // True when the server answered; timeoutMs 0 keeps the usual transfer time-out.
    bool cancelJob(const QString& jobId, const QString& account, int timeoutMs);

    // The announce form body.
    static QByteArray announceBody(const KsJobParam& param);

    // Where the pipeline's requests go (the admission's permission and no-card queries too): one worker for
    // every job.
    CurlExchange& exchange();
    // The server every request of a job goes to: the API's account's.
    QString serverUrl() const;
    JobNotices* notices() const { return m_notices; }

signals:
    // A submission begins.
    void submitStarted();
    // The server took the announcement and gave the job this ID.
    void jobAnnounced(const QString& jobId);
    // The upload of a data file of this size begins.
    void uploadStarted(qint64 bytes);
    // The server confirmed the job.
    void jobConfirmed();

private:
    Outcome announce(const KsJobParam& param, QString* jobId);
    Outcome upload(const PrintJob& job, const QString& jobId);
    Outcome confirm(const KsJobParam& param, const QString& jobId);
    Outcome uploadLoop(const QString& url, const PrintJob& job, bool withProgress, const QString& jobId);
    bool stopped() const { return m_hooks.stopped && m_hooks.stopped(); }
    bool keepUnsent() const;
    void reportUploadFailure(const QString& fileName, const QString& reason);
    // Tells the host at once when a request got no answer at all.
    void noteAnswer(const HttpAnswer& answer);

    JobHost* m_host = nullptr;
    JobNotices* m_notices = nullptr;
    Hooks m_hooks;
    QString m_base; // the server of the submission running
    std::unique_ptr<CurlExchange> m_exchange;
};
