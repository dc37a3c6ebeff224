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

// The tags an import created, with the IDs they keep once saved, for the outcome.
void keepNewTags(const ContextPtr& context, const QList<DBTag>& newTags, KPImportStore::Outcome& outcome)
{
    if (newTags.isEmpty())
        return;
    (void)context->obtainPermanentIDsForObjects(DBRecord::objectsOf(newTags));
    outcome.newTags = refsOf(newTags);
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

namespace {

// Where the import's documents go: the target node, or a new folder under it when a name was
// given (reported back as the outcome's new node).
DBNode importTarget(DataBaseEngine* db, const ContextPtr& context, const QVariant& targetNode,
                    const QString& newFolderName, KPImportStore::Outcome& outcome)
{
    DBNode target = nodeInContext(targetNode, context);
    if (newFolderName.isNull())
        return target;
    DBNode folder = db->createDBNode(context);
    folder.setTitle(newFolderName);
    folder.setType(DBNode::Folder);
    if (target)
        folder.setParent(target);
    outcome.newNode = folder.ref();
    return folder;
}

KPImportStore::Outcome failed(const QString& reason)
{
    logStore(reason);
    KPImportStore::Outcome outcome;
    outcome.error = reason;
    return outcome;
}

} // namespace

KPImportStore::Outcome KPImportEngineStore::store(const QVariant& targetNode, const QString& newFolderName,
                                                  const std::function<bool()>& isCancelled, const Fill& fill)
{
    DataBaseEngine* db = engine();
    if (!db || !db->isOpen())
        return failed(QStringLiteral("The library store is not open; nothing was stored"));
    // A folder made a moment ago may exist in the main context only; the import's context
    // would not find it and file the documents nowhere.
    const ObjectID targetID = objectIDOf(targetNode);
    if (targetID.isTemporaryID() && !saveMainContext(isCancelled))
        return failed(QStringLiteral("The folder to import into could not be saved"));

    const ContextPtr context = platform::ManagedObjectContext::create(platform::ConcurrencyType::PrivateQueue,
                                                                      db->coordinator());
    // Other saves may have changed the target folder or a tag since they were read here: this
    // save adds its own links and changes nothing else.
    context->setMergePolicy(platform::MergePolicy::ObjectTrumpByProperty);
    std::weak_ptr<platform::ManagedObjectContext> main = db->context();
    const platform::ObserverToken merge = context->addDidSaveObserver([main](const platform::SaveNotification& note) {
        platform::Dispatch::main([main, note] {
            if (auto context = main.lock())
                context->mergeChangesFromContextDidSaveNotification(note);
        });
    });

    Outcome outcome;
    context->performAndWait([&] {
        const DBNode target = importTarget(db, context, targetNode, newFolderName, outcome);
        const int stored = fill(context, target, outcome);
        outcome.saved = KPContextHelper::saveWithErrorHandler(context, [&](const platform::Error& error) {
            outcome.error = QStringLiteral("The library could not store the documents: %1").arg(error.message);
        });
        if (outcome.saved) {
            outcome.successCount = stored;
        } else {
            outcome.newNode = QVariant();
            outcome.newTags.clear();
        }
    });
    if (!outcome.saved)
        logStore(outcome.error);
    return outcome;
}

KPImportStore::Outcome KPImportEngineStore::storeFlat(const QVariantList& records, const QVariant& targetNode,
                                                      const QString& newFolderName,
                                                      const std::function<bool()>& isCancelled)
{
    DataBaseEngine* db = engine();
    return store(targetNode, newFolderName, isCancelled, [&](const ContextPtr& context, const DBNode& target, Outcome& outcome) {
        DBRecent recent = DBRecord::insertNewObject<DBRecent>(context);
        recent.setDate(QDateTime::currentDateTimeUtc());
        recent.setType(0);
        QList<DBTag> newTags;
        const QList<DBFileInfo> files = db->insertRecords(importRecords(records), target, recent, &newTags, context);
        keepNewTags(context, newTags, outcome);
        return int(files.size());
    });
}

KPImportStore::Outcome KPImportEngineStore::storeTree(KPFileSysytemItem& root, const QVariant& targetNode,
                                                      const QString& newFolderName,
                                                      const std::function<bool()>& isCancelled)
{
    DataBaseEngine* db = engine();
    return store(targetNode, newFolderName, isCancelled, [&](const ContextPtr& context, const DBNode& target, Outcome& outcome) {
        QList<DBTag> newTags;
        int stored = 0;
        std::function<void(KPFileSysytemItem&, const DBNode&)> storeItem = [&](KPFileSysytemItem& item,
                                                                               const DBNode& parent) {
            DBNode node = db->createDBNode(context);
            node.setTitle(item.title());
            node.setType(DBNode::Folder);
            if (parent)
                node.setParent(parent);
            item.setDataObj(node.ref());
            if (!item.items().isEmpty()) {
                QList<DBTag> created;
                stored += int(db->insertRecords(importRecords(item.items()), node, {}, &created, context).size());
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
        keepNewTags(context, newTags, outcome);
        return stored;
    });
}
