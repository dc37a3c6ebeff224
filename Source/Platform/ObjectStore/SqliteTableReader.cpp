#include "Platform/ObjectStore/SqliteTableReader.h"

#include "Platform/ObjectStore/SqliteStore.h"

#include <QDateTime>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <sqlite3.h>
#include <system_error>
#include <thread>

namespace platform {

namespace {

const QString domain = QStringLiteral("ObjectStore");

// How long a read waits for a writer of another process to let go.
constexpr int busyTimeoutMs = 5000;

// Threads that read a table; rows are read in key ranges of at least this many keys each.
constexpr int loaderThreads = 4;
constexpr qint64 rowsPerRange = 8192;
// The page cache of each loader connection, in KiB (SQLite's default is 2 MiB).
constexpr int loaderCacheKiB = 128;
// Rows are cached in vectors indexed by key: a key this large is damage, not a library.
constexpr qint64 maxRecordKey = qint64(1) << 28;

// A link (owner, key) in one word, owner first, so that sorted words are sorted pairs: a
// library's links are read all at once, and pairs of two 64-bit keys would take twice the
// memory. Keys outside the range a record can have name no record and are dropped.
bool packLink(qint64 owner, qint64 key, quint64* packed)
{
    if (owner <= 0 || owner >= maxRecordKey || key <= 0 || key >= maxRecordKey)
        return false;
    *packed = quint64(owner) << 32 | quint64(key);
    return true;
}
qint64 linkOwner(quint64 packed)
{
    return qint64(packed >> 32);
}
qint64 linkKey(quint64 packed)
{
    return qint64(packed & 0xffffffffu);
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

// A helper thread, when the system grants one; without it the calling thread does its share.
template <class F>
bool startThread(std::vector<std::thread>& threads, F&& f)
{
    try {
        threads.emplace_back(std::forward<F>(f));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

} // namespace

SqliteTableReader::SqliteTableReader(QString path, const SqliteSchema& schema)
    : m_path(std::move(path)), m_schema(schema)
{
}

bool SqliteTableReader::readTable(sqlite3* db, size_t table, KeyRange range, std::vector<RowPtr>& rows,
                                  QString* error) const
{
    const SqliteSchema::Table& t = m_schema.tables[table];
    QStringList cols{QStringLiteral("pk"), QStringLiteral("ent")};
    for (const QString& c : t.columns)
        cols << SqliteSchema::quoted(c);
    Statement q;
    const QByteArray sql = QStringLiteral("SELECT %1 FROM %2 WHERE pk BETWEEN ?1 AND ?2 ORDER BY pk")
                               .arg(cols.join(QLatin1Char(',')), SqliteSchema::quoted(t.name))
                               .toUtf8();
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
        auto row = Row::makeSized(e, pk, text);
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
struct SqliteTableReader::LinkSource {
    enum class Kind {
        JoinSource,      // a join table, read from its src side
        JoinDestination, // a join table, read from its dst side
        ToOneColumn,     // the to-one column of the inverse relationship, in another table or this one
    };
    Kind kind = Kind::JoinSource;
    const SqliteSchema::Join* join = nullptr;
    const EntityDescription* owner = nullptr;   // rows of this kind get the keys
    const EntityDescription* keyKind = nullptr; // the keys name records of this kind
    int slot = 0;                               // the owner's to-many slot
    // ToOneColumn: the table holding the column, the kind of record that has it, its slot.
    size_t columnTable = 0;
    const EntityDescription* columnEntity = nullptr;
    int toOneSlot = 0;
};

std::vector<SqliteTableReader::LinkSource> SqliteTableReader::linkSources(size_t table) const
{
    std::vector<LinkSource> out;
    for (const SqliteSchema::Join& j : m_schema.joins) {
        if (m_schema.tableOf(j.src) == table)
            out.push_back({LinkSource::Kind::JoinSource, &j, j.src, j.dst, j.rel->slot});
        if (j.inverse && m_schema.tableOf(j.dst) == table)
            out.push_back({LinkSource::Kind::JoinDestination, &j, j.dst, j.src, j.inverse->slot});
    }
    for (size_t u = 0; u < m_schema.tables.size(); ++u) {
        for (const EntityDescription* e : m_schema.tables[u].root->hierarchy()) {
            for (const RelationshipDescription& r : e->relationships()) {
                if (r.toMany || !r.inverse || !r.inverse->toMany || SqliteSchema::declaringEntity(e, r.name) != e
                    || m_schema.tableOf(r.destination) != table)
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

bool SqliteTableReader::readLinks(sqlite3* db, const LinkSource& source, KeyRange owners,
                                  std::vector<quint64>& pairs, QString* error) const
{
    QString sql;
    switch (source.kind) {
    case LinkSource::Kind::JoinSource:
        sql = QStringLiteral("SELECT src, dst FROM %1 WHERE src BETWEEN ?1 AND ?2 ORDER BY src, dst")
                  .arg(SqliteSchema::quoted(source.join->name));
        break;
    case LinkSource::Kind::JoinDestination:
        sql = QStringLiteral("SELECT dst, src FROM %1 WHERE dst BETWEEN ?1 AND ?2 ORDER BY dst, src")
                  .arg(SqliteSchema::quoted(source.join->name));
        break;
    case LinkSource::Kind::ToOneColumn: {
        // The column has no index: one scan for every owner, whatever the range.
        const SqliteSchema::Table& t = m_schema.tables[source.columnTable];
        const QString column = SqliteSchema::quoted(t.columns[t.toOneColumn.value(source.columnEntity)[size_t(source.toOneSlot)]]);
        sql = QStringLiteral("SELECT %1, pk, ent FROM %2 WHERE %1 IS NOT NULL").arg(column, SqliteSchema::quoted(t.name));
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
    const auto& hierarchy = m_schema.tables[source.columnTable].root->hierarchy();
    int rc;
    while ((rc = sqlite3_step(q.st)) == SQLITE_ROW) {
        if (source.kind == LinkSource::Kind::ToOneColumn) {
            const int ent = sqlite3_column_int(q.st, 2);
            if (ent < 0 || size_t(ent) >= hierarchy.size() || !hierarchy[size_t(ent)]->isKindOf(source.columnEntity))
                continue;
        }
        quint64 packed;
        if (packLink(sqlite3_column_int64(q.st, 0), sqlite3_column_int64(q.st, 1), &packed))
            pairs.push_back(packed);
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

namespace {

// The cell a row read from this column would hold, as SQL: the loader takes the column's
// integer value (booleans as whether it is non-zero), whatever kind the file stored.
QString cellSql(const QString& column, AttributeType type)
{
    const QString value = QStringLiteral("CAST(%1 AS INTEGER)").arg(SqliteSchema::quoted(column));
    return type == AttributeType::Bool ? QStringLiteral("(%1 != 0)").arg(value) : value;
}

// One test as SQL over its column, with the evaluator's rule for nil; the constant is bound.
QString testSql(const CellTest& test, const QString& column, AttributeType type)
{
    const QString quoted = SqliteSchema::quoted(column);
    if (test.nil) {
        switch (test.op) {
        case PredicateOperator::Equal: return QStringLiteral("%1 IS NULL").arg(quoted);
        case PredicateOperator::NotEqual: return QStringLiteral("%1 IS NOT NULL").arg(quoted);
        default: return QStringLiteral("0");
        }
    }
    const QString cell = cellSql(column, type);
    switch (test.op) {
    case PredicateOperator::Equal: return QStringLiteral("(%1 IS NOT NULL AND %2 = ?)").arg(quoted, cell);
    case PredicateOperator::NotEqual: return QStringLiteral("(%1 IS NULL OR %2 != ?)").arg(quoted, cell);
    case PredicateOperator::Less: return QStringLiteral("(%1 IS NOT NULL AND %2 < ?)").arg(quoted, cell);
    case PredicateOperator::LessOrEqual: return QStringLiteral("(%1 IS NOT NULL AND %2 <= ?)").arg(quoted, cell);
    case PredicateOperator::Greater: return QStringLiteral("(%1 IS NOT NULL AND %2 > ?)").arg(quoted, cell);
    case PredicateOperator::GreaterOrEqual: return QStringLiteral("(%1 IS NOT NULL AND %2 >= ?)").arg(quoted, cell);
    default: return QStringLiteral("0");
    }
}

} // namespace

Result<qint64> SqliteTableReader::countRows(size_t table, const std::vector<int>& kinds,
                                            const std::vector<CellTest>& tests, const EntityDescription* entity) const
{
    const SqliteSchema::Table& t = m_schema.tables[table];
    auto failure = [&](const QString& why) {
        return fail(domain, SqliteStore::NotAStoreError,
                    QStringLiteral("cannot read table %1 of %2: %3").arg(t.name, m_path, why));
    };
    QStringList kindList;
    for (int k : kinds)
        kindList << QString::number(k);
    QStringList where{QStringLiteral("pk > 0"), QStringLiteral("ent IN (%1)").arg(kindList.join(QLatin1Char(',')))};
    std::vector<qint64> bound;
    const std::vector<int>& columns = *t.attrColumn.constFind(entity);
    for (const CellTest& test : tests) {
        const AttributeDescription& a = entity->attributes()[size_t(test.slot)];
        where << testSql(test, t.columns[columns[size_t(test.slot)]], a.type);
        if (!test.nil)
            bound.push_back(test.value);
    }
    const QString name = SqliteSchema::quoted(t.name);
    const QByteArray sql = QStringLiteral("SELECT (SELECT count(*) FROM %1 WHERE %2), (SELECT max(pk) FROM %1)")
                               .arg(name, where.join(QStringLiteral(" AND ")))
                               .toUtf8();
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(m_path).constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> guard(db, sqlite3_close_v2);
    if (rc != SQLITE_OK)
        return failure(QString::fromUtf8(sqlite3_errstr(rc)));
    sqlite3_busy_timeout(db, busyTimeoutMs);
    Statement q;
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &q.st, nullptr) != SQLITE_OK)
        return failure(QString::fromUtf8(sqlite3_errmsg(db)));
    for (size_t i = 0; i < bound.size(); ++i)
        sqlite3_bind_int64(q.st, int(i) + 1, bound[i]);
    if (sqlite3_step(q.st) != SQLITE_ROW)
        return failure(QString::fromUtf8(sqlite3_errmsg(db)));
    const qint64 last = sqlite3_column_int64(q.st, 1);
    if (last >= maxRecordKey)
        return failure(QStringLiteral("a record has the key %1").arg(last));
    return sqlite3_column_int64(q.st, 0);
}

Result<std::vector<RowPtr>> SqliteTableReader::loadTable(size_t table, const LoadedRows& loaded) const
{
    const std::vector<LinkSource> sources = linkSources(table);
    auto failure = [&](const QString& why) {
        return fail(domain, SqliteStore::NotAStoreError,
                    QStringLiteral("cannot read table %1 of %2: %3").arg(m_schema.tables[table].name, m_path, why));
    };
    auto connect = [&](sqlite3** db) {
        const int rc = sqlite3_open_v2(QFile::encodeName(m_path).constData(), db,
                                       SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_busy_timeout(*db, busyTimeoutMs);
            // Each page is read once, in key order: a page cache would only add to the peak.
            const QByteArray pragma = "PRAGMA cache_size = -" + QByteArray::number(loaderCacheKiB);
            sqlite3_exec(*db, pragma.constData(), nullptr, nullptr, nullptr);
        }
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
        const QByteArray sql = QStringLiteral("SELECT max(pk) FROM %1").arg(SqliteSchema::quoted(m_schema.tables[table].name)).toUtf8();
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
        std::vector<quint64> pairs; // (owner, key), packed, sorted
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
                readTable(db, table, job.range, rows, &job.error);
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
            if (!startThread(helpers, [&] {
                    sqlite3* db = nullptr;
                    const int rc = connect(&db);
                    work(db, rc, false);
                    sqlite3_close_v2(db);
                }))
                break;
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
    std::vector<const std::vector<RowPtr>*> known(m_schema.tables.size());
    for (size_t t = 0; t < known.size(); ++t)
        known[t] = t == table ? &rows : loaded(t);
    auto exists = [&](const EntityDescription* kind, qint64 pk) {
        const std::vector<RowPtr>* in = known[m_schema.tableOf(kind)];
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
            quint64 packed;
            if (r && r->entity->isKindOf(s.columnEntity) && packLink(r->toOne[size_t(s.toOneSlot)], r->pk, &packed))
                job.pairs.push_back(packed);
        }
        std::sort(job.pairs.begin(), job.pairs.end());
        jobs.push_back(std::move(job));
    }
    // Links go into their owners' rows in parallel as well: a job's owners are its range's
    // alone, and a source fills a slot of its own, except both ends of a relationship that is
    // its own inverse; such a second source is added afterwards, on this thread.
    std::vector<bool> sharesSlot(sources.size());
    for (size_t i = 0; i < sources.size(); ++i) {
        for (size_t k = 0; k < i; ++k) {
            if (sources[k].slot == sources[i].slot
                && (sources[k].owner->isKindOf(sources[i].owner) || sources[i].owner->isKindOf(sources[k].owner)))
                sharesSlot[i] = true;
        }
    }
    std::vector<const Job*> linkJobs, laterJobs;
    for (const Job& job : jobs) {
        if (job.source != SIZE_MAX && !job.pairs.empty())
            (sharesSlot[job.source] ? laterJobs : linkJobs).push_back(&job);
    }
    auto addLinks = [&](const Job& job, std::vector<qint64>& keys) {
        const LinkSource& s = sources[job.source];
        const auto& p = job.pairs;
        for (size_t a = 0, b = 0; a < p.size(); a = b) {
            const qint64 owner = linkOwner(p[a]);
            for (b = a; b < p.size() && linkOwner(p[b]) == owner;)
                ++b;
            if (owner <= 0 || size_t(owner) >= rows.size() || !rows[size_t(owner)]
                || !rows[size_t(owner)]->entity->isKindOf(s.owner))
                continue;
            keys.clear();
            for (size_t k = a; k < b; ++k) {
                if (exists(s.keyKind, linkKey(p[k])))
                    keys.push_back(linkKey(p[k]));
            }
            auto& slot = const_cast<Row&>(*rows[size_t(owner)]).toMany[size_t(s.slot)];
            if (slot.empty()) {
                slot.assign(keys.begin(), keys.end()); // exactly as long as needed
            } else {
                keySetUnion(slot, keys);
                slot.shrink_to_fit();
            }
        }
    };
    std::atomic<size_t> nextLink{0};
    auto link = [&] {
        std::vector<qint64> keys;
        for (size_t j; (j = nextLink++) < linkJobs.size();)
            addLinks(*linkJobs[j], keys);
    };
    {
        std::vector<std::thread> helpers;
        for (size_t h = 1; h < std::min<size_t>(linkJobs.size(), loaderThreads); ++h) {
            if (!startThread(helpers, link))
                break;
        }
        link();
        for (std::thread& t : helpers)
            t.join();
    }
    std::vector<qint64> keys;
    for (const Job* job : laterJobs)
        addLinks(*job, keys);
    rows.shrink_to_fit();
    return rows;
}

} // namespace platform
