#include "Platform/ObjectStore/PersistentStoreCoordinator.h"

#include "Platform/ObjectStore/MigrationManager.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>
#include <optional>

namespace platform {

namespace {

const QString domain = QStringLiteral("ObjectStore");

struct RowKey {
    size_t table;
    qint64 pk;
    friend bool operator==(const RowKey&, const RowKey&) = default;
};
size_t qHash(const RowKey& k, size_t seed = 0)
{
    return qHashMulti(seed, k.table, k.pk);
}

bool anyStoreChange(const Row& base, const Row& current)
{
    for (size_t s = 0; s < base.valueCount(); ++s) {
        if (!base.sameValue(int(s), current))
            return true;
    }
    return base.toOne != current.toOne;
}

// Our to-many edits (ours against base) replayed over the current state.
void mergeToMany(Row& out, const Row* base, const Row& ours)
{
    static const std::vector<qint64> none;
    for (size_t s = 0; s < out.toMany.size(); ++s) {
        const auto& before = base ? base->toMany[s] : none;
        keySetUnion(out.toMany[s], keySetDifference(ours.toMany[s], before));
        keySetSubtract(out.toMany[s], keySetDifference(before, ours.toMany[s]));
    }
}

} // namespace

std::shared_ptr<PersistentStoreCoordinator> PersistentStoreCoordinator::create(ModelPtr model)
{
    return std::shared_ptr<PersistentStoreCoordinator>(new PersistentStoreCoordinator(std::move(model)));
}

PersistentStoreCoordinator::PersistentStoreCoordinator(ModelPtr model)
    : m_model(std::move(model))
{
    m_identity = std::make_shared<StoreIdentity>(m_model);
    auto state = std::make_shared<detail::ObjectIDState>();
    state->store = m_identity;
    m_permanentState = state;
    const auto roots = m_model->rootEntities();
    m_tableIndex.resize(m_model->entities().size());
    for (size_t i = 0; i < roots.size(); ++i) {
        for (const EntityDescription* e : roots[i]->hierarchy())
            m_tableIndex[size_t(e->index())] = i;
    }
    m_tables.resize(roots.size());
    m_tableState = std::make_unique<TableState[]>(roots.size());
    m_sequences.assign(roots.size(), 0);
    for (size_t t = 0; t < roots.size(); ++t) {
        QStringList names;
        for (const EntityDescription* e : roots[t]->hierarchy()) {
            for (const AttributeDescription& a : e->attributes()) {
                const bool integral = a.type != AttributeType::String && a.type != AttributeType::Binary
                    && a.type != AttributeType::Double && a.type != AttributeType::Date;
                if (a.indexed && integral && !names.contains(a.name)) {
                    names << a.name;
                    m_indexes.push_back({t, a.name, {}});
                }
            }
        }
    }
}

PersistentStoreCoordinator::~PersistentStoreCoordinator() = default;

size_t PersistentStoreCoordinator::tableIndex(const EntityDescription* entity) const
{
    return m_tableIndex[size_t(entity->index())];
}

bool PersistentStoreCoordinator::hasStore() const
{
    std::shared_lock lock(m_cacheMutex);
    return m_hasStore;
}

Result<void> PersistentStoreCoordinator::closeStore()
{
    std::unique_lock lock(m_cacheMutex);
    if (!m_sqlite)
        return {};
    // A table being read holds its load mutex under the shared side of the cache lock, which
    // the lock above waited for; none can start now.
    Result<void> closed = m_sqlite->close();
    m_hasStore = false;
    return closed;
}

QString PersistentStoreCoordinator::storePath() const
{
    std::shared_lock lock(m_cacheMutex);
    return m_sqlite ? m_sqlite->path() : QString();
}

QString PersistentStoreCoordinator::storeUUID() const
{
    return m_identity->uuid();
}

QString PersistentStoreCoordinator::journalMode() const
{
    std::shared_lock lock(m_cacheMutex);
    return m_sqlite ? m_sqlite->journalMode() : QString();
}

Result<StoreMetadata> PersistentStoreCoordinator::metadataForPersistentStore(const QString& path)
{
    return SqliteStore::readMetadata(path);
}

void PersistentStoreCoordinator::installStore(const std::vector<qint64>& sequences, const QString& uuid)
{
    std::unique_lock lock(m_cacheMutex);
    std::lock_guard seqLock(m_sequenceMutex);
    for (size_t i = 0; i < sequences.size() && i < m_sequences.size(); ++i)
        m_sequences[i] = std::max(m_sequences[i], sequences[i]);
    m_identity->setUuid(uuid);
    m_hasStore = true;
    if (m_inMemory) {
        for (size_t t = 0; t < m_tables.size(); ++t)
            m_tableState[t].loaded.store(true, std::memory_order_release);
    }
}

Result<void> PersistentStoreCoordinator::ensureLoaded(size_t table) const
{
    if (isLoaded(table))
        return {};
    std::lock_guard lock(m_tableState[table].loadMutex);
    if (isLoaded(table) || !m_sqlite)
        return {};
    if (m_sqlite->isClosed())
        return fail(domain, NoStoreError, QStringLiteral("%1 is closed").arg(m_sqlite->path()));
    auto rows = m_sqlite->loadTable(table, [this](size_t other) -> const std::vector<RowPtr>* {
        return isLoaded(other) ? &m_tables[other] : nullptr;
    });
    if (!rows)
        return std::unexpected(rows.error()); // tried again on the next use
    m_tables[table] = std::move(*rows);
    for (const RowPtr& row : m_tables[table]) {
        if (row)
            indexRow(row, true);
    }
    m_tableState[table].loaded.store(true, std::memory_order_release);
    return {};
}

Result<void> PersistentStoreCoordinator::loadTables(const std::vector<const EntityDescription*>& entities) const
{
    for (const EntityDescription* e : entities) {
        if (auto ok = ensureLoaded(tableIndex(e)); !ok)
            return ok;
    }
    return {};
}

void PersistentStoreCoordinator::indexRow(const RowPtr& row, bool add) const
{
    const size_t table = tableIndex(row->entity);
    for (AttributeIndex& index : m_indexes) {
        if (index.table != table)
            continue;
        const AttributeDescription* a = row->entity->attribute(index.attribute);
        quint64 bits = 0;
        if (!a || !row->numberBits(a->slot, &bits))
            continue;
        auto& keys = index.keys[bits];
        auto it = std::lower_bound(keys.begin(), keys.end(), row->pk);
        if (add && (it == keys.end() || *it != row->pk))
            keys.insert(it, row->pk);
        else if (!add && it != keys.end() && *it == row->pk)
            keys.erase(it);
        if (keys.empty())
            index.keys.erase(bits);
    }
}

const std::vector<qint64>* PersistentStoreCoordinator::indexedKeys(const EntityDescription* entity,
                                                                   const QString& attribute,
                                                                   const QVariant& value) const
{
    static const std::vector<qint64> none;
    const size_t table = tableIndex(entity);
    for (const AttributeIndex& index : m_indexes) {
        if (index.table != table || index.attribute != attribute)
            continue;
        const AttributeDescription* a = entity->attribute(attribute);
        QVariant coerced;
        if (!a || !coerceAttributeValue(a->type, value, &coerced) || !coerced.isValid())
            return nullptr;
        if (!ensureLoaded(table))
            return &none;
        // The cell a row would hold for this value.
        auto probe = Row::makeEmpty(entity, 0);
        probe->setValue(a->slot, coerced);
        quint64 bits = 0;
        probe->numberBits(a->slot, &bits);
        auto it = index.keys.find(bits);
        return it == index.keys.end() ? &none : &it->second;
    }
    return nullptr;
}

Result<void> PersistentStoreCoordinator::addSQLiteStore(const QString& path, const StoreOptions& options)
{
    if (hasStore())
        return fail(domain, SqliteStore::OpenError, QStringLiteral("the coordinator already has a store"));
    auto store = SqliteStore::open(path, m_model);
    if (!store && store.error().code == SqliteStore::IncompatibleError && options.migrateAutomatically) {
        auto migrated = MigrationManager::migrateStoreInPlace(path, m_model, options);
        if (!migrated)
            return std::unexpected(migrated.error());
        store = SqliteStore::open(path, m_model);
    }
    if (!store)
        return std::unexpected(store.error());
    auto sequences = (*store)->readSequences();
    if (!sequences)
        return std::unexpected(sequences.error());
    const QString uuid = (*store)->metadata().storeUUID;
    {
        std::unique_lock lock(m_cacheMutex);
        m_sqlite = std::move(*store);
    }
    installStore(*sequences, uuid);
    return {};
}

Result<void> PersistentStoreCoordinator::addInMemoryStore()
{
    if (hasStore())
        return fail(domain, SqliteStore::OpenError, QStringLiteral("the coordinator already has a store"));
    {
        std::unique_lock lock(m_cacheMutex);
        m_inMemory = true;
    }
    installStore({}, QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    return {};
}

ObjectID PersistentStoreCoordinator::managedObjectIDForURIRepresentation(const QString& uri) const
{
    static const QRegularExpression pattern(
        QStringLiteral("^x-folivo-store://([0-9A-F-]{36})/([A-Za-z_][A-Za-z0-9_]*)/p([1-9][0-9]{0,18})$"));
    const auto match = pattern.match(uri);
    if (!match.hasMatch() || match.captured(1) != m_identity->uuid())
        return {};
    const EntityDescription* entity = m_model->entity(match.captured(2));
    bool ok = false;
    const qint64 pk = match.captured(3).toLongLong(&ok);
    if (!entity || !ok)
        return {};
    return permanentID(entity, pk);
}

ObjectID PersistentStoreCoordinator::newTemporaryID(const EntityDescription* entity)
{
    std::lock_guard lock(m_sequenceMutex);
    const qint64 pk = ++m_sequences[tableIndex(entity)];
    return ObjectID::makeTemporary(entity, pk, m_identity);
}

ObjectID PersistentStoreCoordinator::permanentID(const EntityDescription* entity, qint64 pk) const
{
    return ObjectID::makePermanent(entity, pk, m_permanentState);
}

Result<void> PersistentStoreCoordinator::obtainPermanentIDs(const QList<ObjectID>& ids)
{
    std::unique_lock lock(m_cacheMutex);
    if (!m_hasStore)
        return fail(domain, NoStoreError, QStringLiteral("no store to make the IDs permanent in"));
    if (m_sqlite) {
        std::vector<std::pair<const EntityDescription*, qint64>> seqs;
        {
            std::lock_guard seqLock(m_sequenceMutex);
            const auto roots = m_model->rootEntities();
            for (size_t i = 0; i < roots.size(); ++i)
                seqs.emplace_back(roots[i], m_sequences[i]);
        }
        if (auto ok = m_sqlite->writeSequences(seqs); !ok)
            return ok;
    }
    for (const ObjectID& id : ids)
        id.markPermanent();
    return {};
}

RowPtr PersistentStoreCoordinator::cachedRow(const EntityDescription* entity, qint64 pk) const
{
    const size_t table = tableIndex(entity);
    if (!isLoaded(table) && !ensureLoaded(table))
        return {};
    const auto& rows = m_tables[table];
    if (pk <= 0 || size_t(pk) >= rows.size())
        return {};
    const RowPtr& row = rows[size_t(pk)];
    return row && row->entity->isKindOf(entity->rootEntity()) ? row : RowPtr();
}

std::optional<Result<qint64>> PersistentStoreCoordinator::countStored(const EntityDescription* entity, bool subentities,
                                                                     const std::vector<CellTest>& tests) const
{
    const size_t table = tableIndex(entity);
    if (!m_sqlite || m_sqlite->isClosed() || isLoaded(table))
        return std::nullopt;
    std::vector<int> kinds;
    const auto& hierarchy = entity->rootEntity()->hierarchy();
    for (size_t i = 0; i < hierarchy.size(); ++i) {
        if (hierarchy[i] == entity || (subentities && hierarchy[i]->isKindOf(entity)))
            kinds.push_back(int(i));
    }
    return m_sqlite->countRows(table, kinds, tests, entity);
}

const std::vector<RowPtr>& PersistentStoreCoordinator::tableRows(const EntityDescription* root) const
{
    static const std::vector<RowPtr> none;
    const size_t table = tableIndex(root);
    return ensureLoaded(table) ? m_tables[table] : none;
}

Result<PersistentStoreCoordinator::CommitResult>
PersistentStoreCoordinator::commit(const ChangeSet& changes, MergePolicy policy)
{
    std::unique_lock lock(m_cacheMutex);
    if (!m_hasStore)
        return fail(domain, NoStoreError, QStringLiteral("the context has no store to save to"));

    QHash<RowKey, RowPtr> finals;
    QHash<RowKey, RowPtr> deleted;
    QList<RowKey> order; // rows in the order they are written
    CommitResult result;
    // The stored row of a key, null for none or when its table is not in memory: only new
    // records are written to such a table, which then reads them with the rest.
    auto current = [&](const RowKey& k) -> RowPtr {
        if (!isLoaded(k.table))
            return {};
        const auto& rows = m_tables[k.table];
        return k.pk > 0 && size_t(k.pk) < rows.size() ? rows[size_t(k.pk)] : RowPtr();
    };
    // The same for rows the save compares with or changes: their table is read first.
    std::optional<Error> loadError;
    auto stored = [&](const RowKey& k) -> RowPtr {
        if (auto ok = ensureLoaded(k.table); !ok && !loadError)
            loadError = ok.error();
        return current(k);
    };

    for (const ObjectChange& c : changes.changes) {
        const RowKey key{tableIndex(c.id.entity()), c.id.primaryKey()};
        const RowPtr cur = c.kind == ObjectChange::Kind::Insert ? current(key) : stored(key);
        if (loadError)
            return std::unexpected(*loadError);
        switch (c.kind) {
        case ObjectChange::Kind::Insert:
            if (cur)
                return fail(domain, ConflictError,
                            QStringLiteral("a %1 with key %2 exists already").arg(c.id.entity()->name()).arg(key.pk));
            finals.insert(key, c.row);
            order << key;
            result.notification.inserted << c.id;
            break;
        case ObjectChange::Kind::Update: {
            if (!cur) {
                if (policy == MergePolicy::Error)
                    return fail(domain, ConflictError,
                                QStringLiteral("a changed %1 was deleted by another save").arg(c.id.entity()->name()));
                continue; // deleted elsewhere: the deletion stands
            }
            if (!c.base || cur == c.base) {
                finals.insert(key, c.row);
            } else {
                const Row& base = *c.base;
                const Row& ours = *c.row;
                if (policy == MergePolicy::Error && anyStoreChange(base, *cur))
                    return fail(domain, ConflictError,
                                QStringLiteral("could not merge changes: a %1 was changed by another save")
                                    .arg(c.id.entity()->name()));
                auto out = std::make_shared<Row>(policy == MergePolicy::Overwrite ? ours : *cur);
                if (policy == MergePolicy::Overwrite) {
                    out->toMany = cur->toMany;
                } else {
                    for (size_t s = 0; s < out->valueCount(); ++s) {
                        const bool mine = s < c.changedValues.size() && c.changedValues[s];
                        const bool theirs = !base.sameValue(int(s), *cur);
                        if (mine && !(policy == MergePolicy::StoreTrumpByProperty && theirs))
                            out->setValue(int(s), ours.value(int(s)));
                    }
                    for (size_t s = 0; s < out->toOne.size(); ++s) {
                        const bool mine = s < c.changedToOne.size() && c.changedToOne[s];
                        const bool theirs = base.toOne[s] != cur->toOne[s];
                        if (mine && !(policy == MergePolicy::StoreTrumpByProperty && theirs))
                            out->toOne[s] = ours.toOne[s];
                    }
                }
                mergeToMany(*out, &base, ours);
                finals.insert(key, out);
            }
            order << key;
            result.notification.updated << c.id;
            break;
        }
        case ObjectChange::Kind::Delete:
            if (cur) {
                deleted.insert(key, cur);
                result.notification.deleted << c.id;
            }
            break;
        }
    }

    // Keep the graph whole: nothing may point at a row that does not exist after this save,
    // whatever other saves linked to the deleted rows since this context last looked. A key the
    // stored row holds already, of a relationship with an inverse, names an existing row unless
    // this save deletes it (deletions clean the inverse side); only the others are looked up.
    auto exists = [&](const EntityDescription* entity, qint64 pk) {
        const RowKey k{tableIndex(entity), pk};
        return !deleted.contains(k) && (finals.contains(k) || stored(k));
    };
    auto isDeleted = [&](const EntityDescription* entity, qint64 pk) {
        return !deleted.isEmpty() && deleted.contains(RowKey{tableIndex(entity), pk});
    };
    auto latest = [&](const RowKey& k) {
        RowPtr r = finals.value(k);
        return r ? r : stored(k);
    };
    for (auto it = finals.begin(); it != finals.end(); ++it) {
        std::shared_ptr<Row> copy;
        const Row& row = *it.value();
        const RowPtr stillStored = current(it.key());
        for (const RelationshipDescription& r : row.entity->relationships()) {
            const Row* before = r.inverse ? stillStored.get() : nullptr;
            if (r.toMany) {
                const auto& keys = row.toMany[size_t(r.slot)];
                static const std::vector<qint64> none;
                const std::vector<qint64>& had = before ? before->toMany[size_t(r.slot)] : none;
                std::vector<qint64> gone;
                auto h = had.begin(); // both sorted: one walk finds the keys the row had already
                for (qint64 k : keys) {
                    while (h != had.end() && *h < k)
                        ++h;
                    const bool known = h != had.end() && *h == k;
                    if (known ? isDeleted(r.destination, k) : !exists(r.destination, k))
                        gone.push_back(k);
                }
                if (!gone.empty()) {
                    if (!copy)
                        copy = std::make_shared<Row>(row);
                    keySetSubtract(copy->toMany[size_t(r.slot)], gone);
                }
            } else if (const qint64 k = row.toOne[size_t(r.slot)]) {
                const bool known = before && before->toOne[size_t(r.slot)] == k;
                if (known ? isDeleted(r.destination, k) : !exists(r.destination, k)) {
                    if (!copy)
                        copy = std::make_shared<Row>(row);
                    copy->toOne[size_t(r.slot)] = 0;
                }
            }
        }
        if (copy)
            it.value() = copy;
    }
    if (loadError)
        return std::unexpected(*loadError);
    for (auto it = deleted.cbegin(); it != deleted.cend(); ++it) {
        const Row& gone = *it.value();
        for (const RelationshipDescription& r : gone.entity->relationships()) {
            if (!r.inverse)
                continue;
            const std::vector<qint64> targets = r.toMany ? gone.toMany[size_t(r.slot)]
                                                         : std::vector<qint64>{gone.toOne[size_t(r.slot)]};
            for (qint64 t : targets) {
                const RowKey tk{tableIndex(r.destination), t};
                if (t == 0 || deleted.contains(tk))
                    continue;
                RowPtr target = latest(tk);
                if (loadError)
                    return std::unexpected(*loadError);
                if (!target)
                    continue;
                const bool refers = r.inverse->toMany ? target->containsKey(r.inverse->slot, gone.pk)
                                                      : target->toOne[size_t(r.inverse->slot)] == gone.pk;
                if (!refers)
                    continue;
                auto copy = std::make_shared<Row>(*target);
                if (r.inverse->toMany)
                    copy->removeKey(r.inverse->slot, gone.pk);
                else
                    copy->toOne[size_t(r.inverse->slot)] = 0;
                if (!finals.contains(tk)) {
                    order << tk;
                    result.notification.updated << permanentID(target->entity, t);
                }
                finals.insert(tk, copy);
            }
        }
    }

    StoreWrite batch;
    for (const RowKey& k : std::as_const(order)) {
        if (deleted.contains(k) || !finals.contains(k))
            continue;
        batch.upserts.push_back(finals.value(k));
        batch.previous.push_back(current(k));
    }
    for (const RowPtr& r : std::as_const(deleted))
        batch.deletes.push_back(r);
    {
        std::lock_guard seqLock(m_sequenceMutex);
        const auto roots = m_model->rootEntities();
        for (size_t i = 0; i < roots.size(); ++i)
            batch.sequences.emplace_back(roots[i], m_sequences[i]);
    }
    if (m_sqlite) {
        if (auto ok = m_sqlite->write(batch); !ok)
            return std::unexpected(ok.error());
    } else if (!m_inMemory) {
        return fail(domain, NoStoreError, QStringLiteral("the context has no store to save to"));
    }

    for (auto it = finals.cbegin(); it != finals.cend(); ++it) {
        if (!isLoaded(it.key().table))
            continue;
        if (RowPtr old = current(it.key()))
            indexRow(old, false);
        indexRow(it.value(), true);
    }
    for (auto it = deleted.cbegin(); it != deleted.cend(); ++it)
        indexRow(it.value(), false);
    for (auto it = finals.cbegin(); it != finals.cend(); ++it) {
        if (!isLoaded(it.key().table))
            continue;
        auto& rows = m_tables[it.key().table];
        if (rows.size() <= size_t(it.key().pk))
            rows.resize(size_t(it.key().pk) + 1);
        rows[size_t(it.key().pk)] = it.value();
    }
    for (auto it = deleted.cbegin(); it != deleted.cend(); ++it)
        m_tables[it.key().table][size_t(it.key().pk)].reset();
    for (const ObjectID& id : std::as_const(result.notification.inserted))
        id.markPermanent();
    for (const ObjectID& id : std::as_const(result.notification.inserted))
        result.rows.insert(id, finals.value(RowKey{tableIndex(id.entity()), id.primaryKey()}));
    for (const ObjectID& id : std::as_const(result.notification.updated))
        result.rows.insert(id, finals.value(RowKey{tableIndex(id.entity()), id.primaryKey()}));
    return result;
}

} // namespace platform
