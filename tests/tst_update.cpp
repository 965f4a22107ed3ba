// The system tab: installed version, the update check, and the package download to a chosen file.
#include "ui_MainWindow.h"

#include "FakeKestranaServer.h"
#include "TestHome.h"
#include "WindowFixture.h"
#include "ui/FileTransfer.h"
#include "ui/MainWindow.h"
#include "ui/Prompts.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Clicks "check for updates" and waits until the server's answer shows in the tip.
void clickCheckUpdate(Ui::MainWindow* ui)
{
    const QString before = ui->labVerUpdateTip->text();
    QTest::mouseClick(ui->btnCheckUpdate, Qt::LeftButton);
    QTRY_VERIFY(ui->labVerUpdateTip->text() != before);
}
} // namespace

class TestUpdate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void systemTab();
    void checkUpdate_data();
    void checkUpdate();
    void downloadPackage();
    void downloadNotStarted_data();
    void downloadNotStarted();
    void downloadFails();

private:
    std::unique_ptr<MainWindow> makeWindow();

    TestHome m_home;
    std::unique_ptr<FakeKestranaServer> m_server;
};

void TestUpdate::init()
{
    m_server = std::make_unique<FakeKestranaServer>(FakeKestranaState::sample());
    QVERIFY(m_server->start());
    WindowFixture::beginCase(m_home);
}

void TestUpdate::cleanup()
{
    WindowFixture::endCase();
    m_server.reset();
}

std::unique_ptr<MainWindow> TestUpdate::makeWindow()
{
    return WindowFixture::openWindow(m_server->httpUrl());
}

void TestUpdate::systemTab()
{
    auto window = makeWindow();
    QVERIFY(window);
    Ui::MainWindow* ui = window->form();
    QCOMPARE(ui->labCheckVersion->text(),
             QStringLiteral("Click Check for updates to detect the latest version! 1.0.0"));
    QCOMPARE(ui->labVerUpdateTip->text(), QStringLiteral("Click Check for updates to detect the latest version!"));
    QVERIFY(!ui->btnAutoUpdate->isEnabled());
    QVERIFY(ui->btnCheckUpdate->isEnabled());
}

void TestUpdate::checkUpdate_data()
{
    QTest::addColumn<QString>("latest"); // empty: the check fails
    QTest::addColumn<bool>("offered");
    QTest::newRow("newer") << "1.2.0" << true;
    QTest::newRow("1.1.1") << "1.1.1" << false;
    QTest::newRow("containing 1.1.1") << "2.1.1.1" << false;
    QTest::newRow("installed version") << "1.0.0" << false;
    QTest::newRow("check failed") << "" << false;
}

void TestUpdate::checkUpdate()
{
    QFETCH(QString, latest);
    QFETCH(bool, offered);
    if (latest.isEmpty()) {
        m_server->setOverride(QStringLiteral("/Orvinaweb/BAS_CheckClientUpdate_New"), FakeReply::html500());
    } else {
        m_server->updateState([&](FakeKestranaState& s) { s.latestClientVersion = latest; });
    }
    auto window = makeWindow();
    QVERIFY(window);
    Ui::MainWindow* ui = window->form();

    clickCheckUpdate(ui);

    QCOMPARE(m_server->lastRequest(QStringLiteral("/Orvinaweb/BAS_CheckClientUpdate_New")).query,
             QByteArray("UserAccount=alice&type=3&SysType=amd"));
    QCOMPARE(ui->btnAutoUpdate->isEnabled(), offered);
    QVERIFY(ui->btnCheckUpdate->isEnabled());
    if (offered) {
        QCOMPARE(ui->labVerUpdateTip->text(),
                 QStringLiteral("Checked the latest version: %1 , click “automatic update” to upgrade the software!")
                     .arg(latest));
    } else {
        QCOMPARE(ui->labVerUpdateTip->text(),
                 QStringLiteral("Click Check for updates to check for the latest version!"));
    }
}

void TestUpdate::downloadPackage()
{
    auto window = makeWindow();
    QVERIFY(window);
    Ui::MainWindow* ui = window->form();
    clickCheckUpdate(ui);
    QVERIFY(ui->btnAutoUpdate->isEnabled());
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("pkg.deb"));
    QString proposed;
    window->downloads()->setSaveFileChooser([&](const QString& name) {
        proposed = name;
        return target;
    });
    QSignalSpy finished(window->downloads(), &FileTransfer::finished);
    Prompts::takeCaptured();

    QTest::mouseClick(ui->btnAutoUpdate, Qt::LeftButton);

    QCOMPARE(proposed, QStringLiteral("KSClient_Setup.deb"));
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(finished.first().first().toBool());
    QFile saved(target);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), m_server->state().clientPackage);
    QCOMPARE(m_server->lastRequest(QStringLiteral("/MyJob/ResponseDownLoad")).query, QByteArray("type=3&SysType=amd"));
    // The user is told where the package is and may open its folder.
    const auto boxes = Prompts::takeCaptured();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text,
             QStringLiteral("The installation package was saved as\n%1\nDo you want to open its folder?").arg(target));
    QVERIFY(!ui->progressBar->isVisibleTo(window.get()));
}

void TestUpdate::downloadNotStarted_data()
{
    QTest::addColumn<bool>("cancelled");
    QTest::newRow("dialog cancelled") << true;
    QTest::newRow("path cannot be written") << false;
}

void TestUpdate::downloadNotStarted()
{
    QFETCH(bool, cancelled);
    auto window = makeWindow();
    QVERIFY(window);
    QTemporaryDir dir;
    const QString unwritable = dir.filePath(QStringLiteral("missing-folder/pkg.deb"));
    window->downloads()->setSaveFileChooser([&](const QString&) { return cancelled ? QString() : unwritable; });
    clickCheckUpdate(window->form());
    Prompts::takeCaptured();

    QTest::mouseClick(window->form()->btnAutoUpdate, Qt::LeftButton);

    QCOMPARE(m_server->requestCount(QStringLiteral("/MyJob/ResponseDownLoad")), 0);
    QVERIFY(!QFile::exists(unwritable));
    QVERIFY(!window->form()->progressBar->isVisibleTo(window.get()));
    // A file that cannot be written is reported, not only logged.
    const auto boxes = Prompts::takeCaptured();
    QCOMPARE(boxes.size(), cancelled ? 0 : 1);
    if (!cancelled) {
        QVERIFY(boxes.first().text.startsWith(QStringLiteral("Cannot write the file %1:").arg(unwritable)));
    }
}

void TestUpdate::downloadFails()
{
    m_server->setOverride(QStringLiteral("/MyJob/ResponseDownLoad"), FakeReply::html(404, "<html>gone</html>"));
    auto window = makeWindow();
    QVERIFY(window);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("pkg.deb"));
    window->downloads()->setSaveFileChooser([&](const QString&) { return target; });
    clickCheckUpdate(window->form());
    QSignalSpy finished(window->downloads(), &FileTransfer::finished);
    Prompts::takeCaptured();

    QTest::mouseClick(window->form()->btnAutoUpdate, Qt::LeftButton);

    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(!finished.first().first().toBool());
    QVERIFY(!QFile::exists(target));
    const auto boxes = Prompts::takeCaptured();
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes.first().text.startsWith(QStringLiteral("Download failed!")));
}

QTEST_MAIN(TestUpdate)
#include "tst_update.moc"
