#include "KsScanJob.h"

#include "JsonFields.h"

KsScanJob KsScanJob::fromJson(const QJsonObject& json)
{
    KsScanJob s;
    s.jobId = JsonFields::identifier(json.value(QLatin1String("JobID")));
    s.jobName = JsonFields::text(json.value(QLatin1String("JobName")));
    s.submitTime = JsonFields::text(json.value(QLatin1String("SubmitTime")));
    s.statusId = JsonFields::integer(json.value(QLatin1String("StatusID")));
    s.deviceName = JsonFields::text(json.value(QLatin1String("DeviceName")));
    return s;
}

QList<KsScanJob> KsScanJob::listFromJson(const QJsonValue& array)
{
    QList<KsScanJob> list;
    const QJsonArray elements = JsonFields::array(array);
    for (const QJsonValue& element : elements) {
        list.append(fromJson(JsonFields::object(element)));
    }
    return list;
}
