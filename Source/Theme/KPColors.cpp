#include "Theme/KPColors.h"

#include "Theme/ThemeValueText.h"

void KPColors::loadObject()
{
    const QVariantMap values = themeObjectDesc().value(QStringLiteral("Value")).toMap();
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (const auto c = themeColorFromValue(it.value()))
            m_colors.insert(it.key(), *c);
    }
}
