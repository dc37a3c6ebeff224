#include "Theme/KPCustomThemeObjectValue.h"

#include "Theme/ThemeValueText.h"

void KPCustomThemeObjectValue::loadObject()
{
    const QVariant value = themeObjectDesc().value(QStringLiteral("Value"));
    if (!value.isValid())
        return;
    const QString type = themeType();
    if (type == QLatin1String("Number"))
        m_value = value;
    else if (type == QLatin1String("Rect"))
        m_value = themeRectFromString(value.toString());
    else if (type == QLatin1String("Point"))
        m_value = themePointFromString(value.toString());
}
