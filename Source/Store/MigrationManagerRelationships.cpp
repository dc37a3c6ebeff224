#include "Store/MigrationManagerRelationships.h"

#include "Platform/ObjectStore/MigrationManager.h"

#include <QStringList>
#include <algorithm>

using platform::EntityMapping;
using platform::Result;
using platform::Row;

namespace {

std::unexpected<platform::Error> stepError(const QString& message)
{
    return platform::fail(QStringLiteral("ObjectStore"), platform::MigrationManager::MigrationError, message);
}

const platform::EntityDescription* entityNamed(const platform::ManagedObjectModel* model, const QString& name)
{
    return model ? model->entity(name) : nullptr;
}

} // namespace

QString MigrationManagerRelationships::entityMappingName(const EntityMapping& mapping)
{
    return QStringLiteral("%1To%2").arg(mapping.source, mapping.destination);
}

Result<std::vector<const Row*>> MigrationManagerRelationships::destinationInstancesForSourceRelationshipNamed(
    const Step& step, const QString& name, const std::vector<const Row*>& sourceInstances)
{
    if (!step.currentEntityMapping || !step.mappingModel)
        return stepError(QStringLiteral("destinationInstancesForSourceRelationshipNamed:sourceInstances: "
                                        "called outside a migration step"));
    const EntityMapping& current = *step.currentEntityMapping;
    const QString mappingName = entityMappingName(current);
    if (name.isEmpty())
        return stepError(QStringLiteral("Property mapping in %1 missing required source relationship name argument "
                                        "to destinationInstancesForSourceRelationshipNamed:sourceInstances:")
                             .arg(mappingName));

    const platform::EntityDescription* sourceEntity = entityNamed(step.sourceModel, current.source);
    const platform::RelationshipDescription* sourceRelationship =
        sourceEntity ? sourceEntity->relationship(name) : nullptr;
    if (!sourceRelationship)
        return stepError(QStringLiteral("Can't find relationship for name (%1) for entity (%2) in source model.")
                             .arg(name, current.source));

    // The relationship mappings fed by this source relationship; sorted, so that the message
    // names them in a stable order.
    QStringList callers;
    for (auto it = current.relationshipMappings.cbegin(); it != current.relationshipMappings.cend(); ++it) {
        if (it.value() == name)
            callers << it.key();
    }
    callers.sort();
    if (callers.size() > 1)
        return stepError(QStringLiteral("More than one property mapping (%1, %2) in %3 calls "
                                        "destinationInstancesForSourceRelationshipNamed:sourceInstances: with the same "
                                        "source relationship name %4, can't determine the correct destination relationship")
                             .arg(callers[0], callers[1], mappingName, name));
    if (callers.isEmpty())
        return std::vector<const Row*>{};
    const QString propertyMapping = callers.first();

    const platform::EntityDescription* destinationEntity = entityNamed(step.destinationModel, current.destination);
    const platform::RelationshipDescription* destinationRelationship =
        destinationEntity ? destinationEntity->relationship(propertyMapping) : nullptr;
    if (!destinationRelationship)
        return stepError(QStringLiteral("Can't find relationship for name (%1) for entity (%2) in destination model.")
                             .arg(propertyMapping, current.destination));

    std::vector<const EntityMapping*> candidates;
    for (const EntityMapping& m : step.mappingModel->entityMappings()) {
        const platform::EntityDescription* s = entityNamed(step.sourceModel, m.source);
        const platform::EntityDescription* d = entityNamed(step.destinationModel, m.destination);
        if (s && d && sourceRelationship->destination && destinationRelationship->destination
            && s->isKindOf(sourceRelationship->destination) && d->isKindOf(destinationRelationship->destination))
            candidates.push_back(&m);
    }

    std::vector<const Row*> collected;
    for (const Row* instance : sourceInstances) {
        if (!instance)
            continue;
        const Row* found = nullptr;
        for (const EntityMapping* m : candidates) {
            const std::vector<const Row*> made =
                step.destinationInstances ? step.destinationInstances(*m, *instance) : std::vector<const Row*>{};
            if (made.size() > 1 || (made.size() == 1 && found))
                return stepError(QStringLiteral("More than one destination instance found for source instance of type "
                                                "(%1) for relationship mapping (%2).")
                                     .arg(instance->entity ? instance->entity->name() : QString(), propertyMapping));
            if (made.size() == 1)
                found = made.front();
        }
        if (found)
            collected.push_back(found);
    }
    return collected;
}
