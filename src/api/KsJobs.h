#pragma once

#include "KsJob.h"

#include <QList>

// The user's job list, in arrival order, read from the "data" array of an answer.
class KsJobs
{
public:
    KsJobs() = default;

    QList<KsJob> getKsJobs() const { return m_jobs; }

    void read(const QJsonObject& json);

private:
    QList<KsJob> m_jobs;
};
