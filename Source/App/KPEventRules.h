// The four event rules of the application object, applied before an event is delivered:
// a left or right mouse-down posts "MonitorResignWindowResign" (unless it lands inside a
// popover: a popover window, an in-window popover or a list it opened, see PopoverMarker.h)
// and, when anything but a registered auto-completion list (a window or an in-window widget)
// is pressed, "AutoCompletedWindowResign" with the list as object; a zoom gesture in the main window posts "MouseMagnify"; a
// modifier key going down or up posts "NSFlagsChanged". All go to the default center.
#pragma once

#include <QPointer>
#include <QWidget>

class QEvent;

class KPEventRules {
public:
    QWidget* autoCompletedWindow() const { return m_autoCompletedWindow; }
    void setAutoCompletedWindow(QWidget* window) { m_autoCompletedWindow = window; }
    QWidget* mainWindow() const { return m_mainWindow; }
    void setMainWindow(QWidget* window) { m_mainWindow = window; }

    // Popover windows carry a marker so that a click inside one does not close monitors.
    static void markAsPopoverWindow(QWidget* window);
    static bool isPopoverWindow(const QWidget* window);

    // Whether any rule looks at events of this type.
    static bool isRuleEvent(const QEvent* event);

    // receiver: the widget the event is for, or null. The popover test looks at it and its
    // ancestors, the other rules at its window.
    void apply(QEvent* event, QWidget* receiver) const;

private:
    QPointer<QWidget> m_autoCompletedWindow;
    QPointer<QWidget> m_mainWindow;
};
