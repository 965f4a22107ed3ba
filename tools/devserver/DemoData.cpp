#include "DemoData.h"

#include <QDateTime>

namespace {

FakeKestranaState::User alice()
{
    FakeKestranaState::User u;
    u.account = QStringLiteral("alice");
    u.password = QStringLiteral("alice123");
    u.userName = QStringLiteral("Alice Chen");
    u.hostAddress = QStringLiteral("demo.kestrana.local");
    u.allowPrintColor = true;
    u.allowSimple = true;
    u.groupName = QStringLiteral("Design");
    u.cardNumber = QStringLiteral("0012345678");
    u.balance = 86.5;
    u.hasSpent = 13.5;
    u.allowPrintType = true;
    u.email = QStringLiteral("alice@demo.kestrana.local");
    u.telNumber = QStringLiteral("010-5550101");
    u.mobile = QStringLiteral("13800000001");
    u.userOnlineTime = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    u.pinCode = QStringLiteral("482913");
    u.pinExpiry = QDateTime::currentDateTime().addDays(7).toString(QStringLiteral("yyyy-MM-ddThh:mm:ss"));
    u.pinExpired = false;
    return u;
}

FakeKestranaState::User bob()
{
    FakeKestranaState::User u;
    u.account = QStringLiteral("bob");
    u.password = QStringLiteral("bob123");
    u.userName = QStringLiteral("Bob Li");
    u.hostAddress = QStringLiteral("demo.kestrana.local");
    // Black and white, double-sided only: the client asks before sending colour or single-sided jobs.
    u.allowPrintColor = false;
    u.allowSimple = false;
    u.groupName = QStringLiteral("Students");
    u.cardNumber = QStringLiteral("0087654321");
    u.balance = 4.2;
    u.hasSpent = 25.8;
    u.printDateId = 1;
    u.printTimeId = 1;
    u.email = QStringLiteral("bob@demo.kestrana.local");
    u.mobile = QStringLiteral("13800000002");
    u.pinCode = QStringLiteral("170245");
    u.pinExpiry = QDateTime::currentDateTime().addDays(-1).toString(QStringLiteral("yyyy-MM-ddThh:mm:ss"));
    u.pinExpired = true;
    return u;
}

FakeKestranaState::Device device(const QString& name, const QString& status, const QString& location, bool cardReader,
                                 const QString& mac)
{
    FakeKestranaState::Device d;
    d.deviceName = name;
    d.status = status;
    d.location = location;
    d.available = status == QLatin1String("Ready");
    d.useCardReader = cardReader;
    d.controllerMac = mac;
    return d;
}

} // namespace

FakeKestranaState DemoData::build(const Options& options)
{
    FakeKestranaState s;
    s.users = { alice(), bob() };

    s.devices.append(device(QStringLiteral("Lobby Colour MFP"), QStringLiteral("Ready"),
                            QStringLiteral("Lobby, ground floor"), true, QStringLiteral("00:1B:44:11:3A:B7")));
    s.devices.append(device(QStringLiteral("Library Mono"), QStringLiteral("Ready"),
                            QStringLiteral("Library, 2nd floor"), options.plain, QStringLiteral("00:1B:44:11:3A:C2")));
    s.devices.append(device(QStringLiteral("Print Room A3"), QStringLiteral("Offline"), QStringLiteral("Room 305"),
                            options.plain, QStringLiteral("00:1B:44:11:3A:D9")));

    if (!options.plain) {
        s.projects.append({ QStringLiteral("101"), 500.0, QStringLiteral("Marketing brochure") });
        s.projects.append({ QStringLiteral("102"), 42.75, QStringLiteral("Research group") });
    }

    s.sites.append({ QStringLiteral("{server}"), QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1"),
                     QStringLiteral("Demo head office"), QStringLiteral("Building A") });

    // Client settings handed out by the server: every tab and the QR login switched on.
    const QStringList on
        = { QStringLiteral("ShowQR"),     QStringLiteral("supportScan"),   QStringLiteral("ShowUser"),
            QStringLiteral("ShowSystem"), QStringLiteral("ShowServer"),    QStringLiteral("ShowDevice"),
            QStringLiteral("ShowCost"),   QStringLiteral("IsShowProgress") };
    for (const QString& key : on) {
        s.configEntries.append({ QStringLiteral("setting"), key, QStringLiteral("true"), 1 });
    }
    s.configEntries.append({ QStringLiteral("setting"), QStringLiteral("supportSecret"),
                             options.plain ? QStringLiteral("false") : QStringLiteral("true"), 1 });

    // Jobs are processed for a moment after the upload and then wait for release; the folder decides.
    s.statusAfterComplete = 51;
    s.statusQueriesUntilDone = 1 << 30;

    s.latestClientVersion = QStringLiteral("1.2.0");
    s.clientPackage = options.package.isEmpty()
        ? QByteArray("HalcyraClient 1.2.0 demo update package (a stand-in: start the devserver with --package FILE "
                     "to serve a real one)\n")
        : options.package;
    s.qrExpiresIn = 300;
    return s;
}

FakeKestranaState::Site DemoData::branchSite(const QString& url)
{
    return { url, QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1"), QStringLiteral("Demo branch office"),
             QStringLiteral("Building B") };
}

QString DemoData::accountsText(const FakeKestranaState& state)
{
    QString text = QStringLiteral("demo accounts:\n");
    for (const auto& u : state.users) {
        QString rights = u.allowPrintColor ? QStringLiteral("colour") : QStringLiteral("black and white only");
        rights += u.allowSimple ? QStringLiteral(", single- and double-sided") : QStringLiteral(", double-sided only");
        text += QStringLiteral("  %1 / %2   %3; pin code %4%5\n")
                    .arg(u.account.leftJustified(6), u.password.leftJustified(9), rights, u.pinCode,
                         u.pinExpired ? QStringLiteral(" (expired)") : QString());
    }
    return text + QLatin1Char('\n');
}

QByteArray DemoData::qrPage(const FakeKestranaState& state)
{
    QByteArray buttons;
    for (const auto& u : state.users) {
        const QByteArray account = u.account.toHtmlEscaped().toUtf8();
        buttons += "<p><button onclick=\"confirmAs('" + account + "')\">Log in as " + account + "</button></p>\n";
    }
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Kestrana QR login</title>"
           "<meta name=\"viewport\" content=\"width=device-width\"></head><body>\n"
           "<h1>Kestrana QR login (demo)</h1>\n<p>Confirm the login on the print client as:</p>\n"
        + buttons
        + "<p id=\"result\"></p>\n<script>\n"
          "const clientId = new URLSearchParams(location.search).get('clientId') || '';\n"
          "function confirmAs(account) {\n"
          "  fetch('/api/client/scan?clientId=' + encodeURIComponent(clientId) + '&account=' +\n"
          "        encodeURIComponent(account), { method: 'POST' })\n"
          "    .then(r => r.json()).then(j => { document.getElementById('result').textContent = j.message; });\n"
          "}\n</script>\n</body></html>\n";
}
