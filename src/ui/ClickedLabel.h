#pragma once

#include <QLabel>

// A label that reports a mouse-button release over it.
class ClickedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ClickedLabel(QWidget* parent = nullptr);

signals:
    void clicked(ClickedLabel* label);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};
