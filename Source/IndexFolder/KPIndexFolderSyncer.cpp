#include "IndexFolder/KPIndexFolderSyncer.h"

#include "IndexFolder/IFFileItem.h"
#include "IndexFolder/IndexFolderID.h"
#include "IndexFolder/KPFolderSnapshot.h"
#include "IndexFolder/KPFolderSnapshotAnalytics.h"
#include "IndexFolder/KPIndexFolderDBEngine.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/OperationQueue.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Store/DBFileInfo.h"
#include "Store/DBIndexFolderMetadata.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPContextHelper.h"
#include "Store/KPCoreDataAction.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QSet>
#include <algorithm>

using namespace platform;

namespace {

const QString kLogDomain = QStringLiteral("IndexFolder");

QString cleanFolder(const QString& path)
{
    return path.isEmpty() ? QString() : QDir::cleanPath(path);
}

QString withSlash(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

// The deepest folder that holds both (by whole components).
QString commonFolder(const QString& a, const QString& b)
{
    const QStringList x = a.split(QLatin1Char('/'));
    const QStringList y = b.split(QLatin1Char('/'));
    QStringList common;
    for (qsizetype i = 0; i < x.size() && i < y.size() && x[i] == y[i]; ++i)
        common.append(x[i]);
    const QString joined = common.join(QLatin1Char('/'));
    return joined.isEmpty() ? QStringLiteral("/") : joined;
}

bool isFolder(const QString& path)
{
    bool directory = false;
    return FileManager::fileExists(path, &directory) && directory;
}

} // namespace

KPIndexFolderSyncer::KPIndexFolderSyncer(const DBIndexFolder& folder, IndexFolderServices services)
    : m_path(cleanFolder(folder.path()))
    , m_folderID(folder.objectID())
    , m_folder(folder)
    , m_services(std::move(services))
    , m_importQueue(std::make_unique<OperationQueue>(QStringLiteral("IndexFolderImport")))
{
    m_importQueue->setMaxConcurrentOperationCount(1);
    setName(QStringLiteral("IndexFolderSyncer"));
}

KPIndexFolderSyncer::~KPIndexFolderSyncer()
{
    // The folder view belongs to the main context: let it go there.
    Dispatch::main([folder = std::move(m_folder)] {});
}

void KPIndexFolderSyncer::addAction(const QVariantMap& action)
{
    std::lock_guard lock(m_mutex);
    m_syncActions.append(action);
    ++m_arrivals;
    m_wake.notify_all();
}

int KPIndexFolderSyncer::pendingActionCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_syncActions.size());
}

void KPIndexFolderSyncer::setRetireHandler(RetireHandler handler)
{
    std::lock_guard lock(m_mutex);
    m_retire = std::move(handler);
}

void KPIndexFolderSyncer::cancel()
{
    Operation::cancel();
    m_importQueue->cancelAllOperations();
    std::lock_guard lock(m_mutex);
    m_wake.notify_all();
}

void KPIndexFolderSyncer::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    cancel();
}

KPIndexFolderSyncer::PassOutcome KPIndexFolderSyncer::lastOutcome() const
{
    std::lock_guard lock(m_mutex);
    return m_lastOutcome;
}

std::optional<QVariantMap> KPIndexFolderSyncer::takeAction()
{
    std::lock_guard lock(m_mutex);
    if (m_syncActions.isEmpty())
        return std::nullopt;
    return m_syncActions.takeFirst();
}

bool KPIndexFolderSyncer::waitForQuiet()
{
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock lock(m_mutex);
    while (!isCancelled()) {
        const quint64 seen = m_arrivals;
        const bool arrived = m_wake.wait_for(lock, kDebounce, [&] { return isCancelled() || m_arrivals != seen; });
        if (isCancelled())
            break;
        if (!arrived || std::chrono::steady_clock::now() - start >= kMaxDebounce)
            return true;
    }
    return false;
}

bool KPIndexFolderSyncer::idleEnds()
{
    for (int look = 0; look < kIdleLooks; ++look) {
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, kIdleStep, [&] { return isCancelled() || !m_syncActions.isEmpty(); });
        if (isCancelled())
            return true;
        if (!m_syncActions.isEmpty())
            return false;
    }
    RetireHandler retire;
    {
        std::lock_guard lock(m_mutex);
        retire = m_retire;
    }
    auto listIsEmpty = [this] {
        std::lock_guard lock(m_mutex);
        return m_syncActions.isEmpty();
    };
    return retire ? retire(listIsEmpty) : listIsEmpty();
}

