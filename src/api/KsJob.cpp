#include "KsJob.h"

#include "JsonFields.h"

#include <QJsonArray>

KsJob KsJob::fromJson(const QJsonObject& json)
{
    KsJob job;
    job.read(json);
    return job;
}

QList<KsJob> KsJob::listFromJson(const QJsonValue& array)
{
    QList<KsJob> jobs;
    const QJsonArray elements = JsonFields::array(array);
    for (const QJsonValue& element : elements) {
        jobs.append(fromJson(JsonFields::object(element)));
    }
    return jobs;
}

void KsJob::read(const QJsonObject& json)
{
    m_jobID = JsonFields::identifier(json.value(QLatin1String("JobID")));
    m_jobName = JsonFields::text(json.value(QLatin1String("JobName")));
    m_submitTimeStr = JsonFields::text(json.value(QLatin1String("Str_SubmitTime")));
    m_submitTime = QDateTime::fromString(JsonFields::text(json.value(QLatin1String("SubmitTime"))), Qt::TextDate);
    m_statusID = JsonFields::integer(json.value(QLatin1String("StatusID")));
    m_status = JsonFields::text(json.value(QLatin1String("Status")));
    m_comment = JsonFields::text(json.value(QLatin1String("Comment")));
    m_userAccount = JsonFields::text(json.value(QLatin1String("UserAccount")));
    m_docTypeName = JsonFields::text(json.value(QLatin1String("DocTypeName")));
    m_projectName = JsonFields::text(json.value(QLatin1String("ProjectName")));
    m_docTypeID = JsonFields::identifier(json.value(QLatin1String("DocTypeID")));
    m_documentPages = JsonFields::integer(json.value(QLatin1String("DocumentPages")));
    m_copies = JsonFields::integer(json.value(QLatin1String("Copies")));
    m_duplexMode = JsonFields::integer(json.value(QLatin1String("DuplexMode")));
    m_isColor = JsonFields::flag(json.value(QLatin1String("IsColor")));
    m_isLock = JsonFields::flag(json.value(QLatin1String("IsLock")));
    m_pageHeight = JsonFields::real(json.value(QLatin1String("PageHeight")));
    m_pageWidth = JsonFields::real(json.value(QLatin1String("PageWidth")));
}
