#include "Platform/Workspace/UserNotifications.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QStringList>
#include <QMetaObject>
#include <QVariantMap>

namespace platform {

namespace {

// A notice the user has not dismissed goes away after the server's own time.
constexpr int kServerDefaultTimeout = -1;
// How long the service may take to answer before the answer no longer matters.
constexpr int kAnswerWaitMs = 10000;

// text as markup shows it: the three characters markup reads, each as its entity.
QString escapedMarkup(QString text)
{
    return text.replace(QLatin1Char('&'), QLatin1String("&amp;"))
        .replace(QLatin1Char('<'), QLatin1String("&lt;"))
        .replace(QLatin1Char('>'), QLatin1String("&gt;"));
}

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
        // The service is asked first whether it reads the body as markup: then a "<" or "&"
        // of the text (a peer's document name) is escaped, so it shows as written and no tag
        // or link of the sender's reaches the user; a service that shows the body as it comes
        // gets it unescaped. The summary is plain text to every service.
        QDBusMessage ask =
            QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("GetCapabilities"));
        auto* asked = new QDBusPendingCallWatcher(connection.asyncCall(ask, kAnswerWaitMs), qApp);
        QObject::connect(asked, &QDBusPendingCallWatcher::finished, asked,
                         [asked, connection, title, text, done = std::move(done)]() mutable {
            asked->deleteLater();
            const QDBusMessage answer = asked->reply();
            // A service that cannot say is taken to read markup: an escaped text shows
            // entities at worst, an unescaped one could show the sender's markup.
            const bool markup = answer.type() != QDBusMessage::ReplyMessage
                || answer.arguments().value(0).toStringList().contains(QStringLiteral("body-markup"));
            notify(connection, title, markup ? escapedMarkup(text) : text, std::move(done));
        });
    }, Qt::QueuedConnection);
}

void UserNotifications::notify(const QDBusConnection& connection, const QString& title, const QString& body,
                               std::function<void(bool delivered)> done)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    // The sound theme's sound for something that arrived, where the server plays sounds.
    const QVariantMap hints{{QStringLiteral("category"), QStringLiteral("transfer.complete")},
                            {QStringLiteral("sound-name"), QStringLiteral("message-new-instant")}};
    call << QCoreApplication::applicationName() << uint(0) << QString() << title << body << QStringList() << hints
         << kServerDefaultTimeout;
    QDBusConnection bus = connection;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kAnswerWaitMs), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        if (done)
            done(!watcher->isError());
    });
}

} // namespace platform
