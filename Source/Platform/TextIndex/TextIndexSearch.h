// One search over an index file, taken in batches so that the first hits reach the screen early
// and a cancel takes effect between batches: each call of findMatches() gives at most maxCount
// hits and returns by its deadline (give or take a few rows: the clock is read every few hits),
// telling whether more may follow.
//
// A search reads on a read-only connection of its own for as long as it runs: borrowed from the
// index's pool of readers (TextIndex::search) or opened for it alone. Its snapshot is taken at
// the first batch and kept until the last one (one read transaction over every shard), so it
// sees what the writer had flushed by then and is never blocked by the writer's open
// transaction. Hits come in document-ID order (in a file written before shards, those still in
// its old table come first); relevance is not computed. The connection goes back when the
// search ends (its last batch, a cancel, or its destruction).
//
// Thread safety: findMatches() is called from one thread at a time; cancel() from any thread,
// also while findMatches() runs (the running step is interrupted).
#pragma once

#include "Platform/TextIndex/TextIndexReaderPool.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

namespace platform {

struct TextIndexHit {
    qint64 documentID = 0;
    QString uri;
};

struct TextIndexBatch {
    std::vector<TextIndexHit> hits;
    bool more = false; // false: the search has given everything (or was cancelled)
};

class TextIndexSearch {
public:
    // Fails when no index can be read at indexPath. A query that asks for nothing searchable
    // (empty, only operators or punctuation) is no error: the search simply finds nothing.
    static Result<std::unique_ptr<TextIndexSearch>> start(const QString& indexPath, const QString& userQuery);
    // The same on a reader borrowed from pool.
    static Result<std::unique_ptr<TextIndexSearch>> start(const std::shared_ptr<TextIndexReaderPool>& pool,
                                                          const QString& userQuery);
    ~TextIndexSearch();
    TextIndexSearch(const TextIndexSearch&) = delete;
    TextIndexSearch& operator=(const TextIndexSearch&) = delete;

    Result<TextIndexBatch> findMatches(int maxCount, std::chrono::milliseconds maxTime);

    // After a cancel, findMatches() answers an empty batch with more == false.
    void cancel() { m_cancelled.store(true); }
    bool isCancelled() const { return m_cancelled.load(); }

    // The FTS5 expression the user's query became (empty: it matches nothing).
    const QString& matchExpression() const { return m_expression; }

private:
    TextIndexSearch() = default;
    static Result<std::unique_ptr<TextIndexSearch>> start(std::shared_ptr<TextIndexReaderPool> pool,
                                                          Result<std::unique_ptr<TextIndexReaderPool::Reader>> reader,
                                                          const QString& userQuery);
    static int progress(void* self);
    void finish();
    // Opens the read transaction and lists the shards, at the first batch.
    Result<void> begin();
    // The statement over the next shard, bound; null when every shard has been searched.
    Result<sqlite3_stmt*> nextShard();

    std::atomic<bool> m_cancelled{false};
    QString m_expression;
    std::shared_ptr<TextIndexReaderPool> m_pool; // null: the reader is this search's alone
    std::unique_ptr<TextIndexReaderPool::Reader> m_reader;
    QByteArray m_expressionBytes;
    bool m_begun = false;
    std::vector<qint64> m_shards;                // those left to search, the current one first
    sqlite3_stmt* m_statement = nullptr;         // the reader's, over the current shard
};

} // namespace platform
