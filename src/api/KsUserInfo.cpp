#include "KsUserInfo.h"

#include "JsonFields.h"

KsUserInfo::PrintTimeInfo KsUserInfo::PrintTimeInfo::fromJson(const QJsonObject& json)
{
    PrintTimeInfo info;
    info.allowPrintType = JsonFields::flag(json.value(QLatin1String("AllowPrintType")));
    info.printDateId = JsonFields::integer(json.value(QLatin1String("PrintDateID")));
    info.printTimeId = JsonFields::integer(json.value(QLatin1String("PrintTimeID")));
    return info;
}

KsUserInfo KsUserInfo::fromJson(const QJsonObject& json)
{
    KsUserInfo u;
    u.balance = JsonFields::real(json.value(QLatin1String("Balance")));
    u.groupName = JsonFields::text(json.value(QLatin1String("GroupName")));
    u.cardNumber = JsonFields::text(json.value(QLatin1String("CardNumber")));
    u.userName = JsonFields::text(json.value(QLatin1String("UserName")));
    u.hasSpent = JsonFields::real(json.value(QLatin1String("HasSpent")));
    u.isAllowPrint = JsonFields::flag(json.value(QLatin1String("IsAllowPrint")));
    u.isAllowPrintColor = JsonFields::flag(json.value(QLatin1String("IsAllowPrintColor")));
    u.isAllowSimple = JsonFields::flag(json.value(QLatin1String("IsAllowSimple")));
    u.forbiddenDocTypeList = JsonFields::array(json.value(QLatin1String("ForbiddenDocTypeList")));
    u.printTimeInfo = PrintTimeInfo::fromJson(JsonFields::object(json.value(QLatin1String("printTimeInfo"))));
    return u;
}
