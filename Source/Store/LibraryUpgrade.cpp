#include "Store/LibraryUpgrade.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/ObjectStore/ManagedObjectModel.h"
#include "Platform/ObjectStore/PersistentStoreCoordinator.h"
#include "Store/DataBaseEngine.h"
#include "Store/DataBaseUpgrad.h"
#include "Store/MigrationManagerRelationships.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFile>
#include <QRandomGenerator>
#include <QVariantMap>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using platform::FileManager;
using platform::Result;

namespace {

const QString kLogDomain = QStringLiteral("DataBase");
const QString kStoreName = QStringLiteral("library.db");
const QString kVersionName = QStringLiteral("version.plist");
// The files SQLite may keep beside a store; they belong to it and move with it.
const char* const kSidecars[] = {"-wal", "-shm", "-journal"};
// Tuning: how many "_n" variants of the backup name are tried before giving up.
constexpr int kMaxBackupSuffix = 1000;

std::unexpected<platform::Error> failure(const QString& message)
{
    return platform::fail(DataBaseUpgrad::kErrorDomain, DataBaseUpgrad::kErrorCode, message);
}

std::unexpected<platform::Error> failure(const QString& what, const platform::Error& error)
{
    return std::unexpected(platform::Error{error.domain, error.code, QStringLiteral("%1: %2").arg(what, error.message)});
}

bool isCollision(const platform::Error& error)
{
    return error.domain == QLatin1String("POSIX") && (error.code == EEXIST || error.code == ENOTEMPTY);
}

Result<void> syncPath(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::unexpected(platform::Error::posix(errno, QStringLiteral("open %1").arg(path)));
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0)
        return std::unexpected(platform::Error::posix(err, QStringLiteral("sync %1").arg(path)));
    return {};
}

void removeWithSidecars(const QString& path)
{
    for (const QString& file : {path, path + QLatin1String(kSidecars[0]), path + QLatin1String(kSidecars[1]),
                                path + QLatin1String(kSidecars[2])}) {
        if (FileManager::itemExists(file))
            (void)FileManager::removeItem(file);
    }
}

// Moves the store and its sidecars to the first free backup name; answers that name. On
// failure whatever was moved goes back.
Result<QString> setStoreAside(const QString& folder, const QString& store, const QString& modelHash)
{
    const QString base = LibraryUpgrade::backupBaseName(kStoreName, modelHash);
    QString backup;
    for (int n = 0; n <= kMaxBackupSuffix && backup.isEmpty(); ++n) {
        const QString candidate = n == 0 ? QStringLiteral("%1/%2").arg(folder, base)
                                         : QStringLiteral("%1/%2_%3").arg(folder, base).arg(n);
        bool sidecarTaken = false;
        for (const char* s : kSidecars)
            sidecarTaken = sidecarTaken || FileManager::itemExists(candidate + QLatin1String(s));
        if (sidecarTaken)
            continue;
        auto moved = FileManager::moveItem(store, candidate);
        if (moved)
            backup = candidate;
        else if (!isCollision(moved.error()))
            return failure(QStringLiteral("Could not set the old store aside"), moved.error());
    }
    if (backup.isEmpty())
        return failure(QStringLiteral("Could not find a free name to keep the old store under"));
    QStringList moved;
    for (const char* s : kSidecars) {
        const QString from = store + QLatin1String(s);
        if (!FileManager::itemExists(from))
            continue;
        auto ok = FileManager::moveItem(from, backup + QLatin1String(s));
        if (!ok) {
            for (const QString& m : moved)
                (void)FileManager::moveItem(backup + m, store + m);
            (void)FileManager::moveItem(backup, store);
            return failure(QStringLiteral("Could not set the old store aside"), ok.error());
        }
        moved << QLatin1String(s);
    }
    return backup;
}

void putBack(const QString& backup, const QString& store)
{
    if (auto ok = FileManager::moveItem(backup, store); !ok) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("The old store stays at %1: %2").arg(backup, ok.error().message));
        return;
    }
    for (const char* s : kSidecars) {
        if (FileManager::itemExists(backup + QLatin1String(s)))
            (void)FileManager::moveItem(backup + QLatin1String(s), store + QLatin1String(s));
    }
}

