// What the document grid asks of and tells its owner: the geometry of each section, the views
// to show, and the user's actions (selection changes, keys, the context menu, swipes, drops).
//
// Rectangles are in the grid's content coordinates: y-up, section 0 at the top of the content.
//
// Defaults mean "not answered". Three calls have no default because the grid asks them of every
// delegate: the section rectangle and, for the move animation, the item view. An answer of
// std::nullopt from collectionViewWillDisplaySectionView or collectionViewWillDisplayItemView
// says "this delegate shows no views" and the grid then shows nothing at all; nullptr says
// "nothing at this place" and only that place stays empty.
//
// Threads: main thread only.
#pragma once

#include "Browser/KPSectionIndexSet.h"

#include <QMenu>
#include <QRectF>
#include <Qt>
#include <memory>
#include <optional>

class KPCollectionItemView;
class KPCollectionSectionView;
class KPCollectionView;
class KPSectionContentLayoutManager;
class QDropEvent;
class QKeyEvent;

class KPCollectionViewDelegate {
public:
    // Directions of a horizontal swipe: the fingers moved left, or right.
    static constexpr int kSwipeLeft = 1;
    static constexpr int kSwipeRight = 2;

    virtual ~KPCollectionViewDelegate() = default;

    // ---- geometry and views ----
    // A collapsed section shows its header only.
    virtual bool collectionViewSectionIsExpand(KPCollectionView* view, qint64 sectionIndex) { return true; }
    // The height of the whole content; 0 or less (or not answered) shows nothing.
    virtual double collectionViewContentHeight(KPCollectionView* view) { return 0; }
    virtual QRectF collectionViewSectionRect(KPCollectionView* view, qint64 sectionIndex) = 0;
    // Not owned by the grid; it must outlive the grid's use of it.
    virtual KPSectionContentLayoutManager* collectionViewSectionLayoutManager(KPCollectionView* view,
                                                                             qint64 sectionIndex)
    {
        return nullptr;
    }
    // shown: the view shown for the section now, or null. The answer is shown (filled for the
    // section); a new one is best taken from the grid's dequeueReusableWithClass.
    virtual std::optional<KPCollectionSectionView*> collectionViewWillDisplaySectionView(
        KPCollectionView* view, KPCollectionSectionView* shown, qint64 sectionIndex)
    {
        return std::nullopt;
    }
    virtual std::optional<KPCollectionItemView*> collectionViewWillDisplayItemView(KPCollectionView* view,
                                                                                   KPCollectionItemView* shown,
                                                                                   const KPSectionIndexSet& indexSet) = 0;

    // ---- user actions ----
    // Every key press except Ctrl+A (Escape too, after it cleared the selection).
    virtual void collectionViewKeyDown(KPCollectionView* view, QKeyEvent* event) {}
    // The selection changed; read it with selectedIndexs().
    virtual void collectionViewItemDidSelected(KPCollectionView* view) {}
    // The context menu for a right click on the item at indexSet; the grid pops it up and
    // deletes it once it closes.
    virtual std::unique_ptr<QMenu> collectionViewMenu(KPCollectionView* view, const KPSectionIndexSet& indexSet)
    {
        return nullptr;
    }
    virtual void collectionViewSwipeChange(KPCollectionView* view, int type) {}

    // ---- drops of files and URLs ----
    // The operation offered; not answered offers none.
    virtual std::optional<Qt::DropAction> onCollectionViewDraggingEnter(KPCollectionView* view, QDropEvent* info)
    {
        return std::nullopt;
    }
    // Not answered keeps the operation offered on entering.
    virtual std::optional<Qt::DropAction> onCollectionViewDraggingUpdated(KPCollectionView* view, QDropEvent* info)
    {
        return std::nullopt;
    }
    virtual void onCollectionViewDraggingExited(KPCollectionView* view) {}
    // Whether the drop was taken; the conclusion follows only when it was.
    virtual bool onCollectionViewPerformDragOperation(KPCollectionView* view, QDropEvent* info) { return false; }
    virtual void onCollectionViewConcludeDragOperation(KPCollectionView* view, QDropEvent* info) {}
};
