#include "ClientParts.h"
#include "FakeKestranaServer.h"
#include "PdfMaker.h"
#include "ScriptedJobHost.h"
#include "TestHome.h"
#include "api/KsKit.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "jobs/JobQueue.h"
#include "ui/NoCardPrintDialog.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

// The no-card print dialog on the lists the job intake fetches from the fake server: what it lists and what a
// choice hands back.
class TestNoCardDialog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void form();
    void listsNoCardPrintersAndProjects();
    void levelGroupFollowsSupportSecret_data();
    void levelGroupFollowsSupportSecret();
    void secondOfThreePrinters();
    void projectsWithTheSameName();
    void emptyListsWhenQueriesFail();
    void runChoice_data();
    void runChoice();
    void namesTheDocumentOfEachJob();

private:
    void loadSettings(bool supportSecret);
    // The lists the job intake fetches for the logged-in user, and the dialog built on them.
    static NoCardChoice fetched();
    static std::unique_ptr<NoCardPrintDialog> makeDialog();
    template <typename T> static T* child(QWidget* dialog, const char* name)
    {
        return dialog->findChild<T*>(QLatin1String(name));
    }

    QScopedPointer<TestHome> m_home;
    QScopedPointer<FakeKestranaServer> m_server;
};

void TestNoCardDialog::init()
{
    m_home.reset(new TestHome());
    FakeKestranaState state = FakeKestranaState::sample();
    state.devices.clear();
    FakeKestranaState::Device d;
    d.deviceName = QStringLiteral("Card Only");
    d.useCardReader = true;
    d.controllerMac = QStringLiteral("AA");
    state.devices << d;
    const char* names[] = { "Lobby", "Library", "Lab" };
    for (int i = 0; i < 3; ++i) {
        d.deviceName = QLatin1String(names[i]);
        d.useCardReader = false;
        d.location = QStringLiteral("Room %1").arg(i + 1);
        d.status = QStringLiteral("Ready %1").arg(i + 1);
        d.controllerMac = QStringLiteral("MAC-%1").arg(i + 1);
        state.devices << d;
    }
    m_server.reset(new FakeKestranaServer(state));
    QVERIFY(m_server->start());
    loadSettings(false);
}

void TestNoCardDialog::cleanup()
{
    m_server.reset();
    m_home.reset();
}

void TestNoCardDialog::loadSettings(bool supportSecret)
{
    QFile ini(m_home->iniPath());
    QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write(QByteArray("[Basic]\nVersion=1.0.0\n[Login]\nLoginName=alice\n[setting]\nsupportSecret=")
              + (supportSecret ? "true" : "false") + "\n");
    ini.close();
    LoginInfo* info = Singleton<LoginInfo>::getInstance();
    QCOMPARE(TestHome::loadAtStartUp(*info), 0);
    info->setKsServerUrl(m_server->httpUrl());
}

NoCardChoice TestNoCardDialog::fetched()
{
    KsKit kit(KsAccount::fromSettings(*Singleton<LoginInfo>::getInstance()), ClientParts::shared().network);
    NoCardChoice lists;
    lists.printers = kit.getPrinters(QStringLiteral("alice"), 0);
    lists.projects = kit.getProjects(QStringLiteral("alice"));
    lists.supportSecret = Singleton<LoginInfo>::getInstance()->supportSecret();
    return lists;
}

std::unique_ptr<NoCardPrintDialog> TestNoCardDialog::makeDialog()
{
    const NoCardChoice lists = fetched();
    return std::make_unique<NoCardPrintDialog>(lists.printers, lists.projects, lists.supportSecret);
}

void TestNoCardDialog::form()
{
    const std::unique_ptr<NoCardPrintDialog> built = makeDialog();
    NoCardPrintDialog& dialog = *built;
    QVERIFY(dialog.windowTitle().isEmpty());
    QVERIFY(dialog.minimumWidth() >= 500 && dialog.minimumHeight() >= 500);
    QCOMPARE(child<QRadioButton>(&dialog, "radioButton")->text(), QStringLiteral("Public"));
    QCOMPARE(child<QRadioButton>(&dialog, "radioButton_2")->text(), QStringLiteral("Secret3"));
    QCOMPARE(child<QRadioButton>(&dialog, "radioButton_3")->text(), QStringLiteral("Secret2"));
    QCOMPARE(child<QRadioButton>(&dialog, "radioButton_4")->text(), QStringLiteral("Secret1"));
    QVERIFY(child<QRadioButton>(&dialog, "radioButton")->isChecked());
    QCOMPARE(child<QPushButton>(&dialog, "pushButton_2")->text(), QStringLiteral("Yes"));
    QCOMPARE(child<QPushButton>(&dialog, "pushButton")->text(), QStringLiteral("No"));
    QVERIFY(child<QComboBox>(&dialog, "comboBoxPrinter")->minimumWidth() >= 294);
    QVERIFY(child<QComboBox>(&dialog, "comboBoxProject")->minimumWidth() >= 294);
    QStringList titles;
    for (const QGroupBox* group : dialog.findChildren<QGroupBox*>()) {
        titles << group->title();
    }
    titles.sort();
    QCOMPARE(titles, (QStringList { "Fee Projects", "No-Card Printers", "SecretLevel" }));

    // The user sees which document the choice is for, and whose window it is.
    dialog.setDocumentName(QStringLiteral("Quarterly report.pdf"));
    QCOMPARE(child<QLabel>(&dialog, "labelDocument")->text(), QStringLiteral("Document: Quarterly report.pdf"));
    QVERIFY(!child<QLabel>(&dialog, "labelDocument")->isHidden());
    QVERIFY(!dialog.windowIcon().isNull());
}

