// Every window readable in a light and a dark system palette at 150 % text size (QT_FONT_DPI=144): each text
// at least 4.5:1 against what is really drawn behind it (3:1 for large text), no label cut, a visible change when
// a control takes the focus, and the tray icon standing out from light and dark panels.
#include "ClientParts.h"
#include "FakeKestranaServer.h"
#include "TestHome.h"
#include "WindowFixture.h"
#include "api/KsKit.h"
#include "app/Singleton.h"
#include "config/LoginInfo.h"
#include "ui/ElidedLabel.h"
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"
#include "ui/NoCardPrintDialog.h"
#include "ui/ServerDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QHash>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <cmath>

namespace {
double luminance(const QColor& c)
{
    const auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A translucent colour as it shows over the background (placeholders are drawn half transparent).
QColor over(const QColor& fg, const QColor& bg)
{
    const double a = fg.alphaF();
    return QColor::fromRgbF(fg.redF() * a + bg.redF() * (1 - a), fg.greenF() * a + bg.greenF() * (1 - a),
                            fg.blueF() * a + bg.blueF() * (1 - a));
}

// The colour most pixels of a set have, the shades of a gradient counted as one: the mean of the largest group
// of pixels that agree in the upper four bits of each channel.
QColor commonColour(const QVector<QRgb>& pixels)
{
    QHash<QRgb, QVector<QRgb>> groups;
    for (const QRgb p : pixels) {
        groups[p & 0xf0f0f0u].append(p);
    }
    QVector<QRgb> best;
    for (const QVector<QRgb>& group : groups) {
        if (group.size() > best.size()) {
            best = group;
        }
    }
    qint64 r = 0, g = 0, b = 0;
    for (const QRgb p : best) {
        r += qRed(p);
        g += qGreen(p);
        b += qBlue(p);
    }
    const int n = std::max(1, best.size());
    return QColor(int(r / n), int(g / n), int(b / n));
}

// What a text stands on: the common colour of a ring just inside the area's edge, which the text rarely touches
// and a frame or border does not reach.
QColor background(const QImage& shot, const QRect& area)
{
    const QRect r = area.adjusted(2, 2, -2, -2).intersected(shot.rect());
    QVector<QRgb> ring;
    for (int x = r.left(); x <= r.right(); ++x) {
        ring << shot.pixel(x, r.top()) << shot.pixel(x, r.bottom());
    }
    for (int y = r.top(); y <= r.bottom(); ++y) {
        ring << shot.pixel(r.left(), y) << shot.pixel(r.right(), y);
    }
    return commonColour(ring);
}

// A dark palette as Qt derives it from a dark button colour (light text on black and dark grey surfaces), with
// the lighter blue selection dark themes use.
QPalette darkPalette()
{
    QPalette dark(QColor(53, 53, 53));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    return dark;
}

QString shownText(QWidget* w, QColor* fg)
{
    QString text;
    QPalette::ColorRole role = w->foregroundRole();
    if (auto* label = qobject_cast<QLabel*>(w)) {
        text = label->pixmap(Qt::ReturnByValue).isNull() ? label->text() : QString();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        auto* tool = qobject_cast<QToolButton*>(w);
        text = tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly ? QString() : button->text();
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        text = edit->text();
        if (text.isEmpty()) {
            text = edit->placeholderText();
            role = QPalette::PlaceholderText;
        }
    }
    *fg = w->palette().color(QPalette::Active, role);
    return text.trimmed();
}

// WCAG's large text: 18 pt, or 14 pt bold, at the size the window asked for before the 150 % text scale.
bool largeText(const QFont& font)
{
    const double pt = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 0.75;
    return pt >= 18 || (font.bold() && pt >= 14);
}

QString where(QWidget* w)
{
    return w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName();
}

// A button's text colour may change with its state (the focus among them), which its palette does not show: the
// drawn text is the pixel inside its frame that stands out most from the background.
QColor drawnText(const QImage& shot, const QRect& area, const QColor& bg)
{
    QColor fg = bg;
    const QRect inside = area.adjusted(4, 4, -4, -4).intersected(shot.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            if (contrast(shot.pixelColor(x, y), bg) > contrast(fg, bg)) {
                fg = shot.pixelColor(x, y);
            }
        }
    }
    return fg;
}

// Empty labels get a text, so that the colour a state text will have is checked too (offline, pin code).
void probeEmptyLabels(QWidget* window)
{
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->isVisible() && label->text().isEmpty() && label->pixmap(Qt::ReturnByValue).isNull()
            && !label->movie()) {
            label->setText(QStringLiteral("Probe 0123"));
        }
    }
    QCoreApplication::processEvents();
}

