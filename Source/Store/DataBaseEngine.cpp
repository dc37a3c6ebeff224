#include "Store/DataBaseEngine.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/StringHash.h"
#include "Store/DBDocumentIndex.h"
#include "Store/DBFavorite.h"
#include "Store/DBHelper.h"
#include "Store/DBIndexFolder.h"
#include "Store/KPContextHelper.h"
#include "Store/KPImportJournal.h"
#include "Store/KPLibraryFileManager.h"
#include "Store/KPSafeBoxMoveJournal.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopedValueRollback>
#include <QSet>
#include <QtDebug>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <optional>

using platform::ContextPtr;
using platform::FetchRequest;
using platform::Predicate;

namespace {

const QString kLogDomain = QStringLiteral("DataBase");
const QString kErrorDomain = QStringLiteral("DataBaseEngine");
const QString kStoreFileName = QStringLiteral("library.db");
const QString kVersionFileName = QStringLiteral("version.plist");
const QString kVersionKey = QStringLiteral("version");
const QString kNameKey = QStringLiteral("name");

enum ErrorCode { NoLibraryFolder = 1, NoModel = 2, StoreNotAdded = 3, NotOpen = 4, NotSaved = 5 };

// The version the library's "version.plist" records; 0 when it is missing or unreadable.
float recordedVersion(const QString& libraryPath, QVariantMap* plist = nullptr)
{
    const QString file = libraryPath + QLatin1Char('/') + kVersionFileName;
    if (!platform::FileManager::fileExists(file))
        return 0.0f;
    auto read = platform::PropertyList::readFile(file);
    if (!read || read->typeId() != QMetaType::QVariantMap) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("%1 is not a readable property list: %2")
                                                 .arg(file, read ? QStringLiteral("not a dictionary")
                                                                 : read.error().toString()));
        return 0.0f;
    }
    const QVariantMap map = read->toMap();
    if (plist)
        *plist = map;
    bool ok = false;
    const float version = map.value(kVersionKey).toFloat(&ok);
    return ok ? version : 0.0f;
}

Predicate parsed(const QString& text)
{
    auto predicate = Predicate::parse(text);
    Q_ASSERT(predicate.has_value());
    return predicate ? *predicate : Predicate();
}

// Deletes every record of entity matching filter from context; how many went.
int deleteMatching(const ContextPtr& context, const QString& entity, const QString& filter)
{
    auto found = context->executeFetchRequest(FetchRequest(entity, parsed(filter)));
    if (!found) {
        KPLogLogDomainMessage(kLogDomain, 0,
                              QStringLiteral("purge of %1 failed: %2").arg(entity, found.error().toString()));
        return 0;
    }
    for (const auto& object : *found)
        context->deleteObject(object);
    return int(found->size());
}

DataBaseEngine::LeftoverRemover& leftoverRemover()
{
    static DataBaseEngine::LeftoverRemover remover;
    return remover;
}

// The documents among objects marked for deletion, with what each leaves behind.
struct PurgeBatch {
    QList<DBFileInfo> files;
    QList<platform::ObjectID> ids;
    QStringList thumbPaths; // as stored, one per document that names one
    QList<DataBaseEngine::DocumentLeftovers> leftovers;
};

bool isPurgeable(const DBFileInfo& file)
{
    return file && !file.isDeleted() && file.isTrash() && file.isNeedDelete();
}

PurgeBatch purgeBatch(const QList<platform::ManagedObjectPtr>& objects)
{
    PurgeBatch batch;
    for (const auto& object : objects) {
        const DBFileInfo file(object);
        if (!isPurgeable(file))
            continue;
        batch.files.append(file);
        batch.ids.append(object->objectID());
        if (const QString thumb = file.thumbPath(); !thumb.isEmpty())
            batch.thumbPaths.append(thumb);
        const DBDocumentIndex index = file.documentIndex();
        batch.leftovers.append({index ? index.skDocumentID() : 0, DBHelper::CombinFileAbsolutePath(file)});
    }
    return batch;
}

