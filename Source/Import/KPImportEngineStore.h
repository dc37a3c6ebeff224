// The imports' store over the library's DataBaseEngine.
//
// Records are inserted in a private child of the engine's main context and saved into it; the
// main context is then saved to disk on the main thread while the import waits, so the import
// knows whether its documents are only in the library's view (saved) or also on disk
// (durable). Only a durable save lets a move delete its sources.
//
// Threads: called on the import queue's thread; the engine lives for the run (or, in tests,
// longer than every import that uses it).
#pragma once

#include "Import/KPImportStore.h"

class DataBaseEngine;

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
    DataBaseEngine* engine() const;
    bool saveMainContext(const std::function<bool()>& isCancelled) const;

    DataBaseEngine* m_engine;
};
