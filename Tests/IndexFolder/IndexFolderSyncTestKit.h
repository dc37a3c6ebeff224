// A library in a scratch folder with both stores open, a manager over them, and watched
// folders on disk: what the syncer and import tests share.
#pragma once

#include "IndexFolderTestSupport.h"

#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/XAttr.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Store/DBDocumentIndex.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBIndexFolder.h"
#include "Store/DBIndexFolderMetadata.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"
#include "IndexFolder/KPIndexFolderManager.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace indexfoldertest {

inline platform::Predicate where(const QString& format, const QVariantList& arguments = {})
{
    auto predicate = platform::Predicate::format(format, arguments);
    EXPECT_TRUE(predicate) << qPrintable(format);
    return predicate ? *predicate : platform::Predicate();
}

// Holds the import at its first rating read (only imports read ratings) until released.
class ImportGate : public platform::FakeXAttrBackend {
public:
    int get(const QByteArray& path, const QByteArray& name, QByteArray* value) override
    {
        if (name.contains("kMDItemStarRating")) {
            std::unique_lock lock(m_mutex);
            m_arrived = true;
            m_changed.wait(lock, [&] { return m_released; });
        }
        return FakeXAttrBackend::get(path, name, value);
    }
    bool arrived()
    {
        std::lock_guard lock(m_mutex);
        return m_arrived;
    }
    void release()
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_arrived = false;
    bool m_released = false;
};

class SyncFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousXAttr = platform::XAttr::setBackend(xattr);
        if (library.isEmpty())
            library = testsupport::makeTempDir(QStringLiteral("library"));
        if (disk.isEmpty())
            disk = testsupport::makeTempDir(QStringLiteral("disk"));
        openStores();
        for (const QString& name : {IndexFolderSyncStartNotification, IndexFolderSyncFinishedNotification,
                                    IndexFolderSyncNodeGeneratorFinishedNotification}) {
            tokens.push_back(platform::NotificationCenter::defaultCenter().addObserver(
                name, [this](const platform::Notification& note) { posted.append(note.name + ' ' + pathOf(note)); }));
        }
    }
    void TearDown() override
    {
        closeStores();
        tokens.clear();
        platform::XAttr::setBackend(previousXAttr);
    }

    // The program's start: both stores over the library folder, and a manager.
    void openStores()
    {
        DataBaseEngine::Options options;
        options.libraryPath = library;
        libraryEngine = std::make_unique<DataBaseEngine>(options);
        ASSERT_TRUE(libraryEngine->initDataBase());
        indexStore = std::make_unique<KPIndexFolderDBEngine>(library);
        files = std::make_unique<KPLibraryFileManager>(library);
        manager = std::make_unique<KPIndexFolderManager>(services());
    }
    // The program's end: everything written to disk and let go.
    void closeStores()
    {
        manager.reset();
        if (libraryEngine) {
            EXPECT_TRUE(libraryEngine->writeToDiskAndWait());
        }
        folders.clear();
        indexStore.reset();
        libraryEngine.reset();
        files.reset();
    }
    IndexFolderServices services()
    {
        IndexFolderServices s;
        s.library = libraryEngine.get();
        s.indexStore = indexStore.get();
        s.files = files.get();
        s.libraryPath = library;
        s.startIndexer = [this] { ++indexerStarts; };
        s.deviceOfPath = [this](const QString& path) -> std::optional<quint64> {
            std::lock_guard lock(deviceMutex);
            return devices.value(path, 1);
        };
        s.flushThumbnails = flushThumbnails;
        s.clock = clock;
        return s;
    }
    // A manager over services() as they are now (after changing the seams below).
    void restartManager()
    {
        manager = std::make_unique<KPIndexFolderManager>(services());
    }
    // Every path is on device 1 unless given another; read on the syncers' threads.
    void setDevice(const QString& path, std::optional<quint64> device)
    {
        std::lock_guard lock(deviceMutex);
        if (device)
            devices.insert(path, *device);
        else
            devices.remove(path);
    }

    QString pathOf(const platform::Notification& note) const
    {
        if (note.object.typeId() == QMetaType::QVariantMap)
            return DBIndexFolder(platform::ManagedObject::fromRef(note.object.toMap().value(IndexFolderTreeInfo::IndexFolder)))
                .path();
        return DBIndexFolder(platform::ManagedObject::fromRef(note.object)).path();
    }

    DBIndexFolder addFolder(const QString& path)
    {
        QDir().mkpath(path);
        auto folder = DBRecord::insertNewObject<DBIndexFolder>(libraryEngine->context());
        folder.setPath(path);
        folder.setType(QStringLiteral("Folder"));
        folder.setTitle(QFileInfo(path).fileName());
        EXPECT_TRUE(libraryEngine->writeToDiskAndWait());
        folders.append(folder);
        return folder;
    }
    DBIndexFolder findFolder(const QString& path)
    {
        auto found = libraryEngine->queryRecordByName(DBIndexFolder::entityName(), where("path == %@", {path}));
        return found && !found->isEmpty() ? DBIndexFolder(found->first()) : DBIndexFolder();
    }

    int count(const QString& name, const QString& path) const { return int(posted.count(name + ' ' + path)); }

    // Queues the action and runs the event loop until the folder's pass has ended. A pass that
    // imports hundreds of files with their thumbnails takes tens of seconds on a busy machine.
    void sync(const DBIndexFolder& folder, const QVariantMap& action)
    {
        const QString path = folder.path();
        const int before = count(IndexFolderSyncFinishedNotification, path);
        manager->syncIndexFolder(folder, action);
        ASSERT_TRUE(testsupport::spinUntil([&] { return count(IndexFolderSyncFinishedNotification, path) > before; },
                                           kPassCap));
    }
    static constexpr int kPassCap = 180000;
    void syncAll(const DBIndexFolder& folder) { sync(folder, {{IndexFolderAction::ActionType, IndexFolderAction::TopLevel}}); }
    void changed(const DBIndexFolder& folder, const QString& changedFolder)
    {
        sync(folder, {{IndexFolderAction::ActionType, IndexFolderAction::FolderWasChange},
                      {IndexFolderAction::Folder, changedFolder}});
    }

    // Live (not trashed) documents of index folders, by absolute path.
    QMap<QString, DBFileInfo> liveDocuments()
    {
        QMap<QString, DBFileInfo> documents;
        auto found = libraryEngine->queryRecordByName(DBFileInfo::entityName(), where("isIndex == YES && isTrash == NO"));
        EXPECT_TRUE(found);
        for (const auto& object : found ? *found : QList<platform::ManagedObjectPtr>()) {
            DBFileInfo file(object);
            EXPECT_FALSE(documents.contains(file.path())) << "duplicate " << qPrintable(file.path());
            documents.insert(file.path(), file);
        }
        return documents;
    }
    qsizetype countOf(const QString& entity, const QString& format = QString())
    {
        return libraryEngine->countByObject(entity, format.isEmpty() ? platform::Predicate() : where(format));
    }
    QList<IFFileItem> liveRows()
    {
        QList<IFFileItem> rows;
        for (const auto& row : indexStore->queryRecordByName(IFFileItem::kEntityName, where("isRemove == NO")))
            rows.append(IFFileItem::read(*row));
        return rows;
    }

    // A document file with some bytes; a later date makes it "modified".
    QString put(const QString& relative, const QByteArray& bytes = "%PDF-1.4 not really",
                std::optional<QDateTime> date = std::nullopt)
    {
        const QString path = disk + '/' + relative;
        testsupport::writeFile(path, bytes);
        if (date) {
            EXPECT_TRUE(platform::FileManager::setModificationDate(path, *date));
        }
        return path;
    }

    std::shared_ptr<CountingXAttr> xattr = std::make_shared<CountingXAttr>();
    std::shared_ptr<platform::XAttrBackend> previousXAttr;
    QString library; // set before SetUp to work on an existing library
    QString disk;
    // Seams handed to the manager (restartManager): empty for the real flush and clock.
    std::function<platform::Result<void>(const QStringList& thumbnails)> flushThumbnails;
    std::function<qint64()> clock;
    std::unique_ptr<DataBaseEngine> libraryEngine;
    std::unique_ptr<KPIndexFolderDBEngine> indexStore;
    std::unique_ptr<KPLibraryFileManager> files;
    std::unique_ptr<KPIndexFolderManager> manager;
    QList<DBIndexFolder> folders;
    std::vector<platform::ObserverToken> tokens;
    QStringList posted;
    std::atomic<int> indexerStarts{0};
    std::mutex deviceMutex;
    QHash<QString, quint64> devices;
};

} // namespace indexfoldertest
