#include "../../SideBar/SubSideBarTestSupport.h"

#include "MainWindow/AppMenuController.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/BadgeRecountDriver.h"
#include "Platform/Kit/Scheduler.h"
#include "SideBar/SideBarNodeType.h"
#include "Store/DBHelper.h"
#include "Store/DBIndexFolderMetadata.h"

#include <QCoreApplication>

using namespace sidebartest;
using Kind = BadgeRecountDriver::Kind;

class BadgeRecountDriverTest : public SubSideBarFixture {
protected:
    void SetUp() override
    {
        SubSideBarFixture::SetUp();
        platform::UserDefaults::standardUserDefaults().removeObjectForKey(BadgeRecountDriver::kShowItemCountKey);
        menu.onChange = [this](AppMenuController::Flag flag, bool) {
            if (flag == AppMenuController::Flag::EmptyTrash)
                ++emptyTrashSets;
        };

        work = addNode(QStringLiteral("Work"), DBNode::Collection);
        folder = addNode(QStringLiteral("Folder"), DBNode::Folder, work);
        red = addTag(QStringLiteral("red"));
        blue = addTag(QStringLiteral("blue"));
        addDocument(QStringLiteral("d1"), {red}, folder);
        addDocument(QStringLiteral("d2"), {red, blue});
        addDocument(QStringLiteral("d3"));
        save();
        open();
        openSub(SubSideBarDataSource::kTagsMode);

        ctx.sideBarDataSource = source.get();
        ctx.subSideBarDataSource = sub.get();
        ctx.store = engine.get();
        ctx.notifications = &center;
        ctx.appMenu = &menu;
        driver = std::make_unique<BadgeRecountDriver>(ctx);
    }

    void TearDown() override
    {
        driver.reset();
        platform::UserDefaults::standardUserDefaults().removeObjectForKey(BadgeRecountDriver::kShowItemCountKey);
        SubSideBarFixture::TearDown();
    }

    // Lets every run started settle, count and report.
    void settle()
    {
        scheduler.advance(RefreshItemCountObject::kSettleMs);
        ASSERT_TRUE(testsupport::spinUntil([this] {
            return driver->runningCount(Kind::Full) + driver->runningCount(Kind::TagOnly) +
                       driver->runningCount(Kind::TrashOnly) ==
                   0;
        }));
        QCoreApplication::processEvents();
    }

    void post(const QVariant& object = {}) { center.post(RefreshItemCountNotification, object); }

    KPNode::Ptr tagNode(const QString& name) const { return childTitled(sub->tagsRoot(), name); }
    KPNode::Ptr collectionNode(const QString& title) const
    {
        KPNode::Ptr found;
        std::function<void(const KPNode::Ptr&)> walk = [&](const KPNode::Ptr& n) {
            for (const KPNode::Ptr& c : n->children()) {
                if (!found && c->title() == title)
                    found = c;
                walk(c);
            }
        };
        walk(sub->collectionsRoot());
        return found;
    }

    // Every badge the driver writes set to a number no count gives.
    void markBadges(qint64 mark)
    {
        for (const KPNode::Ptr& n : {source->documentsNode(), source->trashNode(), source->receiveNode(),
                                     sub->untagNode(), sub->uncollectionNode(), collectionNode(QStringLiteral("Work")),
                                     collectionNode(QStringLiteral("Folder")), tagNode(QStringLiteral("red")),
                                     tagNode(QStringLiteral("blue"))})
            n->setRightNumber(mark);
    }

    platform::kit::VirtualScheduler scheduler;
    platform::NotificationCenter center;
    AppMenuController menu;
    int emptyTrashSets = 0;
    MainWindowContext ctx;
    std::unique_ptr<BadgeRecountDriver> driver;
    DBNode work, folder;
    DBTag red, blue;
};

TEST_F(BadgeRecountDriverTest, OnlyTheLastOfABurstIsAppliedAndItSeesUnsavedEdits)
{
    ASSERT_TRUE(collectionNode(QStringLiteral("Folder")));
    ASSERT_TRUE(tagNode(QStringLiteral("red")));
    post(QStringLiteral("All"));
    post();
    // Made just before the last request and not saved: it is counted all the same.
    addDocument(QStringLiteral("d4"), {blue}, folder);
    DBFileInfo binned = addDocument(QStringLiteral("binned"));
    binned.setIsTrash(true);
    post(QStringLiteral("Collection"));
    EXPECT_EQ(driver->runningCount(Kind::Full), 3);
    settle();

    // One application: Empty Trash was set once, from the last run's count.
    EXPECT_EQ(emptyTrashSets, 1);
    EXPECT_TRUE(menu.bEmptyTrash());
    EXPECT_EQ(source->documentsNode()->rightNumber(), 4);
    EXPECT_EQ(source->trashNode()->rightNumber(), 1);
    EXPECT_EQ(collectionNode(QStringLiteral("Folder"))->rightNumber(), 2);
    EXPECT_EQ(collectionNode(QStringLiteral("Work"))->rightNumber(), 0);
    EXPECT_EQ(tagNode(QStringLiteral("red"))->rightNumber(), 2);
    EXPECT_EQ(tagNode(QStringLiteral("blue"))->rightNumber(), 2);
    EXPECT_EQ(sub->untagNode()->rightNumber(), 1);
    EXPECT_EQ(sub->uncollectionNode()->rightNumber(), 2);

    // Put back from the Trash: the next full count disables Empty Trash.
    binned.setIsTrash(false);
    post();
    settle();
    EXPECT_FALSE(menu.bEmptyTrash());
    EXPECT_EQ(source->trashNode()->rightNumber(), 0);
}

