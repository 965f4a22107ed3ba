#include "SystemTab.h"
#include "ui_MainWindow.h"

#include "FileTransfer.h"
#include "api/KsEndpoints.h"
#include "api/KsKit.h"

SystemTab::SystemTab(QWidget* parent)
    : TabPage(parent)
{ }

void SystemTab::setup(TabHost& host, Ui::MainWindow& form, const QString& installedVersion, FileTransfer& downloads)
{
    attach(host);
    m_form = &form;
    m_installedVersion = installedVersion;
    m_downloads = &downloads;
    connect(form.btnCheckUpdate, &QPushButton::clicked, this, &SystemTab::checkClientUpdate);
    connect(form.btnAutoUpdate, &QPushButton::clicked, this, &SystemTab::downloadUpdate);
}

void SystemTab::load()
{
    if (!host().checkNetworkState(false)) {
        return;
    }
    m_form->labCheckVersion->setText(
        tr("Click Check for updates to detect the latest version! %1").arg(m_installedVersion));
    m_form->labVerUpdateTip->setText(tr("Click Check for updates to detect the latest version!"));
    m_form->btnAutoUpdate->setEnabled(false);
}

void SystemTab::checkClientUpdate()
{
    if (!checkNetworkFor(m_form->btnCheckUpdate)) {
        return;
    }
    host().api().CheckClientUpdate(host().serverUrl(), host().userAccount(), this, [this](const ApiAnswer& answer) {
        noteAnswer(answer, false);
        showNewestVersion(answer.ok() ? answer.data.toString() : QString());
    });
}

void SystemTab::showNewestVersion(const QString& newest)
{
    if (newest.contains(QLatin1String("1.1.1")) || newest.isEmpty() || newest == m_installedVersion) {
        m_form->labVerUpdateTip->setText(tr("Click Check for updates to check for the latest version!"));
        m_form->btnAutoUpdate->setEnabled(false);
        return;
    }
    m_form->labVerUpdateTip->setText(
        tr("Checked the latest version: %1 , click “automatic update” to upgrade the software!").arg(newest));
    m_form->btnAutoUpdate->setEnabled(true);
}

void SystemTab::downloadUpdate()
{
    if (!checkNetworkFor(m_form->btnAutoUpdate)) {
        return;
    }
    m_downloads->start(FileTransfer::Kind::Update, QStringLiteral("KSClient_Setup.deb"),
                       KsEndpoints::updateDownloadUrl(host().serverUrl()), host().serverUrl());
}
