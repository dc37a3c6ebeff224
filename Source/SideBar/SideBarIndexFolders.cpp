#include "SideBar/SideBarIndexFolders.h"

#include "Platform/Foundation/Paths.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "SideBar/KPNodeTreeModel.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPContextHelper.h"
#include "IndexFolder/FSEventsListener.h"
#include "IndexFolder/KPIndexFolderManager.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QUrl>
#include <algorithm>

using platform::Paths;
namespace T = SideBarNodeType;

namespace {

// The name of the iCloud source that never shows sub-folders.
const QString kPhotoStream = QStringLiteral("Photo Stream");

QString cleanPath(const QString& path)
{
    return path.isEmpty() ? QString() : QDir::cleanPath(path);
}

// A folder given as a file URL, or as a plain path.
QString folderPathOf(const QVariant& value)
{
    if (value.typeId() == QMetaType::QUrl)
        return cleanPath(value.toUrl().toLocalFile());
    const QString text = value.toString();
    if (text.startsWith(QLatin1String("file:")))
        return cleanPath(QUrl(text).toLocalFile());
    return cleanPath(text);
}

bool folderIsMissing(const QString& path)
{
    return path.isEmpty() || !QFileInfo(path).isDir();
}

DBIndexFolder folderOf(const QVariant& object)
{
    return DBIndexFolder(platform::ManagedObject::fromRef(object));
}

} // namespace

SideBarIndexFolders::SideBarIndexFolders(SideBarContext& context)
    : m_ctx(context)
{
    auto& center = platform::NotificationCenter::defaultCenter();
    m_tokens.push_back(center.addObserver(AddIndexFolderNotification, [this](const platform::Notification& note) {
        newIndexFolderByDicInfo(note.object.toMap());
    }));
    m_tokens.push_back(center.addObserver(RemoveIndexFolderNotification, [this](const platform::Notification& note) {
        onRemoveIndexFolder(note.object.toString());
    }));
    m_tokens.push_back(center.addObserver(IndexFolderSyncStartNotification, [this](const platform::Notification& note) {
        onIndexFolderSyncStart(folderOf(note.object));
    }));
    m_tokens.push_back(center.addObserver(IndexFolderSyncNodeGeneratorFinishedNotification,
                                          [this](const platform::Notification& note) {
                                              onIndexFolderSyncNodeGeneratorFinished(note.object.toMap());
                                          }));
    m_tokens.push_back(center.addObserver(IndexFolderSyncFinishedNotification, [this](const platform::Notification& note) {
        onIndexFolderSyncFinished(folderOf(note.object));
    }));
}

SideBarIndexFolders::~SideBarIndexFolders() = default;

QString SideBarIndexFolders::pathOf(const KPNode& node)
{
    return cleanPath(node.indexFolder().path());
}

QList<KPNode::Ptr> SideBarIndexFolders::outermost(QList<KPNode::Ptr> nodes, bool dropMissing)
{
    // An enclosing folder's path sorts before every path inside it.
    std::stable_sort(nodes.begin(), nodes.end(),
                     [](const KPNode::Ptr& a, const KPNode::Ptr& b) { return pathOf(*a) < pathOf(*b); });
    QList<KPNode::Ptr> kept;
    while (!nodes.isEmpty()) {
        const KPNode::Ptr first = nodes.takeFirst();
        const QString outer = pathOf(*first);
        nodes.removeIf([&outer](const KPNode::Ptr& n) { return Paths::isPathInside(pathOf(*n), outer); });
        kept.append(first);
    }
    if (dropMissing)
        kept.removeIf([](const KPNode::Ptr& n) { return n->boolShowWarning(); });
    return kept;
}

QStringList SideBarIndexFolders::watchPaths() const
{
    QStringList paths;
    for (const KPNode::Ptr& node : outermost(m_ctx.folderNodes(), true))
        paths.append(pathOf(*node));
    return paths;
}

