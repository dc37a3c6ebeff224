#include "IndexFolder/IFFileItem.h"

#include "IndexFolder/IndexFolderID.h"
#include "IndexFolder/KPIndexFolderDBEngine.h"

#include "Platform/ObjectStore/Predicate/Predicate.h"

namespace {

quint64 unsignedValue(const QVariant& value)
{
    return value.toULongLong();
}

bool isPresent(const QVariant& value)
{
    return value.isValid() && !value.isNull();
}

platform::Result<QList<platform::ManagedObjectPtr>> folderRows(KPIndexFolderDBEngine& store, const QString& folder,
                                                               const platform::ContextPtr& context)
{
    const auto predicate = platform::Predicate::format(QStringLiteral("path == %@"), {folder});
    if (!predicate)
        return std::unexpected(predicate.error());
    return store.fetchRecordsByName(IFFolderItem::kEntityName, *predicate, {}, context);
}

} // namespace

QString IFFileItem::fullPath() const
{
    return folder == QLatin1String("/") ? folder + fileName : folder + QLatin1Char('/') + fileName;
}

IFFileItem IFFileItem::readCompared(const platform::ManagedObject& row)
{
    IFFileItem item;
    item.objectID = row.objectID();
    item.folder = row.valueForKey(kFolder).toString();
    item.fileName = row.valueForKey(kFileName).toString();
    const QVariant fileID = row.valueForKey(kFileID);
    if (isPresent(fileID))
        item.fileID = quint32(unsignedValue(fileID));
    item.date = row.valueForKey(kDate).toDateTime();
    const QVariant tags = row.valueForKey(kTags);
    if (isPresent(tags))
        item.tags = tags.toString();
    const QVariant changeTime = row.valueForKey(kChangeTime);
    if (isPresent(changeTime))
        item.changeTime = changeTime.toLongLong();
    return item;
}

IFFileItem IFFileItem::read(const platform::ManagedObject& row)
{
    IFFileItem item = readCompared(row);
    item.folderID = unsignedValue(row.valueForKey(kFolderID));
    item.uuid = unsignedValue(row.valueForKey(kUUID));
    item.isRemove = row.valueForKey(kIsRemove).toBool();
    return item;
}

bool IFFileItem::writeTo(platform::ManagedObject& row) const
{
    bool ok = row.setValueForKey(folder, kFolder);
    ok = row.setValueForKey(QVariant::fromValue(folderID), kFolderID) && ok;
    ok = row.setValueForKey(fileName, kFileName) && ok;
    ok = row.setValueForKey(fileID ? QVariant::fromValue(*fileID) : QVariant(), kFileID) && ok;
    ok = row.setValueForKey(QVariant::fromValue(uuid), kUUID) && ok;
    ok = row.setValueForKey(date.isValid() ? QVariant(date) : QVariant(), kDate) && ok;
    ok = row.setValueForKey(isRemove, kIsRemove) && ok;
    ok = row.setValueForKey(tags ? QVariant(*tags) : QVariant(), kTags) && ok;
    if (changeTime)
        ok = row.setValueForKey(*changeTime, kChangeTime) && ok;
    return ok;
}

platform::Result<std::optional<KPFileNode::Volume>> IFFolderItem::rememberedVolume(KPIndexFolderDBEngine& store,
                                                                                  const QString& folder,
                                                                                  const platform::ContextPtr& context)
{
    const auto rows = folderRows(store, folder, context);
    if (!rows)
        return std::unexpected(rows.error());
    for (const auto& row : *rows) {
        const QVariant device = row->valueForKey(kDevice);
        if (isPresent(device))
            return KPFileNode::Volume{unsignedValue(device), row->valueForKey(kIsMountPoint).toBool()};
    }
    return std::optional<KPFileNode::Volume>();
}

platform::Result<void> IFFolderItem::rememberVolume(KPIndexFolderDBEngine& store, const QString& folder,
                                                    const KPFileNode::Volume& volume)
{
    std::optional<platform::Error> failed;
    auto saved = store.saveDataWithBlock([&](const platform::ContextPtr& context) {
        auto rows = folderRows(store, folder, context);
        if (!rows) {
            failed = rows.error();
            return;
        }
        if (rows->isEmpty()) {
            auto row = store.createNewRecordByName(kEntityName, context);
            if (!row)
                return;
            row->setValueForKey(folder, kPath);
            row->setValueForKey(QVariant::fromValue(indexFolderIDForPath(folder)), kFolderID);
            rows->append(row);
        }
        for (const auto& row : *rows) {
            const QVariant device = row->valueForKey(kDevice);
            if (!isPresent(device) || unsignedValue(device) != volume.device)
                row->setValueForKey(QVariant::fromValue(volume.device), kDevice);
            if (row->valueForKey(kIsMountPoint).toBool() != volume.isMountPoint)
                row->setValueForKey(volume.isMountPoint, kIsMountPoint);
        }
    });
    if (failed)
        return std::unexpected(*failed);
    return saved;
}
