#include "SideBar/KPSideBarOutlineView.h"

#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/HeartBeat.h"
#include "Platform/Kit/Input.h"
#include "SideBar/KPNodeTreeModel.h"
#include "SideBar/KPSideBarImageCell.h"
#include "SideBar/SideBarNodeType.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPThemeManager.h"

#include <QContextMenuEvent>
#include <QHash>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSet>

using platform::kit::Input;

namespace {

// Built-in colours for a side bar whose theme has no "Sidebar" group: without a fill the
// selected row could not be told from the others.
const QColor kBuiltInBackground(232, 236, 240);
const QColor kBuiltInSelection(196, 208, 222);

} // namespace

KPSideBarOutlineView::KPSideBarOutlineView(QWidget* parent)
    : QTreeView(parent)
    , m_backgroundColor(kBuiltInBackground)
    , m_itemBackgroundColor(kBuiltInSelection)
{
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setIndentation(kIndentation);
    setUniformRowHeights(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    setAllColumnsShowFocus(false);
    header()->setStretchLastSection(true);
    m_cell = new KPSideBarImageCell(this);
    setItemDelegate(m_cell);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { scrollStepped(); });
    // A busy row inside a collapsed one starts spinning when it comes into view.
    connect(this, &QTreeView::expanded, this, [this] { updateHeartBeat(); });
    KPThemeManager::themeManager()->addThemeObject(this);
}

KPSideBarOutlineView::~KPSideBarOutlineView()
{
    platform::kit::HeartBeat::shared().remove(this);
}

void KPSideBarOutlineView::setNodeModel(KPNodeTreeModel* model)
{
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    m_model = model;
    setModel(model);
    if (!model)
        return;
    connect(model, &KPNodeTreeModel::structureChanged, this, [this] {
        // A reload puts the selection back before it reports.
        if (m_silentSelection == 0)
            reportSelectionIfChanged();
        updateHeartBeat();
    });
    // A row that turns busy starts the beat; beat() stops it once no row is busy.
    connect(model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& topLeft) {
        const KPNode* node = m_model ? m_model->nodeFromIndex(topLeft) : nullptr;
        if (node && node->isBusy() && !m_beating)
            updateHeartBeat();
    });
}

void KPSideBarOutlineView::setCustomThemeObject(KPCustomThemeObject* group)
{
    m_group = group;
    m_groupName = group ? group->themeObjectName() : QString();
    if (group) {
        if (auto* color = group->themeObjectWithName<KPColor>(QStringLiteral("BackgroundColor")); color && color->color())
            m_backgroundColor = *color->color();
        if (auto* color = group->themeObjectWithName<KPColor>(QStringLiteral("ItemBackgroundColor")); color && color->color())
            m_itemBackgroundColor = *color->color();
    }
    m_cell->setCustomThemeObject(group);
    // Row heights come from the group.
    scheduleDelayedItemsLayout();
    viewport()->update();
}

void KPSideBarOutlineView::themeUpdateWithName(const QString&)
{
    if (!m_groupName.isEmpty())
        setCustomThemeObject(KPThemeObject::customThemeObjectWithName(m_groupName));
    viewport()->update();
}

// ---- nodes and rows ----

KPNode* KPSideBarOutlineView::selectedNode() const
{
    if (!m_model || !selectionModel())
        return nullptr;
    const QModelIndexList selected = selectionModel()->selectedRows();
    return selected.isEmpty() ? nullptr : m_model->nodeFromIndex(selected.first());
}

