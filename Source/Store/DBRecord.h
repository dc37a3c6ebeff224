// The common base of the library's record classes (DBNode, DBFileInfo, …).
//
// A record class is a typed view of one platform::ManagedObject, held by shared pointer: it
// adds nothing to the object's state, so any number of views of one object may exist, may be
// copied freely and stay valid as long as the object does. A default-constructed view, or one
// made from an object of another entity, is null (the "nil" record): its getters answer empty
// values and its setters change nothing. Views compare by the object they show.
//
// Attribute accessors are generated from one table per class (the DB_*_ATTRIBUTES X-macros)
// bound to the model's attribute names, so a name is written once. A nil attribute reads as the
// type's empty value (0, NO, an empty string, an invalid date); a null string or an invalid
// date written through a setter stores nil. Relationship accessors are declared by hand in each
// class because they name each other's types.
//
// Threads: like the object itself, a view belongs to its context's queue.
#pragma once

#include "Platform/ObjectStore/ManagedObject.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

class DBRecord {
public:
    DBRecord() = default;

    bool isNull() const { return m_object == nullptr; }
    explicit operator bool() const { return m_object != nullptr; }

    const platform::ManagedObjectPtr& object() const { return m_object; }
    platform::ObjectID objectID() const;
    // The text form of the object ID's URI ("x-folivo-store://…"); empty for nil.
    QString URIString() const;
    platform::ContextPtr managedObjectContext() const;
    // The object as a value for predicate arguments and KVC lists (invalid for nil).
    QVariant ref() const;

    bool isInserted() const;
    bool isDeleted() const;

    // Key-value coding on the object; nil answers an invalid value and refuses every write.
    QVariant valueForKey(const QString& key) const;
    QVariant valueForKeyPath(const QString& keyPath) const;
    bool setValueForKey(const QVariant& value, const QString& key);

    friend bool operator==(const DBRecord& a, const DBRecord& b) { return a.m_object == b.m_object; }
    friend size_t qHash(const DBRecord& record, size_t seed = 0)
    {
        return qHash(static_cast<const void*>(record.m_object.get()), seed);
    }

    // Whether object's entity is entityName or one of its sub-entities.
    static bool isKindOfEntity(const platform::ManagedObjectPtr& object, const QString& entityName);

    // A new record of T's entity in context; nil when context is null.
    template <class T>
    static T insertNewObject(const platform::ContextPtr& context)
    {
        if (!context)
            return T();
        return T(context->insertNewObject(T::entityName()));
    }

    // Views of T over the objects that are of T's entity (others are left out).
    template <class T>
    static QList<T> recordsOf(const QList<platform::ManagedObjectPtr>& objects)
    {
        QList<T> records;
        records.reserve(objects.size());
        for (const auto& object : objects) {
            T record(object);
            if (record)
                records.append(record);
        }
        return records;
    }

    // The objects behind views, for setters of to-many relationships and the store API.
    template <class T>
    static QList<platform::ManagedObjectPtr> objectsOf(const QList<T>& records)
    {
        QList<platform::ManagedObjectPtr> objects;
        objects.reserve(records.size());
        for (const T& record : records) {
            if (record)
                objects.append(record.object());
        }
        return objects;
    }

protected:
    // Keeps object only when it is of entityName (or below it).
    DBRecord(platform::ManagedObjectPtr object, const QString& entityName);

    // Typed relationship helpers for the record classes.
    platform::ManagedObjectPtr toOne(const QString& key) const;
    QList<platform::ManagedObjectPtr> toMany(const QString& key) const;
    bool setToOne(const QString& key, const DBRecord& target);
    bool setToMany(const QString& key, const QList<platform::ManagedObjectPtr>& targets);
    bool addToMany(const QString& key, const DBRecord& target);
    bool removeFromMany(const QString& key, const DBRecord& target);

    template <class T>
    static T fromVariant(const QVariant& value)
    {
        return value.value<T>();
    }
    template <class T>
    static QVariant toVariant(const T& value)
    {
        return QVariant::fromValue(value);
    }

private:
    platform::ManagedObjectPtr m_object;
};

template <>
inline QString DBRecord::fromVariant<QString>(const QVariant& value)
{
    return value.toString();
}
template <>
inline bool DBRecord::fromVariant<bool>(const QVariant& value)
{
    return value.toBool();
}
template <>
inline int DBRecord::fromVariant<int>(const QVariant& value)
{
    return value.toInt();
}
template <>
inline qint64 DBRecord::fromVariant<qint64>(const QVariant& value)
{
    return value.toLongLong();
}
template <>
inline quint64 DBRecord::fromVariant<quint64>(const QVariant& value)
{
    return value.toULongLong();
}
template <>
inline QDateTime DBRecord::fromVariant<QDateTime>(const QVariant& value)
{
    return value.toDateTime();
}
template <>
inline QByteArray DBRecord::fromVariant<QByteArray>(const QVariant& value)
{
    return value.toByteArray();
}
template <>
inline QVariant DBRecord::toVariant<QString>(const QString& value)
{
    return value.isNull() ? QVariant() : QVariant(value);
}
template <>
inline QVariant DBRecord::toVariant<QDateTime>(const QDateTime& value)
{
    return value.isValid() ? QVariant(value.toUTC()) : QVariant();
}
template <>
inline QVariant DBRecord::toVariant<QByteArray>(const QByteArray& value)
{
    return value.isNull() ? QVariant() : QVariant(value);
}

// One getter and one setter per row of an attribute table: X(type, getter, setter, "key").
#define DB_DECLARE_ATTRIBUTE(Type, getter, setter, key)                                            \
    Type getter() const { return fromVariant<Type>(valueForKey(QStringLiteral(key))); }           \
    bool setter(const Type& value) { return setValueForKey(toVariant<Type>(value), QStringLiteral(key)); }

// The constructors and entity name every record class has; Base is DBRecord or the class of
// the parent entity.
#define DB_DECLARE_RECORD(Class, Base, entity)                                                     \
public:                                                                                            \
    Class() = default;                                                                             \
    explicit Class(platform::ManagedObjectPtr object) : Base(std::move(object), QStringLiteral(entity)) {} \
    static QString entityName() { return QStringLiteral(entity); }                                 \
                                                                                                   \
protected:                                                                                         \
    Class(platform::ManagedObjectPtr object, const QString& kind) : Base(std::move(object), kind) {} \
                                                                                                   \
public:

// Definitions of a record class's relationship accessors (in its .cpp file).
#define DB_DEFINE_TO_ONE(Class, Target, getter, setter, key)                                       \
    Target Class::getter() const { return Target(toOne(QStringLiteral(key))); }                   \
    bool Class::setter(const Target& target) { return setToOne(QStringLiteral(key), target); }

#define DB_DEFINE_TO_MANY(Class, Target, getter, setter, adder, remover, key)                      \
    QList<Target> Class::getter() const { return recordsOf<Target>(toMany(QStringLiteral(key))); } \
    bool Class::setter(const QList<Target>& targets)                                               \
    {                                                                                              \
        return setToMany(QStringLiteral(key), objectsOf(targets));                                 \
    }                                                                                              \
    bool Class::adder(const Target& target) { return addToMany(QStringLiteral(key), target); }     \
    bool Class::remover(const Target& target) { return removeFromMany(QStringLiteral(key), target); }
