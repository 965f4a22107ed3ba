#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// The user's print permissions and account state (the "data" object of the permission answer).
class KsUserInfo
{
public:
    // The print-time restriction, read from the inner object "printTimeInfo" only.
    class PrintTimeInfo
    {
    public:
        bool allowPrintType = false; // AllowPrintType
        int printDateId = 0; // PrintDateID
        int printTimeId = 0; // PrintTimeID

        static PrintTimeInfo fromJson(const QJsonObject& json);
    };

    bool isAllowPrint = false; // IsAllowPrint
    bool isAllowPrintColor = false; // IsAllowPrintColor
    bool isAllowSimple = false; // IsAllowSimple
    QString groupName; // GroupName
    QString cardNumber; // CardNumber
    QString userName; // UserName
    double balance = 0; // Balance
    double hasSpent = 0; // HasSpent
    QJsonArray forbiddenDocTypeList; // ForbiddenDocTypeList, kept as it came
    PrintTimeInfo printTimeInfo; // printTimeInfo

    static KsUserInfo fromJson(const QJsonObject& json);
};
