#pragma once

class KsKit;
class LoginInfo;

namespace StartUpSettings {
// The settings file (the site's fixed keys written over it when it is opened), with what the server pushes
// written into it after the server's address was read and before any other key is: every later read sees
// the server's values. The certificate rule is handed to ServerTrust before the fetch and again after. 0, or
// LoginInfo::openFile()'s error.
int load(LoginInfo& settings, KsKit& api);
} // namespace StartUpSettings
