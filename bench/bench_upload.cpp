// bench_upload URL ACCOUNT FILE
// Sends FILE as one print job through the client's submission pipeline (announce, 1 MiB chunks, confirm)
// with a host that never prompts, and prints one JSON object: the seconds the pipeline took, the resident
// memory just before it started and the peak during it (KiB).
#include "api/KsKit.h"
#include "jobs/JobHost.h"
#include "jobs/JobSubmitter.h"
#include "jobs/KsJobParam.h"
#include "jobs/PrintJob.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>

#include <cstdio>

namespace {

class NullProgress : public JobProgress
{
public:
    void setValue(int) override { }
    bool wasCanceled() const override { return false; }
    void close() override { }
};

// Answers like a main window whose user says "Yes" to everything and never looks at the screen.
class HeadlessHost : public JobHost
{
public:
    HeadlessHost(const QString& url, QString account)
        : m_account(std::move(account))
    {
        KsAccount server;
        server.serverUrl = url;
        m_api.setAccount(server);
    }

    // The client's defaults: a job this large is uploaded with the progress display.
    JobOptions jobOptions() const override { return JobOptions(); }
    KsKit& api() override { return m_api; }
    QString userAccount() const override { return m_account; }
    bool checkNetworkState(bool) override { return true; }
    bool askConfirmation(const QString&, const QString&) override { return true; }
    void showWarning(const QString& text) override { noticed(text); }
    void showCritical(const QString& text) override { noticed(text); }
    ExistingJobsChoice askExistingJobs(const QString&, int) override { return ExistingJobsChoice::Submit; }
    bool askNoCardChoice(NoCardChoice*) override { return true; }
    void showSystemMessage(const QString& title, const QString& text) override
    {
        noticed(title + QLatin1Char(' ') + text);
    }
    std::unique_ptr<JobProgress> createProgress(const QString&, const QString&, int, const QString&) override
    {
        return std::make_unique<NullProgress>();
    }

private:
    QNetworkAccessManager m_network;
    KsKit m_api { KsAccount(), m_network };
    static void noticed(const QString& text) { std::fprintf(stderr, "bench_upload: %s\n", qPrintable(text)); }

    QString m_account;
};

qint64 statusKib(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key)) {
            return line.mid(key.size()).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: bench_upload URL ACCOUNT FILE\n");
        return 2;
    }
    HeadlessHost host(args.at(1), args.at(2));
    JobSubmitter submitter(&host);

    KsJobParam param;
    param.userAccount = args.at(2);
    param.jobFilePath = QFileInfo(args.at(3)).absoluteFilePath();
    param.docName = QFileInfo(args.at(3)).fileName();
    param.color = QStringLiteral("false");
    param.fileType = QStringLiteral("pdf");
    param.computerName = QStringLiteral("bench");
    param.computerIp = QStringLiteral("127.0.0.1");
    param.documentPages = 1;
    param.pageWidth = 210;
    param.pageHeight = 297;

    // Idle figure first, then the peak is counted from here on ("5" resets the high-water mark).
    const qint64 idleKib = statusKib("VmRSS");
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    const bool peakReset = clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
    clearRefs.close();

    QElapsedTimer timer;
    timer.start();
    PrintJob job(param.jobFilePath, param.userAccount);
    job.param = param;
    const bool ok = submitter.SubmitJob(job, {}) == JobSubmitter::Outcome::Confirmed;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;

    QJsonObject out;
    out.insert(QStringLiteral("ok"), ok);
    out.insert(QStringLiteral("seconds"), seconds);
    out.insert(QStringLiteral("bytes"), QFileInfo(param.jobFilePath).size());
    out.insert(QStringLiteral("idle_kib"), idleKib);
    out.insert(QStringLiteral("peak_kib"), statusKib("VmHWM"));
    out.insert(QStringLiteral("peak_reset"), peakReset);
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    return ok ? 0 : 1;
}
