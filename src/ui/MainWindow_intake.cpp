// The window as host of the job intake: real boxes, the no-card dialog, the progress display, and the
// operations the queue and the pipeline run through the window.
#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "NoCardPrintDialog.h"
#include "Prompts.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "jobs/JobNotices.h"
#include "jobs/JobQueue.h"
#include "jobs/JobSubmitter.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QSystemTrayIcon>

static Logger* logger = Logging::rootLogger();

namespace {
// Boxes raised by the job intake float above every window: the main window may well be hidden.
const Qt::WindowFlags kJobPromptFlags = Prompts::windowFlags(Prompts::JobPrompt);

// A message box that Escape or a close closes without a choice: clickedButton() stays null. (A plain
// QMessageBox without an escape button ignores both.)
class ChoiceBox : public QMessageBox
{
public:
    using QMessageBox::QMessageBox;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->matches(QKeySequence::Cancel)) {
            reject();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override { QDialog::closeEvent(event); }
};

class DialogProgress : public JobProgress
{
public:
    explicit DialogProgress(QProgressDialog* dialog)
        : m_dialog(dialog)
    { }
    ~DialogProgress() override { delete m_dialog.data(); }
    void setValue(int value) override
    {
        if (m_dialog) {
            m_dialog->setValue(value);
        }
    }
    bool wasCanceled() const override { return !m_dialog || m_dialog->wasCanceled(); }
    void close() override
    {
        if (m_dialog) {
            m_dialog->close();
        }
    }

private:
    QPointer<QProgressDialog> m_dialog;
};
} // namespace

bool MainWindow::askConfirmation(const QString& text, const QString& documentName)
{
    // The job waits for the user from here on; a support case reads how long.
    logger->info(QStringLiteral("###### job question open: ") + text);
    // "No" removes the job: Return submits it. The box may come up while the user prints something else.
    return Prompts::question(nullptr, tr("Confirmation"), text, tr("Yes"), tr("No"),
                             Prompts::JobPrompt | Prompts::YesByDefault, tr("Document: %1").arg(documentName));
}

void MainWindow::showWarning(const QString& text)
{
    Prompts::message(nullptr, QMessageBox::Warning, tr("Title"), text, tr("Yes"));
}

void MainWindow::showCritical(const QString& text)
{
    Prompts::message(nullptr, QMessageBox::Critical, tr("Error"), text, tr("Yes"));
}

JobHost::ExistingJobsChoice MainWindow::askExistingJobs(const QString& title, int waiting)
{
    // The flags go in first: set later, they re-create the window and its focus falls to "Discard", which
    // would then take Return.
    ChoiceBox box(QMessageBox::Warning, title, tr("Existed jobs found"), QMessageBox::NoButton, nullptr,
                  kJobPromptFlags);
    box.setInformativeText(tr("Do you want to submit the jobs?") + QLatin1Char('\n')
                           + tr("%n job(s) waiting to be sent", nullptr, waiting));
    QPushButton* discard = box.addButton(tr("Discard"), QMessageBox::ActionRole);
    QPushButton* submit = box.addButton(tr("Submit"), QMessageBox::ActionRole);
    // Return, Enter and Space never throw the jobs away; setDefaultButton also gives it the focus.
    box.setDefaultButton(submit);
    logger->info(QStringLiteral("###### job question open: ") + box.text());
    box.exec();
    if (box.clickedButton() == submit) {
        return ExistingJobsChoice::Submit;
    }
    return box.clickedButton() == discard ? ExistingJobsChoice::Discard : ExistingJobsChoice::NoChoice;
}

void MainWindow::reportServerUnreachable()
{
    // Not modal: the queue goes on and sends the kept jobs once the server answers.
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Title"), tr("Unable to link server"), QMessageBox::NoButton,
                                nullptr, kJobPromptFlags);
    box->addButton(tr("Yes"), QMessageBox::AcceptRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    // Bypassing the window manager, it would not get the keyboard by itself.
    box->activateWindow();
    m_unreachableBox = box;
}

QString MainWindow::unsentJobsText() const
{
    return m_unsentJobs > 0 ? tr("%n job(s) waiting to be sent", nullptr, m_unsentJobs) : QString();
}

void MainWindow::setUnsentJobCount(int count)
{
    if (m_unsentJobs != count) {
        m_unsentJobs = count;
        updateStatus();
    }
    // The queue tells the count at the end of every pass: the jobs the pass sent show now.
    m_ui->tabJobs->flushRefresh();
}

void MainWindow::stopJobsForQuit()
{
    if (m_jobQueue) {
        m_jobQueue->requestQuit();
    }
}

void MainWindow::finishJobsAfterQuit()
{
    stopJobsForQuit();
    m_jobQueue->cancelOpenServerJobs(JobQueue::kQuitCancelMs);
}

std::unique_ptr<JobProgress> MainWindow::createProgress(const QString& label, const QString& cancelText, int maximum,
                                                        const QString& title)
{
    auto* dialog = new QProgressDialog(label, cancelText, 0, maximum, this);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(title);
    dialog->setMinimumWidth(300);
    dialog->setMinimumHeight(120);
    dialog->setMinimumDuration(0);
    dialog->setValue(0);
    return std::make_unique<DialogProgress>(dialog);
}

bool MainWindow::askNoCardChoice(NoCardChoice* choice)
{
    return NoCardPrintDialog::runChoice(choice);
}

bool MainWindow::jobIntakeRunning() const
{
    return m_jobQueue->isJobTimerActive();
}

void MainWindow::connectJobIntake()
{
    MessagesTab* messages = m_ui->tabMessages;
    JobNotices* notices = m_jobQueue->notices();
    notices->setStore(m_messageStore.get());
    connect(
        notices, &JobNotices::added, messages,
        [messages](int id, const QString& account, const QString& message, const QString&,
                   const MessageStore::Inserted& inserted) { messages->showStored(id, account, message, inserted); });

    JobsTab* jobs = m_ui->tabJobs;
    JobSubmitter* submitter = m_jobQueue->submitter();
    connect(submitter, &JobSubmitter::submitStarted, jobs,
            [jobs]() { jobs->setRowCountBeforeSubmit(jobs->model()->rowCount()); });
    connect(submitter, &JobSubmitter::jobAnnounced, jobs, &JobsTab::setCurrentJobId);
    connect(submitter, &JobSubmitter::uploadStarted, jobs, &JobsTab::setUploadedFileSize);
    connect(submitter, &JobSubmitter::jobConfirmed, jobs, [this, jobs]() {
        // With IsLocalization the tab polls the new job's status; otherwise it loads the job list again.
        if (jobOptions().isLocalization) {
            jobs->getJobStatusInfo();
        } else {
            jobs->requestRefresh();
        }
    });
}

int MainWindow::insertMsgToDb(const QString& account, const QString& title, const QString& message, const QString& date)
{
    return m_ui->tabMessages->insert(account, title, message, date);
}

void MainWindow::setUpJobFolder()
{
    m_jobFolder = JobFolderSetting::read();
    m_jobQueue->initJobControlOption();
}

JobOptions MainWindow::jobOptions() const
{
    JobOptions options = JobOptions::fromSettings(*m_info);
    options.folder = m_jobFolder;
    return options;
}
