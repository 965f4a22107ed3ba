#include "ui/LoginChrome.h"

#include "app/Logging.h"

#include <QEvent>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QStringList>
#include <QVariant>
#include <QWidget>

static Logger* logger = Logging::rootLogger();

namespace {
bool hasCjk(const QString& text)
{
    for (const uint c : text.toUcs4()) {
        switch (QChar::script(c)) {
        case QChar::Script_Han:
        case QChar::Script_Hiragana:
        case QChar::Script_Katakana:
        case QChar::Script_Hangul:
        case QChar::Script_Bopomofo:
            return true;
        default:
            break;
        }
    }
    return false;
}
} // namespace

QFont LoginChrome::titleFont(int pixelSize, bool bold, const QString& text)
{
    QFont font(QStringLiteral("Microsoft YaHei UI"));
    // The first family is rarely installed on Linux desktops. A CJK text falls back to a CJK sans font, whose
    // Latin letters match its own; any other to DejaVu Sans like the rest of the dialog, sparing the first paint
    // the loading of the large CJK font file.
    QStringList families { QStringLiteral("Microsoft YaHei UI") };
    if (hasCjk(text)) {
        families << QStringLiteral("Noto Sans CJK SC");
    }
    families << QStringLiteral("DejaVu Sans");
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

LoginChrome::LoginChrome(QWidget* window, QWidget* loginHeader, QWidget* qrHeader)
    : QObject(window)
    , m_window(window)
    , m_loginHeader(loginHeader)
    , m_qrHeader(qrHeader)
{
    window->installEventFilter(this);
    loginHeader->installEventFilter(this);
    qrHeader->installEventFilter(this);
}

bool LoginChrome::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == m_window
        && (type == QEvent::MouseButtonPress || type == QEvent::MouseMove || type == QEvent::MouseButtonRelease)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (type == QEvent::MouseMove && m_pressed) {
            const QPoint now = mouse->globalPos();
            m_window->move(m_window->pos() + (now - m_lastPos));
            m_lastPos = now;
        } else if (type != QEvent::MouseMove && mouse->button() == Qt::LeftButton) {
            m_pressed = type == QEvent::MouseButtonPress;
            m_lastPos = mouse->globalPos();
        }
    }
    if (watched == m_loginHeader || watched == m_qrHeader) {
        auto* header = static_cast<QWidget*>(watched);
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Hide:
            showBanner(header, event->type() == QEvent::Show);
            break;
        case QEvent::Paint:
            decodeBanner(header);
            if (header == m_bannerHeader && !m_banner.isNull()) {
                QPainter painter(header);
                painter.setRenderHint(QPainter::SmoothPixmapTransform);
                painter.drawPixmap(header->rect(), m_banner);
            }
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void LoginChrome::showBanner(QWidget* header, bool shown)
{
    // Each banner is a large image: only the page on screen holds one, and none while hidden. Pages switch in
    // either order (the new one shown before or after the old one is hidden), so each header drops only its own.
    if (!shown) {
        if (header == m_bannerHeader) {
            m_banner = QPixmap();
            m_bannerHeader = nullptr;
        }
        header->setProperty("banner", QVariant());
        return;
    }
    if (m_bannerHeader && m_bannerHeader != header) {
        m_bannerHeader->setProperty("banner", QVariant());
    }
    m_bannerHeader = header;
    const QString image
        = header == m_loginHeader ? QStringLiteral(":/img32/images/1.jpg") : QStringLiteral(":/img32/images/11.jpg");
    m_banner = QPixmap();
    header->setProperty("banner", image);
    header->update();
}

void LoginChrome::decodeBanner(QWidget* header)
{
    if (header != m_bannerHeader || !m_banner.isNull()) {
        return;
    }
    // Told the format, the reader asks no image plugin but the JPEG one; decoding at the header's size lets the
    // JPEG decoder scale down as it decodes.
    QImageReader reader(header->property("banner").toString(), "jpeg");
    reader.setAutoDetectImageFormat(false);
    const QSize target = header->size() * header->devicePixelRatioF();
    if (target.isValid() && !target.isEmpty()) {
        reader.setScaledSize(target); // stretched to the header
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        logger->warn(QStringLiteral("banner image ") + header->property("banner").toString() + QStringLiteral(": ")
                     + reader.errorString());
        return;
    }
    m_banner = QPixmap::fromImage(image);
    m_banner.setDevicePixelRatio(header->devicePixelRatioF());
}
