#include "Platform/ObjectStore/SqliteStore.h"

#include "Platform/ObjectStore/SqliteTableReader.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUuid>
#include <algorithm>
#include <cstring>
#include <sqlite3.h>

namespace platform {

namespace {

const QString domain = QStringLiteral("ObjectStore");

// How long a write waits for another connection (another process on the same file) to let go
// before it fails as "database is locked".
constexpr int busyTimeoutMs = 5000;

// Page cache of the write connection (SQLite's default is 2 MiB); it fills only as saves touch pages.
constexpr int writeCacheKiB = 16384;

void bindValue(sqlite3_stmt* st, int index, AttributeType type, const QVariant& v)
{
    if (!v.isValid() || v.isNull()) {
        sqlite3_bind_null(st, index);
        return;
    }
    switch (type) {
    case AttributeType::String: {
        const QByteArray utf8 = v.toString().toUtf8();
        sqlite3_bind_text(st, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        break;
    }
    case AttributeType::Binary: {
        const QByteArray bytes = v.toByteArray();
        static const char empty = 0;
        sqlite3_bind_blob(st, index, bytes.isEmpty() ? &empty : bytes.constData(), int(bytes.size()),
                          SQLITE_TRANSIENT);
        break;
    }
    case AttributeType::Double:
        sqlite3_bind_double(st, index, v.toDouble());
        break;
    case AttributeType::Date:
        sqlite3_bind_int64(st, index, v.toDateTime().toMSecsSinceEpoch());
        break;
    case AttributeType::Bool:
        sqlite3_bind_int64(st, index, v.toBool() ? 1 : 0);
        break;
    case AttributeType::UInt64:
        sqlite3_bind_int64(st, index, qint64(v.toULongLong()));
        break;
    default:
        sqlite3_bind_int64(st, index, v.toLongLong());
        break;
    }
}

// The cell of a row as bindValue would bind its value, without making the value first.
void bindCell(sqlite3_stmt* st, int index, const Row& row, const AttributeDescription& a)
{
    quint64 bits = 0;
    QByteArrayView text;
    switch (a.type) {
    case AttributeType::String:
        if (row.stringUtf8(a.slot, &text))
            sqlite3_bind_text(st, index, text.data() ? text.data() : "", int(text.size()), SQLITE_TRANSIENT);
        else
            sqlite3_bind_null(st, index);
        return;
    case AttributeType::Binary:
        bindValue(st, index, a.type, row.value(a.slot));
        return;
    default:
        break;
    }
    if (!row.numberBits(a.slot, &bits)) {
        sqlite3_bind_null(st, index);
        return;
    }
    switch (a.type) {
    case AttributeType::Double: {
        double d;
        std::memcpy(&d, &bits, sizeof d);
        sqlite3_bind_double(st, index, d);
        break;
    }
    case AttributeType::Bool:
        sqlite3_bind_int64(st, index, bits != 0 ? 1 : 0);
        break;
    default: // integers keep their bit pattern, dates their milliseconds
        sqlite3_bind_int64(st, index, qint64(bits));
        break;
    }
}

struct Statement {
    sqlite3_stmt* st = nullptr;
    ~Statement() { sqlite3_finalize(st); }
};

// A store opens only under the model it was written by.
Result<void> checkModel(const StoreMetadata& meta, const ManagedObjectModel& model, const QString& path)
{
    if (meta.modelHash == model.versionHash())
        return {};
    return fail(domain, SqliteStore::IncompatibleError, QStringLiteral("%1 was written by model \"%2\", which is not \"%3\"")
                                                .arg(path, meta.modelVersion, model.versionName()));
}

} // namespace

SqliteStore::~SqliteStore()
{
    (void)close();
}

Result<void> SqliteStore::close()
{
    if (!m_db)
        return {};
    for (sqlite3_stmt* st : std::as_const(m_statements))
        sqlite3_finalize(st);
    m_statements.clear();
    m_prepared.clear();
    Result<void> result;
    if (m_journalMode.compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0) {
        // SQLite also checkpoints when its last connection closes, but says nothing when that
        // fails; TRUNCATE leaves an empty log behind even where the file cannot be removed.
        const int rc = sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
        if (rc != SQLITE_OK)
            result = std::unexpected(sqlError(rc, QStringLiteral("cannot write the log back into the store")));
    }
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    return result;
}

Error SqliteStore::sqlError(int code, const QString& what) const
{
    const QString detail = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString();
    return Error{domain, WriteError,
                 QStringLiteral("%1 (%2): %3").arg(what, m_path, detail.isEmpty()
                                                                  ? QString::fromUtf8(sqlite3_errstr(code))
                                                                  : detail)};
}

Result<void> SqliteStore::exec(const char* sql)
{
    if (!m_db)
        return fail(domain, WriteError, QStringLiteral("%1 is closed").arg(m_path));
    char* message = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const QString text = message ? QString::fromUtf8(message) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_free(message);
        return fail(domain, WriteError, QStringLiteral("%1: %2").arg(m_path, text));
    }
    return {};
}

Result<void> SqliteStore::execText(const QString& sql)
{
    return exec(sql.toUtf8().constData());
}

sqlite3_stmt* SqliteStore::statement(const QString& sql)
{
    auto it = m_statements.find(sql);
    if (it != m_statements.end()) {
        sqlite3_reset(*it);
        sqlite3_clear_bindings(*it);
        return *it;
    }
    sqlite3_stmt* st = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(m_db, utf8.constData(), int(utf8.size()), &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return nullptr;
    }
    m_statements.insert(sql, st);
    return st;
}

sqlite3_stmt* SqliteStore::prepared(const QString& schemaSql)
{
    auto it = m_prepared.constFind(&schemaSql);
    if (it != m_prepared.cend()) {
        sqlite3_reset(*it);
        sqlite3_clear_bindings(*it);
        return *it;
    }
    sqlite3_stmt* st = statement(schemaSql);
    if (st)
        m_prepared.insert(&schemaSql, st);
    return st;
}

Result<StoreMetadata> SqliteStore::readMetadata(const QString& path)
{
    // Only SQLite opens the file: our own connection may be open, and closing any other
    // descriptor of the file would drop every lock this process holds on it. Another process
    // would then take the log for unused, write it back and delete it under that connection.
    const QFileInfo info(path);
    if (!info.exists())
        return fail(domain, OpenError, QStringLiteral("no store at %1").arg(path));
    if (!info.isFile())
        return fail(domain, OpenError, QStringLiteral("%1 is not a file").arg(path));
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return fail(domain, OpenError, QStringLiteral("cannot open %1: %2").arg(path, QString::fromUtf8(sqlite3_errstr(rc))));
    }
    sqlite3_busy_timeout(db, busyTimeoutMs);
    StoreMetadata meta;
    Statement q;
    bool ok = sqlite3_prepare_v2(db, "SELECT key, value FROM meta", -1, &q.st, nullptr) == SQLITE_OK;
    if (ok) {
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(q.st)) == SQLITE_ROW) {
            const QString key = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(q.st, 0)));
            const QString value = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(q.st, 1)));
            if (key == QLatin1String("storeUUID"))
                meta.storeUUID = value;
            else if (key == QLatin1String("modelName"))
                meta.modelName = value;
            else if (key == QLatin1String("modelVersion"))
                meta.modelVersion = value;
            else if (key == QLatin1String("modelHash"))
                meta.modelHash = value;
        }
        ok = step == SQLITE_DONE;
    }
    const QString detail = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(q.st);
    q.st = nullptr;
    sqlite3_close_v2(db);
    if (!ok || meta.modelHash.isEmpty() || meta.storeUUID.isEmpty())
        return fail(domain, NotAStoreError,
                    QStringLiteral("%1 is not an object store (%2)").arg(path, detail));
    return meta;
}

