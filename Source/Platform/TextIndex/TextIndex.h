// The full-text index of a library: one SQLite file with an FTS5 table, written by one owner
// (the indexing worker) and searched by any number of TextIndexSearch objects at the same time.
//
// Document IDs are positive, belong to a document URL for as long as it stays in the index, and
// are never handed out twice: not after a removal, not after a rebuild (which empties the file
// in place instead of deleting it), not after a write that was rolled back. Callers keep IDs in
// their own store and later ask to remove them; a reused ID would remove a stranger's document.
//
// The text is kept in shards of consecutive IDs (TextIndexDatabase), so that taking a document's
// words out of the file for good rewrites the shard that held them, not the whole index.
//
// Changes collect in one open transaction that flush() commits, so a worker that flushes every
// few hundred documents pays for one commit per batch. The file is in WAL mode: searches on
// their own connections see the last flushed state and never wait for the writer. Those
// connections are kept open between searches (TextIndexReaderPool); replacing the file or
// closing the index lets them go.
//
// close() (and the destructor) commits what is pending, writes the log back into the file and
// closes it, so the index file alone holds the index. closeAll() does that at quit for every
// index still open, whoever owns it: owners that live for the run are never destroyed.
//
// Thread safety: every method may be called from any thread; one mutex serialises the writer
// connection and its transaction state. The list of open indexes has a mutex of its own,
// taken before an index's.
#pragma once

#include "Platform/TextIndex/TextIndexDatabase.h"
#include "Platform/TextIndex/TextIndexSearch.h"

#include <QList>
#include <QString>
#include <QVariantMap>
#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace platform {

class TextIndex {
public:
    // The one document property kept with each document.
    static QString uriProperty() { return QStringLiteral("URI"); }

    // Opens the index at path, creating it when the file does not exist (the folder must), with
    // shards of documentsPerShard documents.
    static Result<std::unique_ptr<TextIndex>> open(const QString& path,
                                                  qint64 documentsPerShard = TextIndexDatabase::kDocumentsPerShard);
    // Throws away whatever is at path (a damaged index, a stranger's file) and creates an empty
    // index there. IDs continue above what the old file had handed out when it can still be
    // read, and in any case above minimumNextID - 1: a caller that keeps IDs elsewhere passes
    // the highest one it knows plus one.
    static Result<std::unique_ptr<TextIndex>> recreate(const QString& path, qint64 minimumNextID = 1);

    // Commits what is pending and closes (see close()).
    ~TextIndex();
    TextIndex(const TextIndex&) = delete;
    TextIndex& operator=(const TextIndex&) = delete;

    const QString& path() const { return m_path; }

    // Adds the document at url, or replaces its text and URI when url is already indexed (it
    // then keeps its ID). Answers the document's ID (1 or more).
    Result<qint64> addDocument(const QString& url, const QString& text, const QString& uri);
    // {"URI": …} of the document, or an empty map when there is no such document.
    Result<QVariantMap> documentProperties(qint64 documentID) const;
    // Removes the document; an unknown ID (or one below 1) is not an error. Its words may stay
    // readable in the file until segments are merged: purgeDocuments() leaves none behind.
    Result<void> removeDocument(qint64 documentID);
    // Removes the documents and commits with everything pending, so that none of their text,
    // words or URLs is left readable anywhere in the index's files: their rows are deleted with
    // secure_delete on (freed cells and pages are zeroed), the segments of each shard that held
    // one are merged into one (an FTS5 delete only adds tombstones; the words stay in the old
    // segments, and in the tombstones, until a merge of all of the shard's segments drops them),
    // a shard left empty is dropped, and the log is written back and cut to nothing. Costs a
    // rewrite of each shard concerned (of the whole old table of a version 1 file for a document
    // still in it), so callers gather the documents of one action into one call.
    Result<void> purgeDocuments(const QList<qint64>& documentIDs);
    // Moves up to maxDocuments documents out of the one table of a version 1 file into shards,
    // and drops that table once it is empty; commits with everything pending. Answers whether
    // documents remain to be moved. Each step costs about as much as indexing its documents.
    Result<bool> splitOldText(int maxDocuments);
    // Commits the changes since the last flush, all or none: after an error none of them (IDs
    // answered included) is in the index. This is also how a batch is reported whose earlier
    // changes SQLite dropped by itself after a failure (disk full, I/O error).
    Result<void> flush();
    // Empties the index. IDs handed out before stay used up. An index too damaged to empty is
    // replaced by a new file at the same path.
    Result<void> rebuild();

