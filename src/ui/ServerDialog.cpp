#include "ServerDialog.h"
#include "ui_ServerDialog.h"

#include "api/ApiAnswer.h"
#include "api/KsKit.h"
#include "api/KsReqCommon.h"
#include "api/Segments.h"
#include "ui/ScreenFit.h"
#include "ui/StateColors.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QJsonArray>
#include <QScreen>
#include <QStandardItemModel>

ServerDialog::ServerDialog(KsKit& api, const QString& serverUrl, QWidget* parent)
    : QDialog(parent)
    , m_ui(new Ui::ServerDialog)
{
    m_ui->setupUi(this);
    connect(m_ui->btnNo, &QPushButton::clicked, this, &QDialog::reject);
    StateColors::frameFocus(m_ui->tvServerInfo);

    ScreenFit::fit(this);
    if (ScreenFit::isLargeScreen(QGuiApplication::primaryScreen()->size())) {
        m_ui->tvServerInfo->horizontalHeader()->setFont(QFont(QStringLiteral("Arial"), 10));
    }

    m_model = new QStandardItemModel(0, 2, this);
    m_model->setHorizontalHeaderLabels({ tr("SiteUrl"), tr("SiteName") });
    m_ui->tvServerInfo->setModel(m_model);
    m_ui->tvServerInfo->verticalHeader()->hide();
    m_ui->tvServerInfo->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_ui->tvServerInfo->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_ui->tvServerInfo->setColumnWidth(0, 200);
    m_ui->tvServerInfo->setColumnWidth(1, 100);

    loadServerData(api, serverUrl);
}

ServerDialog::~ServerDialog() = default;

void ServerDialog::loadServerData(KsKit& api, const QString& serverUrl)
{
    ApiAnswer::Log log;
    log.exPrefix = QStringLiteral("[serverdialog.loadServerData]");
    log.exWithErrorString = false;
    log.failPrefix = QStringLiteral("[serverdialog.loadServerData] message:");
    api.requestSiteList(serverUrl, log, this, [this](const ApiAnswer& answer) {
        if (answer.ok()) {
            const QList<Segments> sites = Segments::listFromJson(answer.data);
            for (const Segments& site : sites) {
                m_model->appendRow({ new QStandardItem(site.siteUrl), new QStandardItem(site.siteName) });
            }
        }
        emit loaded();
    });
}

void ServerDialog::on_btnYes_clicked()
{
    const QModelIndexList rows = m_ui->tvServerInfo->selectionModel()->selectedRows();
    if (!rows.isEmpty()) {
        const int row = rows.constFirst().row();
        m_siteUrl = m_model->index(row, 0).data().toString();
        m_siteName = m_model->index(row, 1).data().toString();
    }
    accept();
}
