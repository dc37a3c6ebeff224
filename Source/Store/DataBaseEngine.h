// The one owner of the library's object store: the data model, the coordinator over
// "library.db" and the main-queue context that is the program's default context. It writes
// the library's "version.plist" when missing, classifies a library's version, purges records
// marked for deletion when it opens, saves the main context every 180 s (and at quit), and
// offers the fetch, count, create and insert operations the rest of the program uses.
//
// None of the create and insert operations saves; callers save through KPCoreDataAction or
// save(). The fetch, count, create and insert operations run on the caller's thread with the
// context given; a caller off the main thread passes its own context and never the main one
// (a null context means the main context).
//
// A store that cannot be opened is reported by initDataBase with a readable message, and the
// engine then stays unopened (null context, no timer): the start-up stops instead of running
// on with every save failing.
//
// At a clean quit close() saves the main context, writes the store's log back into
// "library.db" and closes it, so that this one file holds the whole library (users copy and
// back up that file). Opening a library also takes back out what a killed import left behind
// (KPImportJournal) and removes half-made copies.
//
// One process holds a library at a time: initDataBase first takes an exclusive lock on
// ".folivo-library.lock" in the library folder, before anything there is read or written,
// and refuses, touching nothing, while another process holds it. The journal clean-up above
// relies on it: only the holder can tell an interrupted import from a running one, so on a
// file system that has no locks the library opens without the clean-up. close()
// keeps the lock so the other stores of the library close under it; releaseLock() or the
// destructor lets it go.
//
// Threads: the shared engine is made and opened on the main thread during start-up and lives
// for the run (closed, not destroyed, at quit); its state changes only in initDataBase and
// close, both on the main thread, so no lock guards it (the closed flag, which imports read on
// their threads, is atomic). Test engines are made with explicit
// options and may be destroyed.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileLock.h"
#include "Platform/ObjectStore/FetchRequest.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "Store/DBAuthor.h"
#include "Store/DBFileInfo.h"
#include "Store/DBNode.h"
#include "Store/DBRecent.h"
#include "Store/DBTag.h"
#include "Store/DBTagGroup.h"
#include "Store/DataBaseSaveTimer.h"
#include "Store/ImportRecord.h"

