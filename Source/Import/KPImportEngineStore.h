// The imports' store over the library's DataBaseEngine.
//
// Records are inserted in a context of the import's own on the engine's coordinator and saved
// straight to the store file in one transaction; the library's main context then takes them in
// on the main thread. So "saved" means "on disk", and a save that fails (a full disk) leaves
// nothing in the file, in the main context or in memory that a later save could still write:
// the import can take its copies back out. The unsaved changes of the main context are not
// part of the import's save; only a target folder that exists in the main context alone is
// saved first, since the import's context cannot see it otherwise.
//
// Threads: called on the import queue's thread; the engine lives for the run (or, in tests,
// longer than every import that uses it).
#pragma once

#include "Import/KPImportStore.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"

class DataBaseEngine;
class DBNode;

class KPImportEngineStore : public KPImportStore {
public:
    // Tuning: after a cancel (quit), how long the import still waits for the save to disk.
    static constexpr int kCancelledSaveWaitMs = 5000;

    // Over the shared engine when engine is null.
    explicit KPImportEngineStore(DataBaseEngine* engine = nullptr);

    Outcome storeFlat(const QVariantList& records, const QVariant& targetNode, const QString& newFolderName,
                      const std::function<bool()>& isCancelled) override;
    Outcome storeTree(KPFileSysytemItem& root, const QVariant& targetNode, const QString& newFolderName,
                      const std::function<bool()>& isCancelled) override;
    QVariant objectForMainThread(const QVariant& reference) const override;

private:
    // Fills the import's context (answering the documents inserted), saves it and merges the
    // save into the main context.
    using Fill = std::function<int(const platform::ContextPtr& context, const DBNode& target, Outcome& outcome)>;
    Outcome store(const QVariant& targetNode, const QString& newFolderName, const std::function<bool()>& isCancelled,
                  const Fill& fill);
    DataBaseEngine* engine() const;
    bool saveMainContext(const std::function<bool()>& isCancelled) const;

    DataBaseEngine* m_engine;
};
