#include "Store/KPContextHelper.h"

#include "Platform/Foundation/Dispatch.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QtDebug>
#include <exception>
#include <mutex>
#include <vector>

using platform::ContextPtr;
using platform::CoordinatorPtr;
using platform::ManagedObjectContext;
using platform::MergePolicy;
using platform::SaveNotification;

namespace {

const QString kLogDomain = QStringLiteral("DataBase");

std::mutex g_defaultsMutex;
ContextPtr g_defaultContext;
CoordinatorPtr g_defaultCoordinator;

// One receiver merging the saves of one other context.
struct Observation {
    std::weak_ptr<ManagedObjectContext> receiver;
    std::weak_ptr<ManagedObjectContext> other;
    const ManagedObjectContext* receiverKey = nullptr;
    const ManagedObjectContext* otherKey = nullptr;
    platform::ObserverToken token;
};

std::mutex g_observationsMutex;
std::vector<Observation> g_observations;

// Takes the observations of (receiver, other) out of the table, and those whose contexts are
// gone; the caller destroys them outside the lock.
std::vector<Observation> takeObservations(const ManagedObjectContext* receiver, const ManagedObjectContext* other)
{
    std::vector<Observation> taken;
    std::lock_guard lock(g_observationsMutex);
    for (auto it = g_observations.begin(); it != g_observations.end();) {
        const bool match = it->receiverKey == receiver && it->otherKey == other;
        if (match || it->receiver.expired() || it->other.expired()) {
            taken.push_back(std::move(*it));
            it = g_observations.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

void addObservation(const ContextPtr& receiver, const ContextPtr& other, bool onMainThread,
                    std::optional<MergePolicy> policy)
{
    if (!receiver || !other || receiver == other)
        return;
    // Re-observing replaces the earlier observation, so a save is never merged twice.
    auto stale = takeObservations(receiver.get(), other.get());
    std::weak_ptr<ManagedObjectContext> weakReceiver = receiver;
    Observation observation;
    observation.receiver = receiver;
    observation.other = other;
    observation.receiverKey = receiver.get();
    observation.otherKey = other.get();
    observation.token = other->addDidSaveObserver([weakReceiver, onMainThread, policy](const SaveNotification& note) {
        auto target = weakReceiver.lock();
        if (!target || note.isEmpty())
            return;
        if (onMainThread)
            KPContextHelper::mergeChangesOnMainThread(target, note, policy);
        else
            KPContextHelper::mergeChangesFromNotification(target, note, policy);
    });
    std::lock_guard lock(g_observationsMutex);
    g_observations.push_back(std::move(observation));
}

bool isObserving(const ManagedObjectContext* receiver, const ManagedObjectContext* other)
{
    std::lock_guard lock(g_observationsMutex);
    for (const auto& observation : g_observations) {
        if (observation.receiverKey == receiver && observation.otherKey == other && !observation.other.expired())
            return true;
    }
    return false;
}

// The calling thread's own context; released when the thread ends.
struct ThreadContext {
    ContextPtr context;
};
thread_local ThreadContext t_threadContext;

} // namespace

ContextPtr KPContextHelper::defaultContext()
{
    std::lock_guard lock(g_defaultsMutex);
    return g_defaultContext;
}

void KPContextHelper::setDefaultContext(ContextPtr context)
{
    std::lock_guard lock(g_defaultsMutex);
    g_defaultContext = std::move(context);
}

CoordinatorPtr KPContextHelper::defaultStoreCoordinator()
{
    std::lock_guard lock(g_defaultsMutex);
    return g_defaultCoordinator;
}

void KPContextHelper::setDefaultStoreCoordinator(CoordinatorPtr coordinator)
{
    std::lock_guard lock(g_defaultsMutex);
    g_defaultCoordinator = std::move(coordinator);
}

void KPContextHelper::resetDefaultContext()
{
    if (auto context = defaultContext())
        context->perform([context] { context->reset(); });
}

ContextPtr KPContextHelper::contextForCurrentThread()
{
    if (platform::Dispatch::isMainThread())
        return defaultContext();
    if (!t_threadContext.context)
        t_threadContext.context = contextThatNotifiesDefaultContextOnMainThread();
    return t_threadContext.context;
}

void KPContextHelper::resetContextForCurrentThread()
{
    if (auto context = contextForCurrentThread())
        context->reset();
}

ContextPtr KPContextHelper::contextWithStoreCoordinator(const CoordinatorPtr& coordinator)
{
    if (!coordinator)
        return nullptr;
    return ManagedObjectContext::create(platform::ConcurrencyType::Confinement, coordinator);
}

ContextPtr KPContextHelper::context()
{
    return contextWithStoreCoordinator(defaultStoreCoordinator());
}

ContextPtr KPContextHelper::contextThatNotifiesDefaultContextOnMainThread()
{
    return contextThatNotifiesDefaultContextOnMainThreadWithCoordinator(defaultStoreCoordinator());
}

ContextPtr KPContextHelper::contextThatNotifiesDefaultContextOnMainThreadWithCoordinator(
    const CoordinatorPtr& coordinator)
{
    ContextPtr context = contextWithStoreCoordinator(coordinator);
    setNotifiesMainContextOnSave(context, true);
    return context;
}

bool KPContextHelper::notifiesMainContextOnSave(const ContextPtr& context)
{
    const ContextPtr main = defaultContext();
    return context && main && isObserving(main.get(), context.get());
}

void KPContextHelper::setNotifiesMainContextOnSave(const ContextPtr& context, bool flag,
                                                   std::optional<MergePolicy> policy)
{
    const ContextPtr main = defaultContext();
    if (!context || !main || context == main)
        return;
    if (flag)
        observeContextOnMainThread(main, context, policy);
    else
        stopObservingContext(main, context);
}

void KPContextHelper::observeContext(const ContextPtr& receiver, const ContextPtr& other)
{
    addObservation(receiver, other, false, std::nullopt);
}

void KPContextHelper::observeContextOnMainThread(const ContextPtr& receiver, const ContextPtr& other,
                                                 std::optional<MergePolicy> policy)
{
    addObservation(receiver, other, true, policy);
}

void KPContextHelper::stopObservingContext(const ContextPtr& receiver, const ContextPtr& other)
{
    if (!receiver || !other)
        return;
    // Tokens are destroyed here, outside the table's lock.
    auto taken = takeObservations(receiver.get(), other.get());
    taken.clear();
}

void KPContextHelper::mergeChangesFromNotification(const ContextPtr& receiver, const SaveNotification& note,
                                                   std::optional<MergePolicy> policy)
{
    if (!receiver)
        return;
    if (!policy) {
        receiver->mergeChangesFromContextDidSaveNotification(note);
        return;
    }
    // The receiver's own policy is put back at once; merges into the default context all run
    // on the main thread, so no other merge can see the borrowed one.
    const MergePolicy own = receiver->mergePolicy();
    receiver->setMergePolicy(*policy);
    receiver->mergeChangesFromContextDidSaveNotification(note);
    receiver->setMergePolicy(own);
}

void KPContextHelper::mergeChangesOnMainThread(const ContextPtr& receiver, const SaveNotification& note,
                                               std::optional<MergePolicy> policy)
{
    if (platform::Dispatch::isMainThread()) {
        mergeChangesFromNotification(receiver, note, policy);
        return;
    }
    platform::DispatchQueue::main().sync([&] { mergeChangesFromNotification(receiver, note, policy); });
}

bool KPContextHelper::save(const ContextPtr& context)
{
    if (!context)
        return false;
    try {
        auto saved = context->save();
        if (!saved) {
            KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("error: %1").arg(saved.error().toString()));
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Problem saving: %1").arg(QString::fromLocal8Bit(e.what())));
    } catch (...) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Problem saving: %1").arg(QStringLiteral("unknown exception")));
    }
    return false;
}

bool KPContextHelper::saveWithErrorHandler(const ContextPtr& context, const ErrorHandler& handler)
{
    platform::Error failure;
    if (!context) {
        failure = platform::Error{kLogDomain, 1, QStringLiteral("No context to save.")};
    } else {
        try {
            auto saved = context->save();
            if (saved)
                return true;
            failure = saved.error();
        } catch (const std::exception& e) {
            failure = platform::Error{kLogDomain, 2, QString::fromLocal8Bit(e.what())};
            qWarning().noquote() << QStringLiteral("Problem saving: %1").arg(failure.message);
        } catch (...) {
            failure = platform::Error{kLogDomain, 2, QStringLiteral("unknown exception")};
            qWarning().noquote() << QStringLiteral("Problem saving: %1").arg(failure.message);
        }
    }
    if (handler)
        handler(failure);
    else
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("error: %1").arg(failure.toString()));
    return false;
}

bool KPContextHelper::saveOnMainThread(const ContextPtr& context)
{
    bool saved = false;
    if (platform::Dispatch::isMainThread())
        saved = save(context);
    else
        platform::DispatchQueue::main().sync([&] { saved = save(context); });
    return saved;
}
