#include "KsAccount.h"

#include "HttpExchange.h"
#include "app/ServerUrl.h"
#include "config/LoginInfo.h"

void KsAccount::setServerUrl(const QString& url)
{
    // An empty address stays empty: "http://" alone would look like a server.
    serverUrl = url.isEmpty() ? url : ServerUrl::withScheme(url);
}

QString KsAccount::encodedAccount() const
{
    return QString::fromLatin1(HttpExchange::percentEncode(userName));
}

QString KsAccount::verifyText(Verify verify)
{
    switch (verify) {
    case Verify::System:
    case Verify::Qr:
        return QStringLiteral("2");
    case Verify::Password:
        return QStringLiteral("4");
    case Verify::Unset:
        break;
    }
    return QString();
}

KsAccount KsAccount::fromSettings(const LoginInfo& settings)
{
    KsAccount account;
    account.setServerUrl(settings.ksServerUrl());
    account.userName = settings.userName();
    account.password = settings.password();
    account.verify = settings.isSystemUser() ? Verify::System : Verify::Unset;
    account.clientVersion = settings.ksVersion();
    account.qrGuid = settings.ksGUID();
    return account;
}
