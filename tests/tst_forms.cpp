#include "ui_MainWindow.h"

#include "ui/ClickedLabel.h"
#include "ui/CustomTableView.h"
#include "ui/Prompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QImageReader>
#include <QMainWindow>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QTimer>

namespace {
QStringList s_warnings;
QtMessageHandler s_previousHandler = nullptr;

void collectWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // The offscreen platform's own notice is not about the style sheet.
    if ((type == QtWarningMsg || type == QtCriticalMsg) && !message.contains(QLatin1String("propagateSizeHints"))) {
        s_warnings.append(message);
    }
    if (s_previousHandler) {
        s_previousHandler(type, context, message);
    }
}

// How much of an icon is actually drawn: the summed alpha of its pixels, as a share of the full square.
double inkShare(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    double sum = 0;
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            sum += qAlpha(argb.pixel(x, y));
        }
    }
    return sum / (255.0 * argb.width() * argb.height());
}

QImage iconImage(const QIcon& icon, QIcon::State state)
{
    return icon.pixmap(QSize(32, 32), QIcon::Normal, state).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage resourceImage(const QString& name)
{
    return QImage(QStringLiteral(":/img32/images/") + name).convertToFormat(QImage::Format_ARGB32_Premultiplied);
}
} // namespace

class TestForms : public QObject
{
    Q_OBJECT

private slots:
    void mainWindowFrame();
    void tabs_data();
    void tabs();
    void widgetTexts_data();
    void widgetTexts();
    void basicInfoGrid_data();
    void basicInfoGrid();
    void statusStrip();

    void formImages_data();
    void formImages();
    void runtimeImages_data();
    void runtimeImages();
    void styleSheet();

    void clickedLabel();
    void tableSpreadsNarrowColumns();
    void tableKeepsWideColumns();
    void tableRowHeights();

    void promptLooksAsAgreed();
    void promptCaptureAndAnswers();
};

void TestForms::mainWindowFrame()
{
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Kestrana Client"));
    QCOMPARE(window.size(), QSize(811, 520));
    QCOMPARE(window.sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(window.sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    QVERIFY(window.isAnimated());
    QCOMPARE(window.centralWidget(), ui.centralwidget);
    QCOMPARE(window.menuBar(), ui.menubar);
    QCOMPARE(window.statusBar(), ui.statusbar);
    QCOMPARE(ui.gridLayout->spacing(), 0);
    QCOMPARE(ui.gridLayout->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(ui.frame_2->frameShape(), QFrame::StyledPanel);
    QCOMPARE(ui.frame_2->frameShadow(), QFrame::Raised);
    QCOMPARE(ui.gridLayout_2->contentsMargins(), QMargins(0, 0, 0, 0));

    QCOMPARE(ui.tabWidget->tabPosition(), QTabWidget::North);
    QCOMPARE(ui.tabWidget->tabShape(), QTabWidget::Rounded);
    QCOMPARE(ui.tabWidget->iconSize(), QSize(16, 16));
    QCOMPARE(ui.tabWidget->elideMode(), Qt::ElideNone);
    QVERIFY(ui.tabWidget->usesScrollButtons());
    QCOMPARE(ui.tabWidget->currentIndex(), 0);
    QCOMPARE(ui.tabWidget->count(), 7);
}

void TestForms::tabs_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("table");

    QTest::newRow("jobs") << 0 << "tabJobs" << "Jobs" << "file" << "tvJobs";
    QTest::newRow("devices") << 1 << "tabDevices" << "Devices" << "printer" << "tvDevices";
    QTest::newRow("scan jobs") << 2 << "tabScanJobs" << "ScanJobs" << "scan_job" << "tvScanJobs";
    QTest::newRow("user") << 3 << "tabUserInfo" << "UserInfo" << "userinfo" << "";
    QTest::newRow("system") << 4 << "tabSystemInfo" << "SystemInfo" << "version" << "";
    QTest::newRow("server") << 5 << "tabServerInfo" << "ServerInfo" << "server" << "tvServerInfo";
    QTest::newRow("messages") << 6 << "tabMessages" << "Messages" << "message" << "tvMsg";
}

void TestForms::tabs()
{
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, image);
    QFETCH(QString, table);

    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);

    QWidget* page = ui.tabWidget->widget(index);
    QCOMPARE(page->objectName(), name);
    QCOMPARE(ui.tabWidget->tabText(index), caption);

    // The current tab shows the plain image, the others the "_h" one.
    const QIcon icon = ui.tabWidget->tabIcon(index);
    QCOMPARE(iconImage(icon, QIcon::On), resourceImage(image + QStringLiteral(".png")));
    QCOMPARE(iconImage(icon, QIcon::Off), resourceImage(image + QStringLiteral("_h.png")));
    QVERIFY(iconImage(icon, QIcon::On) != iconImage(icon, QIcon::Off));

    if (!table.isEmpty()) {
        auto* view = page->findChild<QTableView*>(table);
        QVERIFY2(view, qPrintable(table));
    }
}

