#include "IndexFolder/KPIndexFolderDBEngine.h"

#include "IndexFolder/IFFileItem.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/ObjectStore/FetchRequest.h"
#include "Platform/ObjectStore/ManagedObjectModel.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <memory>
#include <mutex>

using namespace platform;

namespace {

std::mutex g_sharedMutex;
// Never destroyed: closed at quit instead (closeShared), while sync threads may still use it.
KPIndexFolderDBEngine* g_shared = nullptr;

Error noStoreError(const QString& path)
{
    return Error{KPIndexFolderDBEngine::kErrorDomain, KPIndexFolderDBEngine::StoreUnavailableError,
                 QStringLiteral("the index-folder store %1 is not open").arg(path)};
}

} // namespace

KPIndexFolderDBEngine& KPIndexFolderDBEngine::IndexFolderDBEngine()
{
    std::lock_guard lock(g_sharedMutex);
    if (!g_shared) {
        const QString library = Paths::expandTilde(
            UserDefaults::standardUserDefaults().stringForKey(QStringLiteral("String_Library_Path")));
        g_shared = new KPIndexFolderDBEngine(library);
    }
    return *g_shared;
}

Result<void> KPIndexFolderDBEngine::closeShared()
{
    KPIndexFolderDBEngine* engine = nullptr;
    {
        std::lock_guard lock(g_sharedMutex);
        engine = g_shared;
    }
    return engine ? engine->close() : Result<void>();
}

Result<void> KPIndexFolderDBEngine::close()
{
    Result<void> result;
    if (hasStore() && m_mainContext->hasChanges())
        result = m_mainContext->save();
    if (auto closed = m_coordinator->closeStore(); !closed && result)
        result = std::unexpected(closed.error());
    if (!result)
        KPLogLogDomainMessage(QStringLiteral("Index Folder DataBase"), 0,
                              QStringLiteral("Closing %1: %2").arg(m_storePath, result.error().toString()));
    return result;
}

KPIndexFolderDBEngine::KPIndexFolderDBEngine(const QString& libraryPath, const QString& modelPath)
{
    initData(libraryPath, modelPath);
}

KPIndexFolderDBEngine::~KPIndexFolderDBEngine() = default;

QString KPIndexFolderDBEngine::storePathForLibrary(const QString& libraryPath)
{
    return QStringLiteral("%1/Index").arg(libraryPath) + QStringLiteral("/indexFolder.db");
}

void KPIndexFolderDBEngine::initData(const QString& libraryPath, const QString& modelPath)
{
    const QString momd = modelPath.isEmpty()
        ? Bundle::mainBundle().pathForResource(QStringLiteral("IndexFolderModel"), QStringLiteral("momd"))
        : modelPath;
    auto model = ManagedObjectModel::loadBundle(momd);
    if (!model) {
        // Without a model there is nothing to open; an empty model keeps every call harmless.
        KPLogLogDomainMessage(QStringLiteral("main"), 0,
                              QStringLiteral("init indexFolder.db error: %1").arg(model.error().toString()));
        model = ManagedObjectModel::fromPropertyList(
            QVariantMap{{QStringLiteral("name"), QStringLiteral("IndexFolderModel")},
                        {QStringLiteral("entities"), QVariantList()}});
    }
    m_coordinator = PersistentStoreCoordinator::create(*model);
    m_mainContext = ManagedObjectContext::create(ConcurrencyType::MainQueue, m_coordinator);

    const QString indexFolder = QStringLiteral("%1/Index").arg(libraryPath);
    m_storePath = storePathForLibrary(libraryPath);
    if (libraryPath.isEmpty() || !FileManager::createDirectory(indexFolder, true))
        KPLogLogDomainMessage(QStringLiteral("main"), 0, QStringLiteral("create .index folder lost!"));

    StoreOptions options;
    options.migrateAutomatically = true;
    options.inferMappingModel = true;
    if (!momd.isEmpty())
        options.modelSearchPaths = {momd};
    if (model->get()->entities().empty()) {
        // Logged above.
    } else if (auto added = m_coordinator->addSQLiteStore(m_storePath, options); !added) {
        KPLogLogDomainMessage(QStringLiteral("main"), 0,
                              QStringLiteral("init indexFolder.db error: %1").arg(added.error().toString()));
    }
    progressNeedRemoveRecord();
}

