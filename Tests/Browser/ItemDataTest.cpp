// Display models: what makes two of them the same document, the tag and author texts, the
// date text around local midnight and summer-time changes, and SafeBox items.
#include "Browser/KPItemData.h"
#include "Browser/KPSafeBoxItemData.h"
#include "BrowserLibraryKit.h"
#include "Platform/Kit/Scheduler.h"
#include "Utilities/MD5Generator.h"

#include <QFileInfo>
#include <unordered_set>

using namespace browsertest;

namespace {

class ItemDataTest : public BrowserLibraryTest {};

struct CollidingHash {
    size_t operator()(const KPItemDataPtr&) const { return 42; }
};

} // namespace

TEST_F(ItemDataTest, ModelsOfOneRecordAreOneDocumentAndCollidingHashesNeverMerge)
{
    DBFileInfo report = addDocument(QStringLiteral("report"));
    DBFileInfo letter = addDocument(QStringLiteral("letter"));
    const KPItemDataPtr beforeSave = KPItemData::create(report);
    ASSERT_TRUE(save());
    ASSERT_FALSE(report.objectID().isTemporaryID());
    const KPItemDataPtr afterSave = KPItemData::create(report);
    const KPItemDataPtr other = KPItemData::create(letter);

    // A model made before the record's first save still matches one made after.
    EXPECT_TRUE(beforeSave->isEqual(*afterSave));
    EXPECT_EQ(beforeSave->dataHash(), afterSave->dataHash());
    EXPECT_EQ(afterSave->objectID(), report.objectID());
    EXPECT_FALSE(afterSave->isEqual(*other));

    KPItemDataSet set{beforeSave, afterSave, other};
    EXPECT_EQ(set.size(), 2u);
    // Even when every hash collides, two documents stay two.
    std::unordered_set<KPItemDataPtr, CollidingHash, KPItemDataEqual> colliding{afterSave, other, beforeSave};
    EXPECT_EQ(colliding.size(), 2u);

    // A model of no record is equal only to itself.
    const KPItemDataPtr nil1 = KPItemData::create(DBFileInfo());
    const KPItemDataPtr nil2 = KPItemData::create(DBFileInfo());
    EXPECT_FALSE(nil1->isEqual(*nil2));
    EXPECT_TRUE(nil1->objectID().isNull());
}

TEST_F(ItemDataTest, DisplayValuesTagsAndAuthors)
{
    DBFileInfo file = addDocument(DocumentFields{.title = QStringLiteral("minutes"),
                                               .tags = {QStringLiteral("tag10"), QStringLiteral("Tag2"),
                                                        QStringLiteral("tag1"), QStringLiteral("old")},
                                               .authors = {QStringLiteral("Zoe"), QStringLiteral("ann"),
                                                           QStringLiteral("Gone")},
                                               .size = 4096,
                                               .label = 3,
                                               .rate = 4});
    tagNamed(QStringLiteral("old")).setIsTrash(true);
    authorNamed(QStringLiteral("Gone")).setIsTrash(true);
    const KPItemDataPtr item = KPItemData::create(file);
    EXPECT_FALSE(item->bLoadedDataContent()); // nothing until something reads it
    EXPECT_EQ(item->title(), QStringLiteral("minutes"));
    EXPECT_TRUE(item->bLoadedDataContent());
    EXPECT_EQ(item->filePath(), library + QStringLiteral("/Documents/Jan 01, 2014/minutes.pdf"));
    EXPECT_EQ(item->thumbPath(), library + KPLibraryFileManager::thumbRelativePath(file.path()));
    EXPECT_EQ(item->fileSize(), 4096);
    EXPECT_EQ(item->label(), 3);
    EXPECT_EQ(item->rate(), 4);
    EXPECT_TRUE(item->dateModifiedString().isNull()); // no date, no text
    EXPECT_EQ(item->tagObjects(), (QStringList{QStringLiteral("tag1"), QStringLiteral("Tag2"), QStringLiteral("tag10")}));
    EXPECT_EQ(item->tagString(), QStringLiteral("tag1, Tag2, tag10"));
    EXPECT_EQ(item->authorString(), QStringLiteral("ann, Zoe"));
    EXPECT_EQ(item->previewItemURL().toLocalFile(), item->filePath());

    // After a tag edit the tag values are rebuilt on request.
    file.setTags({});
    item->reloadTagFromDBFileInfo();
    EXPECT_EQ(item->tagString(), QStringLiteral(""));
    EXPECT_TRUE(item->tagObjects().isEmpty());

    // Authors: "" (not nil) for a record without any.
    const KPItemDataPtr bare = KPItemData::create(addDocument(QStringLiteral("bare")));
    EXPECT_FALSE(bare->authorString().isNull());
    EXPECT_TRUE(bare->authorString().isEmpty());
    EXPECT_EQ(bare->authorObjects(), QStringList());
}

