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

// XML keeps dates to the second (ISO 8601 without a fraction, as every writer of the format
// does), so that comparison may pass wholeSecondDates.
inline bool sameValue(const QVariant& a, const QVariant& b, bool wholeSecondDates = false)
{
    if (a.typeId() != b.typeId())
        return false;
    switch (a.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap x = a.toMap(), y = b.toMap();
        if (x.size() != y.size())
            return false;
        for (auto i = x.cbegin(), j = y.cbegin(); i != x.cend(); ++i, ++j)
            if (i.key() != j.key() || !sameValue(i.value(), j.value(), wholeSecondDates))
                return false;
        return true;
    }
    case QMetaType::QVariantList: {
        const QVariantList x = a.toList(), y = b.toList();
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i)
            if (!sameValue(x[i], y[i], wholeSecondDates))
                return false;
        return true;
    }
    case QMetaType::Double: {
        const double x = a.toDouble(), y = b.toDouble();
        return (std::isnan(x) && std::isnan(y)) || std::memcmp(&x, &y, sizeof x) == 0;
    }
    case QMetaType::QDateTime:
        if (wholeSecondDates)
            return qAbs(a.toDateTime().msecsTo(b.toDateTime())) < 1000;
        return a.toDateTime() == b.toDateTime();
    default:
        return a == b;
    }
}

// A short description for failure messages.
inline QString describe(const QVariant& value)
{
    QString text;
    QDebug(&text) << value;
    return text.left(600);
}

} // namespace fuzz
