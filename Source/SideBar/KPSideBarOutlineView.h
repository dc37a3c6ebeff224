// The outline view of both side bars: a one-column tree over a KPNodeTreeModel whose rows the
// KPSideBarImageCell paints whole. Beyond a plain tree view it fills its background and the
// selected row from the theme, draws its own disclosure triangles on index-folder rows, tracks
// the row under the mouse, asks its delegate for context menus (a right click, or a left click
// with Meta, which stands for the design's Control), reports when scrolling has come to rest
// and reloads without losing the expanded rows or the selection.
//
// Selection: section headers are never selected. A selection the user makes is first put to
// the delegate's shouldSelectItem; every selection change made by the user or by selectNode is
// reported through selectionDidChange. Changes caused by the model (rows taken away, a reload
// putting the selection back) are not reported as the user's; when one leaves a different
// selection than was last reported, that is reported once the change has ended.
//
// Rows are numbered as the view shows them: from the top, counting only rows whose parents are
// all expanded (rowForNode, nodeAtRow).
//
// Threads: main thread only. Timers run on the Kit's scheduler.
#pragma once

#include "Platform/Kit/Scheduler.h"
#include "SideBar/KPNode.h"
#include "Theme/KPThemeBaseObjectProtocol.h"

#include <QColor>
#include <QList>
#include <QPointer>
#include <QTreeView>
#include <functional>
#include <vector>
#include <optional>

class KPCustomThemeObject;
class KPNodeTreeModel;
class KPSideBarImageCell;
class KPSideBarOutlineView;
class QMenu;
class QMimeData;
class QDropEvent;

// What the view asks of and tells its owner; every member is optional.
struct KPSideBarOutlineViewDelegate {
    // The context menu for the given rows (nullopt: a click off the rows), or nullptr for none.
    // The view shows the menu and deletes it afterwards.
    std::function<QMenu*(KPSideBarOutlineView&, const std::optional<QList<int>>& rows)> outlineViewMenuByIndexSet;
    // Whether the user may select the node; asked before a user's selection changes.
    std::function<bool(KPSideBarOutlineView&, KPNode&)> shouldSelectItem;
    // After the selection changed (see the header comment).
    std::function<void(KPSideBarOutlineView&)> selectionDidChange;
    // Scrolling came to rest; the visible rectangle in content coordinates.
    std::function<void(KPSideBarOutlineView&, const QRect&)> scrollRectChange;
    // Drawn on the background, under the rows, while a drag is over the view.
    std::function<void(KPSideBarOutlineView&, QPainter&)> onDrawDragging;
    // A click released on a row's small button.
    std::function<void(KPSideBarOutlineView&, KPNode&)> rightButtonClick;
    // A drag over the view (a QDragMoveEvent) or its drop (a QDropEvent): whether it is taken.
    // Unset: the view takes no drops.
    std::function<bool(KPSideBarOutlineView&, QDropEvent&)> handleDrop;
    // The data of a drag of the selected nodes, or nullptr for no drag. Unset: no drags.
    std::function<QMimeData*(KPSideBarOutlineView&, const QList<KPNode::Ptr>&)> writeItems;
};

class KPSideBarOutlineView : public QTreeView, public KPThemeBaseObjectProtocol {
public:
    // Scrolling is at rest when no step came for this long.
    static constexpr int kScrollRestMs = 300;
    static constexpr int kIndentation = 12;
    static constexpr qreal kMenuFontSize = 11;

    explicit KPSideBarOutlineView(QWidget* parent = nullptr);
    ~KPSideBarOutlineView() override;

    void setNodeModel(KPNodeTreeModel* model);
    KPNodeTreeModel* nodeModel() const { return m_model; }
    KPSideBarImageCell* cell() const { return m_cell; }
    void setOutlineDelegate(KPSideBarOutlineViewDelegate delegate) { m_delegate = std::move(delegate); }

