// Documents made from import records: metadata, tag and author linking, index-folder records,
// and the fetch variants.
#include "StoreEngineFixture.h"

#include "Platform/Foundation/FileManager.h"
#include "Store/DBDocumentIndex.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBHelper.h"
#include "Store/DBIndexFolderMetadata.h"

using namespace storeengine;
namespace Key = ImportRecordKey;

namespace {

ImportRecord record(const QString& path, const QStringList& tags = {}, const QStringList& authors = {})
{
    ImportRecord r{{Key::Path, path}};
    if (!tags.isEmpty())
        r.insert(Key::Tags, tags);
    if (!authors.isEmpty())
        r.insert(Key::Authors, authors);
    return r;
}

} // namespace

TEST_F(StoreEngineTest, InsertedDocumentsCarryTheirRecordAndOriginal)
{
    open();
    const QString original = library + QStringLiteral("/../Report.Final.PDF");
    testsupport::writeFile(original, QByteArray(1234, 'x'));
    ImportRecord full{{Key::Path, QStringLiteral("/Documents/Jan 01, 2014/Report.Final.PDF")},
                      {Key::Thumb, QStringLiteral("/Thumbnail/abc")},
                      {Key::Original, original},
                      {Key::Rate, 4},
                      {Key::FinderLabel, 6},
                      {Key::Comment, QStringLiteral("note")},
                      {Key::IsIndex, false}};
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    DBNode node = engine->createDBNode();
    DBRecent recent = DBRecord::insertNewObject<DBRecent>(engine->context());
    QList<DBTag> created{engine->createTagByContext(QStringLiteral("stale"))};
    auto files = engine->insertRecords({full, record(QStringLiteral("/Documents/x"))}, node, recent, &created);
    ASSERT_EQ(files.size(), 2);
    EXPECT_TRUE(created.isEmpty()); // replaced, not appended to

    reopen();
    auto stored = all<DBFileInfo>(QStringLiteral("thumbPath == %@"), {QStringLiteral("/Thumbnail/abc")});
    ASSERT_EQ(stored.size(), 1);
    const DBFileInfo file = stored[0];
    EXPECT_EQ(file.title(), QStringLiteral("Report.Final"));
    EXPECT_EQ(file.pathExtension(), QStringLiteral("pdf"));
    EXPECT_FALSE(file.isIndex());
    EXPECT_FALSE(file.isTrash());
    EXPECT_FALSE(file.isNeedDelete());
    const DBFileInfoMetadata meta = file.metadata();
    EXPECT_EQ(meta.fileSize(), 1234);
    EXPECT_EQ(meta.rate(), 4);
    EXPECT_EQ(meta.label(), 6);
    EXPECT_EQ(meta.comment(), QStringLiteral("note"));
    EXPECT_EQ(meta.from(), original);
    EXPECT_TRUE(meta.dateModified().isValid());
    EXPECT_GE(meta.dateImported(), before);
    EXPECT_EQ(file.documentIndex().skDocumentID(), DBDocumentIndex::kWaitingForIndex);
    EXPECT_EQ(file.node().nodeID(), all<DBNode>()[0].nodeID());
    EXPECT_EQ(all<DBNode>()[0].files().size(), 2);
    EXPECT_EQ(all<DBRecent>()[0].fileInfos().size(), 2);

    // A record without an original is still inserted, without dates and size; no extension,
    // no rate given: the model defaults.
    auto bare = all<DBFileInfo>(QStringLiteral("path == %@"), {QStringLiteral("/Documents/x")});
    ASSERT_EQ(bare.size(), 1);
    EXPECT_EQ(bare[0].title(), QStringLiteral("x"));
    EXPECT_EQ(bare[0].pathExtension(), QString());
    EXPECT_FALSE(bare[0].metadata().dateModified().isValid());
    EXPECT_EQ(bare[0].metadata().rate(), 0);
    EXPECT_TRUE(bare[0].metadata().from().isNull());
}

