#include "Platform/TextIndex/TextIndexDatabase.h"

#include <QFile>
#include <algorithm>
#include <sqlite3.h>

namespace platform {

namespace {

// Marks the file as ours ("FLTX"), so that a stranger's database is not mistaken for damage.
constexpr qint64 applicationID = 0x464C5458;
constexpr int schemaVersion = 2;

// How long a connection waits for another one to let go (WAL recovery, a checkpoint, a second
// process) before it reports the file as busy.
constexpr int busyTimeoutMs = 5000;
// Page cache of the writer, in KiB (negative: SQLite's unit for KiB). Indexing touches many
// FTS5 segment pages per document; a roomy cache keeps merges off the disk.
constexpr int writerCacheKiB = -16384;
// What the write-ahead log is cut back to after a checkpoint.
constexpr qint64 walSizeLimitBytes = 32 * 1024 * 1024;

} // namespace

void TextIndexStatementDeleter::operator()(sqlite3_stmt* st) const
{
    sqlite3_finalize(st);
}

QByteArray TextIndexDatabase::shardTable(qint64 shard)
{
    return shard == kOldShard ? QByteArray("fts") : "fts_" + QByteArray::number(shard);
}

QByteArray TextIndexDatabase::createShardSql(qint64 shard)
{
    return "CREATE VIRTUAL TABLE " + shardTable(shard) + " USING fts5(body, tokenize = 'unicode61 remove_diacritics 2')";
}

Result<std::vector<qint64>> TextIndexDatabase::shards()
{
    // A reader may still meet a version 1 file that no writer has opened since.
    auto listed = queryInt("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'shards'", 0,
                           TextIndexReadError);
    if (!listed)
        return std::unexpected(listed.error());
    if (*listed == 0)
        return std::vector<qint64>{kOldShard};
    auto st = prepare("SELECT id FROM shards ORDER BY id", TextIndexReadError);
    if (!st)
        return std::unexpected(st.error());
    std::vector<qint64> found;
    int rc;
    while ((rc = sqlite3_step(st->get())) == SQLITE_ROW)
        found.push_back(sqlite3_column_int64(st->get(), 0));
    if (rc != SQLITE_DONE)
        return std::unexpected(error(TextIndexReadError, QStringLiteral("list the shards of %1").arg(m_path)));
    return found;
}

Result<std::unique_ptr<TextIndexDatabase>> TextIndexDatabase::open(const QString& path, Access access,
                                                                   qint64 documentsPerShard)
{
    std::unique_ptr<TextIndexDatabase> db(new TextIndexDatabase);
    db->m_path = path;
    const int flags = SQLITE_OPEN_NOMUTEX
                      | (access == Access::Writer ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY);
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db->m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        Error e = db->m_db ? db->error(TextIndexOpenError, QStringLiteral("open %1").arg(path))
                           : errorFor(rc, nullptr, TextIndexOpenError, QStringLiteral("open %1").arg(path));
        if (e.code != TextIndexCorruptError)
            e.code = TextIndexOpenError;
        return std::unexpected(e);
    }
    // SQLite quietly falls back to reading when the file may not be written; the writer would
    // then fail at its first document instead of here.
    if (access == Access::Writer && sqlite3_db_readonly(db->m_db, "main") == 1)
        return fail(textIndexErrorDomain(), TextIndexOpenError, QStringLiteral("%1 cannot be written").arg(path));
    sqlite3_extended_result_codes(db->m_db, 1);
    sqlite3_busy_timeout(db->m_db, busyTimeoutMs);
    if (auto r = db->checkOrCreateSchema(access, std::max<qint64>(documentsPerShard, 1)); !r)
        return std::unexpected(r.error());
    if (auto r = db->configure(access); !r)
        return std::unexpected(r.error());
    return db;
}

TextIndexDatabase::~TextIndexDatabase()
{
    sqlite3_close_v2(m_db);
}

