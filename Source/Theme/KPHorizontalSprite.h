// A three-slice: left cap, stretched middle and right cap, each cut from the sheet on load.
#pragma once

#include "Theme/KPSprite.h"

#include <QPointF>

class KPHorizontalSprite : public KPThemeObject {
public:
    using KPThemeObject::KPThemeObject;

    KPSprite* leftSprite() const { return m_left.get(); }
    KPSprite* centerSprite() const { return m_center.get(); }
    KPSprite* rightSprite() const { return m_right.get(); }
    QPointF offset() const { return m_offset; }

    std::unique_ptr<KPSprite> spriteWithRectString(const QString& rectText) const { return spriteWithRectText(rectText); }

protected:
    void loadObject() override;

private:
    std::unique_ptr<KPSprite> m_left, m_center, m_right;
    QPointF m_offset;
};
