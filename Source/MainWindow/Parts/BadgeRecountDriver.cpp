#include "MainWindow/Parts/BadgeRecountDriver.h"

#include "MainWindow/AppMenuController.h"
#include "MainWindow/MainWindowContext.h"
#include "Platform/Foundation/Dispatch.h"
#include "SideBar/KPSideBarImageCell.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "SideBar/SideBarFavorites.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DBIndexFolder.h"

#include <functional>

namespace K = ItemCountKey;
namespace T = SideBarNodeType;

namespace {

// Counts the Trash alone: what Empty Trash needs while the badges are off.
class RefreshTrashCountObject final : public RefreshItemCountObject {
public:
    static Ptr initWithSetting(const QVariantMap& setting, DataBaseEngine* engine)
    {
        return std::make_shared<RefreshTrashCountObject>(Private{}, setting, engine);
    }
    RefreshTrashCountObject(Private p, QVariantMap setting, DataBaseEngine* engine)
        : RefreshItemCountObject(p, std::move(setting), engine)
    {
    }

protected:
    void count(const ContextPtr& context) override
    {
        countInto(K::TrashCount, QStringLiteral("isTrash == YES && isNeedDelete == NO"), context);
    }
};

void eachDepthFirst(const KPNode::Ptr& node, const std::function<void(const KPNode::Ptr&)>& visit)
{
    if (!node)
        return;
    for (const KPNode::Ptr& child : node->children()) {
        visit(child);
        eachDepthFirst(child, visit);
    }
}

QString uriOf(const DBRecord& record)
{
    return record.objectID().URIRepresentation();
}

// The folder path a node of the index-folder or source sections stands for; empty for none.
QString folderPathOf(const KPNode& node)
{
    if (node.nodeType() == T::IndexFolderNode) {
        const DBIndexFolder folder = node.indexFolder();
        return folder ? folder.path() : QString();
    }
    return node.dataString();
}

void setNumber(const KPNode::Ptr& node, qint64 number)
{
    if (node)
        node->setRightNumber(number);
}

} // namespace

BadgeRecountDriver::BadgeRecountDriver(MainWindowContext& ctx)
    : m_ctx(ctx), m_self(std::make_shared<BadgeRecountDriver*>(this))
{
    platform::NotificationCenter& center =
        ctx.notifications ? *ctx.notifications : platform::NotificationCenter::defaultCenter();
    m_recountToken = center.addObserver(RefreshItemCountNotification,
                                        [this](const platform::Notification& note) { onRefreshItemCountNotification(note); });

    // The setting may be changed from any thread; the answer runs on the main thread.
    std::weak_ptr<BadgeRecountDriver*> weak = m_self;
    m_settingToken = platform::UserDefaults::standardUserDefaults().addObserver(
        kShowItemCountKey, [weak](const QString& key, const QVariant&) {
            auto run = [weak, key] {
                if (const auto self = weak.lock())
                    (*self)->observeValueForKeyPath(key);
            };
            if (platform::Dispatch::isMainThread())
                run();
            else
                platform::Dispatch::main(run);
        });
}

BadgeRecountDriver::~BadgeRecountDriver()
{
    m_self.reset();
    for (Kind kind : {Kind::Full, Kind::TagOnly, Kind::TrashOnly})
        cancelRuns(kind);
}

void BadgeRecountDriver::cancelRuns(Kind kind)
{
    for (const RefreshItemCountObject::Ptr& job : m_jobs[size_t(kind)])
        job->setIsCancel(true);
}

bool BadgeRecountDriver::showsItemCount()
{
    const auto& defaults = platform::UserDefaults::standardUserDefaults();
    return !defaults.objectForKey(kShowItemCountKey).isValid() || defaults.boolForKey(kShowItemCountKey);
}

// ---------------------------------------------------------------------------------------------
// Requests

void BadgeRecountDriver::onRefreshItemCountNotification(const platform::Notification& note)
{
    onRecountRequest(note.object);
}

void BadgeRecountDriver::onRecountRequest(const QVariant& object)
{
    if (!showsItemCount()) {
        // Runs started while the badges were shown must not write them now.
        cancelRuns(Kind::Full);
        cancelRuns(Kind::TagOnly);
        start(Kind::TrashOnly, {});
        return;
    }
    const bool tagOnly = object.typeId() == QMetaType::QString && object.toString() == kTagOnly;
    if (tagOnly) {
        start(Kind::TagOnly, {{K::TagObj, tagObjects()}});
        return;
    }
    QVariantMap setting;
    if (QVariantList collections = collectionObjects(); !collections.isEmpty())
        setting.insert(K::CollectionObj, collections);
    if (QVariantList tags = tagObjects(); !tags.isEmpty())
        setting.insert(K::TagObj, tags);
    if (QStringList paths = indexPaths(); !paths.isEmpty())
        setting.insert(K::IndexObj, paths);
    start(Kind::Full, setting);
}