void TestNoCardDialog::listsNoCardPrintersAndProjects()
{
    const std::unique_ptr<NoCardPrintDialog> built = makeDialog();
    NoCardPrintDialog& dialog = *built;
    auto* printers = child<QComboBox>(&dialog, "comboBoxPrinter");
    auto* projects = child<QComboBox>(&dialog, "comboBoxProject");
    QCOMPARE(printers->count(), 3);
    QCOMPARE(printers->itemText(0), QStringLiteral("Lobby"));
    QCOMPARE(dialog.getKsPrinters().size(), 3);
    QCOMPARE(dialog.getKsPrinter().deviceName, QStringLiteral("Lobby"));
    QCOMPARE(child<QLabel>(&dialog, "labelLocation")->text(), QStringLiteral("Room 1"));
    QCOMPARE(child<QLabel>(&dialog, "labelStatus")->text(), QStringLiteral("Ready 1"));

    QCOMPARE(projects->count(), 2);
    QCOMPARE(projects->itemText(0), QStringLiteral("Research"));
    QCOMPARE(projects->itemData(0).toString(), QStringLiteral("12"));
    QCOMPARE(child<QLabel>(&dialog, "labelBalance")->text(), QStringLiteral("300.00"));
    projects->setCurrentIndex(1);
    QCOMPARE(child<QLabel>(&dialog, "labelBalance")->text(), QStringLiteral("0.50"));
    QCOMPARE(projects->accessibleDescription(), QStringLiteral("Balance: 0.50"));
    QCOMPARE(dialog.getKsProject().projectId, QStringLiteral("P-7"));

    const FakeRequest devices = m_server->lastRequest(QStringLiteral("/Device/BAS_DeviceStatusList"));
    QCOMPARE(devices.query, QByteArray("Type=0&UserAccount=alice"));
}

void TestNoCardDialog::levelGroupFollowsSupportSecret_data()
{
    QTest::addColumn<bool>("supportSecret");
    QTest::addColumn<QString>("click");
    QTest::addColumn<int>("level");
    QTest::newRow("off: no levels") << false << "" << 0;
    QTest::newRow("on: public") << true << "" << 1;
    QTest::newRow("on: Secret2") << true << "radioButton_3" << 3;
    QTest::newRow("on: Secret1") << true << "radioButton_4" << 4;
}

void TestNoCardDialog::levelGroupFollowsSupportSecret()
{
    QFETCH(bool, supportSecret);
    QFETCH(QString, click);
    QFETCH(int, level);
    loadSettings(supportSecret);
    const std::unique_ptr<NoCardPrintDialog> built = makeDialog();
    NoCardPrintDialog& dialog = *built;
    dialog.show();
    QCOMPARE(child<QGroupBox>(&dialog, "groupBoxSecretLevel")->isVisible(), supportSecret);
    if (!click.isEmpty()) {
        QTest::mouseClick(dialog.findChild<QRadioButton*>(click), Qt::LeftButton);
    }
    QCOMPARE(dialog.choice().securityLevel, level);
}

void TestNoCardDialog::secondOfThreePrinters()
{
    const std::unique_ptr<NoCardPrintDialog> built = makeDialog();
    NoCardPrintDialog& dialog = *built;
    auto* printers = child<QComboBox>(&dialog, "comboBoxPrinter");
    printers->setCurrentIndex(1);
    QCOMPARE(dialog.choice().controllerMac, QStringLiteral("MAC-2"));
    QCOMPARE(child<QLabel>(&dialog, "labelLocation")->text(), QStringLiteral("Room 2"));
    QCOMPARE(child<QLabel>(&dialog, "labelStatus")->text(), QStringLiteral("Ready 2"));
    // A screen reader on the list hears them too.
    QCOMPARE(printers->accessibleDescription(), QStringLiteral("Position: Room 2, Status: Ready 2"));
    printers->setCurrentIndex(2);
    QCOMPARE(dialog.choice().controllerMac, QStringLiteral("MAC-3"));
}

