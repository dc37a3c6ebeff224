// The document grid: a vertical stack of sections, each a section view holding item views
// placed by the section's layout manager. It keeps no model of its own: the data source says how
// many sections and items there are, the delegate gives each section's rectangle, its layout
// manager and the views to show.
//
// Coordinates. Everything the grid, its layouts and its delegate exchange is in y-up content
// coordinates: the origin at the bottom-left of the content, section 0 at the top. The grid is a
// QAbstractScrollArea and has no content widget (a widget is at most 16,777,215 pixels high, and
// a long list is taller): section views are children of the viewport, each covering only the part
// of its section that is on screen, and item views are children of their section view. Content
// rectangles are converted to widget geometry only when a view is placed, and event positions
// to content points only when an event arrives. The scroll bar's value is the distance from the
// top of the content to the top of the viewport.
//
// Virtualisation. Views exist only for sections and items that intersect the visible rectangle;
// the rest go back to per-class reuse pools (KPReusePool), so a grid of any length costs only
// what is on screen. Hit tests use the layout managers' rectangles, never the widgets.
//
// Ownership. The delegate and the data source are not owned. A view shown by the grid belongs to
// the grid's maps; a view taken out goes to its class's pool or is discarded with
// removeFromSuperview() (deleted later, so never inside an event handler of its own). Views the
// delegate dequeued but did not return go back to the pool.
//
// Behaviour towards the user: Ctrl-click toggles, Shift-click extends in reading order across
// sections, a plain click selects one; a drag on the background draws a rubber band that
// replaces the selection and scrolls when it leaves the viewport; a right click (or Meta-click)
// selects the item under it and pops up the delegate's menu; Esc clears the selection, Ctrl+A
// selects everything; other keys go to the delegate. Every delay and animation runs on
// platform::kit::Scheduler::current(), so tests drive them in virtual time.
//
// enabled()/setEnabled() are the grid's own switch: while off it ignores clicks, keys and the
// wheel and its scroll bar is frozen, but drags still reach the delegate (QWidget's enabled
// state, which would stop them, is never touched).
//
// Threads: main thread only.
#pragma once

#include "Browser/CollectionView/KPCollectionDrawRectView.h"
#include "Browser/CollectionView/KPCollectionItemView.h"
#include "Browser/CollectionView/KPCollectionSelection.h"
#include "Browser/CollectionView/KPCollectionViewDataSource.h"
#include "Browser/CollectionView/KPCollectionViewDelegate.h"
#include "Browser/CollectionView/KPReusePool.h"
#include "Browser/CollectionView/KPSwipeTracker.h"
#include "Browser/KPCollectionSectionView.h"
#include "Platform/Kit/Scheduler.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QRectF>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class KPSectionContentLayoutManager;
class QAbstractAnimation;

