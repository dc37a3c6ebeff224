#include "Store/DataBaseUpgrad.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/ObjectStore/MappingModel.h"
#include "Platform/ObjectStore/MigrationManager.h"
#include "Platform/ObjectStore/PersistentStoreCoordinator.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/SystemHelpers.h"

#include <QFileInfo>

#include <optional>
#include <vector>

using platform::Bundle;
using platform::ManagedObjectModel;
using platform::MappingModel;
using platform::MigrationManager;
using platform::ModelPtr;
using platform::Result;

namespace {

const QString kLogDomain = QStringLiteral("DataBase");

struct CandidateModel {
    QString path;
    ModelPtr model;
};

std::unexpected<platform::Error> upgradError(const QString& message)
{
    return platform::fail(DataBaseUpgrad::kErrorDomain, DataBaseUpgrad::kErrorCode, message);
}

// The versions inside "DBModel.momd" first, then the model files at the top of the resources.
std::vector<CandidateModel> candidateModels(const Bundle& bundle)
{
    QStringList files = bundle.pathsForResourcesOfType(DataBaseUpgrad::kModelType, DataBaseUpgrad::kModelFolder);
    files += bundle.pathsForResourcesOfType(DataBaseUpgrad::kModelType);
    std::vector<CandidateModel> out;
    for (const QString& file : files) {
        auto model = ManagedObjectModel::loadFile(file);
        if (!model) {
            KPLogLogDomainMessage(kLogDomain, 1, QStringLiteral("Skipping the model %1: %2")
                                                     .arg(file, model.error().toString()));
            continue;
        }
        out.push_back({file, *model});
    }
    return out;
}

std::vector<MappingModel> mappingModels(const Bundle& bundle)
{
    std::vector<MappingModel> out;
    for (const QString& file : bundle.pathsForResourcesOfType(DataBaseUpgrad::kMappingType)) {
        auto mapping = MappingModel::loadFile(file);
        if (!mapping) {
            KPLogLogDomainMessage(kLogDomain, 1, QStringLiteral("Skipping the mapping model %1: %2")
                                                     .arg(file, mapping.error().toString()));
            continue;
        }
        out.push_back(std::move(*mapping));
    }
    return out;
}

void removeStoreFiles(const QString& path)
{
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const QString file = path + QLatin1String(suffix);
        if (platform::FileManager::itemExists(file))
            (void)platform::FileManager::removeItem(file);
    }
}

} // namespace

Result<QString> DataBaseUpgrad::dataBaseUpdateTempFolder()
{
    const QString temporary = temporaryFolder();
    if (temporary.isEmpty())
        return platform::fail(kErrorDomain, kErrorCode, QStringLiteral("The temporary folder is unavailable"));
    const QString folder = temporary + QStringLiteral("/UpdateData_tmp");
    bool isDirectory = false;
    if (platform::FileManager::fileExists(folder, &isDirectory) && isDirectory)
        return folder;
    if (auto made = platform::FileManager::createDirectory(folder, false); !made)
        return std::unexpected(made.error());
    return folder;
}

Result<QString> DataBaseUpgrad::updateDataBase(const QString& storePath, const ModelPtr& destinationModel,
                                               const Bundle& bundle)
{
    if (!destinationModel)
        return upgradError(QStringLiteral("No models found in bundle"));
    std::optional<std::vector<CandidateModel>> candidates;
    std::optional<std::vector<MappingModel>> mappings;
    QString current = storePath;
    // Every step lands on another model version, so a chain longer than the number of
    // versions can only be a cycle among the mapping models.
    for (size_t step = 0;; ++step) {
        auto metadata = platform::PersistentStoreCoordinator::metadataForPersistentStore(current);
        if (!metadata)
            return std::unexpected(metadata.error());
        if (metadata->modelHash == destinationModel->versionHash())
            return current;

        if (!candidates)
            candidates = candidateModels(bundle);
        if (candidates->empty())
            return upgradError(QStringLiteral("No models found in bundle"));
        if (step > candidates->size())
            return platform::fail(QStringLiteral("ObjectStore"), MigrationManager::MigrationError,
                                  QStringLiteral("The mapping models of the bundle never reach \"%1\"")
                                      .arg(destinationModel->versionName()));
        ModelPtr sourceModel;
        for (const CandidateModel& c : *candidates) {
            if (c.model->versionHash() == metadata->modelHash)
                sourceModel = c.model;
        }
        if (!sourceModel)
            return platform::fail(QStringLiteral("ObjectStore"), MigrationManager::NoSourceModelError,
                                  QStringLiteral("%1 was written by the model \"%2\", which is not in the bundle")
                                      .arg(current, metadata->modelVersion));

        if (!mappings)
            mappings = mappingModels(bundle);
        const CandidateModel* next = nullptr;
        const MappingModel* mapping = nullptr;
        for (const CandidateModel& c : *candidates) {
            if (c.model->versionHash() == sourceModel->versionHash())
                continue;
            for (const MappingModel& m : *mappings) {
                if (m.sourceModelVersion() == sourceModel->versionName()
                    && m.destinationModelVersion() == c.model->versionName()) {
                    mapping = &m;
                    break;
                }
            }
            if (mapping) {
                next = &c;
                break;
            }
        }
        if (!next)
            return upgradError(QStringLiteral("No MappingModel found in bundle"));

        auto work = dataBaseUpdateTempFolder();
        if (!work)
            return std::unexpected(work.error());
        const QString extension = QFileInfo(storePath).suffix();
        QString target = QStringLiteral("%1/%2").arg(*work, QFileInfo(next->path).completeBaseName());
        if (!extension.isEmpty())
            target += QLatin1Char('.') + extension;
        if (target == current)
            return platform::fail(QStringLiteral("ObjectStore"), MigrationManager::MigrationError,
                                  QStringLiteral("A mapping model leads \"%1\" back onto itself").arg(current));
        // Left by an earlier chain in this work folder; it is only ever our own scratch file.
        removeStoreFiles(target);
        KPLogLogDomainMessage(kLogDomain, 1, QStringLiteral("Migrating %1 from \"%2\" to \"%3\"")
                                                 .arg(current, sourceModel->versionName(), next->model->versionName()));
        if (auto migrated = MigrationManager::migrateStore(current, sourceModel, target, next->model, *mapping);
            !migrated)
            return std::unexpected(migrated.error());
        current = target;
    }
}