void TestNoCardDialog::projectsWithTheSameName()
{
    m_server->updateState([](FakeKestranaState& s) {
        s.projects.clear();
        s.projects.append({ QStringLiteral("1"), 5.0, QStringLiteral("Other") });
        s.projects.append({ QStringLiteral("2"), 10.0, QStringLiteral("Same") });
        s.projects.append({ QStringLiteral("3"), 20.0, QStringLiteral("Same") });
    });
    const std::unique_ptr<NoCardPrintDialog> built = makeDialog();
    NoCardPrintDialog& dialog = *built;
    auto* projects = child<QComboBox>(&dialog, "comboBoxProject");
    projects->setCurrentIndex(2);
    QCOMPARE(dialog.choice().projectId, QStringLiteral("2"));
    QCOMPARE(child<QLabel>(&dialog, "labelBalance")->text(), QStringLiteral("10.00"));
}

void TestNoCardDialog::emptyListsWhenQueriesFail()
{
    m_server->setOverride(QStringLiteral("/Device/BAS_DeviceStatusList"), FakeReply::html500());
    m_server->setOverride(QStringLiteral("/User/BAS_ProjectList"), FakeReply::html500());
    const std::unique_ptr<NoCardPrintDialog> built = makeDialog();
    NoCardPrintDialog& dialog = *built;
    QCOMPARE(child<QComboBox>(&dialog, "comboBoxPrinter")->count(), 0);
    QCOMPARE(child<QComboBox>(&dialog, "comboBoxProject")->count(), 0);
    QVERIFY(dialog.choice().controllerMac.isEmpty());
    QVERIFY(dialog.choice().projectId.isEmpty());
}

void TestNoCardDialog::runChoice_data()
{
    QTest::addColumn<QString>("how"); // yes, no, close
    QTest::addColumn<bool>("accepted");
    QTest::newRow("yes") << "yes" << true;
    QTest::newRow("no") << "no" << false;
    QTest::newRow("window closed") << "close" << false;
}

void TestNoCardDialog::runChoice()
{
    QFETCH(QString, how);
    QFETCH(bool, accepted);
    // Answer the dialog once it is the active modal window.
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, this, [&answer, how]() {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) {
            return;
        }
        answer.stop();
        if (how == QLatin1String("close")) {
            dialog->close();
            return;
        }
        dialog->findChild<QComboBox*>(QStringLiteral("comboBoxPrinter"))->setCurrentIndex(2);
        const char* button = how == QLatin1String("yes") ? "pushButton_2" : "pushButton";
        QTest::mouseClick(dialog->findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
    });
    answer.start();
    NoCardChoice choice = fetched();
    QCOMPARE(NoCardPrintDialog::runChoice(&choice), accepted);
    if (accepted) {
        QCOMPARE(choice.controllerMac, QStringLiteral("MAC-3"));
        QCOMPARE(choice.projectId, QStringLiteral("12"));
        QCOMPARE(choice.securityLevel, 0);
    }
}

namespace {
// The window's answer to the no-card question: the real dialog.
class DialogJobHost : public ScriptedJobHost
{
public:
    bool askNoCardChoice(NoCardChoice* choice) override { return NoCardPrintDialog::runChoice(choice); }
};
} // namespace

void TestNoCardDialog::namesTheDocumentOfEachJob()
{
    // Two printed jobs in one pass over the job folder: each dialog says which document it asks about.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QStringList names { QStringLiteral("Quarterly report.pdf"), QStringLiteral("Minutes 12 May.pdf") };
    for (int i = 0; i < names.size(); ++i) {
        QFile param(folder.filePath(QStringLiteral("job%1").arg(i))), pdf(param.fileName() + QStringLiteral(".pdf"));
        QVERIFY(param.open(QIODevice::WriteOnly) && pdf.open(QIODevice::WriteOnly));
        param.write("[PrintPara]\nDocName=/home/alice/Documents/" + names.at(i).toUtf8() + "\n");
        pdf.write(PdfMaker::make(1));
    }
    DialogJobHost host;
    host.server = m_server->httpUrl();
    host.options.folder = { QStringLiteral("test settings"), folder.path() };
    QStringList shown;
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, this, [&shown]() {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) {
            return;
        }
        const QLabel* label = dialog->findChild<QLabel*>(QStringLiteral("labelDocument"));
        shown << (label && !label->isHidden() ? label->text() : QString());
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("pushButton_2")), Qt::LeftButton);
    });
    answer.start();

    JobQueue queue(&host);
    QVERIFY(queue.initJobControlOption());
    queue.timerCallback();
    const QList<FakeRequest> announced = m_server->requestsTo(QStringLiteral("/Job/BAS_SubmitPrintJob"));
    QCOMPARE(announced.size(), names.size());
    for (const FakeRequest& request : announced) {
        QVERIFY(request.body.contains("&ControllerMac=MAC-1&"));
    }
    QCOMPARE(shown,
             (QStringList { QStringLiteral("Document: Quarterly report.pdf"),
                            QStringLiteral("Document: Minutes 12 May.pdf") }));
}

QTEST_MAIN(TestNoCardDialog)
#include "tst_nocarddialog.moc"
