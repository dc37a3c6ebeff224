#include "Theme/KPColor.h"

#include "Theme/ThemeValueText.h"

void KPColor::loadObject()
{
    m_color = themeColorFromValue(themeObjectDesc().value(QStringLiteral("Value")));
}
