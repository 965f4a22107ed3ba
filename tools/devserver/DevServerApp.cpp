#include "DevServerApp.h"

#include "DemoData.h"
#include "DemoFolder.h"
#include "DemoPdf.h"
#include "FakeKestranaServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrlQuery>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <mutex>

namespace {

std::atomic<bool> g_stop { false };

void onSignal(int)
{
    g_stop = true;
}

// One line per request: time, method, target (passwords masked), status and the answer's code.
QString requestLine(const FakeRequest& request, const FakeReply& reply)
{
    static const QRegularExpression password(QStringLiteral("(Password=)[^&]*"),
                                             QRegularExpression::CaseInsensitiveOption);
    QString target = QString::fromUtf8(request.target);
    target.replace(password, QStringLiteral("\\1***"));
    if (target.size() > 200) {
        target = target.left(197) + QStringLiteral("...");
    }
    // Concatenated, not arg(): a target holds percent escapes such as "%3D".
    QString line = QString::fromLatin1(request.method) + QLatin1Char(' ') + target + QStringLiteral(" -> ")
        + QString::number(reply.status);
    if (!request.body.isEmpty()) {
        line += QStringLiteral(" (sent %1 bytes)").arg(request.body.size());
    }
    const QJsonObject answer = QJsonDocument::fromJson(reply.body).object();
    if (answer.contains(QLatin1String("code"))) {
        line += QStringLiteral(" code %1").arg(answer.value(QLatin1String("code")).toInt());
        const QJsonValue data = answer.value(QLatin1String("data"));
        if (data.isArray()) {
            line += QStringLiteral(", %1 item(s)").arg(data.toArray().size());
        }
        const QString message = answer.value(QLatin1String("message")).toString();
        if (!message.isEmpty() && message != QLatin1String("success")) {
            line += QStringLiteral(" \"%1\"").arg(message);
        }
    } else if (answer.contains(QLatin1String("Status"))) {
        line += QStringLiteral(" Status %1").arg(answer.value(QLatin1String("Status")).toInt());
    } else if (!reply.body.isEmpty()) {
        line += QStringLiteral(" (%1 bytes of %2)").arg(reply.body.size()).arg(QString::fromLatin1(reply.contentType));
    }
    return line;
}

} // namespace

