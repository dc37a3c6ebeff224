#include "Browser/ItemViews/KPSectionFileTypeItemView.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Kit/Canvas.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPTextStyle.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QScreen>

namespace {

bool is2x()
{
    return qApp && qApp->primaryScreen() && qApp->primaryScreen()->devicePixelRatio() >= 2.0;
}

} // namespace

void KPSectionFileTypeItemView::setItemData(const FileTypeGroupRecord& record)
{
    m_record = record;
    m_iconFileName = QString::number(record.kindID) + (is2x() ? QStringLiteral("@2x.png") : QStringLiteral(".png"));
    update();
}

QVariant KPSectionFileTypeItemView::clickObject() const
{
    return m_record ? QVariant(m_record->toVariantMap()) : QVariant();
}

QImage KPSectionFileTypeItemView::icon() const
{
    static QHash<QString, QImage> cache;
    if (m_iconFileName.isEmpty())
        return {};
    if (auto found = cache.constFind(m_iconFileName); found != cache.constEnd())
        return *found;
    const platform::Bundle& bundle = platform::Bundle::mainBundle();
    QString path = bundle.pathForResource(QFileInfo(m_iconFileName).completeBaseName(), QStringLiteral("png"), QStringLiteral("fileicon"));
    if (path.isEmpty())
        path = bundle.pathForResource(is2x() ? QStringLiteral("-1@2x") : QStringLiteral("-1"), QStringLiteral("png"), QStringLiteral("fileicon"));
    QImage image(path);
    if (image.isNull())
        return {};
    if (path.contains(QLatin1String("@2x")))
        image.setDevicePixelRatio(2);
    cache.insert(m_iconFileName, image);
    return image;
}

void KPSectionFileTypeItemView::paintEvent(QPaintEvent*)
{
    if (!m_record || m_iconFileName.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    platform::kit::Canvas canvas(painter, height());
    const QImage image = icon();
    if (!image.isNull()) {
        const QSizeF s = image.deviceIndependentSize();
        canvas.drawImage(QRectF(0, height() - s.height(), s.width(), s.height()), image, grouptile::fadeOpacity(isMouseIn()));
    }
    KPCustomThemeObject* theme = KPThemeObject::customThemeObjectWithName(QStringLiteral("FlagView"));
    auto* style = theme ? theme->themeObjectWithName<KPTextStyle>(QStringLiteral("NumberFont")) : nullptr;
    canvas.drawText(QRectF(0, 1, width() - 6, 18), grouptile::countText(m_record->itemCount),
                    style ? style->textAttribute() : platform::kit::TextAttributes::plain(QFont()));
}
