#include "Tools/Sources/SourceItemViewController.h"

#include "Tools/Sources/IndexFolderType.h"
#include "Tools/Sources/SourceText.h"

#include "Utilities/ImageHelpers.h"

#include <QLabel>
#include <QPixmap>

SourceItemViewController::SourceItemViewController(const QString& sourceType, SourceServices services, QWidget* parent)
    : SourceRowController(services, cloudSourceKind(sourceType).title, sourceType,
                          cloudSourceKind(sourceType).defaultFolderIn(services.realHome), true, parent)
    , m_sourceType(sourceType)
{
    const QString icon = cloudSourceKind(sourceType).iconName;
    if (!icon.isEmpty())
        outlets().iconView->setPixmap(QPixmap::fromImage(imageFromResource(icon + QStringLiteral(".tiff"))));
    loadState();
}

QList<DBIndexFolder> SourceItemViewController::liveSources() const
{
    return liveIndexFolders(m_sourceType);
}

QString SourceItemViewController::chooserMessage() const
{
    return localizedFormat(QStringLiteral("Please connect your %@ folder."), title());
}