TEST_F(BadgeRecountDriverTest, TagOnlyRecountsLeaveTheOtherBadgesAlone)
{
    markBadges(77);
    post(QStringLiteral("Tag"));
    EXPECT_EQ(driver->runningCount(Kind::TagOnly), 1);
    EXPECT_EQ(driver->runningCount(Kind::Full), 0);
    settle();
    EXPECT_EQ(tagNode(QStringLiteral("red"))->rightNumber(), 2);
    EXPECT_EQ(tagNode(QStringLiteral("blue"))->rightNumber(), 1);
    EXPECT_EQ(source->documentsNode()->rightNumber(), 77);
    EXPECT_EQ(collectionNode(QStringLiteral("Folder"))->rightNumber(), 77);
    EXPECT_EQ(emptyTrashSets, 0);

    // A list naming the tags among others is a full recount.
    post(QStringLiteral("Tag,Collection"));
    EXPECT_EQ(driver->runningCount(Kind::Full), 1);
    EXPECT_EQ(driver->runningCount(Kind::TagOnly), 0);
    // A collection shown after the count was asked for has no entry in the result.
    DBNode late = addNode(QStringLiteral("Late"), DBNode::Collection);
    const KPNode::Ptr lateNode = KPNode::initWithDBNode(late);
    sub->collectionsRoot()->addChild(lateNode);
    lateNode->setRightNumber(5);
    settle();
    EXPECT_EQ(source->documentsNode()->rightNumber(), 3);
    EXPECT_EQ(collectionNode(QStringLiteral("Folder"))->rightNumber(), 1);
    EXPECT_EQ(collectionNode(QStringLiteral("Work"))->rightNumber(), 0);
    EXPECT_EQ(lateNode->rightNumber(), 0);
    EXPECT_EQ(emptyTrashSets, 1);

    // A full and a tag-only run do not cancel each other.
    post();
    post(QStringLiteral("Tag"));
    EXPECT_EQ(driver->runningCount(Kind::Full), 1);
    EXPECT_EQ(driver->runningCount(Kind::TagOnly), 1);
    settle();
    EXPECT_EQ(emptyTrashSets, 2);
}

TEST_F(BadgeRecountDriverTest, TheTagsHeaderShowsTheSumOfOneRunNotOfAllRuns)
{
    for (int run = 0; run < 3; ++run) {
        post(run % 2 ? QVariant(QStringLiteral("Tag")) : QVariant());
        settle();
        EXPECT_EQ(sub->tagsRoot()->rightNumber(), 3) << "run " << run;
    }
}

TEST_F(BadgeRecountDriverTest, WithBadgesOffOnlyTheTrashIsCountedAndTurningThemOnRecounts)
{
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    addDocument(QStringLiteral("binned")).setIsTrash(true);
    defaults.setBool(false, BadgeRecountDriver::kShowItemCountKey);
    settle(); // the change itself asked for a count
    markBadges(77);
    post(QStringLiteral("All"));
    post(QStringLiteral("Tag"));
    EXPECT_EQ(driver->runningCount(Kind::Full), 0);
    EXPECT_EQ(driver->runningCount(Kind::TagOnly), 0);
    settle();
    EXPECT_TRUE(menu.bEmptyTrash());
    for (const KPNode::Ptr& n : {source->documentsNode(), source->trashNode(), tagNode(QStringLiteral("red")),
                                 collectionNode(QStringLiteral("Folder")), sub->untagNode()})
        EXPECT_EQ(n->rightNumber(), 77) << n->title().toStdString();

    // A run started while the badges were on does not write them once they are off.
    defaults.setBool(true, BadgeRecountDriver::kShowItemCountKey);
    EXPECT_EQ(driver->runningCount(Kind::Full), 1);
    defaults.setBool(false, BadgeRecountDriver::kShowItemCountKey);
    settle();
    EXPECT_EQ(source->documentsNode()->rightNumber(), 77);

    // Turned on, the badges are counted without anyone else asking.
    defaults.setBool(true, BadgeRecountDriver::kShowItemCountKey);
    settle();
    EXPECT_EQ(source->documentsNode()->rightNumber(), 3);
    EXPECT_EQ(source->trashNode()->rightNumber(), 1);
    EXPECT_EQ(tagNode(QStringLiteral("red"))->rightNumber(), 2);
}

TEST_F(BadgeRecountDriverTest, FavouritesMirrorTheirTagsAndIndexFoldersCountByPath)
{
    addFavorite(red, DBFavorite::kDataTypeTag);
    save();
    reopen();
    ctx.sideBarDataSource = source.get();
    const KPNode::Ptr favourite = childTitled(source->favoritesNode(), QStringLiteral("red"));
    ASSERT_TRUE(favourite);

    // An index folder with one live document, and a sub-folder the count has no entry for.
    const QString path = disk + QStringLiteral("/Index");
    const KPNode::Ptr index = KPNode::initWithTitle(QStringLiteral("Index"), SideBarNodeType::IndexFolderNode);
    index->setData(addIndexFolderRow(path, IndexFolderType::Folder, false).ref());
    const KPNode::Ptr inner = KPNode::initWithSubIndexFolder(path + QStringLiteral("/inner"));
    index->addChild(inner);
    inner->setRightNumber(9);
    source->indexFolderNode()->addChild(index);
    auto link = DBRecord::insertNewObject<DBIndexFolderMetadata>(engine->context());
    link.setFolderID(DBHelper::folderIDForFolderPath(path));
    link.setFileInfo(addDocument(QStringLiteral("indexed")));
    EXPECT_EQ(driver->indexPaths(), (QStringList{path, path + QStringLiteral("/inner")}));

    post();
    settle();
    EXPECT_EQ(favourite->rightNumber(), 2);
    EXPECT_EQ(index->rightNumber(), 1);
    EXPECT_EQ(inner->rightNumber(), 0);
}
