#include "ServersTab.h"
#include "ui_MainWindow.h"

#include "EmptyTableHint.h"
#include "api/KsKit.h"
#include "api/Segments.h"
#include "app/ServerUrl.h"
#include "config/LoginInfo.h"
#include "config/Session.h"
#include "session/ServerMonitor.h"

#include <QItemSelectionModel>
#include <QStandardItemModel>

ServersTab::ServersTab(QWidget* parent)
    : TabPage(parent)
{ }

void ServersTab::setup(TabHost& host, Ui::MainWindow& form, LoginInfo& settings, Session& session,
                       ServerMonitor& monitor)
{
    attach(host);
    m_form = &form;
    m_info = &settings;
    m_session = &session;
    m_monitor = &monitor;
    m_model = new QStandardItemModel(this);
    setupTable(form.tvServerInfo, m_model, { tr("SiteUrl"), tr("SiteName"), tr("Location") }, { 200, 200, 200 });
    EmptyTableHint::install(form.tvServerInfo, tr("No sites"));
    showContentAgeWhenOffline();
    connect(form.btnSwitchServer, &QPushButton::clicked, this, &ServersTab::switchServer);
    if (LoginInfo::isFixed(LoginInfo::Key::ServerUrl)) {
        form.btnSwitchServer->setEnabled(false);
        form.btnSwitchServer->setToolTip(tr("The server is set by your site's administrator"));
    }
}

void ServersTab::load()
{
    if (!host().checkNetworkState(false)) {
        return;
    }
    const ApiAnswer::Log log { QStringLiteral("[mainwindow.loadServerData] ex message:"),
                               QStringLiteral("[mainwindow.loadServerData] fail message:") };
    host().api().requestSiteList(host().serverUrl(), log, this, [this](const ApiAnswer& answer) {
        noteAnswer(answer);
        if (answer.ok()) {
            m_model->removeRows(0, m_model->rowCount());
            const QList<Segments> sites = Segments::listFromJson(answer.data);
            QStringList urls;
            for (const Segments& site : sites) {
                urls.append(site.siteUrl);
            }
            m_session->setServerList(urls);
            for (const Segments& site : sites) {
                m_model->appendRow({ new QStandardItem(site.siteUrl), new QStandardItem(site.siteName),
                                     new QStandardItem(site.location) });
            }
        }
        fitColumns(m_form->tvServerInfo);
        showCount("ServerInfo", m_model->rowCount());
    });
}

void ServersTab::switchServer()
{
    if (LoginInfo::isFixed(LoginInfo::Key::ServerUrl)) {
        return;
    }
    if (!checkNetworkFor(m_form->btnSwitchServer)) {
        return;
    }
    const QModelIndexList rows = m_form->tvServerInfo->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        inform(QMessageBox::Information, tr("Title"), tr("Please select data"));
        return;
    }
    if (!askYesNo(tr("Confirmation"), tr("Do you want to switch the Server?"))) {
        return;
    }
    const int row = rows.constFirst().row();
    const QString url = ServerUrl::withScheme(m_model->index(row, 0).data().toString());
    const QString name = m_model->index(row, 1).data().toString();
    switch (m_monitor->switchTo(url, &m_loginMessage)) {
    case ServerMonitor::SwitchOutcome::Unreachable:
        inform(QMessageBox::Critical, tr("Error"), tr("ks server link ex"));
        emit switchFailed();
        return;
    case ServerMonitor::SwitchOutcome::Refused:
        inform(QMessageBox::Warning, tr("Title"), tr("Switch server fail"));
        emit switchFailed();
        return;
    case ServerMonitor::SwitchOutcome::Switched:
        break;
    }
    // Written at once, so a quit from the tray without a logout starts the next run on this server.
    LoginInfo::writeFileValue(LoginInfo::Key::ServerName, name);
    m_info->setKsServerName(name);
    emit serverKept(url);
    load();
    inform(QMessageBox::Warning, tr("Title"), tr("Switch server success"));
    emit reloadAll();
}
