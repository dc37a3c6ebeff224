// The window's side of the document grid: the sections the grid shows and which object stands
// at an address, the geometry of the sections (in the grid's y-up content coordinates: section 0
// at the top), the layout manager and the views of each item view type, the lookups from
// addresses to items and back, and the per-node memory of view settings and scroll positions.
//
// The grid's user actions (keys, selection, the context menu, swipes, drops) are not answered
// here: they are handed to GridActions, whose members the window wires to the part that owns
// each; an unset member leaves the grid's default.
//
// Per-node memory is keyed by the node's title, so two nodes of one title share it; it lives in
// memory only.
//
// Threads: main thread only.
#pragma once

#include "Browser/CollectionView/KPCollectionViewDataSource.h"
#include "Browser/CollectionView/KPCollectionViewDelegate.h"
#include "Browser/KPDefaultSectionLayoutManager.h"
#include "Browser/KPGroupingEngine.h"
#include "Browser/KPItemViewType.h"
#include "Browser/KPNotTitleLayoutManager.h"
#include "Browser/KPSectionData.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "SideBar/KPNode.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

struct MainWindowContext;

// The grid's user actions, each optional.
struct GridActions {
    std::function<void(QKeyEvent* event)> keyDown;
    std::function<void()> itemDidSelected;
    std::function<std::unique_ptr<QMenu>(const KPSectionIndexSet& indexSet)> menu;
    std::function<void(int type)> swipeChange;
    std::function<std::optional<Qt::DropAction>(QDropEvent* info)> draggingEnter;
    std::function<std::optional<Qt::DropAction>(QDropEvent* info)> draggingUpdated;
    std::function<void()> draggingExited;
    std::function<bool(QDropEvent* info)> performDragOperation;
    std::function<void(QDropEvent* info)> concludeDragOperation;
    // The sections were loaded into the grid again (a new listing, a regrouping).
    std::function<void()> reloaded;
};

class DataBaseEngine;
class KPDataSourceManager;
class KPDataSourceSortManager;
class KPViewSizeManager;

class GridDataSource final : public KPCollectionViewDataSource, public KPCollectionViewDelegate {
public:
    // The keys of a node's saved view settings (the grouping reads the other four).
    static inline const QString kDisplayModeKey = QStringLiteral("DisplayMode");
    static inline const QString kGroupTypeKey = KPGroupingEngine::kGroupTypeKey;
    static inline const QString kGroupAscendingKey = KPGroupingEngine::kGroupAscendingKey;
    static inline const QString kFileTypeKey = KPGroupingEngine::kFileTypeKey;
    static inline const QString kFileAscendingKey = KPGroupingEngine::kFileAscendingKey;

    // Takes the grid of ctx (when there is one) as its data source and delegate, and listens for
    // loaded thumbnails.
    explicit GridDataSource(MainWindowContext& ctx);
    ~GridDataSource() override;

    GridActions actions;

    // ---- the sections ----
    QList<KPSectionDataPtr>& dataSource() { return m_dataSource; }
    const QList<KPSectionDataPtr>& dataSource() const { return m_dataSource; }
    // Groups the listed set into the sections (the special views too) and reloads the grid
    // where a view asks it to.
    KPGroupingEngine& grouping() { return *m_grouping; }
    void reloadData();
    KPSectionDataPtr sectionDataWithIndex(qint64 index) const;
    // The item at an address (a document loads its display values when they are read); none
    // when nothing is there.
    std::optional<KPSectionItem> itemDataWithSectionIndexSet(const std::optional<KPSectionIndexSet>& indexSet) const;
    // The documents at the addresses, in their order, skipping addresses that hold none.
    QList<KPItemDataPtr> itemDatasWithSectionIndexSets(const QList<KPSectionIndexSet>& indexSets) const;
    std::optional<KPSectionIndexSet> indexSetWithItemData(const KPSectionItem& item) const;
    // Removes the addressed items, the sections left empty, and the items from the listed set.
    void removeItemDataWithIndexSets(const QList<KPSectionIndexSet>& indexSets);

    // ---- geometry ----
    // (layout width, content height): never lower than the visible height.
    QSizeF contentSize();
    // The manager of the current item view type with its layout width set; null for a type
    // that has none.
    KPSectionContentLayoutManager* layoutManager();
    // The manager an item view type lays its sections out with (its width not set).
    KPSectionContentLayoutManager* layoutManagerForType(int itemViewType);