void KPSideBarOutlineView::selectNode(const KPNode* node)
{
    if (!m_model || !selectionModel())
        return;
    const QModelIndex index = m_model->indexForNode(node);
    if (!index.isValid()) {
        selectionModel()->clearSelection();
        return;
    }
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void KPSideBarOutlineView::expandNode(const KPNode* node)
{
    if (m_model)
        expand(m_model->indexForNode(node));
}

void KPSideBarOutlineView::collapseNode(const KPNode* node)
{
    if (m_model)
        collapse(m_model->indexForNode(node));
}

bool KPSideBarOutlineView::isNodeExpanded(const KPNode* node) const
{
    return m_model && isExpanded(m_model->indexForNode(node));
}

int KPSideBarOutlineView::rowForNode(const KPNode* node) const
{
    if (!m_model || !node)
        return -1;
    int row = 0;
    for (QModelIndex i = m_model->index(0, 0); i.isValid(); i = indexBelow(i), ++row) {
        if (m_model->nodeFromIndex(i) == node)
            return row;
    }
    return -1;
}

KPNode* KPSideBarOutlineView::nodeAtRow(int row) const
{
    if (!m_model || row < 0)
        return nullptr;
    QModelIndex i = m_model->index(0, 0);
    for (int r = 0; i.isValid() && r < row; ++r)
        i = indexBelow(i);
    return i.isValid() ? m_model->nodeFromIndex(i) : nullptr;
}

int KPSideBarOutlineView::numberOfRows() const
{
    if (!m_model)
        return 0;
    int rows = 0;
    for (QModelIndex i = m_model->index(0, 0); i.isValid(); i = indexBelow(i))
        ++rows;
    return rows;
}

std::vector<KPNode*> KPSideBarOutlineView::visibleNodes() const
{
    std::vector<KPNode*> nodes;
    if (!m_model)
        return nodes;
    for (QModelIndex i = m_model->index(0, 0); i.isValid(); i = indexBelow(i))
        nodes.push_back(m_model->nodeFromIndex(i));
    return nodes;
}

QList<int> KPSideBarOutlineView::selectedRows() const
{
    QList<int> rows;
    if (!m_model || !selectionModel())
        return rows;
    // One walk over the rows: asking each selected node for its row would cost a walk per node.
    QSet<const KPNode*> selected;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        selected.insert(m_model->nodeFromIndex(index));
    if (selected.isEmpty())
        return rows;
    const std::vector<KPNode*> nodes = visibleNodes();
    for (int row = 0; row < int(nodes.size()); ++row) {
        if (selected.contains(nodes[row]))
            rows.append(row);
    }
    return rows;
}

QList<QModelIndex> KPSideBarOutlineView::visibleIndexes() const
{
    QList<QModelIndex> indexes;
    if (!m_model)
        return indexes;
    for (QModelIndex i = m_model->index(0, 0); i.isValid(); i = indexBelow(i))
        indexes.append(i);
    return indexes;
}

QList<KPNode*> KPSideBarOutlineView::selectedNodes() const
{
    QList<KPNode*> nodes;
    if (!m_model || !selectionModel())
        return nodes;
    QSet<const KPNode*> selected;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        selected.insert(m_model->nodeFromIndex(index));
    if (selected.isEmpty())
        return nodes;
    for (KPNode* node : visibleNodes()) {
        if (selected.contains(node))
            nodes.append(node);
    }
    return nodes;
}

QRect KPSideBarOutlineView::frameOfRow(int row) const
{
    const KPNode* node = nodeAtRow(row);
    return node ? visualRect(m_model->indexForNode(node)) : QRect();
}

KPNode* KPSideBarOutlineView::nodeAt(const QPoint& pos) const
{
    const QModelIndex index = indexAt(pos);
    return index.isValid() && m_model ? m_model->nodeFromIndex(index) : nullptr;
}

void KPSideBarOutlineView::reloadAll(const std::function<void()>& change)
{
    abortEditing();
    if (!m_model)
        return;
    // Expanded rows and the selection are kept by node: a row number may name another node
    // once the tree has changed.
    // Rows opened inside a collapsed row count too: they show open again when it opens.
    std::vector<std::weak_ptr<KPNode>> expanded;
    const std::function<void(const QModelIndex&)> collect = [&](const QModelIndex& parent) {
        const int rows = m_model->rowCount(parent);
        for (int r = 0; r < rows; ++r) {
            const QModelIndex child = m_model->index(r, 0, parent);
            if (isExpanded(child))
                expanded.push_back(m_model->nodeFromIndex(child)->weak_from_this());
            collect(child);
        }
    };
    collect(QModelIndex());
    // Every selected node is kept, not just the first: a merge or a grouping acts on all of them.
    std::vector<std::weak_ptr<KPNode>> keepSelected;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        keepSelected.push_back(m_model->nodeFromIndex(index)->weak_from_this());
    KPNode* current = selectedNode();
    const std::weak_ptr<KPNode> keepCurrent = current ? current->weak_from_this() : std::weak_ptr<KPNode>();
    bool lostSome = false;
    {
        const QScopedValueRollback silent(m_silentSelection, m_silentSelection + 1);
        m_model->reset(change);
        // Indexes are looked up in one walk of the new tree: asking the model node by node costs
        // a scan of the siblings each, which thousands of tags make quadratic.
        QHash<const KPNode*, QModelIndex> indexOf;
        const std::function<void(const QModelIndex&)> map = [&](const QModelIndex& parent) {
            const int rows = m_model->rowCount(parent);
            for (int r = 0; r < rows; ++r) {
                const QModelIndex child = m_model->index(r, 0, parent);
                indexOf.insert(m_model->nodeFromIndex(child), child);
                map(child);
            }
        };
        if (!expanded.empty() || !keepSelected.empty())
            map(QModelIndex());
        for (const auto& weak : expanded) {
            if (const KPNode::Ptr node = weak.lock())
                expand(indexOf.value(node.get()));
        }
        QList<QModelIndex> kept;
        for (const auto& weak : keepSelected) {
            const KPNode::Ptr node = weak.lock();
            const QModelIndex index = node ? indexOf.value(node.get()) : QModelIndex();
            if (index.isValid())
                kept.append(index);
            else
                lostSome = true;
        }
        const QItemSelection restored = KPNodeTreeModel::rangesOf(kept);
        if (!restored.isEmpty()) {
            const KPNode::Ptr currentNode = keepCurrent.lock();
            const QModelIndex currentIndex = currentNode ? indexOf.value(currentNode.get()) : QModelIndex();
            selectionModel()->select(restored, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            selectionModel()->setCurrentIndex(currentIndex.isValid() ? currentIndex : kept.first(),
                                              QItemSelectionModel::NoUpdate);
        }
        lostSome = lostSome || selectionModel()->selectedRows().size() != int(keepSelected.size());
    }
    // A selection that shrank is a change even when its first node stayed.
    if (lostSome && keepSelected.size() > 1) {
        KPNode* now = selectedNode();
        m_reported = now ? now->weak_from_this() : std::weak_ptr<KPNode>();
        m_hasReported = now != nullptr;
        if (m_delegate.selectionDidChange)
            m_delegate.selectionDidChange(*this);
    } else {
        reportSelectionIfChanged();
    }
    updateHeartBeat();
    viewport()->update();
}

void KPSideBarOutlineView::reloadItem(const KPNode* node, bool reloadChildren)
{
    if (!m_model)
        return;
    m_model->nodeChanged(node);
    if (reloadChildren)
        viewport()->update();
}

void KPSideBarOutlineView::reportSelectionIfChanged()
{
    KPNode* current = selectedNode();
    const KPNode::Ptr last = m_reported.lock();
    // A reported node that has gone since counts as a change too.
    if (current == last.get() && !(m_hasReported && !last))
        return;
    m_reported = current ? current->weak_from_this() : std::weak_ptr<KPNode>();
    m_hasReported = current != nullptr;
    if (m_delegate.selectionDidChange)
        m_delegate.selectionDidChange(*this);
}

void KPSideBarOutlineView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    QTreeView::selectionChanged(selected, deselected);
    viewport()->update();
    if (m_silentSelection > 0 || (m_model && m_model->isChangingStructure()))
        return;
    KPNode* current = selectedNode();
    m_reported = current ? current->weak_from_this() : std::weak_ptr<KPNode>();
    m_hasReported = current != nullptr;
    if (m_delegate.selectionDidChange)
        m_delegate.selectionDidChange(*this);
}

QItemSelectionModel::SelectionFlags KPSideBarOutlineView::selectionCommand(const QModelIndex& index,
                                                                           const QEvent* event) const
{
    const auto command = QTreeView::selectionCommand(index, event);
    // Only the user's changes are asked about; code selects through selectNode.
    if (!event || m_silentSelection > 0)
        return command;
    if (!index.isValid() || !m_model)
        return QItemSelectionModel::NoUpdate;
    KPNode* node = m_model->nodeFromIndex(index);
    if (!node || node->nodeType() == SideBarNodeType::SectionNode || command == QItemSelectionModel::NoUpdate)
        return QItemSelectionModel::NoUpdate;
    // Taking a row out of a multiple selection (Ctrl-click) or a Shift-range back to a row
    // already in it needs nobody's consent; a single selection is never emptied by a click.
    if (selectionMode() == QAbstractItemView::ExtendedSelection) {
        if (command & (QItemSelectionModel::Toggle | QItemSelectionModel::Deselect))
            return command;
        if ((command & QItemSelectionModel::Current) && selectionModel()->isSelected(index))
            return command;
    }
    if (selectionModel()->isSelected(index))
        return QItemSelectionModel::NoUpdate;
    if (m_delegate.shouldSelectItem) {
        const KPNode::Ptr keep = node->shared_from_this();
        if (!m_delegate.shouldSelectItem(const_cast<KPSideBarOutlineView&>(*this), *node))
            return QItemSelectionModel::NoUpdate;
    }
    return command;
}

// ---- drawing ----

void KPSideBarOutlineView::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(viewport());
        if (m_backgroundColor.isValid())
            painter.fillRect(event->rect(), m_backgroundColor);
        // Part of the background, under the selection and the rows.
        if (m_isDragging && m_delegate.onDrawDragging)
            m_delegate.onDrawDragging(*this, painter);
        // The selected row is filled across the whole width; there is no other highlight.
        if (m_itemBackgroundColor.isValid() && m_model) {
            for (const QModelIndex& index : selectionModel()->selectedRows()) {
                const QRect row = visualRect(index);
                const QRect full(0, row.y(), viewport()->width(), row.height());
                painter.fillRect(full.intersected(event->rect()), m_itemBackgroundColor);
            }
        }
    }
    QTreeView::paintEvent(event);
}