Result<std::unique_ptr<SqliteStore>> SqliteStore::open(const QString& path, ModelPtr model)
{
    const QFileInfo info(path);
    const bool exists = info.exists() && info.size() > 0;
    if (info.exists() && !info.isFile())
        return fail(domain, OpenError, QStringLiteral("%1 is not a file").arg(path));
    if (exists) {
        auto meta = readMetadata(path);
        if (!meta)
            return std::unexpected(meta.error());
        if (auto fits = checkModel(*meta, *model, path); !fits)
            return std::unexpected(fits.error());
    }
    std::unique_ptr<SqliteStore> store(new SqliteStore);
    store->m_path = path;
    store->m_model = model;
    store->m_schema = std::make_unique<Schema>(*model);
    // The coordinator serialises every use of the connection, so SQLite's own mutex is not needed.
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (!exists)
        flags |= SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &store->m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        auto err = store->sqlError(rc, QStringLiteral("cannot open the store"));
        err.code = OpenError;
        return std::unexpected(err);
    }
    sqlite3_busy_timeout(store->m_db, busyTimeoutMs);
    // WAL keeps readers off the writer's back; some file systems (network mounts) refuse it.
    for (const char* mode : {"PRAGMA journal_mode=WAL", "PRAGMA journal_mode=DELETE"}) {
        Statement q;
        if (sqlite3_prepare_v2(store->m_db, mode, -1, &q.st, nullptr) == SQLITE_OK
            && sqlite3_step(q.st) == SQLITE_ROW) {
            store->m_journalMode = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(q.st, 0)));
            if (store->m_journalMode.compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0
                || QByteArray(mode).endsWith("DELETE"))
                break;
        }
    }
    // A save of many documents touches pages all over the join tables' key indexes; a cache
    // that holds them all keeps the transaction from spilling pages to the log before it ends.
    store->execText(QStringLiteral("PRAGMA cache_size=-%1").arg(writeCacheKiB));
    if (auto ok = store->exec("PRAGMA synchronous=FULL"); !ok)
        return std::unexpected(ok.error());
    if (!exists) {
        if (auto ok = store->createSchema(); !ok) {
            store.reset();
            QFile::remove(path);
            QFile::remove(path + QStringLiteral("-wal"));
            QFile::remove(path + QStringLiteral("-shm"));
            return std::unexpected(ok.error());
        }
    } else {
        auto meta = readMetadata(path);
        if (!meta)
            return std::unexpected(meta.error());
        store->m_meta = *meta;
    }
    return store;
}

