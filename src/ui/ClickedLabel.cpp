#include "ui/ClickedLabel.h"

#include <QMouseEvent>

ClickedLabel::ClickedLabel(QWidget* parent)
    : QLabel(parent)
{
}

void ClickedLabel::mouseReleaseEvent(QMouseEvent* event)
{
    // A press that is dragged off the label and released elsewhere is not a click.
    if (!rect().contains(event->pos())) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    // Consumed here so a parent watching the same release does not act on it a second time.
    event->accept();
    emit clicked(this);
}
