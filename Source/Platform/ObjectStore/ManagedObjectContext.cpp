#include "Platform/ObjectStore/ManagedObjectContext.h"

#include "Platform/Foundation/Dispatch.h"

#include <algorithm>

namespace platform {

namespace {
const QString didSaveName = QStringLiteral("NSManagedObjectContextDidSaveNotification");
const QString noteKey = QStringLiteral("notification");
} // namespace

std::shared_ptr<ManagedObjectContext> ManagedObjectContext::create(ConcurrencyType type, CoordinatorPtr coordinator)
{
    return std::shared_ptr<ManagedObjectContext>(new ManagedObjectContext(type, std::move(coordinator), nullptr));
}

std::shared_ptr<ManagedObjectContext> ManagedObjectContext::create(ConcurrencyType type,
                                                                   std::shared_ptr<ManagedObjectContext> parent)
{
    CoordinatorPtr coordinator = parent->m_coordinator;
    return std::shared_ptr<ManagedObjectContext>(new ManagedObjectContext(type, std::move(coordinator), std::move(parent)));
}

ManagedObjectContext::ManagedObjectContext(ConcurrencyType type, CoordinatorPtr coordinator,
                                           std::shared_ptr<ManagedObjectContext> parent)
    : m_type(type), m_coordinator(std::move(coordinator)), m_parent(std::move(parent))
{
    if (type == ConcurrencyType::MainQueue)
        m_queue = DispatchQueue::main();
    else if (type == ConcurrencyType::PrivateQueue)
        m_queue = DispatchQueue::serial(QStringLiteral("com.norlith.folivo2.objectstore.context"));
}

ManagedObjectContext::~ManagedObjectContext()
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_registry.cbegin(); it != m_registry.cend(); ++it) {
        if (ManagedObjectPtr o = it.value().lock())
            o->m_valid = false;
    }
}

MergePolicy ManagedObjectContext::mergePolicy() const
{
    std::lock_guard lock(m_mutex);
    return m_mergePolicy;
}

void ManagedObjectContext::setMergePolicy(MergePolicy policy)
{
    std::lock_guard lock(m_mutex);
    m_mergePolicy = policy;
}

void ManagedObjectContext::perform(std::function<void()> task)
{
    if (!task)
        return;
    if (m_type == ConcurrencyType::Confinement) {
        task();
        return;
    }
    // The task keeps the context alive until it has run.
    auto self = shared_from_this();
    m_queue.async([self, task = std::move(task)] { task(); });
}

void ManagedObjectContext::performAndWait(const std::function<void()>& task)
{
    if (!task)
        return;
    if (m_type == ConcurrencyType::Confinement || m_queue.isCurrent()
        || (m_type == ConcurrencyType::MainQueue && Dispatch::isMainThread())) {
        task();
        return;
    }
    m_queue.sync(task);
}

ManagedObjectContext::ReadScope ManagedObjectContext::readScope() const
{
    ReadScope scope;
    size_t level = 0;
    for (const ManagedObjectContext* c = this; c; c = c->m_parent.get(), ++level) {
        if (level < ReadScope::inlineLevels)
            scope.chain[level] = std::unique_lock(c->m_mutex);
        else
            scope.deeper.emplace_back(c->m_mutex);
    }
    scope.cache = m_coordinator->readLock();
    return scope;
}

RowPtr ManagedObjectContext::visibleRow(const Key& key) const
{
    for (const ManagedObjectContext* c = this; c; c = c->m_parent.get()) {
        if (c->m_changed.isEmpty())
            continue;
        auto it = c->m_changed.constFind(key);
        if (it != c->m_changed.cend()) {
            const ManagedObject& o = *it.value();
            return o.m_deleted ? RowPtr() : o.rowPtr();
        }
    }
    return m_coordinator->cachedRow(key.root, key.pk);
}

RowPtr ManagedObjectContext::parentRow(const Key& key) const
{
    return m_parent ? m_parent->visibleRow(key) : m_coordinator->cachedRow(key.root, key.pk);
}

