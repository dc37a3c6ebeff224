// The two fixed text forms of dates that end up in file names and stored signatures, so they
// must not follow the user's locale.
#pragma once

#include <QDateTime>
#include <QString>

// "%b %d, %Y" in local time with the English month abbreviations: "Jan 01, 2014". Empty for
// an invalid date.
QString calendarDayText(const QDateTime& date);

// The standard description of a date: UTC, whole seconds, "2014-01-01 09:30:05 +0000". Empty
// for an invalid date.
QString dateDescriptionText(const QDateTime& date);
