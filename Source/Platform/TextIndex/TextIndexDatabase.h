// One SQLite connection to an index file, shared by the writer and the searches: opening with
// the right pragmas, checking (or, for the writer, creating) the schema, and turning SQLite
// result codes into TextIndex errors.
//
// Schema: "docs" maps each document URL to its ID (AUTOINCREMENT, so an ID is never handed out
// twice, even after the row is gone) and the document's "URI" property; "fts" is an FTS5 table
// whose rowid is the document ID. The text is stored in the FTS5 table because a contentless
// table cannot delete rows before SQLite 3.43. "meta" holds the schema version, and the file
// carries an application id so that another program's database is told apart from a damaged one.
#pragma once

#include "Platform/TextIndex/TextIndexError.h"

#include <QString>
#include <memory>

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

    // The writer creates the file and its schema when missing; a reader only opens a file that
    // already holds an index.
    static Result<std::unique_ptr<TextIndexDatabase>> open(const QString& path, Access access);
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

    // The FTS5 table's definition, also used when a rebuild recreates it.
    static const char* createFtsSql();

    // Writes the log back into the file and empties it (a no-op outside WAL mode).
    Result<void> checkpoint();

    // The highest document ID ever handed out, as recorded in the file.
    Result<qint64> sequence();
    // Makes sure the next ID handed out is above floor.
    Result<void> raiseSequence(qint64 floor);

private:
    TextIndexDatabase() = default;
    Result<void> configure(Access access);
    Result<void> checkOrCreateSchema(Access access);
    Result<void> createSchema();

    sqlite3* m_db = nullptr;
    QString m_path;
};

} // namespace platform
