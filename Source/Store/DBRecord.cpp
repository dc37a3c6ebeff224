#include "Store/DBRecord.h"

using platform::ManagedObjectPtr;

DBRecord::DBRecord(ManagedObjectPtr object, const QString& entityName)
{
    if (isKindOfEntity(object, entityName))
        m_object = std::move(object);
}

bool DBRecord::isKindOfEntity(const ManagedObjectPtr& object, const QString& entityName)
{
    if (!object)
        return false;
    for (const platform::EntityDescription* entity = object->entity(); entity; entity = entity->superentity()) {
        if (entity->name() == entityName)
            return true;
    }
    return false;
}

platform::ObjectID DBRecord::objectID() const
{
    return m_object ? m_object->objectID() : platform::ObjectID();
}

QString DBRecord::URIString() const
{
    return m_object ? m_object->objectID().URIRepresentation() : QString();
}

platform::ContextPtr DBRecord::managedObjectContext() const
{
    return m_object ? m_object->managedObjectContext() : nullptr;
}

QVariant DBRecord::ref() const
{
    return m_object ? QVariant::fromValue(m_object->ref()) : QVariant();
}

bool DBRecord::isInserted() const
{
    return m_object && m_object->isInserted();
}

bool DBRecord::isDeleted() const
{
    return m_object && m_object->isDeleted();
}

QVariant DBRecord::valueForKey(const QString& key) const
{
    return m_object ? m_object->valueForKey(key) : QVariant();
}

QVariant DBRecord::valueForKeyPath(const QString& keyPath) const
{
    return m_object ? m_object->valueForKeyPath(keyPath) : QVariant();
}

bool DBRecord::setValueForKey(const QVariant& value, const QString& key)
{
    return m_object && m_object->setValueForKey(value, key);
}

ManagedObjectPtr DBRecord::toOne(const QString& key) const
{
    return m_object ? m_object->object(key) : nullptr;
}

QList<ManagedObjectPtr> DBRecord::toMany(const QString& key) const
{
    return m_object ? m_object->objects(key) : QList<ManagedObjectPtr>();
}

bool DBRecord::setToOne(const QString& key, const DBRecord& target)
{
    return m_object && m_object->setObject(key, target.m_object);
}

bool DBRecord::setToMany(const QString& key, const QList<ManagedObjectPtr>& targets)
{
    return m_object && m_object->replaceObjects(key, targets);
}

bool DBRecord::addToMany(const QString& key, const DBRecord& target)
{
    return m_object && target.m_object && m_object->addObject(key, target.m_object);
}

bool DBRecord::removeFromMany(const QString& key, const DBRecord& target)
{
    return m_object && target.m_object && m_object->removeObject(key, target.m_object);
}