bool removeDocumentLeftovers(const DataBaseEngine::LeftoverRemover& remover,
                     const QList<DataBaseEngine::DocumentLeftovers>& leftovers)
{
    if (remover && !remover(leftovers)) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("%1 removed documents stay marked: their index text could not be removed")
                                                 .arg(leftovers.size()));
        return false;
    }
    return true;
}

// The thumbnail files of files that no other document names (a copy keeps the one it shares),
// found in one pass over the documents of context: a look-up per thumbnail reads every record
// each time. Null when the documents could not be read, so that nothing is removed on a doubt.
std::optional<QStringList> thumbnailsLeftBehind(const ContextPtr& context, const QList<platform::ObjectID>& purged,
                                                const QStringList& thumbPaths)
{
    QSet<QString> named(thumbPaths.cbegin(), thumbPaths.cend());
    named.remove(QString());
    if (named.isEmpty())
        return QStringList();
    const QSet<platform::ObjectID> leaving(purged.cbegin(), purged.cend());
    auto files = context->executeFetchRequest(FetchRequest(DBFileInfo::entityName()));
    if (!files) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("The thumbnails of removed documents stay: %1")
                                                 .arg(files.error().toString()));
        return std::nullopt;
    }
    QSet<QString> kept;
    for (const auto& object : *files) {
        const DBFileInfo file(object);
        const QString thumb = file.thumbPath();
        if (named.contains(thumb) && !leaving.contains(object->objectID()))
            kept.insert(thumb);
    }
    QStringList thumbnails;
    for (const QString& relative : std::as_const(named)) {
        if (kept.contains(relative))
            continue;
        const QString thumb = DBHelper::CombinThumbAbsoluteByString(relative);
        if (!thumb.isEmpty())
            thumbnails.append(thumb);
    }
    return thumbnails;
}

// Reads into memory the tables a deletion of documents reads: the documents' and those of
// the records they link to (and, where a deletion cascades, theirs). A table is read once for
// the whole run, and a large one takes a good part of a second: read here, off the main
// thread, the first deletion there does not wait for it.
void loadTablesOfDeletion(const platform::CoordinatorPtr& coordinator)
{
    const platform::EntityDescription* documents = coordinator->model()->entity(DBFileInfo::entityName());
    if (!documents)
        return;
    std::vector<const platform::EntityDescription*> tables{documents};
    for (const platform::RelationshipDescription& link : documents->relationships()) {
        if (!link.destination)
            continue;
        tables.push_back(link.destination);
        if (link.deleteRule != platform::DeleteRule::Cascade)
            continue;
        for (const platform::RelationshipDescription& further : link.destination->relationships()) {
            if (further.destination)
                tables.push_back(further.destination);
        }
    }
    const auto lock = coordinator->readLock();
    if (auto loaded = coordinator->loadTables(tables); !loaded)
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Reading the tables of removed documents: %1")
                                                 .arg(loaded.error().toString()));
}

void deleteThumbnails(const QStringList& thumbnails)
{
    for (const QString& thumb : thumbnails) {
        if (QFileInfo::exists(thumb) && !QFile::remove(thumb))
            KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("The thumbnail %1 of a removed document stays").arg(thumb));
    }
}

int deleteRecords(const ContextPtr& context, const QList<DBFileInfo>& files)
{
    for (const DBFileInfo& file : files)
        context->deleteObject(file.object());
    return int(files.size());
}

// The purges of documents leaving the library while it is open. Their index step merges the
// whole full-text index and takes seconds on a large one, so it runs on a serial queue of its
// own, one purge after another; the records are deleted on the main thread afterwards.
struct PurgeQueue {
    std::mutex mutex;
    std::condition_variable changed;
    int removing = 0;     // purges whose leftovers are queued or being removed
    bool stopped = false; // quit: no purge starts any more
    std::atomic<int> unfinished{0}; // purges whose records are not deleted (or left) yet
    const platform::DispatchQueue queue = platform::DispatchQueue::serial(QStringLiteral("Library purge"));
};

