#include "Search/KPIndexLibraryStore.h"

#include "Store/DBDocumentIndex.h"
#include "Store/DBFileInfo.h"
#include "Store/DBHelper.h"
#include "Store/KPContextHelper.h"
#include "Store/KPCoreDataAction.h"
#include "Utilities/KPLogger/KPLogClient.h"

using namespace platform;

namespace {

const QString kWaitingPredicate = QStringLiteral("skDocumentID == -1 AND fileInfo.isTrash == NO");
// Trashed documents wait too: the new index no longer holds them, and leaving the trash must
// bring them back into it.
const QString kResetPredicate = QStringLiteral("skDocumentID != -3");

Result<QList<ManagedObjectPtr>> fetchIndexRecords(const ContextPtr& context, const QString& predicateText,
                                                  QList<SortDescriptor> sort = {}, int limit = 0)
{
    Result<Predicate> predicate = Predicate::parse(predicateText);
    if (!predicate)
        return std::unexpected(predicate.error());
    return context->executeFetchRequest(
        FetchRequest(DBDocumentIndex::entityName(), *predicate, std::move(sort), limit));
}

// A save of a background child reaches the default context at once; the store file gets it
// with the default context's next save, queued here as the other background saves do.
bool saveChild(const ContextPtr& context)
{
    if (!KPContextHelper::save(context))
        return false;
    if (ContextPtr main = KPContextHelper::defaultContext())
        main->perform([main] { KPContextHelper::save(main); });
    return true;
}

} // namespace

Result<QVariantList> KPIndexLibraryStore::fetchWaitingRecords(int limit)
{
    Result<QVariantList> answer = QVariantList();
    KPCoreDataAction::lookupWithBlockWithBackgroundAndWait([&](const ContextPtr& context) {
        Result<QList<ManagedObjectPtr>> found = fetchIndexRecords(context, kWaitingPredicate, {}, limit);
        if (!found) {
            answer = std::unexpected(found.error());
            return;
        }
        for (const ManagedObjectPtr& object : std::as_const(*found)) {
            const DBDocumentIndex record(object);
            const DBFileInfo file = record.fileInfo();
            // A record that names no document gets no path, so the worker marks it failed
            // instead of fetching it again on every pass.
            const bool usable = file && (!file.objectID().isTemporaryID()
                                         || context->obtainPermanentIDsForObjects({file.object()}));
            answer->append(QVariantMap{{QStringLiteral("Type"), QStringLiteral("New")},
                                       {QStringLiteral("ID"), QVariant::fromValue(record.objectID())},
                                       {QStringLiteral("Path"), usable ? DBHelper::CombinFileAbsolutePath(file) : QString()},
                                       {QStringLiteral("URI"), usable ? file.URIString() : QString()},
                                       {QStringLiteral("SKID"), record.skDocumentID()}});
        }
    });
    return answer;
}

bool KPIndexLibraryStore::writeResults(const QVariantList& entries)
{
    bool saved = false;
    KPCoreDataAction::lookupWithBlockWithBackgroundAndWait([&](const ContextPtr& context) {
        for (const QVariant& value : entries) {
            const QVariantMap entry = value.toMap();
            DBDocumentIndex record(context->existingObjectWithID(entry.value(QStringLiteral("ID")).value<ObjectID>()));
            // A document deleted meanwhile has nothing left to mark.
            if (record)
                record.setSkDocumentID(entry.value(QStringLiteral("DocumentID")).toLongLong());
        }
        saved = !context->hasChanges() || saveChild(context);
    });
    return saved;
}

QList<qint64> KPIndexLibraryStore::documentsWithoutRecord(const QVariantList& entries)
{
    QList<qint64> gone;
    KPCoreDataAction::lookupWithBlockWithBackgroundAndWait([&](const ContextPtr& context) {
        for (const QVariant& value : entries) {
            const QVariantMap entry = value.toMap();
            const qint64 documentID = entry.value(QStringLiteral("DocumentID")).toLongLong();
            if (documentID < 1)
                continue;
            const DBDocumentIndex record(context->existingObjectWithID(entry.value(QStringLiteral("ID")).value<ObjectID>()));
            const DBFileInfo file = record ? record.fileInfo() : DBFileInfo();
            // Gone, or on its way out: marked for the purge, which knew no index ID for it yet.
            if (!record || record.isDeleted() || !file || (file.isTrash() && file.isNeedDelete()))
                gone.append(documentID);
        }
    });
    return gone;
}

bool KPIndexLibraryStore::resetForRebuild()
{
    bool saved = false;
    KPCoreDataAction::lookupWithBlockWithBackgroundAndWait([&](const ContextPtr& context) {
        Result<QList<ManagedObjectPtr>> found = fetchIndexRecords(context, kResetPredicate);
        if (!found) {
            KPLogLogDomainMessage(QStringLiteral("IndexManager"), 0, found.error().toString());
            return;
        }
        for (const ManagedObjectPtr& object : std::as_const(*found)) {
            DBDocumentIndex record(object);
            if (record.skDocumentID() != DBDocumentIndex::kWaitingForIndex)
                record.setSkDocumentID(DBDocumentIndex::kWaitingForIndex);
        }
        saved = !context->hasChanges() || saveChild(context);
    });
    return saved;
}

qint64 KPIndexLibraryStore::highestDocumentID()
{
    qint64 highest = 0;
    KPCoreDataAction::lookupWithBlockWithBackgroundAndWait([&](const ContextPtr& context) {
        Result<QList<ManagedObjectPtr>> found =
            fetchIndexRecords(context, QStringLiteral("skDocumentID > 0"),
                              {SortDescriptor(QStringLiteral("skDocumentID"), false)}, 1);
        if (found && !found->isEmpty())
            highest = DBDocumentIndex(found->first()).skDocumentID();
    });
    return highest;
}
