#include "App/KPEventRules.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Input.h"
#include "Platform/Kit/PopoverMarker.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>

namespace {

QVariant windowObject(QWidget* window)
{
    return window ? QVariant::fromValue<QObject*>(window) : QVariant();
}

} // namespace

void KPEventRules::markAsPopoverWindow(QWidget* window)
{
    platform::kit::markAsPopoverWindow(window);
}

bool KPEventRules::isPopoverWindow(const QWidget* window)
{
    return platform::kit::isPopoverWindow(window);
}

bool KPEventRules::isRuleEvent(const QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::NativeGesture:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return true;
    default:
        return false;
    }
}

void KPEventRules::apply(QEvent* event, QWidget* receiver) const
{
    QWidget* window = receiver ? receiver->window() : nullptr;
    auto& center = platform::NotificationCenter::defaultCenter();
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto button = static_cast<QMouseEvent*>(event)->button();
        if (button != Qt::LeftButton && button != Qt::RightButton)
            return;
        if (!platform::kit::isInsidePopover(receiver))
            center.post(QStringLiteral("MonitorResignWindowResign"), windowObject(window));
        // The list may be a window of its own or a widget inside the window it completes for:
        // only a press outside it ends it.
        if (m_autoCompletedWindow && receiver != m_autoCompletedWindow.data()
            && !m_autoCompletedWindow->isAncestorOf(receiver))
            center.post(QStringLiteral("AutoCompletedWindowResign"),
                        windowObject(m_autoCompletedWindow.data()));
        return;
    }
    case QEvent::NativeGesture: {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() != Qt::ZoomNativeGesture || !window || window != m_mainWindow)
            return;
        // The event does not outlive its delivery, so observers get its values instead.
        center.post(QStringLiteral("MouseMagnify"), gesture->value(),
                    {{QStringLiteral("Magnification"), gesture->value()},
                     {QStringLiteral("Position"), gesture->position()}});
        return;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        if (platform::kit::Input::isModifierKey(static_cast<QKeyEvent*>(event)->key()))
            center.post(QStringLiteral("NSFlagsChanged"));
        return;
    default:
        return;
    }
}
