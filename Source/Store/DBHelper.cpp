#include "Store/DBHelper.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/StringHash.h"
#include "Platform/Foundation/XAttr.h"
#include "Store/DBFileInfo.h"
#include "Store/DBTag.h"
#include "Store/KPLibraryFileManager.h"
#include "TagMeta/TagMeta.h"
#include "Utilities/FileHelpers.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QtDebug>

namespace {

const QString kLogDomain = QStringLiteral("DataBase");

QString withoutTrailingSlashes(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

QString DBHelper::CombinFileAbsolutePath(const DBFileInfo& fileInfo)
{
    if (!fileInfo)
        return {};
    if (fileInfo.isIndex())
        return fileInfo.path();
    return CombinFileAbsoluteByString(fileInfo.path());
}

QString DBHelper::CombinThumbAbsolutePath(const DBFileInfo& fileInfo)
{
    if (!fileInfo)
        return {};
    return CombinThumbAbsoluteByString(fileInfo.thumbPath());
}

QString DBHelper::CombinFileAbsoluteByString(const QString& relativePath)
{
    if (relativePath.isEmpty())
        return {};
    return KPLibraryFileManager::defaultManager().CombinFileAbsolutePath(relativePath);
}

QString DBHelper::CombinThumbAbsoluteByString(const QString& relativeThumbPath)
{
    return CombinFileAbsoluteByString(relativeThumbPath);
}

void DBHelper::writeMetaDataInfoByTags(const DBFileInfo& fileInfo)
{
    const QString path = CombinFileAbsolutePath(fileInfo);
    if (path.isEmpty())
        return;
    QStringList names;
    for (const DBTag& tag : fileInfo.tags()) {
        if (!tag.isTrash())
            names.append(tag.name());
    }
    writeTagNamesToFile(names, path);
}

void DBHelper::writeTagNamesToFile(const QStringList& names, const QString& path)
{
    if (auto written = TagMeta::setUserTags(QVariant(names), path); !written)
        KPLogLogDomainMessage(kLogDomain, 0,
                              QStringLiteral("writing the tags of %1 failed: %2").arg(path, written.error().toString()));

    if (!platform::FileManager::attributesOfItem(path))
        return;
    QVariantList list;
    for (const QString& name : names)
        list.append(name);
    auto serialised = platform::PropertyList::write(list, platform::PlistFormat::Binary);
    if (!serialised) {
        qWarning().noquote() << QStringLiteral("NSPropertyListSerialization Array Error: %1")
                                    .arg(serialised.error().toString());
        return;
    }
    // Only the Finder-tags attribute is replaced; the file's other attributes are left alone.
    if (auto set = platform::XAttr::set(path, kFinderTagsAttribute, *serialised); !set) {
        const QString why = platform::XAttr::isNotSupported(set.error())
            ? QStringLiteral("the file system keeps no user attributes")
            : set.error().toString();
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("writing the Finder tags of %1 failed: %2").arg(path, why));
    }
}

quint64 DBHelper::folderIDForFolderPath(const QString& folderPath)
{
    return platform::stringHash(withoutTrailingSlashes(folderPath).toLower());
}

quint64 DBHelper::folderIDForFilePath(const QString& filePath)
{
    const QString path = withoutTrailingSlashes(filePath);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    QString folder;
    if (slash == 0)
        folder = QStringLiteral("/");
    else if (slash > 0)
        folder = path.left(slash);
    return folderIDForFolderPath(folder);
}
