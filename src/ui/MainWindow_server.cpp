// The server tab: the signed site list, the user's switch to another site, and the automatic switch after
// repeated network failures.
#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "EmptyTableHint.h"
#include "WindowRequest.h"
#include "api/KsKit.h"
#include "api/Segments.h"
#include "app/Logging.h"
#include "app/ServerUrl.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "config/Session.h"

#include <QItemSelectionModel>
#include <QJsonArray>
#include <QMessageBox>
#include <QScopedValueRollback>
#include <QStandardItemModel>

void MainWindow::initServerTabelView()
{
    m_serversModel = new QStandardItemModel(this);
    setupTable(m_ui->tvServerInfo, m_serversModel, { tr("SiteUrl"), tr("SiteName"), tr("Location") },
               { 200, 200, 200 });
    EmptyTableHint::install(m_ui->tvServerInfo, tr("No sites"));
    connect(m_ui->btnSwitchServer, &QPushButton::clicked, this, &MainWindow::switchServerBtn_clicked);
}

void MainWindow::loadServerData()
{
    if (!checkNetworkState(false)) {
        return;
    }
    sendGet(
        KsKit::siteListUrl(m_serverUrl), QStringLiteral("[mainwindow.loadServerData] ex message:"),
        QStringLiteral("[mainwindow.loadServerData] fail message:"),
        [this](const WindowAnswer& answer) {
            if (answer.ok()) {
                m_serversModel->removeRows(0, m_serversModel->rowCount());
                const QList<Segments> sites = Segments::listFromJson(answer.data);
                QStringList urls;
                for (const Segments& site : sites) {
                    urls.append(site.siteUrl);
                }
                m_session->setServerList(urls);
                for (const Segments& site : sites) {
                    m_serversModel->appendRow({ new QStandardItem(site.siteUrl), new QStandardItem(site.siteName),
                                                new QStandardItem(site.location) });
                }
            }
            fitColumns(m_ui->tvServerInfo);
            InitTabText(QStringLiteral("tabServerInfo"), QStringLiteral("ServerInfo"), m_serversModel->rowCount());
        },
        true);
}

void MainWindow::switchServerBtn_clicked()
{
    m_ui->btnSwitchServer->setEnabled(false);
    const bool reachable = checkNetworkState(true);
    m_ui->btnSwitchServer->setEnabled(true);
    if (!reachable) {
        return;
    }
    const QModelIndexList rows = m_ui->tvServerInfo->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        inform(QMessageBox::Information, tr("Title"), tr("Please select data"));
        return;
    }
    if (!askYesNo(tr("Confirmation"), tr("Do you want to switch the Server?"))) {
        return;
    }
    const int row = rows.constFirst().row();
    LoginInfo* info = m_info;
    const QString url = ServerUrl::withScheme(m_serversModel->index(row, 0).data().toString());
    // Written at once, so a quit from the tray without a logout starts the next run on this server.
    LoginInfo::writeFileValue(LoginInfo::Key::ServerUrl, url);
    info->setKsServerUrl(url);
    m_ksKit->switchServer(url);
    const QString name = m_serversModel->index(row, 1).data().toString();
    LoginInfo::writeFileValue(LoginInfo::Key::ServerName, name);
    info->setKsServerName(name);
    m_serverUrl = url;

    if (!m_ksKit->CheckNetwork(url)) {
        inform(QMessageBox::Critical, tr("Error"), tr("ks server link ex"));
        logoutBtn_clicked();
        return;
    }
    if (!m_ksKit->login(m_loginMessage)) {
        inform(QMessageBox::Warning, tr("Title"), tr("Switch server fail"));
        logoutBtn_clicked();
        return;
    }
    keepChosenServer(url);
    loadServerData();
    inform(QMessageBox::Warning, tr("Title"), tr("Switch server success"));
    loadData();
}

void MainWindow::changeServerUrl()
{
    // The loads after a switch probe the server again; a failure there must not start a second walk.
    const QScopedValueRollback<bool> guard(m_switchingServer, true);
    LoginInfo* info = m_info;
    const QStringList servers = m_session->serverList();
    for (const QString& server : servers) {
        const QString url = ServerUrl::withScheme(server);
        if (!m_ksKit->CheckNetwork(url)) {
            continue;
        }
        LoginInfo::writeFileValue(LoginInfo::Key::ServerUrl, url);
        info->setKsServerUrl(url);
        m_ksKit->switchServer(url);
        if (!m_ksKit->login(m_loginMessage)) {
            continue;
        }
        m_serverUrl = url;
        keepChosenServer(url);
        m_networkFailures = 0;
        loadData();
        break;
    }
}

void MainWindow::keepChosenServer(const QString& url)
{
    m_ui->labServerPath->setText(stripScheme(url));
    updateStatus();
}
