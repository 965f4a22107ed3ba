// devserver: the fake Kestrana server with demo data, for trying the client by hand.
#include "DevServerApp.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

const char* const kDescription = R"TXT(Kestrana demo server for trying HalcyraClient.

Commands:
  devserver [--port N] [--data DIR] [--https] [--plain] [--package FILE]
      Serves the demo data on 127.0.0.1:N (--port 0 picks a free port; the first line printed is
      "devserver: listening on URL (port N)"). Prints the demo accounts, then one line per request.
      Uploaded jobs are stored under DIR/jobs/ (see below), scan jobs come from DIR/scans/<account>/.
  devserver qr-confirm --port N [--https] --client-id ID --account NAME
      Confirms a QR-code login as the phone app would: the client showing the code for ID logs in as NAME
      at its next poll.
  devserver sample-pdf FILE
      Writes a small one-page PDF to print with kestrana-print.

Data folder:
  jobs/processing/   uploaded jobs, for a few seconds (--processing-seconds)
  jobs/waiting/      jobs waiting for release at a printer (listed in the client's jobs tab)
  jobs/printed/      move a job's file here to release it as a printer would; it leaves the job list
  jobs/cancelled/    jobs cancelled in the client
  jobs/index/        one JSON file per job with what the client sent
  scans/<account>/   that account's scan jobs (sample scans are written on first use)

HTTP endpoints beyond the Kestrana API:
  POST /api/client/scan?clientId=ID&account=NAME   the phone's confirmation of a scanned QR code
  GET  /View/QRLogin?clientId=ID                    the page the QR code opens, with a button per account
)TXT";

int fail(const QCommandLineParser& parser, const QString& message)
{
    std::fprintf(stderr, "devserver: %s\n\n%s", qPrintable(message), qPrintable(parser.helpText()));
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("devserver"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("serve (default), qr-confirm or sample-pdf"),
                                 QStringLiteral("[command]"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1 (0 = a free one)."),
                                  QStringLiteral("N"), QStringLiteral("8080"));
    const QCommandLineOption data(QStringLiteral("data"), QStringLiteral("Data folder (created when missing)."),
                                  QStringLiteral("DIR"), QStringLiteral("devserver-data"));
    const QCommandLineOption https(QStringLiteral("https"), QStringLiteral("Serve HTTPS (self-signed certificate)."));
    const QCommandLineOption plain(QStringLiteral("plain"),
                                   QStringLiteral("No fee projects and no printer without card reader, so jobs go "
                                                  "through without the printer and project dialog."));
    const QCommandLineOption package(
        QStringLiteral("package"), QStringLiteral("File served as the client update package."), QStringLiteral("FILE"));
    const QCommandLineOption processing(QStringLiteral("processing-seconds"),
                                        QStringLiteral("How long an uploaded job stays in processing."),
                                        QStringLiteral("S"), QStringLiteral("3"));
    const QCommandLineOption clientId(QStringLiteral("client-id"), QStringLiteral("qr-confirm: the client's id."),
                                      QStringLiteral("ID"));
    const QCommandLineOption account(QStringLiteral("account"), QStringLiteral("qr-confirm: the account to log in."),
                                     QStringLiteral("NAME"));
    parser.addOptions({ port, data, https, plain, package, processing, clientId, account });
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0, QStringLiteral("serve"));
    bool portOk = false;
    const int portNumber = parser.value(port).toInt(&portOk);
    if (!portOk || portNumber < 0 || portNumber > 65535) {
        return fail(parser, QStringLiteral("bad port: %1").arg(parser.value(port)));
    }

    if (command == QLatin1String("serve")) {
        DevServerApp::ServeOptions options;
        options.port = portNumber;
        options.https = parser.isSet(https);
        options.dataDir = parser.value(data);
        options.plain = parser.isSet(plain);
        options.packageFile = parser.value(package);
        bool ok = false;
        const double seconds = parser.value(processing).toDouble(&ok);
        if (!ok || seconds < 0) {
            return fail(parser, QStringLiteral("bad --processing-seconds: %1").arg(parser.value(processing)));
        }
        options.processingMs = int(seconds * 1000);
        return DevServerApp::serve(options);
    }
    if (command == QLatin1String("qr-confirm")) {
        if (!parser.isSet(port) || !parser.isSet(clientId) || !parser.isSet(account)) {
            return fail(parser, QStringLiteral("qr-confirm needs --port, --client-id and --account"));
        }
        return DevServerApp::qrConfirm(portNumber, parser.isSet(https), parser.value(clientId), parser.value(account));
    }
    if (command == QLatin1String("sample-pdf")) {
        if (args.size() < 2) {
            return fail(parser, QStringLiteral("sample-pdf needs a file name"));
        }
        return DevServerApp::samplePdf(args.at(1));
    }
    return fail(parser, QStringLiteral("unknown command: %1").arg(command));
}
