// The jobs tab: the user's jobs waiting on the server, cancelling them, and the two pollers that follow a
// job after it was submitted.
#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "EmptyTableHint.h"
#include "WindowRequest.h"
#include "api/HttpExchange.h"
#include "api/KsJobs.h"
#include "api/KsKit.h"
#include "app/Logging.h"

#include <QCursor>
#include <QItemSelectionModel>
#include <QJsonArray>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QTimer>
#include <QToolTip>

static Logger* logger = Logging::rootLogger();

namespace {
constexpr int kMaxBatch = 30;
constexpr int kColName = 0;
constexpr int kColStatusId = 9;
constexpr int kColJobId = 10;
const QString kJobListEx = QStringLiteral("[mainwindow.loadJobData]  ex message:");
const QString kJobListFail = QStringLiteral("[mainwindow.loadJobData] fail message:");
} // namespace

void MainWindow::initJobTabelView()
{
    m_jobsModel = new QStandardItemModel(this);
    setupTable(m_ui->tvJobs, m_jobsModel,
               { tr("docName"), tr("submitTime"), tr("status"), tr("copies"), tr("color"), tr("pages"), tr("duplex"),
                 tr("pageWidth"), tr("pageHeight"), tr("statusid"), tr("jobID") },
               { 200, 130, 100, 100, 100, 100, 80, 100, 100, 0, 0 });
    m_ui->tvJobs->setColumnHidden(kColStatusId, true);
    m_ui->tvJobs->setColumnHidden(kColJobId, true);
    EmptyTableHint::install(m_ui->tvJobs, tr("No print jobs"));
}

int MainWindow::pollInterval(double size)
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

QString MainWindow::getStatusName(int statusId) const
{
    return statusId == 51 ? tr("WaterProcessing") : tr("WaitPrint");
}

QString MainWindow::getDuplexModeName(int duplexMode) const
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

void MainWindow::loadJobData()
{
    m_ui->tvJobs->setColumnWidth(kColStatusId, 0);
    m_ui->tvJobs->setColumnWidth(kColJobId, 0);
    if (!checkNetworkState(false)) {
        return;
    }
    sendGet(KsKit::jobListUrl(m_serverUrl, m_account), kJobListEx, kJobListFail, [this](const WindowAnswer& answer) {
        if (!answer.ok()) {
            stopJobStatusPoll();
        } else {
            m_jobsModel->removeRows(0, m_jobsModel->rowCount());
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
                m_jobsModel->insertRow(row++, items);
            }
            m_latestJobCount = answer.data.toArray().size();
            fitColumns(m_ui->tvJobs);
        }
        InitTabText(QStringLiteral("tabJobs"), QStringLiteral("Jobs"), m_jobsModel->rowCount());
        loadMsgFromDb();
    });
}

void MainWindow::jobsRefreshBtn_clicked()
{
    setCursor(Qt::BusyCursor);
    m_ui->btnRefresh->setEnabled(false);
    if (checkNetworkState(true)) {
        RefreshData();
    }
    setCursor(Qt::ArrowCursor);
    m_ui->btnRefresh->setEnabled(true);
}

void MainWindow::jobsDelBtn_clicked()
{
    deleteSelectedJobs(false);
}

void MainWindow::scanJobDelBtn_clicked()
{
    deleteSelectedJobs(true);
}

