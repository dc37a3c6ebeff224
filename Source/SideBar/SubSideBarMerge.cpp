// Merging the selected tags of the tags side bar into one new tag.
#include "SideBar/SubSideBarDataSource.h"

#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/MergeTagsWindowController.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "Store/DBFileInfo.h"
#include "Store/DBHelper.h"
#include "Store/DataBaseEngine.h"

namespace T = SideBarNodeType;

bool SubSideBarDataSource::isMergeNameFree(const QString& name) const
{
    // Compared as a name, never as a pattern: "a*" is free beside "apple".
    return !name.isEmpty() && !isTagNameTaken(name);
}

void SubSideBarDataSource::mergeSelectedTags()
{
    // The sheet needs a window to hang from; without one it would never end.
    if (!m_view || !m_view->window())
        return;
    auto* controller = new MergeTagsWindowController([this](const QString& name) { return isMergeNameFree(name); });
    std::weak_ptr<int> alive = m_alive;
    controller->beginSheedModelForWindow(m_view->window(), [this, alive](int code, const QString& name) {
        if (!alive.expired() && code == 1)
            mergeTags(selectedNodes(), name);
    });
}

void SubSideBarDataSource::mergeTags(const QList<KPNode::Ptr>& nodes, const QString& name)
{
    const platform::ContextPtr context = m_library ? m_library->context() : nullptr;
    if (!context || name.isEmpty())
        return;
    QList<DBFileInfo> files;
    QList<KPNode::Ptr> merged;
    for (const KPNode::Ptr& node : nodes) {
        DBTag tag = node->tag();
        if (node->nodeType() != T::TagNode || !tag)
            continue;
        for (const DBFileInfo& file : tag.fileInfos()) {
            if (!files.contains(file))
                files.append(file);
        }
        tag.setIsTrash(true);
        tag.setFileInfos({});
        merged.append(node);
        post(FavoriteNodeChangeNotification,
             QVariantMap{{FavoriteChangeInfo::Type, FavoriteChangeInfo::Remove}, {FavoriteChangeInfo::URI, tag.URIString()}});
    }
    if (merged.isEmpty())
        return;
    const DBTag tag = m_library->createTagByContext(name, context);
    for (DBFileInfo file : files) {
        file.addTagsObject(tag);
        // The files' own tag lists must lose the merged names too, or an index-folder sync
        // would bring them back.
        DBHelper::writeMetaDataInfoByTags(file);
    }
    save();
    KPNode::Ptr node = KPNode::initWithTitle(name, T::TagNode);
    node->setData(tag.ref());
    node->setRightNumber(files.size());
    decorate(*node);
    reload([&] {
        for (const KPNode::Ptr& old : merged)
            old->removeFromParentNode();
        m_tagsRoot->addChild(node);
        updateNodeSort();
    });
    if (m_view)
        m_view->selectNode(node.get());
    post(RefreshItemCountNotification, SubSideBarKeys::RefreshTag);
}
