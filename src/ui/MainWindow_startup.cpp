// Creating and running the main window once the first login succeeded, and its hand-over with the login
// dialog and the application object.
#include "MainWindow.h"

#include "LoginDialog.h"
#include "app/ShutdownSignals.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "ui/SingleApplication.h"

void MainWindow::connectHandOver(LoginDialog* dialog, SingleApplication* app)
{
    connect(dialog, &LoginDialog::mainshow, this, &MainWindow::show_mainwindow);
    connect(this, &MainWindow::loginshow, dialog, &LoginDialog::show_loginwindow);
    connect(this, &MainWindow::closeMain, app, &SingleApplication::_close);
    connect(this, &MainWindow::iniMain, app, &SingleApplication::iniApp);
}

std::unique_ptr<MainWindow> MainWindow::startAfterLogin(SingleApplication& app, LoginDialog& dialog,
                                                        LoginInfo& settings, Session& session, KsKit& api,
                                                        bool automaticLogin)
{
    auto window = std::make_unique<MainWindow>(settings, session, api);
    window->setWindowFlags(window->windowFlags() & ~Qt::WindowMinimizeButtonHint & ~Qt::WindowMaximizeButtonHint);
    window->setWindowTitle(tr("Kestrana"));
    window->connectHandOver(&dialog, &app);
    if (automaticLogin) {
        connect(&dialog, &LoginDialog::exitApp, &app, &SingleApplication::exitAppa);
    }
    const LoginInfo* info = &settings;
    if (!info->hiddMainDlg()) {
        window->show();
    }
    window->init(!info->hidTask());
    dialog.stopTimer();
    return window;
}

int MainWindow::runAfterLogin(SingleApplication& app, LoginDialog& dialog, LoginInfo& settings, Session& session,
                              KsKit& api, bool automaticLogin)
{
    const std::unique_ptr<MainWindow> window = startAfterLogin(app, dialog, settings, session, api, automaticLogin);
    // A signal that came while the start-up pass asked its question must still end the client.
    int result = 0;
    if (!ShutdownSignals::quitRequested()) {
        result = app.exec();
    }
    window->finishJobsAfterQuit();
    return result;
}