QString KPIndexFolderSyncer::mergePendingChanges(const QVariantMap& first, bool* fullSync)
{
    QStringList folders{first.value(IndexFolderAction::Folder).toString()};
    {
        std::lock_guard lock(m_mutex);
        for (const QVariantMap& action : std::as_const(m_syncActions)) {
            const QString type = action.value(IndexFolderAction::ActionType).toString();
            if (type == IndexFolderAction::TopLevel)
                *fullSync = true;
            else if (type == IndexFolderAction::FolderWasChange)
                folders.append(action.value(IndexFolderAction::Folder).toString());
        }
        m_syncActions.clear();
    }
    if (*fullSync)
        return m_path;
    QString merged;
    for (const QString& changed : folders) {
        QString folder = cleanFolder(changed);
        if (folder.isEmpty() || !Paths::isPathInside(folder, m_path))
            folder = m_path;
        merged = merged.isEmpty() ? folder : commonFolder(merged, folder);
    }
    // A folder that is gone is seen from the nearest one that still exists.
    while (merged != m_path && !isFolder(merged))
        merged = folderOfPath(merged);
    *fullSync = merged == m_path;
    return merged;
}

void KPIndexFolderSyncer::main()
{
    while (true) {
        std::optional<QVariantMap> action = takeAction();
        if (isCancelled())
            return;
        if (!action) {
            if (idleEnds())
                return;
            continue;
        }
        const QString type = action->value(IndexFolderAction::ActionType).toString();
        if (type == IndexFolderAction::FolderWasChange && !waitForQuiet())
            return;
        post(IndexFolderSyncStartNotification);
        bool finished = true;
        if (type == IndexFolderAction::TopLevel) {
            finished = runPass(m_path, true);
        } else if (type == IndexFolderAction::FolderWasChange) {
            bool fullSync = false;
            const QString folder = mergePendingChanges(*action, &fullSync);
            finished = runPass(folder, fullSync);
        }
        if (!finished)
            return;
        post(IndexFolderSyncFinishedNotification);
        if (isCancelled()) {
            bool stopped = false;
            {
                std::lock_guard lock(m_mutex);
                stopped = m_stopped;
            }
            if (stopped)
                trashDocuments();
            return;
        }
    }
}

KPFileNode::Ptr KPIndexFolderSyncer::walk(const QString& folder, bool files,
                                          const KPFolderSnapshot::RememberedFiles& remembered) const
{
    KPFolderSnapshot snapshot(folder, m_services.libraryPath);
    snapshot.setBSnapshotFile(files);
    snapshot.setDeviceReader(m_services.deviceOfPath);
    snapshot.setClock(m_services.clock);
    snapshot.setRememberedFiles(remembered);
    return snapshot.snapShotAndChildren();
}

KPFileNode::Ptr KPIndexFolderSyncer::walkAgainstRows(KPFolderSnapshotAnalytics& analytics, const QString& folder) const
{
    // The rows are read first, so that the walk reads the attributes of changed files only.
    analytics.readRows(folder);
    KPFileNode::Ptr tree = walk(folder, true, analytics.rememberedFiles());
    analytics.setFileNode(tree);
    return tree;
}

bool KPIndexFolderSyncer::runPass(const QString& folder, bool fullSync)
{
    if (!fullSync)
        postTree(walk(m_path, false));
    KPFolderSnapshotAnalytics analytics(nullptr, m_services.indexStore);
    const KPFileNode::Ptr tree = walkAgainstRows(analytics, fullSync ? m_path : folder);
    if (fullSync) {
        postTree(tree);
        if (isCancelled()) {
            setOutcome(PassOutcome::Cancelled);
            return false;
        }
    }
    compareAndImport(analytics, tree, fullSync);
    return true;
}

void KPIndexFolderSyncer::compareAndImport(KPFolderSnapshotAnalytics& analytics, const KPFileNode::Ptr& tree,
                                           bool isRoot)
{
    auto batch = std::make_shared<IndexFolderImportBatch>();
    batch->folder = tree->path();
    const auto compared = analytics.analyticsWithChunkCompletedBlock([&](const IndexFolderDiffChunk& chunk) {
        auto import = std::make_shared<IndexFolderImportDataPushObj>(chunk, batch, m_services);
        if (isCancelled())
            import->cancel();
        m_importQueue->addOperation(import);
    });
    if (!compared) {
        if (compared.error().code == KPIndexFolderDBEngine::UnreachableError && !isRoot) {
            // Only the root can be out of reach; an emptied sub-folder is judged from the root.
            KPFolderSnapshotAnalytics whole(nullptr, m_services.indexStore);
            const KPFileNode::Ptr root = walkAgainstRows(whole, m_path);
            compareAndImport(whole, root, true);
            return;
        }
        if (compared.error().code == KPIndexFolderDBEngine::UnreachableError) {
            markLost(true);
            setOutcome(PassOutcome::Unreachable);
        } else {
            setOutcome(PassOutcome::StoreFailed);
        }
        return;
    }
    m_importQueue->waitUntilAllOperationsAreFinished();
    if (isCancelled()) {
        setOutcome(PassOutcome::Cancelled);
        return;
    }
    bool failed = false;
    {
        std::lock_guard lock(batch->mutex);
        failed = batch->libraryFailed;
    }
    if (isRoot && !failed) {
        markLost(false);
        rememberVolume(*tree);
    }
    setOutcome(failed ? PassOutcome::StoreFailed : PassOutcome::Synced);
}

