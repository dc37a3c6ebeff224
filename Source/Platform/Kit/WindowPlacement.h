// Where a window of its own (a welcome page, a hint, a question before the main window exists)
// first appears: centred over another window or on its screen, and never larger than that
// screen's free area with room for the window manager's frame, so that its buttons stay in reach
// on a small screen or at a large scale. A window of fixed size is only centred.
#pragma once

class QWidget;

namespace platform::kit {

// Room kept for the window manager's title bar and borders, in points.
inline constexpr int kWindowFrameAllowance = 40;

void placeCentred(QWidget* window, const QWidget* over = nullptr);

} // namespace platform::kit
