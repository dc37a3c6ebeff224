#include "Platform/ObjectStore/SqliteStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUuid>
#include <algorithm>
#include <cstring>
#include <sqlite3.h>
#include <atomic>
#include <thread>

namespace platform {

namespace {

const QString domain = QStringLiteral("ObjectStore");

// How long a write waits for another connection (another process on the same file) to let go
// before it fails as "database is locked".
constexpr int busyTimeoutMs = 5000;

// Threads that read a table; rows are read in key ranges of at least this many keys each.
constexpr int loaderThreads = 4;
constexpr qint64 rowsPerRange = 8192;
// Rows are cached in vectors indexed by key: a key this large is damage, not a library.
constexpr qint64 maxRecordKey = qint64(1) << 28;

const EntityDescription* declaringEntity(const EntityDescription* e, const QString& relName)
{
    while (e->superentity() && e->superentity()->relationship(relName))
        e = e->superentity();
    return e;
}

bool isManyToMany(const RelationshipDescription& r)
{
    return r.toMany && (!r.inverse || r.inverse->toMany);
}

QString quoted(const QString& name)
{
    QString n = name;
    n.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + n + QLatin1Char('"');
}

QString sqlType(AttributeType type)
{
    switch (type) {
    case AttributeType::String:
        return QStringLiteral("TEXT");
    case AttributeType::Double:
        return QStringLiteral("REAL");
    case AttributeType::Binary:
        return QStringLiteral("BLOB");
    default:
        return QStringLiteral("INTEGER");
    }
}

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

QVariant columnValue(sqlite3_stmt* st, int index, AttributeType type)
{
    const int kind = sqlite3_column_type(st, index);
    if (kind == SQLITE_NULL)
        return {};
    switch (type) {
    case AttributeType::String: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, index));
        return QString::fromUtf8(text, sqlite3_column_bytes(st, index));
    }
    case AttributeType::Binary: {
        const void* blob = sqlite3_column_blob(st, index);
        const int n = sqlite3_column_bytes(st, index);
        return n > 0 ? QByteArray(static_cast<const char*>(blob), n) : QByteArray("");
    }
    case AttributeType::Double:
        return sqlite3_column_double(st, index);
    case AttributeType::Date:
        return QDateTime::fromMSecsSinceEpoch(sqlite3_column_int64(st, index), Qt::UTC);
    case AttributeType::Bool:
        return sqlite3_column_int64(st, index) != 0;
    case AttributeType::UInt64:
        return QVariant::fromValue(quint64(sqlite3_column_int64(st, index)));
    default:
        return QVariant::fromValue(qint64(sqlite3_column_int64(st, index)));
    }
}

struct Statement {
    sqlite3_stmt* st = nullptr;
    ~Statement() { sqlite3_finalize(st); }
};

} // namespace

struct SqliteStore::Schema {
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

    size_t tableOf(const EntityDescription* entity) const { return tableOfEntity[size_t(entity->index())]; }

