// The full-text indexer: owns the library's content index and keeps it in step with the
// documents' DBDocumentIndex records.
//
// One background worker at a time takes the waiting records in passes of at most 300, reads each
// document's text, adds it to the index and writes the index IDs back. The index is flushed
// before any positive ID reaches the store: a store that names a document the index lost in a
// failed commit would never index it again. A record whose result cannot be recorded (index
// commit or store save failing, say on a full disk) is set aside for the rest of this worker's
// life and the worker moves on, pausing after such a pass; it never re-reads the same documents
// forever. An index that cannot be opened leaves everything waiting; the next build tries again.
//
// Whether the worker ends is decided under the queue's lock after a last look at the queue and
// the need flag, and every caller that queues work sets that flag under the same lock, so work
// handed over while the worker winds down is never stranded.
//
// Locking: m_lock guards the record queue, m_needIndex, m_isRunning and m_isShutDown;
// m_indexLock guards the m_index pointer (the TextIndex serialises its own writes);
// m_rebuildLock serialises rebuilds and the shutdown.
// m_failedURIs belongs to the running worker alone.
#pragma once

#include "Platform/TextIndex/TextIndex.h"
#include "Search/KPIndexRecordStore.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QVariantMap>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

class KPIndexManager {
public:
    // skDocumentID states of a DBDocumentIndex record; positive values are index IDs.
    static constexpr qint64 kWaiting = -1;
    static constexpr qint64 kFailed = -2;
    static constexpr qint64 kNotIndexed = -3;

    // Tuning: records fetched per pass, and results written (and the index flushed) after this
    // many records within a pass, so memory and each save stay bounded over a large library.
    static constexpr int kFetchLimit = 300;
    static constexpr int kWriteEvery = 301;
    // Tuning: a worker without new work polls this often for this many times (5 s) before it ends.
    static constexpr std::chrono::milliseconds kIdleStep{200};
    static constexpr int kIdleSteps = 25;
    // Tuning: the pause after a pass whose results could not all be recorded.
    static constexpr std::chrono::milliseconds kFailureBackoff{2000};
    // Tuning: documents of an index written before shards moved into shards per step, while
    // no other work waits (a step takes about as long as indexing them).
    static constexpr int kSplitStep = 400;

    // The shared indexer over the library's "Index/contentIndex.index", made on first use.
    static KPIndexManager& indexManager();

    // An indexer over the index file at indexPath (its folder is created when missing) whose
    // records live in store. Opens or creates the index at once.
    KPIndexManager(const QString& indexPath, std::shared_ptr<KPIndexRecordStore> store);
    // Stops the worker and waits for it.
    ~KPIndexManager();
    // Stops the worker for good and waits for it: at quit, before the stores it reads and
    // writes close. Later builds start no worker.
    void shutdown();
    // shutdown() of the shared indexer, when one was made.
    static void shutdownShared();
    KPIndexManager(const KPIndexManager&) = delete;
    KPIndexManager& operator=(const KPIndexManager&) = delete;

    // Starts the worker over the waiting records; a running worker makes one more pass.
    void buildNeedIndexItem();
    // Starts a worker unless one runs (or a rebuild is under way).
    void run();
    // Queues IndexQueueRecords ("New" or {"Type": "Delete", "DocumentID": id}) and starts the
    // worker when it is idle.
    void addRecord(const QVariantMap& record);
    void addRecords(const QList<QVariantMap>& records);

    // Adds the document at path with its record's URI. Answers YES with the index ID in
    // documentID; NO for an image (documentID -3), an unreadable document (documentID left as
    // the caller set it) or when no index is open.
    bool buildIndexofFilePath(const QString& path, const QString& uri, qint64& documentID);
    // Removes the index document; YES in every case.
    bool removeIndexOfSKDocumentID(qint64 documentID);
    // Removes the index documents so that nothing of their text stays readable in the index's
    // files (TextIndex::purgeDocuments), committing the worker's pending batch with them. False
    // when they may still be there: the index could not be opened or written.
    bool purgeDocuments(const QList<qint64>& documentIDs);

    // Empties the index in place (IDs stay used up), empties the queue and clears the need flag.
    void rebuildAllIndex();
    // Stops the worker, empties the index, sets every non-image record back to waiting and
    // starts the worker; returns when the index is empty. Does nothing on the main thread.
    void rebuildAndWait();

    // The open index, or null when it could neither be opened nor created.
    std::shared_ptr<platform::TextIndex> indexRef() const;
    const QString& indexPath() const { return m_indexPath; }

    bool needIndex() const;
    bool isRunning() const;
    bool isCancel() const { return m_isCancel.load(); }
    // Records queued and not yet taken by the worker.
    int queuedRecordCount() const;

    // Whether a path's extension marks a picture that is not indexed.
    static bool isImageExtension(const QString& path);

private:
    struct PassOutcome {
        bool recordingFailed = false;
    };

    bool ensureIndex();
    bool openIndex(bool replaceDamaged);
    void enqueueLocked(const QList<QVariantMap>& records);
    std::optional<QVariantMap> dequeue();
    void workerMain();
    bool fetchWaiting();
    PassOutcome processQueue();
    bool recordResults(QVariantList& entries);
    bool moreWaiting();
    bool idleForWork();
    // Moves the text of an index written before shards into shards, a step at a time, until it
    // is done or other work arrives.
    void splitOldTextWhileIdle();
    bool finishUnlessWorkArrived();
    void postOnMain(const QString& name);
    // False when the wait ended by a cancel.
    bool sleepUnlessCancelled(std::chrono::milliseconds time);

    const QString m_indexPath;
    const std::shared_ptr<KPIndexRecordStore> m_store;

    mutable std::mutex m_indexLock;
    std::shared_ptr<platform::TextIndex> m_index;

    mutable std::mutex m_lock;
    std::condition_variable m_changed; // queue, flags or cancel changed
    QList<QVariantMap> m_progressRecord;
    bool m_needIndex = false;
    bool m_isRunning = false;
    bool m_isShutDown = false;
    std::atomic<bool> m_isCancel{false};

    std::mutex m_rebuildLock;
    // Worker only: URIs of documents whose result could not be recorded in this worker's life.
    QSet<QString> m_failedURIs;
};
