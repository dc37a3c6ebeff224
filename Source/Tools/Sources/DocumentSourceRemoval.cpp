#include "Tools/Sources/DocumentSourceRemoval.h"

#include "Platform/Foundation/Paths.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Store/DBFileInfo.h"
#include "Store/DBIndexFolder.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPContextHelper.h"
#include "IndexFolder/IFFileItem.h"
#include "IndexFolder/KPIndexFolderDBEngine.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include "Platform/Foundation/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

using namespace platform;

namespace {

const QString kLogDomain = QStringLiteral("IndexFolder");
const QString kErrorDomain = QStringLiteral("DocumentSourceRemoval");

QString cleanFolder(const QString& path)
{
    return path.isEmpty() ? QString() : QDir::cleanPath(path);
}

QString withSlash(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

Error removalError(const QString& message)
{
    return Error{kErrorDomain, 1, message};
}

bool insideAny(const QString& path, const QStringList& folders)
{
    return std::any_of(folders.cbegin(), folders.cend(),
                       [&](const QString& folder) { return Paths::isPathInside(path, folder); });
}

Result<Predicate> predicate(const QString& format, const QVariantList& arguments = {})
{
    auto parsed = Predicate::format(format, arguments);
    if (!parsed)
        return std::unexpected(parsed.error());
    return *parsed;
}

// The library part, in a context of its own; saved and merged into the main context, or an
// error with nothing changed. nested: the live index folders inside the source.
Result<DocumentSourceRemoval::Outcome> removeFromLibrary(const QString& path, DataBaseEngine& library,
                                                         QStringList* nested)
{
    const ContextPtr main = library.context();
    if (!main || !library.coordinator())
        return std::unexpected(removalError(QStringLiteral("the library store is not open")));
    const ContextPtr context = KPContextHelper::contextWithStoreCoordinator(library.coordinator());
    context->setMergePolicy(MergePolicy::Overwrite);

    const auto live = predicate(QStringLiteral("isTrash == NO"));
    if (!live)
        return std::unexpected(live.error());
    auto folders = library.queryRecordByName(DBIndexFolder::entityName(), *live, std::nullopt, 0, context);
    if (!folders)
        return std::unexpected(folders.error());

    QList<DBIndexFolder> targets;
    bool insideAnother = false;
    for (const ManagedObjectPtr& object : std::as_const(*folders)) {
        DBIndexFolder folder(object);
        const QString folderPath = cleanFolder(folder.path());
        if (folderPath.isEmpty())
            continue;
        if (folderPath == path)
            targets.append(folder);
        else if (Paths::isPathInside(path, folderPath))
            insideAnother = true;
        else if (Paths::isPathInside(folderPath, path))
            nested->append(folderPath);
    }
    if (targets.isEmpty())
        return DocumentSourceRemoval::Outcome::NotFound;
    for (DBIndexFolder& target : targets)
        target.setIsTrash(true);

    if (!insideAnother) {
        // Live documents and those already in the trash alike; a nested folder's stay as they are.
        const auto below = predicate(QStringLiteral("isIndex == YES && isNeedDelete == NO && path BEGINSWITH %@"),
                                     {withSlash(path)});
        if (!below)
            return std::unexpected(below.error());
        auto documents = library.queryRecordByName(DBFileInfo::entityName(), *below, std::nullopt, 0, context);
        if (!documents)
            return std::unexpected(documents.error());
        for (const ManagedObjectPtr& object : std::as_const(*documents)) {
            DBFileInfo file(object);
            if (insideAny(file.path(), *nested))
                continue;
            file.setIsTrash(true);
            file.setIsNeedDelete(true);
        }
    }

    KPContextHelper::observeContextOnMainThread(main, context, MergePolicy::StoreTrumpByProperty);
    Result<void> saved = context->save();
    KPContextHelper::stopObservingContext(main, context);
    if (!saved)
        return std::unexpected(saved.error());
    return insideAnother ? DocumentSourceRemoval::Outcome::RecordOnly : DocumentSourceRemoval::Outcome::Removed;
}

Result<void> removeRows(const QString& path, const QStringList& nested, KPIndexFolderDBEngine& store)
{
    const ContextPtr context = store.newPrivateContext();
    context->setMergePolicy(MergePolicy::Overwrite);
    const auto below = predicate(QStringLiteral("isRemove == NO && (folder == %@ || folder BEGINSWITH %@)"),
                                 {path, withSlash(path)});
    if (!below)
        return std::unexpected(below.error());
    auto rows = store.fetchRecordsByName(IFFileItem::kEntityName, *below, std::nullopt, context);
    if (!rows)
        return std::unexpected(rows.error());
    for (const ManagedObjectPtr& row : std::as_const(*rows)) {
        if (!insideAny(row->valueForKey(IFFileItem::kFolder).toString(), nested))
            row->setValueForKey(true, IFFileItem::kIsRemove);
    }
    if (!context->hasChanges())
        return {};
    const ContextPtr main = store.mainContext();
    ObserverToken merge = context->addDidSaveObserver([main](const SaveNotification& note) {
        const MergePolicy previous = main->mergePolicy();
        main->setMergePolicy(MergePolicy::StoreTrumpByProperty);
        main->mergeChangesFromContextDidSaveNotification(note);
        main->setMergePolicy(previous);
    });
    return context->save();
}

const QString kPendingPath = QStringLiteral("Path");
const QString kPendingNested = QStringLiteral("Nested");

QString pendingFile(const KPIndexFolderDBEngine& store)
{
    return QFileInfo(store.storePath()).absolutePath() + QLatin1Char('/') + DocumentSourceRemoval::kPendingFileName;
}

QVariantList readPending(const QString& file)
{
    if (!QFileInfo::exists(file))
        return {};
    auto read = PropertyList::readFile(file);
    if (!read) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Pending source removals not read: %1").arg(read.error().toString()));
        return {};
    }
    return read->toList();
}

Result<void> writePending(const QString& file, const QVariantList& entries)
{
    if (entries.isEmpty()) {
        if (QFileInfo::exists(file) && !QFile::remove(file))
            return std::unexpected(removalError(QStringLiteral("%1 cannot be removed").arg(file)));
        return {};
    }
    return PropertyList::writeFile(entries, file, PlistFormat::Xml);
}

} // namespace

