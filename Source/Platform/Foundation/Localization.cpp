#include "Platform/Foundation/Localization.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/PropertyList.h"

#include <QFileInfo>
#include <QtDebug>

namespace platform {

namespace {

const QString kFallbackLanguage = QStringLiteral("en");

// "de_DE.UTF-8@euro" → "de_DE", "de"; "C" and "POSIX" ask for nothing in particular.
void addLocale(QStringList& out, QString locale)
{
    locale = locale.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0).trimmed();
    if (locale.isEmpty() || locale == QLatin1String("C") || locale == QLatin1String("POSIX"))
        return;
    if (!out.contains(locale))
        out.append(locale);
    const QString base = locale.section(QLatin1Char('_'), 0, 0);
    if (!base.isEmpty() && !out.contains(base))
        out.append(base);
}

} // namespace

QStringList Localization::languagesFromEnvironment()
{
    QStringList languages;
    const QStringList fromLanguage =
        qEnvironmentVariable("LANGUAGE").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& l : fromLanguage)
        addLocale(languages, l);
    addLocale(languages, qEnvironmentVariable("LANG"));
    return languages;
}

Localization& Localization::shared()
{
    static Localization* instance =
        new Localization(Bundle::mainBundle().resourcePath(), languagesFromEnvironment());
    return *instance;
}

Localization::Localization(const QString& resourcePath, const QStringList& languages)
    : m_resourcePath(resourcePath)
{
    for (const QString& l : languages)
        if (!l.isEmpty() && !l.contains(QLatin1Char('/')) && !m_languages.contains(l))
            m_languages.append(l);
    m_languages.removeAll(kFallbackLanguage);
    m_languages.append(kFallbackLanguage);
}

const QVariantMap& Localization::tableFor(const QString& language, const QString& table)
{
    const QString cacheKey = language + QLatin1Char('/') + table;
    auto it = m_tables.constFind(cacheKey);
    if (it != m_tables.cend())
        return *it;
    QVariantMap texts;
    const QString path = QStringLiteral("%1/%2.lproj/%3.strings").arg(m_resourcePath, language, table);
    if (QFileInfo::exists(path)) {
        auto value = PropertyList::readFile(path);
        if (value && value->metaType().id() == QMetaType::QVariantMap)
            texts = value->toMap();
        else
            qWarning().noquote() << "Localization: unreadable table" << path << "-"
                                 << (value ? QStringLiteral("not a dictionary")
                                           : value.error().message);
    }
    return *m_tables.insert(cacheKey, texts);
}

QString Localization::localizedString(const QString& key, const QString& table)
{
    std::lock_guard guard(m_mutex);
    for (const QString& language : std::as_const(m_languages)) {
        const QVariant text = tableFor(language, table).value(key);
        if (text.metaType().id() == QMetaType::QString)
            return text.toString();
    }
    return key;
}

QString localizedString(const QString& key, const QString& table)
{
    return Localization::shared().localizedString(key, table);
}

} // namespace platform
