// A thin object over one SQLite database file: open, query rows, run statements, close.
//
// Failures are logged and answered with false or no rows, never raised. Query results keep
// SQLite's own column values: integers as 64-bit numbers (no truncation), reals as double,
// text as QString, NULL as a null QVariant holding nullptr. A blob has no value here; it is
// logged and its place in the row holds the same null, so the query itself still succeeds.
//
// Threads: one object is used by one thread at a time.
#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <optional>

struct sqlite3;

class SQLiteDataBase {
public:
    using Row = QVariantList;

    explicit SQLiteDataBase(const QString& dataBasePath);
    ~SQLiteDataBase();
    SQLiteDataBase(const SQLiteDataBase&) = delete;
    SQLiteDataBase& operator=(const SQLiteDataBase&) = delete;

    // Opens the file, creating it when missing; true at once when already connected.
    bool connect();
    void disconnect();

    // Every row of the query (an empty list when none matched); nullopt when not connected, or
    // when the statement cannot be prepared or fails before its last row.
    std::optional<QList<Row>> queryBySQL(const QString& sql);
    // Runs one or more statements; failures are only logged.
    void execSQL(const QString& sql);

    // The open connection for direct use; null while not connected.
    sqlite3* database() const { return m_database; }
    const QString& dataBasePath() const { return m_dataBasePath; }
    bool connected() const { return m_connected; }

private:
    QString m_dataBasePath;
    sqlite3* m_database = nullptr;
    bool m_connected = false;
};
