// A text style of the theme: font name and size, colours, shadow, alignment and line break.
// textAttribute() turns it into the attributes text is drawn with, built once on first use.
#pragma once

#include "Platform/Kit/TextAttributes.h"
#include "Theme/KPThemeObject.h"

#include <QColor>
#include <QSizeF>
#include <optional>

class KPTextStyle : public KPThemeObject {
public:
    // Used when a style gives no size or a size of 0.
    static constexpr qreal kDefaultFontSize = 12.0;

    using KPThemeObject::KPThemeObject;

    const QString& fontName() const { return m_fontName; }
    qreal fontSize() const { return m_fontSize; }
    const std::optional<QColor>& fontColor() const { return m_fontColor; }
    const std::optional<QColor>& shadowColor() const { return m_shadowColor; }
    QSizeF shadowOffset() const { return m_shadowOffset; }
    const std::optional<qreal>& shadowBlur() const { return m_shadowBlur; }
    uint alignment() const { return m_alignment; }
    uint lineBreakMode() const { return m_lineBreakMode; }

    const platform::kit::TextAttributes& textAttribute();

protected:
    void loadObject() override;

private:
    QString m_fontName;
    qreal m_fontSize = kDefaultFontSize;
    std::optional<QColor> m_fontColor;
    std::optional<QColor> m_shadowColor;
    QSizeF m_shadowOffset{0, 0};
    std::optional<qreal> m_shadowBlur;
    uint m_alignment = 0;
    uint m_lineBreakMode = 0;
    std::optional<platform::kit::TextAttributes> m_attributes;
};