PurgeQueue& purgeQueue()
{
    // Never destroyed: a purge may end while the program's statics go away.
    static PurgeQueue* const queue = new PurgeQueue;
    return *queue;
}

// Set on the main thread while a turn's save deletes purged documents and nothing else.
bool savingPurgedDocuments = false;

bool purgesStopped()
{
    PurgeQueue& purges = purgeQueue();
    std::lock_guard lock(purges.mutex);
    return purges.stopped;
}

// Deletes the records of ids that are still marked, from the one at from on, a turn of
// kRecordsPerTurn at a time with a save each: deleting thousands at once holds the main thread
// for a good part of a second at a large library. A quit between turns leaves the rest marked
// for the next start. Null ids: none go. Ends the purge with done(how many went in all).
constexpr qsizetype kRecordsPerTurn = 50;

void deleteRecordsInTurns(const std::weak_ptr<platform::ManagedObjectContext>& weakContext,
                          const std::shared_ptr<const QList<platform::ObjectID>>& ids, qsizetype from, int deleted,
                          std::function<void(int)> done)
{
    const ContextPtr context = weakContext.lock();
    if (context && ids && from < ids->size() && !purgesStopped()) {
        QList<DBFileInfo> files;
        const qsizetype to = std::min(ids->size(), from + kRecordsPerTurn);
        for (qsizetype i = from; i < to; ++i) {
            const DBFileInfo file(context->existingObjectWithID(ids->at(i)));
            if (isPurgeable(file))
                files.append(file);
        }
        if (!files.isEmpty()) {
            // The turn's save carries the window's own unsaved edits, if any, which it must see.
            const bool onlyPurged = !context->hasChanges();
            deleted += deleteRecords(context, files);
            const QScopedValueRollback saving(savingPurgedDocuments, onlyPurged);
            KPContextHelper::save(context);
        }
        if (to < ids->size()) {
            platform::Dispatch::main([weakContext, ids, to, deleted, done = std::move(done)]() mutable {
                deleteRecordsInTurns(weakContext, ids, to, deleted, std::move(done));
            });
            return;
        }
    }
    --purgeQueue().unfinished;
    if (done)
        done(deleted);
}

} // namespace

void DataBaseEngine::setLeftoverRemover(LeftoverRemover remover)
{
    leftoverRemover() = std::move(remover);
}

int DataBaseEngine::purgeDocuments(const QList<platform::ObjectID>& ids, std::function<void(int)> done)
{
    if (m_closed) {
        if (done)
            done(0);
        return 0;
    }
    return purgeDocuments(m_context, ids, std::move(done));
}

