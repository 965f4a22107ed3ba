#include "ClientParts.h"
#include "FakeKestranaServer.h"
#include "LoginHome.h"
#include "app/Logging.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "session/OnlineState.h"
#include "ui/ClickedLabel.h"
#include "ui/LoginDialog.h"
#include "ui/Prompts.h"
#include "ui/QRCodeHelper.h"

#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

#include <memory>

// QR-code login: the image a phone scans, the registration and polling the server sees, and the login
// that follows a scan.
class TestQrCode : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void imageDecodesToText_data();
    void imageDecodesToText();

    void guidMadeOnceWithoutBraces();
    void registrationAddress_data();
    void registrationAddress();
    void validityDecidesDisplay_data();
    void validityDecidesDisplay();
    void shownCodeCarriesInfoAndGuid();
    void unscannedCodeKeepsPolling();
    void scannedAccountLogsIn();
    void refusedScanLoginDrawsNewCode();
    void codeExpiresAfterTwoMinutes();
    void clickOnImageDrawsNewCode();
    void qrPageSwitches();

private:
    LoginInfo* info() const { return Singleton<LoginInfo>::getInstance(); }
    void configure(const QVariantMap& values);
    QString storedGuid() const;
    QString infoText() const { return m_server->httpUrl() + QStringLiteral("/View/ClientLogin?clientId="); }
    // The dialog with the QR page up and its first code registered.
    std::unique_ptr<LoginDialog> openQrPage();
    static QImage labelImage(LoginDialog& dialog);
    // zbarimg's reading of an image shown on a white page (the dialog's background is the quiet zone).
    static QString decode(const QImage& image, const QString& dir);

    std::unique_ptr<FakeKestranaServer> m_server;
    std::unique_ptr<LoginHome> m_home;
};

void TestQrCode::initTestCase()
{
    m_server.reset(new FakeKestranaServer(FakeKestranaState::sample()));
    QVERIFY(m_server->start());
    OnlineState::setForcedForTests(1);
    LoginDialog::setExitHandlerForTests([](int) {});
}

void TestQrCode::cleanupTestCase()
{
    LoginDialog::setExitHandlerForTests(nullptr);
    OnlineState::setForcedForTests(-1);
    m_server.reset();
}

void TestQrCode::init()
{
    m_home.reset(new LoginHome);
    QVERIFY(m_home->isValid());
    qputenv("USER", "alice");
    ClientParts::shared().session.setIsLogin(false);
    info()->setGUID(QString());
    m_server->updateState([](FakeKestranaState& s) {
        s.qrExpiresIn = 300;
        s.qrRegistrations.clear();
        s.loginRefusal = FakeKestranaState::Refusal();
    });
    configure({ { "setting/ShowQR", true },
                { "Login/DefaultLoginType", 2 },
                { "Login/SystemUser", false },
                { "setting/Info", infoText() },
                { "setting/GUID", QString() } });
    m_server->clearRequests();
    Prompts::startCapture();
}

void TestQrCode::cleanup()
{
    Prompts::stopCapture();
    ClientParts::shared().session.setIsLogin(false);
    m_home.reset();
}

void TestQrCode::configure(const QVariantMap& values)
{
    m_home->write(values);
    QCOMPARE(TestHome::loadAtStartUp(*info()), 0);
}

QString TestQrCode::storedGuid() const
{
    return m_home->value(QStringLiteral("setting/GUID")).toString();
}

std::unique_ptr<LoginDialog> TestQrCode::openQrPage()
{
    std::unique_ptr<LoginDialog> dialog(new LoginDialog(*Singleton<LoginInfo>::getInstance(),
                                                        ClientParts::shared().session, ClientParts::shared().api));
    dialog->findChild<QLineEdit*>("editKsServer")->setText(m_server->httpUrl());
    auto* timer = dialog->findChild<QTimer*>("qrPollTimer");
    [&]() { QTRY_VERIFY(timer->isActive()); }();
    return dialog;
}

QImage TestQrCode::labelImage(LoginDialog& dialog)
{
    return dialog.findChild<ClickedLabel*>("qrImageLabel")
        ->pixmap(Qt::ReturnByValue)
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

QString TestQrCode::decode(const QImage& image, const QString& dir)
{
    QImage page(image.width() + 80, image.height() + 80, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    painter.drawImage(40, 40, image);
    painter.end();
    const QString path = dir + QStringLiteral("/page.png");
    if (!page.save(path)) {
        return QStringLiteral("<not saved>");
    }
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), { QStringLiteral("--raw"), QStringLiteral("-q"), path });
    if (!zbar.waitForFinished(30000)) {
        return QStringLiteral("<zbarimg hung>");
    }
    return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
}

void TestQrCode::imageDecodesToText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("login address") << "http://print.example.org:8080/View/ClientLogin?clientId="
                                      "0f8fad5b-d9cb-469f-a165-70867728950e";
    QTest::newRow("short") << "K";
    QTest::newRow("long") << QString(300, QLatin1Char('x'));
}

