// The record classes over the library model: defaults, inverses, sub-entities, nil values.
#include "StoreEngineFixture.h"

#include "Store/DBDocumentIndex.h"
#include "Store/DBFavorite.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBIndexFolder.h"
#include "Store/DBIndexFolderMetadata.h"
#include "Store/DBSmartFolder.h"

using namespace storeengine;

TEST_F(StoreEngineTest, NewRecordsShowInTheListingQueriesAtOnce)
{
    open();
    const auto context = engine->context();
    DBFileInfo file = DBRecord::insertNewObject<DBFileInfo>(context);
    auto tag = engine->createTagByContext(QStringLiteral("t"));
    auto author = engine->createAuthorByContext(QStringLiteral("a"));
    auto group = engine->createTagGroup(QStringLiteral("g"));
    auto favourite = DBRecord::insertNewObject<DBFavorite>(context);
    auto index = DBRecord::insertNewObject<DBDocumentIndex>(context);
    EXPECT_FALSE(file.isTrash());
    EXPECT_FALSE(file.isNeedDelete());
    EXPECT_FALSE(tag.isTrash());
    EXPECT_FALSE(author.isTrash());
    EXPECT_FALSE(group.isTrash());
    EXPECT_FALSE(favourite.isNeedDelete());
    EXPECT_EQ(index.skDocumentID(), DBDocumentIndex::kWaitingForIndex);

    index.setFileInfo(file);
    for (const char* query : {"isTrash == NO", "isNeedDelete == NO"})
        EXPECT_EQ(engine->countByObject(QStringLiteral("DBFileInfo"), predicate(QString::fromLatin1(query))), 1) << query;
    EXPECT_EQ(engine->countByObject(QStringLiteral("DBAuthor"), predicate(QStringLiteral("isTrash == NO"))), 1);
    EXPECT_EQ(engine->countByObject(QStringLiteral("DBFavorite"), predicate(QStringLiteral("isNeedDelete == NO"))), 1);
    EXPECT_EQ(engine->countByObject(QStringLiteral("DBDocumentIndex"),
                                    predicate(QStringLiteral("skDocumentID == -1 AND fileInfo.isTrash == NO"))),
              1);
}

TEST_F(StoreEngineTest, RelationshipsKeepTheirInverses)
{
    open();
    const auto context = engine->context();
    DBFileInfo file = DBRecord::insertNewObject<DBFileInfo>(context);
    DBTag work = engine->createTagByContext(QStringLiteral("work"));
    DBTag home = engine->createTagByContext(QStringLiteral("home"));
    ASSERT_TRUE(file.addTagsObject(work));
    ASSERT_TRUE(home.addFileInfosObject(file));
    EXPECT_EQ(namesOf(file.tags()), (QStringList{QStringLiteral("home"), QStringLiteral("work")}));
    EXPECT_EQ(work.fileInfos(), QList<DBFileInfo>{file});

    ASSERT_TRUE(file.removeTagsObject(work));
    EXPECT_TRUE(work.fileInfos().isEmpty());
    ASSERT_TRUE(home.removeFileInfosObject(file));
    EXPECT_TRUE(file.tags().isEmpty());

    // Replacing a set, and clearing it from the other side.
    ASSERT_TRUE(file.setTags({work, home}));
    EXPECT_EQ(home.fileInfos().size(), 1);
    ASSERT_TRUE(work.setFileInfos({}));
    EXPECT_EQ(namesOf(file.tags()), QStringList{QStringLiteral("home")});

    // Records of another context are refused, not linked.
    auto other = platform::ManagedObjectContext::create(platform::ConcurrencyType::Confinement, engine->coordinator());
    DBTag foreign = DBRecord::insertNewObject<DBTag>(other);
    EXPECT_FALSE(file.addTagsObject(foreign));
    EXPECT_EQ(namesOf(file.tags()), QStringList{QStringLiteral("home")});
}