// The faults of one window as shown: low contrast text, cut labels and buttons.
QStringList readingFaults(QWidget* window)
{
    QStringList faults;
    const QImage shot = window->grab().toImage();
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->window() != window || (!w->isEnabled() && !qobject_cast<QLabel*>(w))) {
            continue; // a disabled control needs no contrast; a label is read all the same
        }
        QColor fg;
        const QString text = shownText(w, &fg);
        if (text.isEmpty()) {
            continue;
        }
        QRect area(w->mapTo(window, QPoint(0, 0)), w->size());
        if (qobject_cast<QLineEdit*>(w)) {
            area.adjust(3, 3, -3, -3); // inside the frame
        }
        const QColor bg = background(shot, area);
        if (qobject_cast<QPushButton*>(w)) {
            fg = drawnText(shot, area, bg);
        }
        const double ratio = contrast(over(fg, bg), bg);
        const double needed = largeText(w->font()) ? 3.0 : 4.5;
        if (ratio < needed) {
            faults << QStringLiteral("%1 \"%2\": %3 on %4 is %5:1, needs %6:1")
                          .arg(where(w), text.left(30), over(fg, bg).name(), bg.name())
                          .arg(ratio, 0, 'f', 2)
                          .arg(needed);
        }
        // A field's outline drawn by the window's own style sheet, against the surface around it (3:1).
        if (qobject_cast<QLineEdit*>(w) && !window->styleSheet().isEmpty()) {
            const QRect box(w->mapTo(window, QPoint(0, 0)), w->size());
            const QColor edge = shot.pixelColor(box.left(), box.center().y());
            const QColor around = shot.pixelColor(box.left() - 2, box.center().y());
            if (contrast(edge, around) < 3.0) {
                faults << QStringLiteral("%1: outline %2 on %3 is %4:1, needs 3:1")
                              .arg(where(w), edge.name(), around.name())
                              .arg(contrast(edge, around), 0, 'f', 2);
            }
        }
        // Cut: smaller than the text needs. ElidedLabel cuts with "…" on purpose; wrapped labels grow in height.
        const bool wraps = qobject_cast<QLabel*>(w) && static_cast<QLabel*>(w)->wordWrap();
        if (!qobject_cast<ElidedLabel*>(w) && !qobject_cast<QLineEdit*>(w)) {
            const QSize need = w->minimumSizeHint();
            const bool cut = wraps ? w->height() < w->heightForWidth(w->width())
                                   : w->width() < need.width() || w->height() < need.height();
            if (cut) {
                faults << QStringLiteral("%1 \"%2\" cut: %3x%4, needs %5x%6")
                              .arg(where(w), text.left(30))
                              .arg(w->width())
                              .arg(w->height())
                              .arg(need.width())
                              .arg(need.height());
            }
        }
    }
    return faults;
}