void SideBarIndexFolders::reloadWatchPaths() const
{
    if (m_ctx.services.eventsListener)
        m_ctx.services.eventsListener->reloadWatchPaths(watchPaths());
}

// ---- loading and adding ----

void SideBarIndexFolders::loadFolders(const platform::ContextPtr& context)
{
    DataBaseEngine* library = m_ctx.services.library;
    if (!library || !context)
        return;
    const auto fetch = [&](const QString& format) {
        const auto predicate = platform::Predicate::format(format, {IndexFolderType::Folder});
        auto found = predicate ? library->queryRecordByName(DBIndexFolder::entityName(), *predicate, std::nullopt, context)
                               : platform::Result<QList<platform::ManagedObjectPtr>>();
        return found ? DBRecord::recordsOf<DBIndexFolder>(*found) : QList<DBIndexFolder>();
    };
    const auto add = [&](const DBIndexFolder& folder, KPNode& parent) {
        KPNode::Ptr node = KPNode::initWithTitle(folder.title(), T::IndexFolderNode);
        node->setData(folder.ref());
        node->setBoolShowWarning(folderIsMissing(folder.path()));
        m_ctx.decorate(*node);
        parent.addChild(node);
    };
    for (const DBIndexFolder& source : fetch(QStringLiteral("isTrash == NO && !(type like[cd] %@)")))
        add(source, source.type() == IndexFolderType::iCloud ? *m_ctx.iCloudNode : *m_ctx.sourceFolderNode);
    for (const DBIndexFolder& folder : fetch(QStringLiteral("isTrash == NO && (type like[cd] %@)")))
        add(folder, *m_ctx.indexFolderNode);
    reloadWatchPaths();
}

KPNode::Ptr SideBarIndexFolders::newIndexFolderByDicInfo(const QVariantMap& info)
{
    const QString path = folderPathOf(info.value(IndexFolderDicInfo::Path));
    const QString type = info.value(IndexFolderDicInfo::Type).toString();
    const platform::ContextPtr context = m_ctx.storeContext();
    if (path.isEmpty() || !QDir::isAbsolutePath(path) || !context)
        return nullptr;
    // The same folder twice would be shown twice and counted twice.
    for (const KPNode::Ptr& node : m_ctx.folderNodes()) {
        if (pathOf(*node) == path)
            return node;
    }
    DBIndexFolder folder = DBRecord::insertNewObject<DBIndexFolder>(context);
    folder.setType(type);
    folder.setTitle(info.value(IndexFolderDicInfo::Title).toString());
    folder.setPath(path);
    KPContextHelper::save(context);

    KPNode::Ptr node = KPNode::initWithTitle(folder.title(), T::IndexFolderNode);
    node->setData(folder.ref());
    node->setBoolShowWarning(folderIsMissing(path));
    m_ctx.decorate(*node);
    KPNode& parent = type.compare(IndexFolderType::Folder, Qt::CaseInsensitive) == 0 ? *m_ctx.indexFolderNode
                     : type == IndexFolderType::iCloud                                ? *m_ctx.iCloudNode
                                                                                       : *m_ctx.sourceFolderNode;
    m_ctx.updateRootNodeStatus([&] { parent.addChild(node); });
    reloadWatchPaths();
    if (m_ctx.view) {
        m_ctx.view->expandNode(m_ctx.indexFolderNode.get());
        m_ctx.view->expandNode(m_ctx.sourceFolderNode.get());
    }
    if (!node->boolShowWarning())
        syncIndexFolderByNode(folder);
    return node;
}

// ---- syncing ----

