// The main side bar's index folders and document sources: loading them, adding and removing
// one, starting their syncs, watching them, and showing what the syncers report (the busy
// spinner, the sub-folder tree with a file count per folder, a fresh look at the selected
// folder when its sync ends).
//
// Only outermost folders are synced and watched: a folder inside another is shown, but the
// enclosing folder's sync covers its files (two nested syncs could import one new file twice).
// Nesting, like every path test here, is by whole components and exact (Linux paths are
// case-sensitive): "/a/foo" does not enclose "/a/foobar". A removal finds its folder by exact
// path, never by pattern. A missing folder shows its warning and is neither synced nor watched
// at start, and neither are the folders inside it.
//
// Threads: main thread only (the syncers post their reports on the main queue).
#pragma once

#include "SideBar/SideBarContext.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Store/DBIndexFolder.h"
#include "IndexFolder/FSEventListenerDelegate.h"

#include <QVariantMap>
#include <vector>

class SideBarIndexFolders : public FSEventListenerDelegate {
public:
    explicit SideBarIndexFolders(SideBarContext& context);
    ~SideBarIndexFolders() override;
    SideBarIndexFolders(const SideBarIndexFolders&) = delete;
    SideBarIndexFolders& operator=(const SideBarIndexFolders&) = delete;

    // The folders of the store under INDEX FOLDER, SOURCE and the iCloud node, with their
    // warnings, and the watch list (part of the side bar's load).
    void loadFolders(const platform::ContextPtr& context);

    // Stores, shows and syncs a new folder (an IndexFolderDicInfo); the node, or null when the
    // info names no folder. A folder that is already in the library is not added again.
    KPNode::Ptr newIndexFolderByDicInfo(const QVariantMap& info);
    // Syncs every outermost folder that exists.
    void refreashAllIndexFolder();
    // Listens below the folder and queues a full sync, unless another folder encloses it.
    void syncIndexFolderByNode(const DBIndexFolder& folder);
    void onRemoveIndexFolder(const QString& path);

    KPNode::Ptr nodeByIndexFolder(const DBIndexFolder& folder) const;
    // The outermost folder that holds path, or nil.
    DBIndexFolder indexFolderByPath(const QString& path) const;

    void onIndexFolderSyncStart(const DBIndexFolder& folder);
    void onIndexFolderSyncNodeGeneratorFinished(const QVariantMap& treeInfo);
    void onIndexFolderSyncFinished(const DBIndexFolder& folder);
    void directoryWasChange(const QString& path) override;

    // The paths given to the event listener: the outermost existing folders.
    QStringList watchPaths() const;
    // nodes sorted by path, reduced to those no other of them encloses. With dropMissing, a
    // kept folder that shows the warning is dropped after the folders inside it were.
    static QList<KPNode::Ptr> outermost(QList<KPNode::Ptr> nodes, bool dropMissing = false);

private:
    static QString pathOf(const KPNode& node);
    void reloadWatchPaths() const;

    SideBarContext& m_ctx;
    std::vector<platform::ObserverToken> m_tokens;
};
