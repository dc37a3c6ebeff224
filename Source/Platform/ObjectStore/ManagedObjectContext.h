// A scratch pad of records: objects are fetched into it, changed, inserted and deleted, and a
// save sends the changes to the store (a root context) or into the parent context (a child).
//
// A context sees its own unsaved changes and its parents', by overlaying each level's changed
// objects on the store's committed rows; nothing is copied into a child until it touches it.
// Keys are handed out at insertion, so a child's new objects keep their IDs when they move up
// and become permanent for every holder at the store save.
//
// Threads and locks. The context's state has one recursive mutex. Reads through the context
// chain lock child → parent → … → the coordinator's cache (read), always in that order, and a
// root save holds its own mutex and then the cache's write lock. No lock is held while a
// caller's block, a did-save observer or perform's task runs. perform and performAndWait run on
// the context's queue: the main queue (Qt's event loop) for MainQueue, a serial queue of its
// own for PrivateQueue, the calling thread for Confinement; performAndWait runs inline when
// already on that queue. A child never hops onto its parent's queue: it pushes its changes
// under the parent's lock, so a main thread waiting for a child cannot deadlock with it.
#pragma once

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/ObjectStore/FetchRequest.h"
#include "Platform/ObjectStore/ManagedObject.h"
#include "Platform/ObjectStore/MergePolicy.h"
#include "Platform/ObjectStore/PersistentStoreCoordinator.h"
#include "Platform/ObjectStore/SaveNotification.h"

#include <QHash>
#include <QList>
#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace platform {

enum class ConcurrencyType { Confinement, PrivateQueue, MainQueue };

class ManagedObjectContext : public std::enable_shared_from_this<ManagedObjectContext> {
public:
    // Error codes in the "ObjectStore" domain beside the coordinator's.
    enum ErrorCode {
        FetchError = 134090,      // unknown entity or key path
    };

    static std::shared_ptr<ManagedObjectContext> create(ConcurrencyType type, CoordinatorPtr coordinator);
    static std::shared_ptr<ManagedObjectContext> create(ConcurrencyType type,
                                                        std::shared_ptr<ManagedObjectContext> parent);
    ~ManagedObjectContext();

    ConcurrencyType concurrencyType() const { return m_type; }
    // The coordinator of the root of the chain.
    const CoordinatorPtr& persistentStoreCoordinator() const { return m_coordinator; }
    const std::shared_ptr<ManagedObjectContext>& parentContext() const { return m_parent; }
    MergePolicy mergePolicy() const;
    void setMergePolicy(MergePolicy policy);

    void perform(std::function<void()> task);
    void performAndWait(const std::function<void()>& task);

    // Null for an unknown entity.
    ManagedObjectPtr insertNewObject(const QString& entityName);
    void deleteObject(const ManagedObjectPtr& object);
    // The object for a record this context can see (its own, its parents' or the store's); null
    // when there is none (deleted, never saved elsewhere, another store).
    ManagedObjectPtr existingObjectWithID(const ObjectID& id);
    ManagedObjectPtr objectWithID(const ObjectID& id) { return existingObjectWithID(id); }
    ManagedObjectPtr objectRegisteredForID(const ObjectID& id) const;

    Result<QList<ManagedObjectPtr>> executeFetchRequest(const FetchRequest& request);
    Result<QList<ObjectID>> fetchObjectIDs(const FetchRequest& request);
    Result<qsizetype> countForFetchRequest(const FetchRequest& request);
    // The number of matching records per value of request.groupByKeyPath, pending changes of
    // this context and its parents counted as every fetch counts them; each count equals that
    // of a fetch for "keyPath == value" (to-one and attribute paths) or "ANY keyPath == value"
    // (paths through a to-many relationship, where a record counts once for each distinct
    // value it has). Sort descriptors and the limit do not apply. Values come in a fixed order:
    // nil, numbers, strings, dates (each ascending), then related objects by key, then the rest
    // in the order met.
    Result<QList<GroupCount>> groupedCountForFetchRequest(const FetchRequest& request);

    bool hasChanges() const;
    QList<ManagedObjectPtr> insertedObjects() const;
    QList<ManagedObjectPtr> updatedObjects() const;
    QList<ManagedObjectPtr> deletedObjects() const;

    // A failed save leaves every change in the context and reports why.
    Result<void> save();
    // Forgets every object and change; objects handed out before read as detached.
    void reset();
    Result<void> obtainPermanentIDsForObjects(const QList<ManagedObjectPtr>& objects);
    // Brings registered objects up to date with another context's save, settling properties
    // changed on both sides by this context's merge policy; deleted records leave the context.
    void mergeChangesFromContextDidSaveNotification(const SaveNotification& notification);

