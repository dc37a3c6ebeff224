// Brings a library written with an older data model up to the current one: its store goes
// through the migration chain, the migrated store takes the place of "library.db", and only
// then is version 2.0 recorded in "version.plist".
//
// Nothing of the library is changed until everything that can fail beforehand has succeeded:
// "version.plist" is read first (a damaged one stops the upgrade untouched), the chain writes
// only into its work folder, and the migrated store is copied into the library folder and
// checked before the old store is renamed aside as "library.db.pre-<model>.bak" (never
// deleted) and the new one renamed into place. The version is written atomically, so a failure
// there leaves the old file whole and is reported as a failure.
//
// Threads: stateless; runs on one worker while the store engine has not opened the library.
#pragma once

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Error.h"

#include <QString>

class LibraryUpgrade {
public:
    // The model version the upgrade leads to: "DBModel %d" with this number, in "DBModel.momd".
    static constexpr int kDestinationModelNumber = 2;
    // The "version" recorded after a successful upgrade.
    static constexpr double kUpgradedVersion = 2.0;

    // Upgrades the library at libraryFolder (its "library.db" and "version.plist") with the
    // models and mapping models of bundle. On failure the library keeps its old store and
    // version, except that the store may already be the migrated one when only the version
    // write failed (the error says so).
    static platform::Result<void> upgradeLibrary(const QString& libraryFolder,
                                                 const platform::Bundle& bundle = platform::Bundle::mainBundle());

    // Where the old store is kept: "<store>.pre-<first 12 digits of its model hash>.bak", or
    // the first free "_n" variant of it.
    static QString backupBaseName(const QString& storeFileName, const QString& modelHash);

    LibraryUpgrade() = delete;
};
