// The display model of one file of the open SafeBox volume, built from the SafeBox's item
// information ({"Path", "Size", "Date", "CreateDate"}) instead of a record. Its thumbnail lives in
// the volume's ".Thumbnail" folder, named by the MD5 of the file's path; the folder is made when
// the item is built. It has no tags, authors, rating or flag, and no date text. Two SafeBox
// items are equal when their paths are.
#pragma once

#include "Browser/KPItemData.h"

#include <QVariantMap>

class KPSafeBoxItemData : public KPItemData {
public:
    // initWithDicInfo:ParentPath: (parentPath: the volume's mount point).
    KPSafeBoxItemData(const QVariantMap& dicInfo, const QString& parentPath);
    static std::shared_ptr<KPSafeBoxItemData> create(const QVariantMap& dicInfo, const QString& parentPath)
    {
        return std::make_shared<KPSafeBoxItemData>(dicInfo, parentPath);
    }

    bool isSafeBoxItem() const override { return true; }
    const QVariantMap& dicInfo() const { return m_dicInfo; }
    const QString& parentPath() const { return m_parentPath; }

    // "<volume>/.Thumbnail"
    static QString thumbnailFolder(const QString& parentPath);

private:
    QVariantMap m_dicInfo;
    QString m_parentPath;
};