int DataBaseEngine::purgeDocuments(const ContextPtr& context, const QList<platform::ObjectID>& ids,
                                   std::function<void(int)> done)
{
    const auto finished = [&done](int deleted) {
        if (done)
            done(deleted);
        return deleted;
    };
    if (!context || ids.isEmpty())
        return finished(0);
    QList<platform::ManagedObjectPtr> objects;
    for (const platform::ObjectID& id : ids) {
        if (auto object = context->existingObjectWithID(id))
            objects.append(object);
    }
    PurgeBatch batch = purgeBatch(objects);
    if (batch.files.isEmpty())
        return finished(0);
    const int handed = int(batch.files.size());
    if (!leftoverRemover()) {
        // Nothing slow to wait for: the thumbnails and records go at once.
        const std::optional<QStringList> thumbnails = thumbnailsLeftBehind(context, batch.ids, batch.thumbPaths);
        if (!thumbnails)
            return finished(0);
        deleteThumbnails(*thumbnails);
        deleteRecords(context, batch.files);
        KPContextHelper::save(context);
        finished(handed);
        return handed;
    }
    PurgeQueue& purges = purgeQueue();
    {
        std::lock_guard lock(purges.mutex);
        if (purges.stopped)
            return finished(0); // quitting: the next start's purge takes them
        ++purges.removing;
    }
    ++purges.unfinished;
    // The worker holds the context weakly: it is made and destroyed on the main thread only.
    // Which thumbnails another document still names is read from the store by the worker, in a
    // context of its own: a pass over every document, which the window need not wait for. The
    // callers have saved the documents that name them (imports save straight to the store).
    purges.queue.async([remover = leftoverRemover(), weakContext = std::weak_ptr(context),
                        weakCoordinator = std::weak_ptr(context->persistentStoreCoordinator()),
                        purgedIDs = std::move(batch.ids), thumbPaths = std::move(batch.thumbPaths),
                        leftovers = std::move(batch.leftovers), done = std::move(done)]() mutable {
        PurgeQueue& purges = purgeQueue();
        bool removed = false;
        if (!purgesStopped())
            removed = removeDocumentLeftovers(remover, leftovers);
        if (removed) {
            std::optional<QStringList> thumbnails;
            if (const platform::CoordinatorPtr coordinator = weakCoordinator.lock()) {
                const ContextPtr reading = platform::ManagedObjectContext::create(platform::ConcurrencyType::Confinement,
                                                                                  coordinator);
                thumbnails = thumbnailsLeftBehind(reading, purgedIDs, thumbPaths);
                loadTablesOfDeletion(coordinator);
            }
            // Records stay marked while a thumbnail of theirs may remain.
            removed = thumbnails.has_value();
            if (thumbnails)
                deleteThumbnails(*thumbnails);
        }
        {
            std::lock_guard lock(purges.mutex);
            --purges.removing;
        }
        purges.changed.notify_all();
        // The records go on the main thread, last; left marked (for the next start's purge)
        // when their leftovers may remain or the program is quitting, which leaves no trace
        // behind them but the records.
        const auto ids = std::make_shared<const QList<platform::ObjectID>>(std::move(purgedIDs));
        platform::Dispatch::main([weakContext, ids, removed, done = std::move(done)]() mutable {
            deleteRecordsInTurns(weakContext, removed ? ids : nullptr, 0, 0, std::move(done));
        });
    });
    return handed;
}

bool DataBaseEngine::isPurging()
{
    return purgeQueue().unfinished.load() > 0;
}

bool DataBaseEngine::isSavingPurgedDocuments()
{
    return platform::Dispatch::isMainThread() && savingPurgedDocuments;
}

bool DataBaseEngine::stopPurges(std::chrono::milliseconds bound)
{
    PurgeQueue& purges = purgeQueue();
    std::unique_lock lock(purges.mutex);
    purges.stopped = true;
    if (purges.changed.wait_for(lock, bound, [&purges] { return purges.removing == 0; }))
        return true;
    KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("A purge of removed documents was still running at quit"));
    return false;
}

DataBaseEngine* DataBaseEngine::dataBaseEngine()
{
    // Lives for the whole run; never destroyed, so its timer cannot fire into a dead engine.
    static DataBaseEngine* const engine = new DataBaseEngine();
    return engine;
}

DataBaseEngine::DataBaseEngine() : DataBaseEngine(Options())
{
}

DataBaseEngine::DataBaseEngine(Options options) : m_options(std::move(options))
{
}

// The sweep of the receive stagings the opening found. Its flags are set on the main thread,
// but for removing, which the sweep's task clears when it ends; all under mutex.
struct DataBaseEngine::StagingSweep {
    std::mutex mutex;
    std::condition_variable ended;
    bool pending = false;  // found by the opening, not handed to the task yet
    bool removing = false; // the task is queued or removing
    std::atomic<bool> stop{false};
    std::function<void()> beforeStep; // set before the task starts
};

