// A data model: the entities a store holds, read from a model resource the program ships.
//
// A model resource is a folder "<Name>.momd" holding one XML property list per model version
// ("<Name> 2.mom") and "VersionInfo.plist" naming the current one ({"CurrentVersion": "<Name>
// 2"}). A version file is a dictionary {"name", "versionName", "entities": [{"name", "parent",
// "attributes": [{"name", "type", "default", "optional", "indexed", "renamingIdentifier"}],
// "relationships": [{"name", "destination", "inverse", "toMany", "deleteRule",
// "renamingIdentifier"}]}]}. Types: string, int16, int32, int64, uint32, uint64, bool, double,
// date, binary. Delete rules: nullify, cascade, deny, noAction.
//
// The version hash identifies the store layout a model implies (entity, attribute and
// relationship names, types, cardinalities, inheritance); defaults, indexes and delete rules
// do not enter it, so changing them never asks for a migration. Models are immutable once
// built and shared by pointer.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/EntityDescription.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

namespace platform {

class ManagedObjectModel {
public:
    // One version file (a parsed property list as described above).
    static Result<std::shared_ptr<const ManagedObjectModel>> fromPropertyList(const QVariant& plist);
    static Result<std::shared_ptr<const ManagedObjectModel>> loadFile(const QString& momPath);
    // The current version of "<dir>/<Name>.momd".
    static Result<std::shared_ptr<const ManagedObjectModel>> loadBundle(const QString& momdPath);
    // Every version file of a .momd folder, current or not (migration looks among them).
    static std::vector<std::shared_ptr<const ManagedObjectModel>> loadAllVersions(const QString& momdPath);

    const QString& name() const { return m_name; }
    const QString& versionName() const { return m_versionName; }
    // Hex SHA-256 of the canonical layout (see above).
    const QString& versionHash() const { return m_versionHash; }

    const std::vector<std::unique_ptr<EntityDescription>>& entities() const { return m_entities; }
    const EntityDescription* entity(const QString& name) const;
    // Entities without a parent; each owns one table.
    std::vector<const EntityDescription*> rootEntities() const;

private:
    ManagedObjectModel() = default;
    Result<void> resolve();

    QString m_name;
    QString m_versionName;
    QString m_versionHash;
    std::vector<std::unique_ptr<EntityDescription>> m_entities; // sorted by name
};

using ModelPtr = std::shared_ptr<const ManagedObjectModel>;

} // namespace platform
