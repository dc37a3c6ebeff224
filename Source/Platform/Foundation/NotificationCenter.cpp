#include "Platform/Foundation/NotificationCenter.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace detail {

struct NotificationObserver {
    QString name;
    QVariant senderFilter;
    NotificationCallback callback;

    std::mutex mutex;
    std::condition_variable idle;
    bool alive = true;
    // One entry per callback in progress; a thread appears twice when a post re-enters.
    std::vector<std::thread::id> runningOn;

    bool matches(const Notification& n) const
    {
        return (name.isEmpty() || name == n.name)
            && (!senderFilter.isValid() || senderFilter == n.object);
    }

    bool busyElsewhere(std::thread::id self) const
    {
        return std::any_of(runningOn.begin(), runningOn.end(),
                           [self](std::thread::id id) { return id != self; });
    }
};

struct NotificationRegistry {
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<NotificationObserver>> observers;
};

} // namespace detail

namespace {

void unregister(const std::shared_ptr<detail::NotificationRegistry>& registry,
                const std::shared_ptr<detail::NotificationObserver>& observer)
{
    if (registry) {
        std::lock_guard lock(registry->mutex);
        std::erase(registry->observers, observer);
    }
    const auto self = std::this_thread::get_id();
    std::unique_lock lock(observer->mutex);
    observer->alive = false;
    observer->idle.wait(lock, [&] { return !observer->busyElsewhere(self); });
}

// Marks a callback as running for the lifetime of the scope; false when the observer is gone.
class Delivery {
public:
    explicit Delivery(detail::NotificationObserver& o) : m_observer(o)
    {
        std::lock_guard lock(o.mutex);
        m_entered = o.alive;
        if (m_entered)
            o.runningOn.push_back(std::this_thread::get_id());
    }
    ~Delivery()
    {
        if (!m_entered)
            return;
        std::lock_guard lock(m_observer.mutex);
        auto& ids = m_observer.runningOn;
        ids.erase(std::find(ids.begin(), ids.end(), std::this_thread::get_id()));
        m_observer.idle.notify_all();
    }
    bool entered() const { return m_entered; }

private:
    detail::NotificationObserver& m_observer;
    bool m_entered = false;
};

} // namespace

ObserverToken::ObserverToken(std::weak_ptr<detail::NotificationRegistry> registry,
                             std::shared_ptr<detail::NotificationObserver> observer)
    : m_registry(std::move(registry)), m_observer(std::move(observer))
{
}

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : m_registry(std::move(other.m_registry)), m_observer(std::move(other.m_observer))
{
}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept
{
    if (this != &other) {
        remove();
        m_registry = std::move(other.m_registry);
        m_observer = std::move(other.m_observer);
    }
    return *this;
}

ObserverToken::~ObserverToken()
{
    remove();
}

void ObserverToken::remove()
{
    if (!m_observer)
        return;
    const auto observer = std::move(m_observer);
    m_observer.reset();
    unregister(m_registry.lock(), observer);
    m_registry.reset();
}

bool ObserverToken::isActive() const
{
    return m_observer != nullptr;
}

NotificationCenter::NotificationCenter() : m_registry(std::make_shared<detail::NotificationRegistry>())
{
}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter()
{
    // Never destroyed: tokens held by other static objects may be released after this one would
    // have been, and posts may still arrive from threads during exit.
    static auto* center = new NotificationCenter;
    return *center;
}

ObserverToken NotificationCenter::addObserver(const QString& name, NotificationCallback callback,
                                              const QVariant& senderFilter)
{
    auto observer = std::make_shared<detail::NotificationObserver>();
    observer->name = name;
    observer->senderFilter = senderFilter;
    observer->callback = std::move(callback);
    {
        std::lock_guard lock(m_registry->mutex);
        m_registry->observers.push_back(observer);
    }
    return ObserverToken(m_registry, std::move(observer));
}

void NotificationCenter::post(const QString& name, const QVariant& object, const QVariantMap& userInfo)
{
    post(Notification{name, object, userInfo});
}

void NotificationCenter::post(const Notification& notification)
{
    std::vector<std::shared_ptr<detail::NotificationObserver>> snapshot;
    {
        std::lock_guard lock(m_registry->mutex);
        for (const auto& o : m_registry->observers) {
            if (o->matches(notification))
                snapshot.push_back(o);
        }
    }
    for (const auto& o : snapshot) {
        Delivery delivery(*o);
        if (delivery.entered() && o->callback)
            o->callback(notification);
    }
}

int NotificationCenter::observerCount() const
{
    std::lock_guard lock(m_registry->mutex);
    return int(m_registry->observers.size());
}

} // namespace platform