void SideBarIndexFolders::syncIndexFolderByNode(const DBIndexFolder& folder)
{
    const QString path = cleanPath(folder.path());
    if (path.isEmpty())
        return;
    if (m_ctx.indexFolderNode->hasChildren() || m_ctx.sourceFolderNode->hasChildren()) {
        const QList<KPNode::Ptr> kept = outermost(m_ctx.folderNodes());
        const bool isKept = std::any_of(kept.begin(), kept.end(),
                                        [&folder](const KPNode::Ptr& n) { return n->indexFolder() == folder; });
        const bool enclosed = std::any_of(kept.begin(), kept.end(),
                                          [&path](const KPNode::Ptr& n) { return Paths::isPathInside(path, pathOf(*n)); });
        // The enclosing folder's sync covers this one.
        if (!isKept && enclosed)
            return;
    }
    if (m_ctx.services.eventsListener)
        m_ctx.services.eventsListener->addListener(this, path);
    if (m_ctx.services.indexFolderManager)
        m_ctx.services.indexFolderManager->syncIndexFolder(folder, {{IndexFolderAction::ActionType, IndexFolderAction::TopLevel}});
}

void SideBarIndexFolders::refreashAllIndexFolder()
{
    QList<KPNode::Ptr> nodes = m_ctx.indexFolderNode->children();
    for (const KPNode::Ptr& node : m_ctx.sourceFolderNode->children()) {
        if (node != m_ctx.iCloudNode)
            nodes.append(node);
    }
    if (nodes.isEmpty())
        return;
    // A missing folder goes after the folders inside it were dropped: they are not synced
    // either.
    QList<KPNode::Ptr> folders = outermost(nodes, true);
    folders.append(m_ctx.iCloudNode->children());
    for (const KPNode::Ptr& node : std::as_const(folders))
        syncIndexFolderByNode(node->indexFolder());
}

// ---- removing ----

void SideBarIndexFolders::onRemoveIndexFolder(const QString& path)
{
    const QString target = cleanPath(path);
    QList<KPNode::Ptr> matches;
    for (const KPNode::Ptr& node : m_ctx.folderNodes()) {
        if (!target.isEmpty() && pathOf(*node) == target)
            matches.append(node);
    }
    if (matches.isEmpty())
        return;
    const QList<KPNode::Ptr> syncedBefore = outermost(m_ctx.folderNodes(), true);
    m_ctx.updateRootNodeStatus([&] {
        for (const KPNode::Ptr& node : std::as_const(matches))
            node->removeFromParentNode();
    });
    reloadWatchPaths();
    for (const KPNode::Ptr& node : std::as_const(matches)) {
        if (m_ctx.services.eventsListener)
            m_ctx.services.eventsListener->removeListener(this, pathOf(*node));
        if (m_ctx.services.indexFolderManager)
            m_ctx.services.indexFolderManager->stopIndexFolder(node->indexFolder());
    }
    // Folders the removed one enclosed have no sync covering them any more: they get their own.
    for (const KPNode::Ptr& node : outermost(m_ctx.folderNodes(), true)) {
        if (!syncedBefore.contains(node))
            syncIndexFolderByNode(node->indexFolder());
    }
    platform::NotificationCenter::defaultCenter().post(RefreshItemCountNotification);
}

// ---- what the syncers report ----

KPNode::Ptr SideBarIndexFolders::nodeByIndexFolder(const DBIndexFolder& folder) const
{
    if (!folder)
        return nullptr;
    for (const KPNode::Ptr& node : m_ctx.folderNodes()) {
        if (node->indexFolder() == folder)
            return node;
    }
    return nullptr;
}

DBIndexFolder SideBarIndexFolders::indexFolderByPath(const QString& path) const
{
    const QString changed = cleanPath(path);
    QList<KPNode::Ptr> holders;
    for (const KPNode::Ptr& node : m_ctx.folderNodes()) {
        if (Paths::isPathInside(changed, pathOf(*node)))
            holders.append(node);
    }
    // The outermost holder is the one whose sync covers the change.
    const QList<KPNode::Ptr> kept = outermost(holders);
    return kept.isEmpty() ? DBIndexFolder() : kept.first()->indexFolder();
}

void SideBarIndexFolders::onIndexFolderSyncStart(const DBIndexFolder& folder)
{
    const KPNode::Ptr node = nodeByIndexFolder(folder);
    if (!node)
        return;
    node->setIsBusy(true);
    node->setRightNumber(0);
    m_ctx.reloadNode(node.get());
}

