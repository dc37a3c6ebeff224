#include "Tools/LocalizedCount.h"

#include "Platform/Foundation/Localization.h"

#include <QRegularExpression>

QString formatWithCount(const QString& format, qint64 count)
{
    static const QRegularExpression placeholder(QStringLiteral("%(?:ld|lu|d|@)"));
    const QRegularExpressionMatch match = placeholder.match(format);
    if (!match.hasMatch())
        return format;
    QString text = format;
    return text.replace(match.capturedStart(), match.capturedLength(), QString::number(count));
}

QString localizedCount(const QString& key, qint64 count)
{
    return formatWithCount(platform::localizedString(key), count);
}