ObjectID ManagedObjectContext::idForKey(const Key& key, const EntityDescription* entity) const
{
    // Copies of an ID share whether it is temporary, and a save makes it permanent for all of
    // them, so an object registered anywhere in the chain answers exactly what the store would.
    // Asking the store first would read the record's table for nothing.
    for (const ManagedObjectContext* c = this; c; c = c->m_parent.get()) {
        if (ManagedObjectPtr o = c->registered(key))
            return o->m_id;
    }
    return m_coordinator->permanentID(entity, key.pk);
}

ManagedObjectPtr ManagedObjectContext::registered(const Key& key) const
{
    auto it = m_registry.constFind(key);
    return it == m_registry.cend() ? ManagedObjectPtr() : it.value().lock();
}

ManagedObjectPtr ManagedObjectContext::materialize(const Key& key, ObjectID id, RowPtr row, bool known)
{
    if (known) {
        if (ManagedObjectPtr o = registered(key))
            return o;
    }
    ManagedObjectPtr o = ManagedObject::make(weak_from_this(), std::move(id), std::move(row));
    if (m_registry.size() >= m_registryCleanAt) {
        // Objects nobody holds any more leave the registry in batches.
        m_registry.removeIf([](const auto& entry) { return entry.value().expired(); });
        m_registryCleanAt = std::max<qsizetype>(1024, m_registry.size() * 2);
    }
    m_registry.insert(key, o);
    return o;
}

ManagedObjectPtr ManagedObjectContext::objectForKey(const Key& key, const EntityDescription* entity)
{
    if (ManagedObjectPtr o = registered(key))
        return o;
    RowPtr row = parentRow(key);
    if (!row || !row->entity->isKindOf(entity))
        return {};
    return materialize(key, idForKey(key, row->entity), row);
}

ManagedObjectPtr ManagedObjectContext::relatedObject(const RelationshipDescription& rel, qint64 pk)
{
    return pk ? objectForKey(keyOf(rel.destination, pk), rel.destination) : ManagedObjectPtr();
}

Row& ManagedObjectContext::mutableRow(ManagedObject& o)
{
    // Rows handed to children, fetches or the cache are shared and must never change.
    if (!o.current() || o.current().use_count() > 1)
        o.changes().current = std::make_shared<Row>(o.row());
    const Key key = keyOf(o.m_id);
    if (auto it = m_changed.constFind(key); it == m_changed.cend() || it->get() != &o)
        m_changed.insert(key, o.shared_from_this());
    return *o.current();
}

bool ManagedObjectContext::setAttribute(ManagedObject& o, const AttributeDescription& attr, const QVariant& value)
{
    QVariant v;
    if (!coerceAttributeValue(attr.type, value, &v))
        return false;
    if (sameAttributeValue(o.row().value(attr.slot), v))
        return true;
    mutableRow(o).setValue(attr.slot, v);
    o.changes().values.set(size_t(attr.slot));
    return true;
}

void ManagedObjectContext::rawSetToOne(ManagedObject& o, int slot, qint64 key)
{
    if (o.row().toOne[size_t(slot)] == key)
        return;
    mutableRow(o).toOne[size_t(slot)] = key;
    o.changes().toOne.set(size_t(slot));
}

void ManagedObjectContext::rawAddKey(ManagedObject& o, int slot, qint64 key)
{
    if (!o.row().containsKey(slot, key))
        mutableRow(o).addKey(slot, key);
}

void ManagedObjectContext::rawRemoveKey(ManagedObject& o, int slot, qint64 key)
{
    if (o.row().containsKey(slot, key))
        mutableRow(o).removeKey(slot, key);
}

