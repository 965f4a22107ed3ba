#pragma once

#include <QString>

// Common parameters of a signed request; KsEndpoints::GetRepCommonParam fills the timestamp and signature.
class KsReqCommon
{
public:
    QString timestamp; // "yyyyMMddhhmmss", local time
    QString signature; // upper-case hex MD5 of timestamp + the signing salt
};
