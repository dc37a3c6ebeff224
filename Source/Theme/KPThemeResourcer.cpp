#include "Theme/KPThemeResourcer.h"

#include "Platform/Foundation/PropertyList.h"
#include "Theme/KPColor.h"
#include "Theme/KPColors.h"
#include "Theme/KPCustomThemeObjectValue.h"
#include "Theme/KPHorizontalSprite.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPSprite.h"
#include "Theme/KPTextStyle.h"
#include "Theme/KPVerticalSprite.h"
#include "Theme/ThemeLog.h"

#include <QFileInfo>

Q_LOGGING_CATEGORY(lcThemeSystemLog, "folivo.theme")

using platform::fail;

namespace {

QString describe(const QVariant& value)
{
    if (value.typeId() == QMetaType::QVariantMap)
        return QStringLiteral("{%1}").arg(value.toMap().keys().join(QStringLiteral(", ")));
    return value.toString();
}

} // namespace

KPThemeResourcer::KPThemeResourcer(QString themeFilePath, bool is2x)
    : m_themeFilePath(std::move(themeFilePath))
{
    m_sheet.is2x = is2x;
}

QString KPThemeResourcer::sheetPath() const
{
    const QFileInfo info(m_themeFilePath);
    const QString pattern = m_sheet.is2x ? QStringLiteral("%1/%2@2x.png") : QStringLiteral("%1/%2.png");
    return pattern.arg(info.path(), info.completeBaseName());
}

platform::Result<void> KPThemeResourcer::loadResource()
{
    const QString sheetFile = sheetPath();
    if (!QFileInfo(m_themeFilePath).isFile() || !QFileInfo(sheetFile).isFile())
        return fail(kErrorDomain, MissingFile, QStringLiteral("Theme file don't exist!"));

    QImage sheet(sheetFile);
    if (sheet.isNull())
        return fail(kErrorDomain, MissingFile, QStringLiteral("error theme file!"));
    m_sheet.image = sheet.convertToFormat(QImage::Format_ARGB32_Premultiplied);

    // An unreadable style list is reported as a bad description rather than as a silent
    // failure, so the log says what was wrong with it.
    const auto list = platform::PropertyList::readFile(m_themeFilePath);
    if (!list)
        return fail(kErrorDomain, BadDescription, list.error().message);
    if (list->typeId() != QMetaType::QVariantMap)
        return fail(kErrorDomain, BadDescription, QStringLiteral("error theme file!"));
    const QVariantMap root = list->toMap();

    const QVariant objects = root.value(QStringLiteral("ThemeObjects"));
    if (objects.isValid() && objects.typeId() != QMetaType::QVariantMap)
        return fail(kErrorDomain, BadDescription, QStringLiteral("ThemeObjects is not a dictionary"));
    const QVariantMap objectMap = objects.toMap();
    for (auto it = objectMap.cbegin(); it != objectMap.cend(); ++it) {
        auto made = makeThemeObject(it.key(), it.value(), &m_sheet);
        if (!made)
            return std::unexpected(made.error());
        if (!*made) {
            qCWarning(lcThemeSystemLog).noquote()
                << QStringLiteral("Parse Theme Object Error: key: %1 \n Value: %2").arg(it.key(), describe(it.value()));
            continue;
        }
        m_themeObjects[it.key()] = std::move(*made);
    }

    const QVariant groups = root.value(QStringLiteral("CustomThemeObject"));
    if (groups.isValid() && groups.typeId() != QMetaType::QVariantMap)
        return fail(kErrorDomain, BadDescription, QStringLiteral("CustomThemeObject is not a dictionary"));
    const QVariantMap groupMap = groups.toMap();
    for (auto it = groupMap.cbegin(); it != groupMap.cend(); ++it) {
        auto made = makeCustomThemeObject(it.key(), it.value(), &m_sheet);
        if (!made)
            return std::unexpected(made.error());
        if (!*made) {
            qCWarning(lcThemeSystemLog).noquote()
                << QStringLiteral("Parse Custom Theme Object Error: key: %1 \n Value: %2").arg(it.key(), describe(it.value()));
            continue;
        }
        m_themeCustomObjects[it.key()] = std::move(*made);
    }
    return {};
}

KPThemeObject* KPThemeResourcer::themeWithName(const QString& name) const
{
    const auto it = m_themeObjects.find(name);
    return it == m_themeObjects.end() ? nullptr : it->second.get();
}

KPCustomThemeObject* KPThemeResourcer::customThemeObjectWithName(const QString& name) const
{
    const auto it = m_themeCustomObjects.find(name);
    return it == m_themeCustomObjects.end() ? nullptr : it->second.get();
}

platform::Result<std::unique_ptr<KPThemeObject>> KPThemeResourcer::makeThemeObject(const QString& name, const QVariant& desc,
                                                                                   const KPThemeSheet* sheet)
{
    if (desc.typeId() != QMetaType::QVariantMap)
        return fail(kErrorDomain, BadDescription,
                    QStringLiteral("The description of \"%1\" is not a dictionary: %2").arg(name, describe(desc)));
    QVariantMap d = desc.toMap();
    const QString type = d.value(QStringLiteral("Type")).toString();
    std::unique_ptr<KPThemeObject> object;
    if (type == QLatin1String("Sprite"))
        object = std::make_unique<KPSprite>(std::move(d), name, sheet);
    else if (type == QLatin1String("MultiSprite"))
        object = std::make_unique<KPMultiSprite>(std::move(d), name, sheet);
    else if (type == QLatin1String("Color"))
        object = std::make_unique<KPColor>(std::move(d), name, sheet);
    else if (type == QLatin1String("Colors"))
        object = std::make_unique<KPColors>(std::move(d), name, sheet);
    else if (type == QLatin1String("TextStyle"))
        object = std::make_unique<KPTextStyle>(std::move(d), name, sheet);
    else if (type == QLatin1String("HorizontalSprite"))
        object = std::make_unique<KPHorizontalSprite>(std::move(d), name, sheet);
    else if (type == QLatin1String("VerticalSprite"))
        object = std::make_unique<KPVerticalSprite>(std::move(d), name, sheet);
    else
        object = std::make_unique<KPCustomThemeObjectValue>(std::move(d), name, sheet);
    return object;
}

platform::Result<std::unique_ptr<KPCustomThemeObject>> KPThemeResourcer::makeCustomThemeObject(const QString& name,
                                                                                               const QVariant& members,
                                                                                               const KPThemeSheet* sheet)
{
    if (members.typeId() != QMetaType::QVariantMap)
        return fail(kErrorDomain, BadDescription,
                    QStringLiteral("The group \"%1\" is not a dictionary: %2").arg(name, describe(members)));
    const QVariantMap map = members.toMap();
    if (map.isEmpty())
        return std::unique_ptr<KPCustomThemeObject>();
    auto group = std::make_unique<KPCustomThemeObject>(map, name, sheet);
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        auto member = makeThemeObject(it.key(), it.value(), sheet);
        if (!member)
            return std::unexpected(member.error());
        group->addSubThemeObject(std::move(*member), it.key());
    }
    return group;
}