// Controls that show no change on screen when they take the focus.
QStringList hiddenFocus(QWidget* window)
{
    QStringList faults;
    QApplication::setActiveWindow(window);
    if (!QTest::qWaitForWindowActive(window)) {
        return { QStringLiteral("the window does not become active") };
    }
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->window() != window || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus)
            || w->focusProxy()) {
            continue;
        }
        if (QWidget* had = QApplication::focusWidget()) {
            had->clearFocus();
        }
        QCoreApplication::processEvents();
        const QRect area = QRect(w->mapTo(window, QPoint(0, 0)), w->size()).adjusted(-3, -3, 3, 3);
        const QImage before = window->grab(area).toImage();
        w->setFocus(Qt::TabFocusReason);
        // As after a Tab key: styles show the focus only to a keyboard user (Fusion among them).
        window->setAttribute(Qt::WA_KeyboardFocusChange);
        QCoreApplication::processEvents();
        const QImage after = window->grab(area).toImage();
        // The strongest change of any pixel. What the window's own style sheet draws must stand out like a
        // control's border (3:1); the desktop's style must at least show a change. A default button is framed
        // by the style before it takes the focus.
        const bool ownSheet = !window->styleSheet().isEmpty();
        auto* button = qobject_cast<QPushButton*>(w);
        if (!ownSheet && button && button->isDefault()) {
            continue;
        }
        double strongest = 1;
        for (int y = 0; y < std::min(before.height(), after.height()); ++y) {
            for (int x = 0; x < std::min(before.width(), after.width()); ++x) {
                strongest = std::max(strongest, contrast(before.pixelColor(x, y), after.pixelColor(x, y)));
            }
        }
        // A button's text in both states: the one holding the focus when the window opened is seen focused above.
        if (button && !button->text().isEmpty()) {
            const QRect own = QRect(QPoint(3, 3), w->size());
            for (const QImage* look : { &before, &after }) {
                const QColor bg = background(*look, own);
                const double ratio = contrast(drawnText(*look, own, bg), bg);
                if (ratio < (largeText(w->font()) ? 3.0 : 4.5)) {
                    faults << QStringLiteral("%1 %2: text %3:1")
                                  .arg(where(w),
                                       look == &before ? QStringLiteral("at rest") : QStringLiteral("focused"))
                                  .arg(ratio, 0, 'f', 2);
                }
            }
        }
        if (strongest < (ownSheet ? 3.0 : 1.4)) {
            faults << QStringLiteral("%1: focus changes the picture by %2:1 at most")
                          .arg(where(w))
                          .arg(strongest, 0, 'f', 2);
        }
    }
    return faults;
}
} // namespace

class TestReadable : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windows_data();
    void windows();
    void graphics_data();
    void graphics();

private:
    TestHome m_home;
    std::unique_ptr<FakeKestranaServer> m_server;
};

void TestReadable::init()
{
    m_server = std::make_unique<FakeKestranaServer>(FakeKestranaState::sample());
    QVERIFY(m_server->start());
    WindowFixture::beginCase(m_home);
}

void TestReadable::cleanup()
{
    WindowFixture::endCase();
    m_server.reset();
    QApplication::setPalette(QApplication::style()->standardPalette());
}

void TestReadable::windows_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<bool>("dark");
    for (const char* window : { "login", "qr", "main", "nocard", "servers" }) {
        QTest::newRow(qPrintable(QString::fromLatin1(window) + " light")) << window << false;
        QTest::newRow(qPrintable(QString::fromLatin1(window) + " dark")) << window << true;
    }
    // The main window under the style sheet kept in the resources for sites that apply it: its surfaces and
    // texts are fixed, while an empty table's focus frame takes the palette's text colour (a light-desktop sheet).
    QTest::newRow("flatwhite light") << "flatwhite" << false;
}

