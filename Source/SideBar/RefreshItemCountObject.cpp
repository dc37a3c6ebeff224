#include "SideBar/RefreshItemCountObject.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/ObjectStore/FetchRequest.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "Platform/ObjectStore/ObjectID.h"
#include "Store/DBFileInfo.h"
#include "Store/DBHelper.h"
#include "Store/DBIndexFolderMetadata.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPCoreDataAction.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QHash>

namespace K = ItemCountKey;

namespace {

platform::Predicate predicateOf(const QString& format, const QVariantList& arguments = {})
{
    auto predicate = platform::Predicate::format(format, arguments);
    if (!predicate) {
        KPLogLogMessage(QStringLiteral("item count predicate \"%1\": %2").arg(format, predicate.error().toString()));
        // Counting nothing beats counting everything.
        return *platform::Predicate::format(QStringLiteral("FALSEPREDICATE"));
    }
    return *predicate;
}

// Live documents per related object of keyPath, in one pass over the store.
QHash<platform::ObjectID, qsizetype> groupedCounts(const std::shared_ptr<platform::ManagedObjectContext>& context,
                                                   const QString& keyPath)
{
    platform::FetchRequest request(DBFileInfo::entityName(), predicateOf(QStringLiteral("isTrash == NO")));
    request.groupByKeyPath = keyPath;
    QHash<platform::ObjectID, qsizetype> counts;
    auto groups = context->groupedCountForFetchRequest(request);
    if (!groups) {
        KPLogLogMessage(QStringLiteral("item count by %1: %2").arg(keyPath, groups.error().toString()));
        return counts;
    }
    for (const platform::GroupCount& group : *groups) {
        if (group.value.canConvert<platform::ObjectID>())
            counts.insert(group.value.value<platform::ObjectID>(), group.count);
    }
    return counts;
}

} // namespace

RefreshItemCountObject::Ptr RefreshItemCountObject::initWithSetting(const QVariantMap& setting, DataBaseEngine* engine)
{
    return std::make_shared<RefreshItemCountObject>(Private{}, setting, engine);
}

RefreshItemCountObject::Ptr RefreshTagItemCountObject::initWithSetting(const QVariantMap& setting,
                                                                       DataBaseEngine* engine)
{
    return std::make_shared<RefreshTagItemCountObject>(Private{}, setting, engine);
}

RefreshItemCountObject::RefreshItemCountObject(Private, QVariantMap setting, DataBaseEngine* engine)
    : m_setting(std::move(setting)), m_engine(engine ? engine : DataBaseEngine::dataBaseEngine())
{
}

RefreshItemCountObject::~RefreshItemCountObject() = default;

void RefreshItemCountObject::refreshWithBlock(Completion completion)
{
    m_completion = std::move(completion);
    // While it settles, the job lives in the scheduler's work, not in itself: work that never
    // runs (the program quits first) then frees it instead of leaving it holding itself.
    m_settle = platform::kit::Scheduler::current().after(kSettleMs, [self = shared_from_this()] { self->start(); });
}

void RefreshItemCountObject::start()
{
    m_self = shared_from_this();
    if (isCancel()) {
        doCancel();
        return;
    }
    const Ptr self = shared_from_this();
    KPCoreDataAction::lookupWithBlockWithBackground([self](const platform::ContextPtr& context) {
        if (context && !self->isCancel())
            self->count(context);
        self->doCancel();
    });
}

bool RefreshItemCountObject::countInto(const QString& key, const QString& format, const ContextPtr& context)
{
    m_resultData.insert(key, qint64(m_engine->countByObject(DBFileInfo::entityName(), predicateOf(format), context)));
    return !checkCancel();
}

bool RefreshItemCountObject::countTags(const ContextPtr& context)
{
    if (!countInto(K::UnTagCount, QStringLiteral("isTrash == NO && tags.@count == 0"), context))
        return false;
    countEach(K::TagObj, QStringLiteral("tags"), context);
    return !checkCancel();
}

void RefreshItemCountObject::countEach(const QString& key, const QString& keyPath, const ContextPtr& context)
{
    const QVariantList objects = m_setting.value(key).toList();
    if (objects.isEmpty())
        return;
    const auto counts = groupedCounts(context, keyPath);
    QVariantMap byObject;
    for (const QVariant& object : objects) {
        const auto id = object.value<platform::ObjectID>();
        byObject.insert(id.URIRepresentation(), qint64(counts.value(id, 0)));
        if (checkCancel())
            break;
    }
    m_resultData.insert(key, byObject);
}

void RefreshItemCountObject::count(const ContextPtr& context)
{
    if (!countInto(K::DocumentsCount, QStringLiteral("isTrash == NO"), context) ||
        !countInto(K::TrashCount, QStringLiteral("isTrash == YES && isNeedDelete == NO"), context))
        return;
    countInto(K::ReceiveCount, QStringLiteral("isTrash == NO && extendField == \"ReceiveFromDevice\""), context);
    countInto(K::UnCollectionCount, QStringLiteral("isTrash == NO && node == nil"), context);
    countEach(K::CollectionObj, QStringLiteral("node"), context);
    if (checkCancel() || !countTags(context))
        return;
    const QStringList paths = m_setting.value(K::IndexObj).toStringList();
    if (paths.isEmpty())
        return;
    QVariantMap byPath;
    for (const QString& path : paths) {
        const auto predicate = predicateOf(QStringLiteral("folderID == %@ && fileInfo.isTrash == NO"),
                                           {QVariant::fromValue(DBHelper::folderIDForFolderPath(path))});
        byPath.insert(path, qint64(m_engine->countByObject(DBIndexFolderMetadata::entityName(), predicate, context)));
        if (checkCancel())
            break;
    }
    m_resultData.insert(K::IndexObj, byPath);
}

bool RefreshItemCountObject::checkCancel()
{
    return isCancel();
}

void RefreshTagItemCountObject::count(const ContextPtr& context)
{
    countTags(context);
}

void RefreshItemCountObject::doCancel()
{
    std::call_once(m_delivered, [this] {
        Ptr self = std::move(m_self);
        platform::Dispatch::main([self] {
            if (self->m_completion)
                self->m_completion(self->m_resultData, self);
            self->m_completion = nullptr;
        });
    });
}
