#pragma once

#include "JsonSerializable.h"
#include "KsJob.h"

#include <QList>

// The user's job list, in arrival order, read from and written to the "data" array of an answer.
class KsJobs : public JsonSerializable
{
public:
    KsJobs() = default;

    QList<KsJob> getKsJobs() const { return m_jobs; }
    void add(KsJob& job) { m_jobs.append(job); }

    void read(const QJsonObject& json) override;
    void write(QJsonObject& json) const override;

private:
    QList<KsJob> m_jobs;
};
