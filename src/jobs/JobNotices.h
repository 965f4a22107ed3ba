#pragma once

#include "store/MessageStore.h"

#include <QObject>
#include <QString>

class JobHost;

// The job intake's notices to the user: stored in the message store for the account, then announced, so
// that a view of the messages can show the new row; a tray balloon besides where the user must hear at once.
class JobNotices : public QObject
{
    Q_OBJECT
public:
    explicit JobNotices(JobHost* host, QObject* parent = nullptr);

    // Where notices are stored; without one they are only announced.
    void setStore(MessageStore* store) { m_store = store; }
    MessageStore* store() const { return m_store; }

    // Stores a notice for the account (empty date = now) and announces it; returns its id, -1 when not stored.
    int add(const QString& account, const QString& message, const QString& date = QString());
    // A notice for the logged-in user.
    int addForUser(const QString& message, const QString& date = QString());
    // A tray balloon (a desktop notification where there is no tray) titled with the product's name, and the same
    // text stored for the logged-in user.
    void tell(const QString& text);

signals:
    // A notice was stored (id > 0; inserted says where) or could not be (id <= 0). date: as given.
    void added(int id, const QString& account, const QString& message, const QString& date,
               const MessageStore::Inserted& inserted);

private:
    JobHost* m_host = nullptr;
    MessageStore* m_store = nullptr;
};