    // ---- per-node memory ----
    void saveSortInfoWithNode(const KPNode* node);
    std::optional<QVariantMap> sortInfoWithNode(const KPNode* node) const;
    // The grid's visible rectangle, and back: the same distance from the top of the content
    // (nothing when none was saved or it was empty).
    void saveScrollFrameWithNode(const KPNode* node);
    void scrollFrameWithNode(const KPNode* node);

    // ---- redraws ----
    void onGraphicResourceDidLoadNotification(const platform::Notification& note);
    void resetCollectionViewTheme();

    // ---- KPCollectionViewDataSource ----
    qint64 collectionViewSectionCount(KPCollectionView* view) override;
    qint64 collectionViewItemCount(KPCollectionView* view, qint64 sectionIndex) override;
    std::optional<KPSectionItem> collectionViewSectionItemObject(KPCollectionView* view,
                                                                 const KPSectionIndexSet& indexSet) override;

    // ---- KPCollectionViewDelegate ----
    bool collectionViewSectionIsExpand(KPCollectionView* view, qint64 sectionIndex) override;
    double collectionViewContentHeight(KPCollectionView* view) override;
    QRectF collectionViewSectionRect(KPCollectionView* view, qint64 sectionIndex) override;
    KPSectionContentLayoutManager* collectionViewSectionLayoutManager(KPCollectionView* view,
                                                                     qint64 sectionIndex) override;
    std::optional<KPCollectionSectionView*> collectionViewWillDisplaySectionView(
        KPCollectionView* view, KPCollectionSectionView* shown, qint64 sectionIndex) override;
    std::optional<KPCollectionItemView*> collectionViewWillDisplayItemView(KPCollectionView* view,
                                                                           KPCollectionItemView* shown,
                                                                           const KPSectionIndexSet& indexSet) override;
    void collectionViewKeyDown(KPCollectionView* view, QKeyEvent* event) override;
    void collectionViewItemDidSelected(KPCollectionView* view) override;
    std::unique_ptr<QMenu> collectionViewMenu(KPCollectionView* view, const KPSectionIndexSet& indexSet) override;
    void collectionViewSwipeChange(KPCollectionView* view, int type) override;
    std::optional<Qt::DropAction> onCollectionViewDraggingEnter(KPCollectionView* view, QDropEvent* info) override;
    std::optional<Qt::DropAction> onCollectionViewDraggingUpdated(KPCollectionView* view, QDropEvent* info) override;
    void onCollectionViewDraggingExited(KPCollectionView* view) override;
    bool onCollectionViewPerformDragOperation(KPCollectionView* view, QDropEvent* info) override;
    void onCollectionViewConcludeDragOperation(KPCollectionView* view, QDropEvent* info) override;

private:
    KPViewSizeManager& viewSizes() const;
    KPDataSourceSortManager& sortSettings() const;
    KPDataSourceManager& listed() const;
    int itemViewType() const;
    QSizeF scrollViewSize() const;
    // The stacked heights of the sections for the current layout, remade when a section, its
    // expansion or anything the layout computes with changed since the last question. The grid
    // asks for every section's rectangle in each layout pass, so each answer must not walk
    // the sections again.
    struct Geometry {
        std::vector<double> layoutKey;
        std::vector<std::tuple<const KPSectionData*, qsizetype, bool>> shape;
        // below[i]: the heights of sections 0 to i together.
        std::vector<double> below;
        double contentHeight = 0; // never lower than the visible height
        double width = 0;
    };
    const Geometry& geometry();

    MainWindowContext& m_ctx;
    // The grid this object was installed into; released again when this object goes.
    QPointer<KPCollectionView> m_grid;
    QList<KPSectionDataPtr> m_dataSource;
    std::unique_ptr<KPGroupingEngine> m_grouping;
    KPDefaultSectionLayoutManager m_defaultSectionLayoutManager;
    KPNotTitleLayoutManager m_notTitleLayoutManager;
    Geometry m_geometry;
    QHash<QString, QVariantMap> m_cacheNodeSortInfos;
    // The visible rectangle and the content height it was taken in: namesakes list different
    // numbers of documents, and a position is restored as the same distance from the top.
    struct SavedFrame {
        QRectF visible;
        double contentHeight = 0;
    };
    QHash<QString, SavedFrame> m_cacheNodeFrames;
    std::vector<platform::ObserverToken> m_observers;
};