Result<DocumentSourceRemoval::Outcome> DocumentSourceRemoval::removeSource(const QString& folderPath,
                                                                           const IndexFolderServices& services)
{
    const QString path = cleanFolder(folderPath);
    if (path.isEmpty() || !services.library)
        return std::unexpected(removalError(QStringLiteral("no folder or no library to remove it from")));

    QStringList nested;
    Result<Outcome> outcome = removeFromLibrary(path, *services.library, &nested);
    if (!outcome) {
        KPLogLogDomainMessage(kLogDomain, 0,
                              QStringLiteral("Removing the source %1 was not saved: %2")
                                  .arg(path, outcome.error().toString()));
        return outcome;
    }
    if (*outcome != Outcome::Removed || !services.indexStore)
        return outcome;
    Result<void> rows = removeRows(path, nested, *services.indexStore);
    if (!rows)
        rows = removeRows(path, nested, *services.indexStore);
    if (!rows) {
        // Rows left unflagged would make the files of a source added again look known, and
        // they would never come back: the next start finishes the job.
        KPLogLogDomainMessage(kLogDomain, 0,
                              QStringLiteral("Removing the source %1: its rows were not flagged removed, "
                                             "the next start does it: %2")
                                  .arg(path, rows.error().toString()));
        const QString file = pendingFile(*services.indexStore);
        QVariantList entries = readPending(file);
        entries.append(QVariantMap{{kPendingPath, path}, {kPendingNested, nested}});
        if (auto written = writePending(file, entries); !written)
            KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("The pending removal of %1 was not recorded: %2")
                                                     .arg(path, written.error().toString()));
    }
    return outcome;
}

int DocumentSourceRemoval::completePendingRemovals(const IndexFolderServices& services)
{
    if (!services.indexStore)
        return 0;
    const QString file = pendingFile(*services.indexStore);
    const QVariantList entries = readPending(file);
    if (entries.isEmpty())
        return 0;
    QVariantList left;
    int completed = 0;
    for (const QVariant& entry : entries) {
        const QVariantMap map = entry.toMap();
        const QString path = cleanFolder(map.value(kPendingPath).toString());
        if (path.isEmpty())
            continue;
        if (auto rows = removeRows(path, map.value(kPendingNested).toStringList(), *services.indexStore); !rows) {
            KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("The pending removal of %1 failed again: %2")
                                                     .arg(path, rows.error().toString()));
            left.append(entry);
            continue;
        }
        ++completed;
    }
    if (auto written = writePending(file, left); !written)
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Pending source removals: %1").arg(written.error().toString()));
    return completed;
}
