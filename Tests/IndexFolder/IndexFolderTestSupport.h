// Shared ground of the index-folder tests: a scratch library with its own index-folder store,
// rows written the way the import writes them, file trees built without touching disk, and
// attribute reads counted per file.
#pragma once

#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Support/TestSupport.h"
#include "IndexFolder/IFFileItem.h"
#include "IndexFolder/IndexFolderID.h"
#include "IndexFolder/KPFileNode.h"
#include "IndexFolder/KPFolderSnapshot.h"
#include "IndexFolder/KPIndexFolderDBEngine.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>

namespace indexfoldertest {

inline QDateTime at(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(1700000000 + seconds, Qt::UTC);
}

// A walk's clock an hour ahead, so that every file's change time counts as settled.
inline qint64 anHourAhead()
{
    return (QDateTime::currentMSecsSinceEpoch() + 3600 * 1000) * 1000000;
}

// Spins until the file system's clock is past the change times of paths, so that the next
// change of any of them moves its change time (time stamps tick coarsely).
inline void waitPastChangeTimes(const QStringList& paths)
{
    qint64 latest = 0;
    for (const QString& path : paths) {
        const auto facts = KPFolderSnapshot::factsOfItem(path);
        ASSERT_TRUE(facts);
        latest = std::max(latest, facts->changeNanoseconds);
    }
    const QString probe = folderOfPath(paths.first()) + QStringLiteral("/.clock-probe");
    ASSERT_TRUE(testsupport::spinUntil([&] {
        testsupport::writeFile(probe, "tick");
        const auto facts = KPFolderSnapshot::factsOfItem(probe);
        return facts && facts->changeNanoseconds > latest;
    }));
    QFile::remove(probe);
}

// The in-memory attributes, with the reads of each file counted.
class CountingXAttr : public platform::FakeXAttrBackend {
public:
    int get(const QByteArray& path, const QByteArray& name, QByteArray* value) override
    {
        {
            std::lock_guard lock(m_mutex);
            ++m_reads[path];
        }
        return FakeXAttrBackend::get(path, name, value);
    }
    int reads(const QString& path) const
    {
        std::lock_guard lock(m_mutex);
        return m_reads.value(QFile::encodeName(path));
    }
    void resetReads()
    {
        std::lock_guard lock(m_mutex);
        m_reads.clear();
    }

private:
    mutable std::mutex m_mutex;
    QHash<QByteArray, int> m_reads;
};

// Writes one IFFileItem row for the file at path, as the import records a synced file.
inline void addRow(KPIndexFolderDBEngine& engine, const QString& path, quint32 fileID,
                   const QDateTime& date, const QString& tags = QString(), bool isRemove = false,
                   quint64 uuid = 0, std::optional<qint64> changeTime = std::nullopt)
{
    auto saved = engine.saveDataWithBlock([&](const platform::ContextPtr& context) {
        auto row = engine.createNewRecordByName(IFFileItem::kEntityName, context);
        ASSERT_TRUE(row);
        IFFileItem item;
        item.folder = folderOfPath(path);
        item.folderID = indexFolderIDForPath(item.folder);
        item.fileName = lastComponentOfPath(path);
        item.fileID = fileID;
        item.uuid = uuid ? uuid : quint64(fileID) + 1;
        item.date = date;
        item.isRemove = isRemove;
        item.tags = tags;
        item.changeTime = changeTime;
        ASSERT_TRUE(item.writeTo(*row));
    });
    ASSERT_TRUE(saved) << saved.error().toString().toStdString();
}

inline KPFileNode::Ptr folderNode(const QString& path, KPFileNode::Listing listing = KPFileNode::Listing::Listed,
                                  std::optional<KPFileNode::Volume> volume = std::nullopt)
{
    auto node = std::make_shared<KPFileNode>(path, 0);
    node->setListing(listing, listing == KPFileNode::Listing::Listed ? 0 : 13);
    node->setVolume(volume);
    return node;
}

inline KPFileNode::Ptr fileNode(const KPFileNode::Ptr& folder, const QString& name, quint32 number,
                                const QDateTime& date, const QString& tags = QString(""))
{
    auto node = std::make_shared<KPFileNode>(folder->path() + QLatin1Char('/') + name, number);
    node->setDate(date);
    node->setTags(tags);
    folder->addFile(node);
    return node;
}

class LibraryFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        library = testsupport::makeTempDir(QStringLiteral("library"));
        engine = std::make_unique<KPIndexFolderDBEngine>(library);
        ASSERT_TRUE(engine->hasStore());
    }
    // A second engine over the same files: the program's next run.
    void restart()
    {
        engine.reset();
        engine = std::make_unique<KPIndexFolderDBEngine>(library);
    }

    QString library;
    std::unique_ptr<KPIndexFolderDBEngine> engine;
};

} // namespace indexfoldertest
