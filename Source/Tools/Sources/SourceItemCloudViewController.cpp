#include "Tools/Sources/SourceItemCloudViewController.h"

#include "Platform/Foundation/Localization.h"
#include "Utilities/ImageHelpers.h"

#include <QDir>
#include <QLabel>
#include <QPixmap>

SourceItemCloudViewController::SourceItemCloudViewController(const ICloudServiceEntry& dicInfo, SourceServices services,
                                                             QWidget* parent)
    : SourceRowController(services, dicInfo.name, IndexFolderType::iCloud, dicInfo.defaultFolderIn(services.realHome),
                          false, parent)
    , m_dicInfo(dicInfo)
{
    if (!dicInfo.iconName.isEmpty())
        outlets().iconView->setPixmap(QPixmap::fromImage(imageFromResource(dicInfo.iconName)));
    loadState();
}

QList<DBIndexFolder> SourceItemCloudViewController::liveSources() const
{
    QList<DBIndexFolder> sources;
    if (defalutSourcePath().isEmpty())
        return sources;
    for (const DBIndexFolder& source : liveIndexFolders(IndexFolderType::iCloud)) {
        if (!source.path().isEmpty() && QDir::cleanPath(source.path()) == defalutSourcePath())
            sources.append(source);
    }
    return sources;
}

QString SourceItemCloudViewController::chooserMessage() const
{
    return platform::localizedString(QStringLiteral("Please connect your iCloud folder."));
}
