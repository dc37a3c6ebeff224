// Bringing a top-level window before the user: shown the first time, or brought back when the
// user asks to see it again (started the program again, chose it from a menu).
//
// Qt decides what to ask of the window manager from what it last heard from it. A program
// busy on its main thread hears late: a window the user has just minimised still reads as
// shown, so a restore asks for nothing and the window stays minimised; and an activation
// asked for before the first map is sent when the program at last reads that map, after the
// user's minimise, which brings the window back against the user's wish. So the first show
// asks for the keyboard only once the window is on the screen, and a request to see the
// window again goes to the window manager itself, whatever Qt believes.
//
// Threads: main thread only.
#pragma once

class QWidget;

namespace platform::kit {

// Shows window, raised, and gives it the keyboard once it is on the screen, unless the server
// says it is no longer shown by then (minimised meanwhile). A window already shown is brought
// to the front.
void showAndActivateWhenShown(QWidget* window);

// Restores window from the minimised state, raises it and gives it the keyboard: the user asked
// to see it. On X11 the window manager is also asked directly, as a pager asks on the user's
// behalf, which it honours whatever it allows programs on their own.
void bringToFront(QWidget* window);

} // namespace platform::kit