void KPIndexFolderDBEngine::progressNeedRemoveRecord()
{
    if (!hasStore())
        return;
    const auto removed = Predicate::format(QStringLiteral("isRemove == YES"));
    [[maybe_unused]] auto purged = saveDataWithBlock(
        [this, &removed](const ContextPtr& context) {
            if (!removed)
                return;
            for (const auto& row : queryRecordByName(IFFileItem::kEntityName, *removed, {}, context))
                context->deleteObject(row);
        },
        [](const Error&) {});
}

bool KPIndexFolderDBEngine::hasStore() const
{
    return m_coordinator && m_coordinator->hasStore();
}

ContextPtr KPIndexFolderDBEngine::newPrivateContext() const
{
    return ManagedObjectContext::create(ConcurrencyType::Confinement, m_coordinator);
}

const ContextPtr& KPIndexFolderDBEngine::contextOrMain(const ContextPtr& context) const
{
    return context ? context : m_mainContext;
}

Result<void> KPIndexFolderDBEngine::saveDataWithBlock(const ContextBlock& block, const ErrorHandler& errorHandler)
{
    auto saveIfChanged = [&](const ContextPtr& context) -> Result<void> {
        if (!context->hasChanges())
            return {};
        Result<void> saved = hasStore() ? context->save() : std::unexpected(noStoreError(m_storePath));
        if (!saved) {
            if (errorHandler)
                errorHandler(saved.error());
            else
                KPLogLogDomainMessage(QStringLiteral("Index Folder DataBase"), 0,
                                      QStringLiteral("DataBase Save Error: %1").arg(saved.error().toString()));
        }
        return saved;
    };

    if (Dispatch::isMainThread()) {
        if (block)
            block(m_mainContext);
        return saveIfChanged(m_mainContext);
    }

    ContextPtr context = newPrivateContext();
    std::weak_ptr<ManagedObjectContext> mainContext = m_mainContext;
    ObserverToken merge = context->addDidSaveObserver([mainContext](const SaveNotification& note) {
        Dispatch::main([mainContext, note] {
            if (auto main = mainContext.lock())
                main->mergeChangesFromContextDidSaveNotification(note);
        });
    });
    m_mainContext->setMergePolicy(MergePolicy::StoreTrumpByProperty);
    context->setMergePolicy(MergePolicy::Overwrite);
    if (block)
        block(context);
    Result<void> saved = saveIfChanged(context);
    merge.remove();
    m_mainContext->setMergePolicy(MergePolicy::ObjectTrumpByProperty);
    return saved;
}

void KPIndexFolderDBEngine::lookupWithBlock(const ContextBlock& block)
{
    if (!block)
        return;
    block(Dispatch::isMainThread() ? m_mainContext : newPrivateContext());
}

bool KPIndexFolderDBEngine::save()
{
    if (!m_mainContext->hasChanges())
        return true;
    Result<void> saved = hasStore() ? m_mainContext->save() : std::unexpected(noStoreError(m_storePath));
    if (!saved)
        KPLogLogDomainMessage(QStringLiteral("Index Folder DataBase"), 0,
                              QStringLiteral("DataBase Save Error: %1").arg(saved.error().toString()));
    return bool(saved);
}

Result<QList<ManagedObjectPtr>> KPIndexFolderDBEngine::fetchRecordsByName(
    const QString& entityName, const Predicate& predicate, const std::optional<SortDescriptor>& sort,
    const ContextPtr& context)
{
    if (!hasStore())
        return std::unexpected(noStoreError(m_storePath));
    FetchRequest request(entityName, predicate);
    if (sort)
        request.sortDescriptors = {*sort};
    auto rows = contextOrMain(context)->executeFetchRequest(request);
    if (!rows)
        return std::unexpected(Error{kErrorDomain, FetchError, rows.error().toString()});
    return *rows;
}

QList<ManagedObjectPtr> KPIndexFolderDBEngine::queryRecordByName(const QString& entityName,
                                                                 const Predicate& predicate,
                                                                 const std::optional<SortDescriptor>& sort,
                                                                 const ContextPtr& context)
{
    auto rows = fetchRecordsByName(entityName, predicate, sort, context);
    return rows ? *rows : QList<ManagedObjectPtr>();
}

ManagedObjectPtr KPIndexFolderDBEngine::createNewRecordByName(const QString& entityName, const ContextPtr& context)
{
    return contextOrMain(context)->insertNewObject(entityName);
}

qsizetype KPIndexFolderDBEngine::countByObject(const QString& entityName, const Predicate& predicate,
                                               const ContextPtr& context)
{
    if (!hasStore())
        return 0;
    FetchRequest request(entityName, predicate);
    request.resultType = FetchRequest::ResultType::Count;
    auto count = contextOrMain(context)->countForFetchRequest(request);
    return count ? *count : 0;
}
