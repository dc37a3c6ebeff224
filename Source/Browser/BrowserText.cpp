#include "Browser/BrowserText.h"

#include "Platform/Foundation/Localization.h"

namespace browsertext {

QString text(const QString& key)
{
    return platform::localizedString(key);
}

QString format(const QString& key, const QStringList& values)
{
    const QString pattern = text(key);
    const QString placeholder = QStringLiteral("%@");
    QString out;
    out.reserve(pattern.size() + 16);
    qsizetype from = 0;
    qsizetype next = 0;
    for (qsizetype at = pattern.indexOf(placeholder); at >= 0; at = pattern.indexOf(placeholder, from)) {
        out += QStringView(pattern).mid(from, at - from);
        out += values.value(next++);
        from = at + placeholder.size();
    }
    out += QStringView(pattern).mid(from);
    return out;
}

} // namespace browsertext
