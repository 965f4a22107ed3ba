#include "ClientParts.h"

#include "app/Singleton.h"
#include "config/LoginInfo.h"

ClientParts::ClientParts(LoginInfo* given)
    : settings(given ? *given : *Singleton<LoginInfo>::getInstance())
    , api(KsAccount::fromSettings(settings), network)
{
    api.setLoginState(&settings, &session);
}

ClientParts& ClientParts::shared()
{
    static ClientParts* parts = new ClientParts;
    return *parts;
}

void ClientParts::beginCase()
{
    ClientParts& parts = shared();
    parts.session = Session();
    parts.refreshAccount();
}

void ClientParts::refreshAccount()
{
    api.setAccount(KsAccount::fromSettings(settings));
}
