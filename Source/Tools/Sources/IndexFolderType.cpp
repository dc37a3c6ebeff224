#include "Tools/Sources/IndexFolderType.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/PropertyList.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QUrl>

QVariantMap indexFolderDicInfo(const QString& folder, const QString& title, const QString& type)
{
    return {{IndexFolderDicInfo::Path, QUrl::fromLocalFile(folder)},
            {IndexFolderDicInfo::Title, title},
            {IndexFolderDicInfo::Type, type}};
}

QString CloudSourceKind::defaultFolderIn(const QString& realHome) const
{
    if (defaultFolder.isEmpty() || realHome.isEmpty())
        return {};
    return QDir::cleanPath(QString(defaultFolder).replace(QStringLiteral("%@"), realHome));
}

const QList<CloudSourceKind>& cloudSourceKinds()
{
    using namespace IndexFolderType;
    static const QList<CloudSourceKind> kinds{
        {DropBox, QStringLiteral("Dropbox"), QStringLiteral("DropBox"), QStringLiteral("%@/Dropbox")},
        {GoogleDrive, QStringLiteral("Google Drive"), QStringLiteral("GoogleDrive"), QStringLiteral("%@/Google Drive")},
        {SkyDrive, QStringLiteral("OneDrive"), QStringLiteral("OneDrive"), QStringLiteral("%@/OneDrive")},
        {Box, QStringLiteral("Box"), QStringLiteral("Box"), QStringLiteral("%@/Box Documents")},
        {SugarSync, QStringLiteral("SugarSync"), QStringLiteral("SugarSync"), QStringLiteral("%@/Documents/My SugarSync")},
        {Copy, QStringLiteral("Copy"), QStringLiteral("Copy"), QStringLiteral("%@/Copy")},
    };
    return kinds;
}

CloudSourceKind cloudSourceKind(const QString& type)
{
    for (const CloudSourceKind& kind : cloudSourceKinds()) {
        if (kind.type == type)
            return kind;
    }
    return {type, QStringLiteral("Unknown"), {}, {}};
}

QString ICloudServiceEntry::defaultFolderIn(const QString& realHome) const
{
    if (path.isEmpty() || realHome.isEmpty())
        return {};
    return QDir::cleanPath(realHome + QStringLiteral("/Library") + path.mid(1));
}

QList<ICloudServiceEntry> iCloudServiceEntries(const QString& configPath)
{
    const QString path = configPath.isEmpty()
        ? platform::Bundle::mainBundle().pathForResource(QStringLiteral("iCloudServiceConfig"), QStringLiteral("plist"))
        : configPath;
    if (path.isEmpty()) {
        KPLogLogMessage(QStringLiteral("iCloudServiceConfig.plist is missing from the bundle"));
        return {};
    }
    const auto plist = platform::PropertyList::readFile(path);
    if (!plist) {
        KPLogLogMessage(QStringLiteral("iCloudServiceConfig.plist: %1").arg(plist.error().toString()));
        return {};
    }
    QList<ICloudServiceEntry> entries;
    for (const QVariant& value : plist->toList()) {
        if (value.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap entry = value.toMap();
        entries.append({entry.value(QStringLiteral("Name")).toString(), entry.value(QStringLiteral("Path")).toString(),
                        entry.value(QStringLiteral("IconName")).toString()});
    }
    return entries;
}
