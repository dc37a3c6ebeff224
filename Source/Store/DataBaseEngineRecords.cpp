// The create and insert operations of DataBaseEngine: new nodes, tags, groups and authors, and
// the documents made from import records.
#include "Store/DataBaseEngine.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StringHash.h"
#include "Store/DBDocumentIndex.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBHelper.h"
#include "Store/DBIndexFolderMetadata.h"
#include "Utilities/FileHelpers.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/SystemHelpers.h"

using platform::ContextPtr;
using platform::FetchRequest;
using platform::Predicate;

namespace {

const QString kLogDomain = QStringLiteral("DataBase");

// Mail messages are titled by their original's display name rather than the stored file name.
bool isMailExtension(const QString& lowerExtension)
{
    return lowerExtension == QLatin1String("eml") || lowerExtension == QLatin1String("emlx");
}

QString lastPathComponent(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 || path.size() == 1 ? path : path.mid(slash + 1);
}

// The position of the extension's dot in a file name, or -1. A leading dot (".profile") or a
// trailing one ("name.") starts no extension.
qsizetype extensionDot(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && dot < name.size() - 1 ? dot : -1;
}

// record, as a view in context: the same record when it is already there, else the record of
// the same ID as context sees it (nil when it cannot).
template <class T>
T inContext(const T& record, const ContextPtr& context)
{
    if (!record || record.managedObjectContext() == context)
        return record;
    return T(context->existingObjectWithID(record.objectID()));
}

// The last record (in the store's fixed order) matching filter with name as its argument.
platform::ManagedObjectPtr lastNamed(const ContextPtr& context, const QString& entity, const QString& filter,
                                     const QString& name)
{
    if (!context)
        return nullptr;
    auto predicate = Predicate::format(filter, {name});
    if (!predicate)
        return nullptr;
    auto ids = context->fetchObjectIDs(FetchRequest(entity, *predicate));
    if (!ids || ids->isEmpty())
        return nullptr;
    return context->existingObjectWithID(ids->last());
}

} // namespace

DBNode DataBaseEngine::createDBNode(const ContextPtr& context)
{
    DBNode node = DBRecord::insertNewObject<DBNode>(contextOr(context));
    // Fixed now, from the temporary ID's URI; afterwards only ever compared for equality.
    if (node)
        node.setNodeID(platform::stringHash(node.URIString()));
    return node;
}

DBTag DataBaseEngine::createTagByContext(const QString& name, const ContextPtr& context)
{
    DBTag tag = DBRecord::insertNewObject<DBTag>(contextOr(context));
    tag.setName(name);
    return tag;
}

DBTagGroup DataBaseEngine::createTagGroup(const QString& name, const ContextPtr& context)
{
    DBTagGroup group = DBRecord::insertNewObject<DBTagGroup>(contextOr(context));
    group.setName(name);
    return group;
}

DBAuthor DataBaseEngine::createAuthorByContext(const QString& name, const ContextPtr& context)
{
    DBAuthor author = DBRecord::insertNewObject<DBAuthor>(contextOr(context));
    author.setName(name);
    return author;
}

DBTag DataBaseEngine::tagNamed(const QString& name, const ContextPtr& context)
{
    // Compared as a whole name, never as a LIKE pattern: "draft?" must not find "drafts".
    return DBTag(lastNamed(contextOr(context), DBTag::entityName(), QStringLiteral("isTrash == NO && name ==[cd] %@"),
                           name));
}

DBAuthor DataBaseEngine::authorNamed(const QString& name, const ContextPtr& context)
{
    return DBAuthor(lastNamed(contextOr(context), DBAuthor::entityName(), QStringLiteral("name ==[cd] %@"), name));
}

QList<DBFileInfo> DataBaseEngine::insertRecords(const QList<ImportRecord>& records, const DBNode& node,
                                                const DBRecent& recent, QList<DBTag>* newTags,
                                                const ContextPtr& context)
{
    const ContextPtr& target = contextOr(context);
    QList<DBFileInfo> files;
    QList<DBTag> created;
    if (!target)
        return files;
    DBNode holder = inContext(node, target);
    const DBRecent event = inContext(recent, target);
    if ((node && !holder) || (recent && !event))
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("insertRecords: the node or recent record is not in the context"));
    for (const ImportRecord& record : records) {
        DBFileInfo file = insertFileInfo(record, event, created, target, false);
        if (!file)
            continue;
        if (holder)
            holder.addFilesObject(file);
        files.append(file);
    }
    if (newTags)
        *newTags = created;
    return files;
}