void DataBaseEngine::startSweep(const std::shared_ptr<StagingSweep>& sweep, const QStringList& stagings)
{
    {
        std::lock_guard lock(sweep->mutex);
        sweep->pending = false;
        if (sweep->stop.load())
            return;
        sweep->removing = true;
    }
    platform::DispatchQueue::global(platform::QueuePriority::Background).async([sweep, stagings] {
        const QStringList removed = KPLibraryFileManager::removeReceiveStagings(stagings, [&sweep] {
            if (sweep->beforeStep)
                sweep->beforeStep();
            return !sweep->stop.load();
        });
        if (!removed.isEmpty())
            KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Removed %1 staging folders of interrupted receives")
                                                     .arg(removed.size()));
        {
            std::lock_guard lock(sweep->mutex);
            sweep->removing = false;
        }
        sweep->ended.notify_all();
    });
}

void DataBaseEngine::askSweepToStop()
{
    if (m_sweep)
        m_sweep->stop = true;
}

void DataBaseEngine::stopSweep()
{
    if (!m_sweep)
        return;
    // Each step of the sweep is one item: it stops at once.
    std::unique_lock lock(m_sweep->mutex);
    m_sweep->stop = true;
    m_sweep->ended.wait(lock, [this] { return !m_sweep->removing; });
}

bool DataBaseEngine::isSweepingStagings() const
{
    if (!m_sweep)
        return false;
    std::lock_guard lock(m_sweep->mutex);
    return (m_sweep->pending && !m_sweep->stop.load()) || m_sweep->removing;
}

void DataBaseEngine::releaseLock()
{
    // Another process may take the library once the lock goes: nothing of this one may still
    // be removing files in it.
    stopSweep();
    m_lock.reset();
}

DataBaseEngine::~DataBaseEngine()
{
    stopSweep();
    m_saveTimer.reset();
    if (m_options.makeDefault && m_context && KPContextHelper::defaultContext() == m_context) {
        KPContextHelper::setDefaultContext(nullptr);
        KPContextHelper::setDefaultStoreCoordinator(nullptr);
    }
}

QString DataBaseEngine::libraryPath() const
{
    if (!m_libraryPath.isEmpty())
        return m_libraryPath;
    if (!m_options.libraryPath.isEmpty())
        return m_options.libraryPath;
    return KPLibraryFileManager::defaultManager().workFolder();
}