bool ManagedObjectContext::setToOne(ManagedObject& a, const RelationshipDescription& rel, ManagedObject* b)
{
    const qint64 pk = a.m_id.primaryKey();
    const qint64 newKey = b ? b->m_id.primaryKey() : 0;
    const qint64 old = a.row().toOne[size_t(rel.slot)];
    if (old == newKey)
        return true;
    const RelationshipDescription* inv = rel.inverse;
    if (old && inv) {
        if (ManagedObjectPtr previous = relatedObject(rel, old)) {
            if (inv->toMany)
                rawRemoveKey(*previous, inv->slot, pk);
            else if (previous->row().toOne[size_t(inv->slot)] == pk)
                rawSetToOne(*previous, inv->slot, 0);
        }
    }
    rawSetToOne(a, rel.slot, newKey);
    if (b && inv) {
        if (inv->toMany) {
            rawAddKey(*b, inv->slot, pk);
        } else {
            const qint64 partner = b->row().toOne[size_t(inv->slot)];
            if (partner && partner != pk) {
                if (ManagedObjectPtr p = relatedObject(*inv, partner))
                    rawSetToOne(*p, rel.slot, 0);
            }
            rawSetToOne(*b, inv->slot, pk);
        }
    }
    return true;
}

bool ManagedObjectContext::addToMany(ManagedObject& a, const RelationshipDescription& rel, ManagedObject& b)
{
    const qint64 pk = a.m_id.primaryKey();
    const qint64 key = b.m_id.primaryKey();
    if (a.row().containsKey(rel.slot, key))
        return true;
    rawAddKey(a, rel.slot, key);
    if (const RelationshipDescription* inv = rel.inverse) {
        if (inv->toMany) {
            rawAddKey(b, inv->slot, pk);
        } else {
            const qint64 owner = b.row().toOne[size_t(inv->slot)];
            if (owner && owner != pk) {
                if (ManagedObjectPtr previous = relatedObject(*inv, owner))
                    rawRemoveKey(*previous, rel.slot, key);
            }
            rawSetToOne(b, inv->slot, pk);
        }
    }
    return true;
}

bool ManagedObjectContext::removeToMany(ManagedObject& a, const RelationshipDescription& rel, ManagedObject& b)
{
    const qint64 pk = a.m_id.primaryKey();
    const qint64 key = b.m_id.primaryKey();
    if (!a.row().containsKey(rel.slot, key))
        return true;
    rawRemoveKey(a, rel.slot, key);
    if (const RelationshipDescription* inv = rel.inverse) {
        if (inv->toMany)
            rawRemoveKey(b, inv->slot, pk);
        else if (b.row().toOne[size_t(inv->slot)] == pk)
            rawSetToOne(b, inv->slot, 0);
    }
    return true;
}

void ManagedObjectContext::deleteLocked(ManagedObject& o)
{
    if (o.m_deleted || !o.m_valid)
        return;
    mutableRow(o);
    o.m_deleted = true;
    const qint64 pk = o.m_id.primaryKey();
    const Row snapshot = o.row();
    for (const RelationshipDescription& rel : snapshot.entity->relationships()) {
        const std::vector<qint64> targets = rel.toMany ? snapshot.toMany[size_t(rel.slot)]
                                                       : std::vector<qint64>{snapshot.toOne[size_t(rel.slot)]};
        for (qint64 t : targets) {
            ManagedObjectPtr target = relatedObject(rel, t);
            if (!target)
                continue;
            if (const RelationshipDescription* inv = rel.inverse) {
                if (inv->toMany)
                    rawRemoveKey(*target, inv->slot, pk);
                else if (target->row().toOne[size_t(inv->slot)] == pk)
                    rawSetToOne(*target, inv->slot, 0);
            }
            if (rel.deleteRule == DeleteRule::Cascade)
                deleteLocked(*target);
        }
    }
}

ManagedObjectPtr ManagedObjectContext::insertNewObject(const QString& entityName)
{
    const EntityDescription* entity = m_coordinator->model()->entity(entityName);
    if (!entity)
        return {};
    const ObjectID id = m_coordinator->newTemporaryID(entity);
    std::lock_guard lock(m_mutex);
    ManagedObjectPtr o = ManagedObject::make(weak_from_this(), id, nullptr);
    o->changes().current = Row::makeDefault(entity, id.primaryKey());
    o->changes().values.setFirst(o->current()->valueCount());
    o->changes().toOne.setFirst(o->current()->toOne.size());
    o->m_inserted = true;
    m_registry.insert(keyOf(id), o);
    m_changed.insert(keyOf(id), o);
    return o;
}

