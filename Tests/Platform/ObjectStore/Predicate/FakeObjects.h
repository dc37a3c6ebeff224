// Small key-value coding objects for predicate tests: a bag of values with an optional identity.
#pragma once

#include "Platform/ObjectStore/Predicate/KeyValueCoding.h"

#include <QVariantMap>
#include <memory>

namespace predicatetest {

// Stands for a store object ID: a custom type with its own equality.
struct FakeID {
    qint64 pk = 0;
    bool operator==(const FakeID&) const = default;
};

class FakeObject : public platform::KeyValueCoding {
public:
    explicit FakeObject(QVariantMap values, QVariant id = {}) : m_values(std::move(values)), m_id(std::move(id)) {}

    QVariant valueForKey(const QString& key) const override { return m_values.value(key); }
    QVariant identity() const override { return m_id.isValid() ? m_id : KeyValueCoding::identity(); }

private:
    QVariantMap m_values;
    QVariant m_id;
};

inline platform::ObjectRef makeObject(QVariantMap values, QVariant id = {})
{
    return std::make_shared<FakeObject>(std::move(values), std::move(id));
}

inline QVariant object(QVariantMap values, QVariant id = {})
{
    return QVariant::fromValue(makeObject(std::move(values), std::move(id)));
}

inline QVariant fakeID(qint64 pk)
{
    return QVariant::fromValue(FakeID{pk});
}

} // namespace predicatetest

Q_DECLARE_METATYPE(predicatetest::FakeID)