void TestForms::widgetTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");

    const QString tip = QStringLiteral("Click Check for updates to check for the latest version\uff01");
    QTest::newRow("btnDelete") << "btnDelete" << "QPushButton" << "Delete";
    QTest::newRow("btnPinCode") << "btnPinCode" << "QPushButton" << "generate pin code";
    QTest::newRow("label") << "label" << "QLabel" << "Pin Code:";
    QTest::newRow("labPinCode") << "labPinCode" << "QLabel" << "";
    QTest::newRow("label_txt") << "label_txt" << "QLabel" << "Expiration time:";
    QTest::newRow("labExpTime") << "labExpTime" << "QLabel" << "";
    QTest::newRow("labGenState") << "labGenState" << "QLabel" << "";
    QTest::newRow("labPinCodeState") << "labPinCodeState" << "QLabel" << "";
    QTest::newRow("btnDeleteScanJob") << "btnDeleteScanJob" << "QPushButton" << "Delete";
    QTest::newRow("btnDownloadSj") << "btnDownloadSj" << "QPushButton" << "Download";
    QTest::newRow("groupBox") << "groupBox" << "QGroupBox" << "BasicInfo";
    QTest::newRow("groupBox_2") << "groupBox_2" << "QGroupBox" << "PrintPermission";
    QTest::newRow("chkIsAllowPrintColor") << "chkIsAllowPrintColor" << "QCheckBox" << "AllowPrintColor";
    QTest::newRow("chkPrintDateLimit") << "chkPrintDateLimit" << "QCheckBox" << "PrintDateLimit";
    QTest::newRow("chkPrintTimeLimit") << "chkPrintTimeLimit" << "QCheckBox" << "PrintTimeLimit";
    QTest::newRow("groupBox_4") << "groupBox_4" << "QGroupBox" << "SoftwareUpdate";
    QTest::newRow("labCheckVersion") << "labCheckVersion" << "QLabel" << tip;
    QTest::newRow("btnCheckUpdate") << "btnCheckUpdate" << "QPushButton" << "CheckUpdate";
    QTest::newRow("labVerUpdateTip") << "labVerUpdateTip" << "QLabel" << tip;
    QTest::newRow("btnAutoUpdate") << "btnAutoUpdate" << "QPushButton" << "AutoUpdate";
    QTest::newRow("btnSwitchServer") << "btnSwitchServer" << "QPushButton" << "SwitchServer";
    QTest::newRow("btnDeleteMsg") << "btnDeleteMsg" << "QPushButton" << "Delete";
    QTest::newRow("btnClear") << "btnClear" << "QPushButton" << "Clear";
    QTest::newRow("label_2") << "label_2" << "QLabel" << "Current user:";
    QTest::newRow("labCurrentUser") << "labCurrentUser" << "QLabel" << "TextLabel";
    QTest::newRow("label_3") << "label_3" << "QLabel" << "Current server:";
    QTest::newRow("labServerPath") << "labServerPath" << "QLabel" << "TextLabel";
    QTest::newRow("btnRefresh") << "btnRefresh" << "QPushButton" << "Refresh";
    QTest::newRow("labNetwork") << "labNetwork" << "QLabel" << "";
    QTest::newRow("btnLogout") << "btnLogout" << "QPushButton" << "Logout";
    QTest::newRow("progressBar") << "progressBar" << "QProgressBar" << "";
    QTest::newRow("txtUserGroup") << "txtUserGroup" << "QLineEdit" << "";
    QTest::newRow("txtEmail") << "txtEmail" << "QLineEdit" << "";
}

void TestForms::widgetTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, text);

    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);

    QWidget* widget = window.findChild<QWidget*>(name);
    QVERIFY2(widget, qPrintable(name));
    QVERIFY2(widget->inherits(className.toLatin1().constData()), widget->metaObject()->className());
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        QCOMPARE(button->text(), text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        QCOMPARE(label->text(), text);
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        QCOMPARE(group->title(), text);
    }
}

