#include "IndexFolder/IndexFolderImportDataPushObj.h"

#include "IndexFolder/IFFileItem.h"
#include "IndexFolder/IndexFolderID.h"
#include "IndexFolder/KPIndexFolderDBEngine.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/StringHash.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Store/DBDocumentIndex.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBHelper.h"
#include "Store/DBIndexFolderMetadata.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPContextHelper.h"
#include "Store/KPCoreDataAction.h"
#include "Store/KPLibraryFileManager.h"
#include "TagMeta/TagMeta.h"
#include "Utilities/FileHelpers.h"
#include "Utilities/ImageQuickLook.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/SystemHelpers.h"

#include <QSet>
#include <cmath>

using namespace platform;

namespace {

const QString kLogDomain = QStringLiteral("IndexFolder");
const QString kTagsString = QStringLiteral("TagsString");

Predicate parsed(const QString& format, const QVariantList& arguments)
{
    auto predicate = Predicate::format(format, arguments);
    return predicate ? *predicate : Predicate();
}

// A document's title: its file name less the extension (a leading or trailing dot starts none).
QString titleOfPath(const QString& path)
{
    const QString name = lastComponentOfPath(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && dot < name.size() - 1 ? name.left(dot) : name;
}

DBFileInfo documentOfUUID(DataBaseEngine& library, quint64 uuid, const ContextPtr& context)
{
    auto found = library.queryRecordByName(DBIndexFolderMetadata::entityName(),
                                           parsed(QStringLiteral("uuid == %@"), {QVariant::fromValue(uuid)}),
                                           std::nullopt, 1, context);
    if (!found || found->isEmpty())
        return {};
    return DBIndexFolderMetadata(found->first()).fileInfo();
}

// Sets the document's tags to exactly these names, linking live tags by whole name (ignoring
// case and diacritics) and making the missing ones.
void retag(DataBaseEngine& library, DBFileInfo& file, const QString& names, const ContextPtr& context,
           QList<DBTag>& created)
{
    file.setTags({});
    for (const QString& name : names.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        DBTag tag = library.tagNamed(name, context);
        if (!tag) {
            tag = library.createTagByContext(name, context);
            created.append(tag);
        }
        file.addTagsObject(tag);
    }
}

} // namespace

struct IndexFolderImportDataPushObj::Work {
    struct Relink {
        QString path;
        ObjectID document;
        quint32 fileID = 0;
        QDateTime date;
        QString tags;
    };
    // The rows' values, read in this thread's own context of the index-folder store.
    QList<IFFileItem> removed;
    QList<QPair<IFFileItem, IndexFolderRenameEntry>> renamed;
    QList<QPair<IFFileItem, IndexFolderModifiedEntry>> modified;
    // How far the library took each list; only that much is recorded in the index-folder store.
    qsizetype removedDone = 0, renamedDone = 0, modifiedDone = 0;