class KPCollectionView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // The step of the autoscroll that follows a rubber band dragged past an edge.
    static constexpr int kAutoscrollIntervalMs = 30;
    static constexpr int kAnimationMs = 300;

    explicit KPCollectionView(QWidget* parent = nullptr);
    ~KPCollectionView() override;

    // ---- partners and switches ----
    KPCollectionViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(KPCollectionViewDelegate* delegate);
    KPCollectionViewDataSource* dataSource() const { return m_dataSource; }
    void setDataSource(KPCollectionViewDataSource* dataSource) { m_dataSource = dataSource; }
    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    bool allowSelection() const { return m_allowSelection; }
    void setAllowSelection(bool allow) { m_allowSelection = allow; }
    bool allowRegionSelection() const { return m_allowRegionSelection; }
    void setAllowRegionSelection(bool allow) { m_allowRegionSelection = allow; }
    // Stored only: Shift ranges work whatever it says.
    bool allowShiftSelection() const { return m_allowShiftSelection; }
    void setAllowShiftSelection(bool allow) { m_allowShiftSelection = allow; }

    // ---- layout and display ----
    // Forgets every view, the selection and the pools, lays out anew, scrolls to the top and
    // reports the (empty) selection.
    void reloadData();
    // Lays out anew keeping the distance from the top, then reports the selection.
    void updateLayout();
    // The section shown by view was closed: none of its items stays selected, on screen or not,
    // or the next command would act on documents the user can no longer see.
    void sectionViewDidCollapse(const KPCollectionSectionView* view);
    // Lays out anew for the current viewport size (runs on every resize).
    void relayout();
    // The content frame the delegate asks for (zero without content), caching the sections'
    // rectangles; it is never shorter than the viewport.
    QRectF refreshViewFrame();
    QRectF frameUp() const { return m_frame; }
    // The width the layouts are computed for and the visible height: the viewport's size.
    QSizeF scrollViewSize() const;
    // The part of the content on screen (zero without content).
    QRectF visibleRect() const;
    // Shows what intersects rect (content coordinates).
    void updateDisplayWithRect(const QRectF& rect);
    // Redraws the item view shown at the address, if any.
    void updateDisplayWithIndexSet(const KPSectionIndexSet& indexSet);
    // Returns to the pools every view outside rect.
    void removeUnvisibleViews(const QRectF& rect);

    // An idle view of T from its pool, or a new one.
    template <class T>
    T* dequeueReusableWithClass()
    {
        T* view = m_pool->dequeue<T>();
        m_dequeued.append(view);
        return view;
    }
    const KPReusePool& reusePool() const { return *m_pool; }

    QList<KPCollectionItemView*> visibleItemViews() const;
    KPCollectionItemView* itemViewWithIndexSet(const std::optional<KPSectionIndexSet>& indexSet) const;
    KPCollectionSectionView* sectionViewWithIndex(qint64 sectionIndex) const;
    QList<KPCollectionSectionView*> visibleSectionViews() const;
    std::optional<KPSectionItem> itemDataAtIndexSet(const std::optional<KPSectionIndexSet>& indexSet) const;
    qint64 sectionCount() const;
    qint64 itemCountWithSectionIndex(qint64 sectionIndex) const;
    KPSectionContentLayoutManager* layoutManagerWithSectionIndex(qint64 sectionIndex) const;
    // The cached rectangle of the section, if it has one.
    std::optional<QRectF> sectionRect(qint64 sectionIndex) const;

    // ---- hit tests (content coordinates) ----
    // The item's rectangle; zero for none or for a section without a cached rectangle.
    QRectF itemRectWithSectionIndexSet(const std::optional<KPSectionIndexSet>& indexSet) const;
    QList<KPSectionIndexSet> visibleItemIndexSets() const;
    // (section, 0) for each section intersecting the visible rectangle.
    QList<KPSectionIndexSet> visibleSectionIndexSets() const;
    QList<KPSectionIndexSet> itemIndexsWithRect(const QRectF& rect) const;
    QList<KPSectionIndexSet> itemIndexsWithRect(const QRectF& rect, qint64 sectionIndex) const;
    std::optional<KPSectionIndexSet> itemIndexSetWithPoint(const QPointF& point) const;

    // ---- scrolling ----
    // Scrolls the least distance that shows the whole item; nothing when it is already shown.
    void scrollItemWithSectionIndexSet(const std::optional<KPSectionIndexSet>& indexSet);
    void scrollToTop();
    // Scrolls so that the visible rectangle's origin is at point (as far as the content allows).
    void scrollToPoint(const QPointF& point);
    // A content point for a position given in global screen coordinates, and back.
    QPointF contentPointFromGlobal(const QPointF& global) const;
    QPointF viewportPointFromContent(const QPointF& point) const;

    // ---- selection ----
    const QList<KPSectionIndexSet>& selectedIndexs() const { return m_selection.list(); }
    void selectItemIndexWithSectionIndexSet(const KPSectionIndexSet& indexSet);
    // An empty list changes nothing.
    void selectItemIndexWithSectionIndexSets(const QList<KPSectionIndexSet>& indexSets);
    // Neither reports: the caller does.
    void selectAll();
    void deselect();
    // The click rules for a mouse press an item view received.
    void doSelectViewItemWithEvent(QMouseEvent* event);
    // The button of that press went up: a plain press on an item of a multiple selection kept
    // the selection for a drag; released without one, that item alone stays selected.
    void doFinishItemClick(bool dragged);
    void doCollectionViewItemSelectedNotify();
    // While one lives, the delegate hears of no selection change; when the last one goes, it hears
    // once of the selection as it then stands, if anything was held back. For a listing shown
    // again and its selection put back: the moment in between, with nothing selected, is no
    // change of the user's (the inspector would empty and its field lose the keyboard).
    class SelectionNotificationsHeld {
    public:
        explicit SelectionNotificationsHeld(KPCollectionView* view);
        ~SelectionNotificationsHeld();
        SelectionNotificationsHeld(const SelectionNotificationsHeld&) = delete;
        SelectionNotificationsHeld& operator=(const SelectionNotificationsHeld&) = delete;

    private:
        QPointer<KPCollectionView> m_view;
    };

    // ---- scroll state across relayouts ----
    void saveScrollState();
    void restoreBeforeScrollState();

    // ---- animations ----
    // Fades the visible ones of the items out, then runs completion (where the caller removes
    // them from its data) and reloads keeping the scroll position.
    void removeItemWithIndexSets(const QList<KPSectionIndexSet>& indexSets, std::function<void()> completion);
    // For each section named: updateData(section) reorders its items (their count unchanged),
    // and the views move to their new places; then completion runs.
    void refreshSectionItemPositionWithIndexSets(const QList<KPSectionIndexSet>& indexSets,
                                                 std::function<void(qint64)> updateData,
                                                 std::function<void()> completion);

    bool isRegionSelecting() const { return m_regionSelecting; }
    KPCollectionDrawRectView* rubberBandView() const { return m_bandView; }

    // A drag event (enter, move, leave, drop; positions in the viewport) that reached a view laid
    // over the grid, taken as if it had reached the grid.
    void takeDragEvent(QEvent* event);