    explicit Schema(const ManagedObjectModel& model)
    {
        for (const EntityDescription* root : model.rootEntities()) {
            Table t;
            t.root = root;
            t.name = QStringLiteral("t_") + root->name();
            for (const EntityDescription* e : root->hierarchy()) {
                std::vector<int> attrs, ones;
                for (const AttributeDescription& a : e->attributes()) {
                    const QString col = QStringLiteral("a_") + a.name;
                    qsizetype i = t.columns.indexOf(col);
                    if (i < 0) {
                        i = t.columns.size();
                        t.columns << col;
                        t.columnTypes << sqlType(a.type);
                    }
                    attrs.push_back(int(i));
                }
                for (const RelationshipDescription& r : e->relationships()) {
                    if (r.toMany)
                        continue;
                    const QString col = QStringLiteral("r_") + r.name;
                    qsizetype i = t.columns.indexOf(col);
                    if (i < 0) {
                        i = t.columns.size();
                        t.columns << col;
                        t.columnTypes << QStringLiteral("INTEGER");
                    }
                    ones.push_back(int(i));
                }
                t.attrColumn.insert(e, attrs);
                t.toOneColumn.insert(e, ones);
            }
            QStringList names{QStringLiteral("pk"), QStringLiteral("ent")};
            QStringList marks{QStringLiteral("?"), QStringLiteral("?")};
            for (const QString& c : t.columns) {
                names << quoted(c);
                marks << QStringLiteral("?");
            }
            t.upsertSql = QStringLiteral("INSERT OR REPLACE INTO %1 (%2) VALUES (%3)")
                              .arg(quoted(t.name), names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
            t.insertSql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                              .arg(quoted(t.name), names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
            t.deleteSql = QStringLiteral("DELETE FROM %1 WHERE pk = ?").arg(quoted(t.name));
            tableOfRoot.insert(root, tables.size());
            tables.push_back(std::move(t));
        }
        tableOfEntity.resize(model.entities().size());
        for (const auto& e : model.entities())
            tableOfEntity[size_t(e->index())] = tableOfRoot.value(e->rootEntity());
        for (const auto& ep : model.entities()) {
            for (const RelationshipDescription& r : ep->relationships()) {
                if (!isManyToMany(r) || declaringEntity(ep.get(), r.name) != ep.get())
                    continue;
                if (r.inverse) {
                    const EntityDescription* other = declaringEntity(r.destination, r.inverse->name);
                    const QString mine = ep->name() + QLatin1Char('.') + r.name;
                    const QString theirs = other->name() + QLatin1Char('.') + r.inverse->name;
                    if (theirs < mine)
                        continue;
                }
                Join j;
                j.name = QStringLiteral("j_%1_%2").arg(ep->name(), r.name);
                j.src = ep.get();
                j.rel = &r;
                j.dst = r.destination;
                j.inverse = r.inverse;
                const QString table = quoted(j.name);
                j.insertSql[0] = QStringLiteral("INSERT OR IGNORE INTO %1 (src, dst) VALUES (?, ?)").arg(table);
                j.insertSql[1] = QStringLiteral("INSERT OR IGNORE INTO %1 (dst, src) VALUES (?, ?)").arg(table);
                j.deleteSql[0] = QStringLiteral("DELETE FROM %1 WHERE src = ? AND dst = ?").arg(table);
                j.deleteSql[1] = QStringLiteral("DELETE FROM %1 WHERE dst = ? AND src = ?").arg(table);
                j.deleteAllSql[0] = QStringLiteral("DELETE FROM %1 WHERE src = ?").arg(table);
                j.deleteAllSql[1] = QStringLiteral("DELETE FROM %1 WHERE dst = ?").arg(table);
                joins.push_back(j);
            }
        }
    }
};

SqliteStore::~SqliteStore()
{
    for (sqlite3_stmt* st : std::as_const(m_statements))
        sqlite3_finalize(st);
    if (m_db)
        sqlite3_close_v2(m_db);
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
    QFile file(path);
    if (!file.exists())
        return fail(domain, OpenError, QStringLiteral("no store at %1").arg(path));
    if (!file.open(QIODevice::ReadOnly))
        return fail(domain, OpenError, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    const QByteArray head = file.read(16);
    file.close();
    if (head != QByteArray("SQLite format 3\0", 16))
        return fail(domain, NotAStoreError, QStringLiteral("%1 is not an SQLite store").arg(path));
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
        if (meta->modelHash != model->versionHash())
            return fail(domain, IncompatibleError,
                        QStringLiteral("%1 was written by model \"%2\", which is not \"%3\"")
                            .arg(path, meta->modelVersion, model->versionName()));
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
    store->exec("PRAGMA cache_size=-16384");
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
    if (meta->modelHash != model->versionHash())
        return fail(domain, IncompatibleError,
                    QStringLiteral("%1 was written by model \"%2\", which is not \"%3\"")
                        .arg(path, meta->modelVersion, model->versionName()));
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
                cols << quoted(t.columns[i]) + QLatin1Char(' ') + t.columnTypes[i];
            if (auto ok = execText(QStringLiteral("CREATE TABLE %1 (%2)").arg(quoted(t.name), cols.join(QLatin1Char(',')))); !ok)
                return ok;
            for (const EntityDescription* e : t.root->hierarchy()) {
                const auto& attrCols = t.attrColumn.value(e);
                for (const AttributeDescription& a : e->attributes()) {
                    if (!a.indexed)
                        continue;
                    const QString col = t.columns[attrCols[size_t(a.slot)]];
                    if (auto ok = execText(QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (%3)")
                                               .arg(quoted(t.name + QStringLiteral("_") + col), quoted(t.name), quoted(col)));
                        !ok)
                        return ok;
                }
            }
        }
        for (const Schema::Join& j : m_schema->joins) {
            if (auto ok = execText(QStringLiteral("CREATE TABLE %1 (src INTEGER NOT NULL, dst INTEGER NOT NULL, PRIMARY KEY (src, dst)) WITHOUT ROWID")
                                       .arg(quoted(j.name)));
                !ok)
                return ok;
            if (auto ok = execText(QStringLiteral("CREATE INDEX %1 ON %2 (dst)").arg(quoted(j.name + QStringLiteral("_dst")), quoted(j.name))); !ok)
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

bool SqliteStore::readTable(sqlite3* db, const Schema& schema, size_t table, KeyRange range,
                            std::vector<RowPtr>& rows, QString* error)
{
    const Schema::Table& t = schema.tables[table];
    QStringList cols{QStringLiteral("pk"), QStringLiteral("ent")};
    for (const QString& c : t.columns)
        cols << quoted(c);
    Statement q;
    const QByteArray sql = QStringLiteral("SELECT %1 FROM %2 WHERE pk BETWEEN ?1 AND ?2 ORDER BY pk")
                               .arg(cols.join(QLatin1Char(',')), quoted(t.name))
                               .toUtf8();
    sqlite3_busy_timeout(db, busyTimeoutMs);
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &q.st, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    sqlite3_bind_int64(q.st, 1, range.first);
    sqlite3_bind_int64(q.st, 2, range.last);
    const auto& hierarchy = t.root->hierarchy();
    std::vector<const std::vector<int>*> attrColumns, oneColumns;
    for (const EntityDescription* e : hierarchy) {
        attrColumns.push_back(&*t.attrColumn.constFind(e));
        oneColumns.push_back(&*t.toOneColumn.constFind(e));
    }
    std::vector<sqlite3_value*> values(EntityDescription::maxAttributes);
    int rc;
    while ((rc = sqlite3_step(q.st)) == SQLITE_ROW) {
        const qint64 pk = sqlite3_column_int64(q.st, 0);
        const int ent = sqlite3_column_int(q.st, 1);
        if (pk <= 0 || size_t(pk) >= rows.size() || ent < 0 || size_t(ent) >= hierarchy.size())
            continue; // not ours to interpret; leave it alone in the file
        const EntityDescription* e = hierarchy[size_t(ent)];
        auto row = Row::makeEmpty(e, pk);
        const auto& attrCols = *attrColumns[size_t(ent)];
        // Column values straight from the statement's row: cheaper than the column calls, and
        // fine because this connection belongs to this thread alone.
        qsizetype text = 0;
        for (const AttributeDescription& a : e->attributes()) {
            sqlite3_value* v = sqlite3_column_value(q.st, 2 + attrCols[size_t(a.slot)]);
            values[size_t(a.slot)] = v;
            if (a.type == AttributeType::String && sqlite3_value_type(v) != SQLITE_NULL) {
                sqlite3_value_text(v); // turns other kinds into text before their size is taken
                text += sqlite3_value_bytes(v);
            }
        }
        row->reserveText(text);
        for (const AttributeDescription& a : e->attributes()) {
            sqlite3_value* v = values[size_t(a.slot)];
            if (sqlite3_value_type(v) == SQLITE_NULL)
                continue;
            switch (a.type) {
            case AttributeType::String:
                row->setFirstStringUtf8(a.slot, reinterpret_cast<const char*>(sqlite3_value_text(v)),
                                        sqlite3_value_bytes(v));
                break;
            case AttributeType::Binary:
            case AttributeType::Double:
                row->setValue(a.slot, columnValue(q.st, 2 + attrCols[size_t(a.slot)], a.type));
                break;
            case AttributeType::Bool:
                row->setNumberBits(a.slot, sqlite3_value_int64(v) != 0);
                break;
            default: // integers keep their bit pattern, dates their milliseconds
                row->setNumberBits(a.slot, quint64(sqlite3_value_int64(v)));
                break;
            }
        }
        const auto& oneCols = *oneColumns[size_t(ent)];
        for (int s = 0; s < e->toOneCount(); ++s)
            row->toOne[size_t(s)] = sqlite3_column_int64(q.st, 2 + oneCols[size_t(s)]);
        rows[size_t(pk)] = std::move(row);
    }
    if (rc != SQLITE_DONE) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    return true;
}

// Where the keys of one to-many slot of a table's rows come from.
struct SqliteStore::LinkSource {
    enum class Kind {
        JoinSource,      // a join table, read from its src side
        JoinDestination, // a join table, read from its dst side
        ToOneColumn,     // the to-one column of the inverse relationship, in another table or this one
    };
    Kind kind = Kind::JoinSource;
    const Schema::Join* join = nullptr;
    const EntityDescription* owner = nullptr;   // rows of this kind get the keys
    const EntityDescription* keyKind = nullptr; // the keys name records of this kind
    int slot = 0;                               // the owner's to-many slot
    // ToOneColumn: the table holding the column, the kind of record that has it, its slot.
    size_t columnTable = 0;
    const EntityDescription* columnEntity = nullptr;
    int toOneSlot = 0;
};

std::vector<SqliteStore::LinkSource> SqliteStore::linkSources(size_t table) const
{
    std::vector<LinkSource> out;
    for (const Schema::Join& j : m_schema->joins) {
        if (m_schema->tableOf(j.src) == table)
            out.push_back({LinkSource::Kind::JoinSource, &j, j.src, j.dst, j.rel->slot});
        if (j.inverse && m_schema->tableOf(j.dst) == table)
            out.push_back({LinkSource::Kind::JoinDestination, &j, j.dst, j.src, j.inverse->slot});
    }
    for (size_t u = 0; u < m_schema->tables.size(); ++u) {
        for (const EntityDescription* e : m_schema->tables[u].root->hierarchy()) {
            for (const RelationshipDescription& r : e->relationships()) {
                if (r.toMany || !r.inverse || !r.inverse->toMany || declaringEntity(e, r.name) != e
                    || m_schema->tableOf(r.destination) != table)
                    continue;
                LinkSource s{LinkSource::Kind::ToOneColumn, nullptr, r.destination, e, r.inverse->slot};
                s.columnTable = u;
                s.columnEntity = e;
                s.toOneSlot = r.slot;
                out.push_back(s);
            }
        }
    }
    return out;
}

bool SqliteStore::readLinks(sqlite3* db, const LinkSource& source, KeyRange owners,
                            std::vector<std::pair<qint64, qint64>>& pairs, QString* error) const
{
    QString sql;
    switch (source.kind) {
    case LinkSource::Kind::JoinSource:
        sql = QStringLiteral("SELECT src, dst FROM %1 WHERE src BETWEEN ?1 AND ?2 ORDER BY src, dst")
                  .arg(quoted(source.join->name));
        break;
    case LinkSource::Kind::JoinDestination:
        sql = QStringLiteral("SELECT dst, src FROM %1 WHERE dst BETWEEN ?1 AND ?2 ORDER BY dst, src")
                  .arg(quoted(source.join->name));
        break;
    case LinkSource::Kind::ToOneColumn: {
        // The column has no index: one scan for every owner, whatever the range.
        const Schema::Table& t = m_schema->tables[source.columnTable];
        const QString column = quoted(t.columns[t.toOneColumn.value(source.columnEntity)[size_t(source.toOneSlot)]]);
        sql = QStringLiteral("SELECT %1, pk, ent FROM %2 WHERE %1 IS NOT NULL").arg(column, quoted(t.name));
        break;
    }
    }
    Statement q;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &q.st, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    if (source.kind != LinkSource::Kind::ToOneColumn) {
        sqlite3_bind_int64(q.st, 1, owners.first);
        sqlite3_bind_int64(q.st, 2, owners.last);
    }
    const auto& hierarchy = m_schema->tables[source.columnTable].root->hierarchy();
    int rc;
    while ((rc = sqlite3_step(q.st)) == SQLITE_ROW) {
        if (source.kind == LinkSource::Kind::ToOneColumn) {
            const int ent = sqlite3_column_int(q.st, 2);
            if (ent < 0 || size_t(ent) >= hierarchy.size() || !hierarchy[size_t(ent)]->isKindOf(source.columnEntity))
                continue;
        }
        pairs.emplace_back(sqlite3_column_int64(q.st, 0), sqlite3_column_int64(q.st, 1));
    }
    if (rc != SQLITE_DONE) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    // Column pairs come in record order; keys of one owner must end up sorted.
    if (!std::is_sorted(pairs.begin(), pairs.end()))
        std::sort(pairs.begin(), pairs.end());
    return true;
}

Result<std::vector<RowPtr>> SqliteStore::loadTable(size_t table, const LoadedRows& loaded) const
{
    const std::vector<LinkSource> sources = linkSources(table);
    auto failure = [&](const QString& why) {
        return fail(domain, NotAStoreError,
                    QStringLiteral("cannot read table %1 of %2: %3").arg(m_schema->tables[table].name, m_path, why));
    };
    auto connect = [&](sqlite3** db) {
        const int rc = sqlite3_open_v2(QFile::encodeName(m_path).constData(), db,
                                       SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc == SQLITE_OK)
            sqlite3_busy_timeout(*db, busyTimeoutMs);
        return rc;
    };
    sqlite3* own = nullptr;
    const int ownRc = connect(&own);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> ownGuard(own, sqlite3_close_v2);
    if (ownRc != SQLITE_OK)
        return failure(QString::fromUtf8(sqlite3_errstr(ownRc)));
    KeyRange whole{1, 0};
    {
        Statement q;
        const QByteArray sql = QStringLiteral("SELECT max(pk) FROM %1").arg(quoted(m_schema->tables[table].name)).toUtf8();
        if (sqlite3_prepare_v2(own, sql.constData(), -1, &q.st, nullptr) != SQLITE_OK || sqlite3_step(q.st) != SQLITE_ROW)
            return failure(QString::fromUtf8(sqlite3_errmsg(own)));
        whole.last = sqlite3_column_int64(q.st, 0);
    }
    // Rows are kept in a vector indexed by key; a key far beyond any real library is damage.
    if (whole.last >= maxRecordKey)
        return failure(QStringLiteral("a record has the key %1").arg(whole.last));
    std::vector<RowPtr> rows(size_t(std::max<qint64>(whole.last, 0)) + 1);

    // The work, in jobs of about equal size: the rows of each key range, then the links of the
    // same ranges from every join table, then each to-one column that is not in memory
    // already (one scan each). Twice as many ranges as threads, so that a thread the system
    // keeps waiting holds up little.
    std::vector<KeyRange> ranges;
    const qint64 span = std::max<qint64>(rowsPerRange, whole.last / (2 * loaderThreads) + 1);
    for (qint64 first = 1; first <= whole.last; first += span)
        ranges.push_back({first, std::min(whole.last, first + span - 1)});
    struct Job {
        size_t source = SIZE_MAX; // SIZE_MAX: rows
        KeyRange range;
        std::vector<std::pair<qint64, qint64>> pairs; // (owner, key), sorted
        QString error;
    };
    std::vector<Job> jobs;
    for (const KeyRange& r : ranges)
        jobs.push_back({SIZE_MAX, r, {}, {}});
    for (size_t i = 0; i < sources.size(); ++i) {
        if (sources[i].kind != LinkSource::Kind::ToOneColumn) {
            for (const KeyRange& r : ranges)
                jobs.push_back({i, r, {}, {}});
        } else if (sources[i].columnTable != table && !loaded(sources[i].columnTable)) {
            jobs.push_back({i, whole, {}, {}});
        }
    }
    // Every thread reads over a read-only connection of its own; the calling thread takes the
    // first job. Few threads, because each one's allocator arena keeps some memory of its own.
    std::atomic<size_t> next{1};
    auto work = [&](sqlite3* db, int rc, bool first) {
        auto run = [&](Job& job) {
            if (rc != SQLITE_OK)
                job.error = QString::fromUtf8(sqlite3_errstr(rc));
            else if (job.source == SIZE_MAX)
                readTable(db, *m_schema, table, job.range, rows, &job.error);
            else
                readLinks(db, sources[job.source], job.range, job.pairs, &job.error);
        };
        if (first && !jobs.empty())
            run(jobs[0]);
        for (size_t j; (j = next++) < jobs.size();)
            run(jobs[j]);
    };
    {
        std::vector<std::thread> helpers;
        for (size_t h = 1; h < std::min<size_t>(jobs.size(), loaderThreads); ++h) {
            helpers.emplace_back([&] {
                sqlite3* db = nullptr;
                const int rc = connect(&db);
                work(db, rc, false);
                sqlite3_close_v2(db);
            });
        }
        work(own, SQLITE_OK, true);
        for (std::thread& t : helpers)
            t.join();
    }
    for (const Job& job : jobs) {
        if (!job.error.isEmpty())
            return failure(job.error);
    }

    // Keys are checked against the records of every table at hand; the others are taken as they
    // are and read as nil should their record be missing.
    std::vector<const std::vector<RowPtr>*> known(m_schema->tables.size());
    for (size_t t = 0; t < known.size(); ++t)
        known[t] = t == table ? &rows : loaded(t);
    auto exists = [&](const EntityDescription* kind, qint64 pk) {
        const std::vector<RowPtr>* in = known[m_schema->tableOf(kind)];
        if (!in)
            return true;
        return pk > 0 && size_t(pk) < in->size() && (*in)[size_t(pk)] && (*in)[size_t(pk)]->entity->isKindOf(kind);
    };
    for (const RowPtr& published : rows) {
        if (!published)
            continue;
        Row& row = const_cast<Row&>(*published); // ours until returned
        for (const RelationshipDescription& r : row.entity->relationships()) {
            if (r.toMany)
                continue;
            qint64& fk = row.toOne[size_t(r.slot)];
            if (fk && !exists(r.destination, fk))
                fk = 0; // a dangling key reads as nil
        }
    }
    // To-one columns of tables in memory (this one included) need no reading.
    for (size_t i = 0; i < sources.size(); ++i) {
        const LinkSource& s = sources[i];
        if (s.kind != LinkSource::Kind::ToOneColumn || !known[s.columnTable])
            continue;
        Job job{i, whole, {}, {}};
        for (const RowPtr& r : *known[s.columnTable]) {
            if (r && r->entity->isKindOf(s.columnEntity) && r->toOne[size_t(s.toOneSlot)])
                job.pairs.emplace_back(r->toOne[size_t(s.toOneSlot)], r->pk);
        }
        std::sort(job.pairs.begin(), job.pairs.end());
        jobs.push_back(std::move(job));
    }
    std::vector<qint64> keys;
    for (const Job& job : jobs) {
        if (job.source == SIZE_MAX)
            continue;
        const LinkSource& s = sources[job.source];
        const auto& p = job.pairs;
        for (size_t a = 0, b = 0; a < p.size(); a = b) {
            const qint64 owner = p[a].first;
            for (b = a; b < p.size() && p[b].first == owner;)
                ++b;
            if (owner <= 0 || size_t(owner) >= rows.size() || !rows[size_t(owner)]
                || !rows[size_t(owner)]->entity->isKindOf(s.owner))
                continue;
            keys.clear();
            for (size_t k = a; k < b; ++k) {
                if (exists(s.keyKind, p[k].second))
                    keys.push_back(p[k].second);
            }
            auto& slot = const_cast<Row&>(*rows[size_t(owner)]).toMany[size_t(s.slot)];
            if (slot.empty()) {
                slot.assign(keys.begin(), keys.end()); // exactly as long as needed
            } else {
                keySetUnion(slot, keys);
                slot.shrink_to_fit();
            }
        }
    }
    rows.shrink_to_fit();
    return rows;
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
            cols << quoted(c);
        // Naming every column makes a table that lacks one fail here, at open, not on first use.
        Statement q;
        const QByteArray sql = QStringLiteral("SELECT %1 FROM %2").arg(cols.join(QLatin1Char(',')), quoted(t.name)).toUtf8();
        if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &q.st, nullptr) != SQLITE_OK || sqlite3_step(q.st) != SQLITE_ROW)
            return failure(QStringLiteral("cannot read table %1").arg(t.name));
        out.push_back(std::max(stored.value(t.root->name()), sqlite3_column_int64(q.st, 0)));
    }
    for (const Schema::Join& j : m_schema->joins) {
        Statement q;
        const QByteArray sql = QStringLiteral("SELECT src, dst FROM %1 LIMIT 1").arg(quoted(j.name)).toUtf8();
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
