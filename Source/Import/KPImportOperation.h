// What the flat and the hierarchical import have in common: the import options they are made
// from, the walk filter, the per-file worker, the store, the state tests, the status posts and
// the ways an import ends (stored, thrown away, store failed).
//
// Every file of an import ends either as a stored document or as a path in "LostFiles": the
// walk reports what it refuses, a copy that fails is reported, and when the store refuses the
// records (or the copies cannot be flushed) the copies are taken back out of the library, every
// source is reported and "SaveError" says why. Sources of a move are removed only after the
// store wrote the records to disk. The import's journal of copies is forgotten once every copy
// is stored or removed; one that could not be removed stays in it for the next opening.
//
// Threads: made on the main thread; main() and everything it calls run on the import queue's
// thread. Statuses are posted to observers on the main thread, in order. cancel() may come from
// any thread; it wakes the operation if it waits for the user's answer. The only work that
// leaves the queue's thread is the making of previews: once the walk has listed the files, a
// KPPreviewPrefetcher renders them a bounded window ahead on a few threads of its own, and the
// per-file loop takes each one in its turn; stopPreviews() ends that before the store, so no
// import work is left running when the operation ends (whichever way it ends).
#pragma once

#include "Import/KPImportFileWorker.h"
#include "Import/KPPreviewPrefetcher.h"
#include "Import/KPImportState.h"
#include "Import/KPImportStore.h"
#include "Platform/Foundation/Operation.h"

#include <QImage>
#include <QList>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class KPFileFormatManager;
class KPFileImportFilter;
class KPLibraryFileManager;

class KPImportOperation : public platform::Operation {
public:
    // Tuning: the short pause an import makes between announcing a phase and starting it, so
    // that the import panel can show the announcement.
    static constexpr std::chrono::milliseconds kPhasePause{1000};

    // What the import works with; each null member means the program's shared one.
    struct Environment {
        const KPLibraryFileManager* library = nullptr;
        std::shared_ptr<KPImportStore> store;
        KPFileFormatManager* formats = nullptr;
        // Threads making previews ahead of the import; 0 means KPPreviewPrefetcher's default.
        int previewWorkers = 0;
    };

    KPImportOperation(const QVariantMap& options, std::function<void()> completionBlock);
    ~KPImportOperation() override;

    // Before the operation is queued.
    void setEnvironment(Environment environment);

    void cancel() override;

    // Posts "FileImportNotification" with status as its object, on the main thread.
    void postNotificationByOptions(const QVariantMap& status) const;

    const QVariantMap& options() const { return m_options; }

    // Test seam: the phase pause of every import (kPhasePause by default).
    static void setPhasePauseForTesting(std::chrono::milliseconds pause);

protected:
    // Prepares the filter and the worker; the first thing main() does after opening the state.
    void prepare();
    KPImportState::State checkpoint(bool lastCheck = false);
    // The pause after announcing a phase; meanwhile runs first, within the pause's time.
    void phasePause(const std::function<void()>& meanwhile = {});
    void postStatus(const QString& status) const;
    void postProgress(int currIndex, int count, const QString& path, const QImage& image) const;
    // The store's node and tag references become the main context's objects on the way.
    void postNewTags(const QVariantList& tags) const;
    void postFinished(const QVariantMap& status) const;

    // Copies one file in and builds its record; nullopt (and the path reported) on failure.
    // The source's metadata is the one prepared before the copy when there is one, else it is
    // read after the copy.
    std::optional<KPImportedFile> importFile(const QString& path, const KPPreparedFile& prepared);
    // The files the per-file loop will prepare, in its order; look-ahead starts with the first
    // previewOf() call. metadataFirst: the source's metadata is read with the preview, before
    // the copy, else after the copy.
    void startPreviews(const QStringList& paths, bool metadataFirst);
    // What was prepared of the index-th file of startPreviews() (made here if it was not
    // planned).
    KPPreparedFile previewOf(int index, const QString& path);
    // Drops previews not yet taken and waits for those being made.
    void stopPreviews();

    // Flushes the copies to disk, then runs save (the store's call); a failed flush is a
    // failed store that never ran. flushCopiesAhead() flushes them earlier, once no copy is
    // made any more, and storeCopies() then goes by that flush.
    void flushCopiesAhead();
    KPImportStore::Outcome storeCopies(const std::function<KPImportStore::Outcome()>& save);
    // Throws away every copy and thumbnail of files.
    void discardFiles(const QList<KPImportedFile>& files);
    // The store refused the records: take the copies back out and report every source lost.
    void storeFailed(const QList<KPImportedFile>& files);
    // The end of the import: every copy is stored or removed, so its journal can go, unless a
    // copy could not be removed.
    void settleCopies();
    // After a durable store of a move: removes the sources that are safe to remove.
    void removeSources(const QList<KPImportedFile>& files) const;

    // The unsupported paths of the walk, then the files that could not be copied.
    QStringList lostFiles() const;
    bool isCancelledNow() const { return isCancelled(); }
    std::function<bool()> cancelTest() const;

    // "LastSelectNode" and "DBNode" of the options, where present.
    QVariantMap finishedStatus() const;

    const KPLibraryFileManager& library() const;
    KPImportStore& store();
    KPFileImportFilter& fileImportFilter() { return *m_fileImportFilter; }
    KPImportFileWorker& worker() { return *m_worker; }

    QVariantMap m_options;
    QStringList m_filePaths;
    QVariant m_node;
    QString m_newFolderName; // null when the options have none
    QVariant m_lastSelectNode;
    bool m_isDeleteSourceFile = false;
    bool m_hasDoNewFolderAction = false;
    bool m_doNewFolderAction = false;
    QStringList m_newTags;

private:
    Environment m_environment;
    std::mutex m_filterMutex; // the filter is made on the queue's thread, cancelled from any
    std::unique_ptr<KPFileImportFilter> m_fileImportFilter;
    std::unique_ptr<KPImportFileWorker> m_worker;
    std::unique_ptr<KPPreviewPrefetcher> m_previews; // uses m_worker: declared after it
    bool m_metadataFirst = false;
    QStringList m_failedFiles;
    std::optional<platform::Result<void>> m_flushedAhead;
    bool m_copiesLeft = false; // a copy that should have gone could not be removed
};
