#include "Browser/KPSafeBoxItemData.h"

#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/MD5Generator.h"

#include <QDir>

namespace {

const QString kPathKey = QStringLiteral("Path");

// The last path component without its extension; a hidden name without one stays whole.
QString titleOfPath(const QString& path)
{
    const QString name = path.section(QLatin1Char('/'), -1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

} // namespace

KPSafeBoxItemData::KPSafeBoxItemData(const QVariantMap& dicInfo, const QString& parentPath)
    : KPItemData(QVariant(), dicInfo.value(kPathKey).toString())
    , m_dicInfo(dicInfo)
    , m_parentPath(parentPath)
{
    const QString path = dicInfo.value(kPathKey).toString();
    Values& shown = values();
    shown.filePath = path;
    shown.title = titleOfPath(path);
    shown.fileSize = dicInfo.value(QStringLiteral("Size")).toLongLong();
    shown.dateModified = dicInfo.value(QStringLiteral("Date")).toDateTime();
    extras().dateCreated = dicInfo.value(QStringLiteral("CreateDate")).toDateTime();
    const QString folder = thumbnailFolder(parentPath);
    // A volume that went away leaves an item without a stored thumbnail; the loader then makes
    // the picture without storing it.
    if (!QDir().mkpath(folder))
        KPLogLogDomainMessage(QStringLiteral("SafeBox"), 1, QStringLiteral("cannot create %1").arg(folder));
    shown.thumbPath = folder + QLatin1Char('/') + MD5Generator::createMD5ByString(path);
}

QString KPSafeBoxItemData::thumbnailFolder(const QString& parentPath)
{
    return parentPath + QStringLiteral("/.Thumbnail");
}
