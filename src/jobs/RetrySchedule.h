#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// The timed decisions of the queue: the back-off of kept jobs, how long a kept job may wait at most, and the
// one-minute wait for a job's files. The time comes from a clock that tests set; an empty one is the system's.
class RetrySchedule
{
public:
    static constexpr qint64 kFirstRetryMs = 5000;
    static constexpr qint64 kLastRetryMs = 5 * 60 * 1000;
    // How long a job may wait for its data file or readable parameters before the user hears of it.
    static constexpr qint64 kWaitNoticeMs = 60 * 1000;

    // In ms since the epoch.
    void setClock(const std::function<qint64()>& clock) { m_clock = clock; }
    qint64 now() const;

    // Kept once more: the wait doubles from the first to the last retry time. Returns the wait.
    qint64 keep(const QString& name);
    bool isKept(const QString& name) const { return m_retries.contains(name); }
    // Not kept, or kept and its wait is over.
    bool due(const QString& name) const;
    // The server answered: every kept job is due now, and the next outage is reported again.
    void serverAnswered();
    void makeAllDue();
    // The job is gone or sent: it is no longer kept.
    void forget(const QString& name);
    void forgetAll() { m_retries.clear(); }

    // The first kept job holds back the ones behind it: true while it is not due. printedSince: a trigger not
    // seen by the call before.
    bool heldBack(const QStringList& files, bool* printedSince);
    // Whether a kept job first seen at sinceMs has waited the given hours.
    bool waitedHours(qint64 sinceMs, qint64 hours) const { return now() - sinceMs >= hours * 3600000; }

    // A job whose files are not ready: true once it has waited kWaitNoticeMs since it was first found so.
    bool waitedForFiles(const QString& name);
    void filesArrived(const QString& name);
    void stopWaiting(const QString& name) { m_waitingSince.remove(name); }
    // True the first time for a job waiting for readable parameters.
    bool firstParamNotice(const QString& name);

    // The user heard that the job is kept (besides the journal, which may not be writable).
    bool toldKept(const QString& name) const { return m_toldKept.contains(name); }
    void setToldKept(const QString& name) { m_toldKept.insert(name); }

    // The server could not be reached: true once until it answers again.
    bool firstOutage();
    void outageOver() { m_outageReported = false; }

    // Jobs the journal holds without files: asked about at most once per first retry time.
    bool orphanTryDue();

private:
    struct Retry
    {
        qint64 delayMs = 0;
        qint64 dueMs = 0;
    };
    QHash<QString, Retry> m_retries; // kept jobs, by trigger name
    QHash<QString, qint64> m_waitingSince; // jobs whose files are not ready, by trigger name
    QSet<QString> m_known; // triggers the last held-back check saw
    QSet<QString> m_toldWaiting;
    QSet<QString> m_toldKept;
    bool m_outageReported = false;
    qint64 m_nextOrphanTryMs = 0;
    std::function<qint64()> m_clock;
};
