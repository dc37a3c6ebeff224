// The state pictures of one control (normal, down, highlight, over, disabled, unactive), each
// cut from the sheet when the object loads; a state the description lacks stays absent.
#pragma once

#include "Theme/KPSprite.h"

class KPMultiSprite : public KPThemeObject {
public:
    using KPThemeObject::KPThemeObject;

    KPSprite* normalSprite() const { return m_normal.get(); }
    KPSprite* downSprite() const { return m_down.get(); }
    KPSprite* highlightSprite() const { return m_highlight.get(); }
    KPSprite* overSprite() const { return m_over.get(); }
    KPSprite* disabledSprite() const { return m_disabled.get(); }
    KPSprite* unactiveSprite() const { return m_unactive.get(); }

    std::unique_ptr<KPSprite> spriteWithRectString(const QString& rectText) const { return spriteWithRectText(rectText); }

protected:
    void loadObject() override;

private:
    std::unique_ptr<KPSprite> m_normal, m_down, m_highlight, m_over, m_disabled, m_unactive;
};
