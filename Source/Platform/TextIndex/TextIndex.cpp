#include "Platform/TextIndex/TextIndex.h"

#include <QDebug>
#include <QFile>
#include <QScopeGuard>
#include <mutex>
#include <sqlite3.h>
#include <vector>

namespace platform {

namespace {

const char* const statementSql[] = {
    "SELECT id FROM docs WHERE url = ?1",
    "INSERT INTO docs (url, uri) VALUES (?1, ?2)",
    "UPDATE docs SET uri = ?2 WHERE id = ?1",
    "DELETE FROM docs WHERE id = ?1",
};

// Of a shard, whose table name is put in for %1.
const char* const shardStatementSql[] = {
    "DELETE FROM %1 WHERE rowid = ?1",
    "INSERT INTO %1 (rowid, body) VALUES (?1, ?2)",
};

// The side files SQLite keeps next to a database.
const char* const sideFileSuffixes[] = {"-wal", "-shm", "-journal"};

// Reads the ID sequence of whatever is at path, when it still can be read.
qint64 salvageSequence(const QString& path)
{
    if (!QFile::exists(path))
        return 0;
    sqlite3* db = nullptr;
    qint64 seq = 0;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT seq FROM sqlite_sequence WHERE name = 'docs'", -1, &st, nullptr) == SQLITE_OK
            && sqlite3_step(st) == SQLITE_ROW)
            seq = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close_v2(db);
    return seq;
}

Result<void> removeIndexFiles(const QString& path)
{
    QStringList paths{path};
    for (const char* suffix : sideFileSuffixes)
        paths << path + QLatin1String(suffix);
    for (const QString& p : paths) {
        QFile f(p);
        if (f.exists() && !f.remove())
            return fail(textIndexErrorDomain(), TextIndexWriteError,
                        QStringLiteral("cannot remove %1: %2").arg(p, f.errorString()));
    }
    return {};
}

bool isCorrupt(const Result<void>& r)
{
    return !r && r.error().code == TextIndexCorruptError;
}

Error lostBatchError(const QString& path)
{
    return Error{textIndexErrorDomain(), TextIndexWriteError,
                 QStringLiteral("changes to %1 since the last flush were lost after a write failure").arg(path)};
}

// Every index open in this process, for closeAll(). Never destroyed: an index may still close
// while the program's statics go away.
struct OpenIndexes {
    std::mutex mutex;
    std::vector<TextIndex*> indexes;
};

OpenIndexes& openIndexes()
{
    static OpenIndexes* open = new OpenIndexes;
    return *open;
}

} // namespace

TextIndex::TextIndex(std::unique_ptr<TextIndexDatabase> db)
    : m_path(db->path())
    , m_readers(std::make_shared<TextIndexReaderPool>(m_path))
    , m_db(std::move(db))
{
    OpenIndexes& open = openIndexes();
    std::lock_guard lock(open.mutex);
    open.indexes.push_back(this);
}

TextIndex::~TextIndex()
{
    {
        OpenIndexes& open = openIndexes();
        std::lock_guard lock(open.mutex);
        std::erase(open.indexes, this);
    }
    std::lock_guard lock(m_lock);
    (void)closeLocked();
}

void TextIndex::closeAll()
{
    // Held throughout, so that no index is destroyed while it is being closed.
    OpenIndexes& open = openIndexes();
    std::lock_guard lock(open.mutex);
    for (TextIndex* index : open.indexes)
        (void)index->close();
}

Result<void> TextIndex::close()
{
    std::lock_guard lock(m_lock);
    Result<void> closed = closeLocked();
    if (!closed)
        qWarning().noquote() << QStringLiteral("Closing the text index: %1").arg(closed.error().toString());
    return closed;
}