void KPSideBarOutlineView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    opt.rect = visualRect(index);
    opt.state.setFlag(QStyle::State_Selected, selectionModel() && selectionModel()->isSelected(index));
    opt.state.setFlag(QStyle::State_Open, isExpanded(index));
    opt.state.setFlag(QStyle::State_Editing, m_editing.isValid() && m_editing == index);
    itemDelegateForIndex(index)->paint(painter, opt, index);
}

void KPSideBarOutlineView::updateHeartBeat()
{
    bool busy = false;
    if (m_model) {
        for (QModelIndex i = m_model->index(0, 0); i.isValid() && !busy; i = indexBelow(i))
            busy = m_model->nodeFromIndex(i)->isBusy();
    }
    if (busy && !m_beating)
        platform::kit::HeartBeat::shared().add(this, [this] { beat(); });
    else if (!busy && m_beating)
        platform::kit::HeartBeat::shared().remove(this);
    m_beating = busy;
}

void KPSideBarOutlineView::beat()
{
    bool any = false;
    for (QModelIndex i = indexAt(QPoint(0, 0)); i.isValid(); i = indexBelow(i)) {
        const QRect rect = visualRect(i);
        if (rect.top() > viewport()->height())
            break;
        KPNode* node = m_model->nodeFromIndex(i);
        if (node->isBusy()) {
            node->advanceSpinner();
            viewport()->update(rect);
            any = true;
        }
    }
    if (!any)
        updateHeartBeat();
}