platform::Result<void> DataBaseEngine::initDataBase()
{
    if (m_context)
        return {};
    {
        // Purges stopped by an earlier quit start again with the library.
        std::lock_guard lock(purgeQueue().mutex);
        purgeQueue().stopped = false;
    }
    m_libraryPath = libraryPath();
    bool isFolder = false;
    if (m_libraryPath.isEmpty())
        return platform::fail(kErrorDomain, NoLibraryFolder, QStringLiteral("No library folder has been chosen."));
    if (!platform::FileManager::fileExists(m_libraryPath, &isFolder) || !isFolder) {
        return platform::fail(kErrorDomain, NoLibraryFolder,
                              QStringLiteral("The library folder “%1” does not exist.").arg(m_libraryPath));
    }

    if (!m_lock) {
        auto lock = platform::FileLock::tryLock(m_libraryPath + QLatin1Char('/') + kLockFileName);
        if (!lock && lock.error().code == platform::FileLock::kHeldElsewhere && lock.error().domain == QLatin1String("FileLock"))
            return platform::fail(kErrorDomain, kLibraryInUse,
                                  QStringLiteral("The library “%1” is open in another copy of Folivo 2.").arg(m_libraryPath));
        const bool noLocksHere = !lock && lock.error().domain == QLatin1String("POSIX")
                                 && (lock.error().code == ENOLCK || lock.error().code == EOPNOTSUPP
                                     || lock.error().code == ENOSYS);
        if (!lock && !noLocksHere)
            return platform::fail(kErrorDomain, kLibraryInUse,
                                  QStringLiteral("The library “%1” could not be locked for this copy of Folivo 2: %2")
                                      .arg(m_libraryPath, lock.error().message));
        if (lock) {
            m_lock.emplace(std::move(*lock));
        } else {
            // A file system without locks (some network shares) still opens, but nothing is
            // cleaned up there: a leftover cannot be told from another copy's running import.
            KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("The library cannot be locked, leftovers stay: %1")
                                                     .arg(lock.error().message));
        }
    }

    const QString modelPath = m_options.modelPath.isEmpty()
        ? platform::Bundle::mainBundle().pathForResource(QStringLiteral("DBModel"), QStringLiteral("momd"))
        : m_options.modelPath;
    auto model = platform::ManagedObjectModel::loadBundle(modelPath);
    if (!model) {
        qWarning().noquote() << QStringLiteral("Error: %1").arg(model.error().toString());
        return platform::fail(kErrorDomain, NoModel,
                              QStringLiteral("The library's data model “%1” could not be loaded: %2")
                                  .arg(modelPath, model.error().message));
    }

    const QString versionFile = m_libraryPath + QLatin1Char('/') + kVersionFileName;
    if (!platform::FileManager::itemExists(versionFile)) {
        const QVariantMap version{{kVersionKey, kNewLibraryVersion}, {kNameKey, kLibraryName}};
        if (auto written = platform::PropertyList::writeFile(version, versionFile, platform::PlistFormat::Xml); !written)
            KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("writing %1 failed: %2")
                                                     .arg(versionFile, written.error().toString()));
    }

    const QString storePath = m_libraryPath + QLatin1Char('/') + kStoreFileName;
    const bool storeExisted = platform::FileManager::itemExists(storePath);
    auto coordinator = platform::PersistentStoreCoordinator::create(*model);
    platform::StoreOptions storeOptions;
    storeOptions.migrateAutomatically = true;
    storeOptions.inferMappingModel = true;
    storeOptions.modelSearchPaths << modelPath;
    if (auto added = coordinator->addSQLiteStore(storePath, storeOptions); !added) {
        qWarning().noquote() << QStringLiteral("Error: %1").arg(added.error().toString());
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Error: %1").arg(added.error().toString()));
        return platform::fail(kErrorDomain, StoreNotAdded,
                              QStringLiteral("The library store “%1” could not be opened: %2")
                                  .arg(storePath, added.error().message));
    }

    m_model = *model;
    m_coordinator = coordinator;
    m_context = platform::ManagedObjectContext::create(platform::ConcurrencyType::MainQueue, coordinator);
    // A save of the main context keeps its own edits and takes the rest from the store, so it
    // never fails over a conflict with a background save.
    m_context->setMergePolicy(platform::MergePolicy::ObjectTrumpByProperty);
    if (m_options.makeDefault) {
        KPContextHelper::setDefaultStoreCoordinator(m_coordinator);
        KPContextHelper::setDefaultContext(m_context);
    }
    if (!storeExisted)
        save();
    QStringList stagings;
    if (m_lock) {
        removeLeftovers();
        // Found now, while no receive of this run can have begun; removed after the window is up.
        stagings = KPLibraryFileManager::receiveStagings(m_libraryPath);
        // Before the purge below, which then removes what the interrupted move left.
        KPSafeBoxMoveJournal::replay(m_libraryPath, m_context, m_coordinator);
    }

    startSaveTimer();
    std::weak_ptr<platform::ManagedObjectContext> weakContext = m_context;
    m_context->perform([weakContext] {
        if (auto context = weakContext.lock())
            purgeContext(context);
    });
    if (!stagings.isEmpty()) {
        m_sweep = std::make_shared<StagingSweep>();
        m_sweep->pending = true;
        m_sweep->beforeStep = m_options.beforeSweepStep;
        m_context->perform([sweep = m_sweep, stagings] { startSweep(sweep, stagings); });
    }
    return {};
}

