#include "TagMeta/TagMetaBackupOperation.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/PropertyListValues.h"
#include "Platform/Metadata/MetadataQuery.h"
#include "TagMeta/TagMeta.h"
#include "TagMeta/TagMetaBackup.h"
#include "TagMeta/TagMetaBackupState.h"
#include "Utilities/KPLogger/KPLogClient.h"

namespace {

QString abbreviatedPath(const QString& path)
{
    const QString home = platform::Paths::homeDirectory();
    if (platform::Paths::isPathInside(path, home) && path.startsWith(home))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

QStringList singleFileSearchScopes;

} // namespace

void TagMetaBackupOperation::main()
{
    if (writeFile)
        writeSingleFile();
    else
        readSingleFile();
    const TagMetaBackupOperation done = *this;
    platform::Dispatch::main([done] {
        TagMetaBackupState::shared().singleFileBusy.store(false);
        done.doneTheJob();
    });
}

void TagMetaBackupOperation::writeSingleFile()
{
    if (keysToSearch.isEmpty())
        keysToSearch = {TagMeta::kMDItemTMManaged, TagMeta::kMDItemTMUserTags, TagMeta::kMDItemStarRating};
    QStringList terms;
    for (const QString& key : keysToSearch)
        terms.append(QStringLiteral("(%1 == *)").arg(key));

    auto query = platform::MetadataQuery::create(terms.join(QStringLiteral(" || ")));
    if (!query) {
        returnDict = {{QStringLiteral("status"), QStringLiteral("spotlight failed")}};
        return;
    }
    query->setSearchScopes(searchScopes);
    query->setMaxResultCount(kMaxQueryResults);
    const auto found = query->execute();
    if (!found) {
        returnDict = {{QStringLiteral("status"), QStringLiteral("spotlight failed")}};
        return;
    }

    QVariantMap records;
    for (const QString& path : *found) {
        const QVariantMap record = TagMetaBackup::backupDictForPath(path);
        if (!record.isEmpty())
            records.insert(path, record);
    }
    auto written = platform::PropertyList::writeFile(records, singleFile, platform::PlistFormat::Xml);
    if (!written && written.error().code == platform::plist::kUnsupported) {
        // A file name or value XML cannot carry (a control character is legal in a Linux file
        // name) would cost the whole backup: only those records are left out.
        for (auto it = records.begin(); it != records.end();) {
            if (auto alone = platform::PropertyList::write(QVariantMap{{it.key(), it.value()}}, platform::PlistFormat::Xml);
                !alone) {
                KPLogLogMessage(QStringLiteral("TagMeta backup leaves out %1: %2").arg(it.key(), alone.error().message));
                it = records.erase(it);
            } else {
                ++it;
            }
        }
        written = platform::PropertyList::writeFile(records, singleFile, platform::PlistFormat::Xml);
    }
    const bool worked = written.has_value();
    returnDict = {{QStringLiteral("status"), QStringLiteral("%1 backups done, file written to %2")
                                                 .arg(found->size())
                                                 .arg(abbreviatedPath(singleFile))},
                  {QStringLiteral("worked"), worked},
                  {QStringLiteral("dictCount"), qint64(records.size())}};
}

void TagMetaBackupOperation::readSingleFile()
{
    const auto contents = platform::PropertyList::readFile(singleFile);
    const QVariantMap records = contents && contents->typeId() == QMetaType::QVariantMap ? contents->toMap() : QVariantMap();
    if (records.isEmpty()) {
        returnDict = {{QStringLiteral("status"), QStringLiteral("no restore data found")}};
        return;
    }
    int restored = 0;
    for (auto it = records.constBegin(); it != records.constEnd(); ++it) {
        if (it.value().typeId() == QMetaType::QVariantMap)
            restored += TagMetaBackup::restoreMetadataFromBackupDictIfNeeded(it.value().toMap());
    }
    returnDict = {{QStringLiteral("status"), QStringLiteral("%1 restores done").arg(restored)},
                  {QStringLiteral("worked"), true},
                  {QStringLiteral("dictCount"), qint64(records.size())}};
}

void TagMetaBackupOperation::doneTheJob() const
{
    platform::NotificationCenter::defaultCenter().post(kDoneNotification, returnDict);
}

// ---- The single-file queue of TagMetaBackup ----------------------------------------------

namespace {

platform::DispatchQueue& singleFileQueue()
{
    static platform::DispatchQueue queue = platform::DispatchQueue::serial(QStringLiteral("TagMeta single file"));
    return queue;
}

void startSingleFileOperation(TagMetaBackupOperation operation)
{
    if (TagMetaBackupState::shared().singleFileBusy.exchange(true)) {
        TagMetaBackup::singleFileQueueIsBusyError();
        return;
    }
    singleFileQueue().async([operation]() mutable { operation.main(); });
}

} // namespace

void TagMetaBackup::backupMetadataToSingleFile(const QStringList& keys, const QString& path)
{
    TagMetaBackupOperation operation;
    operation.keysToSearch = keys;
    operation.singleFile = path;
    operation.writeFile = true;
    operation.searchScopes = singleFileSearchScopes;
    startSingleFileOperation(std::move(operation));
}

void TagMetaBackup::restoreMetadataFromSingleFile(const QString& path)
{
    TagMetaBackupOperation operation;
    operation.singleFile = path;
    operation.writeFile = false;
    startSingleFileOperation(std::move(operation));
}

void TagMetaBackup::singleFileQueueIsBusyError()
{
    platform::NotificationCenter::defaultCenter().post(
        TagMetaBackupOperation::kDoneNotification, QVariantMap{{QStringLiteral("status"), QStringLiteral("busy")}});
}

void TagMetaBackup::setSingleFileSearchScopesForTesting(const QStringList& folders)
{
    singleFileSearchScopes = folders;
}