// Puts the migrated store in place of the library's: a complete, synced and checked copy in
// the library folder first, then the old store aside, then the copy into its name.
Result<void> replaceStore(const QString& folder, const QString& store, const QString& migrated,
                          const QString& expectedHash, const QString& oldHash)
{
    const QString staged = QStringLiteral("%1/.%2.upgrading-%3")
                               .arg(folder, kStoreName)
                               .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    const QString what = QStringLiteral("Could not put the upgraded store into the library");
    auto checked = [&]() -> Result<void> {
        if (auto ok = FileManager::copyItem(migrated, staged); !ok)
            return failure(what, ok.error());
        if (auto ok = syncPath(staged); !ok)
            return failure(what, ok.error());
        if (auto ok = FileManager::verifyCopy(migrated, staged); !ok)
            return failure(what, ok.error());
        auto metadata = platform::PersistentStoreCoordinator::metadataForPersistentStore(staged);
        if (!metadata)
            return failure(what, metadata.error());
        if (metadata->modelHash != expectedHash)
            return failure(QStringLiteral("%1: the copy does not hold the upgraded model").arg(what));
        return {};
    }();
    if (!checked) {
        removeWithSidecars(staged);
        return checked;
    }
    // Reading the copy's metadata may have left SQLite's files beside it; they are not its data.
    for (const char* s : kSidecars) {
        if (FileManager::itemExists(staged + QLatin1String(s)))
            (void)FileManager::removeItem(staged + QLatin1String(s));
    }

    auto backup = setStoreAside(folder, store, oldHash);
    if (!backup) {
        removeWithSidecars(staged);
        return std::unexpected(backup.error());
    }
    if (auto ok = FileManager::moveItem(staged, store); !ok) {
        removeWithSidecars(staged);
        putBack(*backup, store);
        return failure(what, ok.error());
    }
    (void)syncPath(folder);
    KPLogLogDomainMessage(kLogDomain, 1, QStringLiteral("Upgraded store in place; the old one is kept as %1").arg(*backup));
    return {};
}

} // namespace

QString LibraryUpgrade::backupBaseName(const QString& storeFileName, const QString& modelHash)
{
    return QStringLiteral("%1.pre-%2.bak").arg(storeFileName, modelHash.left(12));
}

Result<void> LibraryUpgrade::upgradeLibrary(const QString& libraryFolder, const platform::Bundle& bundle)
{
    if (libraryFolder.isEmpty() || !FileManager::fileExists(libraryFolder))
        return failure(QStringLiteral("The library folder %1 is missing").arg(libraryFolder));
    const QString store = QStringLiteral("%1/%2").arg(libraryFolder, kStoreName);
    const QString versionFile = QStringLiteral("%1/%2").arg(libraryFolder, kVersionName);

    const QString modelPath = bundle.pathForResource(QStringLiteral("DBModel %1").arg(kDestinationModelNumber),
                                                     DataBaseUpgrad::kModelType, DataBaseUpgrad::kModelFolder);
    if (modelPath.isEmpty())
        return failure(QStringLiteral("No models found in bundle"));
    auto destination = platform::ManagedObjectModel::loadFile(modelPath);
    if (!destination)
        return std::unexpected(destination.error());

    // A damaged "version.plist" stops the upgrade before anything changes.
    QVariantMap version;
    if (FileManager::itemExists(versionFile)) {
        auto plist = platform::PropertyList::readFile(versionFile);
        if (!plist)
            return failure(QStringLiteral("The library's version.plist cannot be read"), plist.error());
        if (plist->metaType().id() != QMetaType::QVariantMap)
            return failure(QStringLiteral("The library's version.plist does not hold a dictionary"));
        version = plist->toMap();
    } else {
        version.insert(QStringLiteral("name"), DataBaseEngine::kLibraryName);
    }
    auto oldMetadata = platform::PersistentStoreCoordinator::metadataForPersistentStore(store);
    if (!oldMetadata)
        return std::unexpected(oldMetadata.error());

    // The work folder starts empty, so no intermediate store of an earlier run is taken up.
    auto work = DataBaseUpgrad::dataBaseUpdateTempFolder();
    if (!work)
        return std::unexpected(work.error());
    if (auto removed = FileManager::removeItem(*work); !removed)
        return std::unexpected(removed.error());
    MigrationManagerRelationships::addRelationshipMigrationMethodIfMissing();

    auto migrated = DataBaseUpgrad::updateDataBase(store, *destination, bundle);
    if (!migrated)
        return std::unexpected(migrated.error());
    if (*migrated != store) {
        if (auto ok = replaceStore(libraryFolder, store, *migrated, (*destination)->versionHash(),
                                   oldMetadata->modelHash);
            !ok)
            return ok;
    }

    version.insert(QStringLiteral("version"), kUpgradedVersion);
    if (auto written = platform::PropertyList::writeFile(version, versionFile, platform::PlistFormat::Xml); !written)
        return failure(QStringLiteral("The store was upgraded, but version 2.0 could not be recorded"), written.error());
    return {};
}