void DataBaseEngine::removeLeftovers()
{
    const ContextPtr context = m_context;
    // Read once, and only when a journal asks: a killed import may name thousands of copies.
    std::optional<QSet<QString>> recorded;
    bool unknown = false;
    // A path counts as recorded when a document names it as its file or its thumbnail, and
    // also when that cannot be told: nothing is removed on a doubt.
    const auto isRecorded = [&](const QString& relativePath) {
        if (!recorded && !unknown) {
            auto files = context->executeFetchRequest(FetchRequest(DBFileInfo::entityName()));
            unknown = !files;
            if (files) {
                recorded.emplace();
                for (const auto& object : *files) {
                    const DBFileInfo file(object);
                    recorded->insert(file.path());
                    recorded->insert(file.thumbPath());
                }
            }
        }
        return unknown || recorded->contains(relativePath);
    };
    const QStringList copies = KPImportJournal::removeLeftovers(m_libraryPath, isRecorded);
    const QStringList staged = KPLibraryFileManager::removeStagedItems(m_libraryPath);
    if (!copies.isEmpty() || !staged.isEmpty())
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Removed %1 copies of an interrupted import and %2 unfinished files")
                                                 .arg(copies.size()).arg(staged.size()));
}

void DataBaseEngine::startSaveTimer()
{
    m_saveTimer = m_options.saveTimerFactory ? m_options.saveTimerFactory() : DataBaseSaveTimer::makeDispatchTimer();
    if (!m_saveTimer)
        return;
    // The tick may come on any thread after the engine is gone: it holds the context weakly.
    std::weak_ptr<platform::ManagedObjectContext> weakContext = m_context;
    m_saveTimer->start(m_options.saveInterval, [weakContext] {
        if (auto context = weakContext.lock())
            context->perform([context] { KPContextHelper::save(context); });
    });
}

void DataBaseEngine::purgeContext(const ContextPtr& context)
{
    int deleted = 0;
    deleted += deleteMatching(context, DBNode::entityName(), QStringLiteral("isTrash == YES"));
    deleted += deleteMatching(context, DBIndexFolder::entityName(), QStringLiteral("isTrash == YES"));
    deleted += deleteMatching(context, DBTag::entityName(), QStringLiteral("isTrash == YES"));
    deleted += deleteMatching(context, DBTagGroup::entityName(), QStringLiteral("isTrash == YES"));
    deleted += deleteMatching(context, DBFavorite::entityName(), QStringLiteral("isNeedDelete == YES"));
    if (deleted > 0)
        KPContextHelper::save(context);
    // The documents go as the window's purges do: their leftovers off the main thread (the
    // index step takes seconds on a large index), their records after them.
    if (auto marked = context->fetchObjectIDs(
            FetchRequest(DBFileInfo::entityName(), parsed(QStringLiteral("isTrash == YES && isNeedDelete == YES"))))) {
        if (!marked->isEmpty())
            purgeDocuments(context, *marked);
    } else {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("purge of %1 failed: %2")
                                                 .arg(DBFileInfo::entityName(), marked.error().toString()));
    }
}

platform::Result<void> DataBaseEngine::close()
{
    if (!m_context || m_closed)
        return {};
    m_saveTimer.reset();
    // The sweep is waited for only when the lock goes, after the other stores have closed; it
    // stops meanwhile.
    askSweepToStop();
    platform::Result<void> result;
    if (m_context->hasChanges()) {
        const ContextPtr context = m_context;
        context->performAndWait([&] {
            KPContextHelper::saveWithErrorHandler(context, [&](const platform::Error& error) {
                result = platform::fail(kErrorDomain, NotSaved,
                                        QStringLiteral("The library's last changes could not be saved: %1")
                                            .arg(error.message));
            });
        });
    }
    m_closed = true;
    if (auto closed = m_coordinator->closeStore(); !closed && result)
        result = std::unexpected(closed.error());
    if (!result)
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Closing the library: %1").arg(result.error().toString()));
    return result;
}

void DataBaseEngine::save()
{
    if (m_context && !m_closed && m_context->hasChanges())
        writeToDisk();
}

void DataBaseEngine::writeToDisk()
{
    if (ContextPtr context = m_context; context && !m_closed)
        context->perform([context] { KPContextHelper::save(context); });
}