// ---- mouse and keys ----

bool KPSideBarOutlineView::isOverRightButton(const QModelIndex& index, const QPoint& pos) const
{
    const KPNode* node = index.isValid() && m_model ? m_model->nodeFromIndex(index) : nullptr;
    if (!node || !node->boolShowRightButton())
        return false;
    const QRectF frame = visualRect(index);
    return KPSideBarCellGeometry::rightButtonRect(frame, frame.right()).contains(pos);
}

void KPSideBarOutlineView::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (Input::isContextClick(event)) {
        rightClickAt(pos, event->globalPosition().toPoint());
        event->accept();
        return;
    }
    const QModelIndex pressed = indexAt(pos);
    if (event->button() == Qt::LeftButton && isOverRightButton(pressed, pos)) {
        m_buttonPressed = m_model->nodeFromIndex(pressed)->weak_from_this();
        event->accept();
        return;
    }
    m_buttonPressed.reset();
    // The plain item-view handling: the tree view's own branch area plays no part here.
    QAbstractItemView::mousePressEvent(event);
    if (event->button() != Qt::LeftButton || !m_isCoustomDrawTriangle)
        return;
    // The press may have changed the tree (a new selection shows other content).
    const QModelIndex index = indexAt(pos);
    const KPNode* node = index.isValid() ? m_model->nodeFromIndex(index) : nullptr;
    if (node && m_cell->showsTriangle(*node) &&
        KPSideBarImageCell::triangleButtonRectWithCellFrame(visualRect(index)).contains(pos)) {
        setExpanded(index, !isExpanded(index));
        viewport()->update(visualRect(index));
    }
}

