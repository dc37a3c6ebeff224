#include "SubSideBarTestSupport.h"

#include "Platform/Kit/Scheduler.h"
#include "SideBar/RefreshItemCountObject.h"

#include <QCoreApplication>

namespace {

using namespace sidebartest;
namespace K = ItemCountKey;

class SubSideBarGrabTest : public SubSideBarFixture {
protected:
    // The badges of both side bars from one full recount, as the window's driver sets them.
    void recount()
    {
        QVariantList collections, tags;
        const std::function<void(const KPNode::Ptr&)> walk = [&](const KPNode::Ptr& n) {
            if (n->dbNode())
                collections.append(QVariant::fromValue(n->dbNode().objectID()));
            if (n->tag())
                tags.append(QVariant::fromValue(n->tag().objectID()));
            for (const KPNode::Ptr& c : n->children())
                walk(c);
        };
        walk(sub->collectionsRoot());
        walk(sub->tagsRoot());
        QVariantMap result;
        bool done = false;
        RefreshItemCountObject::initWithSetting({{K::CollectionObj, collections}, {K::TagObj, tags}}, engine.get())
            ->refreshWithBlock([&](const QVariantMap& r, const RefreshItemCountObject::Ptr&) {
                result = r;
                done = true;
            });
        scheduler.advance(RefreshItemCountObject::kSettleMs);
        ASSERT_TRUE(testsupport::spinUntil([&] { return done; }));
        const QVariantMap byNode = result.value(K::CollectionObj).toMap();
        const QVariantMap byTag = result.value(K::TagObj).toMap();
        const std::function<void(const KPNode::Ptr&)> set = [&](const KPNode::Ptr& n) {
            if (n->dbNode())
                n->setRightNumber(byNode.value(n->dbNode().URIString()).toLongLong());
            if (n->tag())
                n->setRightNumber(byTag.value(n->tag().URIString()).toLongLong());
            for (const KPNode::Ptr& c : n->children())
                set(c);
        };
        set(sub->collectionsRoot());
        set(sub->tagsRoot());
        sub->untagNode()->setRightNumber(result.value(K::UnTagCount).toLongLong());
        sub->uncollectionNode()->setRightNumber(result.value(K::UnCollectionCount).toLongLong());
        source->documentsNode()->setRightNumber(result.value(K::DocumentsCount).toLongLong());
        source->trashNode()->setRightNumber(result.value(K::TrashCount).toLongLong());
    }
    void grab(const QString& name)
    {
        subView->viewport()->update();
        const bool scaled = window->devicePixelRatioF() > 1;
        const QImage image = window->grab().toImage();
        const QString out = QCoreApplication::applicationDirPath() + QStringLiteral("/../") + name +
                            (scaled ? QStringLiteral("@2x.png") : QStringLiteral(".png"));
        EXPECT_TRUE(image.save(out));
        EXPECT_EQ(image.size(), window->size() * window->devicePixelRatioF());
    }

    platform::kit::VirtualScheduler scheduler;
};

// Both side bars over a small library with the counted badges, written to the build folder.
TEST_F(SubSideBarGrabTest, BothTreesWithTheirBadges)
{
    DBNode work = addNode(QStringLiteral("Work"), DBNode::Collection);
    DBNode invoices = addNode(QStringLiteral("Invoices"), DBNode::Folder, work);
    DBNode y2024 = addNode(QStringLiteral("2024"), DBNode::Folder, invoices);
    DBNode home = addNode(QStringLiteral("Home"), DBNode::Collection);
    home.setSortID(2);
    DBNode recipes = addNode(QStringLiteral("Recipes"), DBNode::Folder, home);
    DBTag urgent = addTag(QStringLiteral("urgent"));
    DBTag paid = addTag(QStringLiteral("paid"));
    paid.setSortID(1);
    DBTag red = addTag(QStringLiteral("red"));
    DBTag blue = addTag(QStringLiteral("blue"));
    blue.setSortID(1);
    DBTagGroup colours = addGroup(QStringLiteral("Colours"), {red, blue});
    colours.setSortID(2);
    colours.setExpand(true);
    for (int i = 0; i < 12; ++i)
        addDocument(QStringLiteral("inv%1").arg(i), i % 3 ? QList<DBTag>{paid} : QList<DBTag>{paid, urgent},
                    i < 5 ? y2024 : invoices);
    for (int i = 0; i < 4; ++i)
        addDocument(QStringLiteral("r%1").arg(i), {red}, recipes);
    addDocument(QStringLiteral("loose"));
    work.setExpand(true);
    invoices.setExpand(true);
    save();
    window->show();
    open();
    openSub(SubSideBarDataSource::kCollectionsMode);
    recount();
    EXPECT_EQ(sub->uncollectionNode()->rightNumber(), 1);
    EXPECT_EQ(node("Invoices")->rightNumber(), 7);
    subView->selectNode(node("2024").get());
    grab(QStringLiteral("subsidebar-collections"));

    view->selectNode(source->tagsNode().get());
    sub->switchByNodeType(SubSideBarDataSource::kTagsMode);
    EXPECT_EQ(node("paid")->rightNumber(), 12);
    EXPECT_EQ(node("urgent")->rightNumber(), 4);
    subView->selectNode(node("blue").get());
    grab(QStringLiteral("subsidebar-tags"));
}

} // namespace
