// The block operations through which the program reads and changes the library store, so that
// one rule is kept in one place: the default context belongs to the main thread, and background
// work gets a context of its own whose saves reach the default context.
//
// Every block receives the context it must use and must not keep it past the block (the
// background contexts are private-queue children of the default context, made per call, with
// the block run on the child's queue). A child's save pushes its changes into the default
// context at once; the default context's own save, which writes them to the store, is then
// queued on the main queue. Saves are the guarded saves of KPContextHelper: failures are
// logged (or handed to the error handler) and never raised.
//
// The "AndWait" forms block the caller until the block (and the child's save) has run. They
// may be called from the main thread: a child reads its parent under the contexts' locks and
// never hops onto the main queue. saveDataWithBlock(block, handler) on a worker thread waits
// for a merge on the main thread, so the main thread must never wait for such a worker.
#pragma once

#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "Store/KPContextHelper.h"

#include <functional>

class KPCoreDataAction {
public:
    using Block = std::function<void(const platform::ContextPtr& context)>;
    using ErrorHandler = KPContextHelper::ErrorHandler;
    using Completion = std::function<void()>;

    // On the main thread: block with the default context, then its save when it has changes.
    // On another thread: a new context on the default coordinator whose save is merged into the
    // default context on the main thread (store values winning conflicts) before this returns.
    // A failed save goes to handler.
    static void saveDataWithBlock(const Block& block, const ErrorHandler& errorHandler);
    // block with the default context on the calling thread (the main thread), then the default
    // context's guarded save.
    static void saveDataWithBlock(const Block& block);
    // block with the default context, at once, on the calling thread; nothing is saved.
    static void lookupWithBlock(const Block& block);
    // block with a new private-queue child of the default context, asynchronously; no save.
    static void lookupWithBlockWithBackground(Block block);
    // The same, waiting for the block.
    static void lookupWithBlockWithBackgroundAndWait(const Block& block);
    // block with a new child asynchronously, then the child's save and a queued save of the
    // default context.
    static void saveDataWithBlockInBackground(Block block);
    // The same, waiting for the block and the child's save (the default context's save is
    // queued, not waited for).
    static void saveDataWithBlockInBackgroundAndWait(const Block& block);
    // block with a new context on the default coordinator (main-queue kind on the main thread,
    // private otherwise) that is not merged into the default context; waits for it and its save.
    static void saveDataWithBlockAndWait(const Block& block);
    // saveDataWithBlock(block, errorHandler) run on the serial background save queue, with a
    // context of its own; completion, when given, is queued on the main queue afterwards.
    static void saveDataInBackgroundWithBlock(Block block, Completion completion = {},
                                              ErrorHandler errorHandler = {});
    // Lets the background save queue go (a new one is made when needed again).
    static void cleanUp();

    // The label of the background save queue.
    static inline const QString kBackgroundSaveQueueLabel =
        QStringLiteral("com.norlith.folivo2.backgroundsavetodatabase");
};
