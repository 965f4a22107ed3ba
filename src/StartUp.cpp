#include "StartUp.h"

#include "app/ShutdownSignals.h"
#include "config/LoginInfo.h"
#include "jobs/CMyFileWatcher.h"
#include "jobs/JobQueue.h"
#include "session/JobFolderWatch.h"
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"
#include "ui/SingleApplication.h"

namespace {

// The four hand-over connections between the login dialog, the window and the application.
void connectHandOver(MainWindow* window, LoginDialog* dialog, SingleApplication* app)
{
    QObject::connect(dialog, &LoginDialog::mainshow, window, &MainWindow::show_mainwindow);
    QObject::connect(window, &MainWindow::loginshow, dialog, &LoginDialog::show_loginwindow);
    QObject::connect(window, &MainWindow::closeMain, app, &SingleApplication::closeMainWindow);
    QObject::connect(window, &MainWindow::iniMain, app, &SingleApplication::setMainWindow);
}

} // namespace

void StartUp::watchJobFolder(LoginDialog& dialog)
{
    auto* watch = new JobFolderWatch(&dialog);
    QObject::connect(CMyFileWatcher::instance(), &CMyFileWatcher::signalNewFile, &dialog, &LoginDialog::onNewJobFile,
                     Qt::QueuedConnection);
    QObject::connect(&dialog, &LoginDialog::loginWindowShown, watch, &JobFolderWatch::start);
    watch->start();
}

std::unique_ptr<MainWindow> StartUp::startAfterLogin(SingleApplication& app, LoginDialog& dialog, LoginInfo& settings,
                                                     Session& session, KsKit& api, bool automaticLogin)
{
    auto window = std::make_unique<MainWindow>(settings, session, api);
    window->setWindowFlags(window->windowFlags() & ~Qt::WindowMinimizeButtonHint & ~Qt::WindowMaximizeButtonHint);
    window->setWindowTitle(MainWindow::tr("Kestrana"));
    connectHandOver(window.get(), &dialog, &app);
    // A job printed while the user is logged in starts a pass at once, not at the timer's next tick.
    QObject::connect(CMyFileWatcher::instance(), &CMyFileWatcher::signalJobArrived, window->jobQueue(),
                     &JobQueue::jobArrived);
    if (automaticLogin) {
        QObject::connect(&dialog, &LoginDialog::exitApp, &app, &SingleApplication::quitClient);
    }
    const LoginInfo* info = &settings;
    if (!info->hiddMainDlg()) {
        window->show();
    }
    window->init(!info->hidTask());
    dialog.stopTimer();
    return window;
}

int StartUp::runAfterLogin(SingleApplication& app, LoginDialog& dialog, LoginInfo& settings, Session& session,
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
