#include "KsJobs.h"

void KsJobs::read(const QJsonObject& json)
{
    m_jobs.append(KsJob::listFromJson(json.value(QLatin1String("data"))));
}