Result<void> TextIndex::closeLocked()
{
    m_closed = true;
    // The writer then closes last, which leaves the index in its file alone.
    m_readers->close();
    if (!m_db)
        return {};
    Result<void> result;
    if (m_batchLost) {
        m_batchLost = false;
        rollback();
        result = std::unexpected(lostBatchError(m_path));
    } else {
        result = commit();
    }
    clearStatements();
    if (auto checkpointed = m_db->checkpoint(); !checkpointed && result)
        result = checkpointed;
    m_db.reset();
    return result;
}

Result<std::unique_ptr<TextIndex>> TextIndex::open(const QString& path, qint64 documentsPerShard)
{
    auto db = TextIndexDatabase::open(path, TextIndexDatabase::Access::Writer, documentsPerShard);
    if (!db)
        return std::unexpected(db.error());
    return std::unique_ptr<TextIndex>(new TextIndex(std::move(*db)));
}

Result<std::unique_ptr<TextIndex>> TextIndex::recreate(const QString& path, qint64 minimumNextID)
{
    const qint64 floor = std::max(salvageSequence(path), minimumNextID - 1);
    if (auto r = removeIndexFiles(path); !r)
        return std::unexpected(r.error());
    auto db = TextIndexDatabase::open(path, TextIndexDatabase::Access::Writer);
    if (!db)
        return std::unexpected(db.error());
    if (auto r = (*db)->raiseSequence(floor); !r)
        return std::unexpected(r.error());
    std::unique_ptr<TextIndex> index(new TextIndex(std::move(*db)));
    index->m_highestID = floor;
    return index;
}

Result<void> TextIndex::beginIfNeeded()
{
    if (!m_db)
        return fail(textIndexErrorDomain(), TextIndexWriteError, QStringLiteral("%1 is closed").arg(m_path));
    if (m_inTransaction)
        return {};
    if (auto r = m_db->exec("BEGIN IMMEDIATE", TextIndexWriteError); !r)
        return r;
    m_inTransaction = true;
    // After a rollback the file's sequence may be behind IDs already handed out.
    if (auto r = m_db->raiseSequence(m_highestID); !r) {
        rollback();
        return r;
    }
    if (auto r = loadShardsIfNeeded(); !r) {
        rollback();
        return r;
    }
    return {};
}

Result<void> TextIndex::loadShardsIfNeeded()
{
    if (m_shardsKnown)
        return {};
    auto listed = m_db->shards();
    if (!listed)
        return std::unexpected(listed.error());
    m_shards = std::set<qint64>(listed->begin(), listed->end());
    m_shardsKnown = true;
    return {};
}

std::vector<qint64> TextIndex::shardsFor(qint64 documentID) const
{
    std::vector<qint64> found;
    if (m_shards.contains(TextIndexDatabase::kOldShard))
        found.push_back(TextIndexDatabase::kOldShard);
    if (m_shards.contains(shardOf(documentID)))
        found.push_back(shardOf(documentID));
    return found;
}

Result<void> TextIndex::ensureShard(qint64 shard)
{
    if (m_shards.contains(shard))
        return {};
    // IDs only grow, so the shard below a new highest one is full: its segments are merged into
    // one now, once, because every search looks into every segment of every shard.
    if (const auto highest = m_shards.rbegin(); highest != m_shards.rend() && *highest >= 0 && *highest < shard) {
        if (auto r = compactShard(*highest); !r)
            return r;
    }
    if (auto r = m_db->exec(TextIndexDatabase::createShardSql(shard).constData(), TextIndexWriteError); !r)
        return r;
    const QByteArray listed = "INSERT INTO shards (id) VALUES (" + QByteArray::number(shard) + ")";
    if (auto r = m_db->exec(listed.constData(), TextIndexWriteError); !r)
        return r;
    m_shards.insert(shard);
    return {};
}