void ManagedObjectContext::deleteObject(const ManagedObjectPtr& object)
{
    if (!object || object->m_context.lock().get() != this)
        return;
    auto scope = readScope();
    deleteLocked(*object);
}

ManagedObjectPtr ManagedObjectContext::existingObjectWithID(const ObjectID& id)
{
    if (id.isNull() || id.store() != m_coordinator->storeIdentity())
        return {};
    auto scope = readScope();
    const Key key = keyOf(id);
    if (ManagedObjectPtr o = registered(key))
        return o->m_deleted ? ManagedObjectPtr() : o;
    RowPtr row = parentRow(key);
    if (!row || !row->entity->isKindOf(id.entity()))
        return {};
    return materialize(key, id.isTemporaryID() ? id : idForKey(key, row->entity), row);
}

ManagedObjectPtr ManagedObjectContext::objectRegisteredForID(const ObjectID& id) const
{
    if (id.isNull())
        return {};
    std::lock_guard lock(m_mutex);
    return registered(keyOf(id));
}

bool ManagedObjectContext::hasChangesLocked() const
{
    for (const ManagedObjectPtr& o : m_changed) {
        if (!(o->m_inserted && o->m_deleted))
            return true;
    }
    return false;
}

bool ManagedObjectContext::hasChanges() const
{
    std::lock_guard lock(m_mutex);
    return hasChangesLocked();
}

QList<ManagedObjectPtr> ManagedObjectContext::insertedObjects() const
{
    std::lock_guard lock(m_mutex);
    QList<ManagedObjectPtr> out;
    for (const ManagedObjectPtr& o : m_changed) {
        if (o->m_inserted && !o->m_deleted)
            out << o;
    }
    return out;
}

QList<ManagedObjectPtr> ManagedObjectContext::updatedObjects() const
{
    std::lock_guard lock(m_mutex);
    QList<ManagedObjectPtr> out;
    for (const ManagedObjectPtr& o : m_changed) {
        if (!o->m_inserted && !o->m_deleted)
            out << o;
    }
    return out;
}

QList<ManagedObjectPtr> ManagedObjectContext::deletedObjects() const
{
    std::lock_guard lock(m_mutex);
    QList<ManagedObjectPtr> out;
    for (const ManagedObjectPtr& o : m_changed) {
        if (o->m_deleted && !o->m_inserted)
            out << o;
    }
    return out;
}

void ManagedObjectContext::invalidate(ManagedObject& o)
{
    o.m_valid = false;
    o.m_deleted = true;
    m_registry.remove(keyOf(o.m_id));
}

Result<void> ManagedObjectContext::save()
{
    SaveNotification note;
    note.context = this;
    auto ok = m_parent ? saveToParent(note) : saveToStore(note);
    if (!ok)
        return ok;
    if (!note.isEmpty())
        m_observers.post(didSaveName, {}, QVariantMap{{noteKey, QVariant::fromValue(note)}});
    return {};
}

namespace {
// Changed objects in key order, so saves and pushes are deterministic.
template <class Hash>
std::vector<ManagedObjectPtr> sortedChanges(const Hash& changed)
{
    std::vector<ManagedObjectPtr> out(changed.cbegin(), changed.cend());
    std::sort(out.begin(), out.end(), [](const ManagedObjectPtr& a, const ManagedObjectPtr& b) {
        const auto* ra = a->entity()->rootEntity();
        const auto* rb = b->entity()->rootEntity();
        if (ra != rb)
            return ra->name() < rb->name();
        return a->objectID().primaryKey() < b->objectID().primaryKey();
    });
    return out;
}
} // namespace