Result<std::unique_ptr<SqliteStore>> SqliteStore::openReadOnly(const QString& path, ModelPtr model)
{
    auto meta = readMetadata(path);
    if (!meta)
        return std::unexpected(meta.error());
    if (auto fits = checkModel(*meta, *model, path); !fits)
        return std::unexpected(fits.error());
    std::unique_ptr<SqliteStore> store(new SqliteStore);
    store->m_path = path;
    store->m_model = model;
    store->m_meta = *meta;
    store->m_schema = std::make_unique<Schema>(*model);
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &store->m_db, SQLITE_OPEN_READONLY, nullptr);
    if (rc != SQLITE_OK) {
        auto err = store->sqlError(rc, QStringLiteral("cannot open the store"));
        err.code = OpenError;
        return std::unexpected(err);
    }
    sqlite3_busy_timeout(store->m_db, busyTimeoutMs);
    return store;
}

Result<void> SqliteStore::setStoreUUID(const QString& uuid)
{
    if (auto ok = exec("BEGIN IMMEDIATE"); !ok)
        return ok;
    sqlite3_stmt* st = statement(QStringLiteral("INSERT OR REPLACE INTO meta (key, value) VALUES ('storeUUID', ?)"));
    const QByteArray v = uuid.toUtf8();
    int rc = SQLITE_ERROR;
    if (st) {
        sqlite3_bind_text(st, 1, v.constData(), int(v.size()), SQLITE_TRANSIENT);
        rc = sqlite3_step(st);
    }
    if (rc != SQLITE_DONE) {
        auto err = sqlError(rc, QStringLiteral("cannot write the store's metadata"));
        exec("ROLLBACK");
        return std::unexpected(err);
    }
    if (auto ok = exec("COMMIT"); !ok)
        return ok;
    m_meta.storeUUID = uuid;
    return {};
}

