#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Foundation/XAttr.h"
#include "Support/TestSupport.h"
#include "TagMeta/TagMeta.h"
#include "TagMeta/TagMetaBackup.h"
#include "Utilities/DateText.h"
#include "Utilities/FileHelpers.h"
#include "Utilities/FinderInfo.h"
#include "Utilities/FlagNames.h"
#include "Utilities/HelperServices.h"
#include "Utilities/SystemHelpers.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTimeZone>
#include <gtest/gtest.h>
#include <cerrno>
#include <sys/stat.h>

namespace {

// Every test gets in-memory extended attributes, so results never depend on the file system.
class FileHelpersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        backend = std::make_shared<platform::FakeXAttrBackend>();
        previous = platform::XAttr::setBackend(backend);
        savedServices = HelperServices::replace(HelperServices::current());
        dir = testsupport::makeTempDir();
        // Tag writes queue a backup; keep it from running during the test.
        TagMetaBackup::resetForTesting();
        TagMetaBackup::setBackupFolderForTesting(dir + "/backups.noindex");
        TagMetaBackup::setDelaysForTesting(std::chrono::hours(1), std::chrono::hours(1));
    }
    void TearDown() override
    {
        TagMetaBackup::resetForTesting();
        TagMetaBackup::setBackupFolderForTesting(QString());
        HelperServices::replace(savedServices);
        platform::XAttr::setBackend(previous);
    }

    QString file(const QString& name, const QByteArray& content = "x")
    {
        testsupport::writeFile(dir + "/" + name, content);
        return dir + "/" + name;
    }
    static void setFinderTags(const QString& path, const QVariantList& tags)
    {
        const auto bytes = platform::PropertyList::write(tags, platform::PlistFormat::Binary);
        ASSERT_TRUE(bytes.has_value());
        ASSERT_TRUE(platform::XAttr::set(path, kFinderTagsAttribute, *bytes).has_value());
    }
    static void setTagMetaTags(const QString& path, const QStringList& tags)
    {
        ASSERT_TRUE(TagMeta::setUserTags(tags, path).has_value());
    }
    static void setFinderFlags(const QString& path, quint16 flags)
    {
        FinderInfo info;
        info.setFlags(flags);
        ASSERT_TRUE(info.write(path).has_value());
    }

    std::shared_ptr<platform::FakeXAttrBackend> backend;
    std::shared_ptr<platform::XAttrBackend> previous;
    HelperServices savedServices;
    QString dir;
};

} // namespace

TEST_F(FileHelpersTest, TagMetaAndFinderTagsMergeOnceEach)
{
    const QString path = file("doc.pdf");
    setTagMetaTags(path, {"Work", "Home"});
    setFinderTags(path, {"Work\n6", QVariant(7), "Travel\n2", "Home", "Line\r\nBreak"});
    EXPECT_EQ(userTagsOfFile(path), (QStringList{"Work", "Home", "Travel", "Line"}));
    EXPECT_EQ(finderTagsOfFile(path), (QStringList{"Work", "Travel", "Home", "Line"}));
}

TEST_F(FileHelpersTest, DamagedOrMissingTagAttributesAddNothing)
{
    const QString path = file("doc.pdf");
    EXPECT_TRUE(userTagsOfFile(path).isEmpty());
    EXPECT_FALSE(finderTagsOfFile(path).has_value());
    ASSERT_TRUE(platform::XAttr::set(path, kFinderTagsAttribute, "not a plist").has_value());
    setTagMetaTags(path, {"Kept"});
    EXPECT_EQ(userTagsOfFile(path), QStringList{"Kept"});
    EXPECT_FALSE(finderTagsOfFile(path).has_value());
    EXPECT_TRUE(userTagsOfFile(dir + "/missing.pdf").isEmpty());
    EXPECT_FALSE(finderTagsOfFile(dir + "/missing.pdf").has_value());
    // Tags differing in case are different tags here.
    setFinderTags(path, {"kept"});
    EXPECT_EQ(userTagsOfFile(path), (QStringList{"Kept", "kept"}));
}

