// What the grid shows for a selection in either side bar. Each switch prepares the window
// (pending thumbnails dropped, search reset, the tool-bar buttons chosen, the title posted, the
// second side bar opened or closed, the item view type and selection rules set, overlays taken
// away), runs the store query of the node's type, hands the documents to the listed set and
// rebuilds the grid with the node's own view settings and scroll position.
//
// Listings that finish later (a smart folder's full-text search, the SafeBox) fill the grid
// themselves; a smart folder's hits come back through showSmartFolderHits, which drops hits
// of a folder that is no longer shown.
//
// Index folders list what lies at or below their path by whole components, so "/a/foo" never
// lists "/a/foobar". Smart-folder rules are decoded from bytes anyone could have edited: a bad
// archive shows an empty grid and leaves a log line.
//
// Threads: main thread only.
#pragma once

#include "Browser/KPItemData.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Platform/ObjectStore/SaveNotification.h"
#include "SideBar/KPNode.h"

#include <QImage>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

struct MainWindowContext;
class QWidget;
class KPDataSourceManager;
class KPViewSizeManager;
class DataBaseEngine;

// Which tool-bar controls the shown node wants. The window's chrome reads it after each switch
// (buttonsChanged) and shows or hides its buttons from it; nothing here draws.
struct ContentButtons {
    bool backButton = false;
    bool documentsButtons = false; // the Documents view's own buttons
    bool recentButtons = false;    // the Recent view's filter buttons
    bool groupButtons = false;     // sort and group settings
    double groupButtonsAlpha = 1;
    bool viewModeButton = true;    // icon/list toggle; hidden over tiles
    // The navigation button: the node type's icon and the node's title.
    QImage navigationIcon;
    QString navigationTitle;
    // The centred title above the grid.
    QString centerTitle;
    bool centerTitleShown = false;

    friend bool operator==(const ContentButtons&, const ContentButtons&) = default;
};

class ContentSwitch {
public:
    // How an index folder's path can be reached.
    enum class FolderAccess { Readable, Missing, Unreadable };

    static inline const QString kUpdateLabCenterTitle = QStringLiteral("UpdateLabCenterTitle");
    static inline const QString kSubLeftSideBarWidthKey = QStringLiteral("Int_SubLeftSideBarWidth");
    static inline const QString kFolderNotFoundText =
        QStringLiteral("The path for this index folder can not be found.");
    static inline const QString kFolderNotAccessibleText =
        QStringLiteral("The path for this index folder can not be accessed，please reconnect it again.");

    // How often a refresh held back by an open tag editor looks again.
    static constexpr int kRefreshRetryMs = 300;

    explicit ContentSwitch(MainWindowContext& ctx);
    ~ContentSwitch();
    ContentSwitch(const ContentSwitch&) = delete;
    ContentSwitch& operator=(const ContentSwitch&) = delete;

    // ---- hooks of the views built elsewhere ----
    // The import panel shown over the grid for Importing; null: nothing is shown.
    std::function<QWidget*()> makeImportPanel;
    // The view over the grid of an empty library; null: a plain empty widget.
    std::function<QWidget*(QWidget* parent)> makeNoDocumentView;
    // Told after every switch with the buttons the node wants.
    std::function<void(const ContentButtons&)> buttonsChanged;
    // How a folder can be reached; the file system's answer unless a test replaces it.
    std::function<FolderAccess(const QString& path)> folderAccess;

    // ---- the side bars' delegate callbacks ----
    void onSideBarNodeChange(const KPNode::Ptr& node);
    void onSubSideBarNodeChange(const KPNode::Ptr& node);
    void onSubSideBarNodesChange(const QList<KPNode::Ptr>& nodes);
    void onSideBarBeforeNodeWillChange(const KPNode::Ptr& node);
    void onSubSideBarBeforeNodeWillChange(const KPNode::Ptr& node);

    // Shows the shown selection again: the same listing, the grid kept where it was.
    void reshowSelected();

    // Follows changes of the documents (each save of the library, each recount request: tags,
    // titles, flags, moves, imports) by listing the shown selection again, once per burst; a
    // burst of saves that changed only what listed documents show is shown in place
    // (updateInPlace). A purge's saves, and under any listing but the Trash a burst that changed
    // only documents of the trash it does not list, change nothing shown and list nothing.
    void install();
    // Lists the shown selection again without switching: the grid keeps its selected documents
    // and its scroll position. Search results, a tile's documents, the SafeBox and the import
    // panel are left alone, and so is everything while a document's tag editor is open (the
    // listing follows once it closes).
    void refreshShown();

    // The full-text hits of a smart folder's search; ignored unless node is still shown.
    void showSmartFolderHits(const KPNode::Ptr& node, const QList<KPItemDataPtr>& hits);
    // The same, added to what is listed (a document already listed stays listed once).
    void appendSmartFolderHits(const KPNode::Ptr& node, const QList<KPItemDataPtr>& hits);

    // ---- listings ----
    // The live documents of a folder or collection and of every node below it.
    QList<KPItemDataPtr> allFileInfosByNode(const KPNode::Ptr& node) const;
    // The live documents held directly in an index folder, source or sub-folder and in every
    // node below it.
    QList<KPItemDataPtr> allFileInfosByIndexNode(const KPNode::Ptr& node) const;