void TestForms::basicInfoGrid_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");

    const char* names[3][4] = {{"lblWelcome_2", "txtUserGroup", "lblWelcome_5", "txtCardNumber"},
                               {"labBalance", "txtBalance", "labSpend", "txtSpend"},
                               {"label_4", "txtTelNumber", "label_5", "txtEmail"}};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            QTest::newRow(names[r][c]) << QString::fromLatin1(names[r][c]) << r << c;
        }
    }
}

void TestForms::basicInfoGrid()
{
    QFETCH(QString, name);
    QFETCH(int, row);
    QFETCH(int, column);

    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    QWidget* widget = window.findChild<QWidget*>(name);
    QVERIFY(widget);
    const int index = ui.gridLayout_7->indexOf(widget);
    QVERIFY(index >= 0);
    int r = -1, c = -1, rs = 0, cs = 0;
    ui.gridLayout_7->getItemPosition(index, &r, &c, &rs, &cs);
    QCOMPARE(r, row);
    QCOMPARE(c, column);
}

void TestForms::statusStrip()
{
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);

    QCOMPARE(ui.gridLayout_17->spacing(), 6);
    QCOMPARE(ui.gridLayout_17->contentsMargins().left(), 10);
    QCOMPARE(ui.gridLayout_17->contentsMargins().top(), 0);
    QCOMPARE(ui.gridLayout_17->contentsMargins().bottom(), 0);
    for (QLabel* label : std::initializer_list<QLabel*> {ui.label_2, ui.labCurrentUser, ui.label_3, ui.labServerPath}) {
        QCOMPARE(label->font().pointSize(), 9);
    }
    QVERIFY(ui.labServerPath->minimumWidth() >= 150);
    // The state labels take their colours at run time, from the palette they stand on (tst_readable).
    for (QLabel* label : std::initializer_list<QLabel*> {ui.labNetwork, ui.labPinCode, ui.labGenState,
                                                          ui.labPinCodeState}) {
        QVERIFY2(!label->styleSheet().contains(QLatin1String("color")), qPrintable(label->objectName()));
    }

    // Left to right: the user/server grid, then refresh, network notice, logout and progress.
    QStringList order;
    for (int i = 0; i < ui.horizontalLayout_2->count(); ++i) {
        if (QWidget* w = ui.horizontalLayout_2->itemAt(i)->widget()) {
            order << w->objectName();
        }
    }
    QCOMPARE(order, QStringList({"btnRefresh", "labNetwork", "btnLogout", "progressBar"}));
    QCOMPARE(ui.horizontalLayout_2->itemAt(0)->layout(), ui.gridLayout_17);

    // The pin-code frame: one row, in this order.
    QStringList pinRow;
    for (int i = 0; i < ui.gridLayout_16->count(); ++i) {
        int r = 0, c = 0, rs = 0, cs = 0;
        ui.gridLayout_16->getItemPosition(i, &r, &c, &rs, &cs);
        QCOMPARE(r, 0);
        pinRow << ui.gridLayout_16->itemAt(i)->widget()->objectName();
    }
    QCOMPARE(pinRow, QStringList({"btnPinCode", "label", "labPinCode", "label_txt", "labExpTime", "labGenState",
                                  "labPinCodeState"}));
}

void TestForms::formImages_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");

    const QStringList icons = {"file", "printer", "scan_job", "userinfo", "version", "server", "message",
                               "desktop", "qrcode"};
    for (const QString& n : icons) {
        QTest::newRow(qPrintable(n)) << n + QStringLiteral(".png") << QSize(32, 32);
        QTest::newRow(qPrintable(n + QStringLiteral("_h"))) << n + QStringLiteral("_h.png") << QSize(32, 32);
    }
    for (const char* n : {"account.png", "close.png", "close_w.png", "down.png", "more.png", "lock.png"}) {
        QTest::newRow(n) << QString::fromLatin1(n) << QSize(32, 32);
    }
    QTest::newRow("NOQR.bmp") << "NOQR.bmp" << QSize(200, 200);
    QTest::newRow("qrrefresh.bmp") << "qrrefresh.bmp" << QSize(200, 200);
    QTest::newRow("1.jpg") << "1.jpg" << QSize();
    QTest::newRow("11.jpg") << "11.jpg" << QSize();
    QTest::newRow("logo32.ico") << "logo32.ico" << QSize();
    QTest::newRow("logo64.ico") << "logo64.ico" << QSize();
    QTest::newRow("logo128.ico") << "logo128.ico" << QSize();
}

