#include "Store/KPCoreDataAction.h"

#include "Platform/Foundation/Dispatch.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <mutex>

using platform::ConcurrencyType;
using platform::ContextPtr;
using platform::ManagedObjectContext;
using platform::MergePolicy;

namespace {

const QString kLogDomain = QStringLiteral("DataBase");

void logNoStore(const char* operation)
{
    KPLogLogDomainMessage(kLogDomain, 0,
                          QStringLiteral("%1: the library store is not open").arg(QLatin1String(operation)));
}

// A private-queue child of the default context; null while the store is not open.
ContextPtr newBackgroundChild()
{
    ContextPtr parent = KPContextHelper::defaultContext();
    if (!parent)
        return nullptr;
    return ManagedObjectContext::create(ConcurrencyType::PrivateQueue, parent);
}

// The child's save has pushed its changes into the parent; the parent's save writes them.
void saveChildThenQueueParent(const ContextPtr& child)
{
    KPContextHelper::save(child);
    if (ContextPtr parent = child->parentContext())
        parent->perform([parent] { KPContextHelper::save(parent); });
}

std::mutex g_queueMutex;
platform::DispatchQueue g_backgroundSaveQueue;

platform::DispatchQueue backgroundSaveQueue()
{
    std::lock_guard lock(g_queueMutex);
    if (!g_backgroundSaveQueue.isValid())
        g_backgroundSaveQueue = platform::DispatchQueue::serial(KPCoreDataAction::kBackgroundSaveQueueLabel);
    return g_backgroundSaveQueue;
}

} // namespace

void KPCoreDataAction::saveDataWithBlock(const Block& block, const ErrorHandler& errorHandler)
{
    const ContextPtr main = KPContextHelper::defaultContext();
    if (!main) {
        logNoStore("saveDataWithBlock");
        return;
    }
    const bool onMain = platform::Dispatch::isMainThread();
    ContextPtr context = main;
    if (!onMain) {
        context = KPContextHelper::contextWithStoreCoordinator(KPContextHelper::defaultStoreCoordinator());
        if (!context) {
            logNoStore("saveDataWithBlock");
            return;
        }
        // The worker's own values win in the worker; the store's win in the default context
        // while it takes the worker's save in.
        context->setMergePolicy(MergePolicy::Overwrite);
        KPContextHelper::setNotifiesMainContextOnSave(context, true, MergePolicy::StoreTrumpByProperty);
    }

    if (block)
        block(context);
    if (context->hasChanges())
        KPContextHelper::saveWithErrorHandler(context, errorHandler);

    if (!onMain) {
        KPContextHelper::setNotifiesMainContextOnSave(context, false);
        return;
    }
    main->setMergePolicy(MergePolicy::ObjectTrumpByProperty);
}

void KPCoreDataAction::saveDataWithBlock(const Block& block)
{
    const ContextPtr main = KPContextHelper::defaultContext();
    if (!main) {
        logNoStore("saveDataWithBlock");
        return;
    }
    if (block)
        block(main);
    KPContextHelper::save(main);
}

void KPCoreDataAction::lookupWithBlock(const Block& block)
{
    const ContextPtr main = KPContextHelper::defaultContext();
    if (!main) {
        logNoStore("lookupWithBlock");
        return;
    }
    if (block)
        block(main);
}

void KPCoreDataAction::lookupWithBlockWithBackground(Block block)
{
    ContextPtr child = newBackgroundChild();
    if (!child) {
        logNoStore("lookupWithBlockWithBackground");
        return;
    }
    child->perform([child, block = std::move(block)] {
        if (block)
            block(child);
    });
}

void KPCoreDataAction::lookupWithBlockWithBackgroundAndWait(const Block& block)
{
    ContextPtr child = newBackgroundChild();
    if (!child) {
        logNoStore("lookupWithBlockWithBackgroundAndWait");
        return;
    }
    child->performAndWait([&] {
        if (block)
            block(child);
    });
}

void KPCoreDataAction::saveDataWithBlockInBackground(Block block)
{
    ContextPtr child = newBackgroundChild();
    if (!child) {
        logNoStore("saveDataWithBlockInBackground");
        return;
    }
    child->perform([child, block = std::move(block)] {
        if (block)
            block(child);
        saveChildThenQueueParent(child);
    });
}

void KPCoreDataAction::saveDataWithBlockInBackgroundAndWait(const Block& block)
{
    ContextPtr child = newBackgroundChild();
    if (!child) {
        logNoStore("saveDataWithBlockInBackgroundAndWait");
        return;
    }
    child->performAndWait([&] {
        if (block)
            block(child);
        saveChildThenQueueParent(child);
    });
}

void KPCoreDataAction::saveDataWithBlockAndWait(const Block& block)
{
    const platform::CoordinatorPtr coordinator = KPContextHelper::defaultStoreCoordinator();
    if (!coordinator) {
        logNoStore("saveDataWithBlockAndWait");
        return;
    }
    const auto type = platform::Dispatch::isMainThread() ? ConcurrencyType::MainQueue : ConcurrencyType::PrivateQueue;
    ContextPtr context = ManagedObjectContext::create(type, coordinator);
    context->performAndWait([&] {
        if (block)
            block(context);
        KPContextHelper::save(context);
    });
}

void KPCoreDataAction::saveDataInBackgroundWithBlock(Block block, Completion completion, ErrorHandler errorHandler)
{
    // On the background queue saveDataWithBlock takes a worker context of its own, so the
    // main-queue default context is never used off its queue.
    backgroundSaveQueue().async([block = std::move(block), completion = std::move(completion),
                                 errorHandler = std::move(errorHandler)] {
        saveDataWithBlock(block, errorHandler);
        if (completion)
            platform::Dispatch::main(completion);
    });
}

void KPCoreDataAction::cleanUp()
{
    std::lock_guard lock(g_queueMutex);
    g_backgroundSaveQueue = platform::DispatchQueue();
}
