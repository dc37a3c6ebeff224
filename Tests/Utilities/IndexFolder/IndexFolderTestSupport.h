// Shared ground of the index-folder tests: a scratch library with its own index-folder store,
// rows written the way the import writes them, and file trees built without touching disk.
#pragma once

#include "Support/TestSupport.h"
#include "Utilities/IndexFolder/IFFileItem.h"
#include "Utilities/IndexFolder/IndexFolderID.h"
#include "Utilities/IndexFolder/KPFileNode.h"
#include "Utilities/IndexFolder/KPIndexFolderDBEngine.h"

#include <QDateTime>
#include <gtest/gtest.h>
#include <memory>

namespace indexfoldertest {

inline QDateTime at(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(1700000000 + seconds, Qt::UTC);
}

// Writes one IFFileItem row for the file at path, as the import records a synced file.
inline void addRow(KPIndexFolderDBEngine& engine, const QString& path, quint32 fileID,
                   const QDateTime& date, const QString& tags = QString(), bool isRemove = false,
                   quint64 uuid = 0)
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