#include <QList>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class DataBaseEngine {
public:
    // How often the main context is written to disk.
    static constexpr std::chrono::milliseconds kSaveInterval = std::chrono::seconds(180);
    // The answer of countByObject when the count could not be made.
    static constexpr qsizetype kCountNotFound = -1;
    // The text of "name" in "version.plist", and the "version" this engine writes when missing.
    static inline const QString kLibraryName = QStringLiteral("Folivo 2.0");
    static constexpr double kNewLibraryVersion = 1.0;
    static inline const QString kLockFileName = QStringLiteral(".folivo-library.lock");
    // The code of initDataBase's error when another process holds the library.
    static constexpr int kLibraryInUse = 6;
    // Classes of isValidDatabaseVersion.
    enum VersionClass { CurrentVersion = 0, OlderVersion = 1, NewerVersion = 2 };

    struct Options {
        // The library folder; empty: the shared KPLibraryFileManager's (from "String_Library_Path").
        QString libraryPath;
        // The "DBModel.momd" folder; empty: the one among the bundle's resources.
        QString modelPath;
        std::chrono::milliseconds saveInterval = kSaveInterval;
        // Makes the save timer; empty: the dispatch timer.
        DataBaseSaveTimerFactory saveTimerFactory;
        // Whether initDataBase installs the context and coordinator as the program-wide defaults.
        bool makeDefault = true;
        // Called on the sweep's thread before each item of the receive stagings it may remove
        // (tests hold the sweep there, to quit while it runs).
        std::function<void()> beforeSweepStep;
    };

    // The shared engine, made on first use (on the main thread).
    static DataBaseEngine* dataBaseEngine();

    DataBaseEngine();
    explicit DataBaseEngine(Options options);
    ~DataBaseEngine();
    DataBaseEngine(const DataBaseEngine&) = delete;
    DataBaseEngine& operator=(const DataBaseEngine&) = delete;

    // Opens the store (writing "version.plist" when missing), starts the save timer, whose first
    // tick comes at once, and queues the purge on the main context's queue (its documents then
    // go through purgeDocuments, so the window does not wait for their leftovers). An error with a
    // message fit for the user when the store cannot be opened. Call once, on the main thread.
    platform::Result<void> initDataBase();
    bool isOpen() const { return m_context != nullptr && !m_closed; }
    // At quit, on the main thread: stops the save timer, tells a sweep of receive stagings to
    // stop, saves the main context and closes the store file with its log written back. Every
    // later save fails (and is logged); fetches of what is not in memory fail. An error when
    // the save or the write-back failed; the store is closed in any case. Nothing for an engine
    // that was never opened.
    platform::Result<void> close();
    // After close() and the library's other stores: another process may open the library.
    // A sweep of receive stagings still running is stopped first, and waited for (what it has
    // not reached stays for the next opening).
    void releaseLock();
    // Whether the sweep of the receive stagings a killed run left (".folivo-receive-*") has
    // not ended yet. The opening finds them under the library's lock, and they are removed
    // after the window is up, off the main thread: a receive of a large folder leaves tens of
    // thousands of files. Main thread.
    bool isSweepingStagings() const;

    // When the main context has changes, queues a guarded save of it on its queue (nothing
    // once closed).
    void save();
    // Queues a guarded save of the main context, changes or not.
    void writeToDisk();
    // Runs the guarded save on the main context's queue and waits; its outcome.
    bool writeToDiskAndWait();

    // What a document leaves outside the library store and its Thumbnail folder: its words in
    // the full-text index and the desktop's cached previews of its file.
    struct DocumentLeftovers {
        qint64 indexID = 0; // the full-text index's document, when above 0
        QString filePath;   // where the document's file was
    };
    // Removes such leftovers for good (the composition root sets it: the index lives above the
    // store); false when some may remain, and the records then stay marked for the next purge.
    // Without one, records and thumbnails alone go. Set on the main thread before the library
    // opens.
    using LeftoverRemover = std::function<bool(const QList<DocumentLeftovers>&)>;
    static void setLeftoverRemover(LeftoverRemover remover);

    // Deletes the documents among ids that are marked for deletion (isTrash and isNeedDelete)
    // with everything they leave behind: first their index text, cached previews and
    // thumbnails, then the records, then a save. The first step (with a remover set) merges the
    // whole full-text index, seconds on a large one: it runs on a serial queue of its own, so
    // purges in a row wait for each other and the window goes on; there too, after it, one pass
    // over the store's documents tells which thumbnails no other document names. The records
    // follow on the main thread, fifty at a time with a save each, so that the window
    // answers between turns. A purge cut short (by a failure, a quit or a kill) leaves its records marked and is
    // finished by the one at the next start, because the records go last. How many records were
    // handed to the purge; done, when given, runs on the main thread when it has ended, with how
    // many records went. Main thread, on the main context.
    int purgeDocuments(const QList<platform::ObjectID>& ids, std::function<void(int)> done = {});
    static int purgeDocuments(const platform::ContextPtr& context, const QList<platform::ObjectID>& ids,
                              std::function<void(int)> done = {});
    // Whether a purge has not ended yet.
    static bool isPurging();
    // Whether the save of the main context running now is a turn of a purge that deletes
    // documents marked for deletion and nothing else (the context held no other change). No
    // listing shows such documents, so the window need not list again for it. Main thread, for
    // the did-save observers of the main context.
    static bool isSavingPurgedDocuments();
    // At quit, on the main thread, before the index and the stores close: no purge starts any
    // more (those waiting stay marked), and the one removing its leftovers is waited for, at
    // most bound. False when it still runs then. Opening a library lets purges start again.
    static bool stopPurges(std::chrono::milliseconds bound);

    // Null until the store is open.
    const platform::ContextPtr& context() const { return m_context; }
    const platform::CoordinatorPtr& coordinator() const { return m_coordinator; }
    const platform::ModelPtr& model() const { return m_model; }
    // The library folder the engine opened (or will open).
    QString libraryPath() const;

    // Whether libraryPath holds "library.db" and a "version.plist" whose "name" is "Folivo 2.0".
    static bool isValidDatabase(const QString& libraryPath);
    // The version class of libraryPath's "version.plist" (VersionClass), read afresh each time.
    static int isValidDatabaseVersion(const QString& libraryPath);
    // The class of a "version" value: the integer part of (version as a 32-bit float × 10),
    // below 20 older, 20 current, above newer.
    static int versionClassForVersion(float version);

    // ---- fetch and count (nothing is reported on failure) ----
    qsizetype countByObject(const QString& entityName, const platform::Predicate& predicate = {},
                            const platform::ContextPtr& context = {});
    platform::Result<QList<platform::ManagedObjectPtr>>
    queryRecordByName(const QString& entityName, const platform::Predicate& predicate = {},
                      const std::optional<platform::SortDescriptor>& sort = std::nullopt,
                      const platform::ContextPtr& context = {});
    // At most fetchLimit records (0: no limit).
    platform::Result<QList<platform::ManagedObjectPtr>>
    queryRecordByName(const QString& entityName, const platform::Predicate& predicate,
                      const std::optional<platform::SortDescriptor>& sort, int fetchLimit,
                      const platform::ContextPtr& context);
    // The result kind's values: ObjectRef values (ManagedObject), ObjectID values
    // (ManagedObjectID) or one qsizetype (Count).
    platform::Result<QVariantList> queryRecordByName(const QString& entityName,
                                                     const platform::Predicate& predicate,
                                                     platform::FetchRequest::ResultType resultType,
                                                     const platform::ContextPtr& context = {});

    // ---- create (unsaved; nil without a context) ----
    // A new node whose nodeID is the string hash of its object URI at creation.
    DBNode createDBNode(const platform::ContextPtr& context = {});
    DBTag createTagByContext(const QString& name, const platform::ContextPtr& context = {});
    DBTagGroup createTagGroup(const QString& name, const platform::ContextPtr& context = {});
    DBAuthor createAuthorByContext(const QString& name, const platform::ContextPtr& context = {});

    // ---- insert documents (unsaved) ----
    // One DBFileInfo (with its metadata and an empty full-text index record) per record, in
    // record order, put into node and recent when given, with its tags and authors linked by
    // name or created. The tags created on the way are stored through newTags when given.
    QList<DBFileInfo> insertRecords(const QList<ImportRecord>& records, const DBNode& node = {},
                                    const DBRecent& recent = {}, QList<DBTag>* newTags = nullptr,
                                    const platform::ContextPtr& context = {});
    // The same for documents of index folders (no node; each also gets its
    // DBIndexFolderMetadata); one dictionary per record under IndexFolderRecordKey.
    QList<QVariantMap> insertIndexFolderRecords(const QList<ImportRecord>& records, const DBRecent& recent,
                                                QList<DBTag>& newTags,
                                                const platform::ContextPtr& context = {});

    // The tag named name (ignoring case and diacritics) that is not in the trash, else nil;
    // the last match when there are several. Sees context's unsaved changes.
    DBTag tagNamed(const QString& name, const platform::ContextPtr& context = {});
    // The same among all authors, trashed ones included.
    DBAuthor authorNamed(const QString& name, const platform::ContextPtr& context = {});

