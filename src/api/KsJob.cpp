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

void KsJob::write(QJsonObject& json) const
{
    json.insert(QLatin1String("JobID"), m_jobID);
    json.insert(QLatin1String("JobName"), m_jobName);
    json.insert(QLatin1String("Str_SubmitTime"), m_submitTimeStr);
    json.insert(QLatin1String("SubmitTime"), m_submitTime.toString(Qt::TextDate));
    json.insert(QLatin1String("StatusID"), m_statusID);
    json.insert(QLatin1String("Status"), m_status);
    json.insert(QLatin1String("Comment"), m_comment);
    json.insert(QLatin1String("UserAccount"), m_userAccount);
    json.insert(QLatin1String("DocTypeName"), m_docTypeName);
    json.insert(QLatin1String("ProjectName"), m_projectName);
    json.insert(QLatin1String("DocTypeID"), m_docTypeID);
    json.insert(QLatin1String("DocumentPages"), m_documentPages);
    json.insert(QLatin1String("Copies"), m_copies);
    json.insert(QLatin1String("DuplexMode"), m_duplexMode);
    json.insert(QLatin1String("IsColor"), m_isColor);
    json.insert(QLatin1String("IsLock"), m_isLock);
    json.insert(QLatin1String("PageHeight"), m_pageHeight);
    json.insert(QLatin1String("PageWidth"), m_pageWidth);
}