    // Commits what is pending, writes the log back into the file and closes the connection;
    // every later change fails and rebuild() no longer replaces the file. The first error of
    // the commit and the write-back; closed in any case.
    Result<void> close();
    // close() of every index that is open in this process (at quit).
    static void closeAll();

    // Number of documents, pending changes included.
    Result<qint64> documentCount() const;

    // A search over the last flushed state, on a connection of its own while it runs.
    Result<std::unique_ptr<TextIndexSearch>> search(const QString& userQuery) const;
    // Readers kept open for the next searches (at most TextIndexReaderPool::kMaxIdle).
    size_t keptReaderCount() const { return m_readers->idleCount(); }

private:
    enum Statement { FindURL, InsertDocument, UpdateURI, DeleteDocument, StatementCount };
    enum ShardStatement { DeleteText, InsertText, ShardStatementCount };

    explicit TextIndex(std::unique_ptr<TextIndexDatabase> db);
    // The cached statement, reset and ready for binding.
    // Under m_lock, before a purge or a split: the index is open, and a batch lost meanwhile is
    // rolled back and reported.
    Result<void> readyToRewrite();
    // Resets a prepared statement for reuse, preparing it from sql first when the slot is empty.
    Result<sqlite3_stmt*> preparedStatement(TextIndexStatement& slot, const char* sql);
    Result<sqlite3_stmt*> statement(Statement which);
    Result<sqlite3_stmt*> statement(qint64 shard, ShardStatement which);

    qint64 shardOf(qint64 documentID) const { return (documentID - 1) / m_db->documentsPerShard(); }
    // The existing shards that may hold the document's text (in a transaction).
    std::vector<qint64> shardsFor(qint64 documentID) const;
    // Creates the shard when it does not exist yet (in a transaction).
    Result<void> ensureShard(qint64 shard);
    // Merges the shard's segments into one, or drops it when it is empty (in a transaction).
    Result<void> compactShard(qint64 shard);
    Result<bool> shardHolds(qint64 shard, qint64 documentID);
    Result<void> dropShard(qint64 shard);
    // The shards as the file lists them, after a rollback or a new file.
    Result<void> loadShardsIfNeeded();

    Result<void> beginIfNeeded();
    Result<void> commit();
    void rollback();
    // Notes a failure: when SQLite dropped the open transaction with it, the batch is lost.
    void noteFailure();
    Result<void> discardDocument(qint64 documentID);
    Result<void> emptyInPlace();
    Result<void> replaceFile();
    void clearStatements();
    Result<void> closeLocked();

    QString m_path;
    const std::shared_ptr<TextIndexReaderPool> m_readers; // locks itself
    mutable std::mutex m_lock; // guards everything below
    std::unique_ptr<TextIndexDatabase> m_db;
    std::array<TextIndexStatement, StatementCount> m_statements; // prepared on first use
    std::map<qint64, std::array<TextIndexStatement, ShardStatementCount>> m_shardStatements;
    std::set<qint64> m_shards; // those in the file, as this transaction sees them
    bool m_shardsKnown = false; // false: m_shards must be read again from the file
    bool m_inTransaction = false;
    bool m_batchLost = false;
    bool m_closed = false;
    qint64 m_highestID = 0; // highest ID this object handed out, committed or not
};

} // namespace platform
