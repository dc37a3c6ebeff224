// Notices to the user through the desktop's notification service (org.freedesktop.Notifications
// on the session bus), the way a desktop program tells of something that happened while the
// user looked elsewhere. A desktop without the service shows nothing: a notice is a courtesy,
// so its absence is neither an error nor logged as one.
//
// The text of a notice is shown as written: escaped where the service reads it as markup.
//
// Threads: deliver may be called from any thread; the calls go out asynchronously and nothing
// waits for the answers.
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

private:
    // Sends the notice with body as the service is to read it.
    static void notify(const QDBusConnection& connection, const QString& title, const QString& body,
                       std::function<void(bool delivered)> done);
};

} // namespace platform