Result<void> SqliteStore::createSchema()
{
    if (auto ok = exec("BEGIN IMMEDIATE"); !ok)
        return ok;
    auto body = [&]() -> Result<void> {
        if (auto ok = exec("CREATE TABLE meta (key TEXT PRIMARY KEY, value)"); !ok)
            return ok;
        for (const Schema::Table& t : m_schema->tables) {
            QStringList cols{QStringLiteral("pk INTEGER PRIMARY KEY"), QStringLiteral("ent INTEGER NOT NULL")};
            for (qsizetype i = 0; i < t.columns.size(); ++i)
                cols << SqliteSchema::quoted(t.columns[i]) + QLatin1Char(' ') + t.columnTypes[i];
            if (auto ok = execText(QStringLiteral("CREATE TABLE %1 (%2)").arg(SqliteSchema::quoted(t.name), cols.join(QLatin1Char(',')))); !ok)
                return ok;
            for (const EntityDescription* e : t.root->hierarchy()) {
                const auto& attrCols = t.attrColumn.value(e);
                for (const AttributeDescription& a : e->attributes()) {
                    if (!a.indexed)
                        continue;
                    const QString col = t.columns[attrCols[size_t(a.slot)]];
                    if (auto ok = execText(QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (%3)")
                                               .arg(SqliteSchema::quoted(t.name + QStringLiteral("_") + col), SqliteSchema::quoted(t.name), SqliteSchema::quoted(col)));
                        !ok)
                        return ok;
                }
            }
        }
        for (const Schema::Join& j : m_schema->joins) {
            if (auto ok = execText(QStringLiteral("CREATE TABLE %1 (src INTEGER NOT NULL, dst INTEGER NOT NULL, PRIMARY KEY (src, dst)) WITHOUT ROWID")
                                       .arg(SqliteSchema::quoted(j.name)));
                !ok)
                return ok;
            if (auto ok = execText(QStringLiteral("CREATE INDEX %1 ON %2 (dst)").arg(SqliteSchema::quoted(j.name + QStringLiteral("_dst")), SqliteSchema::quoted(j.name))); !ok)
                return ok;
        }
        m_meta.storeUUID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        m_meta.modelName = m_model->name();
        m_meta.modelVersion = m_model->versionName();
        m_meta.modelHash = m_model->versionHash();
        const std::pair<const char*, QString> entries[] = {{"storeUUID", m_meta.storeUUID},
                                                           {"modelName", m_meta.modelName},
                                                           {"modelVersion", m_meta.modelVersion},
                                                           {"modelHash", m_meta.modelHash}};
        for (const auto& [key, value] : entries) {
            sqlite3_stmt* st = statement(QStringLiteral("INSERT OR REPLACE INTO meta (key, value) VALUES (?, ?)"));
            if (!st)
                return std::unexpected(sqlError(SQLITE_ERROR, QStringLiteral("cannot write the store's metadata")));
            sqlite3_bind_text(st, 1, key, -1, SQLITE_STATIC);
            const QByteArray v = value.toUtf8();
            sqlite3_bind_text(st, 2, v.constData(), int(v.size()), SQLITE_TRANSIENT);
            if (const int rc = sqlite3_step(st); rc != SQLITE_DONE)
                return std::unexpected(sqlError(rc, QStringLiteral("cannot write the store's metadata")));
        }
        return exec("COMMIT");
    };
    auto ok = body();
    if (!ok)
        exec("ROLLBACK");
    return ok;
}

