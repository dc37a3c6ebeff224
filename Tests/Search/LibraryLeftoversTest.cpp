// What a document that leaves the library leaves behind goes with it before its record does:
// its index text and the tag backups of its file (its path, name and tags).
#include "Search/LibraryLeftovers.h"

#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/XAttr.h"
#include "Support/TestSupport.h"
#include "TagMeta/TagMeta.h"
#include "TagMeta/TagMetaBackup.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

class LibraryLeftoversTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TagMetaBackup::resetForTesting();
        previousBackend = platform::XAttr::setBackend(std::make_shared<platform::FakeXAttrBackend>());
        dir = testsupport::makeTempDir(QStringLiteral("leftovers"));
        TagMetaBackup::setBackupFolderForTesting(dir + QStringLiteral("/TagMeta/backups.noindex"));
        TagMetaBackup::setDelaysForTesting(std::chrono::hours(1), std::chrono::hours(1));
    }
    void TearDown() override
    {
        TagMetaBackup::resetForTesting();
        TagMetaBackup::setBackupFolderForTesting(QString());
        platform::XAttr::setBackend(previousBackend);
    }

    // A tagged file of the library and its tag backup.
    QString taggedFile(const QString& name)
    {
        const QString path = dir + QStringLiteral("/library/Documents/") + name;
        testsupport::writeFile(path, "text of " + name.toUtf8());
        EXPECT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("medical")}, path));
        TagMetaBackup::backupMetadataNow(path);
        EXPECT_TRUE(QFileInfo::exists(TagMetaBackup::backupPathForItem(path)));
        return path;
    }

    QString dir;
    std::shared_ptr<platform::XAttrBackend> previousBackend;
};

} // namespace

TEST_F(LibraryLeftoversTest, ADocumentLeavingTakesItsIndexTextAndItsTagBackupsAlong)
{
    const QString moved = taggedFile(QStringLiteral("moved.pdf"));
    const QString kept = taggedFile(QStringLiteral("kept.pdf"));
    // The file is gone (into the SafeBox, to the Trash) when its record is purged.
    ASSERT_TRUE(QFile::remove(moved));
    QList<qint64> purged;
    const auto remover = LibraryLeftovers::remover([&purged](const QList<qint64>& ids) {
        purged = ids;
        return true;
    });

    EXPECT_TRUE(remover({{12, moved}, {0, QString()}}));
    EXPECT_EQ(purged, QList<qint64>{12});
    EXPECT_FALSE(QFileInfo::exists(TagMetaBackup::backupPathForItem(moved))) << "its path, name and tags stay readable";
    EXPECT_TRUE(QFileInfo::exists(TagMetaBackup::backupPathForItem(kept)));

    // Index text that may remain keeps the records for the next purge.
    const auto failing = LibraryLeftovers::remover([](const QList<qint64>&) { return false; });
    EXPECT_FALSE(failing({{13, kept}}));
}
