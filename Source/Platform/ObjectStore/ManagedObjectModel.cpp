#include "Platform/ObjectStore/ManagedObjectModel.h"

#include "Platform/Foundation/PropertyList.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <functional>

namespace platform {

namespace {

const QString domain = QStringLiteral("ObjectStore");
constexpr int modelErrorCode = 134010;

std::unexpected<Error> modelError(const QString& message)
{
    return fail(domain, modelErrorCode, message);
}

bool deleteRuleFromName(const QString& name, DeleteRule* rule)
{
    if (name.isEmpty() || name == QLatin1String("nullify"))
        *rule = DeleteRule::Nullify;
    else if (name == QLatin1String("cascade"))
        *rule = DeleteRule::Cascade;
    else if (name == QLatin1String("deny"))
        *rule = DeleteRule::Deny;
    else if (name == QLatin1String("noAction"))
        *rule = DeleteRule::NoAction;
    else
        return false;
    return true;
}

} // namespace

Result<ModelPtr> ManagedObjectModel::fromPropertyList(const QVariant& plist)
{
    if (plist.metaType().id() != QMetaType::QVariantMap)
        return modelError(QStringLiteral("a model file must hold a dictionary"));
    const QVariantMap root = plist.toMap();
    std::shared_ptr<ManagedObjectModel> model(new ManagedObjectModel);
    model->m_name = root.value(QStringLiteral("name")).toString();
    model->m_versionName = root.value(QStringLiteral("versionName")).toString();
    if (model->m_name.isEmpty())
        return modelError(QStringLiteral("the model has no name"));

    for (const QVariant& ev : root.value(QStringLiteral("entities")).toList()) {
        const QVariantMap e = ev.toMap();
        auto entity = std::make_unique<EntityDescription>();
        entity->m_name = e.value(QStringLiteral("name")).toString();
        entity->m_parentName = e.value(QStringLiteral("parent")).toString();
        entity->m_renamingIdentifier = e.value(QStringLiteral("renamingIdentifier")).toString();
        if (entity->m_name.isEmpty())
            return modelError(QStringLiteral("an entity of model %1 has no name").arg(model->m_name));
        for (const QVariant& av : e.value(QStringLiteral("attributes")).toList()) {
            const QVariantMap a = av.toMap();
            AttributeDescription attr;
            attr.name = a.value(QStringLiteral("name")).toString();
            if (attr.name.isEmpty()
                || !attributeTypeFromName(a.value(QStringLiteral("type")).toString(), &attr.type))
                return modelError(QStringLiteral("attribute \"%1\" of %2 has no valid name or type")
                                      .arg(attr.name, entity->m_name));
            if (!coerceAttributeValue(attr.type, a.value(QStringLiteral("default")), &attr.defaultValue))
                return modelError(QStringLiteral("the default of %1.%2 does not fit its type")
                                      .arg(entity->m_name, attr.name));
            attr.optional = a.value(QStringLiteral("optional"), true).toBool();
            attr.indexed = a.value(QStringLiteral("indexed")).toBool();
            attr.renamingIdentifier = a.value(QStringLiteral("renamingIdentifier")).toString();
            entity->m_attributes.push_back(attr);
        }
        for (const QVariant& rv : e.value(QStringLiteral("relationships")).toList()) {
            const QVariantMap r = rv.toMap();
            RelationshipDescription rel;
            rel.name = r.value(QStringLiteral("name")).toString();
            rel.destinationName = r.value(QStringLiteral("destination")).toString();
            rel.inverseName = r.value(QStringLiteral("inverse")).toString();
            rel.toMany = r.value(QStringLiteral("toMany")).toBool();
            rel.renamingIdentifier = r.value(QStringLiteral("renamingIdentifier")).toString();
            if (rel.name.isEmpty() || rel.destinationName.isEmpty()
                || !deleteRuleFromName(r.value(QStringLiteral("deleteRule")).toString(), &rel.deleteRule))
                return modelError(QStringLiteral("relationship \"%1\" of %2 is incomplete")
                                      .arg(rel.name, entity->m_name));
            entity->m_relationships.push_back(rel);
        }
        model->m_entities.push_back(std::move(entity));
    }
    std::sort(model->m_entities.begin(), model->m_entities.end(),
              [](const auto& a, const auto& b) { return a->m_name < b->m_name; });
    if (auto ok = model->resolve(); !ok)
        return std::unexpected(ok.error());
    return ModelPtr(model);
}

Result<void> ManagedObjectModel::resolve()
{
    for (size_t i = 0; i < m_entities.size(); ++i) {
        EntityDescription& e = *m_entities[i];
        e.m_index = int(i);
        if (i > 0 && m_entities[i - 1]->m_name == e.m_name)
            return modelError(QStringLiteral("entity %1 is declared twice").arg(e.m_name));
        if (!e.m_parentName.isEmpty()) {
            e.m_super = entity(e.m_parentName);
            if (!e.m_super || e.m_super == &e)
                return modelError(QStringLiteral("entity %1 names an unknown parent %2")
                                      .arg(e.m_name, e.m_parentName));
        }
    }
    // Inherited properties go first, so a sub-entity's rows share the parent's slot numbers.
    std::vector<EntityDescription*> done;
    std::function<Result<void>(EntityDescription&, int)> flatten = [&](EntityDescription& e, int depth)
        -> Result<void> {
        if (depth > int(m_entities.size()))
            return modelError(QStringLiteral("entity %1 inherits from itself").arg(e.m_name));
        if (std::find(done.begin(), done.end(), &e) != done.end())
            return {};
        if (e.m_super) {
            auto& parent = const_cast<EntityDescription&>(*e.m_super);
            if (auto ok = flatten(parent, depth + 1); !ok)
                return ok;
            std::vector<AttributeDescription> attrs = parent.m_attributes;
            attrs.insert(attrs.end(), e.m_attributes.begin(), e.m_attributes.end());
            e.m_attributes = std::move(attrs);
            std::vector<RelationshipDescription> rels = parent.m_relationships;
            rels.insert(rels.end(), e.m_relationships.begin(), e.m_relationships.end());
            e.m_relationships = std::move(rels);
        }
        done.push_back(&e);
        return {};
    };
    for (auto& e : m_entities) {
        if (auto ok = flatten(*e, 0); !ok)
            return ok;
    }
    for (auto& ep : m_entities) {
        EntityDescription& e = *ep;
        const EntityDescription* root = &e;
        while (root->m_super)
            root = root->m_super;
        e.m_root = root;
        if (e.m_attributes.size() > size_t(EntityDescription::maxAttributes))
            return modelError(QStringLiteral("%1 has more than %2 attributes").arg(e.m_name).arg(EntityDescription::maxAttributes));
        for (size_t a = 0; a < e.m_attributes.size(); ++a) {
            AttributeDescription& attr = e.m_attributes[a];
            attr.slot = int(a);
            if (attr.type == AttributeType::String)
                ++e.m_stringCount; // a string's cell holds where its text lies in the row's arena
            if (attr.type == AttributeType::Binary)
                attr.cell = e.m_blobCount++;
            else if (attr.type == AttributeType::Bool)
                attr.cell = int(a); // a bit of the row's flag word, at the attribute's slot
            else
                attr.cell = e.m_numberCount++;
            for (size_t b = 0; b < a; ++b) {
                if (e.m_attributes[b].name == e.m_attributes[a].name)
                    return modelError(QStringLiteral("%1.%2 is declared twice")
                                          .arg(e.m_name, e.m_attributes[a].name));
            }
        }
        int toOne = 0, toMany = 0;
        for (RelationshipDescription& r : e.m_relationships) {
            r.slot = r.toMany ? toMany++ : toOne++;
            if (e.attribute(r.name))
                return modelError(QStringLiteral("%1.%2 is both an attribute and a relationship")
                                      .arg(e.m_name, r.name));
            r.destination = entity(r.destinationName);
            if (!r.destination)
                return modelError(QStringLiteral("%1.%2 points to an unknown entity %3")
                                      .arg(e.m_name, r.name, r.destinationName));
        }
        if (toOne > 64)
            return modelError(QStringLiteral("%1 has more than 64 to-one relationships").arg(e.m_name));
        e.m_toOneCount = toOne;
        e.m_toManyCount = toMany;
    }
    for (auto& ep : m_entities) {
        for (RelationshipDescription& r : ep->m_relationships) {
            if (r.inverseName.isEmpty())
                continue;
            r.inverse = r.destination->relationship(r.inverseName);
            if (!r.inverse || r.inverse->destination == nullptr
                || !ep->isKindOf(r.inverse->destination))
                return modelError(QStringLiteral("%1.%2 names a wrong inverse %3")
                                      .arg(ep->m_name, r.name, r.inverseName));
        }
    }
    // Inverse pointers of copied (inherited) relationships were resolved per entity above, so
    // each entity's copy points into the destination's own list.
    for (auto& ep : m_entities) {
        for (const EntityDescription* cur = ep.get(); cur; cur = cur->m_super) {
            if (cur != ep.get())
                const_cast<EntityDescription*>(cur)->m_subs.push_back(ep.get());
        }
    }
    for (auto& ep : m_entities) {
        auto& subs = ep->m_subs;
        // Only direct children in m_subs; hierarchy holds everything below.
        ep->m_hierarchy.clear();
        ep->m_hierarchy.push_back(ep.get());
        for (const EntityDescription* s : subs)
            ep->m_hierarchy.push_back(s);
        std::vector<const EntityDescription*> direct;
        for (const EntityDescription* s : subs) {
            if (s->m_super == ep.get())
                direct.push_back(s);
        }
        subs = direct;
    }
    for (auto& ep : m_entities) {
        const auto& h = ep->m_root->m_hierarchy;
        ep->m_tableCode = int(std::find(h.begin(), h.end(), ep.get()) - h.begin());
    }

    QStringList canon;
    for (const auto& ep : m_entities) {
        canon << QStringLiteral("E:%1:%2").arg(ep->m_name, ep->m_parentName);
        for (const AttributeDescription& a : ep->m_attributes)
            canon << QStringLiteral("A:%1:%2").arg(a.name, attributeTypeName(a.type));
        for (const RelationshipDescription& r : ep->m_relationships)
            canon << QStringLiteral("R:%1:%2:%3:%4")
                         .arg(r.name, r.destinationName, r.inverseName,
                              r.toMany ? QStringLiteral("*") : QStringLiteral("1"));
    }
    m_versionHash = QString::fromLatin1(
        QCryptographicHash::hash(canon.join(QLatin1Char('\n')).toUtf8(), QCryptographicHash::Sha256)
            .toHex());
    return {};
}

Result<ModelPtr> ManagedObjectModel::loadFile(const QString& momPath)
{
    auto plist = PropertyList::readFile(momPath);
    if (!plist)
        return modelError(QStringLiteral("cannot read the model %1: %2")
                              .arg(momPath, plist.error().message));
    return fromPropertyList(*plist);
}

Result<ModelPtr> ManagedObjectModel::loadBundle(const QString& momdPath)
{
    auto info = PropertyList::readFile(momdPath + QStringLiteral("/VersionInfo.plist"));
    if (!info)
        return modelError(QStringLiteral("cannot read the version list of %1: %2")
                              .arg(momdPath, info.error().message));
    const QString current = info->toMap().value(QStringLiteral("CurrentVersion")).toString();
    if (current.isEmpty())
        return modelError(QStringLiteral("%1 names no current version").arg(momdPath));
    return loadFile(momdPath + QLatin1Char('/') + current + QStringLiteral(".mom"));
}

std::vector<ModelPtr> ManagedObjectModel::loadAllVersions(const QString& momdPath)
{
    std::vector<ModelPtr> out;
    const QStringList files =
        QDir(momdPath).entryList({QStringLiteral("*.mom")}, QDir::Files, QDir::Name);
    for (const QString& f : files) {
        if (auto m = loadFile(momdPath + QLatin1Char('/') + f))
            out.push_back(*m);
    }
    return out;
}

const EntityDescription* ManagedObjectModel::entity(const QString& name) const
{
    auto it = std::lower_bound(m_entities.begin(), m_entities.end(), name,
                               [](const auto& e, const QString& n) { return e->m_name < n; });
    return it != m_entities.end() && (*it)->m_name == name ? it->get() : nullptr;
}

std::vector<const EntityDescription*> ManagedObjectModel::rootEntities() const
{
    std::vector<const EntityDescription*> out;
    for (const auto& e : m_entities) {
        if (!e->m_super)
            out.push_back(e.get());
    }
    return out;
}

} // namespace platform
