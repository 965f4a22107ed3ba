#pragma once

#include <QFont>
#include <QObject>
#include <QPixmap>
#include <QPoint>

class QWidget;

// The login window's own chrome, as it has no title bar: dragged by any free spot, each page's header banner
// held only while that page is on screen, and the title fonts.
class LoginChrome : public QObject
{
    Q_OBJECT
public:
    // The window to move and the headers of its account page and its QR page.
    LoginChrome(QWidget* window, QWidget* loginHeader, QWidget* qrHeader);

    // A CJK sans font only for a text that needs one.
    static QFont titleFont(int pixelSize, bool bold, const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showBanner(QWidget* header, bool shown);
    // At the header's first paint after it was shown: its banner decoded at its size.
    void decodeBanner(QWidget* header);

    QWidget* const m_window;
    QWidget* const m_loginHeader;
    QWidget* const m_qrHeader;
    QWidget* m_bannerHeader = nullptr; // the shown page's header, which holds the banner below
    QPixmap m_banner; // the shown page's header image, decoded at the header's size
    bool m_pressed = false;
    QPoint m_lastPos;
};
