#pragma once

#include <QRect>
#include <QSize>

class QWidget;

// Window sizes that suit the screen: every window and dialog fits the screen's available area (taskbar
// excluded) at any scale factor, and is centred there. On very large screens (4K) a window is enlarged by half,
// as long as it still fits.
class ScreenFit
{
public:
    // Screens this large get enlarged windows (measured in the logical pixels Qt reports).
    static bool isLargeScreen(const QSize& screen);

    // Resizes the window (by half on a large screen when enlarge is set) within the available area of its
    // screen, lowering its minimum size where that would not fit, and centres it there. Call it once the
    // window's flags are set: the room left for the window manager's frame depends on them.
    static void fit(QWidget* window, bool enlarge = true);
    // Only the part that keeps a window within the area: for dialogs that size themselves (file dialogs).
    static void keepInside(QWidget* window);

    // The area windows may use on the window's screen, or on the primary screen.
    static QRect availableArea(const QWidget* window);
    // Room kept for a frame the window manager draws (title bar and borders), none for frameless windows.
    static QSize frameAllowance(const QWidget* window);
};