void BadgeRecountDriver::observeValueForKeyPath(const QString& key)
{
    if (key != kShowItemCountKey)
        return;
    platform::NotificationCenter& center =
        m_ctx.notifications ? *m_ctx.notifications : platform::NotificationCenter::defaultCenter();
    center.post(RefreshItemCountNotification);
    KPSideBarImageCell::updateDrawNumberCount();
    redrawSideBars();
}

void BadgeRecountDriver::start(Kind kind, const QVariantMap& setting)
{
    cancelRuns(kind);
    // A full count holds the Trash count too, so it replaces a Trash-only one as well.
    if (kind == Kind::Full)
        cancelRuns(Kind::TrashOnly);

    RefreshItemCountObject::Ptr job;
    switch (kind) {
    case Kind::Full:
        job = RefreshItemCountObject::initWithSetting(setting, m_ctx.store);
        break;
    case Kind::TagOnly:
        job = RefreshTagItemCountObject::initWithSetting(setting, m_ctx.store);
        break;
    case Kind::TrashOnly:
        job = RefreshTrashCountObject::initWithSetting(setting, m_ctx.store);
        break;
    }
    m_jobs[size_t(kind)].push_back(job);
    std::weak_ptr<BadgeRecountDriver*> weak = m_self;
    job->refreshWithBlock([weak, kind](const QVariantMap& result, const RefreshItemCountObject::Ptr& done) {
        if (const auto self = weak.lock())
            (*self)->finished(kind, result, done);
    });
}