Result<void> ManagedObjectContext::saveToStore(SaveNotification& note)
{
    std::lock_guard lock(m_mutex);
    if (!hasChangesLocked())
        return {};
    ChangeSet changes;
    const auto objects = sortedChanges(m_changed);
    for (const ManagedObjectPtr& o : objects) {
        if (o->m_inserted && o->m_deleted)
            continue;
        ObjectChange c;
        c.id = o->m_id;
        c.base = o->m_base;
        if (o->m_deleted) {
            c.kind = ObjectChange::Kind::Delete;
        } else {
            c.kind = o->m_inserted ? ObjectChange::Kind::Insert : ObjectChange::Kind::Update;
            c.row = o->rowPtr();
            c.changedValues = o->changedValues();
            c.changedToOne = o->changedToOne();
        }
        changes.changes.push_back(std::move(c));
    }
    auto result = m_coordinator->commit(changes, m_mergePolicy);
    if (!result)
        return std::unexpected(result.error());
    for (const ManagedObjectPtr& o : objects) {
        if (o->m_deleted) {
            invalidate(*o);
            continue;
        }
        RowPtr committed = result->rows.value(o->m_id);
        if (!committed) {
            invalidate(*o); // deleted by another save; the deletion stood
            continue;
        }
        o->m_base = committed;
        o->clearChanges();
        o->m_inserted = false;
    }
    m_changed.clear();
    // Rows the store itself touched (links to deleted records removed) refresh too.
    for (const ObjectID& id : std::as_const(result->notification.updated)) {
        if (ManagedObjectPtr o = registered(keyOf(id)); o && !o->current())
            o->m_base = result->rows.value(id, o->m_base);
    }
    note.inserted = result->notification.inserted;
    note.updated = result->notification.updated;
    note.deleted = result->notification.deleted;
    return {};
}

Result<void> ManagedObjectContext::saveToParent(SaveNotification& note)
{
    auto scope = readScope();
    if (!hasChangesLocked())
        return {};
    ManagedObjectContext& parent = *m_parent;
    note.toParent = true;
    const auto objects = sortedChanges(m_changed);
    static const std::vector<qint64> none;
    std::vector<ManagedObjectPtr> deletions;
    for (const ManagedObjectPtr& o : objects) {
        if (o->m_inserted && o->m_deleted)
            continue;
        const Key key = keyOf(o->m_id);
        if (o->m_deleted) {
            deletions.push_back(o);
            note.deleted << o->m_id;
            continue;
        }
        if (o->m_inserted) {
            ManagedObjectPtr p = ManagedObject::make(parent.weak_from_this(), o->m_id, nullptr);
            p->changes().current = std::make_shared<Row>(o->row());
            p->changes().values = o->changedValues();
            p->changes().toOne = o->changedToOne();
            p->m_inserted = true;
            parent.m_registry.insert(key, p);
            parent.m_changed.insert(key, p);
            note.inserted << o->m_id;
            continue;
        }
        ManagedObjectPtr p = parent.objectForKey(key, o->entity());
        if (!p)
            continue; // gone from the parent meanwhile
        const Row& mine = o->row();
        const Row* base = o->m_base.get();
        Row& theirs = parent.mutableRow(*p);
        for (size_t s = 0; s < mine.valueCount(); ++s) {
            if (o->changedValues()[s]) {
                theirs.setValue(int(s), mine.value(int(s)));
                p->changes().values.set(s);
            }
        }
        for (size_t s = 0; s < mine.toOne.size(); ++s) {
            if (o->changedToOne()[s]) {
                theirs.toOne[s] = mine.toOne[s];
                p->changes().toOne.set(s);
            }
        }
        for (size_t s = 0; s < theirs.toMany.size(); ++s) {
            const auto& before = base ? base->toMany[s] : none;
            keySetUnion(theirs.toMany[s], keySetDifference(mine.toMany[s], before));
            keySetSubtract(theirs.toMany[s], keySetDifference(before, mine.toMany[s]));
        }
        note.updated << o->m_id;
    }
    for (const ManagedObjectPtr& o : deletions) {
        if (ManagedObjectPtr p = parent.objectForKey(keyOf(o->m_id), o->entity()))
            parent.deleteLocked(*p);
    }
    for (const ManagedObjectPtr& o : objects) {
        if (o->m_deleted) {
            invalidate(*o);
            continue;
        }
        RowPtr now = parent.visibleRow(keyOf(o->m_id));
        if (!now) {
            invalidate(*o);
            continue;
        }
        o->m_base = now;
        o->clearChanges();
        o->m_inserted = false;
    }
    m_changed.clear();
    return {};
}