TEST_F(FileHelpersTest, FinderFlagsGiveAliasBundleInvisibleAndLabel)
{
    const QString plain = file("plain.pdf");
    EXPECT_FALSE(isAliasFile(plain));
    EXPECT_FALSE(hasBundleFlag(plain));
    EXPECT_FALSE(isInvisibleFile(plain));
    EXPECT_EQ(finderLabelOfFile(plain), 0);

    const QString flagged = file("flagged.pdf");
    setFinderFlags(flagged, FinderInfo::kIsAlias | FinderInfo::kHasBundle | FinderInfo::kIsInvisible | (5 << 1));
    EXPECT_TRUE(isAliasFile(flagged));
    EXPECT_TRUE(hasBundleFlag(flagged));
    EXPECT_TRUE(isInvisibleFile(flagged));
    EXPECT_EQ(finderLabelOfFile(flagged), 5);

    EXPECT_TRUE(isInvisibleFile(file(".hidden.pdf")));
    EXPECT_FALSE(isInvisibleFile(dir + "/.missing"));
    EXPECT_FALSE(isAliasFile(dir + "/missing.pdf"));
    EXPECT_EQ(finderLabelOfFile(dir + "/missing.pdf"), 0);
    EXPECT_EQ(finderLabelOfFile(QString()), 0);
}

TEST_F(FileHelpersTest, UnreadableAttributesAreNeutral)
{
    const QString path = file("doc.pdf");
    setFinderFlags(path, FinderInfo::kIsAlias);
    backend->setFailure(ENOTSUP);
    EXPECT_FALSE(isAliasFile(path));
    EXPECT_TRUE(userTagsOfFile(path).isEmpty());
    backend->setFailure(EIO);
    EXPECT_FALSE(isAliasFile(path));
    EXPECT_FALSE(finderTagsOfFile(path).has_value());
    backend->setFailure(0);
}

TEST_F(FileHelpersTest, DisplayNameFallsBackToNameLessExtension)
{
    EXPECT_EQ(displayNameOfFile(file("report.final.pdf")), "report.final");
    EXPECT_EQ(displayNameOfFile(file(".profile")), ".profile");
    QDir().mkpath(dir + "/Deck.key");
    EXPECT_EQ(displayNameOfFile(dir + "/Deck.key/"), "Deck");
    EXPECT_TRUE(displayNameOfFile(dir + "/missing.pdf").isNull());

    HelperServices fake = HelperServices::current();
    fake.displayName = [](const QString&) { return QStringLiteral("Given Name"); };
    HelperServices::replace(fake);
    EXPECT_EQ(displayNameOfFile(dir + "/report.final.pdf"), "Given Name");
}

TEST_F(FileHelpersTest, ApplicationsLeaveOutTheDefaultAndNeedOne)
{
    const QString path = file("doc.pdf");
    HelperServices fake = HelperServices::current();
    QStringList offered;
    fake.applications = [&](const QString&) { return offered; };
    HelperServices::replace(fake);

    QString defaultApplication = "untouched";
    EXPECT_TRUE(applicationsForFile(path, &defaultApplication).isEmpty());
    EXPECT_EQ(defaultApplication, "untouched");

    offered = {"/apps/viewer.desktop", "/apps/editor.desktop", "/apps/viewer.desktop"};
    EXPECT_EQ(applicationsForFile(path, &defaultApplication), QStringList{"/apps/editor.desktop"});
    EXPECT_EQ(defaultApplication, "/apps/viewer.desktop");
    EXPECT_TRUE(applicationsForFile(QString()).isEmpty());
}

TEST_F(FileHelpersTest, PackageKindsByTypeElseExtension)
{
    QDir().mkpath(dir + "/Notes.RTFD");
    QDir().mkpath(dir + "/Deck.key");
    EXPECT_TRUE(isRTFDPackage(dir + "/Notes.RTFD"));
    EXPECT_TRUE(isRTFDPackage(dir + "/Notes.RTFD/"));
    EXPECT_TRUE(isIWorkDocument(dir + "/Deck.key"));
    EXPECT_FALSE(isIWorkDocument(dir + "/Missing.key"));
    EXPECT_FALSE(isRTFDPackage(file("notes.rtf")));

    HelperServices fake = HelperServices::current();
    fake.contentType = [](const QString& path) {
        return path.endsWith(".key") ? QStringLiteral("public.zip-archive") : QString();
    };
    HelperServices::replace(fake);
    // A known type decides; the extension is only asked when the type is unknown.
    EXPECT_FALSE(isIWorkDocument(dir + "/Deck.key"));
    EXPECT_TRUE(isRTFDPackage(dir + "/Notes.RTFD"));
}