TEST_F(ItemDataTest, DateTextsFollowCalendarDaysInLocalTime)
{
    ScopedTimeZone zone("Europe/Berlin");
    const QDateTime noon = localDate(2024, 3, 15, 12, 0);
    EXPECT_EQ(KPItemData::dateTextForDate(localDate(2024, 3, 15, 0, 1), noon), QStringLiteral("Today 00:01"));
    EXPECT_EQ(KPItemData::dateTextForDate(localDate(2024, 3, 14, 23, 59), noon), QStringLiteral("Yesterday 23:59"));
    EXPECT_EQ(KPItemData::dateTextForDate(localDate(2024, 3, 13, 23, 59), noon), QStringLiteral("Mar 13, 2024 23:59"));
    EXPECT_TRUE(KPItemData::dateTextForDate(QDateTime(), noon).isNull());

    // Clocks went forward on 31 March (a 23-hour day): 86,400 s before today's midnight is
    // 30 March 23:00, which is two calendar days ago.
    const QDateTime afterSpring = localDate(2024, 4, 1, 0, 30);
    EXPECT_EQ(KPItemData::dateTextForDate(localDate(2024, 3, 30, 23, 30), afterSpring),
              QStringLiteral("Mar 30, 2024 23:30"));
    EXPECT_EQ(KPItemData::dateTextForDate(localDate(2024, 3, 31, 0, 10), afterSpring), QStringLiteral("Yesterday 00:10"));
    // Clocks went back on 27 October (a 25-hour day): its first hour is still yesterday.
    const QDateTime afterAutumn = localDate(2024, 10, 28, 10, 0);
    EXPECT_EQ(KPItemData::dateTextForDate(localDate(2024, 10, 27, 0, 30), afterAutumn), QStringLiteral("Yesterday 00:30"));

    // The day's bounds are reused between calls: a now past midnight moves them, and so does
    // another zone.
    const QDateTime lateEvening = localDate(2024, 5, 10, 23, 59, 50);
    EXPECT_EQ(KPItemData::dateTextForDate(localDate(2024, 5, 10, 8, 0), lateEvening), QStringLiteral("Today 08:00"));
    const QDateTime pastMidnight = lateEvening.addSecs(20);
    EXPECT_EQ(KPItemData::dateTextForDate(localDate(2024, 5, 10, 8, 0), pastMidnight), QStringLiteral("Yesterday 08:00"));
    const QDateTime utcNoon(QDate(2024, 5, 11), QTime(12, 0), Qt::UTC);
    const QDateTime earlyUtc(QDate(2024, 5, 11), QTime(0, 30), Qt::UTC);
    EXPECT_EQ(KPItemData::dateTextForDate(earlyUtc, utcNoon), QStringLiteral("Today 02:30"));
    {
        ScopedTimeZone newYork("America/New_York");
        EXPECT_EQ(KPItemData::dateTextForDate(earlyUtc, utcNoon), QStringLiteral("Yesterday 20:30"));
    }

    // Through a record, against the interface clock's now.
    platform::kit::VirtualScheduler clock(localDate(2024, 3, 15, 0, 5));
    const KPItemDataPtr item = KPItemData::create(addDocument(DocumentFields{.title = QStringLiteral("late"),
                                                                           .modified = localDate(2024, 3, 14, 23, 59)}));
    item->loadDataContent();
    EXPECT_EQ(item->dateModifiedString(), QStringLiteral("Yesterday 23:59"));
}

TEST_F(ItemDataTest, SafeBoxItemsMakeTheirThumbnailFolderAndCompareByPath)
{
    const QString volume = testsupport::makeTempDir(QStringLiteral("volume"));
    const QString path = volume + QStringLiteral("/Private/tax.2013.pdf");
    const QVariantMap info{{QStringLiteral("Path"), path},
                           {QStringLiteral("Size"), 1234},
                           {QStringLiteral("Date"), localDate(2013, 4, 1, 10, 0)}};
    const auto item = KPSafeBoxItemData::create(info, volume);
    EXPECT_TRUE(QFileInfo(volume + QStringLiteral("/.Thumbnail")).isDir());
    EXPECT_EQ(item->thumbPath(), volume + QStringLiteral("/.Thumbnail/") + MD5Generator::createMD5ByString(path));
    EXPECT_EQ(item->title(), QStringLiteral("tax.2013"));
    EXPECT_EQ(item->fileSize(), 1234);
    EXPECT_TRUE(item->authorString().isNull());
    EXPECT_FALSE(item->authorObjects().has_value());
    EXPECT_TRUE(item->isEqual(*KPSafeBoxItemData::create(info, volume)));
    EXPECT_FALSE(item->isEqual(*KPSafeBoxItemData::create({{QStringLiteral("Path"), path + QStringLiteral("x")}}, volume)));
    // A document model never equals a SafeBox file.
    EXPECT_FALSE(item->isEqual(*KPItemData::create(addDocument(QStringLiteral("tax.2013")))));

    // A vanished volume (its path now names a file) still gives a usable item.
    const QString gone = testsupport::makeTempDir(QStringLiteral("gone")) + QStringLiteral("/volume");
    testsupport::writeFile(gone, "not a folder");
    const auto orphan = KPSafeBoxItemData::create(info, gone);
    EXPECT_EQ(orphan->title(), QStringLiteral("tax.2013"));
}
