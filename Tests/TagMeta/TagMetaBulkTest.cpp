#include "TagMetaFixture.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "TagMeta/TagMetaBackupOperation.h"
#include "TagMeta/TagMetaPrefs.h"
#include "TagMeta/TagMetaUpgradeOperation.h"

#include <QFile>

namespace {

class TagMetaBulkTest : public TagMetaFixture {
protected:
    void SetUp() override
    {
        TagMetaFixture::SetUp();
        token = platform::NotificationCenter::defaultCenter().addObserver(
            TagMetaBackupOperation::kDoneNotification,
            [this](const platform::Notification& note) { results.append(note.object.toMap()); });
        TagMetaBackup::setSingleFileSearchScopesForTesting({dir});
    }
    void TearDown() override
    {
        token.remove();
        TagMetaBackup::setSingleFileSearchScopesForTesting({});
        TagMetaFixture::TearDown();
    }

    platform::ObserverToken token;
    QList<QVariantMap> results;
};

class TagMetaPrefsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TagMetaPrefs::resetForTesting();
        TagMetaPrefs::sharedDomain().removeObjectForKey(TagMetaPrefs::kRecentTagsKey);
    }
    static void store(const QStringList& tags)
    {
        TagMetaPrefs::sharedDomain().setObject(QVariantList(tags.begin(), tags.end()), TagMetaPrefs::kRecentTagsKey);
    }
};

} // namespace

TEST_F(TagMetaBulkTest, SingleFileBackupRoundTripsAndASecondRequestIsBusy)
{
    const QString one = makeFile(QStringLiteral("docs/one.pdf"));
    const QString two = makeFile(QStringLiteral("docs/deeper/two.pdf"));
    makeFile(QStringLiteral("docs/untagged.pdf"));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("a")}, one));
    ASSERT_TRUE(TagMeta::setRating(2, two));
    const QString single = dir + QStringLiteral("/all.plist");

    TagMetaBackup::backupMetadataToSingleFile({}, single);
    TagMetaBackup::backupMetadataToSingleFile({}, single);
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0], (QVariantMap{{QStringLiteral("status"), QStringLiteral("busy")}}));
    ASSERT_TRUE(testsupport::spinUntil([&] { return results.size() == 2; }));
    EXPECT_EQ(results[1].value(QStringLiteral("dictCount")).toInt(), 2);
    EXPECT_TRUE(results[1].value(QStringLiteral("worked")).toBool());
    EXPECT_TRUE(results[1].value(QStringLiteral("status")).toString().startsWith(QStringLiteral("2 backups done, file written to ~/")));

    for (const QString& file : {one, two}) {
        const QStringList attributes = platform::XAttr::list(file).value();
        for (const QString& name : attributes)
            platform::XAttr::remove(file, name);
    }
    TagMetaBackup::restoreMetadataFromSingleFile(single);
    ASSERT_TRUE(testsupport::spinUntil([&] { return results.size() == 3; }));
    EXPECT_EQ(results[2].value(QStringLiteral("dictCount")).toInt(), 2);
    EXPECT_EQ(TagMeta::getUserTags(one), QStringList{QStringLiteral("a")});
    EXPECT_EQ(TagMeta::getRating(two), 2.0);
}

TEST_F(TagMetaBulkTest, MissingOrDamagedSingleFileHasNoRestoreData)
{
    TagMetaBackup::restoreMetadataFromSingleFile(dir + QStringLiteral("/absent.plist"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return results.size() == 1; }));
    EXPECT_EQ(results[0], (QVariantMap{{QStringLiteral("status"), QStringLiteral("no restore data found")}}));

    const QString damaged = makeFile(QStringLiteral("damaged.plist"), "bplist00\xff\xff");
    TagMetaBackup::restoreMetadataFromSingleFile(damaged);
    ASSERT_TRUE(testsupport::spinUntil([&] { return results.size() == 2; }));
    EXPECT_EQ(results[1].value(QStringLiteral("status")).toString(), QStringLiteral("no restore data found"));
}

