#pragma once

#include <QObject>

class ClickedLabel;
class QLabel;
class QrLogin;

// The QR page's code as the user sees it: the image a phone scans, drawn over the page's placeholder, and how
// long it holds. A click on it, Space or Return asks for a new one.
class QrPage : public QObject
{
    Q_OBJECT
public:
    // The page's placeholder image and validity line; the code comes from qr.
    QrPage(QLabel* placeholder, QLabel* validity, QrLogin* qr);

    QWidget* codeLabel() const;
    // A scanned code cannot be scanned a second time.
    void showUsed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showImage(const QString& path);
    void showValidity();
    void setValidityText(const QString& text);
    void refresh();

    QLabel* const m_placeholder;
    QLabel* const m_validity;
    QrLogin* const m_qr;
    ClickedLabel* m_label = nullptr;
};
