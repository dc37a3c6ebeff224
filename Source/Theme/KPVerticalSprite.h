// A vertical three-slice: upper cap, stretched middle and lower cap. No element of the program
// uses it; the file format keeps it.
#pragma once

#include "Theme/KPSprite.h"

#include <QPointF>

class KPVerticalSprite : public KPThemeObject {
public:
    using KPThemeObject::KPThemeObject;

    KPSprite* upSprite() const { return m_up.get(); }
    KPSprite* centerSprite() const { return m_center.get(); }
    KPSprite* downSprite() const { return m_down.get(); }
    QPointF offset() const { return m_offset; }

    std::unique_ptr<KPSprite> spriteWithRectString(const QString& rectText) const { return spriteWithRectText(rectText); }

protected:
    void loadObject() override;

private:
    std::unique_ptr<KPSprite> m_up, m_center, m_down;
    QPointF m_offset;
};