QList<QVariantMap> DataBaseEngine::insertIndexFolderRecords(const QList<ImportRecord>& records,
                                                            const DBRecent& recent, QList<DBTag>& newTags,
                                                            const ContextPtr& context)
{
    const ContextPtr& target = contextOr(context);
    QList<QVariantMap> described;
    QList<DBTag> created;
    if (target) {
        const DBRecent event = inContext(recent, target);
        for (const ImportRecord& record : records) {
            DBFileInfo file = insertFileInfo(record, event, created, target, true);
            if (!file)
                continue;
            QVariantMap entry;
            if (record.contains(ImportRecordKey::FileID))
                entry.insert(IndexFolderRecordKey::ID, record.value(ImportRecordKey::FileID));
            entry.insert(IndexFolderRecordKey::Path, record.value(ImportRecordKey::Path));
            entry.insert(IndexFolderRecordKey::UUID, QVariant::fromValue(file.indexFolderMetadata().uuid()));
            const QDateTime modified = file.metadata().dateModified();
            if (modified.isValid())
                entry.insert(IndexFolderRecordKey::Date, modified);
            described.append(entry);
        }
    }
    newTags = created;
    return described;
}

DBFileInfo DataBaseEngine::insertFileInfo(const ImportRecord& record, const DBRecent& recent, QList<DBTag>& newTags,
                                          const ContextPtr& context, bool indexFolder)
{
    DBFileInfo file = DBRecord::insertNewObject<DBFileInfo>(context);
    if (!file)
        return file;

    const QString path = record.value(ImportRecordKey::Path).toString();
    const QString name = lastPathComponent(path);
    const qsizetype dot = extensionDot(name);
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1).toLower();
    file.setTitle(dot < 0 ? name : name.left(dot));
    if (record.contains(ImportRecordKey::Path))
        file.setPath(path);
    file.setPathExtension(extension);
    if (record.contains(ImportRecordKey::Thumb))
        file.setThumbPath(record.value(ImportRecordKey::Thumb).toString());
    if (record.contains(ImportRecordKey::IsIndex))
        file.setIsIndex(record.value(ImportRecordKey::IsIndex).toBool());

    const QString original = record.value(ImportRecordKey::Original).toString();
    if (indexFolder) {
        auto folderMetadata = DBRecord::insertNewObject<DBIndexFolderMetadata>(context);
        folderMetadata.setFolderID(DBHelper::folderIDForFilePath(original));
        folderMetadata.setUuid(platform::stringHash(generateUUIDString()));
        file.setIndexFolderMetadata(folderMetadata);
    }

    auto metadata = DBRecord::insertNewObject<DBFileInfoMetadata>(context);
    if (record.contains(ImportRecordKey::Comment))
        metadata.setComment(record.value(ImportRecordKey::Comment).toString());
    // Its skDocumentID keeps the model default: waiting to be indexed.
    file.setDocumentIndex(DBRecord::insertNewObject<DBDocumentIndex>(context));

    if (auto attributes = platform::FileManager::attributesOfItem(original)) {
        metadata.setDateCreated(attributes->creationDate);
        metadata.setDateModified(attributes->modificationDate);
        metadata.setFileSize(attributes->size);
    } else {
        KPLogLogDomainMessage(kLogDomain, 0,
                              QStringLiteral("attributesOfItemAtPath error: %1").arg(attributes.error().toString()));
    }
    metadata.setDateImported(QDateTime::currentDateTimeUtc());
    if (const auto lastUsed = lastUsedDateOfFile(original))
        metadata.setDateLastOpen(*lastUsed);
    if (record.contains(ImportRecordKey::Rate))
        metadata.setRate(record.value(ImportRecordKey::Rate).toInt());
    if (record.contains(ImportRecordKey::FinderLabel))
        metadata.setLabel(record.value(ImportRecordKey::FinderLabel).toInt());
    if (record.contains(ImportRecordKey::Original))
        metadata.setFrom(original);
    file.setMetadata(metadata);

    if (isMailExtension(extension)) {
        const QString displayName = displayNameOfFile(original);
        if (!displayName.isEmpty())
            file.setTitle(displayName);
    }

    linkTags(file, record.value(ImportRecordKey::Tags), newTags, context);
    linkAuthors(file, record.value(ImportRecordKey::Authors), context);
    if (recent)
        file.setRecent(recent);
    return file;
}

void DataBaseEngine::linkTags(DBFileInfo& file, const QVariant& names, QList<DBTag>& newTags,
                              const ContextPtr& context)
{
    for (const QString& name : names.toStringList()) {
        if (name.isEmpty())
            continue;
        // A tag made for an earlier record of the same call is found among the context's
        // unsaved inserts, so one name never makes two tags.
        DBTag tag = tagNamed(name, context);
        if (!tag) {
            tag = createTagByContext(name, context);
            newTags.append(tag);
        }
        file.addTagsObject(tag);
    }
}

void DataBaseEngine::linkAuthors(DBFileInfo& file, const QVariant& names, const ContextPtr& context)
{
    for (const QString& name : names.toStringList()) {
        if (name.isEmpty())
            continue;
        DBAuthor author = authorNamed(name, context);
        if (!author)
            author = createAuthorByContext(name, context);
        file.addAuthorsObject(author);
    }
}
