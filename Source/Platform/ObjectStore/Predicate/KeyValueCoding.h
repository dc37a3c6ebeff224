// Key-value coding: how predicates and sort descriptors read objects they know nothing about.
// Store records, the browser's item and node classes and plain test fakes all answer the same
// two questions (the value of a key, and what "the same object" means), so one evaluator serves
// fetches and in-memory filters alike.
#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

namespace platform {

class KeyValueCoding {
public:
    virtual ~KeyValueCoding() = default;

    // Value of one key; an invalid QVariant means nil. A to-many key answers a QVariantList whose
    // elements are ObjectRef (or plain values).
    virtual QVariant valueForKey(const QString& key) const = 0;

    // "a.b.c". Walking through a to-many collects a flat QVariantList (implicit ANY); "@count" as
    // the last component counts the collection reached. Routes through
    // valueForKeyPathComponents, so overriding that one speeds up both.
    virtual QVariant valueForKeyPath(const QString& keyPath) const;

    // The same walk over a path already split at its dots; predicates split once when parsed.
    virtual QVariant valueForKeyPathComponents(const QStringList& components) const;

    // What == compares for objects (the store answers its object ID). Default: the address.
    virtual QVariant identity() const;
};

using ObjectRef = std::shared_ptr<const KeyValueCoding>;

namespace kvc {

// The object held by value, or null when it holds none.
const KeyValueCoding* object(const QVariant& value);

// Value of one key on any value: an ObjectRef answers valueForKey, a QVariantMap looks the key
// up, a QVariantList maps the key over its elements (flattening nested lists), "@count" counts
// a list or a map (nil counts as an empty collection); anything else is nil.
QVariant valueForKey(const QVariant& value, const QString& key);

// The walk of valueForKeyPathComponents starting from any value (SELF over maps and lists).
QVariant valueForKeyPath(const QVariant& value, const QStringList& components);

} // namespace kvc
} // namespace platform

Q_DECLARE_METATYPE(platform::ObjectRef)