    // Stores the group and takes "BackgroundColor" and "ItemBackgroundColor" from it when it
    // has them (otherwise the previous colours stay); the cell draws with the same group.
    void setCustomThemeObject(KPCustomThemeObject* group);
    KPCustomThemeObject* customThemeObject() const { return m_group; }
    const QColor& backgroundColor() const { return m_backgroundColor; }
    const QColor& itemBackgroundColor() const { return m_itemBackgroundColor; }
    void themeUpdateWithName(const QString& themeName) override;

    void setIsCoustomDrawTriangle(bool on) { m_isCoustomDrawTriangle = on; }
    bool isCoustomDrawTriangle() const { return m_isCoustomDrawTriangle; }

    // ---- nodes and rows ----
    KPNode* selectedNode() const;
    // Selects the node's row (nullptr: clears the selection); reported to the delegate.
    void selectNode(const KPNode* node);
    void expandNode(const KPNode* node);
    void collapseNode(const KPNode* node);
    bool isNodeExpanded(const KPNode* node) const;
    int rowForNode(const KPNode* node) const;
    KPNode* nodeAtRow(int row) const;
    int numberOfRows() const;
    QList<int> selectedRows() const;
    // The selected nodes in row order, found in one walk.
    QList<KPNode*> selectedNodes() const;
    // The node of every shown row, in row order.
    std::vector<KPNode*> visibleNodes() const;
    // The index of every shown row, in row order.
    QList<QModelIndex> visibleIndexes() const;
    // The row's frame (the column after indentation), in viewport coordinates.
    QRect frameOfRow(int row) const;

    // Rebuilds every row from the tree, keeping the expanded rows and the selection of the
    // nodes still in it; aborts a title edit first. change, when given, is a change of the tree
    // made while the rows are down (any change the model was not told of step by step).
    void reloadAll(const std::function<void()>& change = {});
    // Redraws one node's row (and with children, its whole subtree's rows).
    void reloadItem(const KPNode* node, bool reloadChildren = false);

    // ---- state the tests and the cell read ----
    KPNode* lastMovedNode() const { return m_lastMoved.lock().get(); }
    bool isDragging() const { return m_isDragging; }
    bool isScrollRestPending() const { return m_scrollDoneTimer.isActive(); }
    bool isEditingTitle() const { return m_editing.isValid(); }
    void abortEditing();

    // How a context menu is shown; the default pops it up at the point and deletes it when it
    // closes. Tests put in their own to look at the menu instead.
    using MenuPresenter = std::function<void(QMenu* menu, const QPoint& globalPos)>;
    void setMenuPresenter(MenuPresenter presenter) { m_menuPresenter = std::move(presenter); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    // A right click (or a Meta-click) at a viewport point.
    void rightClickAt(const QPoint& pos, const QPoint& globalPos);
    void showMenu(QMenu* menu, const QPoint& globalPos);
    void hoverAt(const QPoint& pos);
    void scrollStepped();
    void reportSelectionIfChanged();
    void beat();
    void updateHeartBeat();
    KPNode* nodeAt(const QPoint& pos) const;
    bool isOverRightButton(const QModelIndex& index, const QPoint& pos) const;

    KPNodeTreeModel* m_model = nullptr;
    KPSideBarImageCell* m_cell = nullptr;
    KPSideBarOutlineViewDelegate m_delegate;
    KPCustomThemeObject* m_group = nullptr;
    QString m_groupName;
    QColor m_backgroundColor;
    QColor m_itemBackgroundColor;
    bool m_isCoustomDrawTriangle = false;
    bool m_isDragging = false;
    // Selection changes not made by the user or selectNode (reloads, model changes).
    int m_silentSelection = 0;
    std::weak_ptr<KPNode> m_reported;
    bool m_hasReported = false;
    std::weak_ptr<KPNode> m_lastMoved;
    std::weak_ptr<KPNode> m_buttonPressed;
    QPersistentModelIndex m_editing;
    platform::kit::Token m_scrollDoneTimer;
    bool m_beating = false;
    MenuPresenter m_menuPresenter;
};
