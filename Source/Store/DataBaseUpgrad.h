// The manual, step-by-step migration of a library store through the mapping models the bundle
// carries, beside the automatic migration the store engine does when it opens a library.
//
// Each step writes a new store into a work folder of its own and reads only the store before
// it, so the library's "library.db" is never written here: a chain that fails half-way leaves
// the library exactly as it was, and its intermediate stores stay in the work folder (for a
// look after a failure) until the next upgrade empties it. Only explicit mapping models are
// used; a step the bundle does not describe is an error, not a guess.
//
// Threads: stateless; runs on any thread (the upgrade window runs it on a worker).
#pragma once

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/ManagedObjectModel.h"

#include <QString>

class DataBaseUpgrad {
public:
    static inline const QString kErrorDomain = QStringLiteral("DataBaseEngine(Upgrad)");
    static constexpr int kErrorCode = 8001;
    // The model folder whose versions are the chain's candidates, and the type of their files.
    static inline const QString kModelFolder = QStringLiteral("DBModel.momd");
    static inline const QString kModelType = QStringLiteral("mom");
    // The type of the mapping model files among the bundle's resources.
    static inline const QString kMappingType = QStringLiteral("mapping");

    // "<temporary folder>/UpdateData_tmp", created (not its parents) when missing; an error
    // when the program's temporary folder is unavailable or the folder cannot be made.
    static platform::Result<QString> dataBaseUpdateTempFolder();

    // Walks the store at storePath through the bundle's mapping models until it fits
    // destinationModel, each step into "<work folder>/<model file name>.<store extension>".
    // Answers the path of the store that fits: storePath itself when it already does (nothing
    // is written then). Errors: 8001 "No models found in bundle" or "No MappingModel found in
    // bundle", or the object store's error of the step that failed.
    static platform::Result<QString> updateDataBase(const QString& storePath,
                                                    const platform::ModelPtr& destinationModel,
                                                    const platform::Bundle& bundle = platform::Bundle::mainBundle());

    DataBaseUpgrad() = delete;
};
