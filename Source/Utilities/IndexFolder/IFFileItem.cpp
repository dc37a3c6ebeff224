#include "Utilities/IndexFolder/IFFileItem.h"

namespace {

quint64 unsignedValue(const QVariant& value)
{
    return value.toULongLong();
}

} // namespace

QString IFFileItem::fullPath() const
{
    return folder == QLatin1String("/") ? folder + fileName : folder + QLatin1Char('/') + fileName;
}

IFFileItem IFFileItem::read(const platform::ManagedObject& row)
{
    IFFileItem item;
    item.objectID = row.objectID();
    item.folder = row.valueForKey(kFolder).toString();
    item.folderID = unsignedValue(row.valueForKey(kFolderID));
    item.fileName = row.valueForKey(kFileName).toString();
    const QVariant fileID = row.valueForKey(kFileID);
    if (fileID.isValid() && !fileID.isNull())
        item.fileID = quint32(unsignedValue(fileID));
    item.uuid = unsignedValue(row.valueForKey(kUUID));
    item.date = row.valueForKey(kDate).toDateTime();
    item.isRemove = row.valueForKey(kIsRemove).toBool();
    const QVariant tags = row.valueForKey(kTags);
    if (tags.isValid() && !tags.isNull())
        item.tags = tags.toString();
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
    return ok;
}
