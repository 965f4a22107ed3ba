#pragma once

#include <QJsonObject>
#include <QString>

// The user's personal details (the "data" object of the user-details answer).
class KsUserBase
{
public:
    int areaType = 0; // AreaType
    QString userAccount; // UserAccount
    QString userName; // UserName
    QString password; // Password, as the server returns it
    QString email; // Email
    QString telNumber; // TelNumber
    QString cardNumber; // CardNumber
    QString userOnlineTime; // UserOnlineTime
    QString mobile; // Mobile

    static KsUserBase fromJson(const QJsonObject& json);
};