void SideBarIndexFolders::onIndexFolderSyncNodeGeneratorFinished(const QVariantMap& treeInfo)
{
    const KPNode::Ptr node = nodeByIndexFolder(folderOf(treeInfo.value(IndexFolderTreeInfo::IndexFolder)));
    if (!node)
        return;
    const KPFileNode::Ptr root = treeInfo.value(IndexFolderTreeInfo::FileNode).value<KPFileNode::Ptr>();
    const bool photoStream = node->parent() == m_ctx.iCloudNode && node->title() == kPhotoStream;
    // Sub-folders still there keep their nodes, so a pass (one runs on every change on disk)
    // leaves the selected sub-folder selected and the opened ones open.
    QHash<QString, KPNode::Ptr> previous;
    {
        std::vector<KPNode*> pending{node.get()};
        while (!pending.empty()) {
            KPNode* parent = pending.back();
            pending.pop_back();
            for (const KPNode::Ptr& child : parent->children()) {
                if (child->nodeType() == T::SubIndexFolderNode)
                    previous.insert(child->data().toString(), child);
                pending.push_back(child.get());
            }
        }
    }
    const auto rebuild = [&] {
        for (const KPNode::Ptr& kept : std::as_const(previous))
            kept->removeAllChildren();
        node->removeAllChildren();
        if (!root || photoStream)
            return;
        // A folder the walk could not reach is shown as missing, without contents.
        const bool reached = root->listing() != KPFileNode::Listing::Missing &&
                             root->listing() != KPFileNode::Listing::Unreadable;
        node->setBoolShowWarning(!reached);
        node->setRightNumber(root->fileNodes().size());
        // Depth first, each folder's badge the files directly in it; a stack rather than
        // recursion, as deep trees exist.
        std::vector<std::pair<KPNode*, const KPFileNode*>> pending{{node.get(), root.get()}};
        while (!pending.empty()) {
            const auto [parent, snapshot] = pending.back();
            pending.pop_back();
            for (const KPFileNode::Ptr& folder : snapshot->folderNodes()) {
                KPNode::Ptr child = previous.take(folder->path());
                if (!child) {
                    child = KPNode::initWithSubIndexFolder(folder->path());
                    m_ctx.decorate(*child);
                }
                child->setRightNumber(folder->fileNodes().size());
                parent->addChild(child);
                pending.emplace_back(child.get(), folder.get());
            }
        }
    };
    if (m_ctx.view)
        m_ctx.view->reloadAll(rebuild);
    else
        m_ctx.model->reset(rebuild);
}

void SideBarIndexFolders::onIndexFolderSyncFinished(const DBIndexFolder& folder)
{
    const KPNode::Ptr node = nodeByIndexFolder(folder);
    if (!node)
        return;
    node->setIsBusy(false);
    m_ctx.reloadNode(node.get());
    const bool popoverOpen = m_ctx.services.isTagPopoverOpen && m_ctx.services.isTagPopoverOpen();
    // A selected sub-folder lists part of what the pass looked at, so it is shown again too.
    KPNode::Ptr selected = m_ctx.selectedNode();
    bool inside = false;
    for (KPNode::Ptr n = selected; n && !inside; n = n->parent())
        inside = n == node;
    if (inside && !popoverOpen && m_ctx.delegate.onSideBarNodeChange)
        m_ctx.delegate.onSideBarNodeChange(selected);
    platform::NotificationCenter::defaultCenter().post(RefreshItemCountNotification, RefreshItemCountIndexFolder);
}

void SideBarIndexFolders::directoryWasChange(const QString& path)
{
    const DBIndexFolder folder = indexFolderByPath(path);
    if (folder && m_ctx.services.indexFolderManager)
        m_ctx.services.indexFolderManager->syncIndexFolder(
            folder, {{IndexFolderAction::ActionType, IndexFolderAction::FolderWasChange}, {IndexFolderAction::Folder, path}});
}
