// The relationship function a mapping model calls during a migration step: which destination
// records stand for the records a source relationship points to.
//
// Our migration manager carries relationships itself (through its source → destination
// record map), so installing the function is a no-op; the function is kept for migration code
// that asks for it by name. Every condition under which it cannot answer is an error value
// that fails the step, never a raised exception.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/ManagedObjectModel.h"
#include "Platform/ObjectStore/MappingModel.h"
#include "Platform/ObjectStore/Row.h"

#include <QString>
#include <functional>
#include <vector>

class MigrationManagerRelationships {
public:
    // The destination records one entity mapping made from one source record.
    using DestinationLookup = std::function<std::vector<const platform::Row*>(
        const platform::EntityMapping& mapping, const platform::Row& sourceInstance)>;

    // What a migration step knows while it maps the records of currentEntityMapping.
    struct Step {
        const platform::MappingModel* mappingModel = nullptr;
        const platform::EntityMapping* currentEntityMapping = nullptr;
        const platform::ManagedObjectModel* sourceModel = nullptr;
        const platform::ManagedObjectModel* destinationModel = nullptr;
        DestinationLookup destinationInstances;
    };

    // Nothing to add: the function is native here.
    static void addRelationshipMigrationMethodIfMissing() {}

    // The destination records for sourceInstances along the source relationship named name:
    // for each source record, the one record each fitting entity mapping made of it. Empty
    // when no relationship mapping of the current entity mapping takes name. Errors (in the
    // object store's migration domain) for a missing name, a relationship either model lacks,
    // two relationship mappings from the same source relationship, and a source record that
    // became more than one destination record.
    static platform::Result<std::vector<const platform::Row*>>
    destinationInstancesForSourceRelationshipNamed(const Step& step, const QString& name,
                                                   const std::vector<const platform::Row*>& sourceInstances);

    // "<source entity>To<destination entity>", the name an entity mapping goes by in messages.
    static QString entityMappingName(const platform::EntityMapping& mapping);

    MigrationManagerRelationships() = delete;
};
