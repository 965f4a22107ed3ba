#include "ScriptedJobHost.h"
#include "ClientParts.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "jobs/JobNotices.h"
#include "jobs/JobQueue.h"
#include "jobs/JobSubmitter.h"

#include "store/MessageStore.h"

namespace {
class ScriptedProgress : public JobProgress
{
public:
    explicit ScriptedProgress(ScriptedJobHost* host)
        : m_host(host)
    { }
    void setValue(int value) override
    {
        m_host->progressValues << value;
        if (m_host->onProgressValue) {
            m_host->onProgressValue(value);
        }
        if (m_host->cancelProgressAtValue >= 0 && value >= m_host->cancelProgressAtValue) {
            m_canceled = true;
        }
    }
    bool wasCanceled() const override { return m_canceled; }
    void close() override { m_host->progressClosed = true; }

private:
    ScriptedJobHost* m_host;
    bool m_canceled = false;
};

bool takeAnswer(QList<bool>& answers, bool fallback)
{
    return answers.isEmpty() ? fallback : answers.takeFirst();
}
} // namespace

QStringList ScriptedJobHost::kinds() const
{
    QStringList list;
    for (const Event& e : events) {
        list << e.kind;
    }
    return list;
}

QList<ScriptedJobHost::Event> ScriptedJobHost::eventsOf(const QString& kind) const
{
    QList<Event> list;
    for (const Event& e : events) {
        if (e.kind == kind) {
            list << e;
        }
    }
    return list;
}

QStringList ScriptedJobHost::textsOf(const QString& kind) const
{
    QStringList list;
    for (const Event& e : eventsOf(kind)) {
        list << e.text;
    }
    return list;
}

JobOptions ScriptedJobHost::jobOptions() const
{
    JobOptions current = options;
    if (current.folder.settingsFile.isEmpty()) {
        current.folder = JobFolderSetting::read();
    }
    return current;
}

bool ScriptedJobHost::checkNetworkState(bool showDialog)
{
    events.append({ QStringLiteral("network"), QString(), showDialog ? QStringLiteral("dialog") : QString(), {}, {} });
    return takeAnswer(networkAnswers, networkDefault);
}

bool ScriptedJobHost::askConfirmation(const QString& text, const QString& /*documentName*/)
{
    events.append({ QStringLiteral("confirm"), QStringLiteral("Confirmation"), text, {}, {} });
    if (onQuestion) {
        onQuestion(text);
    }
    return takeAnswer(confirmAnswers, confirmDefault);
}

void ScriptedJobHost::showWarning(const QString& text)
{
    events.append({ QStringLiteral("warning"), QStringLiteral("Title"), text, {}, {} });
}

void ScriptedJobHost::showCritical(const QString& text)
{
    events.append({ QStringLiteral("critical"), QStringLiteral("Error"), text, {}, {} });
}

JobHost::ExistingJobsChoice ScriptedJobHost::askExistingJobs(const QString& title, int waiting)
{
    events.append({ QStringLiteral("existing"), title, QString::number(waiting), {}, {} });
    if (onQuestion) {
        onQuestion(title);
    }
    return existingChoice;
}

KsKit& ScriptedJobHost::api()
{
    if (!m_api) {
        m_api = std::make_shared<KsKit>(KsAccount::fromSettings(*Singleton<LoginInfo>::getInstance()),
                                        ClientParts::shared().network);
    }
    if (!server.isEmpty() && m_api->account().serverUrl != server) {
        KsAccount account = m_api->account();
        account.serverUrl = server;
        m_api->setAccount(account);
    }
    return *m_api;
}

bool ScriptedJobHost::askNoCardChoice(NoCardChoice* choice)
{
    events.append({ QStringLiteral("nocard"), QString(), QString(), {}, {} });
    noCardAsked = *choice;
    if (onQuestion) {
        onQuestion(QStringLiteral("nocard"));
    }
    if (noCardAccept) {
        *choice = noCardChoice;
    }
    return noCardAccept;
}

void ScriptedJobHost::showSystemMessage(const QString& title, const QString& text)
{
    events.append({ QStringLiteral("tray"), title, text, {}, {} });
}

void ScriptedJobHost::listen(JobNotices* notices)
{
    notices->setStore(store);
    QObject::connect(notices, &JobNotices::added, notices,
                     [this](int, const QString& msgAccount, const QString& message, const QString& date,
                            const MessageStore::Inserted&) {
                         events.append({ QStringLiteral("stored"), QString(), message, msgAccount, date });
                     });
}

void ScriptedJobHost::listen(JobSubmitter* submitter)
{
    QObject::connect(submitter, &JobSubmitter::submitStarted, submitter, [this]() { rowsBeforeSubmit = rows; });
    QObject::connect(submitter, &JobSubmitter::jobAnnounced, submitter,
                     [this](const QString& jobId) { currentJobId = jobId; });
    QObject::connect(submitter, &JobSubmitter::uploadStarted, submitter,
                     [this](qint64 bytes) { uploadedSize = bytes; });
    QObject::connect(submitter, &JobSubmitter::jobConfirmed, submitter, [this]() {
        const QString kind = options.isLocalization ? QStringLiteral("status") : QStringLiteral("refresh");
        events.append({ kind, QString(), QString(), {}, {} });
    });
    if (submitter->notices()) {
        listen(submitter->notices());
    }
}

void ScriptedJobHost::listen(JobQueue* queue)
{
    listen(queue->submitter());
}

std::unique_ptr<JobProgress> ScriptedJobHost::createProgress(const QString& label, const QString& cancelText,
                                                             int maximum, const QString& title)
{
    events.append({ QStringLiteral("progress"),
                    title,
                    label + QLatin1Char('|') + cancelText + QLatin1Char('|') + QString::number(maximum),
                    {},
                    {} });
    progressValues.clear();
    progressClosed = false;
    return std::make_unique<ScriptedProgress>(this);
}

void ScriptedJobHost::reportServerUnreachable()
{
    events.append({ QStringLiteral("unreachable"), {}, {}, {}, {} });
}
