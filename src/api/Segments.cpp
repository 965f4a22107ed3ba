#include "Segments.h"

#include "JsonFields.h"

Segments Segments::fromJson(const QJsonObject& json)
{
    Segments s;
    s.siteUrl = JsonFields::text(json.value(QLatin1String("SiteUrl")));
    s.startIp = JsonFields::text(json.value(QLatin1String("StartIP")));
    s.endIp = JsonFields::text(json.value(QLatin1String("EndIP")));
    s.siteName = JsonFields::text(json.value(QLatin1String("SiteName")));
    s.location = JsonFields::text(json.value(QLatin1String("Location")));
    return s;
}

QList<Segments> Segments::listFromJson(const QJsonValue& array)
{
    QList<Segments> list;
    const QJsonArray elements = JsonFields::array(array);
    for (const QJsonValue& element : elements) {
        list.append(fromJson(JsonFields::object(element)));
    }
    return list;
}
