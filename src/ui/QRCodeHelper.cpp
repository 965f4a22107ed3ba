#include "ui/QRCodeHelper.h"

#include "app/Logging.h"
#include "app/UserPaths.h"

#include <QPainter>

#include <qrencode.h>

#include <memory>

static Logger* logger = Logging::rootLogger();

QRCodeHelper::QRCodeHelper(QObject* parent)
    : QObject(parent)
{ }

QString QRCodeHelper::imagePath()
{
    return UserPaths::dataPath() + QStringLiteral("/QRcode.png");
}

QImage QRCodeHelper::render(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::unique_ptr<QRcode, void (*)(QRcode*)> code(
        QRcode_encodeString(bytes.constData(), 2, QR_ECLEVEL_Q, QR_MODE_8, 1), &QRcode_free);
    if (!code) {
        logger->error(QStringLiteral("QR code encoding failed for %1 bytes").arg(bytes.size()));
        return QImage();
    }

    const int width = code->width > 0 ? code->width : 1;
    const double scale = double(kImageSize) / width;

    QImage image(kImageSize, kImageSize, QImage::Format_ARGB32);
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRect(0, 0, kImageSize, kImageSize);
    painter.setBrush(Qt::black);
    for (int row = 0; row < width; ++row) {
        for (int col = 0; col < width; ++col) {
            if (code->data[row * width + col] & 0x01) {
                painter.drawRect(QRectF(col * scale, row * scale, scale, scale));
            }
        }
    }
    painter.end();
    return image;
}

bool QRCodeHelper::GenerateQRcode(const QString& text)
{
    const QImage image = render(text);
    if (image.isNull()) {
        return false;
    }
    const QString path = imagePath();
    if (!image.save(path, nullptr, 100)) {
        logger->error(QStringLiteral("could not save QR code image %1").arg(path));
        return false;
    }
    return true;
}

bool QRCodeHelper::CreateRcode(const QString& text)
{
    return GenerateQRcode(text);
}
