// Reads one table of a store into rows, with every to-many side that ends in its records:
// join-table pairs read from either end, and the to-one columns of other tables (from those
// tables' rows when the caller has them in memory, else from the file). Rows and links are
// read in key ranges on a few threads at once, each over a read-only connection of its own,
// because opening a large library is mostly this work. Safe to use from several threads.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/CellTest.h"
#include "Platform/ObjectStore/Row.h"
#include "Platform/ObjectStore/SqliteSchema.h"

#include <QString>
#include <functional>
#include <utility>
#include <vector>

struct sqlite3;

namespace platform {

class SqliteTableReader {
public:
    SqliteTableReader(QString path, const SqliteSchema& schema);

    // The rows of one table already in the caller's memory, or null.
    using LoadedRows = std::function<const std::vector<RowPtr>*(size_t table)>;
    // One table's rows (indexed by key) with their to-many sides. Keys of records in tables
    // that are neither this one nor loaded are taken as they are.
    Result<std::vector<RowPtr>> loadTable(size_t table, const LoadedRows& loaded) const;
    // How many records of the table would be read as one of kinds (indexes in the root's
    // hierarchy) and pass every test, counted by SQLite without reading a row. A table that
    // loadTable would refuse is refused here too.
    Result<qint64> countRows(size_t table, const std::vector<int>& kinds, const std::vector<CellTest>& tests,
                             const EntityDescription* entity) const;

private:
    struct LinkSource;
    struct KeyRange {
        qint64 first = 0;
        qint64 last = 0;
    };
    // The records whose keys lie in range, into rows (long enough for all of them).
    bool readTable(sqlite3* db, size_t table, KeyRange range, std::vector<RowPtr>& rows, QString* error) const;
    // (owner, key) pairs of the owners in range (a to-one column: of every owner), sorted, each
    // packed into one word (see packLink).
    bool readLinks(sqlite3* db, const LinkSource& source, KeyRange owners, std::vector<quint64>& pairs,
                   QString* error) const;
    std::vector<LinkSource> linkSources(size_t table) const;

    QString m_path;
    const SqliteSchema& m_schema;
};

} // namespace platform
