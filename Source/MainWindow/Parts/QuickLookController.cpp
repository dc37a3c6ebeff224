#include "MainWindow/Parts/QuickLookController.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/ItemViews/KPSectionItemView.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Kit/Input.h"

#include <algorithm>

using platform::PreviewPanel;
namespace keychar = platform::kit::keychar;

QuickLookController::QuickLookController(MainWindowContext& ctx) : m_ctx(ctx) {}

QuickLookController::~QuickLookController()
{
    QObject::disconnect(m_closedConnection);
    // The window outlives this object only when the main window owns it; it must not call back.
    if (m_panel) {
        m_panel->setDataSource(nullptr);
        m_panel->setDelegate(nullptr);
        delete m_panel.data();
    }
    m_ctx.state.isPreviewing = false;
}

PreviewPanel* QuickLookController::previewPanel()
{
    if (!m_panel) {
        m_panel = new PreviewPanel(m_ctx.window);
        m_closedConnection = QObject::connect(m_panel, &PreviewPanel::closed, m_panel, [this] {
            endPreviewPanelControl(m_panel);
        });
    }
    return m_panel;
}

// ---- control ----

void QuickLookController::togglePreview()
{
    PreviewPanel* panel = previewPanel();
    if (panel->isOpen()) {
        panel->closePanel();
        return;
    }
    if (!acceptsPreviewPanelControl(panel))
        return;
    beginPreviewPanelControl(panel);
    panel->open();
}

void QuickLookController::selectionChanged()
{
    if (isPreviewing())
        m_controlled->reloadData();
}

void QuickLookController::beginPreviewPanelControl(PreviewPanel* panel)
{
    m_controlled = panel;
    panel->setDataSource(this);
    panel->setDelegate(this);
    m_ctx.state.isPreviewing = true;
}

void QuickLookController::endPreviewPanelControl(PreviewPanel* panel)
{
    if (panel && m_controlled == panel) {
        panel->setDataSource(nullptr);
        panel->setDelegate(nullptr);
    }
    m_controlled = nullptr;
    m_ctx.state.isPreviewing = false;
}

bool QuickLookController::isPreviewing() const
{
    return m_ctx.state.isPreviewing && m_controlled;
}

// ---- items ----

QList<KPSectionIndexSet> QuickLookController::previewIndexSets() const
{
    if (!m_ctx.collectionView)
        return {};
    QList<KPSectionIndexSet> sets = m_ctx.collectionView->selectedIndexs();
    std::sort(sets.begin(), sets.end());
    return sets;
}

KPItemDataPtr QuickLookController::previewItemAtIndex(qint64 index) const
{
    if (!m_ctx.gridDataSource)
        return nullptr;
    const QList<KPSectionIndexSet> sets = previewIndexSets();
    if (index < 0 || index >= sets.size())
        return nullptr;
    const std::optional<KPSectionItem> found = m_ctx.gridDataSource->itemDataWithSectionIndexSet(sets.at(index));
    KPItemDataPtr item = found ? found->itemData() : nullptr;
    if (item)
        item->setQuickLookIndexSet(sets.at(index));
    return item;
}

QRect QuickLookController::sourceFrameOnScreenForPreviewItem(const KPItemDataPtr& item) const
{
    KPCollectionView* grid = m_ctx.collectionView;
    // Without a thumbnail drawn there is nothing to zoom from (and a reused view may still
    // hold the rectangle of the item it showed before).
    if (!grid || !item || !item->bLoadedResource() || item->previewImage().isNull())
        return {};
    const KPSectionItemView* view = nullptr;
    for (KPCollectionItemView* shown : grid->visibleItemViews()) {
        const auto* itemView = dynamic_cast<const KPSectionItemView*>(shown);
        if (itemView && itemView->itemData() && itemView->itemData()->isEqual(*item)) {
            view = itemView;
            break;
        }
    }
    if (!view)
        return {};
    // Content coordinates are y-up: a rectangle's origin is its bottom-left corner.
    const QRectF itemRect = grid->itemRectWithSectionIndexSet(item->quickLookIndexSet());
    const QRectF image = view->actualImageRect();
    if (itemRect.isEmpty() || image.isEmpty())
        return {};
    const QRectF thumbnail = image.translated(itemRect.x(), itemRect.y());
    if (!grid->visibleRect().contains(thumbnail))
        return {};
    const QPointF topLeft = grid->viewportPointFromContent(QPointF(thumbnail.x(), thumbnail.y() + thumbnail.height()));
    return QRect(grid->viewport()->mapToGlobal(topLeft.toPoint()), thumbnail.size().toSize());
}

// ---- the window's data source and delegate ----

qint64 QuickLookController::numberOfPreviewItemsInPreviewPanel(PreviewPanel*)
{
    return previewIndexSets().size();
}

std::optional<platform::PreviewItem> QuickLookController::previewPanelPreviewItemAtIndex(PreviewPanel*, qint64 index)
{
    const KPItemDataPtr item = previewItemAtIndex(index);
    if (!item)
        return std::nullopt;
    const QString path = item->previewItemURL().toLocalFile();
    return platform::PreviewItem{path, item->title(), item->previewImage(), item->thumbPath()};
}

QRect QuickLookController::previewPanelSourceFrameOnScreenForPreviewItem(PreviewPanel*, qint64 index)
{
    return sourceFrameOnScreenForPreviewItem(previewItemAtIndex(index));
}

QImage QuickLookController::previewPanelTransitionImageForPreviewItem(PreviewPanel*, qint64 index)
{
    const KPItemDataPtr item = previewItemAtIndex(index);
    return item ? item->previewImage() : QImage();
}

bool QuickLookController::previewPanelHandleEvent(PreviewPanel* panel, QKeyEvent* event)
{
    // Only the arrows are taken: the rest (copying from a text, scrolling a page) stays the
    // window's own.
    const char16_t c = platform::kit::Input::keyCharacter(event);
    if (c != keychar::UpArrow && c != keychar::DownArrow && c != keychar::LeftArrow && c != keychar::RightArrow)
        return false;
    if (navigationByArrowKey)
        navigationByArrowKey(c);
    else
        stepSelection(c);
    if (panel)
        panel->reloadData();
    return true;
}

void QuickLookController::stepSelection(char16_t arrow)
{
    KPCollectionView* grid = m_ctx.collectionView;
    const QList<KPSectionIndexSet> sets = previewIndexSets();
    if (!grid || sets.isEmpty())
        return;
    const bool backward = arrow == keychar::UpArrow || arrow == keychar::LeftArrow;
    KPSectionIndexSet at = backward ? sets.front() : sets.back();
    qint64 section = at.sectionIndex();
    qint64 item = at.itemIndex() + (backward ? -1 : 1);
    const qint64 sections = grid->sectionCount();
    // Across sections, skipping empty ones; the first and last documents stay where they are.
    while (section >= 0 && section < sections) {
        const qint64 count = grid->itemCountWithSectionIndex(section);
        if (item >= 0 && item < count) {
            grid->selectItemIndexWithSectionIndexSet(KPSectionIndexSet(section, item));
            return;
        }
        section += backward ? -1 : 1;
        if (section >= 0 && section < sections)
            item = backward ? grid->itemCountWithSectionIndex(section) - 1 : 0;
    }
}
