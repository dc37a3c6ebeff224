#include "Platform/ObjectStore/MigrationManager.h"

#include "Platform/ObjectStore/PersistentStoreCoordinator.h"
#include "Platform/ObjectStore/SqliteStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace platform {

namespace {

const QString domain = QStringLiteral("ObjectStore");
const QStringList sidecars{QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")};

std::unexpected<Error> migrationError(int code, const QString& message)
{
    return fail(domain, code, message);
}

void removeStoreFiles(const QString& path)
{
    for (const QString& s : sidecars)
        QFile::remove(path + s);
}

// Moves a store with its sidecar files; answers false (and moves back what it moved) on failure.
bool moveStoreFiles(const QString& from, const QString& to)
{
    QStringList moved;
    for (const QString& s : sidecars) {
        if (!QFileInfo::exists(from + s))
            continue;
        QFile::remove(to + s);
        if (!QFile::rename(from + s, to + s)) {
            for (const QString& m : moved)
                QFile::rename(to + m, from + m);
            return false;
        }
        moved << s;
    }
    return true;
}

struct Key {
    const EntityDescription* root;
    qint64 pk;
    friend bool operator==(const Key&, const Key&) = default;
    friend size_t qHash(const Key& k, size_t seed = 0) { return qHashMulti(seed, k.root, k.pk); }
};

} // namespace

QString MigrationManager::backupPath(const QString& path, const QString& sourceModelHash)
{
    return QStringLiteral("%1.pre-%2.bak").arg(path, sourceModelHash.left(12));
}

Result<void> MigrationManager::migrateStore(const QString& sourcePath, const ModelPtr& sourceModel,
                                            const QString& destinationPath, const ModelPtr& destinationModel,
                                            const MappingModel& givenMapping)
{
    if (QFileInfo::exists(destinationPath))
        return migrationError(MigrationError, QStringLiteral("%1 exists already").arg(destinationPath));
    MappingModel mapping = givenMapping;
    if (auto ok = mapping.resolve(*sourceModel, *destinationModel); !ok)
        return std::unexpected(ok.error());
    auto source = SqliteStore::openReadOnly(sourcePath, sourceModel);
    if (!source)
        return std::unexpected(source.error());
    auto tables = (*source)->loadAll();
    if (!tables)
        return std::unexpected(tables.error());
    const QString uuid = (*source)->metadata().storeUUID;
    source->reset();

    // First pass: every record under its new entity. Keys stay as they were wherever the
    // destination table has room, so stored URIs keep naming the same records.
    QHash<Key, std::shared_ptr<Row>> created;
    QHash<const EntityDescription*, qint64> highest;
    QHash<Key, bool> taken;
    std::vector<std::pair<const Row*, const EntityMapping*>> order;
    for (const TableRows& table : *tables) {
        for (const RowPtr& row : table.rows) {
            if (!row)
                continue;
            const EntityMapping* em = mapping.mappingForSource(row->entity->name());
            if (!em)
                continue;
            const EntityDescription* dst = destinationModel->entity(em->destination);
            qint64& top = highest[dst->rootEntity()];
            top = std::max(top, row->pk);
        }
    }
    for (const TableRows& table : *tables) {
        for (const RowPtr& row : table.rows) {
            if (!row)
                continue;
            const EntityMapping* em = mapping.mappingForSource(row->entity->name());
            if (!em)
                continue;
            const EntityDescription* dst = destinationModel->entity(em->destination);
            qint64 pk = row->pk;
            if (taken.contains(Key{dst->rootEntity(), pk}))
                pk = ++highest[dst->rootEntity()];
            taken.insert(Key{dst->rootEntity(), pk}, true);
            auto out = Row::makeDefault(dst, pk);
            for (const AttributeDescription& a : dst->attributes()) {
                auto it = em->attributeMappings.constFind(a.name);
                if (it == em->attributeMappings.cend())
                    continue;
                QVariant value;
                if (it->metaType().id() == QMetaType::QString) {
                    const AttributeDescription* s = row->entity->attribute(it->toString());
                    value = s ? row->value(s->slot) : QVariant();
                } else {
                    value = it->toMap().value(QStringLiteral("constant"));
                }
                QVariant converted;
                if (!coerceAttributeValue(a.type, value, &converted))
                    return migrationError(MigrationError, QStringLiteral("a value of %1.%2 does not fit its new type")
                                                              .arg(dst->name(), a.name));
                out->setValue(a.slot, converted);
            }
            created.insert(Key{row->entity->rootEntity(), row->pk}, out);
            order.emplace_back(row.get(), em);
        }
    }
    // Second pass: relationships through the source → destination record map.
    for (const auto& [row, em] : order) {
        Row& out = *created.value(Key{row->entity->rootEntity(), row->pk});
        for (const RelationshipDescription& r : out.entity->relationships()) {
            auto it = em->relationshipMappings.constFind(r.name);
            if (it == em->relationshipMappings.cend())
                continue;
            const RelationshipDescription* s = row->entity->relationship(*it);
            if (!s)
                continue;
            const std::vector<qint64> keys = s->toMany ? row->toMany[size_t(s->slot)]
                                                       : std::vector<qint64>{row->toOne[size_t(s->slot)]};
            for (qint64 k : keys) {
                std::shared_ptr<Row> target = k ? created.value(Key{s->destination->rootEntity(), k}) : nullptr;
                if (!target || !target->entity->isKindOf(r.destination))
                    continue;
                if (r.toMany)
                    out.addKey(r.slot, target->pk);
                else
                    out.toOne[size_t(r.slot)] = target->pk;
            }
        }
    }

    auto destination = SqliteStore::open(destinationPath, destinationModel);
    if (!destination)
        return std::unexpected(destination.error());
    auto written = [&]() -> Result<void> {
        if (auto ok = (*destination)->setStoreUUID(uuid); !ok)
            return ok;
        StoreWrite batch;
        for (const auto& [row, em] : order) {
            batch.upserts.push_back(created.value(Key{row->entity->rootEntity(), row->pk}));
            batch.previous.push_back(nullptr);
        }
        for (const TableRows& table : *tables) {
            const EntityMapping* em = mapping.mappingForSource(table.root->name());
            const EntityDescription* dst = em ? destinationModel->entity(em->destination) : nullptr;
            if (dst)
                batch.sequences.emplace_back(dst->rootEntity(), std::max(table.sequence, highest.value(dst->rootEntity())));
        }
        return (*destination)->write(batch);
    }();
    destination->reset(); // closing checkpoints the journal into the file
    if (!written) {
        removeStoreFiles(destinationPath);
        return std::unexpected(written.error());
    }
    return {};
}

Result<void> MigrationManager::migrateStoreInPlace(const QString& path, const ModelPtr& destinationModel,
                                                   const StoreOptions& options)
{
    auto meta = SqliteStore::readMetadata(path);
    if (!meta)
        return std::unexpected(meta.error());
    ModelPtr sourceModel;
    for (const QString& place : options.modelSearchPaths) {
        std::vector<ModelPtr> candidates;
        if (QFileInfo(place).isDir()) {
            candidates = ManagedObjectModel::loadAllVersions(place);
        } else if (auto m = ManagedObjectModel::loadFile(place)) {
            candidates.push_back(*m);
        }
        for (const ModelPtr& m : candidates) {
            if (m->versionHash() == meta->modelHash)
                sourceModel = m;
        }
    }
    if (!sourceModel)
        return migrationError(NoSourceModelError,
                              QStringLiteral("%1 was written by model \"%2\", which this program cannot read")
                                  .arg(path, meta->modelVersion));
    std::optional<MappingModel> mapping;
    for (const QString& file : options.mappingModelPaths) {
        auto m = MappingModel::loadFile(file);
        if (m && m->sourceModelVersion() == sourceModel->versionName()
            && m->destinationModelVersion() == destinationModel->versionName())
            mapping = *m;
    }
    if (!mapping && options.inferMappingModel) {
        auto inferred = MappingModel::infer(*sourceModel, *destinationModel);
        if (!inferred)
            return std::unexpected(inferred.error());
        mapping = *inferred;
    }
    if (!mapping)
        return migrationError(NoMappingError, QStringLiteral("no mapping model leads from \"%1\" to \"%2\"")
                                                  .arg(sourceModel->versionName(), destinationModel->versionName()));

    const QString work = path + QStringLiteral(".migrating");
    removeStoreFiles(work); // left over from a migration that was cut off
    if (auto ok = migrateStore(path, sourceModel, work, destinationModel, *mapping); !ok)
        return ok;
    const QString backup = backupPath(path, meta->modelHash);
    removeStoreFiles(backup);
    if (!moveStoreFiles(path, backup)) {
        removeStoreFiles(work);
        return migrationError(MigrationError, QStringLiteral("cannot set %1 aside").arg(path));
    }
    if (!moveStoreFiles(work, path)) {
        moveStoreFiles(backup, path);
        removeStoreFiles(work);
        return migrationError(MigrationError, QStringLiteral("cannot put the migrated store in place of %1").arg(path));
    }
    return {};
}

} // namespace platform