TEST_F(TagMetaBulkTest, KeysThatAreNoPresenceTestMakeTheQueryFail)
{
    TagMetaBackupOperation operation;
    operation.keysToSearch = {QStringLiteral("kMDItemTMUserTags) || (x = 1")};
    operation.singleFile = dir + QStringLiteral("/out.plist");
    operation.writeFile = true;
    operation.searchScopes = {dir};
    operation.writeSingleFile();
    EXPECT_EQ(operation.returnDict, (QVariantMap{{QStringLiteral("status"), QStringLiteral("spotlight failed")}}));
    EXPECT_FALSE(QFile::exists(operation.singleFile));
}

TEST_F(TagMetaBulkTest, UpgradeCopiesOldKeyOnlyTags)
{
    const QString legacy = makeFile(QStringLiteral("legacy.pdf"));
    const QString current = makeFile(QStringLiteral("current.pdf"));
    const QVariantList tags{QStringLiteral("old")};
    ASSERT_TRUE(TagMeta::setXAttr(tags, QStringLiteral("com.apple.metadata:kTMUserTags"), legacy));
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{QStringLiteral("new")}, current));
    ASSERT_TRUE(TagMeta::setXAttr(tags, QStringLiteral("com.apple.metadata:kTMUserTags"), current));

    TagMetaUpgradeOperation operation;
    operation.searchScopes = {dir};
    ASSERT_TRUE(operation.upgradeFoundItems());
    EXPECT_EQ(value(legacy, QStringLiteral("org.tagmetainfo:kMDItemTMUserTags")), QVariant(tags));
    EXPECT_EQ(value(legacy, QStringLiteral("com.apple.metadata:kMDItemTMUserTags")), QVariant(tags));
    EXPECT_EQ(value(legacy, QStringLiteral("org.tagmetainfo.time:kMDItemTMUserTags")).toDateTime(), this->current);
    EXPECT_EQ(TagMeta::getUserTags(current), QStringList{QStringLiteral("new")});

    operation.mdQueryString = QStringLiteral("kTMUserTags > 3");
    EXPECT_FALSE(operation.upgradeFoundItems());
}

TEST_F(TagMetaPrefsTest, AddedTagsGoFirstAndReplaceCaseVariants)
{
    store({QStringLiteral("b"), QStringLiteral("c")});
    TagMetaPrefs::updatePrefsRecentTags({QStringLiteral("a")}, {QStringLiteral("a"), QStringLiteral("B")});
    EXPECT_EQ(TagMetaPrefs::recentTags(), (QStringList{QStringLiteral("B"), QStringLiteral("c")}));

    // Nothing added: the stored list is left alone, even when it breaks the rules.
    store({QStringLiteral("x"), QStringLiteral("X")});
    TagMetaPrefs::updatePrefsRecentTags({QStringLiteral("a"), QStringLiteral("b")}, {QStringLiteral("b")});
    EXPECT_EQ(TagMetaPrefs::sharedDomain().arrayForKey(TagMetaPrefs::kRecentTagsKey).size(), 2);
}

TEST_F(TagMetaPrefsTest, ListIsCutAfter201Entries)
{
    QStringList many;
    for (int i = 0; i < 300; ++i)
        many.append(QStringLiteral("tag%1").arg(i));
    store(many);
    TagMetaPrefs::updatePrefsRecentTags({}, {QStringLiteral("fresh")});
    const QStringList recent = TagMetaPrefs::recentTags();
    ASSERT_EQ(recent.size(), 201);
    EXPECT_EQ(recent.first(), QStringLiteral("fresh"));
    EXPECT_EQ(recent.last(), QStringLiteral("tag199"));
}

TEST_F(TagMetaPrefsTest, AnotherProgramsChangesAreSeenOnUpdate)
{
    platform::UserDefaults otherProgram(TagMetaPrefs::kDomain, TagMetaPrefs::sharedDomain().filePath());
    otherProgram.setObject(QVariantList{QStringLiteral("theirs")}, TagMetaPrefs::kRecentTagsKey);
    TagMetaPrefs::updatePrefsRecentTags({}, {QStringLiteral("ours")});
    EXPECT_EQ(TagMetaPrefs::recentTags(), (QStringList{QStringLiteral("ours"), QStringLiteral("theirs")}));
    otherProgram.synchronize();
    EXPECT_EQ(otherProgram.arrayForKey(TagMetaPrefs::kRecentTagsKey).size(), 2);
}
