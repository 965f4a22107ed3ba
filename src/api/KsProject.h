#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// One project (cost centre) a job can be charged to.
class KsProject
{
public:
    QString projectId; // ProjectID, text or number
    double balance = 0; // Balance
    QString projectName; // ProjectName

    static KsProject fromJson(const QJsonObject& json);
    static QList<KsProject> listFromJson(const QJsonValue& array);
};