    QList<ImportRecord> records;
    QList<Relink> relinks;
    QList<QVariantMap> infos; // IndexFolderItemInfo of inserted and re-linked documents
    QHash<QString, QString> tagsByPath;
    QHash<QString, qint64> changeTimeByPath;
    QList<ObjectID> newTags;
    QStringList unflushedThumbnails; // absolute paths
};

IndexFolderImportDataPushObj::IndexFolderImportDataPushObj(IndexFolderDiffChunk chunk,
                                                           std::shared_ptr<IndexFolderImportBatch> recent,
                                                           IndexFolderServices services)
    : m_analyticsResult(std::move(chunk))
    , m_batch(recent ? std::move(recent) : std::make_shared<IndexFolderImportBatch>())
    , m_services(std::move(services))
{
}

IndexFolderImportDataPushObj::~IndexFolderImportDataPushObj() = default;

void IndexFolderImportDataPushObj::main()
{
    if (isCancelled() || !m_services.library || !m_services.indexStore)
        return;
    addFolders();

    Work work;
    const ContextPtr rows = m_services.indexStore->newPrivateContext();
    auto readRow = [&rows](const ManagedObjectPtr& row) -> std::optional<IFFileItem> {
        if (!row)
            return std::nullopt;
        auto object = rows->existingObjectWithID(row->objectID());
        return object ? std::optional(IFFileItem::read(*object)) : std::nullopt;
    };
    for (const auto& row : m_analyticsResult.removeRecords)
        if (auto item = readRow(row))
            work.removed.append(*item);
    for (const auto& entry : m_analyticsResult.renameRecords)
        if (auto item = readRow(entry.data))
            work.renamed.append({*item, entry});
    for (const auto& entry : m_analyticsResult.modifiedRecords)
        if (auto item = readRow(entry.data))
            work.modified.append({*item, entry});

    // The library's first save names no thumbnail it has not named before; the second names
    // those of the new documents, so every thumbnail of the piece is written and flushed (once)
    // before it. The index-folder store records the piece as done only after both.
    const bool changed = applyLibraryChanges(work);
    makeModifiedThumbnails(work);
    collectNewRecords(work);
    const bool flushed = flushThumbnails(work);
    const bool inserted = flushed && insertNewRecords(work);
    if (!changed && !inserted && m_analyticsResult.seenRecords.isEmpty())
        return;
    if (!inserted) {
        work.infos.clear();
        work.newTags.clear();
    }
    if (!work.newTags.isEmpty()) {
        DataBaseEngine* library = m_services.library;
        const QList<ObjectID> ids = work.newTags;
        Dispatch::main([library, ids] {
            QVariantList tags;
            const ContextPtr main = library->context();
            for (const ObjectID& id : ids) {
                if (auto object = main ? main->existingObjectWithID(id) : nullptr)
                    tags.append(QVariant::fromValue(object->ref()));
            }
            if (!tags.isEmpty())
                NotificationCenter::defaultCenter().post(kNewTagNotification, tags);
        });
    }
    recordInIndexStore(work);
}

void IndexFolderImportDataPushObj::addFolders()
{
    if (!m_analyticsResult.folders || m_analyticsResult.folders->isEmpty())
        return;
    KPIndexFolderDBEngine& store = *m_services.indexStore;
    QSet<QString> known;
    store.lookupWithBlock([&](const ContextPtr& context) {
        for (const auto& row : store.queryRecordByName(IFFolderItem::kEntityName, {}, {}, context))
            known.insert(row->valueForKey(IFFolderItem::kPath).toString());
    });
    QStringList fresh;
    for (const QString& path : *m_analyticsResult.folders)
        if (!known.contains(path) && !fresh.contains(path))
            fresh.append(path);
    if (fresh.isEmpty())
        return;
    [[maybe_unused]] auto saved = store.saveDataWithBlock(
        [&](const ContextPtr& context) {
            for (const QString& path : fresh) {
                auto row = store.createNewRecordByName(IFFolderItem::kEntityName, context);
                if (!row)
                    continue;
                row->setValueForKey(path, IFFolderItem::kPath);
                row->setValueForKey(QVariant::fromValue(indexFolderIDForPath(path)), IFFolderItem::kFolderID);
            }
        },
        [](const Error&) {});
}

Result<QString> IndexFolderImportDataPushObj::writeThumbnail(Work& work, const QString& path)
{
    const QImage image = imageWithPreviewOfFileAtPath(path, kQuickLookPreviewSize, false);
    // Flushed with the rest of the piece (flushThumbnails), not one by one.
    auto written = m_services.files->addThumbByFile(path, image, KPLibraryFileManager::ThumbFlush::ByCaller);
    if (written)
        work.unflushedThumbnails.append(m_services.files->workFolder() + *written);
    else
        KPLogLogDomainMessage(kLogDomain, 1, QStringLiteral("thumbnail of %1: %2").arg(path, written.error().toString()));
    return written;
}

void IndexFolderImportDataPushObj::makeModifiedThumbnails(Work& work)
{
    if (!m_services.files)
        return;
    for (qsizetype i = 0; i < work.modifiedDone; ++i) {
        if (isCancelled())
            return;
        const QString path = work.modified[i].first.fullPath();
        if (FileManager::itemExists(path))
            (void)writeThumbnail(work, path);
    }
}

bool IndexFolderImportDataPushObj::flushThumbnails(Work& work)
{
    if (work.unflushedThumbnails.isEmpty())
        return true;
    const Result<void> flushed = m_services.flushThumbnails ? m_services.flushThumbnails(work.unflushedThumbnails)
                                                            : m_services.files->flushItems(work.unflushedThumbnails);
    if (flushed)
        return true;
    // Nothing may name thumbnails that might not be on disk: the new documents wait, and the
    // modified files stay unrecorded, so the next pass does both again.
    KPLogLogDomainMessage(kLogDomain, 0,
                          QStringLiteral("Index folder files not added: the thumbnails could not be written to disk: %1")
                              .arg(flushed.error().toString()));
    work.modifiedDone = 0;
    std::lock_guard lock(m_batch->mutex);
    m_batch->libraryFailed = true;
    return false;
}

bool IndexFolderImportDataPushObj::applyLibraryChanges(Work& work)
{
    if (work.removed.isEmpty() && work.renamed.isEmpty() && work.modified.isEmpty())
        return false;
    if (!KPContextHelper::defaultContext()) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Index folder changes not applied: the library store is not open"));
        return false;
    }
    DataBaseEngine& library = *m_services.library;
    bool failed = false;
    QList<DBTag> created;
    KPCoreDataAction::saveDataWithBlock(
        [&](const ContextPtr& context) {
            // A cancel ends the work after the entry in hand; what was done is recorded.
            for (; work.removedDone < work.removed.size() && !isCancelled(); ++work.removedDone) {
                DBFileInfo file = documentOfUUID(library, work.removed[work.removedDone].uuid, context);
                if (file) {
                    file.setIsTrash(true);
                    file.setIsNeedDelete(true);
                }
            }
            for (; work.renamedDone < work.renamed.size() && !isCancelled(); ++work.renamedDone) {
                const auto& [item, entry] = work.renamed[work.renamedDone];
                DBFileInfo file = documentOfUUID(library, item.uuid, context);
                if (!file)
                    continue;
                file.setPath(entry.toPath);
                file.setTitle(titleOfPath(entry.toPath));
                file.indexFolderMetadata().setFolderID(DBHelper::folderIDForFilePath(entry.toPath));
            }
            for (; work.modifiedDone < work.modified.size() && !isCancelled(); ++work.modifiedDone) {
                const auto& [item, entry] = work.modified[work.modifiedDone];
                DBFileInfo file = documentOfUUID(library, item.uuid, context);
                if (!file)
                    continue;
                file.metadata().setDateModified(entry.date);
                // Its text changed: the full-text indexer takes it up again.
                if (DBDocumentIndex index = file.documentIndex())
                    index.setSkDocumentID(DBDocumentIndex::kWaitingForIndex);
                else
                    file.setDocumentIndex(DBRecord::insertNewObject<DBDocumentIndex>(context));
                if (entry.newTags)
                    retag(library, file, *entry.newTags, context, created);
            }
        },
        [&failed](const Error& error) {
            failed = true;
            KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Index folder changes not saved: %1").arg(error.toString()));
        });
    if (failed) {
        // The library took none of it: nothing is recorded as done.
        work.removedDone = work.renamedDone = work.modifiedDone = 0;
        std::lock_guard lock(m_batch->mutex);
        m_batch->libraryFailed = true;
        return false;
    }
    for (const DBTag& tag : created)
        work.newTags.append(tag.objectID());
    return true;
}

