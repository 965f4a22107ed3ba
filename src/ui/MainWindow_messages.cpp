// The messages tab: the stored notices of the current account, newest first.
#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "EmptyTableHint.h"

#include "app/Logging.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "store/MessageStore.h"

#include <QItemSelectionModel>
#include <QMessageBox>
#include <QStandardItemModel>

static Logger* logger = Logging::rootLogger();

void MainWindow::checkDb()
{
    m_messageStore = std::make_unique<MessageStore>();
    m_messageStore->setMaxPerAccount(m_info->maxMessageCount());
    m_messageStore->checkDb();
}

void MainWindow::initMsgabelView()
{
    m_msgModel = new QStandardItemModel(this);
    setupTable(m_ui->tvMsg, m_msgModel, { tr("date"), tr("message"), tr("Id") }, { 200, 500 });
    m_ui->tvMsg->setColumnHidden(2, true);
    EmptyTableHint::install(m_ui->tvMsg, tr("No messages"));
    connect(m_ui->btnDeleteMsg, &QPushButton::clicked, this, &MainWindow::msgDelBtn_clicked);
    connect(m_ui->btnClear, &QPushButton::clicked, this, &MainWindow::msgClearBtn_clicked);
}

int MainWindow::insertMsgToDb(const QString& account, const QString& title, const QString& message, const QString& date)
{
    m_messageStore->setServerUrl(m_serverUrl);
    const int id = m_messageStore->insertMsgToDb(account, title, message, date);
    loadMsgFromDb();
    return id;
}

void MainWindow::loadMsgFromDb()
{
    m_msgModel->removeRows(0, m_msgModel->rowCount());
    const QList<StoredMessage> rows = m_messageStore->loadMessages(m_account);
    for (const StoredMessage& row : rows) {
        m_msgModel->appendRow({ new QStandardItem(row.msgDate), new QStandardItem(row.message),
                                new QStandardItem(QString::number(row.msgId)) });
    }
    fitColumns(m_ui->tvMsg);
    InitTabText(QStringLiteral("tabMessages"), QStringLiteral("Messages"), m_msgModel->rowCount());
}

void MainWindow::msgDelBtn_clicked()
{
    const QModelIndexList selected = m_ui->tvMsg->selectionModel()->selectedRows(2);
    if (selected.isEmpty()) {
        inform(QMessageBox::Information, tr("Title"), tr("Please select data"));
        return;
    }
    logger->info(QStringLiteral("msgDelBtn_clicked"));
    QList<qint64> ids;
    for (const QModelIndex& index : selected) {
        const qint64 id = index.data().toLongLong();
        if (!ids.contains(id)) {
            ids.append(id);
        }
    }
    QString statement;
    m_messageStore->deleteMessages(ids, &statement);
    logger->info(QStringLiteral("msgDelBtn_clicked: ") + statement);
    loadMsgFromDb();
}

void MainWindow::msgClearBtn_clicked()
{
    if (m_msgModel->rowCount() == 0) {
        return;
    }
    if (!askYesNo(tr("Confirmation"), tr("Do you want to clear the data?"))) {
        return;
    }
    if (m_messageStore->clearAll()) {
        loadMsgFromDb();
    } else {
        inform(QMessageBox::Information, tr("Title"), tr("Fail"), tr("Confirmation"));
    }
}

void MainWindow::clearAllMessages()
{
    m_messageStore->clearAll();
}