Result<void> TextIndexDatabase::configure(Access access)
{
    if (access == Access::Reader)
        return {};
    // WAL lets searches read while the writer's transaction is open. Where the file system
    // refuses it, SQLite stays in rollback mode: searches then wait for commits, but work.
    if (auto r = exec("PRAGMA journal_mode = WAL", TextIndexWriteError); !r)
        return r;
    // A flush is durable: callers store the IDs of a flushed batch, and an ID whose document a
    // power cut took back would be handed out again. One sync per batch costs next to nothing.
    if (auto r = exec("PRAGMA synchronous = FULL", TextIndexWriteError); !r)
        return r;
    // Removed documents leave nothing readable: freed cells and pages are zeroed. Debian builds
    // SQLite with this on by default; said here so that no other build turns it off.
    if (auto r = exec("PRAGMA secure_delete = ON", TextIndexWriteError); !r)
        return r;
    // Without a limit the log keeps the size of the largest transaction (a rebuild) for good.
    const QByteArray walLimit = "PRAGMA journal_size_limit = " + QByteArray::number(walSizeLimitBytes);
    if (auto r = exec(walLimit.constData(), TextIndexWriteError); !r)
        return r;
    const QByteArray cache = "PRAGMA cache_size = " + QByteArray::number(writerCacheKiB);
    return exec(cache.constData(), TextIndexWriteError);
}

Result<void> TextIndexDatabase::checkOrCreateSchema(Access access, qint64 documentsPerShard)
{
    // The first read of the header is where a file of garbage shows up (SQLITE_NOTADB).
    auto tables = queryInt("SELECT count(*) FROM sqlite_master", 0, TextIndexReadError);
    if (!tables) {
        Error e = tables.error();
        if (e.code != TextIndexCorruptError)
            e.code = TextIndexOpenError;
        return std::unexpected(e);
    }
    if (*tables == 0) {
        if (access == Access::Reader)
            return fail(textIndexErrorDomain(), TextIndexOpenError, QStringLiteral("%1 holds no index yet").arg(m_path));
        if (auto r = createSchema(documentsPerShard); !r)
            return r;
    }
    auto app = queryInt("PRAGMA application_id", 0, TextIndexReadError);
    if (!app)
        return std::unexpected(app.error());
    if (*app != applicationID)
        return fail(textIndexErrorDomain(), TextIndexNotAnIndexError, QStringLiteral("%1 is not a text index").arg(m_path));
    auto version = queryInt("SELECT value FROM meta WHERE key = 'schemaVersion'", 0, TextIndexReadError);
    if (!version)
        return std::unexpected(version.error());
    if (*version > schemaVersion)
        return fail(textIndexErrorDomain(), TextIndexIncompatibleError,
                    QStringLiteral("%1 was written by a newer version (%2)").arg(m_path).arg(*version));
    if (*version < 1)
        return fail(textIndexErrorDomain(), TextIndexCorruptError, QStringLiteral("%1 has no schema version").arg(m_path));
    if (*version == 1) {
        if (access == Access::Reader)
            return {};
        if (auto r = upgradeFromVersion1(); !r)
            return r;
    }
    auto perShard = queryInt("SELECT value FROM meta WHERE key = 'documentsPerShard'", 0, TextIndexReadError);
    if (!perShard)
        return std::unexpected(perShard.error());
    if (*perShard < 1)
        return fail(textIndexErrorDomain(), TextIndexCorruptError, QStringLiteral("%1 has no shard size").arg(m_path));
    m_documentsPerShard = *perShard;
    return {};
}

Result<void> TextIndexDatabase::createSchema(qint64 documentsPerShard)
{
    // Incremental vacuum lets a rebuild hand the emptied pages back to the file system.
    if (auto r = exec("PRAGMA auto_vacuum = INCREMENTAL", TextIndexWriteError); !r)
        return r;
    const QByteArray version = QByteArray::number(schemaVersion);
    return runInTransaction({
        "CREATE TABLE meta (key TEXT PRIMARY KEY, value)",
        "INSERT INTO meta (key, value) VALUES ('schemaVersion', " + version + ")",
        "INSERT INTO meta (key, value) VALUES ('documentsPerShard', " + QByteArray::number(documentsPerShard) + ")",
        "CREATE TABLE docs (id INTEGER PRIMARY KEY AUTOINCREMENT, url TEXT UNIQUE NOT NULL, uri TEXT NOT NULL)",
        "CREATE TABLE shards (id INTEGER PRIMARY KEY)",
        "PRAGMA application_id = " + QByteArray::number(applicationID),
    });
}

