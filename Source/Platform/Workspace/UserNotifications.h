// Notices to the user through the desktop's notification service (org.freedesktop.Notifications
// on the session bus), the way a desktop program tells of something that happened while the
// user looked elsewhere. A desktop without the service shows nothing: a notice is a courtesy,
// so its absence is neither an error nor logged as one.
//
// Threads: deliver may be called from any thread; the call goes out asynchronously and nothing
// waits for the answer.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <functional>

namespace platform {

class UserNotifications {
public:
    static inline const QString kService = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

    // Delivers a notice with title and text and the sound of a new message, on bus (the
    // session bus by default). done, when given, learns on the main thread whether the service
    // took it.
    static void deliver(const QString& title, const QString& text, std::function<void(bool delivered)> done = {});
    static void deliver(const QDBusConnection& bus, const QString& title, const QString& text,
                        std::function<void(bool delivered)> done = {});
};

} // namespace platform
