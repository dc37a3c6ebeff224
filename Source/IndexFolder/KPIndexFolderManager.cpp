#include "IndexFolder/KPIndexFolderManager.h"

#include "Platform/Foundation/OperationQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>

using namespace platform;

namespace {

// Tuning: the slice of event processing while the destructor waits for syncers to end.
constexpr int kShutdownSliceMs = 20;

} // namespace

KPIndexFolderManager& KPIndexFolderManager::IndexFolderManager()
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    // Never destroyed: a syncer cancelled by static destruction at exit must not race the
    // stores going away.
    static KPIndexFolderManager* shared = new KPIndexFolderManager(IndexFolderServices::shared());
    return *shared;
}

KPIndexFolderManager::KPIndexFolderManager(IndexFolderServices services)
    : m_services(std::move(services))
    , m_syncers(std::make_shared<Syncers>())
    , m_operationQueue(std::make_unique<OperationQueue>(QStringLiteral("IndexFolderSyncers")))
{
    m_operationQueue->setMaxConcurrentOperationCount(kMaxConcurrentSyncers);
    auto startIndexer = m_services.startIndexer;
    m_finishedToken = NotificationCenter::defaultCenter().addObserver(
        IndexFolderSyncFinishedNotification, [startIndexer](const Notification&) {
            if (startIndexer)
                startIndexer();
        });
}

KPIndexFolderManager::~KPIndexFolderManager()
{
    m_finishedToken.remove();
    m_operationQueue->cancelAllOperations();
    // Syncers may wait for merges on the main thread: keep it turning until they are gone.
    while (m_operationQueue->operationCount() > 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, kShutdownSliceMs);
}

QString KPIndexFolderManager::keyOf(const DBIndexFolder& folder)
{
    const QString path = folder.path();
    return path.isEmpty() ? QString() : QDir::cleanPath(path);
}

void KPIndexFolderManager::syncIndexFolder(const DBIndexFolder& folder, const QVariantMap& action)
{
    const QString key = keyOf(folder);
    if (key.isEmpty())
        return;
    std::lock_guard lock(m_syncers->folderSyncersLock);
    if (auto it = m_syncers->folderSyncers.constFind(key); it != m_syncers->folderSyncers.constEnd()) {
        (*it)->addAction(action);
        return;
    }
    auto syncer = std::make_shared<KPIndexFolderSyncer>(folder, m_services);
    std::weak_ptr<KPIndexFolderSyncer> weak = syncer;
    auto syncers = m_syncers;
    // Called with the lock held; only the entry that still leads to this syncer goes.
    auto forget = [syncers, weak, key] {
        auto it = syncers->folderSyncers.find(key);
        if (it != syncers->folderSyncers.end() && *it == weak.lock())
            syncers->folderSyncers.erase(it);
    };
    syncer->setRetireHandler([syncers, forget](const std::function<bool()>& listIsEmpty) {
        std::lock_guard lock(syncers->folderSyncersLock);
        if (!listIsEmpty())
            return false;
        forget();
        return true;
    });
    // A syncer cancelled before it ran, or ended by a cancel, leaves the map too.
    syncer->setCompletionBlock([syncers, forget] {
        std::lock_guard lock(syncers->folderSyncersLock);
        forget();
    });
    syncer->addAction(action);
    m_syncers->folderSyncers.insert(key, syncer);
    m_operationQueue->addOperation(syncer);
}

void KPIndexFolderManager::stopIndexFolder(const DBIndexFolder& folder)
{
    std::lock_guard lock(m_syncers->folderSyncersLock);
    auto it = m_syncers->folderSyncers.find(keyOf(folder));
    if (it == m_syncers->folderSyncers.end())
        return;
    (*it)->stop();
    m_syncers->folderSyncers.erase(it);
}

std::shared_ptr<KPIndexFolderSyncer> KPIndexFolderManager::syncerForPath(const QString& path) const
{
    std::lock_guard lock(m_syncers->folderSyncersLock);
    return m_syncers->folderSyncers.value(path.isEmpty() ? QString() : QDir::cleanPath(path));
}

int KPIndexFolderManager::syncerCount() const
{
    std::lock_guard lock(m_syncers->folderSyncersLock);
    return int(m_syncers->folderSyncers.size());
}
