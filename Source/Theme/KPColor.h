// One colour of the theme; none when the description's value is empty or missing.
#pragma once

#include "Theme/KPThemeObject.h"

#include <QColor>
#include <optional>

class KPColor : public KPThemeObject {
public:
    using KPThemeObject::KPThemeObject;

    const std::optional<QColor>& color() const { return m_color; }

protected:
    void loadObject() override;

private:
    std::optional<QColor> m_color;
};
