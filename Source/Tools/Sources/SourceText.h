// The localised texts of the source views whose keys carry one "%@" for a name.
#pragma once

#include <QString>

// The localised text of key with its first "%@" replaced by value.
QString localizedFormat(const QString& key, const QString& value);
