// Round trips of property-list values, shared by the property-list and keyed-archive targets:
// what a reader accepts must be written back and read again as the very same value, since
// "read exactly or refused" is what those readers promise.
#pragma once

#include "FuzzSupport.h"

#include <QDateTime>
#include <QVariant>
#include <cmath>
#include <cstring>

namespace fuzz {

// A short description for failure messages.
inline QString describe(const QVariant& value)
{
    QString text;
    QDebug(&text) << value;
    return text.left(600);
}

// Where two values first differ ("/key[2]: a ≠ b"), or an empty string when they are the same.
// XML keeps dates to the second (ISO 8601 without a fraction, as every writer of the format
// does), so that comparison may pass wholeSecondDates.
inline QString difference(const QVariant& a, const QVariant& b, bool wholeSecondDates = false,
                          const QString& path = QStringLiteral("/"))
{
    const auto differ = [&] { return path + QStringLiteral(": ") + describe(a) + QStringLiteral(" ≠ ") + describe(b); };
    if (a.typeId() != b.typeId())
        return differ();
    switch (a.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap x = a.toMap(), y = b.toMap();
        if (x.keys() != y.keys())
            return path + QStringLiteral(": keys ") + x.keys().join(QLatin1Char(','))
                   + QStringLiteral(" ≠ ") + y.keys().join(QLatin1Char(','));
        for (auto i = x.cbegin(); i != x.cend(); ++i)
            if (const QString d = difference(i.value(), y.value(i.key()), wholeSecondDates,
                                             path + i.key() + QLatin1Char('/'));
                !d.isEmpty())
                return d;
        return {};
    }
    case QMetaType::QVariantList: {
        const QVariantList x = a.toList(), y = b.toList();
        if (x.size() != y.size())
            return differ();
        for (qsizetype i = 0; i < x.size(); ++i)
            if (const QString d = difference(x[i], y[i], wholeSecondDates,
                                             path + QStringLiteral("[%1]/").arg(i));
                !d.isEmpty())
                return d;
        return {};
    }
    case QMetaType::Double: {
        const double x = a.toDouble(), y = b.toDouble();
        const bool same = (std::isnan(x) && std::isnan(y)) || std::memcmp(&x, &y, sizeof x) == 0;
        return same ? QString() : differ() + QStringLiteral(" (%1 ≠ %2)").arg(x, 0, 'g', 17).arg(y, 0, 'g', 17);
    }
    case QMetaType::QDateTime: {
        const QDateTime x = a.toDateTime(), y = b.toDateTime();
        const bool same = wholeSecondDates ? qAbs(x.msecsTo(y)) < 1000 : x == y;
        return same ? QString() : differ();
    }
    default:
        return a == b ? QString() : differ();
    }
}

} // namespace fuzz
