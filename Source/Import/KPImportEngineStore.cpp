#include "Import/KPImportEngineStore.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPContextHelper.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QElapsedTimer>
#include <chrono>
#include <future>

using platform::ContextPtr;
using platform::ManagedObject;
using platform::ObjectID;

namespace {

// Tuning: how often a waiting import looks at its cancel flag.
constexpr auto kSaveWaitSlice = std::chrono::milliseconds(50);

ObjectID objectIDOf(const QVariant& node)
{
    if (!node.isValid())
        return {};
    if (node.metaType() == QMetaType::fromType<ObjectID>())
        return node.value<ObjectID>();
    if (auto object = ManagedObject::fromRef(node))
        return object->objectID();
    return {};
}

DBNode nodeInContext(const QVariant& node, const ContextPtr& context)
{
    const ObjectID id = objectIDOf(node);
    return id.isNull() ? DBNode() : DBNode(context->existingObjectWithID(id));
}

QList<ImportRecord> importRecords(const QVariantList& records)
{
    QList<ImportRecord> out;
    out.reserve(records.size());
    for (const QVariant& record : records)
        out.append(record.toMap());
    return out;
}

QVariantList refsOf(const QList<DBTag>& tags)
{
    QVariantList refs;
    for (const DBTag& tag : tags)
        refs.append(tag.ref());
    return refs;
}

void logStore(const QString& message)
{
    KPLogLogDomainMessage(QStringLiteral("Import"), 0, message);
}

} // namespace

KPImportEngineStore::KPImportEngineStore(DataBaseEngine* engine)
    : m_engine(engine)
{
}

DataBaseEngine* KPImportEngineStore::engine() const
{
    return m_engine ? m_engine : DataBaseEngine::dataBaseEngine();
}

std::shared_ptr<KPImportStore> KPImportStore::libraryStore()
{
    return std::make_shared<KPImportEngineStore>();
}

QVariant KPImportEngineStore::objectForMainThread(const QVariant& reference) const
{
    const ObjectID id = objectIDOf(reference);
    const ContextPtr main = engine() ? engine()->context() : ContextPtr();
    if (id.isNull() || !main)
        return reference;
    auto object = main->existingObjectWithID(id);
    return object ? QVariant::fromValue(object->ref()) : reference;
}

bool KPImportEngineStore::saveMainContext(const std::function<bool()>& isCancelled) const
{
    const ContextPtr main = engine()->context();
    if (!main)
        return false;
    if (platform::Dispatch::isMainThread())
        return KPContextHelper::save(main);
    auto done = std::make_shared<std::promise<bool>>();
    std::future<bool> saved = done->get_future();
    main->perform([main, done] { done->set_value(KPContextHelper::save(main)); });
    QElapsedTimer sinceCancel;
    while (saved.wait_for(kSaveWaitSlice) != std::future_status::ready) {
        if (!isCancelled || !isCancelled())
            continue;
        if (!sinceCancel.isValid())
            sinceCancel.start();
        else if (sinceCancel.elapsed() >= kCancelledSaveWaitMs) {
            logStore(QStringLiteral("The library was not written to disk before the import had to end"));
            return false;
        }
    }
    return saved.get();
}

// A child of the main context for one import's records, or null (logged) without a store.
namespace {

ContextPtr importContext(DataBaseEngine* db)
{
    if (!db || !db->context()) {
        logStore(QStringLiteral("The library store is not open; nothing was stored"));
        return nullptr;
    }
    return platform::ManagedObjectContext::create(platform::ConcurrencyType::PrivateQueue, db->context());
}

// Where the import's documents go: the target node, or a new folder under it when a name was
// given (reported back as the outcome's new node).
DBNode importTarget(DataBaseEngine* db, const ContextPtr& child, const QVariant& targetNode,
                    const QString& newFolderName, KPImportStore::Outcome& outcome)
{
    DBNode target = nodeInContext(targetNode, child);
    if (newFolderName.isNull())
        return target;
    DBNode folder = db->createDBNode(child);
    folder.setTitle(newFolderName);
    folder.setType(DBNode::Folder);
    if (target)
        folder.setParent(target);
    outcome.newNode = folder.ref();
    return folder;
}

} // namespace

KPImportStore::Outcome KPImportEngineStore::storeFlat(const QVariantList& records, const QVariant& targetNode,
                                                      const QString& newFolderName,
                                                      const std::function<bool()>& isCancelled)
{
    Outcome outcome;
    DataBaseEngine* db = engine();
    const ContextPtr child = importContext(db);
    if (!child)
        return outcome;
    child->performAndWait([&] {
        const DBNode target = importTarget(db, child, targetNode, newFolderName, outcome);
        DBRecent recent = DBRecord::insertNewObject<DBRecent>(child);
        recent.setDate(QDateTime::currentDateTimeUtc());
        recent.setType(0);
        QList<DBTag> newTags;
        const QList<DBFileInfo> files = db->insertRecords(importRecords(records), target, recent, &newTags, child);
        if (!newTags.isEmpty())
            (void)child->obtainPermanentIDsForObjects(DBRecord::objectsOf(newTags));
        outcome.saved = KPContextHelper::save(child);
        if (outcome.saved) {
            outcome.successCount = int(files.size());
            outcome.newTags = refsOf(newTags);
        } else {
            outcome.newNode = QVariant();
        }
    });
    if (outcome.saved)
        outcome.durable = saveMainContext(isCancelled);
    return outcome;
}

KPImportStore::Outcome KPImportEngineStore::storeTree(KPFileSysytemItem& root, const QVariant& targetNode,
                                                      const QString& newFolderName,
                                                      const std::function<bool()>& isCancelled)
{
    Outcome outcome;
    DataBaseEngine* db = engine();
    const ContextPtr child = importContext(db);
    if (!child)
        return outcome;
    child->performAndWait([&] {
        const DBNode target = importTarget(db, child, targetNode, newFolderName, outcome);
        QList<DBTag> newTags;
        int stored = 0;
        std::function<void(KPFileSysytemItem&, const DBNode&)> storeItem = [&](KPFileSysytemItem& item,
                                                                               const DBNode& parent) {
            DBNode node = db->createDBNode(child);
            node.setTitle(item.title());
            node.setType(DBNode::Folder);
            if (parent)
                node.setParent(parent);
            item.setDataObj(node.ref());
            if (!item.items().isEmpty()) {
                QList<DBTag> created;
                stored += int(db->insertRecords(importRecords(item.items()), node, {}, &created, child).size());
                newTags += created;
            }
            for (const auto& sub : item.children())
                storeItem(*sub, node);
        };
        if (!root.items().isEmpty()) {
            storeItem(root, target);
        } else {
            for (const auto& sub : root.children())
                storeItem(*sub, target);
        }
        if (!newTags.isEmpty())
            (void)child->obtainPermanentIDsForObjects(DBRecord::objectsOf(newTags));
        outcome.saved = KPContextHelper::save(child);
        if (outcome.saved) {
            outcome.successCount = stored;
            outcome.newTags = refsOf(newTags);
        } else {
            outcome.newNode = QVariant();
        }
    });
    if (outcome.saved)
        outcome.durable = saveMainContext(isCancelled);
    return outcome;
}
