// A record as one context sees it. It implements key-value coding, so predicates, sort
// descriptors and the program's own code read it by key.
//
// An object holds the row its context read (shared with the cache or the parent context) and,
// once changed, its own copy with a mark per changed property, which is what conflict
// resolution and child-to-parent saves work from. Every accessor takes its context's lock
// (and the parent contexts' and the cache's read lock, in that order), so an object may be
// read from any thread, but like any record it belongs to its context's queue. Relationship
// setters keep the inverse side in step.
//
// Values: attributes as QVariant of the attribute's type (see coerceAttributeValue); a to-one
// relationship as an ObjectRef (std::shared_ptr<const KeyValueCoding>) to the related object or
// nil; a to-many relationship as a QVariantList of ObjectRef, in key order.
#pragma once

#include "Platform/ObjectStore/ObjectID.h"
#include "Platform/ObjectStore/Predicate/KeyValueCoding.h"
#include "Platform/ObjectStore/Row.h"

#include <QList>
#include <QVariant>
#include <memory>
#include <vector>

namespace platform {

class ManagedObjectContext;
class ManagedObject;
using ManagedObjectPtr = std::shared_ptr<ManagedObject>;

class ManagedObject : public KeyValueCoding, public std::enable_shared_from_this<ManagedObject> {
public:
    ~ManagedObject() override;

    const ObjectID& objectID() const { return m_id; }
    const EntityDescription* entity() const { return m_id.entity(); }
    // Null once the context is gone or reset, or the object's deletion was saved.
    std::shared_ptr<ManagedObjectContext> managedObjectContext() const;

    bool isInserted() const;
    bool isUpdated() const;
    bool isDeleted() const;
    bool hasChanges() const;

    QVariant valueForKey(const QString& key) const override;
    QVariant valueForKeyPathComponents(const QStringList& components) const override;
    QVariant identity() const override;

    // Attributes take any value convertible to their type; to-one relationships an ObjectRef to
    // a ManagedObject of this context, an ObjectID or nil; to-many a QVariantList of those
    // (replacing the set). False, with nothing changed, for an unknown key, a value of the
    // wrong type or an object of another context or store.
    bool setValueForKey(const QVariant& value, const QString& key);

    // Typed relationship access.
    ManagedObjectPtr object(const QString& toOneKey) const;
    QList<ManagedObjectPtr> objects(const QString& toManyKey) const;
    QList<ObjectID> objectIDs(const QString& relationshipKey) const;
    bool setObject(const QString& toOneKey, const ManagedObjectPtr& target);
    bool addObject(const QString& toManyKey, const ManagedObjectPtr& target);
    bool removeObject(const QString& toManyKey, const ManagedObjectPtr& target);
    bool replaceObjects(const QString& toManyKey, const QList<ManagedObjectPtr>& targets);

    // The object as an ObjectRef (for QVariant values and predicate arguments).
    ObjectRef ref() const { return shared_from_this(); }
    static ManagedObjectPtr fromRef(const QVariant& value);

private:
    friend class ManagedObjectContext;
    ManagedObject(std::weak_ptr<ManagedObjectContext> context, ObjectID id, RowPtr base);
    // One allocation for the object and its reference count.
    static ManagedObjectPtr make(std::weak_ptr<ManagedObjectContext> context, ObjectID id, RowPtr base);

    // What changing the object sets up: its own copy of the row and a mark per changed
    // property. Apart from the object, because most objects a fetch makes never change.
    struct Changes {
        std::shared_ptr<Row> current;
        SlotMask values;
        SlotMask toOne;
    };
    const std::shared_ptr<Row>& current() const; // null until changed
    const SlotMask& changedValues() const;
    const SlotMask& changedToOne() const;
    Changes& changes(); // made on first use
    void clearChanges() { m_changes.reset(); }

    const Row& row() const { return current() ? *current() : *m_base; }
    RowPtr rowPtr() const { return current() ? RowPtr(current()) : m_base; }

    std::weak_ptr<ManagedObjectContext> m_context;
    ObjectID m_id;
    RowPtr m_base;                 // as read from the parent level
    std::unique_ptr<Changes> m_changes;
    bool m_inserted = false;
    bool m_deleted = false;
    bool m_valid = true; // false after reset, a merged deletion or a saved deletion
};

} // namespace platform