void TestQrCode::imageDecodesToText()
{
    QFETCH(QString, text);
    if (QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty()) {
        QSKIP("zbarimg (zbar-tools) is not installed; scripts/install-deps installs it");
    }
    QVERIFY(Singleton<QRCodeHelper>::getInstance()->CreateRcode(text));
    const QImage image(m_home->dataPath() + QStringLiteral("/QRcode.png"));
    QCOMPARE(image.size(), QSize(200, 200));
    // No quiet zone of its own: the top-left finder pattern starts in the corner.
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::black));
    QCOMPARE(decode(image, m_home->path()), text);
}

void TestQrCode::guidMadeOnceWithoutBraces()
{
    auto dialog = openQrPage();
    const QString guid = storedGuid();
    QVERIFY2(QRegularExpression(QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"))
                 .match(guid)
                 .hasMatch(),
             qPrintable(guid));
    QCOMPARE(info()->ksGUID(), guid);
    QCOMPARE(m_server->lastRequest(QStringLiteral("/api/client/invoke")).queryItem(QStringLiteral("clientId")), guid);

    // A new code, and a later start of the client, keep the identifier.
    dialog->GenerateQRcode();
    QTRY_COMPARE(m_server->requestCount(QStringLiteral("/api/client/invoke")), 2);
    QCOMPARE(m_server->lastRequest(QStringLiteral("/api/client/invoke")).queryItem(QStringLiteral("clientId")), guid);
    dialog.reset();
    configure({});
    auto again = openQrPage();
    QCOMPARE(storedGuid(), guid);
    QCOMPARE(m_server->lastRequest(QStringLiteral("/api/client/invoke")).queryItem(QStringLiteral("clientId")), guid);
}

void TestQrCode::registrationAddress_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("with /View/") << "/View/ClientLogin?clientId=";
    QTest::newRow("without /View/") << "";
}

void TestQrCode::registrationAddress()
{
    QFETCH(QString, suffix);
    configure({ { "setting/Info", QString(m_server->httpUrl() + suffix) }, { "setting/GUID", "fixed-client-id" } });
    info()->setGUID(QStringLiteral("fixed-client-id"));
    auto dialog = openQrPage();
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/client/invoke")), 1);
    QCOMPARE(m_server->lastRequest(QStringLiteral("/api/client/invoke")).target,
             QByteArray("/api/client/invoke?clientId=fixed-client-id"));
}

void TestQrCode::validityDecidesDisplay_data()
{
    QTest::addColumn<int>("expiresIn");
    QTest::addColumn<bool>("shown");
    QTest::newRow("300") << 300 << true;
    QTest::newRow("299") << 299 << false;
    QTest::newRow("301") << 301 << false;
    QTest::newRow("0") << 0 << false;
}

void TestQrCode::validityDecidesDisplay()
{
    QFETCH(int, expiresIn);
    QFETCH(bool, shown);
    m_server->updateState([&](FakeKestranaState& s) { s.qrExpiresIn = expiresIn; });

    Logging::startCapture();
    LoginDialog dialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    auto* timer = dialog.findChild<QTimer*>("qrPollTimer");
    const QString png = m_home->dataPath() + QStringLiteral("/QRcode.png");
    if (shown) {
        QTRY_VERIFY(timer->isActive());
        QVERIFY(QFile::exists(png));
        QCOMPARE(labelImage(dialog), QImage(png).convertToFormat(QImage::Format_RGB32));
    } else {
        QStringList lines;
        QTRY_VERIFY(
            (lines += Logging::takeCaptured(), lines.contains(QStringLiteral("###### 扫描二维码--获取过期时间失败"))));
        QVERIFY(!timer->isActive());
        QVERIFY(!QFile::exists(png));
        const QImage placeholder
            = QImage(QStringLiteral(":/img32/images/NOQR.bmp")).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(labelImage(dialog), placeholder);
    }
}

void TestQrCode::shownCodeCarriesInfoAndGuid()
{
    if (QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty()) {
        QSKIP("zbarimg (zbar-tools) is not installed; scripts/install-deps installs it");
    }
    auto dialog = openQrPage();
    const QImage shown(m_home->dataPath() + QStringLiteral("/QRcode.png"));
    QCOMPARE(decode(shown, m_home->path()), infoText() + storedGuid());
}

void TestQrCode::unscannedCodeKeepsPolling()
{
    auto dialog = openQrPage();
    Logging::startCapture();
    dialog->ScanLogin();
    QStringList lines;
    QTRY_VERIFY((lines += Logging::takeCaptured(),
                 lines.contains(QStringLiteral("###### ScanLogin account or password is empty"))));
    QVERIFY(m_server->requestCount(QStringLiteral("/api/client/account")) >= 1);
    QCOMPARE(m_server->lastRequest(QStringLiteral("/api/client/account")).queryItem(QStringLiteral("clientId")),
             storedGuid());
    QVERIFY(dialog->findChild<QTimer*>("qrPollTimer")->isActive());
    QVERIFY(!ClientParts::shared().session.isLogin());
}

