#include "Theme/KPVerticalSprite.h"

#include "Theme/ThemeValueText.h"

void KPVerticalSprite::loadObject()
{
    const QVariantMap& d = themeObjectDesc();
    m_up = spriteWithRectString(d.value(QStringLiteral("UpRect")).toString());
    m_center = spriteWithRectString(d.value(QStringLiteral("CenterRect")).toString());
    m_down = spriteWithRectString(d.value(QStringLiteral("DownRect")).toString());
    if (d.contains(QStringLiteral("Offset")))
        m_offset = themePointFromString(d.value(QStringLiteral("Offset")).toString());
}
