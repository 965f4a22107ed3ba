#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// One scan job stored on the server for the user.
class KsScanJob
{
public:
    QString jobId; // JobID, text or number
    QString jobName; // JobName
    QString submitTime; // SubmitTime, display text as it comes
    int statusId = 0; // StatusID
    QString deviceName; // DeviceName

    static KsScanJob fromJson(const QJsonObject& json);
    static QList<KsScanJob> listFromJson(const QJsonValue& array);
};
