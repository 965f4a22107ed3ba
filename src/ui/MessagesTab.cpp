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

void MessagesTab::setup(TabHost& host, Ui::MainWindow& form, MessageStore& store)
{
    attach(host);
    m_form = &form;
    m_store = &store;

    m_model = new QStandardItemModel(this);
    setupTable(form.tvMsg, m_model, { tr("date"), tr("message"), tr("Id") }, { 200, 500 });
    form.tvMsg->setColumnHidden(2, true);
    EmptyTableHint::install(form.tvMsg, tr("No messages"));
    connect(form.btnDeleteMsg, &QPushButton::clicked, this, &MessagesTab::deleteSelected);
    connect(form.btnClear, &QPushButton::clicked, this, &MessagesTab::clearAsked);
}

namespace {
// The store's account column compares ASCII letters without regard to case and nothing else.
bool sameAccount(const QString& a, const QString& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (int i = 0; i < a.size(); ++i) {
        const QChar x = a.at(i);
        const QChar y = b.at(i);
        if (x != y && (x.unicode() > 127 || y.unicode() > 127 || x.toLower() != y.toLower())) {
            return false;
        }
    }
    return true;
}
} // namespace

int MessagesTab::insert(const QString& account, const QString& title, const QString& message, const QString& date)
{
    m_store->setServerUrl(host().serverUrl());
    MessageStore::Inserted inserted;
    const int id = m_store->insertMsgToDb(account, title, message, date, &inserted);
    showStored(id, account, message, inserted);
    return id;
}

void MessagesTab::showStored(int id, const QString& account, const QString& message,
                             const MessageStore::Inserted& inserted)
{
    // A job's notice must not cost a reload of every row and a new caption: the shown rows are edited in place.
    if (id > 0 && m_loaded && sameAccount(m_shownAccount, host().userAccount())) {
        if (!sameAccount(account, m_shownAccount)) {
            return; // another account's rows changed
        }
        if (insertShown(id, message, inserted)) {
            return;
        }
    }
    load();
}

bool MessagesTab::insertShown(int id, const QString& message, const MessageStore::Inserted& inserted)
{
    const int before = m_model->rowCount();
    if (inserted.dropped != 0) {
        int row = before - 1;
        while (row >= 0 && m_model->item(row, 2)->text().toLongLong() != inserted.dropped) {
            --row;
        }
        if (row < 0) {
            return false; // the rows shown are not the stored ones
        }
        m_model->removeRow(row);
    }
    // The store's order: newest date first, a later row before an earlier one of the same date.
    int row = 0;
    while (row < m_model->rowCount() && m_model->item(row, 0)->text() > inserted.date) {
        ++row;
    }
    m_model->insertRow(
        row, { new QStandardItem(inserted.date), new QStandardItem(message), new QStandardItem(QString::number(id)) });
    fitColumns(m_form->tvMsg);
    if (m_model->rowCount() != before) {
        showCount("Messages", m_model->rowCount());
    }
    return true;
}

void MessagesTab::load()
{
    m_model->removeRows(0, m_model->rowCount());
    m_shownAccount = host().userAccount();
    m_loaded = true;
    const QList<StoredMessage> rows = m_store->loadMessages(m_shownAccount);
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
    m_loaded = false; // the rows shown are no longer the stored ones
}

void MessagesTab::clearShown()
{
    m_model->removeRows(0, m_model->rowCount());
    m_loaded = false;
}
