// The table of default user settings registered at every start, before anything reads them.
// Every value is registered as text; the typed readers of UserDefaults convert "YES"/"NO" and
// digit strings, so the table can stay a plain list of words.
#pragma once

#include <QVariantMap>

namespace DefaultSettings {

// The table; "String_Library_Path" is the absolute "<documents>/Folivo 2 Library".
QVariantMap table(const QString& documentsFolder);

// Registers the table in the standard user-defaults domain.
void registerDefaultSettings();

} // namespace DefaultSettings
