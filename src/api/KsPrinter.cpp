#include "KsPrinter.h"

#include "JsonFields.h"

KsPrinter KsPrinter::fromJson(const QJsonObject& json)
{
    KsPrinter p;
    p.available = JsonFields::flag(json.value(QLatin1String("Available")));
    p.controllerMac = JsonFields::text(json.value(QLatin1String("ControllerMac")));
    p.deviceName = JsonFields::text(json.value(QLatin1String("DeviceName")));
    p.location = JsonFields::text(json.value(QLatin1String("Location")));
    p.status = JsonFields::text(json.value(QLatin1String("Status")));
    p.useCardReader = JsonFields::flag(json.value(QLatin1String("UseCardReader")));
    return p;
}

QList<KsPrinter> KsPrinter::listFromJson(const QJsonValue& array)
{
    QList<KsPrinter> list;
    const QJsonArray elements = JsonFields::array(array);
    for (const QJsonValue& element : elements) {
        list.append(fromJson(JsonFields::object(element)));
    }
    return list;
}
