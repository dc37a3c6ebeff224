// Tells once that a window has closed, without a nested event loop: on the first of the
// window being hidden by the program or its close request (a closed window is hidden), or the
// window being destroyed. A close request the window refuses leaves it shown and tells nothing.
// A window minimised by the user is hidden spontaneously and does not count.
//
// Threads: main thread only.
#pragma once

#include <functional>

class QWidget;

namespace platform::kit {

// closed runs once; with a null window it runs on the next pass of the event loop.
void whenWindowCloses(QWidget* window, std::function<void()> closed);

} // namespace platform::kit
