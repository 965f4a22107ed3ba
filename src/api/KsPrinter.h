#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// One print device of the device-status list.
class KsPrinter
{
public:
    QString deviceName; // DeviceName
    QString status; // Status, as the server words it
    QString location; // Location
    bool available = false; // Available
    bool useCardReader = false; // UseCardReader
    QString controllerMac; // ControllerMac

    static KsPrinter fromJson(const QJsonObject& json);
    static QList<KsPrinter> listFromJson(const QJsonValue& array);
};
