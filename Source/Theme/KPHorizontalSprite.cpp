#include "Theme/KPHorizontalSprite.h"

#include "Theme/ThemeValueText.h"

void KPHorizontalSprite::loadObject()
{
    const QVariantMap& d = themeObjectDesc();
    m_left = spriteWithRectString(d.value(QStringLiteral("LeftRect")).toString());
    m_center = spriteWithRectString(d.value(QStringLiteral("CenterRect")).toString());
    m_right = spriteWithRectString(d.value(QStringLiteral("RightRect")).toString());
    if (d.contains(QStringLiteral("Offset")))
        m_offset = themePointFromString(d.value(QStringLiteral("Offset")).toString());
}
