#include "Platform/ObjectStore/SqliteStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUuid>
#include <algorithm>
#include <sqlite3.h>
#include <atomic>
#include <thread>

namespace platform {

namespace {

const QString domain = QStringLiteral("ObjectStore");

// How long a write waits for another connection (another process on the same file) to let go
// before it fails as "database is locked".
constexpr int busyTimeoutMs = 5000;

// Threads that read a store's tables at open.
constexpr int loaderThreads = 3;

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
    };
    struct Join {
        QString name;
        const EntityDescription* src = nullptr;
        const RelationshipDescription* rel = nullptr;
        const EntityDescription* dst = nullptr;
        const RelationshipDescription* inverse = nullptr;
    };
    std::vector<Table> tables;
    QHash<const EntityDescription*, size_t> tableOfRoot;
    std::vector<Join> joins;

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
            tableOfRoot.insert(root, tables.size());
            tables.push_back(std::move(t));
        }
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

bool SqliteStore::readTable(sqlite3* db, const Schema& schema, size_t table, std::vector<RowPtr>& rows,
                            QString* error)
{
    const Schema::Table& t = schema.tables[table];
    QStringList cols{QStringLiteral("pk"), QStringLiteral("ent")};
    for (const QString& c : t.columns)
        cols << quoted(c);
    Statement q;
    const QByteArray sql = QStringLiteral("SELECT %1 FROM %2 ORDER BY pk").arg(cols.join(QLatin1Char(',')), quoted(t.name)).toUtf8();
    sqlite3_busy_timeout(db, busyTimeoutMs);
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &q.st, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(q.st)) == SQLITE_ROW) {
        const qint64 pk = sqlite3_column_int64(q.st, 0);
        const int ent = sqlite3_column_int(q.st, 1);
        if (pk <= 0 || ent < 0 || size_t(ent) >= t.root->hierarchy().size())
            continue; // not ours to interpret; leave it alone in the file
        const EntityDescription* e = t.root->hierarchy()[size_t(ent)];
        auto row = Row::makeEmpty(e, pk);
        const auto& attrCols = *t.attrColumn.constFind(e);
        qsizetype text = 0;
        for (const AttributeDescription& a : e->attributes()) {
            if (a.type == AttributeType::String)
                text += sqlite3_column_bytes(q.st, 2 + attrCols[size_t(a.slot)]);
        }
        row->reserveText(text);
        for (const AttributeDescription& a : e->attributes()) {
            const int col = 2 + attrCols[size_t(a.slot)];
            if (sqlite3_column_type(q.st, col) == SQLITE_NULL)
                continue;
            switch (a.type) {
            case AttributeType::String:
                row->setStringUtf8(a.slot, reinterpret_cast<const char*>(sqlite3_column_text(q.st, col)),
                                   sqlite3_column_bytes(q.st, col));
                break;
            case AttributeType::Binary:
            case AttributeType::Double:
                row->setValue(a.slot, columnValue(q.st, col, a.type));
                break;
            case AttributeType::Bool:
                row->setNumberBits(a.slot, sqlite3_column_int64(q.st, col) != 0);
                break;
            default: // integers keep their bit pattern, dates their milliseconds
                row->setNumberBits(a.slot, quint64(sqlite3_column_int64(q.st, col)));
                break;
            }
        }
        const auto& oneCols = *t.toOneColumn.constFind(e);
        for (int s = 0; s < e->toOneCount(); ++s)
            row->toOne[size_t(s)] = sqlite3_column_int64(q.st, 2 + oneCols[size_t(s)]);
        if (rows.size() <= size_t(pk))
            rows.resize(size_t(pk) + 1);
        rows[size_t(pk)] = std::move(row);
    }
    if (rc != SQLITE_DONE) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    return true;
}

