#pragma once

#include <QImage>
#include <QObject>
#include <QString>

// Draws the login QR code into "<home>/halcyraclient/QRcode.png".
// One process-wide instance: Singleton<QRCodeHelper>::getInstance().
class QRCodeHelper : public QObject
{
    Q_OBJECT
public:
    static constexpr int kImageSize = 200;

    explicit QRCodeHelper(QObject* parent = nullptr);

    // Draws the text and saves the image; false (and a log line) when encoding or saving fails.
    bool GenerateQRcode(const QString& text);
    bool CreateRcode(const QString& text);

    // The drawn image alone (null when the text cannot be encoded).
    static QImage render(const QString& text);
    static QString imagePath();
};