Result<bool> TextIndex::shardHolds(qint64 shard, qint64 documentID)
{
    const QByteArray sql = "SELECT 1 FROM " + TextIndexDatabase::shardTable(shard) + " WHERE rowid = ?1";
    auto st = m_db->prepare(sql.constData(), TextIndexWriteError);
    if (!st)
        return std::unexpected(st.error());
    sqlite3_bind_int64(st->get(), 1, documentID);
    const int rc = sqlite3_step(st->get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return std::unexpected(m_db->error(TextIndexWriteError, QStringLiteral("look for document %1").arg(documentID)));
    return rc == SQLITE_ROW;
}

Result<void> TextIndex::dropShard(qint64 shard)
{
    // Its cached statements would keep the table from being dropped.
    m_shardStatements.erase(shard);
    if (auto r = m_db->exec(("DROP TABLE " + TextIndexDatabase::shardTable(shard)).constData(), TextIndexWriteError); !r)
        return r;
    const QByteArray unlisted = "DELETE FROM shards WHERE id = " + QByteArray::number(shard);
    if (auto r = m_db->exec(unlisted.constData(), TextIndexWriteError); !r)
        return r;
    m_shards.erase(shard);
    return {};
}

Result<void> TextIndex::compactShard(qint64 shard)
{
    const QByteArray table = TextIndexDatabase::shardTable(shard);
    const QByteArray any = "SELECT count(*) FROM (SELECT 1 FROM " + table + " LIMIT 1)";
    auto rows = m_db->queryInt(any.constData(), 0, TextIndexWriteError);
    if (!rows)
        return std::unexpected(rows.error());
    // Dropping frees (and so zeroes) every page of the table at once.
    if (*rows == 0)
        return dropShard(shard);
    // Merging every segment into one ("optimize") is the only way SQLite 3.40 has to drop
    // tombstones together with the entries they cancel.
    const QByteArray optimize = "INSERT INTO " + table + " (" + table + ") VALUES ('optimize')";
    return m_db->exec(optimize.constData(), TextIndexWriteError);
}

Result<void> TextIndex::commit()
{
    if (!m_inTransaction)
        return {};
    if (auto r = m_db->exec("COMMIT", TextIndexWriteError); !r) {
        rollback();
        m_batchLost = false;
        return r;
    }
    m_inTransaction = false;
    return {};
}

void TextIndex::rollback()
{
    if (sqlite3_get_autocommit(m_db->handle()) == 0)
        sqlite3_exec(m_db->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    m_inTransaction = false;
    // Shards made or dropped in the transaction are back as they were.
    m_shardsKnown = false;
}

void TextIndex::noteFailure()
{
    // SQLite ends the whole transaction by itself after some failures (disk full, I/O errors);
    // what this batch added before is then gone, although its IDs were handed out.
    if (m_inTransaction && sqlite3_get_autocommit(m_db->handle()) != 0) {
        m_inTransaction = false;
        m_batchLost = true;
        m_shardsKnown = false;
    }
}

Result<sqlite3_stmt*> TextIndex::preparedStatement(TextIndexStatement& slot, const char* sql)
{
    if (!slot) {
        auto st = m_db->prepare(sql, TextIndexWriteError);
        if (!st)
            return std::unexpected(st.error());
        slot = std::move(*st);
    }
    sqlite3_reset(slot.get());
    sqlite3_clear_bindings(slot.get());
    return slot.get();
}

Result<sqlite3_stmt*> TextIndex::statement(Statement which)
{
    return preparedStatement(m_statements[which], statementSql[which]);
}

Result<sqlite3_stmt*> TextIndex::statement(qint64 shard, ShardStatement which)
{
    TextIndexStatement& slot = m_shardStatements[shard][which];
    if (slot)
        return preparedStatement(slot, nullptr);
    const QByteArray sql = QByteArray(shardStatementSql[which]).replace("%1", TextIndexDatabase::shardTable(shard));
    return preparedStatement(slot, sql.constData());
}

Result<qint64> TextIndex::addDocument(const QString& url, const QString& text, const QString& uri)
{
    if (url.isEmpty())
        return fail(textIndexErrorDomain(), TextIndexInvalidArgument, QStringLiteral("a document needs a URL"));
    std::lock_guard lock(m_lock);
    if (auto r = beginIfNeeded(); !r)
        return std::unexpected(r.error());

    // Plain statements only: a statement that may need rolling back on its own (an upsert, a
    // savepoint) makes FTS5 write its pending terms out as a new segment first, which made
    // indexing half again as slow. A failure part-way instead removes what the document had,
    // so that no ID points at a half-written document.
    const QByteArray urlBytes = url.toUtf8();
    const QByteArray uriBytes = uri.toUtf8();
    qint64 id = 0;
    const auto failed = [&](const QString& what) -> Result<qint64> {
        Error e = m_db->error(TextIndexWriteError, what.arg(url));
        noteFailure();
        if (id > 0 && m_inTransaction)
            (void)discardDocument(id);
        return std::unexpected(e);
    };
    // Steps a cached statement once; answers SQLite's result code.
    const auto run = [&](Statement which, const auto& bind) -> int {
        auto st = statement(which);
        if (!st)
            return SQLITE_ERROR;
        bind(*st);
        return sqlite3_step(*st);
    };
    const auto bindID = [&](sqlite3_stmt* st) { sqlite3_bind_int64(st, 1, id); };
    const auto bindURL = [&](sqlite3_stmt* st) {
        sqlite3_bind_text(st, 1, urlBytes.constData(), int(urlBytes.size()), SQLITE_STATIC);
    };
    const auto bindIDAndURI = [&](sqlite3_stmt* st) {
        sqlite3_bind_int64(st, 1, id);
        sqlite3_bind_text(st, 2, uriBytes.constData(), int(uriBytes.size()), SQLITE_STATIC);
    };

    const int lookup = run(FindURL, bindURL);
    if (lookup == SQLITE_ROW) {
        id = sqlite3_column_int64(m_statements[FindURL].get(), 0);
        sqlite3_reset(m_statements[FindURL].get());
        for (qint64 shard : shardsFor(id)) {
            auto st = statement(shard, DeleteText);
            if (!st)
                return failed(QStringLiteral("replace the text of %1"));
            bindID(*st);
            if (sqlite3_step(*st) != SQLITE_DONE)
                return failed(QStringLiteral("replace the text of %1"));
        }
        if (run(UpdateURI, bindIDAndURI) != SQLITE_DONE)
            return failed(QStringLiteral("replace the properties of %1"));
    } else if (lookup == SQLITE_DONE) {
        const auto bindURLAndURI = [&](sqlite3_stmt* st) {
            bindURL(st);
            sqlite3_bind_text(st, 2, uriBytes.constData(), int(uriBytes.size()), SQLITE_STATIC);
        };
        if (run(InsertDocument, bindURLAndURI) != SQLITE_DONE)
            return failed(QStringLiteral("add %1"));
        id = sqlite3_last_insert_rowid(m_db->handle());
    } else {
        return failed(QStringLiteral("look up %1"));
    }

    const QByteArray body = text.toUtf8();
    const qint64 shard = shardOf(id);
    if (auto made = ensureShard(shard); !made)
        return failed(QStringLiteral("make room for the text of %1"));
    auto insert = statement(shard, InsertText);
    if (!insert)
        return failed(QStringLiteral("index the text of %1"));
    sqlite3_bind_int64(*insert, 1, id);
    sqlite3_bind_text(*insert, 2, body.constData(), int(body.size()), SQLITE_STATIC);
    if (sqlite3_step(*insert) != SQLITE_DONE)
        return failed(QStringLiteral("index the text of %1"));
    // Lets go of the bound text now rather than at the next add.
    sqlite3_reset(*insert);
    sqlite3_clear_bindings(*insert);

    m_highestID = std::max(m_highestID, id);
    return id;
}

Result<QVariantMap> TextIndex::documentProperties(qint64 documentID) const
{
    std::lock_guard lock(m_lock);
    if (!m_db)
        return fail(textIndexErrorDomain(), TextIndexReadError, QStringLiteral("%1 is closed").arg(m_path));
    auto st = m_db->prepare("SELECT uri FROM docs WHERE id = ?1", TextIndexReadError);
    if (!st)
        return std::unexpected(st.error());
    sqlite3_bind_int64(st->get(), 1, documentID);
    const int rc = sqlite3_step(st->get());
    if (rc == SQLITE_DONE)
        return QVariantMap{};
    if (rc != SQLITE_ROW)
        return std::unexpected(m_db->error(TextIndexReadError, QStringLiteral("properties of %1").arg(documentID)));
    const QString uri = QString::fromUtf8(static_cast<const char*>(sqlite3_column_blob(st->get(), 0)),
                                          sqlite3_column_bytes(st->get(), 0));
    return QVariantMap{{uriProperty(), uri}};
}

Result<void> TextIndex::removeDocument(qint64 documentID)
{
    if (documentID < 1)
        return {};
    std::lock_guard lock(m_lock);
    if (auto r = beginIfNeeded(); !r)
        return r;
    if (auto r = discardDocument(documentID); !r) {
        noteFailure();
        return r;
    }
    return {};
}

Result<void> TextIndex::readyToRewrite()
{
    if (!m_db || m_closed)
        return fail(textIndexErrorDomain(), TextIndexWriteError, QStringLiteral("%1 is closed").arg(m_path));
    if (m_batchLost) {
        m_batchLost = false;
        rollback();
        return std::unexpected(lostBatchError(m_path));
    }
    return {};
}

Result<void> TextIndex::purgeDocuments(const QList<qint64>& documentIDs)
{
    std::lock_guard lock(m_lock);
    if (auto ready = readyToRewrite(); !ready)
        return std::unexpected(ready.error());
    // The SQLite of Debian 12 (3.40) has no FTS5 "secure-delete" option (3.42 and later): a
    // delete there only records tombstones, which carry the deleted words themselves, and the
    // words stay in the older segments too. Merging every segment of a table into one drops
    // both, so each shard that held a purged document is merged (compactShard). The freed cells
    // and pages are zeroed by secure_delete, which the writer turns on when it opens.
    if (auto r = beginIfNeeded(); !r)
        return r;
    std::set<qint64> touched;
    for (qint64 id : documentIDs) {
        if (id < 1)
            continue;
        for (qint64 shard : shardsFor(id)) {
            // The old table of a version 1 file is merged only for a document it still holds:
            // that rewrites the whole of it. A shard is merged in any case, which also takes
            // out the document's words an earlier removal left there; it costs little.
            if (shard == TextIndexDatabase::kOldShard) {
                auto holds = shardHolds(shard, id);
                if (!holds) {
                    noteFailure();
                    return std::unexpected(holds.error());
                }
                if (!*holds)
                    continue;
            }
            touched.insert(shard);
        }
        if (auto r = discardDocument(id); !r) {
            noteFailure();
            return r;
        }
    }
    for (qint64 shard : touched) {
        if (auto r = compactShard(shard); !r) {
            noteFailure();
            return r;
        }
    }
    if (auto r = commit(); !r)
        return r;
    // The log still holds the pages as they were before; cut it to nothing. A reader in the
    // middle of a search can hold the write-back up: the close at quit does it then.
    if (auto r = m_db->checkpoint(); !r)
        qWarning().noquote() << QStringLiteral("The text index's log was not cut after a purge: %1").arg(r.error().toString());
    return {};
}

Result<bool> TextIndex::splitOldText(int maxDocuments)
{
    std::lock_guard lock(m_lock);
    if (auto ready = readyToRewrite(); !ready)
        return std::unexpected(ready.error());
    if (m_shardsKnown && !m_shards.contains(TextIndexDatabase::kOldShard))
        return false;
    // What is pending is committed first, so that a failure here can roll back just the move.
    if (auto r = commit(); !r)
        return std::unexpected(r.error());
    if (auto r = beginIfNeeded(); !r)
        return std::unexpected(r.error());
    const auto failed = [this](const Error& e) -> Result<bool> {
        rollback();
        return std::unexpected(e);
    };
    if (!m_shards.contains(TextIndexDatabase::kOldShard)) {
        rollback();
        return false;
    }
    std::vector<std::pair<qint64, QByteArray>> moving;
    {
        auto st = m_db->prepare("SELECT rowid, body FROM fts ORDER BY rowid LIMIT ?1", TextIndexWriteError);
        if (!st)
            return failed(st.error());
        sqlite3_bind_int(st->get(), 1, std::max(maxDocuments, 1));
        int rc;
        while ((rc = sqlite3_step(st->get())) == SQLITE_ROW) {
            moving.emplace_back(sqlite3_column_int64(st->get(), 0),
                                QByteArray(static_cast<const char*>(sqlite3_column_blob(st->get(), 1)),
                                           sqlite3_column_bytes(st->get(), 1)));
        }
        if (rc != SQLITE_DONE)
            return failed(m_db->error(TextIndexWriteError, QStringLiteral("read the old text of %1").arg(m_path)));
    }
    for (const auto& [id, body] : moving) {
        if (auto r = ensureShard(shardOf(id)); !r)
            return failed(r.error());
        auto insert = statement(shardOf(id), InsertText);
        auto remove = statement(TextIndexDatabase::kOldShard, DeleteText);
        if (!insert)
            return failed(insert.error());
        if (!remove)
            return failed(remove.error());
        sqlite3_bind_int64(*insert, 1, id);
        sqlite3_bind_text(*insert, 2, body.constData(), int(body.size()), SQLITE_STATIC);
        sqlite3_bind_int64(*remove, 1, id);
        if (sqlite3_step(*insert) != SQLITE_DONE || sqlite3_step(*remove) != SQLITE_DONE)
            return failed(m_db->error(TextIndexWriteError, QStringLiteral("move the text of document %1").arg(id)));
        sqlite3_reset(*insert);
        sqlite3_clear_bindings(*insert);
    }
    // The old table goes as a whole once empty: dropping it zeroes its pages.
    if (int(moving.size()) < std::max(maxDocuments, 1)) {
        if (auto r = dropShard(TextIndexDatabase::kOldShard); !r)
            return failed(r.error());
    }
    const bool more = m_shards.contains(TextIndexDatabase::kOldShard);
    if (auto r = commit(); !r)
        return std::unexpected(r.error());
    return more;
}

Result<void> TextIndex::discardDocument(qint64 documentID)
{
    std::vector<Result<sqlite3_stmt*>> steps;
    for (qint64 shard : shardsFor(documentID))
        steps.push_back(statement(shard, DeleteText));
    steps.push_back(statement(DeleteDocument));
    for (Result<sqlite3_stmt*>& st : steps) {
        if (!st)
            return std::unexpected(st.error());
        sqlite3_bind_int64(*st, 1, documentID);
        const int rc = sqlite3_step(*st);
        sqlite3_reset(*st);
        if (rc != SQLITE_DONE)
            return std::unexpected(m_db->error(TextIndexWriteError, QStringLiteral("remove document %1").arg(documentID)));
    }
    return {};
}

Result<void> TextIndex::flush()
{
    std::lock_guard lock(m_lock);
    if (!m_db)
        return fail(textIndexErrorDomain(), TextIndexWriteError, QStringLiteral("%1 is closed").arg(m_path));
    if (m_batchLost) {
        m_batchLost = false;
        rollback();
        return std::unexpected(lostBatchError(m_path));
    }
    return commit();
}

Result<void> TextIndex::rebuild()
{
    std::lock_guard lock(m_lock);
    if (m_closed)
        return fail(textIndexErrorDomain(), TextIndexWriteError, QStringLiteral("%1 is closed").arg(m_path));
    // Pending changes would be emptied away anyway; their IDs stay used up through m_highestID.
    if (m_db)
        rollback();
    m_batchLost = false;
    Result<void> r = m_db ? emptyInPlace() : Result<void>(fail(textIndexErrorDomain(), TextIndexCorruptError, {}));
    if (isCorrupt(r))
        r = replaceFile();
    return r;
}

Result<void> TextIndex::emptyInPlace()
{
    // Dropping the FTS5 tables is much faster than deleting their rows one by one; "docs" is
    // emptied, not dropped, so that its AUTOINCREMENT sequence stays.
    clearStatements();
    // Debian's SQLite zeroes every page it frees, which would write the whole index once more
    // into the log. The freed pages leave the file through the vacuum below instead.
    const qint64 secureDelete = m_db->queryInt("PRAGMA secure_delete", 1, TextIndexReadError).value_or(1);
    (void)m_db->exec("PRAGMA secure_delete = OFF", TextIndexWriteError);
    const auto restore = qScopeGuard([&] {
        (void)m_db->exec(secureDelete ? "PRAGMA secure_delete = ON" : "PRAGMA secure_delete = OFF", TextIndexWriteError);
    });
    if (auto r = beginIfNeeded(); !r)
        return r;
    if (auto r = m_db->exec("DELETE FROM docs", TextIndexWriteError); !r) {
        rollback();
        return r;
    }
    for (qint64 shard : std::vector<qint64>(m_shards.begin(), m_shards.end())) {
        if (auto r = dropShard(shard); !r) {
            rollback();
            return r;
        }
    }
    if (auto r = commit(); !r)
        return r;
    // Gives the freed pages back; a failure here leaves them for reuse, which is fine.
    (void)m_db->exec("PRAGMA incremental_vacuum", TextIndexWriteError);
    (void)m_db->exec("PRAGMA wal_checkpoint(TRUNCATE)", TextIndexWriteError);
    // Damage in pages the emptying never read would surface later, in the middle of indexing.
    // The emptied file is small, so checking it whole is cheap.
    auto check = m_db->prepare("PRAGMA quick_check", TextIndexReadError);
    if (!check)
        return std::unexpected(check.error());
    const int rc = sqlite3_step(check->get());
    const bool sound = rc == SQLITE_ROW
                       && QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(check->get(), 0))) == "ok";
    if (!sound)
        return fail(textIndexErrorDomain(), TextIndexCorruptError, QStringLiteral("%1 is damaged").arg(m_path));
    return {};
}