Result<std::vector<RowPtr>> SqliteStore::loadTable(size_t table, const LoadedRows& loaded) const
{
    return SqliteTableReader(m_path, *m_schema).loadTable(table, loaded);
}

Result<qint64> SqliteStore::countRows(size_t table, const std::vector<int>& kinds, const std::vector<CellTest>& tests,
                                      const EntityDescription* entity) const
{
    return SqliteTableReader(m_path, *m_schema).countRows(table, kinds, tests, entity);
}

Result<std::vector<qint64>> SqliteStore::readSequences()
{
    auto failure = [&](const QString& what) {
        Error e = sqlError(sqlite3_errcode(m_db), what);
        e.code = NotAStoreError;
        return std::unexpected(e);
    };
    QHash<QString, qint64> stored;
    {
        Statement seq;
        if (sqlite3_prepare_v2(m_db, "SELECT key, value FROM meta WHERE key LIKE 'seq.%'", -1, &seq.st, nullptr) != SQLITE_OK)
            return failure(QStringLiteral("cannot read the key sequences"));
        while (sqlite3_step(seq.st) == SQLITE_ROW)
            stored.insert(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(seq.st, 0))).mid(4),
                          sqlite3_column_int64(seq.st, 1));
    }
    std::vector<qint64> out;
    for (const Schema::Table& t : m_schema->tables) {
        QStringList cols{QStringLiteral("max(pk)"), QStringLiteral("ent")};
        for (const QString& c : t.columns)
            cols << SqliteSchema::quoted(c);
        // Naming every column makes a table that lacks one fail here, at open, not on first use.
        Statement q;
        const QByteArray sql = QStringLiteral("SELECT %1 FROM %2").arg(cols.join(QLatin1Char(',')), SqliteSchema::quoted(t.name)).toUtf8();
        if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &q.st, nullptr) != SQLITE_OK || sqlite3_step(q.st) != SQLITE_ROW)
            return failure(QStringLiteral("cannot read table %1").arg(t.name));
        out.push_back(std::max(stored.value(t.root->name()), sqlite3_column_int64(q.st, 0)));
    }
    for (const Schema::Join& j : m_schema->joins) {
        Statement q;
        const QByteArray sql = QStringLiteral("SELECT src, dst FROM %1 LIMIT 1").arg(SqliteSchema::quoted(j.name)).toUtf8();
        if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &q.st, nullptr) != SQLITE_OK)
            return failure(QStringLiteral("cannot read table %1").arg(j.name));
    }
    return out;
}

Result<std::vector<TableRows>> SqliteStore::loadAll()
{
    auto sequences = readSequences();
    if (!sequences)
        return std::unexpected(sequences.error());
    const size_t n = m_schema->tables.size();
    std::vector<TableRows> out(n);
    for (size_t ti = 0; ti < n; ++ti) {
        auto rows = loadTable(ti, [&](size_t t) { return t < ti ? &out[t].rows : nullptr; });
        if (!rows)
            return std::unexpected(rows.error());
        out[ti].root = m_schema->tables[ti].root;
        out[ti].rows = std::move(*rows);
        out[ti].sequence = (*sequences)[ti];
    }
    // Tables read before the ones their keys name still hold keys of missing records.
    auto exists = [&](const EntityDescription* kind, qint64 pk) {
        const auto& rows = out[m_schema->tableOf(kind)].rows;
        return pk > 0 && size_t(pk) < rows.size() && rows[size_t(pk)] && rows[size_t(pk)]->entity->isKindOf(kind);
    };
    for (TableRows& table : out) {
        for (const RowPtr& published : table.rows) {
            if (!published)
                continue;
            Row& row = const_cast<Row&>(*published); // ours until returned
            for (const RelationshipDescription& r : row.entity->relationships()) {
                if (!r.toMany) {
                    qint64& fk = row.toOne[size_t(r.slot)];
                    if (fk && !exists(r.destination, fk))
                        fk = 0;
                    continue;
                }
                auto& keys = row.toMany[size_t(r.slot)];
                keys.erase(std::remove_if(keys.begin(), keys.end(), [&](qint64 k) { return !exists(r.destination, k); }),
                           keys.end());
            }
        }
    }
    return out;
}

