#pragma once

#include <memory>

class KsKit;
class LoginDialog;
class LoginInfo;
class MainWindow;
class Session;
class SingleApplication;

// The hand-over from the login dialog to the main window after the first login: the window is created, wired to
// the dialog and the application, shown (unless the settings hide it) and initialised.
namespace StartUp {

// Starts the window and runs the event loop; the loop's result is returned.
int runAfterLogin(SingleApplication& app, LoginDialog& dialog, LoginInfo& settings, Session& session, KsKit& api,
                  bool automaticLogin);
// The same without running the loop.
std::unique_ptr<MainWindow> startAfterLogin(SingleApplication& app, LoginDialog& dialog, LoginInfo& settings,
                                            Session& session, KsKit& api, bool automaticLogin);

// The job folder is watched from start to end: a job printed while nobody is logged in brings the login window
// up; one printed after a login starts the window's job pass (connected by startAfterLogin).
void watchJobFolder(LoginDialog& dialog);

} // namespace StartUp
