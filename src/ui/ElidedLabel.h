#pragma once

#include <QLabel>

// A one-line label of the status strip: a text longer than its room ends in "…" and shows whole as its tooltip.
// Its least width does not follow the text, so a long text never widens the window; text() stays the whole text.
class ElidedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    // The text as shown now, "…" included when cut.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
};
