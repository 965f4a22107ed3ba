// mainwindow-shots [--whole-screen PREFIX] OUTPUT_DIR
//
// Shows the main window logged in to a fake Kestrana server with demo data, prints one job through
// kestrana-print, and saves a picture of every tab, then one of the jobs tab once the server has gone away.
// Under an X server (xvfb-run) the whole screen is captured with ImageMagick's "import -window root"; without
// one the window grabs itself.
// With --whole-screen the pictures show the whole screen, uncut, to prove that the windows fit it (run it
// with QT_SCALE_FACTOR=2 on a small screen): PREFIX-main.png, PREFIX-login.png and PREFIX-nocard.png.
#include "FakeKestranaServer.h"
#include "api/KsKit.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "app/UserPaths.h"
#include "config/LoginInfo.h"
#include "config/Session.h"
#include "session/OnlineState.h"
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"
#include "ui/NoCardPrintDialog.h"
#include "ui/Prompts.h"
#include "ui/ScreenFit.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QItemSelectionModel>
#include <QNetworkAccessManager>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QSettings>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {
bool waitFor(const std::function<bool()>& done, int ms = 15000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

void settle(int ms = 400)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

FakeKestranaState demoState()
{
    FakeKestranaState state = FakeKestranaState::sample();
    const struct
    {
        const char* name;
        int status;
        int duplex;
        bool color;
        int pages;
        int copies;
        int minutesAgo;
    } jobs[] = { { "Quarterly report.pdf", 1, 1, true, 14, 1, 95 },
                 { "Invoice 2024-117.pdf", 1, 0, false, 2, 2, 60 },
                 { "Lecture notes week 5.pdf", 51, 2, false, 36, 1, 25 },
                 { "Poster draft A3.pdf", 53, 0, true, 1, 3, 12 } };
    for (const auto& j : jobs) {
        FakeKestranaState::Job job;
        job.account = QStringLiteral("alice");
        job.jobName = QString::fromUtf8(j.name);
        job.statusId = j.status;
        job.duplexMode = j.duplex;
        job.color = j.color;
        job.pages = j.pages;
        job.copies = j.copies;
        job.pageWidth = 210;
        job.pageHeight = 297;
        job.submitTime = QDateTime::currentDateTime().addSecs(-60 * j.minutesAgo);
        state.addJob(job);
    }
    FakeKestranaState::Device d3;
    d3.deviceName = QStringLiteral("Library Mono");
    d3.status = QStringLiteral("Ready");
    d3.location = QStringLiteral("Library, ground floor");
    d3.controllerMac = QStringLiteral("00:1A:2B:3C:4D:60");
    state.devices.append(d3);
    // Nothing that would hold the printed job in the no-card dialog.
    state.projects.clear();
    for (FakeKestranaState::Device& device : state.devices) {
        device.useCardReader = true;
    }
    return state;
}

bool makePdf(const QString& path)
{
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    QPainter painter(&writer);
    if (!painter.isActive()) {
        return false;
    }
    painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 24));
    painter.drawText(QRect(0, 0, writer.width(), writer.height() / 3), Qt::AlignCenter,
                     QStringLiteral("Meeting agenda"));
    return true;
}

