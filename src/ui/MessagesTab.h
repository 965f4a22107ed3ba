#pragma once

#include "TabPage.h"
#include "store/MessageStore.h"

class QStandardItemModel;

namespace Ui {
class MainWindow;
}

// The messages tab: the stored notices of the current account, newest first.
class MessagesTab : public TabPage
{
    Q_OBJECT
public:
    explicit MessagesTab(QWidget* parent = nullptr);
    ~MessagesTab() override;

    // The store is the window's, shared with the job logic, which writes its notices there.
    void setup(TabHost& host, Ui::MainWindow& form, MessageStore& store);
    void load() override;

    // Stores a message (empty date = now) and shows it; returns its id.
    int insert(const QString& account, const QString& title, const QString& message, const QString& date);
    // Shows a message just stored (id > 0), in place when the rows shown are the account's.
    void showStored(int id, const QString& account, const QString& message, const MessageStore::Inserted& inserted);
    // The store the tab shows; others (the job intake's notices) write to it too.
    // Logout and quit: no message stays behind.
    void clearAll();
    void clearShown();

    QStandardItemModel* model() const { return m_model; }

private:
    // Puts a row just stored for the shown account in its place; false when the rows shown are not the stored ones.
    bool insertShown(int id, const QString& message, const MessageStore::Inserted& inserted);
    void deleteSelected();
    void clearAsked();

    Ui::MainWindow* m_form = nullptr;
    MessageStore* m_store = nullptr;
    QStandardItemModel* m_model = nullptr;
    // The account whose rows the model holds, as last loaded from the store.
    QString m_shownAccount;
    bool m_loaded = false;
};
