// The grid's data model and display settings: addresses, sections and the item sizes the
// layouts and the thumbnail loader work from.
#include "Browser/KPSectionData.h"
#include "Browser/KPSectionIndexSet.h"
#include "BrowserTestSupport.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <QSet>
#include <limits>
#include <type_traits>

using browsertest::SettingsTest;

TEST(KPSectionIndexSetTest, NotFoundIsStoredAsZeroAndEqualAddressesHashAlike)
{
    const KPSectionIndexSet missing(0, KPSectionIndexSet::kNotFound);
    EXPECT_EQ(missing, KPSectionIndexSet(0, 0));
    EXPECT_EQ(KPSectionIndexSet(KPSectionIndexSet::kNotFound, 3).sectionIndex(), 0);

    const KPSectionIndexSet a(1, 2);
    const KPSectionIndexSet b = KPSectionIndexSet::sectionIndexSetWithSectionIndex(1, 2);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.hash(), b.hash());
    EXPECT_NE(a, KPSectionIndexSet(2, 1));
    EXPECT_EQ(a.description(), QStringLiteral("1, 2"));

    // Huge and negative indexes wrap instead of overflowing (the sanitizer build checks it).
    const KPSectionIndexSet huge(std::numeric_limits<qint64>::max() - 1, -7);
    EXPECT_EQ(huge.hash(), quint64(std::numeric_limits<qint64>::max() - 1) * 100000u + quint64(-7) * 1000000000u);
    QSet<KPSectionIndexSet> selection{a, b, huge};
    EXPECT_EQ(selection.size(), 2);
}

TEST(KPSectionDataTest, OutOfRangeIndexesGiveNothingAndItemsAreFoundByWhatTheyStandFor)
{
    const KPSectionDataPtr section = KPSectionData::create(
        QStringLiteral("2012"), QList<KPSectionItem>{FlagGroupRecord{6, {}}, FlagGroupRecord{2, {}}});
    EXPECT_TRUE(section->isExpand());
    EXPECT_EQ(section->itemCount(), 2);
    EXPECT_EQ(section->itemDataWithIndex(-1), nullptr);
    EXPECT_EQ(section->itemDataWithIndex(2), nullptr);
    ASSERT_NE(section->itemDataWithIndex(1), nullptr);
    EXPECT_EQ(section->itemDataWithIndex(1)->flagGroup()->label, 2);
    EXPECT_EQ(section->itemAt(0), nullptr); // a tile is no document

    // A record rebuilt for the same flag is the same item; an absent one is not found.
    EXPECT_EQ(section->itemIndexWithData(FlagGroupRecord{2, {}}), 1);
    EXPECT_EQ(section->itemIndexWithData(FlagGroupRecord{5, {}}), KPSectionData::kNotFound);
    EXPECT_EQ(section->itemIndexWithData(MonthGroupRecord{QStringLiteral("2012"), QStringLiteral("06"), {}}),
              KPSectionData::kNotFound);
}

TEST_F(SettingsTest, OneInstanceForTheRunReadFromTheDefaults)
{
    static_assert(!std::is_default_constructible_v<KPViewSizeManager>);
    static_assert(!std::is_copy_constructible_v<KPViewSizeManager>);
    KPViewSizeManager* first = &settings();
    EXPECT_EQ(&KPViewSizeManager::viewSizeManager(), first);
    EXPECT_EQ(settings().itemScale(), 40);
    EXPECT_EQ(settings().displayMode(), KPDisplayModeIcon);
    EXPECT_EQ(settings().itemViewType(), KPItemViewTypeDocuments);

    // Stored values that make no sense must not give items of no size or a mode without sizes.
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.setString(QStringLiteral("7"), QStringLiteral("Int_DisplayMode"));
    defaults.setString(QStringLiteral("0"), QStringLiteral("Int_ViewItemScale"));
    KPViewSizeManager::resetForTesting();
    EXPECT_EQ(settings().displayMode(), KPDisplayModeIcon);
    EXPECT_EQ(settings().itemScale(), 25);

    // Only saveSettingToDisk writes, and only the whole part of the scale.
    settings().setItemScale(63.7);
    settings().setDisplayMode(KPDisplayModeList);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Int_ViewItemScale")), 0);
    settings().saveSettingToDisk();
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Int_ViewItemScale")), 63);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Int_DisplayMode")), 2);
}