    const ContentButtons& buttons() const { return m_buttons; }
    // The overlays over the document area while shown (null otherwise).
    QWidget* noDocumentView() const { return m_noDocumentView; }
    QWidget* importPanel() const;

    static FolderAccess fileSystemFolderAccess(const QString& path);

private:
    class CenterOverlays;

    // ---- switching (ContentSwitch.cpp) ----
    void prepare(const KPNode::Ptr& node);
    void prepareSubSideBar();
    void showMainNode(const KPNode::Ptr& node);
    void showSubNode(const KPNode::Ptr& node);
    // Lists the documents of several tags under their joined names.
    void showTags(const QList<KPNode::Ptr>& nodes);
    // Lists items and groups them by the node's settings (with groupType forced when given),
    // in the node's display mode, scrolled where the node was left.
    void tail(const KPNode::Ptr& node, const QList<KPItemDataPtr>& items, std::optional<int> groupType = {});
    void regroup(const std::optional<QVariantMap>& setting);
    void showEmptyListing();
    void listingMayHaveChanged(bool documentsEdited);
    // Whether a refresh of node (null: several tags) goes through tail, which can tell an
    // unchanged listing.
    bool listsThroughTail(const KPNode* node) const;
    // Whether the listed set holds exactly these documents.
    bool isListed(const QList<KPItemDataPtr>& items) const;
    bool isRefreshable(const KPNode& node) const;
    void selectDocuments(const QList<KPItemDataPtr>& items);
    // Lists the documents the flag or month tiles just built hold.
    void listTileDocuments();
    void showSafeBox(const KPNode::Ptr& node);
    void showImportPanel(bool show);
    void showSecondSideBar(bool show);
    void setTileMode(bool tiles);
    void removeNoDocumentView();
    void showNoDocumentView();
    void postTitle(const QVariant& title);
    void publishButtons();
    void saveNode(const KPNode::Ptr& node);
    bool isShown(const KPNode::Ptr& node) const;

    // ---- saves shown in place (ContentUpdates.cpp) ----
    // What the saves of one burst changed, as far as the shown listing can tell: the metadata
    // records updated, and whether anything else was inserted, updated or deleted; the same for
    // the document records updated.
    struct BurstChanges {
        bool onlyMetadata = true;
        QList<platform::ObjectID> metadata;
        bool onlyDocuments = true;
        QList<platform::ObjectID> documents;
    };
    void noteSave(const platform::SaveNotification& note);
    // Shows the new values of the listed documents whose metadata alone changed, without
    // listing again, when neither the listing (listing: the node it was made for, null for
    // several tags) nor its sections and order can depend on what changed; false when the
    // shown selection must be listed again.
    bool updateInPlace(const KPNode* listing, const BurstChanges& changes);
    // Whether the burst changed only documents that are in the trash and not listed, under a
    // listing that shows none of the trash (emptying the trash marks its documents for
    // deletion first): then nothing shown changed.
    bool leavesListingAlone(const KPNode* listing, const BurstChanges& changes);

    // ---- queries (ContentQueries.cpp) ----
    // The documents matching predicate; none (and a log line naming what) when it could not be
    // parsed or the fetch failed, which fetched tells apart from an empty answer.
    QList<KPItemDataPtr> queryFileInfos(const QString& format, const QVariantList& arguments = {},
                                        bool* fetched = nullptr) const;
    QList<KPItemDataPtr> fetchFileInfos(const platform::Result<platform::Predicate>& predicate,
                                        const QString& what, bool* fetched = nullptr) const;
    static QList<KPItemDataPtr> liveFileInfos(const QList<DBFileInfo>& files);
    QList<KPItemDataPtr> tagFileInfos(const KPNode& node) const;
    QList<KPItemDataPtr> tagGroupFileInfos(const KPNode& node) const;
    QList<KPItemDataPtr> listNodeFileInfos(const KPNode& node) const;
    void showIndexFolder(const KPNode::Ptr& node);
    void showSmartFolder(const KPNode::Ptr& node);
    static QString indexNodePath(const KPNode& node);

    DataBaseEngine& store() const;
    KPDataSourceManager& listed() const;
    KPViewSizeManager& viewSize() const;

    MainWindowContext& m_ctx;
    ContentButtons m_buttons;
    QPointer<QWidget> m_noDocumentView;
    std::unique_ptr<CenterOverlays> m_overlays;
    // The tags shown together by the last onSubSideBarNodesChange (empty otherwise).
    QList<KPNode::Ptr> m_shownSubNodes;
    // A tile view forced icon mode; the listing views get their own mode back.
    bool m_forcedIconMode = false;

    platform::ObserverToken m_recountObserver;
    platform::ObserverToken m_saveObserver;
    bool m_refreshQueued = false;
    bool m_refreshing = false;
    bool m_documentsEdited = false;
    // The saves and recount requests of the burst the queued refresh answers.
    BurstChanges m_burst;
    bool m_burstRecount = false;
    // While set, tail leaves an unchanged listing alone.
    bool m_onlyOtherDocuments = false;
    platform::kit::Token m_refreshRetry;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
