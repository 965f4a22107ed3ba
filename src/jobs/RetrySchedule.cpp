#include "RetrySchedule.h"

#include "JobFiles.h"

#include <QDateTime>

qint64 RetrySchedule::now() const
{
    return m_clock ? m_clock() : QDateTime::currentMSecsSinceEpoch();
}

qint64 RetrySchedule::keep(const QString& name)
{
    Retry& retry = m_retries[name];
    retry.delayMs = retry.delayMs == 0 ? kFirstRetryMs : qMin(retry.delayMs * 2, kLastRetryMs);
    retry.dueMs = now() + retry.delayMs;
    return retry.delayMs;
}

bool RetrySchedule::due(const QString& name) const
{
    const auto it = m_retries.constFind(name);
    return it == m_retries.constEnd() || now() >= it->dueMs;
}

void RetrySchedule::serverAnswered()
{
    m_outageReported = false;
    makeAllDue();
}

void RetrySchedule::makeAllDue()
{
    for (auto it = m_retries.begin(); it != m_retries.end(); ++it) {
        it->dueMs = 0;
    }
}

void RetrySchedule::forget(const QString& name)
{
    m_retries.remove(name);
    m_toldKept.remove(name);
}

bool RetrySchedule::heldBack(const QStringList& files, bool* printedSince)
{
    QSet<QString> present;
    QString firstKept;
    *printedSince = false;
    for (const QString& name : files) {
        if (!JobFiles::isTrigger(name)) {
            continue;
        }
        present.insert(name);
        if (firstKept.isEmpty() && m_retries.contains(name)) {
            firstKept = name;
        }
        *printedSince = *printedSince || !m_known.contains(name);
    }
    m_known = present;
    return !firstKept.isEmpty() && !due(firstKept);
}

bool RetrySchedule::waitedForFiles(const QString& name)
{
    const qint64 since = m_waitingSince.value(name, now());
    m_waitingSince.insert(name, since);
    return now() - since >= kWaitNoticeMs;
}

void RetrySchedule::filesArrived(const QString& name)
{
    m_waitingSince.remove(name);
    m_toldWaiting.remove(name);
}

bool RetrySchedule::firstParamNotice(const QString& name)
{
    if (m_toldWaiting.contains(name)) {
        return false;
    }
    m_toldWaiting.insert(name);
    return true;
}

bool RetrySchedule::firstOutage()
{
    if (m_outageReported) {
        return false;
    }
    m_outageReported = true;
    return true;
}

bool RetrySchedule::orphanTryDue()
{
    if (now() < m_nextOrphanTryMs) {
        return false;
    }
    m_nextOrphanTryMs = now() + kFirstRetryMs;
    return true;
}
