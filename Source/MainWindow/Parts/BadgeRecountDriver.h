// Keeps the numbers at the right of the side-bar rows (the badges) current: every
// "RefreshItemCountNotification" starts a background count over the library, and the result is
// written into the nodes of both side bars when it arrives. The object "Tag" asks for the tag
// badges only; any other object (none, "All", "Tags", "Tag,Collection"…) for all of them.
//
// Only the newest run of a kind counts: starting one cancels the older runs of that kind, whose
// results are dropped when they report, so a burst of requests ends in one update. A full run
// and a tag-only run do not cancel each other.
//
// The counts read a background child of the default context, which sees the main context's
// unsaved changes: a count asked for right after an edit includes it without a save.
//
// With "Bool_ShowSideBarItemCount" off the badges are left alone, but the Trash is still
// counted, because the Empty Trash menu item is enabled from that count and from nothing else.
// Turning the setting on or off asks for a recount and redraws both side bars.
//
// Threads: main thread only (the jobs report on the main thread); the job lists need no lock.
#pragma once

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "SideBar/KPNode.h"
#include "SideBar/RefreshItemCountObject.h"

#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <array>
#include <memory>
#include <vector>

struct MainWindowContext;

class BadgeRecountDriver {
public:
    static inline const QString kShowItemCountKey = QStringLiteral("Bool_ShowSideBarItemCount");
    // The object of a tag-only recount.
    static inline const QString kTagOnly = QStringLiteral("Tag");

    enum class Kind { Full, TagOnly, TrashOnly };

    // Observes the recount notification on ctx's center and the badge setting.
    explicit BadgeRecountDriver(MainWindowContext& ctx);
    // Cancels the runs still counting; their reports go nowhere.
    ~BadgeRecountDriver();
    BadgeRecountDriver(const BadgeRecountDriver&) = delete;
    BadgeRecountDriver& operator=(const BadgeRecountDriver&) = delete;

    void onRefreshItemCountNotification(const platform::Notification& note);
    // What the notification's object asks for, started now.
    void onRecountRequest(const QVariant& object);
    // The badge setting changed: count again and redraw the side bars.
    void observeValueForKeyPath(const QString& key);

    // Whether the badges are shown (a missing setting counts as on).
    static bool showsItemCount();
    // Runs of a kind started and not yet reported.
    int runningCount(Kind kind) const { return int(m_jobs[size_t(kind)].size()); }

    // ---- what is counted (public for the tests) ----
    // Every collection-tree node with a record, depth first.
    QVariantList collectionObjects() const;
    // The tags directly under the tags header and those one level down in tag groups.
    QVariantList tagObjects() const;
    // The folder paths of the index folders, the sources and the iCloud sources, depth first.
    QStringList indexPaths() const;

private:
    void start(Kind kind, const QVariantMap& setting);
    void cancelRuns(Kind kind);
    void finished(Kind kind, const QVariantMap& result, const RefreshItemCountObject::Ptr& job);
    void applyFull(const QVariantMap& result);
    void applyTags(const QVariantMap& result);
    void applyIndexFolders(const QVariantMap& counts);
    void applyTrash(qint64 trashCount);
    void redrawSideBars();

    MainWindowContext& m_ctx;
    std::array<std::vector<RefreshItemCountObject::Ptr>, 3> m_jobs;
    // Reports of jobs that outlive this object find it gone.
    std::shared_ptr<BadgeRecountDriver*> m_self;
    platform::ObserverToken m_recountToken;
    platform::UserDefaults::ObserverToken m_settingToken;
};