void TestQrCode::scannedAccountLogsIn()
{
    auto dialog = openQrPage();
    QSignalSpy shown(dialog.get(), &LoginDialog::mainshow);
    m_server->markQrScanned(storedGuid(), QStringLiteral("alice"));
    dialog->ScanLogin();
    QTRY_COMPARE(shown.count(), 1);

    // The account logs in as a system-verified one, with the placeholder instead of the scanned password.
    const FakeRequest login = m_server->lastRequest(QStringLiteral("/Orvinaweb/BAS_ClientLoginNew/"));
    QCOMPARE(login.target,
             QByteArray("/Orvinaweb/BAS_ClientLoginNew/?Password=NTgzOTIw&ClientVersion=L1.0.0&Type=0"
                        "&UserID=&UserType=&AccountVerify=2&UserAccount=YWxpY2U%3D"));
    QVERIFY(ClientParts::shared().session.isLogin());
    QCOMPARE(info()->userName(), QStringLiteral("alice"));
    QCOMPARE(info()->password(), QStringLiteral("secret"));
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QVERIFY(!dialog->findChild<QTimer*>("qrPollTimer")->isActive());
    // The used code is replaced by the refresh picture.
    QCOMPARE(labelImage(*dialog),
             QImage(QCoreApplication::applicationDirPath() + QStringLiteral("/images/qrrefresh.bmp"))
                 .convertToFormat(QImage::Format_RGB32));
}

void TestQrCode::refusedScanLoginDrawsNewCode()
{
    auto dialog = openQrPage();
    m_server->updateState([](FakeKestranaState& s) {
        s.loginRefusal.code = 1;
        s.loginRefusal.message = QStringLiteral("The account is locked");
    });
    m_server->markQrScanned(storedGuid(), QStringLiteral("alice"));
    const int registrations = m_server->requestCount(QStringLiteral("/api/client/invoke"));
    dialog->ScanLogin();
    QList<Prompts::Record> seen;
    QTRY_VERIFY((seen += Prompts::takeCaptured(), !seen.isEmpty()));
    QCOMPARE(seen[0].text, QStringLiteral("The account is locked"));
    // The new code is registered without blocking; under load its request may reach the server a moment later.
    QTRY_VERIFY(m_server->requestCount(QStringLiteral("/api/client/invoke")) > registrations);
    QVERIFY(!ClientParts::shared().session.isLogin());
}

void TestQrCode::codeExpiresAfterTwoMinutes()
{
    auto dialog = openQrPage();
    auto* timer = dialog->findChild<QTimer*>("qrPollTimer");
    const QImage code = labelImage(*dialog);
    // 120 seconds at two seconds a poll: the 60th tick finds the code expired.
    for (int tick = 1; tick < 60; ++tick) {
        dialog->ScanLogin();
    }
    QVERIFY(timer->isActive());
    QCOMPARE(labelImage(*dialog), code);
    dialog->ScanLogin();
    QVERIFY(!timer->isActive());
    QCOMPARE(labelImage(*dialog),
             QImage(QCoreApplication::applicationDirPath() + QStringLiteral("/images/qrrefresh.bmp"))
                 .convertToFormat(QImage::Format_RGB32));
}

void TestQrCode::clickOnImageDrawsNewCode()
{
    auto dialog = openQrPage();
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    auto* label = dialog->findChild<ClickedLabel*>("qrImageLabel");
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/client/invoke")), 1);
    QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QTRY_COMPARE(m_server->requestCount(QStringLiteral("/api/client/invoke")), 2);
}

void TestQrCode::qrPageSwitches()
{
    auto dialog = openQrPage();
    dialog->show();
    auto* login = dialog->findChild<QWidget*>("frame_login");
    auto* qr = dialog->findChild<QWidget*>("frame_qr");
    auto* timer = dialog->findChild<QTimer*>("qrPollTimer");
    QVERIFY(qr->isVisible() && !login->isVisible());

    dialog->findChild<QPushButton*>("btnDesktop")->click();
    QVERIFY(login->isVisible() && !qr->isVisible());
    QVERIFY(!timer->isActive());

    const int registrations = m_server->requestCount(QStringLiteral("/api/client/invoke"));
    dialog->findChild<QPushButton*>("btnQr")->click();
    QVERIFY(qr->isVisible() && !login->isVisible());
    QTRY_VERIFY(timer->isActive());
    QCOMPARE(m_server->requestCount(QStringLiteral("/api/client/invoke")), registrations + 1);

    // With QR login switched off the page and its button are gone.
    dialog.reset();
    configure({ { "setting/ShowQR", false } });
    LoginDialog plain(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session, ClientParts::shared().api);
    plain.show();
    QVERIFY(!plain.findChild<QWidget*>("frame_qr")->isVisible());
    QVERIFY(!plain.findChild<QWidget*>("btnQr")->isVisible());
    QVERIFY(plain.findChild<QWidget*>("frame_login")->isVisible());
}

QTEST_MAIN(TestQrCode)
#include "tst_qrcode.moc"