Result<void> TextIndex::replaceFile()
{
    qint64 floor = m_highestID;
    if (m_db) {
        if (auto seq = m_db->sequence(); seq)
            floor = std::max(floor, *seq);
        clearStatements();
        m_db.reset();
    }
    floor = std::max(floor, salvageSequence(m_path));
    // Kept readers would go on reading the file that is about to go.
    m_readers->discardAll();
    if (auto r = removeIndexFiles(m_path); !r)
        return r;
    auto db = TextIndexDatabase::open(m_path, TextIndexDatabase::Access::Writer);
    if (!db)
        return std::unexpected(db.error());
    if (auto r = (*db)->raiseSequence(floor); !r)
        return r;
    m_db = std::move(*db);
    m_highestID = floor;
    return {};
}

void TextIndex::clearStatements()
{
    for (TextIndexStatement& st : m_statements)
        st.reset();
    m_shardStatements.clear();
    m_shardsKnown = false;
}

Result<qint64> TextIndex::documentCount() const
{
    std::lock_guard lock(m_lock);
    if (!m_db)
        return fail(textIndexErrorDomain(), TextIndexReadError, QStringLiteral("%1 is closed").arg(m_path));
    return m_db->queryInt("SELECT count(*) FROM docs", 0, TextIndexReadError);
}

Result<std::unique_ptr<TextIndexSearch>> TextIndex::search(const QString& userQuery) const
{
    return TextIndexSearch::start(m_readers, userQuery);
}

} // namespace platform
