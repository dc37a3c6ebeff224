#include "Platform/ObjectStore/Predicate/KeyValueCoding.h"

namespace platform {

namespace {

const QString countKey = QStringLiteral("@count");

void appendFlattened(QVariantList& out, const QVariant& value)
{
    if (value.metaType().id() == QMetaType::QVariantList) {
        for (const QVariant& element : value.toList())
            appendFlattened(out, element);
    } else {
        out.append(value);
    }
}

QVariant countOf(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::QVariantList:
        return QVariant::fromValue(qint64(value.toList().size()));
    case QMetaType::QVariantMap:
        return QVariant::fromValue(qint64(value.toMap().size()));
    case QMetaType::QStringList:
        return QVariant::fromValue(qint64(value.toStringList().size()));
    default:
        // An empty to-many may be reported as nil; it still counts as zero.
        return value.isValid() ? QVariant() : QVariant::fromValue(qint64(0));
    }
}

} // namespace

QVariant KeyValueCoding::valueForKeyPath(const QString& keyPath) const
{
    return valueForKeyPathComponents(keyPath.split(QLatin1Char('.')));
}

QVariant KeyValueCoding::valueForKeyPathComponents(const QStringList& components) const
{
    // An object is not a collection: "@count" on it answers nil rather than a guess.
    if (components.isEmpty() || components.front() == countKey)
        return {};
    QVariant current = valueForKey(components.front());
    for (qsizetype i = 1; i < components.size(); ++i)
        current = kvc::valueForKey(current, components[i]);
    return current;
}

QVariant KeyValueCoding::identity() const
{
    return QVariant::fromValue(const_cast<void*>(static_cast<const void*>(this)));
}

namespace kvc {

const KeyValueCoding* object(const QVariant& value)
{
    if (value.metaType() != QMetaType::fromType<ObjectRef>())
        return nullptr;
    return static_cast<const ObjectRef*>(value.constData())->get();
}

QVariant valueForKey(const QVariant& value, const QString& key)
{
    if (key == countKey)
        return countOf(value);
    if (const KeyValueCoding* target = object(value))
        return target->valueForKey(key);
    switch (value.metaType().id()) {
    case QMetaType::QVariantMap:
        return value.toMap().value(key);
    case QMetaType::QVariantHash:
        return value.toHash().value(key);
    case QMetaType::QVariantList: {
        QVariantList out;
        const QVariantList elements = value.toList();
        out.reserve(elements.size());
        for (const QVariant& element : elements)
            appendFlattened(out, valueForKey(element, key));
        return out;
    }
    default:
        return {};
    }
}

QVariant valueForKeyPath(const QVariant& value, const QStringList& components)
{
    QVariant current = value;
    for (const QString& component : components)
        current = valueForKey(current, component);
    return current;
}

} // namespace kvc
} // namespace platform