bool SqliteStore::sameColumns(const Row& a, const Row& b)
{
    if (a.entity != b.entity || !(a.toOne == b.toOne))
        return false;
    for (size_t s = 0; s < a.valueCount(); ++s) {
        if (!a.sameValue(int(s), b))
            return false;
    }
    return true;
}

Result<void> SqliteStore::writeRow(const Row& row, bool fresh)
{
    const Schema::Table& t = m_schema->tables[m_schema->tableOf(row.entity)];
    // A new record never replaces one: should its key be in the file already, the save fails.
    sqlite3_stmt* st = prepared(fresh ? t.insertSql : t.upsertSql);
    if (!st)
        return std::unexpected(sqlError(SQLITE_ERROR, QStringLiteral("cannot prepare a write")));
    sqlite3_bind_int64(st, 1, row.pk);
    sqlite3_bind_int(st, 2, row.entity->tableCode());
    const auto& attrCols = *t.attrColumn.constFind(row.entity);
    for (const AttributeDescription& a : row.entity->attributes())
        bindCell(st, 3 + attrCols[size_t(a.slot)], row, a);
    const auto& oneCols = *t.toOneColumn.constFind(row.entity);
    for (size_t s = 0; s < row.toOne.size(); ++s) {
        if (row.toOne[s])
            sqlite3_bind_int64(st, 3 + oneCols[s], row.toOne[s]);
    }
    if (const int rc = sqlite3_step(st); rc != SQLITE_DONE)
        return std::unexpected(sqlError(rc, QStringLiteral("cannot write a %1 record").arg(row.entity->name())));
    return {};
}

Result<void> SqliteStore::writeJoins(const Row& row, const Row* previous,
                                     const std::function<bool(const EntityDescription*, qint64)>& inBatch)
{
    static const std::vector<qint64> none;
    for (const Schema::Join& j : m_schema->joins) {
        for (int side = 0; side < 2; ++side) {
            const EntityDescription* kind = side == 0 ? j.src : j.dst;
            const RelationshipDescription* rel = side == 0 ? j.rel : j.inverse;
            if (!rel || !row.entity->isKindOf(kind))
                continue;
            const auto& now = row.toMany[size_t(rel->slot)];
            const auto& before = previous ? previous->toMany[size_t(rel->slot)] : none;
            if (now == before)
                continue;
            auto link = [&](qint64 key, bool add) -> Result<void> {
                // A link seen from both ends is written once, from its source row.
                if (side == 1 && inBatch(j.src, key))
                    return {};
                sqlite3_stmt* st = prepared(add ? j.insertSql[side] : j.deleteSql[side]);
                if (!st)
                    return std::unexpected(sqlError(SQLITE_ERROR, QStringLiteral("cannot prepare a write")));
                sqlite3_bind_int64(st, 1, row.pk);
                sqlite3_bind_int64(st, 2, key);
                if (const int rc = sqlite3_step(st); rc != SQLITE_DONE)
                    return std::unexpected(sqlError(rc, QStringLiteral("cannot write the %1 relationship").arg(rel->name)));
                return {};
            };
            // One walk over both sorted sets: keys only in now are added, keys only before removed.
            auto n = now.begin();
            auto b = before.begin();
            while (n != now.end() || b != before.end()) {
                Result<void> ok;
                if (b == before.end() || (n != now.end() && *n < *b)) {
                    ok = link(*n++, true);
                } else if (n == now.end() || *b < *n) {
                    ok = link(*b++, false);
                } else {
                    ++n;
                    ++b;
                }
                if (!ok)
                    return ok;
            }
        }
    }
    return {};
}

