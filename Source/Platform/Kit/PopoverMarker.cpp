#include "Platform/Kit/PopoverMarker.h"

#include <QWidget>

namespace platform::kit {

void markAsPopoverWindow(QWidget* widget)
{
    if (widget)
        widget->setProperty(kPopoverWindowMarker, true);
}

bool isPopoverWindow(const QWidget* widget)
{
    return widget && widget->property(kPopoverWindowMarker).toBool();
}

bool isInsidePopover(const QWidget* widget)
{
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        if (isPopoverWindow(w))
            return true;
    }
    return false;
}

} // namespace platform::kit
