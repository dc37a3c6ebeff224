// One store and the committed-row cache every context of it reads.
//
// The store is read into immutable rows one table (root entity) at a time, on first use, so
// fetches, key-path walks and pending-change overlays all run over memory with one evaluator
// while opening costs next to nothing and a table nobody asks for is never read (nor one whose
// filter SQLite finds nothing for, countStored); SQLite is
// written through, one transaction per save. Every way to a row (cachedRow, tableRows,
// indexedKeys, commit) reads its table first, so nothing can miss a table that is not in memory
// yet; a save that only adds records to such a table just writes them, and the table reads
// them with the rest when it is first used. A save (commit) computes every new row first, writes them, and
// only when the transaction has committed swaps them into the cache: a failed save changes
// neither the file nor the cache. Conflicts with saves made since a context read its objects
// are settled here, by the saving context's merge policy.
//
// Locking: the cache has one shared_mutex (readers: fetches and context reads; writer: a
// commit). It is taken after any context lock (child → parent → cache → SQLite) and nothing is
// called back while it is held. A table is read under either side of it plus a mutex of its
// own, so a commit never runs while a table is read, and two threads that want the same table
// read it once; nothing else is locked while a table is read. Key sequences have their own
// small mutex, taken alone.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/ChangeSet.h"
#include "Platform/ObjectStore/ManagedObjectModel.h"
#include "Platform/ObjectStore/MergePolicy.h"
#include "Platform/ObjectStore/ObjectID.h"
#include "Platform/ObjectStore/Row.h"
#include "Platform/ObjectStore/SaveNotification.h"
#include "Platform/ObjectStore/SqliteStore.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

namespace platform {

struct StoreOptions {
    // Migrate a store written by an older model version when it is opened.
    bool migrateAutomatically = true;
    // Infer the mapping when no mapping model file fits.
    bool inferMappingModel = true;
    // Where older model versions live: ".mom" files or ".momd" folders; the store's own
    // version is looked up among them by hash. Empty: only the coordinator's model opens it.
    QStringList modelSearchPaths;
    // Mapping model files to consider before inferring one.
    QStringList mappingModelPaths;
};

class PersistentStoreCoordinator : public std::enable_shared_from_this<PersistentStoreCoordinator> {
public:
    // Error codes in the "ObjectStore" domain beside SqliteStore's.
    enum ErrorCode {
        NoStoreError = 134060,     // no store has been added (or adding it failed)
        ConflictError = 133020,    // a save met changes it may not overwrite
        UnknownEntityError = 134070,
        InvalidURIError = 134071,
    };

    static std::shared_ptr<PersistentStoreCoordinator> create(ModelPtr model);
    ~PersistentStoreCoordinator();

    const ModelPtr& model() const { return m_model; }

    Result<void> addSQLiteStore(const QString& path, const StoreOptions& options = {});
    // A store that lives in memory only (tests, scratch work).
    Result<void> addInMemoryStore();
    bool hasStore() const;
    // Closes the SQLite store for good (its file then holds every save, log written back):
    // later saves fail with NoStoreError, fetches fail, and tables not read yet stay empty.
    // Waits for a running save or table read. The error of writing the log back, if any.
    Result<void> closeStore();
    QString storePath() const;
    QString storeUUID() const;
    QString journalMode() const;
    static Result<StoreMetadata> metadataForPersistentStore(const QString& path);

    // Null for a malformed URI, one of another store, or an unknown entity. The record itself
    // is not looked up (existingObjectWithID does).
    ObjectID managedObjectIDForURIRepresentation(const QString& uri) const;

    // ---- for contexts ----
    ObjectID newTemporaryID(const EntityDescription* entity);
    ObjectID permanentID(const EntityDescription* entity, qint64 pk) const;
    // What the IDs of this coordinator's records point to (compare with ObjectID::store()).
    const StoreIdentity* storeIdentity() const { return m_identity.get(); }
    // Makes the IDs permanent; their keys are recorded so that they are never handed out again.
    Result<void> obtainPermanentIDs(const QList<ObjectID>& ids);

    // Reads need the read lock held for as long as the returned references are used. Each of
    // them reads the table it needs from the file first; a table that cannot be read answers
    // no rows (loadTables reports why).
    std::shared_lock<std::shared_mutex> readLock() const { return std::shared_lock(m_cacheMutex); }
    bool hasStoreUnlocked() const { return m_hasStore; }
    // Reads the tables of these entities now, so that a failure is an error of the caller's.
    Result<void> loadTables(const std::vector<const EntityDescription*>& entities) const;
    RowPtr cachedRow(const EntityDescription* entity, qint64 pk) const;
    // How many stored records of entity (and of its sub-entities when asked) pass every test,
    // counted in the file while their table is not in memory, so that a filter nothing passes
    // costs no table; none when the table is in memory or no open file stands behind the store.
    // Read lock held.
    std::optional<Result<qint64>> countStored(const EntityDescription* entity, bool subentities,
                                              const std::vector<CellTest>& tests) const;
    bool isTableLoaded(const EntityDescription* entity) const { return isLoaded(tableIndex(entity)); }
    const std::vector<RowPtr>& tableRows(const EntityDescription* root) const;
    // Keys of the stored records whose indexed integer attribute equals value (sorted), or null
    // when the attribute has no index or value does not fit its type. Read lock held.
    const std::vector<qint64>* indexedKeys(const EntityDescription* entity, const QString& attribute,
                                           const QVariant& value) const;

    struct CommitResult {
        SaveNotification notification;
        QHash<ObjectID, RowPtr> rows; // the committed state of every inserted or updated object
    };
    Result<CommitResult> commit(const ChangeSet& changes, MergePolicy policy);

private:
    explicit PersistentStoreCoordinator(ModelPtr model);
    void installStore(const std::vector<qint64>& sequences, const QString& uuid);
    size_t tableIndex(const EntityDescription* entity) const;
    // Reads the table unless it is in memory already; needs either side of the cache lock.
    Result<void> ensureLoaded(size_t table) const;
    bool isLoaded(size_t table) const { return m_tableState[table].loaded.load(std::memory_order_acquire); }

    ModelPtr m_model;
    std::shared_ptr<StoreIdentity> m_identity;
    std::shared_ptr<const detail::ObjectIDState> m_permanentState;
    std::vector<size_t> m_tableIndex; // by the entity's index in the model

    mutable std::shared_mutex m_cacheMutex;
    std::unique_ptr<SqliteStore> m_sqlite;
    bool m_hasStore = false;
    bool m_inMemory = false;
    // Per table: filled once by ensureLoaded (under its load mutex), then changed by commits only.
    struct TableState {
        std::mutex loadMutex;
        std::atomic<bool> loaded{false};
    };
    std::unique_ptr<TableState[]> m_tableState;
    mutable std::vector<std::vector<RowPtr>> m_tables;
    // Hash indexes of the attributes the model marks indexed (integers and booleans): the
    // lookups by nodeID, uuid, folderID and skDocumentID that would otherwise scan a table.
    // Filled with their table.
    struct AttributeIndex {
        size_t table = 0;
        QString attribute;
        std::unordered_map<quint64, std::vector<qint64>> keys;
    };
    mutable std::vector<AttributeIndex> m_indexes;
    void indexRow(const RowPtr& row, bool add) const;

    mutable std::mutex m_sequenceMutex;
    std::vector<qint64> m_sequences; // highest key handed out per table
};

using CoordinatorPtr = std::shared_ptr<PersistentStoreCoordinator>;

} // namespace platform