void TestForms::formImages()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);

    const QImage image = resourceImage(name);
    QVERIFY2(!image.isNull(), qPrintable(name));
    if (size.isValid()) {
        QCOMPARE(image.size(), size);
    }
    if (size == QSize(32, 32)) {
        // Legible at 16 px: scaled down, the glyph still covers a visible part of the square, but not all of it.
        const QImage small = image.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const double ink = inkShare(small);
        QVERIFY2(ink > 0.05 && ink < 0.6, qPrintable(QStringLiteral("%1 ink %2").arg(name).arg(ink)));
    }
}

void TestForms::runtimeImages_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("largest");

    QTest::newRow("logo32.ico") << "logo32.ico" << 32;
    QTest::newRow("logo64.ico") << "logo64.ico" << 64;
    QTest::newRow("logo128.ico") << "logo128.ico" << 128;
    QTest::newRow("qrrefresh.bmp") << "qrrefresh.bmp" << 200;
}

void TestForms::runtimeImages()
{
    QFETCH(QString, name);
    QFETCH(int, largest);

    // The window, the tray and the QR page read these from the program's own directory.
    QImageReader reader(QStringLiteral(HALCYRA_BIN_DIR "/images/") + name);
    QVERIFY2(reader.canRead(), qPrintable(reader.fileName()));
    int biggest = 0;
    bool hasSmall = false;
    const int count = qMax(1, reader.imageCount());
    for (int i = 0; i < count; ++i) {
        QVERIFY(reader.jumpToImage(i) || i == 0);
        const QImage image = reader.read();
        QVERIFY(!image.isNull());
        biggest = qMax(biggest, image.width());
        hasSmall = hasSmall || image.width() <= 16;
    }
    QCOMPARE(biggest, largest);
    if (name.endsWith(QLatin1String(".ico"))) {
        QVERIFY2(hasSmall, "a 16 px image for title bars and the tray");
    }
}