void IndexFolderImportDataPushObj::readDocumentsBelowFolder()
{
    // Called with the batch's mutex held.
    if (m_batch->documentsRead)
        return;
    m_batch->documentsRead = true;
    if (m_batch->folder.isEmpty())
        return;
    const QString prefix = m_batch->folder.endsWith(QLatin1Char('/')) ? m_batch->folder : m_batch->folder + QLatin1Char('/');
    KPCoreDataAction::lookupWithBlockWithBackgroundAndWait([&](const ContextPtr& context) {
        auto found = m_services.library->queryRecordByName(
            DBFileInfo::entityName(),
            parsed(QStringLiteral("isIndex == YES && isTrash == NO && path BEGINSWITH %@"), {prefix}), std::nullopt, 0,
            context);
        if (!found)
            return;
        for (const auto& object : *found) {
            DBFileInfo file(object);
            m_batch->documentsByPath.insert(file.path(), file.objectID());
        }
    });
}

void IndexFolderImportDataPushObj::collectNewRecords(Work& work)
{
    for (const KPFileNode::Ptr& node : m_analyticsResult.newRecords) {
        if (isCancelled())
            break;
        const QString path = node->path();
        if (!FileManager::itemExists(path))
            continue; // gone since the walk
        const QString tags = node->tags().value_or(QString());
        if (node->changeTime())
            work.changeTimeByPath.insert(path, *node->changeTime());
        {
            std::lock_guard lock(m_batch->mutex);
            readDocumentsBelowFolder();
            // A document the library already has for this path: the index-folder store lost
            // its row (a crash between the two saves). It is linked again, not duplicated.
            if (auto it = m_batch->documentsByPath.constFind(path); it != m_batch->documentsByPath.constEnd()) {
                work.relinks.append({path, *it, node->nodeID(), node->date(), tags});
                continue;
            }
        }
        ImportRecord record;
        record.insert(ImportRecordKey::Path, path);
        record.insert(ImportRecordKey::Original, path);
        if (m_services.files) {
            if (auto thumb = writeThumbnail(work, path))
                record.insert(ImportRecordKey::Thumb, *thumb);
        }
        record.insert(ImportRecordKey::Tags, tags.split(QLatin1Char(','), Qt::SkipEmptyParts));
        record.insert(ImportRecordKey::Rate, int(std::trunc(TagMeta::getRating(path))));
        record.insert(ImportRecordKey::Authors, authorsOfFile(path));
        record.insert(ImportRecordKey::Comment, TagMeta::getString(TagMeta::kMDItemFinderComment, path));
        record.insert(ImportRecordKey::IsIndex, 1);
        record.insert(kTagsString, tags);
        record.insert(ImportRecordKey::FinderLabel, finderLabelOfFile(path));
        record.insert(ImportRecordKey::FileID, QVariant::fromValue(node->nodeID()));
        work.tagsByPath.insert(path, tags);
        work.records.append(record);
    }
}

