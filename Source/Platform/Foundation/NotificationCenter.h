// Process-wide broadcast of named events between modules that do not know each other.
//
// Delivery is synchronous on the posting thread, in registration order. A post works on a
// snapshot of the observers, so callbacks may add or remove observers (their own included) and
// post again; an observer removed during a delivery is not called after its removal. Observers
// are held by move-only tokens: an object keeps its token as a member, and destroying the token
// unregisters. remove() from another thread waits until a callback of that observer that is
// running right now has returned, so a destroyed object is never called; it does not wait for
// a callback running on the calling thread itself (removing your own token inside the callback
// is fine). Never remove an observer while its callback waits for the removing thread (say, a
// callback on a worker doing a main-queue sync while the main thread removes it): that hangs.
//
// Locking: one mutex guards the observer list; no lock is held while a callback runs.
#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <functional>
#include <memory>

namespace platform {

struct Notification {
    QString name;
    QVariant object;
    QVariantMap userInfo;
};

using NotificationCallback = std::function<void(const Notification&)>;

namespace detail {
struct NotificationRegistry;
struct NotificationObserver;
} // namespace detail

// Unregisters its observer when destroyed or when remove() is called. Outliving the center is
// harmless.
class [[nodiscard]] ObserverToken {
public:
    ObserverToken() = default;
    ObserverToken(ObserverToken&& other) noexcept;
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;
    ~ObserverToken();

    void remove();
    bool isActive() const;

private:
    friend class NotificationCenter;
    ObserverToken(std::weak_ptr<detail::NotificationRegistry> registry,
                  std::shared_ptr<detail::NotificationObserver> observer);

    std::weak_ptr<detail::NotificationRegistry> m_registry;
    std::shared_ptr<detail::NotificationObserver> m_observer;
};

class NotificationCenter {
public:
    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The shared center; it lives until the process ends.
    static NotificationCenter& defaultCenter();

    // An empty name observes every notification. A valid senderFilter restricts delivery to
    // posts whose object compares equal to it (QVariant equality; pointers by identity).
    [[nodiscard]] ObserverToken addObserver(const QString& name, NotificationCallback callback,
                                            const QVariant& senderFilter = {});

    void post(const QString& name, const QVariant& object = {}, const QVariantMap& userInfo = {});
    void post(const Notification& notification);

    // Observers currently registered (for diagnostics and tests).
    int observerCount() const;

private:
    std::shared_ptr<detail::NotificationRegistry> m_registry;
};

} // namespace platform
