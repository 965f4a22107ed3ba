#pragma once

#include "TabPage.h"

#include <memory>

class MessageStore;
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

    // Opens the message store, keeping at most maxPerAccount messages per account.
    void setup(TabHost& host, Ui::MainWindow& form, int maxPerAccount);
    void load() override;

    // Stores a message (empty date = now) and shows it; returns its id.
    int insert(const QString& account, const QString& title, const QString& message, const QString& date);
    // Logout and quit: no message stays behind.
    void clearAll();
    void clearShown();

    QStandardItemModel* model() const { return m_model; }

private:
    void deleteSelected();
    void clearAsked();

    Ui::MainWindow* m_form = nullptr;
    std::unique_ptr<MessageStore> m_store;
    QStandardItemModel* m_model = nullptr;
};
