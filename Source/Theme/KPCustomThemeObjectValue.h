// A plain value of the theme, read by its "Type": "Number" keeps the stored value, "Rect" and
// "Point" read geometry (a QRectF or QPointF); any other type has no value. Values are never
// scaled for 2x.
#pragma once

#include "Theme/KPThemeObject.h"

#include <QVariant>

class KPCustomThemeObjectValue : public KPThemeObject {
public:
    using KPThemeObject::KPThemeObject;

    const QVariant& objectValue() const { return m_value; }

protected:
    void loadObject() override;

private:
    QVariant m_value;
};