void TestForms::styleSheet()
{
    QFile file(QStringLiteral(":/qss/flatwhite.css"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString css = QString::fromUtf8(file.readAll());
    QVERIFY(css.contains(QLatin1String("QTabBar::tab:selected")));

    // Every image the sheet names is in the resources.
    const QRegularExpression url(QStringLiteral("url\\(([^)]+)\\)"));
    int images = 0;
    for (auto it = url.globalMatch(css); it.hasNext();) {
        const QString path = it.next().captured(1);
        QVERIFY2(!QImage(path).isNull(), qPrintable(path));
        ++images;
    }
    QVERIFY(images >= 4);

    // The sheet parses: applying it to a form raises no warning.
    s_warnings.clear();
    s_previousHandler = qInstallMessageHandler(collectWarnings);
    {
        QMainWindow window;
        Ui::MainWindow ui;
        ui.setupUi(&window);
        window.setStyleSheet(css);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.grab();
    }
    qInstallMessageHandler(s_previousHandler);
    QVERIFY2(s_warnings.isEmpty(), qPrintable(s_warnings.join(QLatin1Char('\n'))));
}

void TestForms::clickedLabel()
{
    ClickedLabel label;
    label.resize(100, 40);
    label.show();
    QVERIFY(QTest::qWaitForWindowExposed(&label));
    QSignalSpy spy(&label, &ClickedLabel::clicked);

    QTest::mouseClick(&label, Qt::LeftButton, Qt::NoModifier, QPoint(50, 20));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<ClickedLabel*>(), &label);

    QTest::mouseClick(&label, Qt::RightButton, Qt::NoModifier, QPoint(10, 10));
    QCOMPARE(spy.count(), 2);

    // Pressed on the label but released outside it: no click.
    QTest::mousePress(&label, Qt::LeftButton, Qt::NoModifier, QPoint(50, 20));
    QTest::mouseRelease(&label, Qt::LeftButton, Qt::NoModifier, QPoint(150, 80));
    QCOMPARE(spy.count(), 2);
}

void TestForms::tableSpreadsNarrowColumns()
{
    QStandardItemModel model(2, 3);
    model.setHorizontalHeaderLabels({"A", "B", "C"});
    model.setItem(0, 0, new QStandardItem(QStringLiteral("x")));
    model.setItem(0, 1, new QStandardItem(QStringLiteral("yy")));
    model.setItem(0, 2, new QStandardItem(QStringLiteral("zzz")));

    CustomTableView view;
    view.setModel(&model);
    view.resize(640, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QHeaderView* header = view.horizontalHeader();
    int sum = 0;
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(header->sectionResizeMode(i), QHeaderView::Interactive);
        sum += header->sectionSize(i);
    }
    // The columns fill the whole width exactly, so there is nothing to scroll to.
    QCOMPARE(sum, header->width());
    QCOMPARE(view.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(header->sectionSize(0) > 60);

    // Resizing fits them again.
    view.resize(900, 300);
    QTRY_COMPARE(header->sectionSize(0) + header->sectionSize(1) + header->sectionSize(2), header->width());
}

void TestForms::tableKeepsWideColumns()
{
    QStandardItemModel model(1, 2);
    model.setItem(0, 0, new QStandardItem(QString(120, QLatin1Char('w'))));
    model.setItem(0, 1, new QStandardItem(QString(120, QLatin1Char('w'))));

    CustomTableView view;
    view.setModel(&model);
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QHeaderView* header = view.horizontalHeader();
    QVERIFY(header->sectionSize(0) + header->sectionSize(1) > header->width());
    QCOMPARE(view.horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    QVERIFY(view.horizontalScrollBar()->maximum() > 0);
}

void TestForms::tableRowHeights()
{
    QStandardItemModel few(2, 1);
    CustomTableView roomy;
    roomy.setModel(&few);
    roomy.resize(300, 400);
    roomy.show();
    QVERIFY(QTest::qWaitForWindowExposed(&roomy));
    // Plenty of room: rows stay at the 30 pixel maximum instead of stretching.
    QCOMPARE(roomy.verticalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    QCOMPARE(roomy.rowHeight(0), CustomTableView::kMaxRowHeight);
    QCOMPARE(roomy.rowHeight(1), CustomTableView::kMaxRowHeight);

    QStandardItemModel many(40, 1);
    CustomTableView crowded;
    crowded.setModel(&many);
    crowded.resize(300, 200);
    crowded.show();
    QVERIFY(QTest::qWaitForWindowExposed(&crowded));
    QCOMPARE(crowded.verticalHeader()->sectionResizeMode(0), QHeaderView::Stretch);
    for (int row : {0, 20, 39}) {
        QVERIFY(crowded.rowHeight(row) >= CustomTableView::kMinRowHeight);
        QVERIFY(crowded.rowHeight(row) <= CustomTableView::kMaxRowHeight);
    }
}

void TestForms::promptLooksAsAgreed()
{
    QString title;
    QString button;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, this, [&]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        icon = box->icon();
        button = box->button(QMessageBox::Ok)->text();
        box->button(QMessageBox::Ok)->click();
    });
    Prompts::warning(nullptr, QStringLiteral("login name is not empty"));
    QCOMPARE(title, QStringLiteral("Title"));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(button, QStringLiteral("Yes"));

    QTimer::singleShot(0, this, [&]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        QVERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint);
        box->button(QMessageBox::Yes)->click();
    });
    QVERIFY(Prompts::question(nullptr, QStringLiteral("Confirmation"), QStringLiteral("Print in colour?"),
                              QStringLiteral("Yes"), QStringLiteral("No")));
    QCOMPARE(title, QStringLiteral("Confirmation"));

    QTimer::singleShot(0, this, [&]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        box->reject();
    });
    // Closed without a choice counts as "No".
    QCOMPARE(Prompts::question(nullptr, QStringLiteral("Discard the job?")), QMessageBox::No);
    QCOMPARE(title, QStringLiteral("Confirmation"));
}

void TestForms::promptCaptureAndAnswers()
{
    Prompts::startCapture();
    Prompts::error(nullptr, QStringLiteral("Unable to link server"));
    Prompts::setNextAnswer(QMessageBox::Yes);
    QCOMPARE(Prompts::question(nullptr, QStringLiteral("Submit?")), QMessageBox::Yes);
    QCOMPARE(Prompts::question(nullptr, QStringLiteral("Again?")), QMessageBox::No);
    Prompts::notify(nullptr, QStringLiteral("Please log in to the print client"));

    const QList<Prompts::Record> shown = Prompts::takeCaptured();
    Prompts::stopCapture();
    QCOMPARE(shown.size(), 4);
    QCOMPARE(shown[0].title, QStringLiteral("Error"));
    QCOMPARE(shown[0].icon, QMessageBox::Warning);
    QCOMPARE(shown[0].text, QStringLiteral("Unable to link server"));
    QCOMPARE(shown[1].title, QStringLiteral("Confirmation"));
    QCOMPARE(shown[1].answer, QMessageBox::Yes);
    QCOMPARE(shown[2].answer, QMessageBox::No);
    QCOMPARE(shown[3].title, QStringLiteral("Title"));
    QCOMPARE(shown[3].icon, QMessageBox::Information);
    QVERIFY(!shown[3].modal);
    QVERIFY(QApplication::topLevelWidgets().isEmpty() || QApplication::activeModalWidget() == nullptr);
}

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
