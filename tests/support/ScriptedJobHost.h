#pragma once

#include "api/KsKit.h"
#include "jobs/JobHost.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class JobNotices;
class JobQueue;
class JobSubmitter;
class MessageStore;

// A JobHost for tests: scripted answers to every question, and a record of everything the job intake asked,
// showed or stored, in order.
class ScriptedJobHost : public JobHost
{
public:
    struct Event
    {
        QString kind; // network, confirm, warning, critical, existing, nocard, tray, stored, progress, refresh, status,
                      // unreachable
        QString title;
        QString text;
        QString account;
        QString date;
    };

    // Identity and settings; server is handed to the API's account, which the job path reads it from.
    QString server;
    QString account = QStringLiteral("alice");
    JobOptions options;

    // Scripted answers; a list is consumed from the front, then the default applies.
    QList<bool> networkAnswers;
    bool networkDefault = true;
    QList<bool> confirmAnswers;
    bool confirmDefault = false;
    ExistingJobsChoice existingChoice = ExistingJobsChoice::Submit;
    bool noCardAccept = true;
    NoCardChoice noCardChoice;
    NoCardChoice noCardAsked; // what the last no-card question was given
    int cancelProgressAtValue = -1; // the progress reports "cancelled" once a value at least this high was set
    std::function<void(int)> onProgressValue; // runs inside setValue, e.g. to change the server's behaviour
    std::function<void(const QString&)> onQuestion; // runs while a question is open (confirm, existing, no-card)

    // Where stored messages go besides the record (set on the notices listened to); optional.
    MessageStore* store = nullptr;

    // Jobs tab.
    int rows = 0;
    int rowsBeforeSubmit = -1;
    QString currentJobId;
    qint64 uploadedSize = -1;

    int unsentCount = -1;
    QStringList noAnswerReasons; // what reportNoAnswer was told, kept apart from the ordered events
    QList<Event> events;
    QStringList kinds() const;
    QList<Event> eventsOf(const QString& kind) const;
    QStringList textsOf(const QString& kind) const;
    QList<int> progressValues;
    bool progressClosed = false;

    QString userAccount() const override { return account; }
    // The job folder, unless a test sets one, as the test's settings file names it now.
    JobOptions jobOptions() const override;
    KsKit& api() override;
    bool checkNetworkState(bool showDialog) override;
    bool askConfirmation(const QString& text, const QString& documentName) override;
    void showWarning(const QString& text) override;
    void showCritical(const QString& text) override;
    ExistingJobsChoice askExistingJobs(const QString& title, int waiting) override;
    void reportServerUnreachable() override;
    void setUnsentJobCount(int count) override { unsentCount = count; }
    void reportNoAnswer(const QString& reason) override { noAnswerReasons.append(reason); }
    bool askNoCardChoice(NoCardChoice* choice) override;
    void showSystemMessage(const QString& title, const QString& text) override;
    std::unique_ptr<JobProgress> createProgress(const QString& label, const QString& cancelText, int maximum,
                                                const QString& title) override;

    // Records what the notices store ("stored") and what a submission tells the jobs tab ("refresh", "status"
    // and the values above), as the window shows them.
    void listen(JobNotices* notices);
    void listen(JobSubmitter* submitter);
    void listen(JobQueue* queue);

private:
    std::shared_ptr<KsKit> m_api; // made on first use, once the test's settings are in place
};
