#include "JobsTab.h"
#include "ui_MainWindow.h"

#include "EmptyTableHint.h"
#include "StateColors.h"
#include "api/KsJobs.h"
#include "api/KsKit.h"
#include "app/Logging.h"

#include <QJsonArray>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTimer>

static Logger* logger = Logging::rootLogger();

namespace {
constexpr int kColName = 0;
constexpr int kColStatusId = 9;
constexpr int kColJobId = 10;

ApiAnswer::Log jobListLog()
{
    return { QStringLiteral("[mainwindow.loadJobData]  ex message:"),
             QStringLiteral("[mainwindow.loadJobData] fail message:") };
}
} // namespace

JobsTab::JobsTab(QWidget* parent)
    : TabPage(parent)
{ }

void JobsTab::setup(TabHost& host, Ui::MainWindow& form)
{
    attach(host);
    m_form = &form;
    m_model = new QStandardItemModel(this);
    setupTable(form.tvJobs, m_model,
               { tr("docName"), tr("submitTime"), tr("status"), tr("copies"), tr("color"), tr("pages"), tr("duplex"),
                 tr("pageWidth"), tr("pageHeight"), tr("statusid"), tr("jobID") },
               { 200, 130, 100, 100, 100, 100, 80, 100, 100, 0, 0 });
    form.tvJobs->setColumnHidden(kColStatusId, true);
    form.tvJobs->setColumnHidden(kColJobId, true);
    EmptyTableHint::install(form.tvJobs, tr("No print jobs"));
    showContentAgeWhenOffline();
    form.labPinCode->setTextInteractionFlags(Qt::TextSelectableByMouse);
    StateColors::apply(form.labPinCode, StateColors::Tone::Accent);
    StateColors::apply(form.labGenState, StateColors::Tone::Alert);
    StateColors::apply(form.labPinCodeState, StateColors::Tone::Alert);

    m_jobStatusTimer = new QTimer(this);
    connect(m_jobStatusTimer, &QTimer::timeout, this, &JobsTab::getJobStatusInfo);
    m_jobListTimer = new QTimer(this);
    connect(m_jobListTimer, &QTimer::timeout, this, &JobsTab::RefreshJobInfo);
    connect(form.btnDelete, &QPushButton::clicked, this, &JobsTab::cancelSelected);
}

int JobsTab::pollInterval(double size)
{
    // Sizes on the band edges belong to the lower band, so every size gets an interval.
    if (size > 500) {
        return 30000;
    }
    if (size > 100) {
        return 15000;
    }
    if (size > 50) {
        return 5000;
    }
    return 2000;
}

QString JobsTab::getStatusName(int statusId) const
{
    return statusId == 51 ? tr("WaterProcessing") : tr("WaitPrint");
}

QString JobsTab::getDuplexModeName(int duplexMode) const
{
    switch (duplexMode) {
    case 1:
        return tr("LongEdge");
    case 2:
        return tr("ShortEdge");
    default:
        return tr("None");
    }
}

void JobsTab::load()
{
    m_form->tvJobs->setColumnWidth(kColStatusId, 0);
    m_form->tvJobs->setColumnWidth(kColJobId, 0);
    if (!host().checkNetworkState(false)) {
        return;
    }
    host().api().requestJobList(
        host().serverUrl(), host().userAccount(), jobListLog(), this, [this](const ApiAnswer& answer) {
            noteAnswer(answer);
            if (!answer.ok()) {
                stopJobStatusPoll();
            } else {
                m_model->removeRows(0, m_model->rowCount());
                KsJobs jobs;
                jobs.read(answer.object);
                int row = 0;
                for (const KsJob& job : jobs.getKsJobs()) {
                    QList<QStandardItem*> items { new QStandardItem(job.getJobName()),
                                                  new QStandardItem(job.getSubmitTimeStr()),
                                                  new QStandardItem(getStatusName(job.getStatusID())),
                                                  new QStandardItem(QString::number(job.getCopies())),
                                                  new QStandardItem(job.getIsColor() ? tr("true") : tr("false")),
                                                  new QStandardItem(QString::number(job.getDocumentPages())),
                                                  new QStandardItem(getDuplexModeName(job.getDuplexMode())),
                                                  new QStandardItem(QString::number(job.getPageWidth(), 'g', 6)),
                                                  new QStandardItem(QString::number(job.getPageHeight(), 'g', 6)),
                                                  new QStandardItem(QString::number(job.getStatusID())),
                                                  new QStandardItem(job.getJobID()) };
                    m_model->insertRow(row++, items);
                }
                m_latestJobCount = answer.data.toArray().size();
                fitColumns(m_form->tvJobs);
                // The document name, the first column, is what the next look is for.
                m_form->tvJobs->horizontalScrollBar()->setValue(0);
            }
            showCount("Jobs", m_model->rowCount());
            emit answered();
        });
}

