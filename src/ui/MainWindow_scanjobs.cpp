// The scan-jobs tab: list, delete and download the user's scan jobs.
#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "EmptyTableHint.h"
#include "WindowRequest.h"
#include "api/KsKit.h"
#include "api/KsScanJob.h"

#include <QItemSelectionModel>
#include <QJsonArray>
#include <QMessageBox>
#include <QStandardItemModel>

void MainWindow::initScanJobTabelView()
{
    m_scanJobsModel = new QStandardItemModel(this);
    setupTable(m_ui->tvScanJobs, m_scanJobsModel, { tr("jobID"), tr("JobName"), tr("SubmitTime"), tr("StatusID") },
               { 200, 200, 150, 80 });
    EmptyTableHint::install(m_ui->tvScanJobs, tr("No scan jobs"));
}

QString MainWindow::scanStatusName(int statusId)
{
    switch (statusId) {
    case 7:
        return QStringLiteral("已打印");
    case 14:
        return QStringLiteral("已下载");
    default:
        return QStringLiteral("待下载");
    }
}

void MainWindow::loadScanJobData()
{
    if (!checkNetworkState(false)) {
        return;
    }
    sendGet(KsKit::scanJobListUrl(m_serverUrl, m_account), QStringLiteral("[mainwindow.loadScanJobData] ex message:"),
            QStringLiteral("[mainwindow.loadScanJobData] fail message:"), [this](const WindowAnswer& answer) {
                if (answer.ok()) {
                    m_scanJobsModel->removeRows(0, m_scanJobsModel->rowCount());
                    const QList<KsScanJob> scanJobs = KsScanJob::listFromJson(answer.data);
                    for (const KsScanJob& job : scanJobs) {
                        m_scanJobsModel->appendRow({ new QStandardItem(job.jobId), new QStandardItem(job.jobName),
                                                     new QStandardItem(job.submitTime),
                                                     new QStandardItem(scanStatusName(job.statusId)) });
                    }
                }
                fitColumns(m_ui->tvScanJobs);
                InitTabText(QStringLiteral("tabScanJobs"), QStringLiteral("ScanJobs"), m_scanJobsModel->rowCount());
            });
}

void MainWindow::scanJobDownloadBtn_clicked()
{
    m_ui->btnDownloadSj->setEnabled(false);
    const bool reachable = checkNetworkState(true);
    m_ui->btnDownloadSj->setEnabled(true);
    if (!reachable) {
        return;
    }
    const QModelIndexList rows = m_ui->tvScanJobs->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        inform(QMessageBox::Information, tr("Title"), tr("Please select data"));
        return;
    }
    const int row = rows.constFirst().row();
    const QString name = m_scanJobsModel->index(row, 1).data().toString();
    const QString id = m_scanJobsModel->index(row, 0).data().toString();
    prepareDownload(name, KsKit::scanJobDownloadUrl(m_serverUrl, id), false);
}
