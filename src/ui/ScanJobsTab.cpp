#include "ScanJobsTab.h"
#include "ui_MainWindow.h"

#include "EmptyTableHint.h"
#include "FileTransfer.h"
#include "api/KsEndpoints.h"
#include "api/KsKit.h"
#include "api/KsScanJob.h"

#include <QItemSelectionModel>
#include <QStandardItemModel>

ScanJobsTab::ScanJobsTab(QWidget* parent)
    : TabPage(parent)
{ }

void ScanJobsTab::setup(TabHost& host, Ui::MainWindow& form, FileTransfer& downloads)
{
    attach(host);
    m_form = &form;
    m_downloads = &downloads;
    m_model = new QStandardItemModel(this);
    setupTable(form.tvScanJobs, m_model, { tr("jobID"), tr("JobName"), tr("SubmitTime"), tr("StatusID") },
               { 200, 200, 150, 80 });
    EmptyTableHint::install(form.tvScanJobs, tr("No scan jobs"));
    showContentAgeWhenOffline();
    connect(form.btnDeleteScanJob, &QPushButton::clicked, this, &ScanJobsTab::deleteSelected);
    connect(form.btnDownloadSj, &QPushButton::clicked, this, &ScanJobsTab::downloadSelected);
}

QString ScanJobsTab::scanStatusName(int statusId)
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

void ScanJobsTab::load()
{
    if (!host().checkNetworkState(false)) {
        return;
    }
    const ApiAnswer::Log log { QStringLiteral("[mainwindow.loadScanJobData] ex message:"),
                               QStringLiteral("[mainwindow.loadScanJobData] fail message:") };
    host().api().requestScanJobs(host().serverUrl(), host().userAccount(), log, this, [this](const ApiAnswer& answer) {
        noteAnswer(answer);
        if (answer.ok()) {
            m_model->removeRows(0, m_model->rowCount());
            const QList<KsScanJob> scanJobs = KsScanJob::listFromJson(answer.data);
            for (const KsScanJob& job : scanJobs) {
                m_model->appendRow({ new QStandardItem(job.jobId), new QStandardItem(job.jobName),
                                     new QStandardItem(job.submitTime),
                                     new QStandardItem(scanStatusName(job.statusId)) });
            }
        }
        fitColumns(m_form->tvScanJobs);
        showCount("ScanJobs", m_model->rowCount());
    });
}

void ScanJobsTab::deleteSelected()
{
    const Selection selection = selectedJobs(m_form->tvScanJobs, 0, 1);
    if (!confirmDeletion(m_form->btnDeleteScanJob, selection, tr("Do you want to cancel the selected scan jobs?"),
                         QMessageBox::Warning)) {
        return;
    }
    const HttpAnswer answer = host().api().deleteScanJobs(host().serverUrl(), host().userAccount(), selection.ids);
    reportDeletion(answer, selection.names,
                   { tr("ScanJob deleted"), tr("ScanJob [%1] deleted"), tr("ScanJob [%1] not deleted") });
    load();
}

void ScanJobsTab::downloadSelected()
{
    if (!checkNetworkFor(m_form->btnDownloadSj)) {
        return;
    }
    const QModelIndexList rows = m_form->tvScanJobs->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        inform(QMessageBox::Information, tr("Title"), tr("Please select data"));
        return;
    }
    const int row = rows.constFirst().row();
    const QString name = m_model->index(row, 1).data().toString();
    const QString id = m_model->index(row, 0).data().toString();
    m_downloads->start(FileTransfer::Kind::ScanJob, name, KsEndpoints::scanJobDownloadUrl(host().serverUrl(), id),
                       host().serverUrl());
}
