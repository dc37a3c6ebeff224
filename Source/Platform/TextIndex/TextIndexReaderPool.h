// The read-only connections of one index file, kept open between searches. Opening one costs
// more than a typical search (the file, the schema checks, compiling the search statement), so
// a search borrows an idle reader and gives it back when it ends.
//
// A kept reader never shows an index older than the last flush: in WAL mode each search's first
// step starts a new read transaction, which sees every commit made before it, and a reader given
// back holds none. What a kept connection cannot follow is a new file at the same path (the
// writer replaced a damaged index, or the index was closed): discardAll() then closes the idle
// readers, and readers on loan at that moment are closed when they come back instead of kept.
//
// At most kMaxIdle readers are kept; more searches at once open more, closed when given back.
//
// Threads: any; m_mutex guards the idle list, the generation and the closed flag. A reader on
// loan belongs to its search, which uses it from one thread at a time.
#pragma once

#include "Platform/TextIndex/TextIndexDatabase.h"

#include <QString>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

class TextIndexReaderPool {
public:
    // Tuning: idle readers kept (the search field and a few smart folders searching at once).
    static constexpr size_t kMaxIdle = 4;

    struct Reader {
        std::unique_ptr<TextIndexDatabase> db;
        // The borrowers' compiled statements, one per shard, kept with the connection.
        std::map<qint64, TextIndexStatement> statements;
        quint64 generation = 0;
    };

    explicit TextIndexReaderPool(QString path) : m_path(std::move(path)) {}

    const QString& path() const { return m_path; }

    // An idle reader, or a new one; fails when no index can be read at the path.
    Result<std::unique_ptr<Reader>> take();
    // A reader back from its search, with no statement running; kept unless the pool has
    // enough or its file was discarded meanwhile.
    void giveBack(std::unique_ptr<Reader> reader);
    // Closes the idle readers; those on loan are closed when they come back.
    void discardAll();
    // discardAll(), and no reader is kept any more (searches still get readers of their own).
    void close();

    // A reader of the file at path that belongs to no pool.
    static Result<std::unique_ptr<Reader>> open(const QString& path, quint64 generation = 0);

    size_t idleCount() const;

private:
    const QString m_path;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<Reader>> m_idle;
    quint64 m_generation = 0;
    bool m_closed = false;
};

} // namespace platform