void DevServerApp::printLine(const QString& line)
{
    static std::mutex mutex;
    const QByteArray text
        = QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz ")).toUtf8() + line.toUtf8() + '\n';
    std::lock_guard<std::mutex> lock(mutex);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

int DevServerApp::serve(const ServeOptions& options)
{
    DemoData::Options demo;
    demo.plain = options.plain;
    if (!options.packageFile.isEmpty()) {
        QFile package(options.packageFile);
        if (!package.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "devserver: cannot read %s\n", qPrintable(options.packageFile));
            return 1;
        }
        demo.package = package.readAll();
    }
    FakeKestranaServer server(DemoData::build(demo));
    server.setRecordRequests(false);

    if (!server.startListener(options.https, options.port)) {
        std::fprintf(stderr, "devserver: cannot listen on 127.0.0.1:%d\n", options.port);
        return 1;
    }
    const QString url = server.url(options.https);
    const int port = options.https ? server.httpsPort() : server.httpPort();
    QString branch = url;
    branch.replace(QLatin1String("127.0.0.1"), QLatin1String("localhost"));
    server.updateState([&](FakeKestranaState& s) { s.sites.append(DemoData::branchSite(branch)); });
    server.setOverride(QStringLiteral("/View/QRLogin"), FakeReply::html(200, DemoData::qrPage(server.state())));

    std::printf("devserver: listening on %s (port %d)\n", qPrintable(url), port);
    std::fflush(stdout);

    DemoFolder folder(server, QDir(options.dataDir).absolutePath(), options.processingMs, &DevServerApp::printLine);
    QString error;
    if (!folder.prepare(&error)) {
        std::fprintf(stderr, "devserver: %s\n", qPrintable(error));
        return 1;
    }

    server.setRequestObserver([&server](const FakeRequest& request, const FakeReply& reply) {
        printLine(requestLine(request, reply));
        // A downloaded scan job shows as downloaded in the list afterwards.
        if (request.path == QLatin1String("/Job/BAS_DownloadScanJob") && reply.status == 200) {
            const QString id = request.queryItem(QStringLiteral("JobID"));
            server.updateState([&](FakeKestranaState& s) {
                if (FakeKestranaState::ScanJob* scan = s.findScanJob(id)) {
                    scan->statusId = 14;
                }
            });
        }
    });

    const FakeKestranaState state = server.state();
    std::printf("%s", qPrintable(DemoData::accountsText(state)));
    std::printf("devices: ");
    for (int i = 0; i < state.devices.size(); ++i) {
        const auto& d = state.devices.at(i);
        std::printf("%s%s (%s, %s)", i ? ", " : "", qPrintable(d.deviceName), qPrintable(d.status),
                    d.useCardReader ? "card reader" : "no card reader");
    }
    std::printf("\nfee projects: %d; sites: %s and %s\n", int(state.projects.size()), qPrintable(url),
                qPrintable(branch));
    std::printf("client update offered: %s\n", qPrintable(state.latestClientVersion));
    std::printf("data folder: %s\n", qPrintable(QDir(options.dataDir).absolutePath()));
    std::printf("  uploaded jobs land in jobs/processing/, then wait in jobs/waiting/;\n"
                "  move a file to jobs/printed/ to release it as a printer would, delete it to drop the job;\n"
                "  files in scans/<account>/ are that account's scan jobs\n");
    std::printf("QR login: the code opens %s/View/QRLogin?clientId=ID; confirm it with\n"
                "  devserver qr-confirm --port %d%s --client-id ID --account alice\n\n",
                qPrintable(url), port, options.https ? " --https" : "");
    std::fflush(stdout);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (g_stop) {
            QCoreApplication::quit();
            return;
        }
        folder.sync();
    });
    tick.start(250);
    const int rc = QCoreApplication::exec();
    server.stop();
    printLine(QStringLiteral("devserver stopped"));
    return rc;
}

int DevServerApp::qrConfirm(int port, bool https, const QString& clientId, const QString& account)
{
    QUrl url(QStringLiteral("%1://127.0.0.1:%2/api/client/scan")
                 .arg(https ? QStringLiteral("https") : QStringLiteral("http"))
                 .arg(port));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("clientId"), clientId);
    query.addQueryItem(QStringLiteral("account"), account);
    url.setQuery(query);

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    if (https) {
        // The devserver's certificate is self-signed.
        QSslConfiguration ssl = request.sslConfiguration();
        ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
        request.setSslConfiguration(ssl);
    }
    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.post(request, QByteArray());
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    if (!reply->isFinished()) {
        reply->abort();
    }
    const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
    const QString error = reply->error() == QNetworkReply::NoError ? QString() : reply->errorString();
    reply->deleteLater();
    if (answer.value(QLatin1String("code")).toInt() == 200) {
        std::printf("confirmed: the client %s logs in as %s at its next poll\n", qPrintable(clientId),
                    qPrintable(account));
        return 0;
    }
    std::fprintf(stderr, "devserver qr-confirm: %s\n",
                 qPrintable(answer.isEmpty() ? (error.isEmpty() ? QStringLiteral("no answer") : error)
                                             : answer.value(QLatin1String("message")).toString()));
    return 1;
}

int DevServerApp::samplePdf(const QString& file)
{
    QSaveFile out(file);
    const QByteArray pdf = DemoPdf::make(
        QStringLiteral("Kestrana demo print job"),
        { QStringLiteral("Printed with kestrana-print on %1.").arg(QDateTime::currentDateTime().toString(Qt::ISODate)),
          QStringLiteral("Release it at any printer with your card or pin code.") });
    if (!out.open(QIODevice::WriteOnly) || out.write(pdf) != pdf.size() || !out.commit()) {
        std::fprintf(stderr, "devserver: cannot write %s\n", qPrintable(file));
        return 1;
    }
    return 0;
}