Result<std::vector<TableRows>> SqliteStore::loadAll()
{
    std::vector<TableRows> out(m_schema->tables.size());
    // Rows are published const but still ours to finish (inverse sides) until this returns.
    std::vector<std::vector<RowPtr>> mutableRows(m_schema->tables.size());
    auto readFailure = [&](const QString& what) {
        Error e = sqlError(sqlite3_errcode(m_db), what);
        e.code = NotAStoreError;
        return std::unexpected(e);
    };
    // Tables are read in parallel over read-only connections of their own: a library of
    // 100,000 documents opens in about 60 % of the time. Few threads, because each one's
    // allocator arena keeps some memory of its own.
    std::vector<QString> errors(m_schema->tables.size());
    for (size_t ti = 0; ti < m_schema->tables.size(); ++ti)
        out[ti].root = m_schema->tables[ti].root;
    {
        std::atomic<size_t> next{0};
        std::vector<std::thread> readers;
        for (int r = 0; r < loaderThreads; ++r) {
            readers.emplace_back([&] {
                sqlite3* db = nullptr;
                const int rc = sqlite3_open_v2(QFile::encodeName(m_path).constData(), &db,
                                               SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
                for (size_t ti; (ti = next++) < m_schema->tables.size();) {
                    if (rc != SQLITE_OK)
                        errors[ti] = QString::fromUtf8(sqlite3_errstr(rc));
                    else
                        readTable(db, *m_schema, ti, mutableRows[ti], &errors[ti]);
                }
                sqlite3_close_v2(db);
            });
        }
        for (std::thread& t : readers)
            t.join();
    }
    for (size_t ti = 0; ti < errors.size(); ++ti) {
        if (!errors[ti].isEmpty())
            return fail(domain, NotAStoreError, QStringLiteral("cannot read table %1 of %2: %3")
                                                    .arg(m_schema->tables[ti].name, m_path, errors[ti]));
    }
    std::vector<size_t> tableOfEntity(m_model->entities().size());
    for (const auto& e : m_model->entities())
        tableOfEntity[size_t(e->index())] = m_schema->tableOfRoot.value(e->rootEntity());
    auto lookup = [&](const EntityDescription* entity, qint64 pk) -> Row* {
        const size_t ti = tableOfEntity[size_t(entity->index())];
        auto& rows = mutableRows[ti];
        if (pk <= 0 || size_t(pk) >= rows.size() || !rows[size_t(pk)])
            return nullptr;
        auto* r = const_cast<Row*>(rows[size_t(pk)].get());
        return r->entity->isKindOf(entity) ? r : nullptr;
    };
    // To-many sides of one-to-many relationships come from the to-one column of the other side.
    for (auto& rows : mutableRows) {
        for (const RowPtr& published : rows) {
            if (!published)
                continue;
            Row* row = const_cast<Row*>(published.get());
            for (const RelationshipDescription& r : row->entity->relationships()) {
                if (r.toMany)
                    continue;
                qint64& fk = row->toOne[size_t(r.slot)];
                if (fk == 0)
                    continue;
                Row* target = lookup(r.destination, fk);
                if (!target) {
                    fk = 0; // a dangling key reads as nil
                    continue;
                }
                if (r.inverse && r.inverse->toMany)
                    target->toMany[size_t(r.inverse->slot)].push_back(row->pk);
            }
        }
    }
    for (const Schema::Join& j : m_schema->joins) {
        Statement q;
        const QByteArray sql = QStringLiteral("SELECT src, dst FROM %1 ORDER BY src, dst").arg(quoted(j.name)).toUtf8();
        if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &q.st, nullptr) != SQLITE_OK)
            return readFailure(QStringLiteral("cannot read table %1").arg(j.name));
        int rc;
        while ((rc = sqlite3_step(q.st)) == SQLITE_ROW) {
            Row* src = lookup(j.src, sqlite3_column_int64(q.st, 0));
            Row* dst = lookup(j.dst, sqlite3_column_int64(q.st, 1));
            if (!src || !dst)
                continue;
            src->toMany[size_t(j.rel->slot)].push_back(dst->pk);
            if (j.inverse)
                dst->toMany[size_t(j.inverse->slot)].push_back(src->pk);
        }
        if (rc != SQLITE_DONE)
            return readFailure(QStringLiteral("cannot read table %1").arg(j.name));
    }
    Statement seq;
    sqlite3_prepare_v2(m_db, "SELECT key, value FROM meta WHERE key LIKE 'seq.%'", -1, &seq.st, nullptr);
    QHash<QString, qint64> sequences;
    while (seq.st && sqlite3_step(seq.st) == SQLITE_ROW)
        sequences.insert(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(seq.st, 0))).mid(4),
                         sqlite3_column_int64(seq.st, 1));
    for (size_t ti = 0; ti < mutableRows.size(); ++ti) {
        auto& rows = mutableRows[ti];
        for (const RowPtr& row : rows) {
            if (!row)
                continue;
            for (auto& v : const_cast<Row&>(*row).toMany) {
                std::sort(v.begin(), v.end());
                v.erase(std::unique(v.begin(), v.end()), v.end());
                v.shrink_to_fit();
            }
        }
        out[ti].sequence = std::max<qint64>(sequences.value(out[ti].root->name()), qint64(rows.size()) - 1);
        rows.shrink_to_fit();
        out[ti].rows = std::move(rows);
    }
    return out;
}