void KPIndexFolderSyncer::rememberVolume(const KPFileNode& root)
{
    // What the next pass needs to tell an emptied folder from an unmounted volume.
    if (!root.volume() || !m_services.indexStore)
        return;
    if (auto recorded = IFFolderItem::rememberVolume(*m_services.indexStore, root.path(), *root.volume()); !recorded)
        KPLogLogDomainMessage(kLogDomain, 0,
                              QStringLiteral("Index folder %1: its volume was not recorded: %2")
                                  .arg(m_path, recorded.error().toString()));
}

void KPIndexFolderSyncer::setOutcome(PassOutcome outcome)
{
    std::lock_guard lock(m_mutex);
    m_lastOutcome = outcome;
}

void KPIndexFolderSyncer::markLost(bool lost)
{
    if (m_folderID.isNull() || !KPContextHelper::defaultContext())
        return;
    if (lost)
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Index folder %1 is marked lost").arg(m_path));
    KPCoreDataAction::saveDataWithBlock(
        [&](const ContextPtr& context) {
            DBIndexFolder folder(context->existingObjectWithID(m_folderID));
            if (folder && folder.isLost() != lost)
                folder.setIsLost(lost);
        },
        [](const Error&) {});
}

void KPIndexFolderSyncer::trashDocuments()
{
    // The removal of the folder already purge-marked its documents and flagged their rows; what
    // is left are documents the interrupted pass imported after it. A document under a folder
    // that is still live stays: an index folder nested in this one, one that encloses it, or this
    // folder itself when its removal was not saved. The rows of the documents marked here are
    // flagged too (no other row is touched), or their files would look known to any folder that
    // watches them later and never come back.
    if (!KPContextHelper::defaultContext() || !m_services.library)
        return;
    const auto liveFolders = Predicate::format(QStringLiteral("isTrash == NO"));
    const auto below = Predicate::format(QStringLiteral("isIndex == YES && isNeedDelete == NO && path BEGINSWITH %@"),
                                         {withSlash(m_path)});
    if (!liveFolders || !below)
        return;
    QSet<quint64> marked;
    bool saved = true;
    KPCoreDataAction::saveDataWithBlock(
        [&](const ContextPtr& context) {
            auto folders = m_services.library->queryRecordByName(DBIndexFolder::entityName(), *liveFolders,
                                                                 std::nullopt, 0, context);
            auto found = m_services.library->queryRecordByName(DBFileInfo::entityName(), *below, std::nullopt, 0,
                                                               context);
            if (!folders || !found) {
                KPLogLogDomainMessage(kLogDomain, 0,
                                      QStringLiteral("Index folder %1: its documents were not looked up").arg(m_path));
                return;
            }
            QStringList live;
            for (const auto& object : std::as_const(*folders))
                live.append(DBIndexFolder(object).path());
            for (const auto& object : std::as_const(*found)) {
                DBFileInfo file(object);
                const QString path = file.path();
                if (std::any_of(live.cbegin(), live.cend(),
                                [&](const QString& folder) { return Paths::isPathInside(path, folder); }))
                    continue;
                file.setIsTrash(true);
                file.setIsNeedDelete(true);
                if (const DBIndexFolderMetadata metadata = file.indexFolderMetadata())
                    marked.insert(metadata.uuid());
            }
        },
        [&](const Error&) { saved = false; });
    if (!saved || marked.isEmpty() || !m_services.indexStore)
        return;
    auto rows = Predicate::format(QStringLiteral("isRemove == NO && (folder == %@ || folder BEGINSWITH %@)"),
                                  {m_path, withSlash(m_path)});
    if (!rows)
        return;
    [[maybe_unused]] auto flagged = m_services.indexStore->saveDataWithBlock([&](const ContextPtr& context) {
        for (const auto& row : m_services.indexStore->queryRecordByName(IFFileItem::kEntityName, *rows, {}, context)) {
            if (marked.contains(IFFileItem::read(*row).uuid))
                row->setValueForKey(true, IFFileItem::kIsRemove);
        }
    });
}

void KPIndexFolderSyncer::post(const QString& name) const
{
    DBIndexFolder folder = m_folder;
    Dispatch::main([name, folder] { NotificationCenter::defaultCenter().post(name, folder.ref()); });
}

void KPIndexFolderSyncer::postTree(const KPFileNode::Ptr& tree) const
{
    DBIndexFolder folder = m_folder;
    Dispatch::main([folder, tree] {
        const QVariantMap info{{IndexFolderTreeInfo::IndexFolder, folder.ref()},
                               {IndexFolderTreeInfo::FileNode, QVariant::fromValue(tree)}};
        NotificationCenter::defaultCenter().post(IndexFolderSyncNodeGeneratorFinishedNotification, info);
    });
}
