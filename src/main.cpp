#include "StartUp.h"
#include "api/KsKit.h"
#include "api/StartUpSettings.h"
#include "app/Logging.h"
#include "app/PrivateFiles.h"
#include "app/ShutdownSignals.h"
#include "app/Singleton.h"
#include "app/Translations.h"
#include "app/UserPaths.h"
#include "config/LoginInfo.h"
#include "config/Session.h"
#include "ui/LoginDialog.h"
#include "ui/ScreenFit.h"
#include "ui/SingleApplication.h"

#include <QCommandLineParser>
#include <QDebug>
#include <QDir>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTranslator>

static Logger* logger = Logging::rootLogger();

namespace {

void logScreens()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        qDebug() << "nScreenCount:" << 0;
        return;
    }
    const QRect screenRect = screen->geometry();
    const QRect availableRect = screen->availableGeometry();
    qDebug() << "deskRect:" << availableRect.topLeft();
    qDebug() << "screenRect:" << screenRect.topLeft();
    qDebug() << "width" << screenRect.width() << " height" << screenRect.height();
    qDebug() << "nScreenCount:" << QGuiApplication::screens().count();
    qDebug() << "rect1" << screenRect.width() << screenRect.height() << screenRect.topLeft()
             << screenRect.bottomRight();
    qDebug() << "rect2" << availableRect.width() << availableRect.height() << availableRect.topLeft()
             << availableRect.bottomRight();
}

// What the windows share: the settings, the run-time session and the API with its one network manager.
struct Parts
{
    LoginInfo& settings;
    Session& session;
    KsKit& api;
};

// After a successful login the main window takes over and the event loop runs.
int runAfterLogin(SingleApplication& app, LoginDialog& dialog, const Parts& parts, bool automaticLogin)
{
    return StartUp::runAfterLogin(app, dialog, parts.settings, parts.session, parts.api, automaticLogin);
}

// Runs the login dialog modally; the main window follows an accepted dialog, a closed one ends the run.
int runDialog(SingleApplication& app, LoginDialog& dialog, const Parts& parts)
{
    if (ShutdownSignals::quitRequested()) {
        return 0;
    }
    const int result = dialog.exec();
    if (result != QDialog::Accepted) {
        return result;
    }
    return runAfterLogin(app, dialog, parts, false);
}

int runLoginAndMainWindow(SingleApplication& app, LoginDialog& dialog, const Parts& parts)
{
    LoginInfo* info = &parts.settings;

    const bool automaticLogin = info->isAutoLogin() && !info->userName().isEmpty() && !info->password().isEmpty();
    if (!automaticLogin) {
        dialog.startTimer();
        return runDialog(app, dialog, parts);
    }

    const bool reachable = dialog.checkNetworkState(false);
    // The probe above may have taken the server from the dialog's field into the settings.
    parts.api.setAccount(KsAccount::fromSettings(*info));
    QString error;
    if (reachable && parts.api.login(error)) {
        return runAfterLogin(app, dialog, parts, true);
    }
    if (!error.isEmpty()) {
        dialog.show_errormsg(error);
    }
    if (!info->ksServerUrl().isEmpty()) {
        dialog.startTimer();
    }
    return runDialog(app, dialog, parts);
}

// --help, --help-all and --version are answered before anything of the client starts: no display is needed and
// a running client is not disturbed. False when the client is to start; every other argument is only logged.
bool answeredCommandLine(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    QCommandLineParser parser;
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // Options of Qt's own (-platform, -style ...) are no error here: the application object takes them.
    parser.parse(arguments);
    const QString asked = parser.isSet(QStringLiteral("help-all")) ? QStringLiteral("--help-all")
        : parser.isSet(help)                                       ? QStringLiteral("--help")
        : parser.isSet(version)                                    ? QStringLiteral("--version")
                                                                   : QString();
    if (asked.isEmpty()) {
        return false;
    }
    // The help text names the program from the application object's arguments.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("halcyraclient"));
    QCoreApplication::setApplicationVersion(QStringLiteral(HALCYRA_VERSION));
    parser.setApplicationDescription(QStringLiteral(
        "The desktop client of the Kestrana secure-printing service: it logs you in to a Kestrana server,\n"
        "sends the jobs printed to the Kestrana printer and lives in the tray."));
    // Qt's own answer: it writes the text and ends the process with 0.
    parser.process(QStringList { arguments.constFirst(), asked });
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (answeredCommandLine(argc, argv)) {
        return 0;
    }
    // Qt honours this attribute only when it is set before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);

    SingleApplication app(argc, argv);
    ShutdownSignals shutdownSignals;
    QApplication::setQuitOnLastWindowClosed(false);

    // The user's alone (0700, repaired when wider): it holds the stored password, pins, log and messages.
    const QString dataPath = UserPaths::dataPath();
    PrivateFiles::makePrivateDir(dataPath);
    const QString logDir = dataPath + QDir::separator() + QStringLiteral("logs");
    QDir().mkpath(logDir);
    Logging::setupRootLogger(logDir);
    Logging::logStartup();

    const QString appDir = QCoreApplication::applicationDirPath();
    QTranslator widgetsTranslator;
    QTranslator clientTranslator;
    const QString locale = QLocale::system().name();
    logger->info(QStringLiteral("intalling translator"));
    logger->info(QStringLiteral("argv") + QCoreApplication::arguments().join(QLatin1Char('\n')));
    installTranslations(widgetsTranslator, clientTranslator, appDir, locale);

    if (app.isRunning()) {
        logger->warn(QStringLiteral("HalcyraClient is already running"));
        return 0;
    }

    logger->info(QStringLiteral("loading latest login info"));
    LoginInfo& settings = *Singleton<LoginInfo>::getInstance();
    // One network manager for every request of the UI thread (the settings fetch, the dialog's, the main
    // window's), owned by the API; the job pipeline sends through libcurl on its own thread.
    Session session;
    KsKit api(KsAccount {});
    const int loadResult = StartUpSettings::load(settings, api);
    if (loadResult != 0) {
        logger->fatal(QStringLiteral("parse INI file error, code = %1").arg(loadResult));
        QMessageBox box(QMessageBox::Critical, QCoreApplication::translate("main", "parse INI file error"),
                        QCoreApplication::translate("main", "Could load login info"));
        box.addButton(QCoreApplication::translate("main", "Yes"), QMessageBox::AcceptRole);
        if (!ShutdownSignals::quitRequested()) {
            box.exec();
        }
        return -1;
    }

    logScreens();

    api.setAccount(KsAccount::fromSettings(settings));
    api.setLoginState(&settings, &session);
    const Parts parts { settings, session, api };

    // The dialog lives until after the stop banner and the logging shutdown.
    LoginDialog dialog(settings, session, api);
    ScreenFit::fit(&dialog);
    app.setLoginWindow(&dialog);
    StartUp::watchJobFolder(dialog);

    const int exitCode = runLoginAndMainWindow(app, dialog, parts);

    Logging::logShutdown();
    Logging::shutdownRootLogger();
    return exitCode;
}
