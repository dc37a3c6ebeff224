#include "Tools/Sources/SourceSetupView.h"

#include "Tools/Sources/SourceItemView.h"

#include "Controls/KPCoustomDrawBGView.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/Flip.h"
#include "Utilities/ImageHelpers.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

using platform::localizedString;

QRect sourceRowFrame(int index, int viewHeight)
{
    const QRectF up(kSourceRowX, viewHeight - kSourceRowStep * (index + 1), kSourceRowSize.width(),
                    kSourceRowSize.height());
    return platform::kit::toQt(up, viewHeight).toRect();
}

int sourceRowsHeight(int count)
{
    return kSourceRowX + kSourceRowStep * count;
}

void buildSourceSetupView(SourceSetupOutlets& outlets, int rowCount, QWidget* parent)
{
    const QSize size(kSourceRowSize.width() + 2 * kSourceRowX, sourceRowsHeight(rowCount + 1));
    auto* view = new KPCoustomDrawBGView(QRect(QPoint(0, 0), size), parent);
    view->setObjectName(QStringLiteral("SourceSetupView"));
    view->setMinimumSize(size);
    outlets.view = view;

    auto* iCloud = new KPCoustomDrawBGView(sourceRowFrame(0, size.height()), view);
    outlets.iCloudView = iCloud;
    outlets.iCloudIcon = new QLabel(iCloud);
    outlets.iCloudIcon->setGeometry(14, 9, 32, 32);
    outlets.iCloudIcon->setScaledContents(true);
    outlets.iCloudIcon->setPixmap(QPixmap::fromImage(imageFromResource(QStringLiteral("iCloud.tiff"))));
    outlets.txtiCloudTitle = new QLabel(QStringLiteral("iCloud"), iCloud);
    outlets.txtiCloudTitle->setGeometry(58, 15, 150, 20);
    QFont bold = outlets.txtiCloudTitle->font();
    bold.setBold(true);
    outlets.txtiCloudTitle->setFont(bold);
    outlets.btnManageCloud = new QPushButton(localizedString(QStringLiteral("Manage...")), iCloud);
    outlets.btnManageCloud->setGeometry(452, 12, 90, 26);
    outlets.btnManageCloud->setAutoDefault(false);
}
