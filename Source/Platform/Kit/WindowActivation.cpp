#include "Platform/Kit/WindowActivation.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace platform::kit {

namespace {

xcb_connection_t* x11Connection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

template <typename Reply>
using XReply = std::unique_ptr<Reply, decltype(&std::free)>;

// Whether the server shows window now. Qt's own view lags behind it on a busy program.
bool shownOnServer(QWidget* window)
{
    xcb_connection_t* connection = x11Connection();
    QWindow* handle = window->windowHandle();
    if (!connection || !handle)
        return true;
    const auto id = xcb_window_t(handle->winId());
    const XReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, id), nullptr), &std::free);
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

// Gives the keyboard to the window once its native window is exposed, if the user has not
// minimised it since: Qt sends an activation it holds for a window the moment it reads the
// window's map, however long ago that was, and the window manager then restores the window.
class ActivateWhenExposed : public QObject {
public:
    explicit ActivateWhenExposed(QWidget* window) : QObject(window->windowHandle()), m_window(window) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* handle = qobject_cast<QWindow*>(watched);
        if (event->type() == QEvent::Expose && handle && handle->isExposed()) {
            handle->removeEventFilter(this);
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_window && m_window->isVisible() && !m_window->isMinimized() && shownOnServer(m_window))
                        m_window->activateWindow();
                    deleteLater();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    QPointer<QWidget> m_window;
};

// Asks the X11 window manager to restore, raise and focus window: mapped again (how a client
// ends its iconic state) and named in _NET_ACTIVE_WINDOW with the pager's source indication.
void askWindowManager(QWidget* window)
{
    xcb_connection_t* connection = x11Connection();
    QWindow* handle = window->windowHandle();
    if (!connection || !handle)
        return;
    const auto id = xcb_window_t(handle->winId());
    xcb_map_window(connection, id);

    static constexpr char kActive[] = "_NET_ACTIVE_WINDOW";
    const XReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof kActive - 1, kActive), nullptr),
        &std::free);
    const XReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr), &std::free);
    // No window manager that knows the message: Qt has given the focus itself.
    if (atom && atom->atom != XCB_ATOM_NONE && geometry) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = id;
        message.type = atom->atom;
        message.data.data32[0] = 2; // on the user's behalf
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection, 0, geometry->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&message));
    }
    xcb_flush(connection);
}

} // namespace

void showAndActivateWhenShown(QWidget* window)
{
    if (!window)
        return;
    if (window->isVisible()) {
        bringToFront(window);
        return;
    }
    // No Qt::WindowActive here: that asks for the keyboard at once, before the map.
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->winId();
    if (QWindow* handle = window->windowHandle())
        handle->installEventFilter(new ActivateWhenExposed(window));
    window->show();
    window->raise();
}

void bringToFront(QWidget* window)
{
    if (!window)
        return;
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
    askWindowManager(window);
}

} // namespace platform::kit
