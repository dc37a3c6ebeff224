#include "Platform/ObjectStore/MappingModel.h"

#include "Platform/Foundation/PropertyList.h"

namespace platform {

namespace {

const QString domain = QStringLiteral("ObjectStore");
constexpr int mappingError = 134140;

int integerWidth(AttributeType t)
{
    switch (t) {
    case AttributeType::Bool: return 1;
    case AttributeType::Int16: return 16;
    case AttributeType::Int32: return 32;
    case AttributeType::UInt32: return 33;
    case AttributeType::Int64: return 64;
    default: return 0;
    }
}

// Whether every value of type from has a value of type to.
bool widens(AttributeType from, AttributeType to)
{
    if (from == to)
        return true;
    const int a = integerWidth(from), b = integerWidth(to);
    if (a && b)
        return a <= b;
    if (a && to == AttributeType::Double)
        return a <= 32;
    return false;
}

const AttributeDescription* matchAttribute(const EntityDescription& source, const AttributeDescription& dst)
{
    if (const AttributeDescription* a = source.attribute(dst.name))
        return a;
    return dst.renamingIdentifier.isEmpty() ? nullptr : source.attribute(dst.renamingIdentifier);
}

const RelationshipDescription* matchRelationship(const EntityDescription& source, const RelationshipDescription& dst)
{
    if (const RelationshipDescription* r = source.relationship(dst.name))
        return r;
    return dst.renamingIdentifier.isEmpty() ? nullptr : source.relationship(dst.renamingIdentifier);
}

} // namespace

Result<MappingModel> MappingModel::loadFile(const QString& path)
{
    auto plist = PropertyList::readFile(path);
    if (!plist)
        return fail(domain, mappingError, QStringLiteral("cannot read the mapping model %1: %2").arg(path, plist.error().message));
    return fromPropertyList(*plist);
}

Result<MappingModel> MappingModel::fromPropertyList(const QVariant& plist)
{
    const QVariantMap root = plist.toMap();
    MappingModel m;
    m.m_sourceVersion = root.value(QStringLiteral("sourceModelVersion")).toString();
    m.m_destinationVersion = root.value(QStringLiteral("destinationModelVersion")).toString();
    if (m.m_sourceVersion.isEmpty() || m.m_destinationVersion.isEmpty())
        return fail(domain, mappingError, QStringLiteral("a mapping model must name both model versions"));
    for (const QVariant& ev : root.value(QStringLiteral("entityMappings")).toList()) {
        const QVariantMap e = ev.toMap();
        EntityMapping em;
        em.source = e.value(QStringLiteral("source")).toString();
        em.destination = e.value(QStringLiteral("destination")).toString();
        if (em.source.isEmpty() || em.destination.isEmpty())
            return fail(domain, mappingError, QStringLiteral("an entity mapping lacks its source or destination"));
        const QVariantMap attrs = e.value(QStringLiteral("attributeMappings")).toMap();
        for (auto it = attrs.cbegin(); it != attrs.cend(); ++it)
            em.attributeMappings.insert(it.key(), it.value());
        const QVariantMap rels = e.value(QStringLiteral("relationshipMappings")).toMap();
        for (auto it = rels.cbegin(); it != rels.cend(); ++it)
            em.relationshipMappings.insert(it.key(), it.value().toString());
        m.m_entities.push_back(em);
    }
    return m;
}

Result<MappingModel> MappingModel::infer(const ManagedObjectModel& source, const ManagedObjectModel& destination)
{
    MappingModel m;
    m.m_sourceVersion = source.versionName();
    m.m_destinationVersion = destination.versionName();
    if (auto ok = m.resolve(source, destination); !ok)
        return std::unexpected(ok.error());
    return m;
}

Result<void> MappingModel::resolve(const ManagedObjectModel& source, const ManagedObjectModel& destination)
{
    // Entities nobody mapped explicitly follow by name or renaming identifier.
    for (const auto& dst : destination.entities()) {
        bool mapped = false;
        for (const EntityMapping& em : m_entities)
            mapped = mapped || em.destination == dst->name();
        if (mapped)
            continue;
        const EntityDescription* src = source.entity(dst->name());
        if (!src && !dst->renamingIdentifier().isEmpty())
            src = source.entity(dst->renamingIdentifier());
        if (src)
            m_entities.push_back(EntityMapping{src->name(), dst->name(), {}, {}});
    }
    for (EntityMapping& em : m_entities) {
        const EntityDescription* src = source.entity(em.source);
        const EntityDescription* dst = destination.entity(em.destination);
        if (!src || !dst)
            return fail(domain, mappingError,
                        QStringLiteral("the mapping %1 → %2 names an unknown entity").arg(em.source, em.destination));
        for (const AttributeDescription& a : dst->attributes()) {
            auto it = em.attributeMappings.find(a.name);
            if (it == em.attributeMappings.end()) {
                if (const AttributeDescription* s = matchAttribute(*src, a)) {
                    if (!widens(s->type, a.type))
                        return fail(domain, mappingError,
                                    QStringLiteral("%1.%2 changed from %3 to %4, which cannot be inferred")
                                        .arg(dst->name(), a.name, attributeTypeName(s->type), attributeTypeName(a.type)));
                    em.attributeMappings.insert(a.name, s->name);
                }
                continue;
            }
            if (it->metaType().id() == QMetaType::QString && !src->attribute(it->toString()))
                return fail(domain, mappingError,
                            QStringLiteral("%1.%2 maps from an unknown attribute %3").arg(dst->name(), a.name, it->toString()));
        }
        for (auto it = em.attributeMappings.cbegin(); it != em.attributeMappings.cend(); ++it) {
            if (!dst->attribute(it.key()))
                return fail(domain, mappingError, QStringLiteral("%1 has no attribute %2").arg(dst->name(), it.key()));
        }
        for (const RelationshipDescription& r : dst->relationships()) {
            if (em.relationshipMappings.contains(r.name)) {
                const RelationshipDescription* s = src->relationship(em.relationshipMappings.value(r.name));
                if (!s || s->toMany != r.toMany)
                    return fail(domain, mappingError,
                                QStringLiteral("%1.%2 maps from an unknown or differently shaped relationship").arg(dst->name(), r.name));
                continue;
            }
            if (const RelationshipDescription* s = matchRelationship(*src, r); s && s->toMany == r.toMany)
                em.relationshipMappings.insert(r.name, s->name);
        }
    }
    return {};
}

const EntityMapping* MappingModel::mappingForSource(const QString& sourceEntity) const
{
    for (const EntityMapping& em : m_entities) {
        if (em.source == sourceEntity)
            return &em;
    }
    return nullptr;
}

} // namespace platform
