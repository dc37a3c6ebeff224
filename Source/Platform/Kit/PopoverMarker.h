// The marker that tells the application's event rules "this press is inside a popover, do not
// close the monitors": a dynamic property on the popover's window, on an in-window popover and
// on any list such a popover opens (a completion popup). The name is the one the program has
// always tested for.
#pragma once

class QWidget;

namespace platform::kit {

inline constexpr char kPopoverWindowMarker[] = "_NSPopoverWindow";

void markAsPopoverWindow(QWidget* widget);
// The widget itself carries the marker.
bool isPopoverWindow(const QWidget* widget);
// The widget or one of its ancestors (the parent chain reaches from a popup to the widget that
// owns it, and from any child to its window) carries the marker.
bool isInsidePopover(const QWidget* widget);

} // namespace platform::kit