void TestReadable::windows()
{
    QFETCH(QString, window);
    QFETCH(bool, dark);
    QCOMPARE(QFontInfo(QApplication::font()).pixelSize() * 72 / QFontInfo(QApplication::font()).pointSize(), 144);
    QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());

    std::unique_ptr<MainWindow> main;
    std::unique_ptr<QWidget> dialog;
    QWidget* shown = nullptr;
    if (window == QLatin1String("main") || window == QLatin1String("flatwhite")) {
        main = WindowFixture::openWindow(m_server->httpUrl());
        QVERIFY(main);
        if (window == QLatin1String("flatwhite")) {
            QFile sheet(QStringLiteral(":/qss/flatwhite.css"));
            QVERIFY(sheet.open(QIODevice::ReadOnly));
            main->setStyleSheet(QString::fromUtf8(sheet.readAll()));
        }
        shown = main.get();
    } else {
        QVERIFY(WindowFixture::loadSettings(m_server->httpUrl(),
                                            { { "setting/supportSecret", true }, { "setting/ShowQR", true } }));
        if (window == QLatin1String("login") || window == QLatin1String("qr")) {
            dialog = std::make_unique<LoginDialog>(*Singleton<LoginInfo>::getInstance(), ClientParts::shared().session,
                                                   ClientParts::shared().api);
        } else if (window == QLatin1String("nocard")) {
            KsKit kit(KsAccount::fromSettings(*Singleton<LoginInfo>::getInstance()), ClientParts::shared().network);
            const QString account = Singleton<LoginInfo>::getInstance()->userName();
            dialog = std::make_unique<NoCardPrintDialog>(kit.getPrinters(account, 0), kit.getProjects(account), true);
        } else {
            dialog = std::make_unique<ServerDialog>(ClientParts::shared().api,
                                                    Singleton<LoginInfo>::getInstance()->ksServerUrl());
        }
        shown = dialog.get();
    }
    shown->show();
    QVERIFY(QTest::qWaitForWindowExposed(shown));
    if (window == QLatin1String("qr")) {
        auto* toQr = shown->findChild<QAbstractButton*>(QStringLiteral("btnQr"));
        QVERIFY(toQr);
        toQr->click();
        QTRY_VERIFY(shown->findChild<QWidget*>(QStringLiteral("frame_qr"))->isVisible());
    }

    QStringList faults;
    auto* tabs = shown->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    for (int i = 0; i < (tabs ? tabs->count() : 1); ++i) {
        if (tabs) {
            tabs->setCurrentIndex(i);
            QCoreApplication::processEvents();
        }
        probeEmptyLabels(shown);
        for (const QString& fault : readingFaults(shown) + hiddenFocus(shown)) {
            faults << (tabs ? tabs->tabText(i) + QStringLiteral(": ") : QString()) + fault;
        }
    }
    faults.removeDuplicates();
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

void TestReadable::graphics_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<QColor>("panel");
    // The tray icon on the panels of light and dark desktops, in every size the file holds.
    const QString tray = QStringLiteral(HALCYRA_BIN_DIR "/images/logo32.ico");
    for (const QColor& panel :
         { QColor(Qt::white), QColor(0xef, 0xef, 0xef), QColor(0x30, 0x30, 0x30), QColor(Qt::black) }) {
        QTest::newRow(qPrintable(QStringLiteral("tray icon on ") + panel.name())) << tray << panel;
    }
    // The check boxes the login dialog draws on its white surface, at both resolutions.
    for (const char* box : { "checkbox_unchecked", "checkbox_checked", "radio_unchecked", "radio_checked" }) {
        for (const char* scale : { "", "@2x" }) {
            const QString path = QStringLiteral(":/qss/images/") + box + scale + QStringLiteral(".png");
            QTest::newRow(qPrintable(path)) << path << QColor(Qt::white);
        }
    }
}

void TestReadable::graphics()
{
    // A control's shape or an icon must stand out 3:1 from what it is drawn on: a tenth of its opaque pixels
    // (an outline, a fill, a letter) do.
    QFETCH(QString, image);
    QFETCH(QColor, panel);
    QImageReader reader(image);
    int frames = 0;
    do {
        const QImage frame = reader.read().convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(!frame.isNull(), qPrintable(reader.errorString()));
        ++frames;
        int opaque = 0;
        int standing = 0;
        for (int y = 0; y < frame.height(); ++y) {
            for (int x = 0; x < frame.width(); ++x) {
                const QRgb p = frame.pixel(x, y);
                if (qAlpha(p) > 200) {
                    ++opaque;
                    standing += contrast(QColor(p), panel) >= 3.0 ? 1 : 0;
                }
            }
        }
        QVERIFY2(standing * 10 >= opaque && standing > 0,
                 qPrintable(QStringLiteral("%1 px: %2 of %3 opaque pixels stand out 3:1")
                                .arg(frame.width())
                                .arg(standing)
                                .arg(opaque)));
    } while (reader.jumpToNextImage());
    QVERIFY(frames >= 1);
}

int main(int argc, char** argv)
{
    // 150 % text: Qt reads the font resolution once, before the application object.
    qputenv("QT_FONT_DPI", "144");
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    TestReadable test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_readable.moc"
