// The index-folder store: what the last sync saw of every file of every index folder and
// document source, in "Index/indexFolder.db" of the library folder, on the object store with
// the model "IndexFolderModel".
//
// It is a second, small store beside the library's so that syncing never holds the library
// store's locks for its bookkeeping. Callers on the main thread work in the main context;
// every other thread gets a context of its own on the shared coordinator, whose saves are
// merged into the main context on the main thread. Rows flagged `isRemove` are purged when an
// engine first opens the store, so they stay visible (and excluded by the diff) for the rest
// of the run that flagged them.
//
// A store that cannot be opened is logged and leaves the engine without a store: hasStore()
// says so, fetchRecordsByName fails and every save fails, so a sync can refuse to run instead
// of taking every file for new.
//
// At a clean quit closeShared() saves the main context and closes the store with its log
// written back, so "indexFolder.db" alone holds it; the shared engine itself is never
// destroyed, since sync threads may still hold it while the program quits.
//
// Threads: any; close on the main thread. The shared engine is made once under a lock; the
// coordinator and contexts lock themselves.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Platform/ObjectStore/Predicate/SortDescriptor.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

class KPIndexFolderDBEngine {
public:
    // Errors of the "IndexFolder" domain.
    static inline const QString kErrorDomain = QStringLiteral("IndexFolder");
    enum ErrorCode {
        StoreUnavailableError = 1, // the store could not be opened
        FetchError = 2,            // reading rows failed
        UnreachableError = 3,      // a watched folder is out of reach (see KPFolderSnapshotAnalytics)
    };

    // The shared engine over the library named by "String_Library_Path", made on first use.
    static KPIndexFolderDBEngine& IndexFolderDBEngine();

    // An engine over the given library folder; a second engine over the same folder behaves
    // like the next run of the program. modelPath defaults to the bundle's "IndexFolderModel".
    explicit KPIndexFolderDBEngine(const QString& libraryPath, const QString& modelPath = {});
    ~KPIndexFolderDBEngine();
    KPIndexFolderDBEngine(const KPIndexFolderDBEngine&) = delete;
    KPIndexFolderDBEngine& operator=(const KPIndexFolderDBEngine&) = delete;

    // Closes the shared engine's store when it was ever made (main thread, at quit).
    static platform::Result<void> closeShared();
    // Saves the main context and closes the store: later saves and fetches fail as for a store
    // that could not be opened. The first error of the two steps; the store is closed anyway.
    platform::Result<void> close();

    // "<library>/Index/indexFolder.db".
    static QString storePathForLibrary(const QString& libraryPath);

    const platform::ContextPtr& mainContext() const { return m_mainContext; }
    const platform::CoordinatorPtr& coordinator() const { return m_coordinator; }
    bool hasStore() const;
    QString storePath() const { return m_storePath; }

    // A context of its own for the calling thread (no undo, confined to the caller).
    platform::ContextPtr newPrivateContext() const;

    using ContextBlock = std::function<void(const platform::ContextPtr& context)>;
    using ErrorHandler = std::function<void(const platform::Error& error)>;

    // Runs block in the main context (main thread) or a new private context (elsewhere) and
    // saves it when it changed something; a failure goes to errorHandler and is returned.
    platform::Result<void> saveDataWithBlock(const ContextBlock& block, const ErrorHandler& errorHandler = {});
    // Runs block in the main context (main thread) or a new private context; saves nothing.
    void lookupWithBlock(const ContextBlock& block);
    // Saves the main context when it has changes; false (and logged) on failure.
    bool save();

    // Rows of an entity; a null context means the main context. A failed fetch gives none.
    QList<platform::ManagedObjectPtr> queryRecordByName(const QString& entityName,
                                                        const platform::Predicate& predicate = {},
                                                        const std::optional<platform::SortDescriptor>& sort = {},
                                                        const platform::ContextPtr& context = {});
    // The same, telling a failed fetch (or a missing store) from no rows.
    platform::Result<QList<platform::ManagedObjectPtr>> fetchRecordsByName(
        const QString& entityName, const platform::Predicate& predicate = {},
        const std::optional<platform::SortDescriptor>& sort = {}, const platform::ContextPtr& context = {});
    platform::ManagedObjectPtr createNewRecordByName(const QString& entityName,
                                                     const platform::ContextPtr& context = {});
    // 0 when the count fails.
    qsizetype countByObject(const QString& entityName, const platform::Predicate& predicate = {},
                            const platform::ContextPtr& context = {});

private:
    void initData(const QString& libraryPath, const QString& modelPath);
    void progressNeedRemoveRecord();
    const platform::ContextPtr& contextOrMain(const platform::ContextPtr& context) const;

    platform::CoordinatorPtr m_coordinator;
    platform::ContextPtr m_mainContext;
    QString m_storePath;
};
