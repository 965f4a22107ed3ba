#include "ScreenFit.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace {
QScreen* screenOf(const QWidget* window)
{
    if (window->windowHandle() && window->windowHandle()->screen()) {
        return window->windowHandle()->screen();
    }
    return QGuiApplication::primaryScreen();
}
} // namespace

bool ScreenFit::isLargeScreen(const QSize& screen)
{
    return screen.width() >= 3840 || screen.height() >= 2160;
}

QRect ScreenFit::availableArea(const QWidget* window)
{
    const QScreen* screen = screenOf(window);
    return screen ? screen->availableGeometry() : QRect();
}

QSize ScreenFit::frameAllowance(const QWidget* window)
{
    if (window->windowFlags().testFlag(Qt::FramelessWindowHint)
        || window->windowFlags().testFlag(Qt::BypassWindowManagerHint)) {
        return QSize(0, 0);
    }
    if (window->isVisible()) {
        const QRect frame = window->frameGeometry();
        const QRect inner = window->geometry();
        if (frame != inner) {
            return frame.size() - inner.size();
        }
    }
    // Not shown yet, so the frame is unknown: room for a usual title bar and borders.
    return QSize(16, 40);
}

void ScreenFit::fit(QWidget* window, bool enlarge)
{
    const QScreen* screen = screenOf(window);
    if (!screen) {
        return;
    }
    QSize size = window->size();
    if (enlarge && isLargeScreen(screen->size())) {
        size = QSize(int(size.width() * 1.5), int(size.height() * 1.5));
    }
    window->resize(size);
    keepInside(window);
}

void ScreenFit::keepInside(QWidget* window)
{
    const QRect area = availableArea(window);
    if (area.isEmpty()) {
        return;
    }
    const QSize frame = frameAllowance(window);
    const QSize room = (area.size() - frame).expandedTo(QSize(1, 1));
    // The least the contents ask for, made explicit and cut to the room, so the layout cannot push past it.
    const QSize least = window->minimumSize().expandedTo(window->minimumSizeHint());
    if (least.width() > room.width() || least.height() > room.height()) {
        // A part of the form with a fixed least size that does not fit would still push the rest out; it
        // falls back to the least its own contents need.
        const auto children = window->findChildren<QWidget*>();
        for (QWidget* child : children) {
            const QSize childLeast = child->minimumSize();
            if (childLeast.width() > room.width() || childLeast.height() > room.height()) {
                child->setMinimumSize(0, 0);
            }
        }
        window->setMinimumSize(least.boundedTo(room));
    }
    window->resize(window->size().expandedTo(window->minimumSize()).boundedTo(room));
    const QSize outer = window->size() + frame;
    // move() places the frame's top-left corner of a top-level window.
    window->move(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
}