void KPSideBarOutlineView::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (const KPNode::Ptr pressed = m_buttonPressed.lock()) {
        m_buttonPressed.reset();
        const QModelIndex index = indexAt(pos);
        if (index.isValid() && m_model->nodeFromIndex(index) == pressed.get() && isOverRightButton(index, pos) &&
            m_delegate.rightButtonClick)
            m_delegate.rightButtonClick(*this, *pressed);
        event->accept();
        return;
    }
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QAbstractItemView::mouseReleaseEvent(event);
}

void KPSideBarOutlineView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    // The second click of a double click on a triangle or a button is one more click there.
    if (Input::isContextClick(event) || isOverRightButton(index, pos)) {
        event->accept();
        return;
    }
    const KPNode* node = index.isValid() ? m_model->nodeFromIndex(index) : nullptr;
    if (m_isCoustomDrawTriangle && node && m_cell->showsTriangle(*node) &&
        KPSideBarImageCell::triangleButtonRectWithCellFrame(visualRect(index)).contains(pos)) {
        setExpanded(index, !isExpanded(index));
        event->accept();
        return;
    }
    QAbstractItemView::mouseDoubleClickEvent(event);
}

void KPSideBarOutlineView::mouseMoveEvent(QMouseEvent* event)
{
    hoverAt(event->position().toPoint());
    if (event->buttons() & Qt::LeftButton)
        QAbstractItemView::mouseMoveEvent(event);
}

void KPSideBarOutlineView::leaveEvent(QEvent* event)
{
    hoverAt(QPoint(-1, -1));
    QTreeView::leaveEvent(event);
}

void KPSideBarOutlineView::hoverAt(const QPoint& pos)
{
    KPNode* node = pos.x() < 0 ? nullptr : nodeAt(pos);
    if (node) {
        node->setBoolShowWarningIn(true);
        reloadItem(node);
    }
    const KPNode::Ptr last = m_lastMoved.lock();
    if (last && last.get() != node) {
        last->setBoolShowWarningIn(false);
        reloadItem(last.get());
    }
    m_lastMoved = node ? node->weak_from_this() : std::weak_ptr<KPNode>();
}

void KPSideBarOutlineView::rightClickAt(const QPoint& pos, const QPoint& globalPos)
{
    abortEditing();
    const auto& menuFor = m_delegate.outlineViewMenuByIndexSet;
    const QModelIndex index = indexAt(pos);
    if (!index.isValid()) {
        if (menuFor) {
            if (QMenu* menu = menuFor(*this, std::nullopt))
                showMenu(menu, globalPos);
        }
        return;
    }
    const QList<int> selection = selectedRows();
    if (selection.isEmpty() || !menuFor)
        return;
    const KPNode::Ptr node = m_model->nodeFromIndex(index)->shared_from_this();
    // A click inside a multiple selection acts on all of it: merging or grouping tags needs it kept.
    if (selection.size() > 1 && selectionModel()->isRowSelected(index.row(), index.parent())) {
        if (QMenu* menu = menuFor(*this, selection))
            showMenu(menu, globalPos);
        return;
    }
    // The clicked row becomes the one selection, if the owner lets it.
    if (!m_delegate.shouldSelectItem || !m_delegate.shouldSelectItem(*this, *node))
        return;
    selectNode(node.get());
    if (QMenu* menu = menuFor(*this, QList<int>{rowForNode(node.get())}))
        showMenu(menu, globalPos);
}