void BadgeRecountDriver::finished(Kind kind, const QVariantMap& result, const RefreshItemCountObject::Ptr& job)
{
    std::erase(m_jobs[size_t(kind)], job);
    // A cancelled run was replaced by a newer one, whose numbers are the ones to show.
    if (job->isCancel())
        return;
    switch (kind) {
    case Kind::Full:
        applyFull(result);
        break;
    case Kind::TagOnly:
        // The favourites of tags in the main side bar show the numbers too.
        applyTags(result);
        redrawSideBars();
        break;
    case Kind::TrashOnly:
        applyTrash(result.value(K::TrashCount).toLongLong());
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// What is counted

QVariantList BadgeRecountDriver::collectionObjects() const
{
    QVariantList ids;
    if (!m_ctx.subSideBarDataSource)
        return ids;
    eachDepthFirst(m_ctx.subSideBarDataSource->collectionsRoot(), [&ids](const KPNode::Ptr& node) {
        if (node->dbNode())
            ids.append(QVariant::fromValue(node->dbNode().objectID()));
    });
    return ids;
}

QVariantList BadgeRecountDriver::tagObjects() const
{
    QVariantList ids;
    if (!m_ctx.subSideBarDataSource || !m_ctx.subSideBarDataSource->tagsRoot())
        return ids;
    for (const KPNode::Ptr& node : m_ctx.subSideBarDataSource->tagsRoot()->children()) {
        if (node->nodeType() == T::TagNode && node->tag()) {
            ids.append(QVariant::fromValue(node->tag().objectID()));
        } else if (node->nodeType() == T::TagGroupNode) {
            for (const KPNode::Ptr& child : node->children()) {
                if (child->tag())
                    ids.append(QVariant::fromValue(child->tag().objectID()));
            }
        }
    }
    return ids;
}

QStringList BadgeRecountDriver::indexPaths() const
{
    QStringList paths;
    const SideBarDataSource* bar = m_ctx.sideBarDataSource;
    if (!bar)
        return paths;
    auto collect = [&paths](const KPNode::Ptr& node) {
        if (const QString path = folderPathOf(*node); !path.isEmpty() && !paths.contains(path))
            paths.append(path);
    };
    auto collectTree = [&collect](const KPNode::Ptr& node) {
        collect(node);
        eachDepthFirst(node, collect);
    };
    if (bar->indexFolderNode()) {
        for (const KPNode::Ptr& node : bar->indexFolderNode()->children())
            collectTree(node);
    }
    // The iCloud container holds a marker, not a folder: only the sources inside it count.
    if (bar->sourceFolderNode()) {
        for (const KPNode::Ptr& node : bar->sourceFolderNode()->children()) {
            if (node->nodeType() != T::ICloudNode)
                collectTree(node);
        }
    }
    if (bar->iCloudNode()) {
        for (const KPNode::Ptr& node : bar->iCloudNode()->children())
            collectTree(node);
    }
    return paths;
}

// ---------------------------------------------------------------------------------------------
// Applying the results

void BadgeRecountDriver::applyTrash(qint64 trashCount)
{
    if (m_ctx.appMenu)
        m_ctx.appMenu->setBEmptyTrash(trashCount > 0);
}

void BadgeRecountDriver::applyFull(const QVariantMap& result)
{
    SideBarDataSource* bar = m_ctx.sideBarDataSource;
    SubSideBarDataSource* sub = m_ctx.subSideBarDataSource;
    const qint64 trash = result.value(K::TrashCount).toLongLong();
    if (bar) {
        setNumber(bar->documentsNode(), result.value(K::DocumentsCount).toLongLong());
        setNumber(bar->trashNode(), trash);
        setNumber(bar->receiveNode(), result.value(K::ReceiveCount).toLongLong());
    }
    applyTrash(trash);
    if (sub) {
        setNumber(sub->uncollectionNode(), result.value(K::UnCollectionCount).toLongLong());
        setNumber(sub->untagNode(), result.value(K::UnTagCount).toLongLong());
    }

    const QVariantMap collections = result.value(K::CollectionObj).toMap();
    if (sub && !collections.isEmpty()) {
        eachDepthFirst(sub->collectionsRoot(), [&](const KPNode::Ptr& node) {
            if (!node->dbNode())
                return;
            node->setRightNumber(collections.value(uriOf(node->dbNode())).toLongLong());
            if (bar)
                bar->favorites().refreshFavoriteByNode(node.get());
        });
    }
    applyTags(result);
    applyIndexFolders(result.value(K::IndexObj).toMap());
    redrawSideBars();
}

void BadgeRecountDriver::applyTags(const QVariantMap& result)
{
    const QVariantMap tags = result.value(K::TagObj).toMap();
    SubSideBarDataSource* sub = m_ctx.subSideBarDataSource;
    if (!sub || tags.isEmpty() || !sub->tagsRoot())
        return;
    if (result.contains(K::UnTagCount))
        setNumber(sub->untagNode(), result.value(K::UnTagCount).toLongLong());
    // The header sums the tags directly under it; it starts from 0 on every run instead of
    // adding onto the last run's sum.
    const KPNode::Ptr& root = sub->tagsRoot();
    root->setRightNumber(0);
    for (const KPNode::Ptr& node : root->children()) {
        if (node->nodeType() == T::TagNode && node->tag()) {
            const qint64 count = tags.value(uriOf(node->tag())).toLongLong();
            node->setRightNumber(count);
            root->setRightNumber(root->rightNumber() + count);
            if (m_ctx.sideBarDataSource)
                m_ctx.sideBarDataSource->favorites().refreshFavoriteByNode(node.get());
        } else if (node->nodeType() == T::TagGroupNode) {
            for (const KPNode::Ptr& child : node->children()) {
                if (child->tag())
                    child->setRightNumber(tags.value(uriOf(child->tag())).toLongLong());
            }
        }
    }
}

void BadgeRecountDriver::applyIndexFolders(const QVariantMap& counts)
{
    const SideBarDataSource* bar = m_ctx.sideBarDataSource;
    if (!bar || counts.isEmpty())
        return;
    auto apply = [&counts](const KPNode::Ptr& node) {
        if (const QString path = folderPathOf(*node); !path.isEmpty())
            node->setRightNumber(counts.value(path).toLongLong());
    };
    eachDepthFirst(bar->indexFolderNode(), apply);
    eachDepthFirst(bar->sourceFolderNode(), apply);
}

void BadgeRecountDriver::redrawSideBars()
{
    // A repaint is enough: the rows draw the nodes' numbers. Rebuilding the rows would abort a
    // title the user is typing in either side bar.
    if (m_ctx.sideBarDataSource && m_ctx.sideBarDataSource->sideBarView())
        m_ctx.sideBarDataSource->sideBarView()->viewport()->update();
    if (m_ctx.subSideBarDataSource && m_ctx.subSideBarDataSource->sideBarView())
        m_ctx.subSideBarDataSource->sideBarView()->viewport()->update();
}
