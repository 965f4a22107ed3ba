#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// The timed decisions of the queue: the back-off of kept jobs, how long a kept job may wait at most, and the
// one-minute wait for a job's files. Each job's state travels with the job during its turn (PrintJob::retry)
// and is held here, by trigger name, between turns. The time comes from a clock that tests set; an empty one is
// the system's.
class RetrySchedule
{
public:
    static constexpr qint64 kFirstRetryMs = 5000;
    static constexpr qint64 kLastRetryMs = 5 * 60 * 1000;
    // How long a job may wait for its data file or readable parameters before the user hears of it.
    static constexpr qint64 kWaitNoticeMs = 60 * 1000;

    // One job's state.
    struct Retry
    {
        qint64 delayMs = 0; // 0: not kept
        qint64 dueMs = 0;
        qint64 waitingSinceMs = -1; // -1: its files are not waited for
        bool toldWaiting = false; // the user heard that its parameters cannot be read
        bool isKept() const { return delayMs > 0; }
        bool isEmpty() const { return delayMs == 0 && waitingSinceMs < 0 && !toldWaiting; }
    };

    // In ms since the epoch.
    void setClock(const std::function<qint64()>& clock) { m_clock = clock; }
    qint64 now() const;

    // A job's state as its turn begins, and as its turn left it (an empty state is dropped).
    Retry of(const QString& name) const { return m_retries.value(name); }
    void store(const QString& name, const Retry& retry);

    // Kept once more: the wait doubles from the first to the last retry time. Returns the wait.
    qint64 keep(Retry* retry) const;
    // Not kept, or kept and its wait is over.
    bool due(const Retry& retry) const { return !retry.isKept() || now() >= retry.dueMs; }
    // The server answered: every kept job is due now, and the next outage is reported again.
    void serverAnswered();
    void makeAllDue();
    void forget(const QString& name) { m_retries.remove(name); }
    void forgetAll() { m_retries.clear(); }

    // The first kept job holds back the ones behind it: true while it is not due. printedSince: a trigger not
    // seen by the call before.
    bool heldBack(const QStringList& files, bool* printedSince);
    // Whether a kept job first seen at sinceMs has waited the given hours.
    bool waitedHours(qint64 sinceMs, qint64 hours) const { return now() - sinceMs >= hours * 3600000; }

    // A job whose files are not ready: true once it has waited kWaitNoticeMs since it was first found so.
    bool waitedForFiles(Retry* retry) const;
    static void filesArrived(Retry* retry)
    {
        retry->waitingSinceMs = -1;
        retry->toldWaiting = false;
    }
    // True the first time for a job waiting for readable parameters.
    static bool firstParamNotice(Retry* retry);

    // The server could not be reached: true once until it answers again.
    bool firstOutage();
    void outageOver() { m_outageReported = false; }

    // Jobs the journal holds without files: asked about at most once per first retry time.
    bool orphanTryDue();

private:
    QHash<QString, Retry> m_retries; // by trigger name, between turns
    QSet<QString> m_known; // triggers the last held-back check saw
    bool m_outageReported = false;
    qint64 m_nextOrphanTryMs = 0;
    std::function<qint64()> m_clock;
};