Result<void> SqliteStore::deleteRow(const Row& row)
{
    const Schema::Table& t = m_schema->tables[m_schema->tableOf(row.entity)];
    std::vector<const QString*> sqls{&t.deleteSql};
    for (const Schema::Join& j : m_schema->joins) {
        if (row.entity->isKindOf(j.src))
            sqls.push_back(&j.deleteAllSql[0]);
        if (j.inverse && row.entity->isKindOf(j.dst))
            sqls.push_back(&j.deleteAllSql[1]);
    }
    for (const QString* sql : sqls) {
        sqlite3_stmt* st = prepared(*sql);
        if (!st)
            return std::unexpected(sqlError(SQLITE_ERROR, QStringLiteral("cannot prepare a delete")));
        sqlite3_bind_int64(st, 1, row.pk);
        if (const int rc = sqlite3_step(st); rc != SQLITE_DONE)
            return std::unexpected(sqlError(rc, QStringLiteral("cannot delete a %1 record").arg(row.entity->name())));
    }
    return {};
}

Result<void> SqliteStore::writeSequence(const EntityDescription* root, qint64 seq)
{
    sqlite3_stmt* st = statement(QStringLiteral("INSERT OR REPLACE INTO meta (key, value) VALUES (?, ?)"));
    if (!st)
        return std::unexpected(sqlError(SQLITE_ERROR, QStringLiteral("cannot prepare a write")));
    const QByteArray key = (QStringLiteral("seq.") + root->name()).toUtf8();
    sqlite3_bind_text(st, 1, key.constData(), int(key.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 2, seq);
    if (const int rc = sqlite3_step(st); rc != SQLITE_DONE)
        return std::unexpected(sqlError(rc, QStringLiteral("cannot write the key sequence")));
    return {};
}

Result<void> SqliteStore::write(const StoreWrite& batch)
{
    if (auto ok = exec("BEGIN IMMEDIATE"); !ok)
        return ok;
    auto body = [&]() -> Result<void> {
        for (const RowPtr& row : batch.deletes) {
            if (auto ok = deleteRow(*row); !ok)
                return ok;
        }
        QSet<QPair<const EntityDescription*, qint64>> written;
        for (const RowPtr& row : batch.upserts)
            written.insert({row->entity->rootEntity(), row->pk});
        auto inBatch = [&](const EntityDescription* entity, qint64 pk) {
            return written.contains({entity->rootEntity(), pk});
        };
        for (size_t i = 0; i < batch.upserts.size(); ++i) {
            // A row whose only change is a to-many set (a tag that gained a document) keeps
            // its record; only the join table changes.
            const Row* before = batch.previous[i].get();
            if (!before || !sameColumns(*batch.upserts[i], *before)) {
                if (auto ok = writeRow(*batch.upserts[i], !before); !ok)
                    return ok;
            }
            if (auto ok = writeJoins(*batch.upserts[i], batch.previous[i].get(), inBatch); !ok)
                return ok;
        }
        for (const auto& [root, seq] : batch.sequences) {
            if (m_writtenSequences.value(root, -1) == seq)
                continue;
            if (auto ok = writeSequence(root, seq); !ok)
                return ok;
        }
        return exec("COMMIT");
    };
    auto ok = body();
    if (ok) {
        for (const auto& [root, seq] : batch.sequences)
            m_writtenSequences.insert(root, seq);
    }
    if (!ok) {
        // A failed COMMIT may already have ended the transaction; ROLLBACK then just fails.
        exec("ROLLBACK");
        for (sqlite3_stmt* st : std::as_const(m_statements))
            sqlite3_reset(st);
    }
    return ok;
}

Result<void> SqliteStore::writeSequences(const std::vector<std::pair<const EntityDescription*, qint64>>& seqs)
{
    StoreWrite batch;
    batch.sequences = seqs;
    return write(batch);
}

} // namespace platform
