#include "Platform/Workspace/UserNotifications.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QMetaObject>
#include <QVariantMap>

namespace platform {

namespace {

// A notice the user has not dismissed goes away after the server's own time.
constexpr int kServerDefaultTimeout = -1;
// How long the service may take to answer before the answer no longer matters.
constexpr int kAnswerWaitMs = 10000;

} // namespace

void UserNotifications::deliver(const QString& title, const QString& text, std::function<void(bool delivered)> done)
{
    deliver(QDBusConnection::sessionBus(), title, text, std::move(done));
}

void UserNotifications::deliver(const QDBusConnection& bus, const QString& title, const QString& text,
                                std::function<void(bool delivered)> done)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    // Watchers live on the main thread, whichever thread asked.
    QMetaObject::invokeMethod(app, [bus, title, text, done = std::move(done)]() mutable {
        QDBusConnection connection = bus;
        if (!connection.isConnected()) {
            if (done)
                done(false);
            return;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
        // The sound theme's sound for something that arrived, where the server plays sounds.
        const QVariantMap hints{{QStringLiteral("category"), QStringLiteral("transfer.complete")},
                                {QStringLiteral("sound-name"), QStringLiteral("message-new-instant")}};
        call << QCoreApplication::applicationName() << uint(0) << QString() << title << text << QStringList()
             << hints << kServerDefaultTimeout;
        auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(call, kAnswerWaitMs), qApp);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, done = std::move(done)] {
            watcher->deleteLater();
            if (done)
                done(!watcher->isError());
        });
    }, Qt::QueuedConnection);
}

} // namespace platform