TEST_F(StoreEngineTest, SmartFoldersAreNodesButNotTheOtherWayRound)
{
    open();
    const auto context = engine->context();
    DBSmartFolder smart = DBRecord::insertNewObject<DBSmartFolder>(context);
    smart.setType(DBNode::SmartFolder);
    smart.setData(QByteArray("rules"));
    DBNode plain = engine->createDBNode();
    plain.setType(DBNode::Folder);
    reopen();

    const QList<DBNode> nodes = all<DBNode>(QStringLiteral("type == 3"));
    ASSERT_EQ(nodes.size(), 1);
    EXPECT_EQ(nodes[0].valueForKey(QStringLiteral("data")).toByteArray(), QByteArray("rules"));
    EXPECT_EQ(DBSmartFolder(nodes[0].object()).data(), QByteArray("rules"));
    EXPECT_EQ(all<DBNode>().size(), 2);
    EXPECT_EQ(all<DBSmartFolder>().size(), 1);
    EXPECT_TRUE(DBSmartFolder(all<DBNode>(QStringLiteral("type == 2"))[0].object()).isNull());
    // A view of the wrong entity is nil.
    EXPECT_TRUE(DBTag(nodes[0].object()).isNull());
}

TEST_F(StoreEngineTest, FavouritesAndIndexFoldersSurviveReopening)
{
    open();
    DBTag tag = engine->createTagByContext(QStringLiteral("t"));
    ASSERT_TRUE(engine->context()->obtainPermanentIDsForObjects({tag.object()}));
    const QString uri = tag.URIString();
    auto favourite = DBRecord::insertNewObject<DBFavorite>(engine->context());
    favourite.setDataType(DBFavorite::kDataTypeTag);
    favourite.setDataURI(uri);
    favourite.setSortID(7);
    auto folder = DBRecord::insertNewObject<DBIndexFolder>(engine->context());
    folder.setPath(QStringLiteral("/home/u/Papers"));
    folder.setType(QStringLiteral("Local"));
    folder.setData(QByteArray("\0\1", 2));
    reopen();

    auto favourites = all<DBFavorite>(QStringLiteral("isNeedDelete == NO && dataURI like %@"), {uri});
    ASSERT_EQ(favourites.size(), 1);
    EXPECT_EQ(favourites[0].dataType(), DBFavorite::kDataTypeTag);
    EXPECT_EQ(favourites[0].sortID(), 7);
    auto id = engine->coordinator()->managedObjectIDForURIRepresentation(favourites[0].dataURI());
    EXPECT_EQ(DBTag(engine->context()->existingObjectWithID(id)).name(), QStringLiteral("t"));
    auto folders = all<DBIndexFolder>();
    ASSERT_EQ(folders.size(), 1);
    EXPECT_EQ(folders[0].type(), QStringLiteral("Local"));
    EXPECT_EQ(folders[0].data(), QByteArray("\0\1", 2));
}

TEST_F(StoreEngineTest, NilAndEmptyValuesStoreNil)
{
    open();
    DBFileInfoMetadata meta = DBRecord::insertNewObject<DBFileInfoMetadata>(engine->context());
    meta.setComment(QStringLiteral("x"));
    meta.setComment(QString());
    EXPECT_FALSE(meta.valueForKey(QStringLiteral("comment")).isValid());
    meta.setComment(QStringLiteral(""));
    EXPECT_TRUE(meta.valueForKey(QStringLiteral("comment")).isValid());
    meta.setDateCreated(QDateTime());
    EXPECT_FALSE(meta.valueForKey(QStringLiteral("dateCreated")).isValid());
    const QDateTime local(QDate(2014, 1, 1), QTime(12, 0), Qt::OffsetFromUTC, 3600);
    meta.setDateCreated(local);
    EXPECT_EQ(meta.dateCreated(), local);
    EXPECT_EQ(meta.dateCreated().timeSpec(), Qt::UTC);
}
