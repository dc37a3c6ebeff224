#include "Theme/KPTextStyle.h"

#include "Platform/Kit/FontResolver.h"
#include "Theme/ThemeValueText.h"

using platform::kit::FontResolver;
using platform::kit::TextAttributes;

void KPTextStyle::loadObject()
{
    const QVariantMap& d = themeObjectDesc();
    m_fontName = d.value(QStringLiteral("FontName")).toString();
    const qreal size = d.value(QStringLiteral("FontSize")).toDouble();
    m_fontSize = size == 0.0 ? kDefaultFontSize : size;
    m_fontColor = themeColorFromValue(d.value(QStringLiteral("FontColor")));
    m_shadowColor = themeColorFromValue(d.value(QStringLiteral("FontShadowColor")));
    if (d.contains(QStringLiteral("FontShadowSet")))
        m_shadowOffset = themeSizeFromString(d.value(QStringLiteral("FontShadowSet")).toString());
    if (d.contains(QStringLiteral("FontShadowBlur")))
        m_shadowBlur = d.value(QStringLiteral("FontShadowBlur")).toDouble();
    m_alignment = d.value(QStringLiteral("FontAlignment")).toUInt();
    m_lineBreakMode = d.value(QStringLiteral("FontLineBreak")).toUInt();
}

const TextAttributes& KPTextStyle::textAttribute()
{
    load();
    if (m_attributes)
        return *m_attributes;
    TextAttributes attrs;
    attrs.font = FontResolver::fontNamed(m_fontName, m_fontSize).value_or(FontResolver::systemFont(m_fontSize));
    attrs.color = m_fontColor;
    if (m_alignment != 0 || m_lineBreakMode != 0) {
        attrs.hasParagraphStyle = true;
        attrs.alignment = int(m_alignment);
        attrs.lineBreakMode = int(m_lineBreakMode);
    }
    if (m_shadowColor)
        attrs.shadow = platform::kit::TextShadow{*m_shadowColor, m_shadowOffset, m_shadowBlur};
    m_attributes = std::move(attrs);
    return *m_attributes;
}
