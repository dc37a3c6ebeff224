// How the records of one model version become records of another.
//
// A mapping model file is an XML property list: {"sourceModelVersion", "destinationModelVersion"
// (the models' version names), "entityMappings": [{"source", "destination", "attributeMappings":
// {"<destination attribute>": "<source attribute>" or {"constant": value}},
// "relationshipMappings": {"<destination relationship>": "<source relationship>"}}]}.
// It only needs to say what inference would get wrong: everything it does not name is mapped as
// infer() would map it.
//
// infer() builds a mapping from the two models alone: entities and properties are matched by
// name or renaming identifier, new ones start at their defaults, removed ones are dropped;
// a property whose type changed must widen (a smaller integer to a larger one, an integer to a
// double), otherwise inference fails.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/ManagedObjectModel.h"

#include <QHash>
#include <QString>
#include <QVariant>
#include <vector>

namespace platform {

struct EntityMapping {
    QString source;
    QString destination;
    // destination attribute → source attribute name (QString) or a constant ({"constant": v})
    QHash<QString, QVariant> attributeMappings;
    QHash<QString, QString> relationshipMappings;
};

class MappingModel {
public:
    static Result<MappingModel> loadFile(const QString& path);
    static Result<MappingModel> fromPropertyList(const QVariant& plist);
    static Result<MappingModel> infer(const ManagedObjectModel& source, const ManagedObjectModel& destination);

    const QString& sourceModelVersion() const { return m_sourceVersion; }
    const QString& destinationModelVersion() const { return m_destinationVersion; }
    const std::vector<EntityMapping>& entityMappings() const { return m_entities; }
    // Fills in the inferred mappings around the explicit ones; fails when a mapping names
    // something the models lack or a type cannot be carried over.
    Result<void> resolve(const ManagedObjectModel& source, const ManagedObjectModel& destination);
    const EntityMapping* mappingForSource(const QString& sourceEntity) const;

private:
    QString m_sourceVersion;
    QString m_destinationVersion;
    std::vector<EntityMapping> m_entities;
};

} // namespace platform
