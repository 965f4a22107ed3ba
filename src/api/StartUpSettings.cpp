#include "StartUpSettings.h"

#include "KsKit.h"
#include "ServerTrust.h"
#include "config/LoginInfo.h"

#include <optional>

namespace StartUpSettings {

int load(LoginInfo& settings, KsKit& api)
{
    const int opened = settings.openFile();
    if (opened != 0) {
        return opened;
    }
    // The fetch follows the local certificate rule; a stricter one the server pushes applies after it.
    ServerTrust::setMode(settings.certificateRule());
    const QString serverUrl = settings.ksServerUrl();
    if (!serverUrl.isEmpty()) {
        if (const std::optional<LoginInfo::ServerSettings> pushed = api.fetchClientSettings(serverUrl)) {
            // Only a server whose certificate was checked may change which server the client trusts.
            settings.applyServerSettings(*pushed, ServerTrust::verifiesCertificate(serverUrl));
        }
    }
    settings.readValues();
    ServerTrust::setMode(settings.certificateRule());
    return 0;
}

} // namespace StartUpSettings
