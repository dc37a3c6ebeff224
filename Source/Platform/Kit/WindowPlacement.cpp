#include "Platform/Kit/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace platform::kit {

void placeCentred(QWidget* window, const QWidget* over)
{
    if (!window)
        return;
    QScreen* screen = over ? over->screen() : window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect free = screen->availableGeometry();
        const bool resizable = window->minimumSize() != window->maximumSize();
        const QSize room(std::max(1, free.width() - kWindowFrameAllowance / 2),
                         std::max(1, free.height() - kWindowFrameAllowance));
        if (resizable && (window->width() > room.width() || window->height() > room.height()))
            window->resize(window->size().boundedTo(room).expandedTo(window->minimumSize()));
    }
    QRect frame = window->geometry();
    if (over)
        frame.moveCenter(over->window()->geometry().center());
    else if (screen)
        frame.moveCenter(screen->availableGeometry().center());
    if (screen) {
        // Centred over a window near the screen's edge, it would hang off that edge.
        const QRect free = screen->availableGeometry();
        frame.moveLeft(std::clamp(frame.left(), free.left(), std::max(free.left(), free.right() + 1 - frame.width())));
        frame.moveTop(std::clamp(frame.top(), free.top() + kWindowFrameAllowance / 2,
                                 std::max(free.top() + kWindowFrameAllowance / 2, free.bottom() + 1 - frame.height())));
    }
    window->move(frame.topLeft());
}

} // namespace platform::kit
