#include "ClientParts.h"
// Windows on a small screen at 200 % scale: every window and dialog, and every button in it, stays on the
// screen's available area. The offscreen screen is 800 x 600 pixels, 400 x 300 at this scale.
#include "FakeKestranaServer.h"
#include "TestHome.h"
#include "WindowFixture.h"
#include "api/KsKit.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"
#include "ui/NoCardPrintDialog.h"
#include "ui/ScreenFit.h"
#include "ui/ServerDialog.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>

class TestScreenFit : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windowsFit_data();
    void windowsFit();

private:
    TestHome m_home;
    std::unique_ptr<FakeKestranaServer> m_server;
};

void TestScreenFit::init()
{
    m_server = std::make_unique<FakeKestranaServer>(FakeKestranaState::sample());
    QVERIFY(m_server->start());
    WindowFixture::beginCase(m_home);
}

void TestScreenFit::cleanup()
{
    WindowFixture::endCase();
    m_server.reset();
}

void TestScreenFit::windowsFit_data()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("main window") << "main";
    QTest::newRow("login dialog") << "login";
    QTest::newRow("no-card dialog") << "nocard";
    QTest::newRow("server chooser") << "servers";
}

void TestScreenFit::windowsFit()
{
    QFETCH(QString, window);
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(area.width() <= 400 && area.height() <= 300);

    std::unique_ptr<MainWindow> main;
    std::unique_ptr<QWidget> dialog;
    QWidget* shown = nullptr;
    if (window == QLatin1String("main")) {
        main = WindowFixture::openWindow(m_server->httpUrl());
        QVERIFY(main);
        shown = main.get();
    } else {
        QVERIFY(WindowFixture::loadSettings(m_server->httpUrl(), { { "setting/supportSecret", true } }));
        if (window == QLatin1String("login")) {
            auto* login = new LoginDialog(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session,
                                          ClientParts::shared().api);
            ScreenFit::fit(login);
            dialog.reset(login);
        } else if (window == QLatin1String("nocard")) {
            // The lists as the job intake would fetch them.
            KsKit kit(KsAccount::fromSettings(*Singleton<LoginInfo>::getInstance()), ClientParts::shared().network);
            const QString account = Singleton<LoginInfo>::getInstance()->userName();
            auto* noCard = new NoCardPrintDialog(kit.getPrinters(account, 0), kit.getProjects(account), true);
            noCard->setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint);
            noCard->setDocumentName(QStringLiteral("A document with a rather long name.pdf"));
            dialog.reset(noCard);
        } else {
            dialog = std::make_unique<ServerDialog>(ClientParts::shared().api,
                                                    Singleton<LoginInfo>::getInstance()->ksServerUrl());
        }
        shown = dialog.get();
    }
    shown->show();
    QVERIFY(QTest::qWaitForWindowExposed(shown));

    const auto text = [](const QRect& r) {
        return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    };
    QVERIFY2(area.contains(shown->frameGeometry()),
             qPrintable(QString(text(shown->frameGeometry()) + " outside " + text(area))));
    const QRect inside(shown->mapToGlobal(QPoint(0, 0)), shown->size());
    for (QPushButton* button : shown->findChildren<QPushButton*>()) {
        if (!button->isVisibleTo(shown) || !button->window()->isVisible() || button->window() != shown) {
            continue;
        }
        const QRect rect(button->mapToGlobal(QPoint(0, 0)), button->size());
        QVERIFY2(inside.contains(rect) && area.contains(rect),
                 qPrintable(QString(button->objectName() + " at " + text(rect))));
    }
}

int main(int argc, char** argv)
{
    // Before the application object: Qt reads the scale once.
    qputenv("QT_SCALE_FACTOR", "2");
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    TestScreenFit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_screenfit.moc"
