// The conveniences the program keeps around the platform's object-store contexts: the
// program-wide default context and coordinator, per-thread contexts, contexts whose saves are
// merged into the default context on the main thread, and the guarded save.
//
// The rule they serve: the default context is the store engine's main-queue context and
// belongs to the main thread; background work uses a context of its own whose saves reach the
// default context. A merge into the default context always runs on the main thread; a worker
// that asks for one waits until it is done, so its save returns only after the default context
// has the changes. The main thread must therefore never wait for such a worker.
//
// The guarded save never fails loudly: it logs "Problem saving: %@" or "error: %@" under
// "DataBase" and answers false. Merge policies are passed to the merge that needs them instead
// of being switched on the shared default context, so concurrent workers cannot undo each
// other's setting.
//
// Locking: the default instances and the table of observed contexts each sit behind one
// mutex; no lock is held while a merge or a save runs.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"

#include <functional>
#include <optional>

class KPContextHelper {
public:
    // Called when a save failed, with the reason.
    using ErrorHandler = std::function<void(const platform::Error& error)>;

    // ---- program-wide defaults (set by DataBaseEngine when it opens) ----
    static platform::ContextPtr defaultContext();
    static void setDefaultContext(platform::ContextPtr context);
    static platform::CoordinatorPtr defaultStoreCoordinator();
    static void setDefaultStoreCoordinator(platform::CoordinatorPtr coordinator);
    // Queues a reset of the default context on its queue.
    static void resetDefaultContext();

    // ---- contexts ----
    // The default context on the main thread; elsewhere the calling thread's own context (made
    // on first use, notifying the default context), which lives as long as the thread.
    static platform::ContextPtr contextForCurrentThread();
    static void resetContextForCurrentThread();
    // A new thread-confined context on coordinator (null for a null coordinator).
    static platform::ContextPtr contextWithStoreCoordinator(const platform::CoordinatorPtr& coordinator);
    // The same on the default coordinator.
    static platform::ContextPtr context();
    static platform::ContextPtr contextThatNotifiesDefaultContextOnMainThread();
    static platform::ContextPtr contextThatNotifiesDefaultContextOnMainThreadWithCoordinator(
        const platform::CoordinatorPtr& coordinator);

    // Whether context's saves are merged into the default context on the main thread. Setting
    // it on the default context itself does nothing. policy, when given, settles conflicts of
    // those merges instead of the default context's own policy.
    static bool notifiesMainContextOnSave(const platform::ContextPtr& context);
    static void setNotifiesMainContextOnSave(const platform::ContextPtr& context, bool flag,
                                             std::optional<platform::MergePolicy> policy = std::nullopt);

    // receiver merges every save of other: on the saving thread, or on the main thread.
    static void observeContext(const platform::ContextPtr& receiver, const platform::ContextPtr& other);
    static void observeContextOnMainThread(const platform::ContextPtr& receiver,
                                           const platform::ContextPtr& other,
                                           std::optional<platform::MergePolicy> policy = std::nullopt);
    static void stopObservingContext(const platform::ContextPtr& receiver, const platform::ContextPtr& other);
    static void mergeChangesFromNotification(const platform::ContextPtr& receiver,
                                             const platform::SaveNotification& note,
                                             std::optional<platform::MergePolicy> policy = std::nullopt);
    // On the main thread at once; from another thread performed there while the caller waits.
    static void mergeChangesOnMainThread(const platform::ContextPtr& receiver,
                                         const platform::SaveNotification& note,
                                         std::optional<platform::MergePolicy> policy = std::nullopt);

    // ---- guarded saves (run them on the context's queue) ----
    // True only when the save succeeded; false for a null context.
    static bool save(const platform::ContextPtr& context);
    // The same; a failure is logged to the system log and handed to handler once.
    static bool saveWithErrorHandler(const platform::ContextPtr& context, const ErrorHandler& handler);
    // The guarded save run on the main thread, waited for.
    static bool saveOnMainThread(const platform::ContextPtr& context);
};