bool capture(QWidget* window, const QString& file, bool wholeScreen = false)
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        // The screen as a user would see it, cut to the window (in device pixels) unless the whole is wanted.
        const qreal ratio = window->devicePixelRatioF();
        const QRect frame = window->frameGeometry();
        const QString crop = QStringLiteral("%1x%2+%3+%4")
                                 .arg(qRound(frame.width() * ratio))
                                 .arg(qRound(frame.height() * ratio))
                                 .arg(qRound(frame.x() * ratio))
                                 .arg(qRound(frame.y() * ratio));
        QStringList args { QStringLiteral("-window"), QStringLiteral("root") };
        if (!wholeScreen) {
            args << QStringLiteral("-crop") << crop << QStringLiteral("+repage");
        }
        args << file;
        QProcess import;
        import.start(QStringLiteral("import"), args);
        if (import.waitForFinished(30000) && import.exitCode() == 0) {
            return true;
        }
        std::fprintf(stderr, "import failed: %s\n", import.readAllStandardError().constData());
    }
    return window->grab().save(file);
}
} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Screenshots of the main window against the fake Kestrana server with demo data."));
    parser.addHelpOption();
    const QCommandLineOption wholeScreen(
        QStringLiteral("whole-screen"),
        QStringLiteral("Whole-screen pictures of the main window, login and no-card dialogs: PREFIX-main.png, "
                       "PREFIX-login.png, PREFIX-nocard.png."),
        QStringLiteral("PREFIX"));
    parser.addOption(wholeScreen);
    parser.addPositionalArgument(QStringLiteral("OUTPUT_DIR"), QStringLiteral("Folder the pictures are saved in."));
    parser.process(app);
    if (parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }
    const QString outDir = QDir(parser.positionalArguments().constFirst()).absolutePath();
    QDir().mkpath(outDir);

    FakeKestranaServer server(demoState());
    if (!server.start()) {
        std::fprintf(stderr, "the fake server did not start\n");
        return 1;
    }

    // Settings: the template, pointed at the server, with every tab shown.
    const QString dataPath = UserPaths::dataPath();
    QDir().mkpath(dataPath);
    const QString ini = UserPaths::iniFilePath();
    QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/halcyraclient.ini"), ini);
    QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
    {
        QSettings settings(ini, QSettings::IniFormat);
        settings.setValue(QStringLiteral("Login/KsServerUrl"), server.httpUrl());
        settings.setValue(QStringLiteral("Login/KsServerName"), QStringLiteral("Head office"));
        settings.setValue(QStringLiteral("Login/LoginName"), QStringLiteral("alice"));
        settings.setValue(QStringLiteral("setting/fileLimit"), false);
    }
    Logging::setupRootLogger(dataPath + QStringLiteral("/logs"));
    LoginInfo* info = Singleton<LoginInfo>::getInstance();
    if (info->loadFromFile() != 0) {
        std::fprintf(stderr, "settings could not be loaded\n");
        return 1;
    }
    info->setUserName(QStringLiteral("alice"));
    info->setPasword(QStringLiteral("secret"));
    QNetworkAccessManager network;
    Session session;
    session.setIsLogin(true);
    KsKit api(KsAccount::fromSettings(*info), network);

    MainWindow window(*info, session, api);
    window.setWindowTitle(QCoreApplication::translate("MainWindow", "Kestrana"));
    window.show();
    window.init(true);
    window.form()->tabJobs->getPinCodeInfo();
    if (!waitFor([&]() {
            return window.form()->tabJobs->model()->rowCount() == 4
                && window.form()->tabServerInfo->model()->rowCount() == 2;
        })) {
        std::fprintf(stderr, "the tabs did not load\n");
        return 1;
    }

    if (parser.isSet(wholeScreen)) {
        const QString prefix = outDir + QLatin1Char('/') + parser.value(wholeScreen);
        settle(800);
        if (!capture(&window, prefix + QStringLiteral("-main.png"), true)) {
            return 1;
        }
        window.hide();
        {
            LoginDialog login(*info, session, api);
            ScreenFit::fit(&login);
            login.show();
            settle(800);
            if (!capture(&login, prefix + QStringLiteral("-login.png"), true)) {
                return 1;
            }
        }
        // Printers without card reader and fee projects, so that the dialog has something to offer.
        server.setState(FakeKestranaState::sample());
        KsKit& kit = api;
        const QString account = Singleton<LoginInfo>::getInstance()->userName();
        NoCardPrintDialog noCard(kit.getPrinters(account, 0), kit.getProjects(account),
                                 Singleton<LoginInfo>::getInstance()->supportSecret());
        noCard.setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint);
        noCard.setDocumentName(QStringLiteral("Meeting agenda.pdf"));
        noCard.show();
        settle(800);
        if (!capture(&noCard, prefix + QStringLiteral("-nocard.png"), true)) {
            return 1;
        }
        std::printf("%s-main.png\n%s-login.png\n%s-nocard.png\n", qPrintable(prefix), qPrintable(prefix),
                    qPrintable(prefix));
        return 0;
    }

    // One job through the virtual printer, submitted by the window's job intake.
    const QString pdf = home.filePath(QStringLiteral("agenda.pdf"));
    if (!makePdf(pdf)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(pdf));
        return 1;
    }
    const int before = server.requestCount(QStringLiteral("/Job/BAS_UploadComplete"));
    QProcess print;
    print.start(QCoreApplication::applicationDirPath() + QStringLiteral("/kestrana-print"),
                { QStringLiteral("--name"), QStringLiteral("Meeting agenda.pdf"), pdf });
    if (!print.waitForFinished(30000) || print.exitCode() != 0) {
        std::fprintf(stderr, "kestrana-print failed: %s\n", print.readAllStandardError().constData());
        return 1;
    }
    if (!waitFor([&]() { return server.requestCount(QStringLiteral("/Job/BAS_UploadComplete")) > before; }, 30000)
        || !waitFor([&]() { return window.form()->tabMessages->model()->rowCount() >= 1; })) {
        std::fprintf(stderr, "the printed job was not submitted\n");
        return 1;
    }

    // Cancel one waiting job, answering the question as the user would.
    Ui::MainWindow* ui = window.form();
    ui->tvJobs->selectionModel()->select(ui->tabJobs->model()->index(1, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Prompts::setNextAnswer(QMessageBox::Yes);
    ui->btnDelete->click();
    waitFor([&]() { return ui->tabMessages->model()->rowCount() >= 2; });
    ui->tvJobs->clearSelection();
    ui->tabJobs->load();
    settle(800);

    const QStringList files { QStringLiteral("tab-jobs.png"),     QStringLiteral("tab-devices.png"),
                              QStringLiteral("tab-scanjobs.png"), QStringLiteral("tab-account.png"),
                              QStringLiteral("tab-system.png"),   QStringLiteral("tab-servers.png"),
                              QStringLiteral("tab-messages.png") };
    for (int i = 0; i < ui->tabWidget->count() && i < files.size(); ++i) {
        ui->tabWidget->setCurrentIndex(i);
        if (ui->tabWidget->currentWidget()->objectName() == QLatin1String("tabSystemInfo")) {
            ui->btnCheckUpdate->click();
        }
        settle(700);
        const QString file = outDir + QLatin1Char('/') + files.at(i);
        if (!capture(&window, file)) {
            std::fprintf(stderr, "could not save %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }

    // The server goes away: the next load finds it gone, and the tables say since when they date.
    const int widthOnline = window.width();
    server.stop();
    ui->tabWidget->setCurrentIndex(0);
    ui->tabJobs->load();
    if (!waitFor([&]() { return !window.monitor().isOnline(); })) {
        std::fprintf(stderr, "the window did not notice the server was gone\n");
        return 1;
    }
    settle(700);
    if (window.width() != widthOnline) {
        std::fprintf(stderr, "the offline status widened the window from %d to %d\n", widthOnline, window.width());
        return 1;
    }
    const QString offline = outDir + QStringLiteral("/tab-jobs-offline.png");
    if (!capture(&window, offline)) {
        std::fprintf(stderr, "could not save %s\n", qPrintable(offline));
        return 1;
    }
    std::printf("%s\n", qPrintable(offline));
    return 0;
}