TEST_F(SettingsTest, ScaleClampsAndTheDisplayModePostsOnlyRealChanges)
{
    for (auto [given, kept] : {std::pair{10.0, 25.0}, {150.0, 100.0}, {100.0, 100.0}, {60.0, 60.0}}) {
        settings().setItemScale(given);
        EXPECT_EQ(settings().itemScale(), kept) << given;
    }

    int posts = 0;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        KPViewSizeManager::kDisplayModeChangeNotification, [&](const platform::Notification& note) {
            EXPECT_FALSE(note.object.isValid());
            ++posts;
        });
    settings().setDisplayMode(KPDisplayModeIcon);
    EXPECT_EQ(posts, 0);
    settings().setDisplayMode(KPDisplayModeList);
    EXPECT_EQ(posts, 1);
    settings().setDisplayMode(KPDisplayModeList);
    settings().setDisplayMode(KPDisplayMode(5)); // no sizes exist for it
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(settings().displayMode(), KPDisplayModeList);
}

TEST_F(SettingsTest, DocumentItemSizesFollowScaleAndCaptions)
{
    settings().setItemScale(25);
    settings().setItemViewType(KPItemViewTypeGroupedDocuments);
    struct Case {
        bool title, rating, tags;
        QSizeF size;
    };
    for (const Case& c : {Case{true, false, false, {150, 145}}, Case{false, true, false, {150, 142}},
                          Case{false, true, true, {150, 160}}, Case{false, false, false, {150, 128}}}) {
        settings().setIsShowTitle(c.title);
        settings().setIsShowRating(c.rating);
        settings().setIsShowTags(c.tags);
        EXPECT_EQ(settings().itemSize(), c.size) << c.title << c.rating << c.tags;
    }
    EXPECT_EQ(settings().itemImageSize(), QSizeF(150, 128));

    settings().setItemScale(40);
    settings().reloadViewSetting(); // back to all three captions
    EXPECT_EQ(settings().itemSize(), QSizeF(227, 254));
    settings().setItemScale(100);
    EXPECT_EQ(settings().baseEdge(), 512);

    // SafeBox files and the list mode have sizes of their own; tiles ignore the scale.
    settings().setItemViewType(KPItemViewTypeSafeBox);
    EXPECT_EQ(settings().itemSize(), QSizeF(534, 529));
    settings().setDisplayMode(KPDisplayModeList);
    EXPECT_EQ(settings().itemSize(), QSizeF(50, 50));
    EXPECT_EQ(settings().itemImageSize(), QSizeF(40, 40));
    settings().setItemViewType(KPItemViewTypeDocuments);
    EXPECT_EQ(settings().itemSize(), QSizeF(40, 50));
    settings().setItemViewType(KPItemViewTypeAuthor);
    EXPECT_EQ(settings().itemSize(), QSizeF(166, 210));
    settings().setItemViewType(KPItemViewTypeFlag);
    EXPECT_EQ(settings().marginMaxY(), 25);
}

TEST_F(SettingsTest, TheDocumentMenuHookHearsRealChangesOfTheItemViewType)
{
    QList<KPItemViewType> heard;
    settings().setDocumentMenuHook([&](KPItemViewType type) { heard.append(type); });
    settings().setItemViewType(KPItemViewTypeDocuments); // already 0
    settings().setItemViewType(KPItemViewTypeSafeBox);
    settings().setItemViewType(KPItemViewTypeSafeBox);
    settings().setItemViewType(KPItemViewTypeFileType);
    EXPECT_EQ(heard, (QList<KPItemViewType>{KPItemViewTypeSafeBox, KPItemViewTypeFileType}));

    EXPECT_TRUE(KPViewSizeManager::isDocumentMenuItemVisible(KPItemViewTypeSafeBox, 6));
    EXPECT_FALSE(KPViewSizeManager::isDocumentMenuItemVisible(KPItemViewTypeSafeBox, 7));
    EXPECT_FALSE(KPViewSizeManager::isDocumentMenuItemVisible(KPItemViewTypeSafeBox, 0));
    EXPECT_TRUE(KPViewSizeManager::isDocumentMenuItemVisible(KPItemViewTypeFileType, 7));
}
