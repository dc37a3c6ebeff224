#include "SubSideBarTestSupport.h"

#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Foundation/XAttr.h"
#include "Store/DBHelper.h"

#include <QFile>

namespace sidebartest {

namespace {

QString titleOf(const KPNode::Ptr& node)
{
    return node ? node->title() : QStringLiteral("-");
}

} // namespace

void SubSideBarFixture::SetUp()
{
    SideBarFixture::SetUp();
    window->resize(480, 640);
    subView = new KPSideBarOutlineView(window.get());
    subView->setGeometry(240, 0, 240, 640);
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    for (const QString& key : {SubSideBarKeys::LastSelectedCollectionItem, SubSideBarKeys::LastSelectedTagItem,
                               SubSideBarKeys::CollectionScrollPoint, SubSideBarKeys::TagScrollPoint})
        defaults.removeObjectForKey(key);
    platform::kit::Alert::setPresenterForTesting([this](const platform::kit::Alert& alert) {
        alerts.append(alert.messageText());
        return alertAnswer;
    });
    tokens.push_back(platform::NotificationCenter::defaultCenter().addObserver(
        SubSideBarKeys::AddFilesToLibrary, [this](const platform::Notification& n) { imports.append(n.object.toMap()); }));
}

void SubSideBarFixture::TearDown()
{
    sub.reset();
    platform::kit::Alert::setPresenterForTesting({});
    SideBarFixture::TearDown();
}

void SubSideBarFixture::openSub(int mode)
{
    sub = std::make_unique<SubSideBarDataSource>(subView, engine.get());
    SubSideBarDataSourceDelegate d;
    d.onSubSideBarNodeChange = [this](const KPNode::Ptr& n) { subTold.append(QStringLiteral("change:") + titleOf(n)); };
    d.onSubSideBarNodesChange = [this](const QList<KPNode::Ptr>& nodes) {
        QStringList titles;
        for (const KPNode::Ptr& n : nodes)
            titles.append(n->title());
        subTold.append(QStringLiteral("nodes:") + titles.join(QLatin1Char(',')));
    };
    d.onSubSideBarMoveRecordToNode = [this](const KPNode::Ptr& n) { subTold.append(QStringLiteral("move:") + titleOf(n)); };
    d.onSubSideBarNodeRenameChange = [this](const KPNode::Ptr& n) { subTold.append(QStringLiteral("rename:") + titleOf(n)); };
    sub->setDelegate(d);
    sub->initData();
    ASSERT_TRUE(testsupport::spinUntil([this] { return sub->bDataLoaded(); }));
    if (mode)
        sub->switchByNodeType(mode);
}

DBFileInfo SubSideBarFixture::addDocument(const QString& title, const QList<DBTag>& tags, const DBNode& node)
{
    const QString path = disk + QLatin1Char('/') + title + QStringLiteral(".pdf");
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    auto document = DBRecord::insertNewObject<DBFileInfo>(engine->context());
    document.setTitle(title);
    document.setPath(path);
    document.setIsIndex(true);
    document.setTags(tags);
    if (node)
        document.setNode(node);
    return document;
}

DBTagGroup SubSideBarFixture::addGroup(const QString& name, const QList<DBTag>& tags)
{
    DBTagGroup group = engine->createTagGroup(name);
    for (DBTag tag : tags)
        tag.setGroup(group);
    return group;
}

QString SubSideBarFixture::fileTags(const DBFileInfo& file) const
{
    const auto value = platform::XAttr::get(file.path(), QStringLiteral("com.apple.metadata:_kMDItemUserTags"));
    return value ? QString::fromLatin1(*value) : QString();
}

QStringList SubSideBarFixture::rows() const
{
    QStringList out;
    for (int r = 0; r < subView->numberOfRows(); ++r)
        out.append(subView->nodeAtRow(r)->title());
    return out;
}

KPNode::Ptr SubSideBarFixture::node(const QString& title) const
{
    const std::function<KPNode::Ptr(const KPNode::Ptr&)> find = [&](const KPNode::Ptr& n) -> KPNode::Ptr {
        if (n->title() == title)
            return n;
        for (const KPNode::Ptr& c : n->children())
            if (KPNode::Ptr f = find(c))
                return f;
        return nullptr;
    };
    for (const KPNode::Ptr& root : {sub->collectionsRoot(), sub->tagsRoot(), sub->untagNode(), sub->uncollectionNode()})
        if (KPNode::Ptr f = find(root))
            return f;
    return nullptr;
}

} // namespace sidebartest
