#include "MessagesTab.h"
#include "ui_MainWindow.h"

#include "EmptyTableHint.h"
#include "app/Logging.h"
#include "store/MessageStore.h"

#include <QItemSelectionModel>
#include <QStandardItemModel>

static Logger* logger = Logging::rootLogger();

MessagesTab::MessagesTab(QWidget* parent)
    : TabPage(parent)
{ }

MessagesTab::~MessagesTab() = default;

void MessagesTab::setup(TabHost& host, Ui::MainWindow& form, int maxPerAccount)
{
    attach(host);
    m_form = &form;
    m_store = std::make_unique<MessageStore>();
    m_store->setMaxPerAccount(maxPerAccount);
    m_store->checkDb();

    m_model = new QStandardItemModel(this);
    setupTable(form.tvMsg, m_model, { tr("date"), tr("message"), tr("Id") }, { 200, 500 });
    form.tvMsg->setColumnHidden(2, true);
    EmptyTableHint::install(form.tvMsg, tr("No messages"));
    connect(form.btnDeleteMsg, &QPushButton::clicked, this, &MessagesTab::deleteSelected);
    connect(form.btnClear, &QPushButton::clicked, this, &MessagesTab::clearAsked);
}

int MessagesTab::insert(const QString& account, const QString& title, const QString& message, const QString& date)
{
    m_store->setServerUrl(host().serverUrl());
    const int id = m_store->insertMsgToDb(account, title, message, date);
    load();
    return id;
}

void MessagesTab::load()
{
    m_model->removeRows(0, m_model->rowCount());
    const QList<StoredMessage> rows = m_store->loadMessages(host().userAccount());
    for (const StoredMessage& row : rows) {
        m_model->appendRow({ new QStandardItem(row.msgDate), new QStandardItem(row.message),
                             new QStandardItem(QString::number(row.msgId)) });
    }
    fitColumns(m_form->tvMsg);
    showCount("Messages", m_model->rowCount());
}

void MessagesTab::deleteSelected()
{
    const QModelIndexList selected = m_form->tvMsg->selectionModel()->selectedRows(2);
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
    m_store->deleteMessages(ids, &statement);
    logger->info(QStringLiteral("msgDelBtn_clicked: ") + statement);
    load();
}

void MessagesTab::clearAsked()
{
    if (m_model->rowCount() == 0) {
        return;
    }
    if (!askYesNo(tr("Confirmation"), tr("Do you want to clear the data?"))) {
        return;
    }
    if (m_store->clearAll()) {
        load();
    } else {
        inform(QMessageBox::Information, tr("Title"), tr("Fail"), tr("Confirmation"));
    }
}

void MessagesTab::clearAll()
{
    m_store->clearAll();
}

void MessagesTab::clearShown()
{
    m_model->removeRows(0, m_model->rowCount());
}