bool IndexFolderImportDataPushObj::insertNewRecords(Work& work)
{
    if (work.records.isEmpty() && work.relinks.isEmpty())
        return false;
    if (!KPContextHelper::defaultContext()) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Index folder files not added: the library store is not open"));
        return false;
    }
    DataBaseEngine& library = *m_services.library;
    std::lock_guard lock(m_batch->mutex);
    bool failed = false;
    DBRecent recent;
    QList<DBTag> created;
    KPCoreDataAction::saveDataWithBlock(
        [&](const ContextPtr& context) {
            if (!m_batch->recentID.isNull())
                recent = DBRecent(context->existingObjectWithID(m_batch->recentID));
            if (!recent && !work.records.isEmpty()) {
                recent = DBRecord::insertNewObject<DBRecent>(context);
                recent.setDate(QDateTime::currentDateTimeUtc());
                recent.setType(0);
            }
            work.infos = library.insertIndexFolderRecords(work.records, recent, created, context);
            for (const auto& relink : work.relinks) {
                DBFileInfo file(context->existingObjectWithID(relink.document));
                if (!file || file.isTrash())
                    continue;
                DBIndexFolderMetadata metadata = file.indexFolderMetadata();
                if (!metadata) {
                    metadata = DBRecord::insertNewObject<DBIndexFolderMetadata>(context);
                    metadata.setUuid(platform::stringHash(generateUUIDString()));
                    file.setIndexFolderMetadata(metadata);
                }
                metadata.setFolderID(DBHelper::folderIDForFilePath(relink.path));
                QVariantMap info{{IndexFolderRecordKey::Path, relink.path},
                                 {IndexFolderRecordKey::ID, QVariant::fromValue(relink.fileID)},
                                 {IndexFolderRecordKey::UUID, QVariant::fromValue(metadata.uuid())}};
                if (relink.date.isValid())
                    info.insert(IndexFolderRecordKey::Date, relink.date);
                work.infos.append(info);
                work.tagsByPath.insert(relink.path, relink.tags);
            }
        },
        [&failed](const Error& error) {
            failed = true;
            KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Index folder files not added: %1").arg(error.toString()));
        });
    if (failed) {
        m_batch->libraryFailed = true;
        return false;
    }
    if (recent && m_batch->recentID.isNull())
        m_batch->recentID = recent.objectID();
    m_batch->addedCount += int(work.records.size());
    m_batch->relinkedCount += int(work.relinks.size());
    for (const DBTag& tag : created)
        work.newTags.append(tag.objectID());
    return true;
}

