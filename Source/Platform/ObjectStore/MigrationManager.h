// Moves a store's records from one model version to another.
//
// The source store is read whole under its own model, every record is rebuilt under the
// destination model (first the records, then their relationships, through a source → 
// destination record map) and written to a fresh file beside the target; only when that file
// is complete and synced does it take the target's name. The original is kept beside it as
// "<file>.pre-<first 12 digits of its model hash>.bak", so a migration that fails or is cut off
// loses nothing.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/ManagedObjectModel.h"
#include "Platform/ObjectStore/MappingModel.h"

#include <QString>

namespace platform {

struct StoreOptions;

class MigrationManager {
public:
    enum ErrorCode {
        NoSourceModelError = 134130, // the store's model version is not among the known ones
        NoMappingError = 134140,     // no mapping model fits and none can be inferred
        MigrationError = 134110,     // reading, converting or writing failed
    };

    // Migrates sourcePath (written by sourceModel) into a new store at destinationPath under
    // destinationModel. destinationPath must not exist.
    static Result<void> migrateStore(const QString& sourcePath, const ModelPtr& sourceModel,
                                     const QString& destinationPath, const ModelPtr& destinationModel,
                                     const MappingModel& mapping);

    // The automatic migration of a store being opened: finds the model that wrote it among the
    // versions named by the options, takes a fitting mapping model file or infers one, migrates
    // into "<path>.migrating", keeps the original as the backup named above and puts the new
    // file in its place.
    static Result<void> migrateStoreInPlace(const QString& path, const ModelPtr& destinationModel,
                                            const StoreOptions& options);

    // The backup name migrateStoreInPlace uses for a store of the given model hash.
    static QString backupPath(const QString& path, const QString& sourceModelHash);
};

} // namespace platform