TEST_F(StoreEngineTest, MailMessagesAreTitledByTheirOriginal)
{
    open();
    const QString original = library + QStringLiteral("/../Meeting notes.EML");
    testsupport::writeFile(original, "From: a@b\r\n\r\nbody");
    auto files = engine->insertRecords({{{Key::Path, QStringLiteral("/Documents/d/12345.EML")}, {Key::Original, original}}});
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files[0].pathExtension(), QStringLiteral("eml"));
    EXPECT_EQ(files[0].title(), QStringLiteral("Meeting notes"));
}

TEST_F(StoreEngineTest, TagsLinkByWholeNameIgnoringCaseAndAccents)
{
    open();
    QList<DBTag> created;
    engine->insertRecords({record(QStringLiteral("/1.pdf"), {QStringLiteral("Café"), QStringLiteral("drafts"),
                                                             QStringLiteral(""), QStringLiteral("a\\b")}),
                           record(QStringLiteral("/2.pdf"), {QStringLiteral("CAFE"), QStringLiteral("Café")})},
                          {}, {}, &created);
    // The second record found the first's tag among the unsaved inserts.
    EXPECT_EQ(namesOf(created), (QStringList{QStringLiteral("Café"), QStringLiteral("a\\b"), QStringLiteral("drafts")}));
    reopen();

    // Wildcards and backslashes are ordinary characters.
    created.clear();
    auto files = engine->insertRecords({record(QStringLiteral("/3.pdf"), {QStringLiteral("draft?"), QStringLiteral("a*"),
                                                                          QStringLiteral("A\\B"), QStringLiteral("DRAFTS")})},
                                       {}, {}, &created);
    EXPECT_EQ(namesOf(created), (QStringList{QStringLiteral("a*"), QStringLiteral("draft?")}));
    EXPECT_EQ(namesOf(files[0].tags()),
              (QStringList{QStringLiteral("a*"), QStringLiteral("a\\b"), QStringLiteral("draft?"), QStringLiteral("drafts")}));
    EXPECT_EQ(all<DBTag>(QStringLiteral("name == %@"), {QStringLiteral("Café")})[0].fileInfos().size(), 2);

    // A tag in the trash is not linked again: a new one is made.
    all<DBTag>(QStringLiteral("name == %@"), {QStringLiteral("drafts")})[0].setIsTrash(true);
    engine->insertRecords({record(QStringLiteral("/4.pdf"), {QStringLiteral("drafts")})}, {}, {}, &created);
    ASSERT_EQ(created.size(), 1);
    EXPECT_FALSE(created[0].isTrash());
    EXPECT_EQ(all<DBTag>(QStringLiteral("name ==[c] %@"), {QStringLiteral("drafts")}).size(), 2);
}

TEST_F(StoreEngineTest, AuthorsLinkByWholeNameTrashedOnesIncluded)
{
    open();
    engine->insertRecords({record(QStringLiteral("/1.pdf"), {}, {QStringLiteral("Ann\\Lee"), QStringLiteral("Bob")})});
    all<DBAuthor>(QStringLiteral("name == %@"), {QStringLiteral("Bob")})[0].setIsTrash(true);
    reopen();
    auto files = engine->insertRecords(
        {record(QStringLiteral("/2.pdf"), {}, {QStringLiteral("ann\\lee"), QStringLiteral("BOB"), QStringLiteral("B*")})});
    EXPECT_EQ(namesOf(all<DBAuthor>()), (QStringList{QStringLiteral("Ann\\Lee"), QStringLiteral("B*"), QStringLiteral("Bob")}));
    EXPECT_EQ(namesOf(files[0].authors()), (QStringList{QStringLiteral("Ann\\Lee"), QStringLiteral("B*"), QStringLiteral("Bob")}));
}