private:
    const platform::ContextPtr& contextOr(const platform::ContextPtr& context) const;
    void startSaveTimer();
    // Deletes the records marked for deletion and saves when anything went; the documents among
    // them go through purgeDocuments, so their leftovers are removed off the main thread.
    static void purgeContext(const platform::ContextPtr& context);
    DBFileInfo insertFileInfo(const ImportRecord& record, const DBRecent& recent, QList<DBTag>& newTags,
                              const platform::ContextPtr& context, bool indexFolder);
    void linkTags(DBFileInfo& file, const QVariant& names, QList<DBTag>& newTags,
                  const platform::ContextPtr& context);
    void linkAuthors(DBFileInfo& file, const QVariant& names, const platform::ContextPtr& context);
    // Copies a killed import left without a record, and half-made copies.
    void removeLeftovers();
    // Starts the sweep of stagings on a global queue (from the main queue, after the opening).
    struct StagingSweep;
    static void startSweep(const std::shared_ptr<StagingSweep>& sweep, const QStringList& stagings);
    // Tells the sweep to stop after the item in hand; stopSweep also waits for it.
    void askSweepToStop();
    void stopSweep();

    Options m_options;
    QString m_libraryPath;
    // Declared before the store so that it is let go after it.
    std::optional<platform::FileLock> m_lock;
    platform::ModelPtr m_model;
    platform::CoordinatorPtr m_coordinator;
    platform::ContextPtr m_context;
    std::unique_ptr<DataBaseSaveTimer> m_saveTimer;
    std::shared_ptr<StagingSweep> m_sweep; // shared with the sweep's task; its own lock
    std::atomic<bool> m_closed{false}; // read by imports on their own threads
};
