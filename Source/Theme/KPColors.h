// A named set of colours; entries whose text gives no colour are left out.
#pragma once

#include "Theme/KPThemeObject.h"

#include <QColor>
#include <QMap>

class KPColors : public KPThemeObject {
public:
    using KPThemeObject::KPThemeObject;

    const QMap<QString, QColor>& colors() const { return m_colors; }

protected:
    void loadObject() override;

private:
    QMap<QString, QColor> m_colors;
};