TEST_F(StoreEngineTest, IndexFolderRecordsDescribeThemselvesForTheFolderStore)
{
    open();
    const QString folder = testsupport::makeTempDir(QStringLiteral("Watched"));
    const QString original = folder + QStringLiteral("/Paper.pdf");
    testsupport::writeFile(original, "pdf");
    QList<DBTag> created{engine->createTagByContext(QStringLiteral("old"))};
    auto described = engine->insertIndexFolderRecords(
        {{{Key::Path, original}, {Key::Original, original}, {Key::IsIndex, true}, {Key::FileID, 42},
          {Key::Tags, QStringList{QStringLiteral("t")}}},
         {{Key::Path, folder + QStringLiteral("/gone.pdf")}, {Key::Original, folder + QStringLiteral("/gone.pdf")},
          {Key::IsIndex, true}}},
        {}, created);
    ASSERT_EQ(described.size(), 2);
    EXPECT_EQ(namesOf(created), QStringList{QStringLiteral("t")});

    EXPECT_EQ(described[0].value(IndexFolderRecordKey::ID).toInt(), 42);
    EXPECT_EQ(described[0].value(IndexFolderRecordKey::Path).toString(), original);
    EXPECT_TRUE(described[0].value(IndexFolderRecordKey::Date).toDateTime().isValid());
    // Without a FileID or a readable file those keys are left out rather than made up.
    EXPECT_FALSE(described[1].contains(IndexFolderRecordKey::ID));
    EXPECT_FALSE(described[1].contains(IndexFolderRecordKey::Date));
    EXPECT_NE(described[0].value(IndexFolderRecordKey::UUID).toULongLong(),
              described[1].value(IndexFolderRecordKey::UUID).toULongLong());

    reopen();
    auto files = all<DBFileInfo>(QStringLiteral("path == %@"), {original});
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files[0].isIndex());
    const DBIndexFolderMetadata meta = files[0].indexFolderMetadata();
    EXPECT_EQ(meta.uuid(), described[0].value(IndexFolderRecordKey::UUID).toULongLong());
    EXPECT_EQ(meta.folderID(), DBHelper::folderIDForFolderPath(folder));
    EXPECT_EQ(meta.folderID(), DBHelper::folderIDForFolderPath(folder.toUpper() + QStringLiteral("/")));
    // The indexed lookup other modules run.
    EXPECT_EQ(engine->countByObject(QStringLiteral("DBFileInfo"),
                                    predicate(QStringLiteral("indexFolderMetadata.folderID == %@"),
                                              {QVariant::fromValue(meta.folderID())})),
              2);
    EXPECT_EQ(files[0].documentIndex().skDocumentID(), DBDocumentIndex::kWaitingForIndex);
}

TEST_F(StoreEngineTest, FetchVariants)
{
    open();
    for (const char* name : {"b", "c", "a"})
        engine->createTagByContext(QString::fromLatin1(name));
    auto limited = engine->queryRecordByName(QStringLiteral("DBTag"), {}, platform::SortDescriptor(QStringLiteral("name"), false), 2, {});
    ASSERT_TRUE(limited);
    EXPECT_EQ(namesOf(DBRecord::recordsOf<DBTag>(*limited)), (QStringList{QStringLiteral("b"), QStringLiteral("c")}));
    auto ids = engine->queryRecordByName(QStringLiteral("DBTag"), predicate(QStringLiteral("name != 'a'")),
                                         platform::FetchRequest::ResultType::ManagedObjectID);
    ASSERT_TRUE(ids);
    ASSERT_EQ(ids->size(), 2);
    EXPECT_TRUE(ids->first().canConvert<platform::ObjectID>());
    EXPECT_FALSE(engine->queryRecordByName(QStringLiteral("NoSuchEntity")).has_value());
    EXPECT_EQ(engine->countByObject(QStringLiteral("NoSuchEntity")), DataBaseEngine::kCountNotFound);
}
