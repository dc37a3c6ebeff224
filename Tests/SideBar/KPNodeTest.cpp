#include "SideBarTestSupport.h"

namespace {

using namespace sidebartest;
namespace T = SideBarNodeType;

QStringList childTitles(const KPNode& node)
{
    QStringList out;
    for (const auto& child : node.children())
        out.append(child->title());
    return out;
}

KPNode::Ptr child(const QString& title, qint64 sortID = 0, qint64 number = 0)
{
    auto node = KPNode::initWithTitle(title, T::FolderNode);
    node->setSortID(sortID);
    node->setRightNumber(number);
    return node;
}

TEST(KPNode, SortsTitlesNaturallyAndKeepsTiesInOrder)
{
    auto root = KPNode::create();
    for (const char* t : {"a10", "B", "a2", "b", "A2"})
        root->addChild(child(QLatin1String(t)));
    root->sortChildren(KPNode::kSortTitle);
    // Digit runs by value, case ignored; equal titles keep their order.
    EXPECT_EQ(childTitles(*root), (QStringList{"a2", "A2", "a10", "B", "b"}));

    auto byID = KPNode::create();
    for (auto [t, id] : {std::pair{"x", 3}, {"y", 1}, {"z", 3}, {"w", 1}})
        byID->addChild(child(QLatin1String(t), id));
    byID->sortChildren(KPNode::kSortID);
    EXPECT_EQ(childTitles(*byID), (QStringList{"y", "w", "x", "z"}));

    auto byCount = KPNode::create();
    for (auto [t, n] : {std::pair{"x", 5}, {"y", 9}, {"z", 5}, {"w", -1}})
        byCount->addChild(child(QLatin1String(t), 0, n));
    byCount->sortChildren(KPNode::kSortRightNumber);
    EXPECT_EQ(childTitles(*byCount), (QStringList{"y", "x", "z", "w"}));
    byCount->sortChildren(QStringLiteral("Date"));
    EXPECT_EQ(childTitles(*byCount), (QStringList{"y", "x", "z", "w"}));
}

TEST(KPNode, TakingChildrenOutForgetsTheParent)
{
    auto root = KPNode::create();
    auto a = child(QStringLiteral("a"));
    auto b = child(QStringLiteral("b"));
    root->addChild(a);
    EXPECT_EQ(a->parent(), root);
    // Not a child: nothing changes, and its own parent stays.
    auto other = KPNode::create();
    other->addChild(b);
    EXPECT_FALSE(root->removeChild(b.get()));
    EXPECT_EQ(b->parent(), other);
    EXPECT_EQ(root->children().size(), 1);

    EXPECT_TRUE(root->removeChild(a.get()));
    EXPECT_EQ(a->parent(), nullptr);
    // A node moved to another parent leaves the first one.
    root->addChild(b);
    EXPECT_FALSE(other->hasChildren());
    b->removeFromParentNode();
    EXPECT_FALSE(root->hasChildren());
    EXPECT_EQ(b->parent(), nullptr);

    // A parent that goes away leaves no dangling link behind.
    auto orphan = child(QStringLiteral("o"));
    {
        auto temporary = KPNode::create();
        temporary->addChild(orphan);
    }
    EXPECT_EQ(orphan->parent(), nullptr);
}

TEST(KPNode, RowLookupSurvivesReordering)
{
    auto root = KPNode::create();
    QList<KPNode::Ptr> kids;
    for (int i = 0; i < 50; ++i) {
        kids.append(child(QString::number(i)));
        root->addChild(kids.last());
    }
    EXPECT_EQ(kids[37]->indexInParent(), 37);
    root->insertChild(child(QStringLiteral("first")), 0);
    EXPECT_EQ(kids[37]->indexInParent(), 38);
    root->sortChildren(KPNode::kSortTitle);
    for (int i = 0; i < root->children().size(); ++i)
        EXPECT_EQ(root->children()[i]->indexInParent(), i);
}

class KPNodeStoreTest : public SideBarFixture {};

TEST_F(KPNodeStoreTest, NodeTypesFromRecordsAndMissingObjects)
{
    EXPECT_EQ(KPNode::initWithDBNode(addNode(QStringLiteral("c"), DBNode::Collection))->nodeType(), T::CollectionNode);
    EXPECT_EQ(KPNode::initWithDBNode(addNode(QStringLiteral("f"), DBNode::Folder))->nodeType(), T::FolderNode);
    EXPECT_EQ(KPNode::initWithDBNode(addNode(QStringLiteral("s"), DBNode::SmartFolder))->nodeType(), T::SmartFolderNode);
    EXPECT_EQ(KPNode::initWithDBNode(addNode(QStringLiteral("x"), 7))->nodeType(), T::RootNode);
    EXPECT_EQ(KPNode::initWithDBNode(addNode(QStringLiteral("y"), 0))->nodeType(), T::RootNode);

    // A tag's sort position comes with it.
    DBTag tag = addTag(QStringLiteral("work"));
    tag.setSortID(42);
    auto tagNode = KPNode::initWithTitle(tag.name(), T::TagNode);
    tagNode->setData(tag.ref());
    EXPECT_EQ(tagNode->sortID(), 42);
    EXPECT_EQ(tagNode->tag(), tag);
    EXPECT_FALSE(tagNode->indexFolder());

    // "Untagged" and "Uncategorized" stand for no object: the side bar's operations on them
    // change nothing and store nothing.
    open();
    auto untagged = KPNode::initWithTitle(QStringLiteral("Untagged"), T::TagNode);
    auto uncategorized = KPNode::initWithTitle(QStringLiteral("Uncategorized"), T::FolderNode);
    EXPECT_FALSE(untagged->tag());
    EXPECT_FALSE(uncategorized->dbNode());
    source->favorites().favoriteNode(untagged);
    source->favorites().favoriteNode(uncategorized);
    source->favorites().refreshFavoriteByNode(untagged.get());
    source->favorites().commitTitle(*uncategorized, QStringLiteral("Renamed"));
    EXPECT_TRUE(favorites().isEmpty());
    EXPECT_FALSE(source->rootNode()->children().contains(source->favoritesNode()));
    EXPECT_EQ(uncategorized->title(), QStringLiteral("Uncategorized"));
    EXPECT_EQ(count(FavoriteNodeChangeNotification), 0);
}

} // namespace
