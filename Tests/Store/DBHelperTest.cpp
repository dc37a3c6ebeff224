// Absolute paths of stored documents, the tag write-back into files and the folderID formula.
#include "StoreEngineFixture.h"

#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/StringHash.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Foundation/XAttr.h"
#include "Store/DBHelper.h"
#include "Store/KPLibraryFileManager.h"
#include "TagMeta/TagMeta.h"
#include "Utilities/FileHelpers.h"

#include <cerrno>

using namespace storeengine;
using platform::XAttr;

namespace {

class DBHelperTest : public StoreEngineTest {
protected:
    void SetUp() override
    {
        StoreEngineTest::SetUp();
        platform::UserDefaults::standardUserDefaults().setString(library, QStringLiteral("String_Library_Path"));
        KPLibraryFileManager::resetDefaultManager();
        fake = std::make_shared<platform::FakeXAttrBackend>();
        previous = XAttr::setBackend(fake);
        open();
    }
    void TearDown() override
    {
        XAttr::setBackend(previous);
        StoreEngineTest::TearDown();
    }

    DBFileInfo document(const QString& path, bool isIndex = false)
    {
        DBFileInfo file = DBRecord::insertNewObject<DBFileInfo>(engine->context());
        file.setPath(path);
        file.setIsIndex(isIndex);
        return file;
    }

    QStringList finderTags(const QString& path)
    {
        auto bytes = XAttr::get(path, kFinderTagsAttribute);
        if (!bytes)
            return {QStringLiteral("<missing>")};
        auto list = platform::PropertyList::read(*bytes);
        EXPECT_TRUE(list.has_value());
        EXPECT_EQ(platform::PropertyList::detectFormat(*bytes), platform::PlistFormat::Binary);
        return list ? list->toStringList() : QStringList();
    }

    std::shared_ptr<platform::FakeXAttrBackend> fake;
    std::shared_ptr<platform::XAttrBackend> previous;
};

} // namespace

TEST_F(DBHelperTest, AbsolutePathsJoinTheLibraryFolderWithoutASeparator)
{
    EXPECT_EQ(DBHelper::CombinFileAbsolutePath(document(QStringLiteral("/Documents/Jan 01, 2014/a.pdf"))),
              library + QStringLiteral("/Documents/Jan 01, 2014/a.pdf"));
    EXPECT_EQ(DBHelper::CombinFileAbsolutePath(document(QStringLiteral("/elsewhere/b.pdf"), true)),
              QStringLiteral("/elsewhere/b.pdf"));
    DBFileInfo withThumb = document(QStringLiteral("/Documents/c.pdf"));
    withThumb.setThumbPath(QStringLiteral("/Thumbnail/0123"));
    EXPECT_EQ(DBHelper::CombinThumbAbsolutePath(withThumb), library + QStringLiteral("/Thumbnail/0123"));
    EXPECT_EQ(DBHelper::CombinThumbAbsoluteByString(QStringLiteral("/Thumbnail/x")), library + QStringLiteral("/Thumbnail/x"));

    // Never the library folder itself: a caller deleting "the document's file" would take it all.
    EXPECT_TRUE(DBHelper::CombinFileAbsolutePath(document(QString())).isEmpty());
    EXPECT_TRUE(DBHelper::CombinFileAbsolutePath(DBFileInfo()).isEmpty());
    EXPECT_TRUE(DBHelper::CombinThumbAbsolutePath(document(QStringLiteral("/Documents/d.pdf"))).isEmpty());
    EXPECT_TRUE(DBHelper::CombinFileAbsoluteByString(QStringLiteral("/../outside")).isEmpty());
}

TEST_F(DBHelperTest, TagsAreWrittenIntoTheFileLeavingTrashedOnesOut)
{
    const QString relative = QStringLiteral("/Documents/tagged.pdf");
    const QString path = library + relative;
    testsupport::writeFile(path, "pdf");
    ASSERT_TRUE(XAttr::set(path, QStringLiteral("com.example.unrelated"), "keep"));

    DBFileInfo file = document(relative);
    DBTag work = engine->createTagByContext(QStringLiteral("Work"));
    DBTag old = engine->createTagByContext(QStringLiteral("Old"));
    old.setIsTrash(true);
    file.setTags({work, old});
    DBHelper::writeMetaDataInfoByTags(file);
    EXPECT_EQ(TagMeta::getUserTags(path).value_or(QStringList{QStringLiteral("<none>")}), QStringList{QStringLiteral("Work")});
    EXPECT_EQ(finderTags(path), QStringList{QStringLiteral("Work")});
    EXPECT_EQ(XAttr::get(path, QStringLiteral("com.example.unrelated")).value_or(QByteArray()), QByteArray("keep"));

    // Only a trashed tag left: both lists become empty.
    file.removeTagsObject(work);
    DBHelper::writeMetaDataInfoByTags(file);
    EXPECT_EQ(TagMeta::getUserTags(path).value_or(QStringList{QStringLiteral("<none>")}), QStringList());
    EXPECT_EQ(finderTags(path), QStringList());
}

TEST_F(DBHelperTest, TagWriteBackOfMissingFilesAndRefusingFileSystemsChangesNothing)
{
    DBFileInfo gone = document(QStringLiteral("/Documents/gone.pdf"));
    gone.addTagsObject(engine->createTagByContext(QStringLiteral("t")));
    DBHelper::writeMetaDataInfoByTags(gone);
    EXPECT_FALSE(XAttr::get(library + QStringLiteral("/Documents/gone.pdf"), kFinderTagsAttribute).has_value());
    DBHelper::writeMetaDataInfoByTags(DBFileInfo());

    const QString path = library + QStringLiteral("/Documents/here.pdf");
    testsupport::writeFile(path, "pdf");
    DBFileInfo here = document(QStringLiteral("/Documents/here.pdf"));
    here.addTagsObject(engine->createTagByContext(QStringLiteral("u")));
    fake->setFailure(ENOTSUP);
    DBHelper::writeMetaDataInfoByTags(here); // logged, not fatal
    fake->setFailure(0);
    EXPECT_FALSE(XAttr::get(path, kFinderTagsAttribute).has_value());
}

TEST(DBHelperFolderID, OneFormulaForFilesAndFolders)
{
    const quint64 folder = platform::stringHash(QStringLiteral("/home/ann/papers"));
    EXPECT_EQ(DBHelper::folderIDForFolderPath(QStringLiteral("/home/Ann/Papers")), folder);
    EXPECT_EQ(DBHelper::folderIDForFolderPath(QStringLiteral("/home/ann/papers/")), folder);
    EXPECT_EQ(DBHelper::folderIDForFilePath(QStringLiteral("/home/Ann/Papers/Report.pdf")), folder);
    EXPECT_EQ(DBHelper::folderIDForFilePath(QStringLiteral("/home/ann/papers/Bundle.pages/")), folder);
    EXPECT_NE(DBHelper::folderIDForFilePath(QStringLiteral("/home/ann/papers/sub/a.pdf")), folder);
    EXPECT_EQ(DBHelper::folderIDForFilePath(QStringLiteral("/a.pdf")), platform::stringHash(QStringLiteral("/")));
    EXPECT_EQ(DBHelper::folderIDForFolderPath(QStringLiteral("/")), platform::stringHash(QStringLiteral("/")));
}