TEST_F(FileHelpersTest, FileAttributesAndMacDates)
{
    const QString path = file("sized.pdf", QByteArray(1234, 'a'));
    EXPECT_EQ(fileAttributeForKey(path, FileAttributeKey::Size).toLongLong(), 1234);
    EXPECT_EQ(fileAttributeForKey(path, FileAttributeKey::Type).toString(), FileAttributeKey::TypeRegular);
    EXPECT_EQ(fileAttributeForKey(dir, FileAttributeKey::Type).toString(), FileAttributeKey::TypeDirectory);
    EXPECT_FALSE(fileAttributeForKey(path, "NoSuchKey").isValid());
    EXPECT_FALSE(fileAttributeForKey(dir + "/missing", FileAttributeKey::Size).isValid());

    EXPECT_FALSE(dateFromUTCDateTime({}).has_value());
    const auto day = dateFromUTCDateTime({0, 86400, 0x8000});
    ASSERT_TRUE(day.has_value());
    EXPECT_EQ(*day, QDateTime(QDate(1904, 1, 2), QTime(0, 0, 0, 500), QTimeZone::utc()));
    // 48-bit seconds reach past 2040, where 32 bits would wrap.
    const auto late = dateFromUTCDateTime({1, 0, 0});
    ASSERT_TRUE(late.has_value());
    EXPECT_EQ(late->date().year(), 2040);
}

TEST_F(FileHelpersTest, FlagNamesFollowTheLibraryTable)
{
    resetFlagNameCacheForTesting();
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    const QString library = testsupport::makeTempDir("library");
    defaults.setString(library, "String_Library_Path");

    // No table yet: everything reads "None" and renaming changes nothing.
    EXPECT_EQ(flagNameForIndex(2), "None");
    setFlagNameForIndex(2, "Red");
    EXPECT_FALSE(QFile::exists(library + "/flagconfig.plist"));

    // A table put in place later in the run is found at the next use.
    const QVariantMap table{{"0", QVariantMap{{"Name", "Zero"}}},
                            {"2", QVariantMap{{"Name", "Green"}, {"Color", "00FF00"}}},
                            {"3", QVariantMap{{"Color", "0000FF"}}}};
    ASSERT_TRUE(platform::PropertyList::writeFile(table, library + "/flagconfig.plist", platform::PlistFormat::Xml));
    EXPECT_EQ(flagNameForIndex(0), "None");
    EXPECT_EQ(flagNameForIndex(2), "Green");
    EXPECT_EQ(flagNameForIndex(3), "None");
    EXPECT_EQ(flagNameForIndex(9), "None");

    setFlagNameForIndex(2, "Grass");
    setFlagNameForIndex(9, "New");
    setFlagNameForIndex(0, "Never");
    EXPECT_EQ(flagNameForIndex(2), "Grass");
    EXPECT_EQ(flagNameForIndex(9), "New");
    const QVariantMap stored = platform::PropertyList::readFile(library + "/flagconfig.plist")->toMap();
    EXPECT_EQ(stored.value("2").toMap().value("Name"), "Grass");
    EXPECT_EQ(stored.value("2").toMap().value("Color"), "00FF00");
    EXPECT_EQ(stored.value("9").toMap().value("Name"), "New");
    EXPECT_EQ(stored.value("0").toMap().value("Name"), "Zero");

    // A library folder that cannot be written keeps the cache and the file in step.
    resetFlagNameCacheForTesting();
    const QString gone = testsupport::makeTempDir("gone");
    ASSERT_TRUE(platform::PropertyList::writeFile(table, gone + "/flagconfig.plist", platform::PlistFormat::Xml));
    defaults.setString(gone, "String_Library_Path");
    EXPECT_EQ(flagNameForIndex(2), "Green");
    QDir(gone).removeRecursively();
    setFlagNameForIndex(2, "Lost");
    EXPECT_EQ(flagNameForIndex(2), "Green");

    resetFlagNameCacheForTesting();
    defaults.removeObjectForKey("String_Library_Path");
}

TEST(SystemHelpersTest, CrcMatchesTheStandardCheckValue)
{
    EXPECT_EQ(crc32OfBytes("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32OfBytes("", 0), 0u);
}

TEST(DateTextTest, FixedFormsWhateverTheLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QDateTime local(QDate(2014, 1, 1), QTime(10, 0), Qt::LocalTime);
    EXPECT_EQ(calendarDayText(local), "Jan 01, 2014");
    EXPECT_EQ(calendarDayText(QDateTime(QDate(2023, 12, 9), QTime(23, 0), Qt::LocalTime)), "Dec 09, 2023");
    EXPECT_EQ(calendarDayText(QDateTime()), QString());

    const QDateTime offset(QDate(2014, 1, 1), QTime(1, 30, 5, 900), QTimeZone(2 * 3600));
    EXPECT_EQ(dateDescriptionText(offset), "2013-12-31 23:30:05 +0000");
    EXPECT_EQ(dateDescriptionText(QDateTime()), QString());
    QLocale::setDefault(saved);
}