void MainWindow::deleteSelectedJobs(bool scanJobs)
{
    QPushButton* button = scanJobs ? m_ui->btnDeleteScanJob : m_ui->btnDelete;
    QTableView* view = scanJobs ? m_ui->tvScanJobs : m_ui->tvJobs;
    // Read now: a reload while the question is open reorders the rows, and another job would be cancelled.
    const QAbstractItemModel* model = view->model();
    const int idColumn = scanJobs ? 0 : kColJobId;
    const int nameColumn = scanJobs ? 1 : kColName;
    QStringList ids;
    QStringList names;
    bool awaitingApproval = false;
    for (const QModelIndex& index : view->selectionModel()->selectedRows()) {
        const int row = index.row();
        ids.append(model->index(row, idColumn).data().toString());
        names.append(model->index(row, nameColumn).data().toString());
        if (!scanJobs && model->index(row, kColStatusId).data().toString() == QLatin1String("53")) {
            awaitingApproval = true;
        }
    }
    button->setEnabled(false);
    const bool reachable = checkNetworkState(true);
    button->setEnabled(true);
    if (!reachable) {
        return;
    }

    if (ids.isEmpty()) {
        inform(QMessageBox::Information, tr("Title"), tr("Please select data"));
        return;
    }
    if (!askYesNo(tr("Confirmation"),
                  scanJobs ? tr("Do you want to cancel the selected scan jobs?")
                           : tr("Do you want to cancel the selected jobs?"))) {
        return;
    }
    if (ids.size() > kMaxBatch) {
        inform(scanJobs ? QMessageBox::Warning : QMessageBox::Critical, tr("Title"), tr("Batch deletion (up to 30)"));
        return;
    }

    logger->info(QStringLiteral("prepare to delete selected jobs"));
    if (awaitingApproval) {
        inform(QMessageBox::Critical, tr("Title"), tr("Cannot delete the job to be approved"));
        return;
    }
    const QString url = scanJobs ? KsKit::deleteScanJobsUrl(m_serverUrl, m_account, ids)
                                 : KsKit::cancelJobsUrl(m_serverUrl, m_account, ids);
    if (!scanJobs) {
        logger->info(url);
    }

    HttpExchange exchange; // a short-lived manager of its own
    exchange.setExcludeUserInput(true);
    const HttpAnswer answer = exchange.get(url, m_serverUrl);

    // Only a success answer means the jobs are gone; anything else is reported as such.
    if (answer.isObject() && answer.code() == 0) {
        if (m_trayIcon && m_trayIcon->isVisible()) {
            showSystemMessage(scanJobs ? tr("ScanJob deleted") : tr("Job deleted"), names.join(QLatin1Char(',')));
        }
        insertMsgToDb(
            m_account, QString(),
            (scanJobs ? tr("ScanJob [%1] deleted") : tr("job [%1] deleted")).arg(names.join(QLatin1Char('|'))),
            QString());
    } else {
        const QString reason = answer.isObject() ? answer.message() : answer.errorString;
        logger->error(QStringLiteral("delete jobs failed: ") + reason);
        const QString text = (scanJobs ? tr("ScanJob [%1] not deleted") : tr("job [%1] not deleted"))
                                 .arg(names.join(QLatin1Char('|')));
        insertMsgToDb(m_account, QString(), text, QString());
        inform(QMessageBox::Warning, tr("Title"), reason.isEmpty() ? text : text + QStringLiteral("\n") + reason);
    }

    if (scanJobs) {
        loadScanJobData();
    } else {
        RefreshData();
    }
}

void MainWindow::getJobStatusInfo()
{
    sendGet(KsKit::jobStatusUrl(m_serverUrl, m_currentJobId), kJobListEx, kJobListFail,
            [this](const WindowAnswer& answer) {
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
                        showSystemMessage(tr("Job submitted success"), jobName);
                        insertMsgToDb(m_account, jobName, tr("job [%1] submited success").arg(jobName), QString());
                        m_jobStatusTimer->stop();
                        loadJobData();
                    }
                }
                InitTabText(QStringLiteral("tabJobs"), QStringLiteral("Jobs"), m_jobsModel->rowCount());
                loadMsgFromDb();
            });
}

void MainWindow::RefreshJobInfo()
{
    loadJobData();
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

void MainWindow::ShowTooltip(const QModelIndex& index)
{
    QToolTip::showText(QCursor::pos(), index.data().toString());
}