bool DataBaseEngine::writeToDiskAndWait()
{
    ContextPtr context = m_context;
    if (!context || m_closed)
        return false;
    bool saved = false;
    context->performAndWait([&] { saved = KPContextHelper::save(context); });
    return saved;
}

bool DataBaseEngine::isValidDatabase(const QString& libraryPath)
{
    if (!platform::FileManager::fileExists(libraryPath + QLatin1Char('/') + kStoreFileName))
        return false;
    QVariantMap plist;
    recordedVersion(libraryPath, &plist);
    return plist.value(kNameKey).toString() == kLibraryName;
}

int DataBaseEngine::isValidDatabaseVersion(const QString& libraryPath)
{
    return versionClassForVersion(recordedVersion(libraryPath));
}

int DataBaseEngine::versionClassForVersion(float version)
{
    // Single precision on purpose: 2.1 must read as 21 (newer), which double arithmetic makes 20.
    const float scaled = version * 10.0f;
    if (std::isnan(scaled) || scaled < 20.0f)
        return OlderVersion;
    if (scaled >= 21.0f)
        return NewerVersion;
    return CurrentVersion;
}

const ContextPtr& DataBaseEngine::contextOr(const ContextPtr& context) const
{
    return context ? context : m_context;
}

qsizetype DataBaseEngine::countByObject(const QString& entityName, const Predicate& predicate,
                                        const ContextPtr& context)
{
    const ContextPtr& target = contextOr(context);
    if (!target)
        return kCountNotFound;
    auto count = target->countForFetchRequest(FetchRequest(entityName, predicate));
    return count ? *count : kCountNotFound;
}

platform::Result<QList<platform::ManagedObjectPtr>>
DataBaseEngine::queryRecordByName(const QString& entityName, const Predicate& predicate,
                                  const std::optional<platform::SortDescriptor>& sort, const ContextPtr& context)
{
    return queryRecordByName(entityName, predicate, sort, 0, context);
}

platform::Result<QList<platform::ManagedObjectPtr>>
DataBaseEngine::queryRecordByName(const QString& entityName, const Predicate& predicate,
                                  const std::optional<platform::SortDescriptor>& sort, int fetchLimit,
                                  const ContextPtr& context)
{
    const ContextPtr& target = contextOr(context);
    if (!target)
        return platform::fail(kErrorDomain, NotOpen, QStringLiteral("The library store is not open."));
    FetchRequest request(entityName, predicate);
    if (sort)
        request.sortDescriptors.append(*sort);
    request.fetchLimit = std::max(fetchLimit, 0);
    return target->executeFetchRequest(request);
}

platform::Result<QVariantList> DataBaseEngine::queryRecordByName(const QString& entityName, const Predicate& predicate,
                                                                 FetchRequest::ResultType resultType,
                                                                 const ContextPtr& context)
{
    const ContextPtr& target = contextOr(context);
    if (!target)
        return platform::fail(kErrorDomain, NotOpen, QStringLiteral("The library store is not open."));
    FetchRequest request(entityName, predicate);
    request.resultType = resultType;
    QVariantList values;
    switch (resultType) {
    case FetchRequest::ResultType::ManagedObjectID: {
        auto ids = target->fetchObjectIDs(request);
        if (!ids)
            return std::unexpected(ids.error());
        for (const auto& id : *ids)
            values.append(QVariant::fromValue(id));
        break;
    }
    case FetchRequest::ResultType::Count: {
        auto count = target->countForFetchRequest(request);
        if (!count)
            return std::unexpected(count.error());
        values.append(QVariant::fromValue(*count));
        break;
    }
    case FetchRequest::ResultType::ManagedObject: {
        auto objects = target->executeFetchRequest(request);
        if (!objects)
            return std::unexpected(objects.error());
        for (const auto& object : *objects)
            values.append(QVariant::fromValue(object->ref()));
        break;
    }
    }
    return values;
}
