#include "Platform/Foundation/PropertyListValues.h"

#include "Platform/Foundation/PropertyList.h"

#include <cmath>
#include <limits>

namespace platform::plist {

// Seconds times 1000 must be exact before rounding: a double's 53 bits times 1000's 10 bits.
static_assert(std::numeric_limits<long double>::digits >= 63,
              "millisecond arithmetic needs a long double of at least 63 bits");

std::unexpected<Error> malformed(const QString& why)
{
    return fail(kDomain, kMalformed, why);
}

std::unexpected<Error> unsupported(const QString& why)
{
    return fail(kDomain, kUnsupported, why);
}

std::unexpected<Error> tooDeep()
{
    return fail(kDomain, kTooDeep, QStringLiteral("property list nested too deeply"));
}

Kind kindOf(const QVariant& value)
{
    const int type = value.metaType().id();
    if (type == qMetaTypeId<PlistUID>())
        return Kind::Uid;
    switch (type) {
    case QMetaType::Bool:
        return Kind::Bool;
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::SChar:
        return Kind::Signed;
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return Kind::Unsigned;
    case QMetaType::Double:
    case QMetaType::Float:
        return Kind::Real;
    case QMetaType::QString:
        return Kind::String;
    case QMetaType::QByteArray:
        return Kind::Data;
    case QMetaType::QDateTime:
        return Kind::Date;
    case QMetaType::QStringList:
    case QMetaType::QVariantList:
        return Kind::Array;
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
        return Kind::Dict;
    default:
        return Kind::None;
    }
}

QString keyPath(const QString& parent, const QString& key)
{
    return (parent.endsWith(QLatin1Char('/')) ? parent : parent + QLatin1Char('/')) + key;
}

QString indexPath(const QString& parent, qsizetype index)
{
    return QStringLiteral("%1[%2]").arg(parent).arg(index);
}

std::unexpected<Error> noFormFor(const QVariant& value, const QString& path)
{
    const char* name = value.metaType().name();
    return unsupported(QStringLiteral("no property-list form for %1 at %2")
                           .arg(QString::fromLatin1(name ? name : "an empty value"), path));
}

std::optional<QDateTime> dateFromReferenceSeconds(double seconds)
{
    if (!std::isfinite(seconds))
        return std::nullopt;
    const long double msecs = std::roundl(static_cast<long double>(seconds) * 1000.0L)
        + static_cast<long double>(kReferenceMSecsSinceEpoch);
    if (msecs < static_cast<long double>(std::numeric_limits<qint64>::min())
        || msecs > static_cast<long double>(std::numeric_limits<qint64>::max()))
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(msecs), Qt::UTC);
}

double referenceSecondsFromDate(const QDateTime& date)
{
    const long double msecs = static_cast<long double>(date.toMSecsSinceEpoch())
        - static_cast<long double>(kReferenceMSecsSinceEpoch);
    return static_cast<double>(msecs / 1000.0L);
}

std::optional<double> exactReferenceSeconds(const QDateTime& date)
{
    if (!date.isValid())
        return std::nullopt;
    const double seconds = referenceSecondsFromDate(date);
    const auto back = dateFromReferenceSeconds(seconds);
    if (!back || back->toMSecsSinceEpoch() != date.toMSecsSinceEpoch())
        return std::nullopt;
    return seconds;
}

bool isWellFormed(const QString& s)
{
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = s.at(i);
        if (c.isHighSurrogate() && i + 1 < n && s.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return false;
    }
    return true;
}

} // namespace platform::plist