void ManagedObjectContext::reset()
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_registry.cbegin(); it != m_registry.cend(); ++it) {
        if (ManagedObjectPtr o = it.value().lock())
            o->m_valid = false;
    }
    m_registry.clear();
    m_changed.clear();
}

Result<void> ManagedObjectContext::obtainPermanentIDsForObjects(const QList<ManagedObjectPtr>& objects)
{
    QList<ObjectID> ids;
    for (const ManagedObjectPtr& o : objects) {
        if (o && o->m_id.isTemporaryID())
            ids << o->m_id;
    }
    if (ids.isEmpty())
        return {};
    return m_coordinator->obtainPermanentIDs(ids);
}

void ManagedObjectContext::mergeChangesFromContextDidSaveNotification(const SaveNotification& note)
{
    if (note.context == this)
        return;
    auto scope = readScope();
    static const std::vector<qint64> none;
    QList<ObjectID> changed = note.inserted;
    changed += note.updated;
    for (const ObjectID& id : std::as_const(changed)) {
        const Key key = keyOf(id);
        ManagedObjectPtr o = registered(key);
        if (!o || o->m_deleted)
            continue;
        RowPtr fresh = parentRow(key);
        if (!fresh)
            continue;
        if (!o->current()) {
            o->m_base = fresh;
            continue;
        }
        const Row& mine = *o->current();
        const Row* base = o->m_base.get();
        auto out = std::make_shared<Row>(*fresh);
        const bool storeWins = m_mergePolicy == MergePolicy::StoreTrumpByProperty;
        for (size_t s = 0; s < out->valueCount(); ++s) {
            if (s >= o->changedValues().size() || !o->changedValues()[s])
                continue;
            const bool theirs = !base || !base->sameValue(int(s), *fresh);
            if (storeWins && theirs)
                o->changes().values.set(s, false);
            else
                out->setValue(int(s), mine.value(int(s)));
        }
        for (size_t s = 0; s < out->toOne.size(); ++s) {
            if (s >= o->changedToOne().size() || !o->changedToOne()[s])
                continue;
            const bool theirs = !base || base->toOne[s] != fresh->toOne[s];
            if (storeWins && theirs)
                o->changes().toOne.set(s, false);
            else
                out->toOne[s] = mine.toOne[s];
        }
        for (size_t s = 0; s < out->toMany.size(); ++s) {
            const auto& before = base ? base->toMany[s] : none;
            keySetUnion(out->toMany[s], keySetDifference(mine.toMany[s], before));
            keySetSubtract(out->toMany[s], keySetDifference(before, mine.toMany[s]));
        }
        o->m_base = fresh;
        o->changes().current = out;
    }
    if (note.deleted.isEmpty())
        return;
    QHash<Key, bool> gone;
    for (const ObjectID& id : note.deleted) {
        const Key key = keyOf(id);
        gone.insert(key, true);
        if (ManagedObjectPtr o = registered(key)) {
            m_changed.remove(key);
            invalidate(*o);
        }
    }
    // Local changes may still point at the deleted records.
    const std::vector<ManagedObjectPtr> local(m_changed.cbegin(), m_changed.cend());
    for (const ManagedObjectPtr& o : local) {
        if (!o->current())
            continue;
        for (const RelationshipDescription& rel : o->entity()->relationships()) {
            if (rel.toMany) {
                std::vector<qint64> drop;
                for (qint64 k : o->row().toMany[size_t(rel.slot)]) {
                    if (gone.contains(keyOf(rel.destination, k)))
                        drop.push_back(k);
                }
                if (!drop.empty())
                    keySetSubtract(mutableRow(*o).toMany[size_t(rel.slot)], drop);
            } else if (qint64 k = o->row().toOne[size_t(rel.slot)]; k && gone.contains(keyOf(rel.destination, k))) {
                mutableRow(*o).toOne[size_t(rel.slot)] = 0;
            }
        }
    }
}

ObserverToken ManagedObjectContext::addDidSaveObserver(DidSaveCallback callback)
{
    return m_observers.addObserver(didSaveName, [callback = std::move(callback)](const Notification& n) {
        if (callback)
            callback(n.userInfo.value(noteKey).value<SaveNotification>());
    });
}

} // namespace platform
