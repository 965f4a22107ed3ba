#include "KsJobs.h"

#include <QJsonArray>

void KsJobs::read(const QJsonObject& json)
{
    m_jobs.append(KsJob::listFromJson(json.value(QLatin1String("data"))));
}

void KsJobs::write(QJsonObject& json) const
{
    QJsonArray array;
    for (const KsJob& job : m_jobs) {
        QJsonObject object;
        job.write(object);
        array.append(object);
    }
    json.insert(QLatin1String("data"), array);
}
