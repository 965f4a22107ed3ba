#include "ui/QrPage.h"

#include "app/Singleton.h"
#include "session/QrLogin.h"
#include "ui/ClickedLabel.h"
#include "ui/QRCodeHelper.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLocale>
#include <QPixmap>
#include <QTime>

namespace {
// The form (LoginDialog.ui) shows it too.
constexpr const char* kNoQrCode = ":/img32/images/NOQR.bmp";

QString usedImage()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/images/qrrefresh.bmp");
}
} // namespace

// The page's texts are the login window's and translated in its context.
QrPage::QrPage(QLabel* placeholder, QLabel* validity, QrLogin* qr)
    : QObject(placeholder)
    , m_placeholder(placeholder)
    , m_validity(validity)
    , m_qr(qr)
    , m_label(new ClickedLabel(placeholder))
{
    m_label->setObjectName(QStringLiteral("qrImageLabel"));
    m_label->setMinimumSize(QRCodeHelper::kImageSize, QRCodeHelper::kImageSize);
    m_label->setScaledContents(true);
    m_label->setCursor(Qt::PointingHandCursor);
    m_label->setToolTip(QCoreApplication::translate("LoginDialog", "Click to refresh the code"));
    m_label->setPixmap(QPixmap(QLatin1String(kNoQrCode)));
    // Space or Return on the code asks for a new one, as a click does; Tab leads on to the page switch.
    m_label->setFocusPolicy(Qt::StrongFocus);
    m_label->installEventFilter(this);
    auto* overlay = new QHBoxLayout(placeholder);
    overlay->setContentsMargins(0, 0, 0, 0);
    overlay->addWidget(m_label);
    placeholder->installEventFilter(this);

    connect(m_label, &ClickedLabel::clicked, qr, &QrLogin::generate);
    qr->setCodePainter([this](const QString& code) {
        if (!Singleton<QRCodeHelper>::getInstance()->CreateRcode(code)) {
            return false;
        }
        showImage(QRCodeHelper::imagePath());
        return true;
    });
    connect(qr, &QrLogin::codeShown, this, &QrPage::showValidity);
    connect(qr, &QrLogin::expired, this, [this]() {
        showImage(usedImage());
        setValidityText(
            QCoreApplication::translate("LoginDialog", "The code has expired: click it or press Space for a new one."));
    });
    setValidityText(QString());
}

QWidget* QrPage::codeLabel() const
{
    return m_label;
}

void QrPage::showUsed()
{
    showImage(usedImage());
    setValidityText(QString());
}

void QrPage::showImage(const QString& path)
{
    m_label->setPixmap(QPixmap(path));
}

void QrPage::showValidity()
{
    const QTime until = QTime::currentTime().addSecs(QrLogin::kValiditySeconds);
    setValidityText(QCoreApplication::translate("LoginDialog", "Valid for %1 minutes, until %2.")
                        .arg(QrLogin::kValiditySeconds / 60)
                        .arg(QLocale().toString(until, QLocale::ShortFormat)));
}

void QrPage::setValidityText(const QString& text)
{
    // The line is a label whose text changes, which a screen reader announces; the code's own name says the same
    // for whoever is on the code.
    m_validity->setText(text);
    const QString what = QCoreApplication::translate("LoginDialog", "Login code: scan it with the phone app.");
    m_label->setAccessibleName(text.isEmpty() ? what : what + QLatin1Char(' ') + text);
}

void QrPage::refresh()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_qr->generate();
    QApplication::restoreOverrideCursor();
}

bool QrPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_label && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
            refresh();
            return true;
        }
    }
    if (watched == m_placeholder && event->type() == QEvent::MouseButtonRelease) {
        refresh();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
