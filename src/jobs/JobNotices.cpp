#include "JobNotices.h"

#include "JobHost.h"
#include "JobQueue.h"
#include "api/KsKit.h"

JobNotices::JobNotices(JobHost* host, QObject* parent)
    : QObject(parent)
    , m_host(host)
{ }

int JobNotices::add(const QString& account, const QString& message, const QString& date)
{
    MessageStore::Inserted inserted;
    int id = -1;
    if (m_store) {
        m_store->setServerUrl(m_host->api().account().serverUrl);
        id = m_store->insertMsgToDb(account, QString(), message, date, &inserted);
    }
    emit added(id, account, message, date, inserted);
    return id;
}

int JobNotices::addForUser(const QString& message, const QString& date)
{
    return add(m_host->userAccount(), message, date);
}

void JobNotices::tell(const QString& text)
{
    // The desktop lists notices under their summary: it names who speaks.
    m_host->showSystemMessage(JobQueue::tr("Kestrana"), text);
    addForUser(text);
}