Result<void> TextIndexDatabase::upgradeFromVersion1()
{
    // Costs nothing at opening: the old table's text moves into shards later, in steps.
    return runInTransaction({
        "CREATE TABLE shards (id INTEGER PRIMARY KEY)",
        "INSERT INTO shards (id) VALUES (" + QByteArray::number(kOldShard) + ")",
        "INSERT INTO meta (key, value) VALUES ('documentsPerShard', " + QByteArray::number(kDocumentsPerShard) + ")",
        "UPDATE meta SET value = " + QByteArray::number(schemaVersion) + " WHERE key = 'schemaVersion'",
    });
}

Result<void> TextIndexDatabase::runInTransaction(const std::vector<QByteArray>& statements)
{
    if (auto r = exec("BEGIN IMMEDIATE", TextIndexWriteError); !r)
        return r;
    for (const QByteArray& sql : statements) {
        if (auto r = exec(sql.constData(), TextIndexWriteError); !r) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            return r;
        }
    }
    return exec("COMMIT", TextIndexWriteError);
}

Result<TextIndexStatement> TextIndexDatabase::prepare(const char* sql, int failCode)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK)
        return std::unexpected(error(failCode, QString::fromUtf8(sql)));
    return TextIndexStatement(st);
}

Result<void> TextIndexDatabase::exec(const char* sql, int failCode)
{
    char* message = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
    if (rc == SQLITE_OK)
        return {};
    Error e = errorFor(rc, message, failCode, QString::fromUtf8(sql));
    sqlite3_free(message);
    return std::unexpected(e);
}

Result<qint64> TextIndexDatabase::queryInt(const char* sql, qint64 fallback, int failCode)
{
    auto st = prepare(sql, failCode);
    if (!st)
        return std::unexpected(st.error());
    const int rc = sqlite3_step(st->get());
    if (rc == SQLITE_ROW)
        return sqlite3_column_int64(st->get(), 0);
    if (rc == SQLITE_DONE)
        return fallback;
    return std::unexpected(error(failCode, QString::fromUtf8(sql)));
}

Error TextIndexDatabase::error(int failCode, const QString& what) const
{
    return errorFor(sqlite3_extended_errcode(m_db), sqlite3_errmsg(m_db), failCode, what);
}

Error TextIndexDatabase::errorFor(int rc, const char* message, int failCode, const QString& what)
{
    const int primary = rc & 0xff;
    const int code = primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB ? TextIndexCorruptError : failCode;
    const QString text = message ? QString::fromUtf8(message) : QString::fromUtf8(sqlite3_errstr(rc));
    return Error{textIndexErrorDomain(), code, QStringLiteral("%1: %2 (SQLite %3)").arg(what, text).arg(rc)};
}

Result<void> TextIndexDatabase::checkpoint()
{
    const int rc = sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return std::unexpected(error(TextIndexWriteError, QStringLiteral("write the log of %1 back").arg(m_path)));
    return {};
}

Result<qint64> TextIndexDatabase::sequence()
{
    return queryInt("SELECT seq FROM sqlite_sequence WHERE name = 'docs'", 0, TextIndexReadError);
}

Result<void> TextIndexDatabase::raiseSequence(qint64 floor)
{
    // sqlite_sequence has a row for "docs" only once a row was ever inserted.
    auto current = queryInt("SELECT seq FROM sqlite_sequence WHERE name = 'docs'", -1, TextIndexWriteError);
    if (!current)
        return std::unexpected(current.error());
    if (*current >= floor)
        return {};
    auto st = prepare(*current < 0 ? "INSERT INTO sqlite_sequence (seq, name) VALUES (?1, 'docs')"
                                   : "UPDATE sqlite_sequence SET seq = ?1 WHERE name = 'docs'",
                      TextIndexWriteError);
    if (!st)
        return std::unexpected(st.error());
    sqlite3_bind_int64(st->get(), 1, floor);
    if (sqlite3_step(st->get()) != SQLITE_DONE)
        return std::unexpected(error(TextIndexWriteError, QStringLiteral("raise the document ID sequence")));
    return {};
}

} // namespace platform