void JobsTab::cancelSelected()
{
    const Selection selection = selectedJobs(m_form->tvJobs, kColJobId, kColName, kColStatusId);
    if (!confirmDeletion(m_form->btnDelete, selection, tr("Do you want to cancel the selected jobs?"),
                         QMessageBox::Critical)) {
        return;
    }
    // A job waiting for approval is not the user's to cancel.
    if (selection.statuses.contains(QLatin1String("53"))) {
        inform(QMessageBox::Critical, tr("Title"), tr("Cannot delete the job to be approved"));
        return;
    }
    const HttpAnswer answer = host().api().cancelJobs(host().serverUrl(), host().userAccount(), selection.ids);
    reportDeletion(answer, selection.names, { tr("Job deleted"), tr("job [%1] deleted"), tr("job [%1] not deleted") });
    load();
}

void JobsTab::getJobStatusInfo()
{
    host().api().requestJobStatus(
        host().serverUrl(), m_currentJobId, jobListLog(), this, [this](const ApiAnswer& answer) {
            noteAnswer(answer, false);
            if (!answer.ok()) {
                stopJobStatusPoll();
            } else {
                const QJsonObject data = answer.data.toObject();
                const int status = data.value(QStringLiteral("Status")).toInt();
                const double fileSize = data.value(QStringLiteral("FileSize")).toDouble();
                if (status == 51) {
                    if (!m_jobStatusTimer->isActive()) {
                        m_jobStatusTimer->start(pollInterval(fileSize));
                    }
                } else if (status == 5) {
                    const QString jobName = data.value(QStringLiteral("JobName")).toString();
                    host().showSystemMessage(tr("Job submitted success"), jobName);
                    host().insertMsgToDb(host().userAccount(), jobName, tr("job [%1] submited success").arg(jobName),
                                         QString());
                    m_jobStatusTimer->stop();
                    load();
                }
            }
            showCount("Jobs", m_model->rowCount());
            emit answered();
        });
}

void JobsTab::stopJobStatusPoll()
{
    if (m_jobStatusTimer->isActive()) {
        // A failed answer ends the poll; it starts again once the server is back.
        m_statusPollInterrupted = true;
        m_jobStatusTimer->stop();
    }
}

void JobsTab::resumeStatusPoll()
{
    if (m_statusPollInterrupted && !m_currentJobId.isEmpty()) {
        m_statusPollInterrupted = false;
        getJobStatusInfo();
    }
}

void JobsTab::flushRefresh()
{
    // One server check and one list for the whole pass instead of two requests per job; the pollers then
    // follow the pass's last job, whose values the submission left.
    if (m_refreshPending) {
        m_refreshPending = false;
        RefreshJobInfo();
    }
}

void JobsTab::RefreshJobInfo()
{
    load();
    // The answer of this load arrives later; the test uses the count of the previous answer.
    if (m_latestJobCount != m_rowsBeforeSubmit) {
        m_latestJobCount = 0;
        m_rowsBeforeSubmit = 0;
        m_lastUploadSize = 0;
        m_jobListTimer->stop();
    } else if (!m_jobListTimer->isActive()) {
        m_jobListTimer->start(pollInterval(double(m_lastUploadSize)));
    }
}

void JobsTab::clearForLogout()
{
    m_form->labPinCode->clear();
    m_form->labExpTime->clear();
    m_form->labPinCodeState->clear();
    m_form->labGenState->clear();
    m_jobStatusTimer->stop();
    m_jobListTimer->stop();
    m_refreshPending = false;
    m_statusPollInterrupted = false;
    m_model->removeRows(0, m_model->rowCount());
    m_form->tvJobs->horizontalScrollBar()->setValue(0);
    forgetContentTime();
}

void JobsTab::getPinCodeInfo()
{
    const QString account = host().userAccount();
    ApiAnswer::Log log;
    log.exPrefix = QStringLiteral("###### [getPinCodeInfo] userAccount [%1] request fail").arg(account);
    log.exWithErrorString = false;
    log.failPrefix = QStringLiteral("###### [getPinCodeInfo] userAccount [%1] fail errMsg ").arg(account);
    host().api().requestPinCode(host().serverUrl(), account, log, this, [this](const ApiAnswer& answer) {
        noteAnswer(answer, false);
        if (!answer.ok()) {
            return;
        }
        const QJsonObject data = answer.data.toObject();
        m_form->labPinCode->setText(data.value(QStringLiteral("PinCode")).toString());
        QString expiry = data.value(QStringLiteral("ExpiryTime")).toString();
        expiry.replace(QLatin1Char('T'), QLatin1Char(' '));
        m_form->labExpTime->setText(expiry);
        m_form->labPinCodeState->setText(data.value(QStringLiteral("IsExpired")).toBool() ? tr("Expired") : QString());
    });
}
