#include "KsUserBase.h"

#include "JsonFields.h"

KsUserBase KsUserBase::fromJson(const QJsonObject& json)
{
    KsUserBase u;
    u.areaType = JsonFields::integer(json.value(QLatin1String("AreaType")));
    u.userAccount = JsonFields::text(json.value(QLatin1String("UserAccount")));
    u.userName = JsonFields::text(json.value(QLatin1String("UserName")));
    u.password = JsonFields::text(json.value(QLatin1String("Password")));
    u.email = JsonFields::text(json.value(QLatin1String("Email")));
    u.telNumber = JsonFields::text(json.value(QLatin1String("TelNumber")));
    u.cardNumber = JsonFields::text(json.value(QLatin1String("CardNumber")));
    u.userOnlineTime = JsonFields::text(json.value(QLatin1String("UserOnlineTime")));
    u.mobile = JsonFields::text(json.value(QLatin1String("Mobile")));
    return u;
}
