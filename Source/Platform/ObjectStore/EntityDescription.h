// The shape of one entity: its attributes and relationships, inherited ones first, each with a
// slot number. Rows store values by slot, so every lookup by name happens once, when a key is
// resolved, and never per row. A sub-entity repeats its parent's slots at the same numbers,
// which lets one table and one scan serve a whole hierarchy.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace platform {

class ManagedObjectModel;

enum class AttributeType {
    String,
    Int16,
    Int32,
    Int64,
    UInt32,
    UInt64,
    Bool,
    Double,
    Date,
    Binary,
};

enum class DeleteRule { Nullify, Cascade, Deny, NoAction };

struct AttributeDescription {
    QString name;
    AttributeType type = AttributeType::String;
    QVariant defaultValue; // already coerced to the type; invalid means nil
    bool optional = true;
    bool indexed = false;
    QString renamingIdentifier;
    int slot = -1; // index into a row's attribute values
    int cell = -1; // index among the row's cells of the same storage (numbers, strings, blobs);
                   // a boolean is a bit of the row's flag word instead, at its slot
};

struct RelationshipDescription {
    QString name;
    QString destinationName;
    QString inverseName;
    bool toMany = false;
    DeleteRule deleteRule = DeleteRule::Nullify;
    QString renamingIdentifier;
    int slot = -1; // index among the row's to-one or to-many slots, by kind
    const class EntityDescription* destination = nullptr;
    const RelationshipDescription* inverse = nullptr;
};

class EntityDescription {
public:
    const QString& name() const { return m_name; }
    const QString& parentName() const { return m_parentName; }
    const QString& renamingIdentifier() const { return m_renamingIdentifier; }
    const EntityDescription* superentity() const { return m_super; }
    const EntityDescription* rootEntity() const { return m_root; }
    const std::vector<const EntityDescription*>& subentities() const { return m_subs; }
    // This entity and every entity below it.
    const std::vector<const EntityDescription*>& hierarchy() const { return m_hierarchy; }
    bool isKindOf(const EntityDescription* other) const;

    const std::vector<AttributeDescription>& attributes() const { return m_attributes; }
    const std::vector<RelationshipDescription>& relationships() const { return m_relationships; }
    int toOneCount() const { return m_toOneCount; }
    int numberCount() const { return m_numberCount; }
    int stringCount() const { return m_stringCount; }
    int blobCount() const { return m_blobCount; }
    // Rows keep a presence bit per attribute.
    static constexpr int maxAttributes = 64;
    int toManyCount() const { return m_toManyCount; }

    const AttributeDescription* attribute(const QString& name) const;
    const RelationshipDescription* relationship(const QString& name) const;

    // Index of this entity among the hierarchy of its root, stored with each row of the table.
    int tableCode() const { return m_tableCode; }
    int index() const { return m_index; }

private:
    friend class ManagedObjectModel;

    QString m_name;
    QString m_parentName;
    QString m_renamingIdentifier;
    const EntityDescription* m_super = nullptr;
    const EntityDescription* m_root = nullptr;
    std::vector<const EntityDescription*> m_subs;
    std::vector<const EntityDescription*> m_hierarchy;
    std::vector<AttributeDescription> m_attributes;
    std::vector<RelationshipDescription> m_relationships;
    int m_toOneCount = 0;
    int m_toManyCount = 0;
    int m_numberCount = 0;
    int m_stringCount = 0;
    int m_blobCount = 0;
    int m_tableCode = 0;
    int m_index = 0;
};

QString attributeTypeName(AttributeType type);
bool attributeTypeFromName(const QString& name, AttributeType* type);

// The value as the attribute type keeps it (qint64 for signed and 32-bit unsigned integers,
// quint64 for UInt64, QDateTime in UTC, …), or nothing when it cannot be converted. An invalid
// value stays invalid (nil).
bool coerceAttributeValue(AttributeType type, const QVariant& in, QVariant* out);

} // namespace platform
