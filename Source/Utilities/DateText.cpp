#include "Utilities/DateText.h"

#include <QLocale>
#include <QTimeZone>

QString calendarDayText(const QDateTime& date)
{
    if (!date.isValid())
        return {};
    return QLocale::c().toString(date.toLocalTime().date(), QStringLiteral("MMM dd, yyyy"));
}

QString dateDescriptionText(const QDateTime& date)
{
    if (!date.isValid())
        return {};
    return QLocale::c().toString(date.toUTC(), QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000");
}