void KPSideBarOutlineView::showMenu(QMenu* menu, const QPoint& globalPos)
{
    menu->setFont(platform::kit::FontResolver::systemFont(kMenuFontSize));
    if (m_menuPresenter) {
        m_menuPresenter(menu, globalPos);
        return;
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
}

void KPSideBarOutlineView::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    // Mouse clicks were handled at the press; the keyboard's menu key asks for the selection.
    if (event->reason() == QContextMenuEvent::Mouse)
        return;
    const KPNode* node = selectedNode();
    if (!node || !m_delegate.outlineViewMenuByIndexSet)
        return;
    const QRect rect = visualRect(m_model->indexForNode(node));
    if (QMenu* menu = m_delegate.outlineViewMenuByIndexSet(*this, selectedRows()))
        showMenu(menu, viewport()->mapToGlobal(rect.center()));
}

void KPSideBarOutlineView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && isEditingTitle()) {
        abortEditing();
        setFocus();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void KPSideBarOutlineView::scrollStepped()
{
    // Only a view taller than its visible part scrolls at all.
    if (verticalScrollBar()->maximum() <= 0)
        return;
    m_scrollDoneTimer = platform::kit::Scheduler::current().after(kScrollRestMs, [this] {
        if (m_delegate.scrollRectChange)
            m_delegate.scrollRectChange(*this, QRect(0, verticalOffset(), viewport()->width(), viewport()->height()));
    });
}

// ---- editing ----

bool KPSideBarOutlineView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    const bool started = QTreeView::edit(index, trigger, event);
    if (started && state() == QAbstractItemView::EditingState)
        m_editing = index;
    return started;
}

void KPSideBarOutlineView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    m_editing = QPersistentModelIndex();
    QTreeView::closeEditor(editor, hint);
    viewport()->update();
}

void KPSideBarOutlineView::abortEditing()
{
    if (!m_editing.isValid() && state() != QAbstractItemView::EditingState)
        return;
    // Editors are the viewport's direct children; nothing typed is kept.
    const auto editors = viewport()->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly);
    for (QLineEdit* editor : editors)
        closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    m_editing = QPersistentModelIndex();
}

// ---- drags ----

void KPSideBarOutlineView::dragEnterEvent(QDragEnterEvent* event)
{
    m_isDragging = true;
    viewport()->update();
    if (m_delegate.handleDrop) {
        m_delegate.handleDrop(*this, *event) ? event->acceptProposedAction() : event->ignore();
        // Entering is accepted so that the moves over the rows are asked about one by one.
        event->accept();
        return;
    }
    QTreeView::dragEnterEvent(event);
}

void KPSideBarOutlineView::dragMoveEvent(QDragMoveEvent* event)
{
    viewport()->update();
    if (m_delegate.handleDrop) {
        m_delegate.handleDrop(*this, *event) ? event->acceptProposedAction() : event->ignore();
        return;
    }
    QTreeView::dragMoveEvent(event);
}

void KPSideBarOutlineView::dragLeaveEvent(QDragLeaveEvent* event)
{
    m_isDragging = false;
    viewport()->update();
    QTreeView::dragLeaveEvent(event);
}

void KPSideBarOutlineView::dropEvent(QDropEvent* event)
{
    m_isDragging = false;
    viewport()->update();
    if (m_delegate.handleDrop) {
        m_delegate.handleDrop(*this, *event) ? event->acceptProposedAction() : event->ignore();
        return;
    }
    QTreeView::dropEvent(event);
}

void KPSideBarOutlineView::startDrag(Qt::DropActions)
{
    if (!m_delegate.writeItems || !m_model)
        return;
    QList<KPNode::Ptr> nodes;
    for (KPNode* node : selectedNodes())
        nodes.append(node->shared_from_this());
    QMimeData* data = m_delegate.writeItems(*this, nodes);
    if (!data)
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->exec(Qt::MoveAction | Qt::CopyAction, Qt::MoveAction);
}