void IndexFolderImportDataPushObj::recordInIndexStore(const Work& work)
{
    KPIndexFolderDBEngine& store = *m_services.indexStore;
    [[maybe_unused]] auto saved = store.saveDataWithBlock(
        [&](const ContextPtr& context) {
            for (const QVariantMap& info : work.infos) {
                auto row = store.createNewRecordByName(IFFileItem::kEntityName, context);
                if (!row)
                    continue;
                const QString path = info.value(IndexFolderRecordKey::Path).toString();
                IFFileItem item;
                item.folder = folderOfPath(path);
                item.folderID = indexFolderIDForPath(item.folder);
                item.fileName = lastComponentOfPath(path);
                item.date = info.value(IndexFolderRecordKey::Date).toDateTime();
                item.uuid = info.value(IndexFolderRecordKey::UUID).toULongLong();
                if (info.contains(IndexFolderRecordKey::ID))
                    item.fileID = quint32(info.value(IndexFolderRecordKey::ID).toULongLong());
                item.tags = work.tagsByPath.value(path);
                if (auto it = work.changeTimeByPath.constFind(path); it != work.changeTimeByPath.constEnd())
                    item.changeTime = *it;
                item.writeTo(*row);
            }
            auto rowOf = [&context](const IFFileItem& item) { return context->existingObjectWithID(item.objectID); };
            for (qsizetype i = 0; i < work.removedDone; ++i)
                if (auto row = rowOf(work.removed[i]))
                    row->setValueForKey(true, IFFileItem::kIsRemove);
            for (qsizetype i = 0; i < work.modifiedDone; ++i) {
                const auto& [item, entry] = work.modified[i];
                auto row = rowOf(item);
                if (!row)
                    continue;
                row->setValueForKey(entry.date.isValid() ? QVariant(entry.date) : QVariant(), IFFileItem::kDate);
                row->setValueForKey(QVariant::fromValue(entry.fileID), IFFileItem::kFileID);
                if (entry.newTags)
                    row->setValueForKey(*entry.newTags, IFFileItem::kTags);
                row->setValueForKey(entry.changeTime ? QVariant(*entry.changeTime) : QVariant(), IFFileItem::kChangeTime);
            }
            for (const IndexFolderSeenEntry& seen : m_analyticsResult.seenRecords) {
                if (auto row = seen.data ? context->existingObjectWithID(seen.data->objectID()) : nullptr)
                    row->setValueForKey(seen.changeTime, IFFileItem::kChangeTime);
            }
            for (qsizetype i = 0; i < work.renamedDone; ++i) {
                const auto& [item, entry] = work.renamed[i];
                auto row = rowOf(item);
                if (!row)
                    continue;
                const QString folder = folderOfPath(entry.toPath);
                row->setValueForKey(folder, IFFileItem::kFolder);
                row->setValueForKey(QVariant::fromValue(indexFolderIDForPath(folder)), IFFileItem::kFolderID);
                row->setValueForKey(lastComponentOfPath(entry.toPath), IFFileItem::kFileName);
            }
        },
        [](const Error& error) {
            KPLogLogSourceMessage(__FILE__, __LINE__, "recordInIndexStore", kLogDomain, 1,
                                  QStringLiteral("Index Folder Save error: %1").arg(error.toString()));
        });
}