Result<void> SqliteStore::writeRow(const Row& row)
{
    const Schema::Table& t = m_schema->tables[m_schema->tableOfRoot.value(row.entity->rootEntity())];
    sqlite3_stmt* st = statement(t.upsertSql);
    if (!st)
        return std::unexpected(sqlError(SQLITE_ERROR, QStringLiteral("cannot prepare a write")));
    sqlite3_bind_int64(st, 1, row.pk);
    sqlite3_bind_int(st, 2, row.entity->tableCode());
    const auto& attrCols = *t.attrColumn.constFind(row.entity);
    for (const AttributeDescription& a : row.entity->attributes())
        bindValue(st, 3 + attrCols[size_t(a.slot)], a.type, row.value(a.slot));
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
            const QString insertSql = side == 0
                ? QStringLiteral("INSERT OR IGNORE INTO %1 (src, dst) VALUES (?, ?)").arg(quoted(j.name))
                : QStringLiteral("INSERT OR IGNORE INTO %1 (dst, src) VALUES (?, ?)").arg(quoted(j.name));
            const QString deleteSql = side == 0
                ? QStringLiteral("DELETE FROM %1 WHERE src = ? AND dst = ?").arg(quoted(j.name))
                : QStringLiteral("DELETE FROM %1 WHERE dst = ? AND src = ?").arg(quoted(j.name));
            for (int pass = 0; pass < 2; ++pass) {
                const auto keys = pass == 0 ? keySetDifference(now, before) : keySetDifference(before, now);
                for (qint64 key : keys) {
                    // A link seen from both ends is written once, from its source row.
                    if (side == 1 && inBatch(j.src, key))
                        continue;
                    sqlite3_stmt* st = statement(pass == 0 ? insertSql : deleteSql);
                    if (!st)
                        return std::unexpected(sqlError(SQLITE_ERROR, QStringLiteral("cannot prepare a write")));
                    sqlite3_bind_int64(st, 1, row.pk);
                    sqlite3_bind_int64(st, 2, key);
                    if (const int rc = sqlite3_step(st); rc != SQLITE_DONE)
                        return std::unexpected(sqlError(rc, QStringLiteral("cannot write the %1 relationship").arg(rel->name)));
                }
            }
        }
    }
    return {};
}

Result<void> SqliteStore::deleteRow(const Row& row)
{
    const Schema::Table& t = m_schema->tables[m_schema->tableOfRoot.value(row.entity->rootEntity())];
    QStringList sqls{QStringLiteral("DELETE FROM %1 WHERE pk = ?").arg(quoted(t.name))};
    for (const Schema::Join& j : m_schema->joins) {
        if (row.entity->isKindOf(j.src))
            sqls << QStringLiteral("DELETE FROM %1 WHERE src = ?").arg(quoted(j.name));
        if (j.inverse && row.entity->isKindOf(j.dst))
            sqls << QStringLiteral("DELETE FROM %1 WHERE dst = ?").arg(quoted(j.name));
    }
    for (const QString& sql : sqls) {
        sqlite3_stmt* st = statement(sql);
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
            if (auto ok = writeRow(*batch.upserts[i]); !ok)
                return ok;
            if (auto ok = writeJoins(*batch.upserts[i], batch.previous[i].get(), inBatch); !ok)
                return ok;
        }
        for (const auto& [root, seq] : batch.sequences) {
            if (auto ok = writeSequence(root, seq); !ok)
                return ok;
        }
        return exec("COMMIT");
    };
    auto ok = body();
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
