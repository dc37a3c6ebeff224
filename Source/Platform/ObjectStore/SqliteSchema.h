// The tables, columns and statement texts of a model's SQLite store, worked out once when a
// store is opened: SqliteStore writes through them and SqliteTableReader reads through them.
// The layout itself is described in SqliteStore.h. Immutable once made.
#pragma once

#include "Platform/ObjectStore/ManagedObjectModel.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

namespace platform {

struct SqliteSchema {
    struct Table {
        const EntityDescription* root = nullptr;
        QString name;
        QStringList columns;
        QStringList columnTypes;
        QHash<const EntityDescription*, std::vector<int>> attrColumn;
        QHash<const EntityDescription*, std::vector<int>> toOneColumn;
        QString upsertSql;
        QString insertSql;
        QString deleteSql;
    };
    struct Join {
        QString name;
        const EntityDescription* src = nullptr;
        const RelationshipDescription* rel = nullptr;
        const EntityDescription* dst = nullptr;
        const RelationshipDescription* inverse = nullptr;
        // By side (0: written from the src row, 1: from the dst row): (own key, other key).
        QString insertSql[2];
        QString deleteSql[2];
        QString deleteAllSql[2]; // every link of one record
    };
    std::vector<Table> tables;
    QHash<const EntityDescription*, size_t> tableOfRoot;
    std::vector<size_t> tableOfEntity; // by the entity's index in the model
    std::vector<Join> joins;

    explicit SqliteSchema(const ManagedObjectModel& model);
    size_t tableOf(const EntityDescription* entity) const { return tableOfEntity[size_t(entity->index())]; }

    // A name as an SQL identifier.
    static QString quoted(const QString& name);
    // The entity of e's hierarchy that declares the relationship (where its column or join is).
    static const EntityDescription* declaringEntity(const EntityDescription* e, const QString& relName);
};

} // namespace platform
