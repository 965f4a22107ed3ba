#include "RetrySchedule.h"

#include "JobFiles.h"

#include <QDateTime>

qint64 RetrySchedule::now() const
{
    return m_clock ? m_clock() : QDateTime::currentMSecsSinceEpoch();
}

void RetrySchedule::store(const QString& name, const Retry& retry)
{
    if (retry.isEmpty()) {
        m_retries.remove(name);
    } else {
        m_retries.insert(name, retry);
    }
}

qint64 RetrySchedule::keep(Retry* retry) const
{
    retry->delayMs = retry->delayMs == 0 ? kFirstRetryMs : qMin(retry->delayMs * 2, kLastRetryMs);
    retry->dueMs = now() + retry->delayMs;
    return retry->delayMs;
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

bool RetrySchedule::heldBack(const QStringList& files, bool* printedSince)
{
    QSet<QString> present;
    const Retry* firstKept = nullptr;
    *printedSince = false;
    for (const QString& name : files) {
        if (!JobFiles::isTrigger(name)) {
            continue;
        }
        present.insert(name);
        const auto it = m_retries.constFind(name);
        if (!firstKept && it != m_retries.constEnd() && it->isKept()) {
            firstKept = &it.value();
        }
        *printedSince = *printedSince || !m_known.contains(name);
    }
    m_known = present;
    return firstKept && !due(*firstKept);
}

bool RetrySchedule::waitedForFiles(Retry* retry) const
{
    if (retry->waitingSinceMs < 0) {
        retry->waitingSinceMs = now();
    }
    return now() - retry->waitingSinceMs >= kWaitNoticeMs;
}

bool RetrySchedule::firstParamNotice(Retry* retry)
{
    if (retry->toldWaiting) {
        return false;
    }
    retry->toldWaiting = true;
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
