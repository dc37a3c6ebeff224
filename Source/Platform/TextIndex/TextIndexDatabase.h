// One SQLite connection to an index file, shared by the writer and the searches: opening with
// the right pragmas, checking (or, for the writer, creating) the schema, and turning SQLite
// result codes into TextIndex errors.
//
// Schema: "docs" maps each document URL to its ID (AUTOINCREMENT, so an ID is never handed out
// twice, even after the row is gone) and the document's "URI" property. The text lives in FTS5
// tables, the shards, each holding the documents of one run of IDs ("fts_<n>" holds IDs
// n * size + 1 to (n + 1) * size, size as recorded in "meta"); "shards" names those that exist.
// The text is split so that removing a document can rewrite the one shard that held it: an
// FTS5 delete only records tombstones, and the words go only when every segment of the table
// is merged into one, which costs the whole table. The text is stored in the FTS5 tables
// because a contentless table cannot delete rows before SQLite 3.43. "meta" holds the schema
// version, and the file carries an application id so that another program's database is told
// apart from a damaged one.
//
// Files of schema version 1 hold all their text in one FTS5 table, "fts". The writer keeps it
// as shard -1 (listed first) beside the numbered ones, which take new text, and moves its
// documents into them in steps (TextIndex::splitOldText()); it goes when it is empty.
#pragma once

#include "Platform/TextIndex/TextIndexError.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace platform {

struct TextIndexStatementDeleter {
    void operator()(sqlite3_stmt* st) const;
};
using TextIndexStatement = std::unique_ptr<sqlite3_stmt, TextIndexStatementDeleter>;

class TextIndexDatabase {
public:
    enum class Access { Writer, Reader };

    // Tuning: documents per shard of a new file. A purge rewrites the shards it touches (at
    // 100,000 documents of a few KB: some 20 MB each); every search looks into every shard.
    static constexpr qint64 kDocumentsPerShard = 4096;
    // The shard number of the table of version 1 files.
    static constexpr qint64 kOldShard = -1;

    // The writer creates the file and its schema when missing (with shards of documentsPerShard
    // documents) and brings a version 1 file up to date; a reader only opens a file that already
    // holds an index.
    static Result<std::unique_ptr<TextIndexDatabase>> open(const QString& path, Access access,
                                                           qint64 documentsPerShard = kDocumentsPerShard);
    ~TextIndexDatabase();

    TextIndexDatabase(const TextIndexDatabase&) = delete;
    TextIndexDatabase& operator=(const TextIndexDatabase&) = delete;

    sqlite3* handle() const { return m_db; }
    const QString& path() const { return m_path; }

    Result<TextIndexStatement> prepare(const char* sql, int failCode);
    Result<void> exec(const char* sql, int failCode);
    // The first column of the first row of sql, or fallback when there is no row.
    Result<qint64> queryInt(const char* sql, qint64 fallback, int failCode);

    // The connection's last failure as an error; damage is always reported as CorruptError.
    Error error(int failCode, const QString& what) const;
    static Error errorFor(int rc, const char* message, int failCode, const QString& what);

    // The name of a shard's FTS5 table, and its definition.
    static QByteArray shardTable(qint64 shard);
    static QByteArray createShardSql(qint64 shard);
    // The shards the file has, in ascending order (a version 1 file: its one table). Read in the
    // caller's transaction, if one is open.
    Result<std::vector<qint64>> shards();
    // Documents per shard, as recorded in the file.
    qint64 documentsPerShard() const { return m_documentsPerShard; }

    // Writes the log back into the file and empties it (a no-op outside WAL mode).
    Result<void> checkpoint();

    // The highest document ID ever handed out, as recorded in the file.
    Result<qint64> sequence();
    // Makes sure the next ID handed out is above floor.
    Result<void> raiseSequence(qint64 floor);

private:
    TextIndexDatabase() = default;
    Result<void> configure(Access access);
    Result<void> checkOrCreateSchema(Access access, qint64 documentsPerShard);
    Result<void> createSchema(qint64 documentsPerShard);
    Result<void> upgradeFromVersion1();
    Result<void> runInTransaction(const std::vector<QByteArray>& statements);

    sqlite3* m_db = nullptr;
    QString m_path;
    qint64 m_documentsPerShard = kDocumentsPerShard;
};

} // namespace platform
