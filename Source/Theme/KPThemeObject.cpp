#include "Theme/KPThemeObject.h"

#include "Platform/Kit/ImageSlicing.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPSprite.h"
#include "Theme/KPThemeManager.h"
#include "Theme/ThemeValueText.h"

KPThemeObject::KPThemeObject(QVariantMap desc, QString name, const KPThemeSheet* sheet)
    : m_sheet(sheet)
    , m_desc(std::move(desc))
    , m_name(std::move(name))
{
}

KPThemeObject::~KPThemeObject() = default;

KPThemeObject* KPThemeObject::themeObjectWithName(const QString& name)
{
    return KPThemeManager::themeManager()->themeObjectWithName(name);
}

KPCustomThemeObject* KPThemeObject::customThemeObjectWithName(const QString& name)
{
    return KPThemeManager::themeManager()->customThemeObjectWithName(name);
}

void KPThemeObject::load()
{
    if (m_loaded)
        return;
    loadObject();
    m_loaded = true;
}

QString KPThemeObject::themeType() const
{
    return m_desc.value(QStringLiteral("Type")).toString();
}

QString KPThemeObject::description() const
{
    QStringList parts;
    for (auto it = m_desc.cbegin(); it != m_desc.cend(); ++it)
        parts << QStringLiteral("%1 = %2").arg(it.key(), it.value().toString());
    return QStringLiteral("ThemeName: %1, Desc: {%2}").arg(m_name, parts.join(QStringLiteral("; ")));
}

std::unique_ptr<KPSprite> KPThemeObject::spriteWithRectText(const QString& rectText) const
{
    if (!m_sheet)
        return nullptr;
    const QRectF rect = themeRectFromString(rectText);
    QImage image = platform::kit::cutImage(m_sheet->image, rect, m_sheet->scale());
    if (image.isNull())
        return nullptr;
    return std::make_unique<KPSprite>(std::move(image), m_desc, m_name);
}
