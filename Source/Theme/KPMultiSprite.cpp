#include "Theme/KPMultiSprite.h"

void KPMultiSprite::loadObject()
{
    const QVariantMap& d = themeObjectDesc();
    auto state = [&](const char* key) -> std::unique_ptr<KPSprite> {
        const QString k = QLatin1String(key);
        return d.contains(k) ? spriteWithRectString(d.value(k).toString()) : nullptr;
    };
    m_normal = state("Normal");
    m_down = state("Down");
    m_highlight = state("Highlight");
    m_over = state("Over");
    m_disabled = state("Disabled");
    m_unactive = state("Unactive");
}