    // Called on the saving thread after each successful save, with no lock held.
    using DidSaveCallback = std::function<void(const SaveNotification&)>;
    [[nodiscard]] ObserverToken addDidSaveObserver(DidSaveCallback callback);

private:
    friend class ManagedObject;
    friend class RowView;

    struct Key {
        const EntityDescription* root;
        qint64 pk;
        friend bool operator==(const Key&, const Key&) = default;
        friend size_t qHash(const Key& k, size_t seed = 0) { return qHashMulti(seed, k.root, k.pk); }
    };
    static Key keyOf(const ObjectID& id) { return {id.entity()->rootEntity(), id.primaryKey()}; }
    static Key keyOf(const EntityDescription* e, qint64 pk) { return {e->rootEntity(), pk}; }

    // Locks of the whole chain plus the cache's read lock. Every accessor takes one, and chains
    // are short, so the first levels' locks live inline rather than in an allocation.
    struct ReadScope {
        static constexpr size_t inlineLevels = 4;
        std::array<std::unique_lock<std::recursive_mutex>, inlineLevels> chain;
        std::vector<std::unique_lock<std::recursive_mutex>> deeper;
        std::shared_lock<std::shared_mutex> cache;
    };
    ReadScope readScope() const;

    ManagedObjectContext(ConcurrencyType type, CoordinatorPtr coordinator,
                         std::shared_ptr<ManagedObjectContext> parent);

    // ---- all below need a ReadScope (or, where noted, the own mutex) ----
    RowPtr visibleRow(const Key& key) const;      // this level's view, null when deleted/absent
    RowPtr parentRow(const Key& key) const;       // the level above's view
    ObjectID idForKey(const Key& key, const EntityDescription* entity) const;
    ManagedObjectPtr objectForKey(const Key& key, const EntityDescription* entity);
    ManagedObjectPtr registered(const Key& key) const; // own mutex
    Row& mutableRow(ManagedObject& object);              // own mutex
    bool setAttribute(ManagedObject& object, const AttributeDescription& attr, const QVariant& value);
    bool setToOne(ManagedObject& object, const RelationshipDescription& rel, ManagedObject* target);
    bool addToMany(ManagedObject& object, const RelationshipDescription& rel, ManagedObject& target);
    bool removeToMany(ManagedObject& object, const RelationshipDescription& rel, ManagedObject& target);
    void rawSetToOne(ManagedObject& object, int slot, qint64 key);
    void rawAddKey(ManagedObject& object, int slot, qint64 key);
    void rawRemoveKey(ManagedObject& object, int slot, qint64 key);
    ManagedObjectPtr relatedObject(const RelationshipDescription& rel, qint64 pk);
    void deleteLocked(ManagedObject& object);
    bool hasChangesLocked() const;                   // own mutex
    void invalidate(ManagedObject& object);          // own mutex
    // The registered object for key, or a new one; known false promises that none is
    // registered yet, which spares the look-up (own mutex).
    ManagedObjectPtr materialize(const Key& key, ObjectID id, RowPtr row, bool known = true);
    // Room for count more objects in a result and the registry (own mutex).
    void expectObjects(qsizetype count, QList<ManagedObjectPtr>& out);

    struct Match {
        ObjectID id;
        RowPtr row;
    };
    // With visit, every matching row is handed to it (under the read scope) instead of being
    // collected, and the limit does not apply. With collect, a fetch that does not sort hands
    // its matches to it as it finds them (under the read scope) instead of returning them,
    // after telling it how many stored records will come when SQLite has counted them.
    struct Collect {
        std::function<void(qsizetype storedMatches)> expect;
        std::function<void(ObjectID&& id, RowPtr&& row)> add;
    };
    Result<std::vector<Match>> runFetch(const FetchRequest& request, bool countOnly, qsizetype* count,
                                        const std::function<void(const Row&)>& visit = {},
                                        const Collect& collect = {});
    Result<void> saveToParent(SaveNotification& note);
    Result<void> saveToStore(SaveNotification& note);

    const ConcurrencyType m_type;
    const CoordinatorPtr m_coordinator;
    const std::shared_ptr<ManagedObjectContext> m_parent;
    DispatchQueue m_queue;
    NotificationCenter m_observers;

    mutable std::recursive_mutex m_mutex;
    MergePolicy m_mergePolicy = MergePolicy::Error;
    QHash<Key, std::weak_ptr<ManagedObject>> m_registry;
    QHash<Key, ManagedObjectPtr> m_changed; // inserted, updated or deleted here
    qsizetype m_registryCleanAt = 1024;
};

using ContextPtr = std::shared_ptr<ManagedObjectContext>;

} // namespace platform