protected:
    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct ShownSection {
        QPointer<KPCollectionSectionView> view;
        QRectF frame;       // content coordinates
        double windowLow = 0;  // the part of the section the widget covers, in section y
        double windowHigh = 0;
        int qtTop = 0;         // the widget's top in the viewport
    };

    // Geometry.
    double visibleTop() const;
    QRectF contentRectOfItem(const KPSectionIndexSet& indexSet, const QRectF& rectInSection) const;
    QList<qint64> sectionIndexSetWithRect(const QRectF& rect) const;
    QList<qint64> itemIndexSetWithRect(const QRectF& rect, qint64 sectionIndex, qint64 itemCount,
                                       KPSectionContentLayoutManager* layout) const;
    void applyFrame(const QRectF& frame);
    void setScrollTop(int top);
    int scrollTopForPoint(double y) const;

    // Display.
    bool displayItems(qint64 sectionIndex, ShownSection& shown, const QRectF& rect);
    void placeSection(ShownSection& shown);
    void placeItem(KPCollectionItemView* item, const ShownSection& shown);
    void setItemFrame(KPCollectionItemView* item, const QRectF& frameInSection);
    void fileItem(KPCollectionItemView* item, const KPSectionIndexSet& indexSet);
    void settleDequeued(platform::kit::View* kept);
    void recycleItem(KPCollectionItemView* item);
    void recycleSection(qint64 sectionIndex);
    void dropSectionItems(qint64 sectionIndex, bool deselect);
    void discardAllViews();
    void stopShowingViews();
    void refreshSelectionMarks();
    void redisplayVisible();
    void onScrolled();
    void showVisible();

    // Mouse and keys.
    void backgroundMouseDown(QMouseEvent* event);
    void rightMouseDown(QMouseEvent* event);
    void dragRegion(const QPointF& viewportPoint);
    void endRegion();
    void autoscrollStep();
    void hover(const QPointF& viewportPoint);
    void endHover();
    void handleGesture(QEvent* event);
    bool acceptsDrag(const QDropEvent* event) const;

    KPCollectionViewDelegate* m_delegate = nullptr;
    KPCollectionViewDataSource* m_dataSource = nullptr;
    bool m_enabled = true;
    bool m_allowSelection = true;
    bool m_allowRegionSelection = true;
    bool m_allowShiftSelection = false;
    // Set once the delegate said it shows no views; cleared with a new delegate.
    bool m_delegateShowsNoViews = false;

    QRectF m_frame;
    std::map<qint64, QRectF> m_sectionCacheFrames;
    std::map<qint64, ShownSection> m_usedSectionViews;
    QHash<KPSectionIndexSet, QPointer<KPCollectionItemView>> m_visibleItemViews;
    QPointer<QWidget> m_poolHolder;
    std::unique_ptr<KPReusePool> m_pool;
    QList<QPointer<platform::kit::View>> m_dequeued;
    bool m_layingOut = false;
    int m_selectionNotificationsHeld = 0;
    bool m_selectionNotificationMissed = false;

    KPCollectionSelection m_selection;
    std::optional<KPSectionIndexSet> m_lastMoveIndexSet;
    std::optional<KPSectionIndexSet> m_selectAloneAtRelease;
    QPointF m_mouseDownFirstPoint;
    bool m_trackingBackground = false;
    bool m_regionSelecting = false;
    QRectF m_selectingRect;
    KPCollectionSelection m_tmpRegionSelecteds;
    QPointer<KPCollectionDrawRectView> m_bandView;
    QPointF m_lastDragPoint;   // viewport coordinates (Qt)
    platform::kit::Token m_autoscroll;

    bool m_scrollRectBeforeState = false;
    double m_scrollBeforeHeight = 0;
    double m_scrollBeforeY = 0;

    KPSwipeTracker m_swipe;
    std::optional<Qt::DropAction> m_enteredDropAction;
};
