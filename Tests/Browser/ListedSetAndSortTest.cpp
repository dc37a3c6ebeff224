// The listed set, the sort settings and the orders documents, tags and flags are sorted in.
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPSortFunctions.h"
#include "BrowserLibraryKit.h"
#include "Platform/Foundation/NaturalCompare.h"
#include "Platform/Foundation/NotificationCenter.h"

using namespace browsertest;
using namespace sortfunctions;

namespace {

class ListedSetTest : public BrowserLibraryTest {
protected:
    void SetUp() override
    {
        BrowserLibraryTest::SetUp();
        KPDataSourceSortManager::resetForTesting();
    }
    void TearDown() override
    {
        KPDataSourceSortManager::resetForTesting();
        BrowserLibraryTest::TearDown();
    }

    QStringList titlesOf(const QList<KPItemDataPtr>& items)
    {
        QStringList titles;
        for (const KPItemDataPtr& item : items)
            titles.append(item->data().title());
        return titles;
    }
};

} // namespace

TEST(NameOrder, DigitRunsByValueEverythingElseIgnoringCase)
{
    EXPECT_LT(compareNames(QStringLiteral("report 9"), QStringLiteral("Report 10")), 0);
    EXPECT_GT(compareNames(QStringLiteral("report 9"), QStringLiteral("Report 10"), false), 0);
    EXPECT_EQ(compareNames(QStringLiteral("ABC"), QStringLiteral("abc")), 0);
    EXPECT_EQ(compareNames(QStringLiteral("file007"), QStringLiteral("file7")), 0);
    // Runs longer than any machine number still compare exactly.
    EXPECT_LT(compareNames(QStringLiteral("v99999999999999999999998"), QStringLiteral("v99999999999999999999999")), 0);
    EXPECT_LT(compareNames(QStringLiteral("a"), QStringLiteral("a1")), 0);
    // Characters beyond the BMP order by code point, not by their UTF-16 halves.
    EXPECT_LT(compareNames(QStringLiteral("\uFF5E"), QString::fromUtf8("\xF0\x9F\x98\x80")), 0);
    // Without numeric runs, "10" sorts before "9".
    EXPECT_LT(compareStringsCaseInsensitive(QStringLiteral("x10"), QStringLiteral("X9")), 0);

    QStringList tags{QStringLiteral("tag10"), QStringLiteral("Tag2"), QStringLiteral("tag1")};
    sortNames(tags);
    EXPECT_EQ(tags, (QStringList{QStringLiteral("tag1"), QStringLiteral("Tag2"), QStringLiteral("tag10")}));
}

TEST(FlagOrder, RanksPutSixBeforeOne)
{
    EXPECT_TRUE(finderLabelGoesFirst(6, 1, true));
    EXPECT_FALSE(finderLabelGoesFirst(1, 6, true));
    EXPECT_TRUE(finderLabelGoesFirst(1, 6, false));
    QList<qint64> flags{1, 2, 3, 4, 5, 6, 7, 0};
    std::stable_sort(flags.begin(), flags.end(), [](qint64 a, qint64 b) { return finderLabelRank(a) < finderLabelRank(b); });
    EXPECT_EQ(flags, (QList<qint64>{0, 6, 7, 5, 2, 4, 3, 1}));
    EXPECT_GT(finderLabelRank(9), finderLabelRank(1)); // an unknown flag ranks after every flag
}

TEST_F(ListedSetTest, SettersPostOnlyRealChanges)
{
    KPDataSourceSortManager& sort = KPDataSourceSortManager::shareDataSourceSortManager();
    EXPECT_EQ(sort.groupSortType(), 1);
    EXPECT_TRUE(sort.fileAscending());
    int posts = 0;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        KPDataSourceSortManager::kSortingChangeNotification, [&](const platform::Notification&) { ++posts; });
    sort.setFileSortType(1);
    sort.setGroupSortType(1);
    sort.setGroupAscending(true);
    sort.setFileAscending(true);
    EXPECT_EQ(posts, 0);
    sort.setFileSortType(6);
    EXPECT_EQ(posts, 1);
    sort.setFileSortType(6);
    sort.setFileAscending(false);
    sort.setGroupSortType(8);
    EXPECT_EQ(posts, 3);

    // The setters leave the defaults alone; saving writes all four.
    KPDataSourceSortManager::resetForTesting();
    EXPECT_EQ(KPDataSourceSortManager::shareDataSourceSortManager().fileSortType(), 1);
    KPDataSourceSortManager::shareDataSourceSortManager().setGroupSortType(10);
    KPDataSourceSortManager::shareDataSourceSortManager().saveSettingToDisk();
    KPDataSourceSortManager::resetForTesting();
    EXPECT_EQ(KPDataSourceSortManager::shareDataSourceSortManager().groupSortType(), 10);
}

