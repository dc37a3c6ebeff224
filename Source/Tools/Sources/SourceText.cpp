#include "Tools/Sources/SourceText.h"

#include "Platform/Foundation/Localization.h"

QString localizedFormat(const QString& key, const QString& value)
{
    QString text = platform::localizedString(key);
    const qsizetype at = text.indexOf(QStringLiteral("%@"));
    if (at >= 0)
        text.replace(at, 2, value);
    return text;
}
