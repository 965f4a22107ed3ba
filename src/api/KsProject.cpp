#include "KsProject.h"

#include "JsonFields.h"

KsProject KsProject::fromJson(const QJsonObject& json)
{
    KsProject p;
    p.projectId = JsonFields::identifier(json.value(QLatin1String("ProjectID")));
    p.balance = JsonFields::real(json.value(QLatin1String("Balance")));
    p.projectName = JsonFields::text(json.value(QLatin1String("ProjectName")));
    return p;
}

QList<KsProject> KsProject::listFromJson(const QJsonValue& array)
{
    QList<KsProject> list;
    const QJsonArray elements = JsonFields::array(array);
    for (const QJsonValue& element : elements) {
        list.append(fromJson(JsonFields::object(element)));
    }
    return list;
}