TEST_F(ListedSetTest, MembershipFollowsTheDocumentAndTheTitleFilterFoldsCaseAndAccents)
{
    DBFileInfo cafe = addDocument(QStringLiteral("Cafe receipts"));
    DBFileInfo menu = addDocument(QStringLiteral("CAFÉ MENU"));
    DBFileInfo tax = addDocument(QStringLiteral("tax"));
    const KPItemDataPtr first = KPItemData::create(cafe);
    const KPItemDataPtr second = KPItemData::create(cafe);
    KPDataSourceManager listed;
    listed.addSource({first, second, KPItemData::create(menu), KPItemData::create(tax)});
    EXPECT_EQ(listed.dataSource().size(), 3u);
    EXPECT_EQ(*listed.dataSource().find(second), first); // of equal items the first stays

    const KPItemDataPtr newer = KPItemData::create(cafe);
    listed.appendSource({newer});
    EXPECT_EQ(listed.dataSource().size(), 3u);
    EXPECT_EQ(*listed.dataSource().find(first), newer); // the appended object takes the place

    EXPECT_EQ(listed.filterDataWithTitle(QString()), listed.dataSource());
    const KPItemDataSet found = listed.filterDataWithTitle(QStringLiteral("café"));
    EXPECT_EQ(found.size(), 2u);
    EXPECT_TRUE(found.contains(first));
    EXPECT_TRUE(found.contains(KPItemData::create(menu)));
    // Searching loads no model; a drawn one is found by the title it shows.
    for (const KPItemDataPtr& item : listed.dataSource())
        EXPECT_FALSE(item->bLoadedDataContent());
    newer->loadDataContent();
    newer->setTitle(QStringLiteral("tea"));
    EXPECT_EQ(listed.filterDataWithTitle(QStringLiteral("café")).size(), 1u);
    EXPECT_EQ(listed.filterDataWithTitle(QStringLiteral("TEA")).size(), 1u);

    listed.removeSource({KPItemData::create(tax), KPItemData::create(cafe)});
    EXPECT_EQ(listed.dataSource().size(), 1u);
}

TEST_F(ListedSetTest, DocumentsWithoutTheComparedValueGoLastInBothDirections)
{
    const QDateTime base = QDateTime(QDate(2020, 1, 1), QTime(12, 0), Qt::UTC);
    QList<KPItemDataPtr> items{
        KPItemData::create(addDocument(DocumentFields{.title = QStringLiteral("undated"), .extension = QStringLiteral("txt")})),
        KPItemData::create(addDocument(DocumentFields{.title = QStringLiteral("old"), .extension = QStringLiteral("PDF"), .size = 0,
                                                    .modified = base})),
        KPItemData::create(addDocument(DocumentFields{.title = QStringLiteral("new"), .extension = QStringLiteral("doc"), .size = 900,
                                                    .modified = base.addDays(3)})),
        KPItemData::create(addDocument(DocumentFields{.title = QStringLiteral("mid 10"), .size = 50, .modified = base.addDays(1)})),
        KPItemData::create(addDocument(DocumentFields{.title = QStringLiteral("Mid 9"), .modified = base.addDays(2)})),
    };
    sortItems(items, KPFileSortTypeDateModified, true);
    EXPECT_EQ(titlesOf(items), (QStringList{"old", "mid 10", "Mid 9", "new", "undated"}));
    sortItems(items, KPFileSortTypeDateModified, false);
    EXPECT_EQ(titlesOf(items), (QStringList{"new", "Mid 9", "mid 10", "old", "undated"}));
    sortItems(items, KPFileSortTypeSize, true);
    EXPECT_EQ(titlesOf(items).mid(0, 3), (QStringList{"old", "mid 10", "new"}));
    sortItems(items, KPFileSortTypeSize, false);
    EXPECT_EQ(titlesOf(items).mid(0, 3), (QStringList{"new", "mid 10", "old"}));
    const QStringList bySize = titlesOf(items);
    EXPECT_EQ(QSet<QString>(bySize.begin() + 3, bySize.end()), (QSet<QString>{"undated", "Mid 9"}));
    sortItems(items, KPFileSortTypeTitle, true);
    EXPECT_EQ(titlesOf(items), (QStringList{"Mid 9", "mid 10", "new", "old", "undated"}));
    sortItems(items, KPFileSortTypeExtension, false);
    EXPECT_EQ(titlesOf(items).front(), QStringLiteral("undated")); // txt, then pdf, PDF, doc
    EXPECT_EQ(titlesOf(items).back(), QStringLiteral("new"));

    // Any other type keeps the order met.
    const QStringList before = titlesOf(items);
    sortItems(items, 0, true);
    sortItems(items, 8, true);
    EXPECT_EQ(titlesOf(items), before);
}

TEST_F(ListedSetTest, TheGridTheSideBarAndTheTagListsShareOneOrder)
{
    const QStringList titles{QStringLiteral("第１０章"), QStringLiteral("第２章"), QStringLiteral("Zulu"),
                             QStringLiteral("Ångström"), QStringLiteral("report 10"), QStringLiteral("Report 9"),
                             QStringLiteral("éclair"), QStringLiteral("Eagle"), QStringLiteral("p١٠"), QStringLiteral("p٢")};
    QStringList bySideBar = titles;
    std::stable_sort(bySideBar.begin(), bySideBar.end(), platform::naturalLess);
    EXPECT_LT(bySideBar.indexOf(QStringLiteral("第２章")), bySideBar.indexOf(QStringLiteral("第１０章")));
    EXPECT_LT(bySideBar.indexOf(QStringLiteral("Ångström")), bySideBar.indexOf(QStringLiteral("Eagle")));

    // Loaded and not yet loaded models sort by the same keys.
    QList<KPItemDataPtr> items;
    for (const QString& title : titles) {
        items.append(KPItemData::create(addDocument(title)));
        if (items.size() % 2)
            items.back()->loadDataContent();
    }
    sortItems(items, KPFileSortTypeTitle, true);
    EXPECT_EQ(titlesOf(items), bySideBar);
    QStringList names = titles;
    sortNames(names);
    EXPECT_EQ(names, bySideBar);

    // A renamed model sorts by its new title, not by the key it kept from the old one.
    items.back()->loadDataContent();
    items.back()->setTitle(QStringLiteral("0 intro"));
    sortItems(items, KPFileSortTypeTitle, true);
    EXPECT_EQ(items.front()->title(), QStringLiteral("0 intro"));
}
