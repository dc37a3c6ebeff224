// Localized interface texts from "<resources>/<lang>.lproj/<table>.strings", each written as
// an XML property list whose top level is a dictionary from key to text.
//
// The language comes from LANGUAGE (a colon-separated list), else LANG ("de_DE.UTF-8" tries
// "de_DE", then "de"); English is always the last resort, so a text missing from a partial
// translation still reads in English. A key found nowhere is returned as it is, as the
// program's keys are themselves English text. Tables are read once and kept.
// Threads: any; the cache has one lock.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <mutex>

namespace platform {

class Localization {
public:
    // Over the main bundle's resources and the environment's languages.
    static Localization& shared();

    Localization(const QString& resourcePath, const QStringList& languages);

    QString localizedString(const QString& key, const QString& table = QStringLiteral("Localizable"));

    // Languages to try, best first, always ending with "en".
    QStringList languages() const { return m_languages; }
    // What LANGUAGE and LANG ask for, in order, before "en" is added.
    static QStringList languagesFromEnvironment();

private:
    const QVariantMap& tableFor(const QString& language, const QString& table);

    QString m_resourcePath;
    QStringList m_languages;
    std::mutex m_mutex;
    QHash<QString, QVariantMap> m_tables; // "<lang>/<table>" → texts
};

// The text for key in the user's language from Localization::shared(): how every interface
// text of the program is looked up.
QString localizedString(const QString& key, const QString& table = QStringLiteral("Localizable"));

} // namespace platform
