#include "Theme/KPSprite.h"

#include "Platform/Kit/ImageSlicing.h"
#include "Theme/ThemeLog.h"
#include "Theme/ThemeValueText.h"

KPSprite::KPSprite(QVariantMap desc, QString name, const KPThemeSheet* sheet)
    : KPThemeObject(std::move(desc), std::move(name), sheet)
{
}

KPSprite::KPSprite(QImage image, QVariantMap desc, QString name)
    : KPThemeObject(std::move(desc), std::move(name), nullptr)
    , m_image(std::move(image))
{
    load();
}

QSizeF KPSprite::size() const
{
    return platform::kit::pointSize(m_image);
}

QImage KPSprite::cutImageInRect(const QImage& sheet, const QRect& pixels)
{
    return platform::kit::cutPixels(sheet, pixels);
}

void KPSprite::loadObject()
{
    const QVariant value = themeObjectDesc().value(QStringLiteral("Value"));
    if (!value.isValid() || !m_sheet)
        return;
    const QRectF rect = themeRectFromString(value.toString());
    m_image = platform::kit::cutImage(m_sheet->image, rect, m_sheet->scale());
    if (m_image.isNull())
        qCWarning(lcThemeSystemLog).noquote() << QStringLiteral("KPSprite load data error: %1-%2").arg(themeObjectName(), value.toString());
}
