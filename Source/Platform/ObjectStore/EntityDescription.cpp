#include "Platform/ObjectStore/EntityDescription.h"

#include "Platform/Foundation/VariantNumbers.h"

#include <QDateTime>
#include <cmath>
#include <limits>

namespace platform {

bool EntityDescription::isKindOf(const EntityDescription* other) const
{
    for (const EntityDescription* e = this; e; e = e->m_super) {
        if (e == other)
            return true;
    }
    return false;
}

const AttributeDescription* EntityDescription::attribute(const QString& name) const
{
    for (const AttributeDescription& a : m_attributes) {
        if (a.name == name)
            return &a;
    }
    return nullptr;
}

const RelationshipDescription* EntityDescription::relationship(const QString& name) const
{
    for (const RelationshipDescription& r : m_relationships) {
        if (r.name == name)
            return &r;
    }
    return nullptr;
}

namespace {

struct TypeName {
    AttributeType type;
    const char* name;
};

constexpr TypeName typeNames[] = {
    {AttributeType::String, "string"}, {AttributeType::Int16, "int16"},
    {AttributeType::Int32, "int32"},   {AttributeType::Int64, "int64"},
    {AttributeType::UInt32, "uint32"}, {AttributeType::UInt64, "uint64"},
    {AttributeType::Bool, "bool"},     {AttributeType::Double, "double"},
    {AttributeType::Date, "date"},     {AttributeType::Binary, "binary"},
};

bool isNumeric(const QVariant& v)
{
    return v.metaType().id() == QMetaType::Bool || isNumberType(v.metaType().id());
}

bool isUnsigned(const QVariant& v)
{
    const int id = v.metaType().id();
    return id == QMetaType::UInt || id == QMetaType::ULong || id == QMetaType::ULongLong
        || id == QMetaType::UShort || id == QMetaType::UChar;
}

bool isFloating(const QVariant& v)
{
    const int id = v.metaType().id();
    return id == QMetaType::Double || id == QMetaType::Float;
}

// An integral value as signed (or, above INT64_MAX, unsigned) 64-bit; floats must be whole.
bool integral(const QVariant& v, qint64* s, quint64* u, bool* isBig)
{
    *isBig = false;
    if (isFloating(v)) {
        const double d = v.toDouble();
        if (!std::isfinite(d) || d != std::floor(d))
            return false;
        if (d >= 9223372036854775808.0) {
            if (d >= 18446744073709551616.0)
                return false;
            *u = quint64(d);
            *isBig = true;
            return true;
        }
        if (d < -9223372036854775808.0)
            return false;
        *s = qint64(d);
        return true;
    }
    if (isUnsigned(v)) {
        const quint64 x = v.toULongLong();
        if (x > quint64(std::numeric_limits<qint64>::max())) {
            *u = x;
            *isBig = true;
            return true;
        }
        *s = qint64(x);
        return true;
    }
    *s = v.toLongLong();
    return true;
}

} // namespace

QString attributeTypeName(AttributeType type)
{
    for (const TypeName& t : typeNames) {
        if (t.type == type)
            return QString::fromLatin1(t.name);
    }
    return {};
}

bool attributeTypeFromName(const QString& name, AttributeType* type)
{
    for (const TypeName& t : typeNames) {
        if (name == QLatin1String(t.name)) {
            *type = t.type;
            return true;
        }
    }
    return false;
}

bool coerceAttributeValue(AttributeType type, const QVariant& in, QVariant* out)
{
    // A null QString, QByteArray or QDateTime is how Qt code says nil.
    if (!in.isValid() || in.isNull()) {
        *out = QVariant();
        return true;
    }
    switch (type) {
    case AttributeType::String:
        if (in.metaType().id() == QMetaType::QString) {
            *out = in;
            return true;
        }
        if (in.metaType().id() == QMetaType::QByteArray) {
            *out = QString::fromUtf8(in.toByteArray());
            return true;
        }
        return false;
    case AttributeType::Binary:
        if (in.metaType().id() != QMetaType::QByteArray)
            return false;
        *out = in;
        return true;
    case AttributeType::Bool:
        if (!isNumeric(in))
            return false;
        *out = isFloating(in) ? in.toDouble() != 0.0 : in.toLongLong() != 0 || in.toULongLong() != 0;
        return true;
    case AttributeType::Double:
        if (!isNumeric(in))
            return false;
        *out = in.toDouble();
        return true;
    case AttributeType::Date: {
        if (in.metaType().id() != QMetaType::QDateTime)
            return false;
        const QDateTime d = in.toDateTime();
        *out = d.isValid() ? QVariant(d.toUTC()) : QVariant();
        return true;
    }
    default:
        break;
    }
    if (!isNumeric(in))
        return false;
    qint64 s = 0;
    quint64 u = 0;
    bool big = false;
    if (!integral(in, &s, &u, &big))
        return false;
    switch (type) {
    case AttributeType::UInt64:
        if (big) {
            *out = QVariant::fromValue(u);
            return true;
        }
        if (s < 0)
            return false;
        *out = QVariant::fromValue(quint64(s));
        return true;
    case AttributeType::Int16:
        if (big || s < -32768 || s > 32767)
            return false;
        break;
    case AttributeType::Int32:
        if (big || s < std::numeric_limits<qint32>::min() || s > std::numeric_limits<qint32>::max())
            return false;
        break;
    case AttributeType::UInt32:
        if (big || s < 0 || s > qint64(std::numeric_limits<quint32>::max()))
            return false;
        break;
    case AttributeType::Int64:
        if (big)
            return false;
        break;
    default:
        return false;
    }
    *out = QVariant::fromValue(s);
    return true;
}

} // namespace platform
