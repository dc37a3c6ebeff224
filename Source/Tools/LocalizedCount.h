// Localised formats that take one number, written with the placeholder the localisation tables
// use ("%ld", "%d" or "%@"): the number replaces the first one.
#pragma once

#include <QString>

QString formatWithCount(const QString& format, qint64 count);
// formatWithCount over the localised text of key.
QString localizedCount(const QString& key, qint64 count);
