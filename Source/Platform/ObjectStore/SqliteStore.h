// The SQLite file behind a coordinator: schema made from the model, tables read into rows one
// root entity at a time (on the coordinator's first use of each), and each save written in one
// transaction.
//
// Layout: one table per root entity ("t_<Entity>": pk INTEGER PRIMARY KEY, ent = index of the
// row's entity in its root's hierarchy, one column per attribute "a_<name>" and per to-one
// relationship "r_<name>"), one join table per many-to-many relationship ("j_<Entity>_<name>",
// src/dst keys, primary key (src, dst) and an index on dst) and "meta" (key/value: storeUUID,
// modelName, modelVersion, modelHash, "seq.<Entity>" = highest key ever handed out). To-many
// sides of one-to-many relationships are not stored; they are rebuilt from the to-one column.
// Unsigned 64-bit values keep their bit pattern in INTEGER columns, dates are INTEGER
// milliseconds since the Unix epoch (UTC).
//
// A table's rows come with every to-many side that ends in them: join-table pairs and the to-one
// columns of other tables, which are read from those tables' rows when the caller has them in
// memory and from SQLite otherwise. So a table can be read long after the others and still
// match them: every save reaches the file before anything is read from it again.
//
// journal_mode=WAL (DELETE where the file system refuses WAL), synchronous=FULL. A write that
// fails is rolled back whole; the caller's rows stay untouched. close() copies the log back
// into the file and removes it, so that the store file alone holds every save (users copy and
// back up that one file). The write connection is used
// only under the coordinator's write lock (at open and in commits), never concurrently; tables
// are read over read-only connections of their own, so several may be read at once.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/CellTest.h"
#include "Platform/ObjectStore/ManagedObjectModel.h"
#include "Platform/ObjectStore/Row.h"
#include "Platform/ObjectStore/SqliteSchema.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace platform {

struct StoreMetadata {
    QString storeUUID;
    QString modelName;
    QString modelVersion;
    QString modelHash;
};

// Rows of one root entity's table, indexed by primary key (null where no row exists).
struct TableRows {
    const EntityDescription* root = nullptr;
    std::vector<RowPtr> rows;
    qint64 sequence = 0; // highest key handed out
};

struct StoreWrite {
    std::vector<RowPtr> upserts;
    std::vector<RowPtr> previous; // per upsert: the stored row it replaces, or null for a new one
    std::vector<RowPtr> deletes;  // the cached rows removed
    std::vector<std::pair<const EntityDescription*, qint64>> sequences;
};

class SqliteStore {
public:
    ~SqliteStore();

    // Error codes in the "ObjectStore" domain.
    enum ErrorCode {
        OpenError = 134080,          // cannot open or create the file
        NotAStoreError = 134081,     // corrupt, or an SQLite file of some other program
        IncompatibleError = 134100,  // written by a model version other than the one given
        WriteError = 134030,         // a save could not be written (disk full, read only, …)
    };

    // Opens (or creates) a store for model. A store of another model version fails with
    // IncompatibleError before anything is written.
    static Result<std::unique_ptr<SqliteStore>> open(const QString& path, ModelPtr model);
    // Opens an existing store of model for reading only; the file is not touched.
    static Result<std::unique_ptr<SqliteStore>> openReadOnly(const QString& path, ModelPtr model);
    // The metadata of an existing store without opening it for writing.
    static Result<StoreMetadata> readMetadata(const QString& path);

    const StoreMetadata& metadata() const { return m_meta; }
    const QString& path() const { return m_path; }
    QString journalMode() const { return m_journalMode; }

    // Every table, with to-many sides rebuilt and keys of missing records dropped (migration).
    // Index: the root entity's index among the model's root entities.
    Result<std::vector<TableRows>> loadAll();
    // Per table (same index): the highest key ever handed out, from the file's records and its
    // key sequences. Also proves that every table and column the model needs is there.
    Result<std::vector<qint64>> readSequences();
    // The rows of one table already in the caller's memory, or null: the loader takes to-one
    // keys from them instead of reading them again.
    using LoadedRows = std::function<const std::vector<RowPtr>*(size_t table)>;
    // One table's rows with their to-many sides. Keys of records in tables that are neither
    // this one nor loaded are taken as they are. Safe to call from several threads at once.
    Result<std::vector<RowPtr>> loadTable(size_t table, const LoadedRows& loaded) const;
    // See SqliteTableReader::countRows. Safe to call from several threads at once.
    Result<qint64> countRows(size_t table, const std::vector<int>& kinds, const std::vector<CellTest>& tests,
                             const EntityDescription* entity) const;
    Result<void> write(const StoreWrite& batch);
    // Gives a new store the identity of the one it replaces, so URIs stay valid (migration).
    Result<void> setStoreUUID(const QString& uuid);
    Result<void> writeSequences(const std::vector<std::pair<const EntityDescription*, qint64>>& seqs);
    // Writes the log back into the store file, empties it and closes the connection; the store
    // can do nothing more afterwards. An error when the log could not be written back (another
    // connection still reads it): the file then needs its log, which SQLite keeps.
    Result<void> close();
    bool isClosed() const { return m_db == nullptr; }

private:
    SqliteStore() = default;
    using Schema = SqliteSchema;
    Result<void> createSchema();
    Result<void> exec(const char* sql);
    Result<void> execText(const QString& sql);
    Error sqlError(int code, const QString& what) const;
    sqlite3_stmt* statement(const QString& sql);
    // The same for the schema's own statement texts, found by address rather than by text.
    sqlite3_stmt* prepared(const QString& schemaSql);
    // Whether two states of a record have the same attributes and to-one keys (its columns).
    static bool sameColumns(const Row& a, const Row& b);
    Result<void> writeRow(const Row& row, bool fresh);
    // inBatch: whether a row of the given root entity and key is written by the same batch.
    Result<void> writeJoins(const Row& row, const Row* previous,
                            const std::function<bool(const EntityDescription*, qint64)>& inBatch);
    Result<void> deleteRow(const Row& row);
    Result<void> writeSequence(const EntityDescription* root, qint64 seq);

    sqlite3* m_db = nullptr;
    QString m_path;
    QString m_journalMode;
    ModelPtr m_model;
    StoreMetadata m_meta;
    std::unique_ptr<Schema> m_schema;
    QHash<QString, sqlite3_stmt*> m_statements;
    QHash<const QString*, sqlite3_stmt*> m_prepared; // the same statements, by schema text
    // Key sequences as the file holds them, so a save writes only those that moved.
    QHash<const EntityDescription*, qint64> m_writtenSequences;
};

} // namespace platform
