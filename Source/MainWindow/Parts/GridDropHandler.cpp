#include "MainWindow/Parts/GridDropHandler.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/ItemViews/ItemViewServices.h"
#include "Browser/ItemViews/KPImportDraggingView.h"
#include "Import/KPImportKeys.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "MainWindow/Parts/ImportFlow.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/Pasteboard.h"
#include "Platform/Kit/Popover.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "SideBar/SideBarNodeType.h"

#include <QDropEvent>
#include <QHBoxLayout>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace K = KPImportKeys;
namespace T = SideBarNodeType;
namespace pb = platform::kit::pasteboard;

GridDropHandler::GridDropHandler(MainWindowContext& ctx)
    : m_ctx(ctx)
{
    askImportTags = [this](QWidget* anchor, TagAnswer answer) { defaultAskImportTags(anchor, std::move(answer)); };
}

GridDropHandler::~GridDropHandler()
{
    *m_alive = false;
    removeDraggingView();
    if (m_thumbStackView)
        delete m_thumbStackView.data();
}

void GridDropHandler::install(GridActions& actions)
{
    actions.draggingEnter = [this](QDropEvent* e) { return draggingEnter(e); };
    actions.draggingUpdated = [this](QDropEvent* e) { return draggingUpdated(e); };
    actions.draggingExited = [this] { draggingExited(); };
    actions.performDragOperation = [this](QDropEvent* e) { return performDragOperation(e); };
    actions.concludeDragOperation = [this](QDropEvent* e) { concludeDragOperation(e); };
}

QStringList GridDropHandler::filePaths(const QDropEvent* info)
{
    QStringList paths;
    if (!info || !info->mimeData())
        return paths;
    for (const QUrl& url : info->mimeData()->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            paths.append(url.toLocalFile());
    }
    return paths;
}

bool GridDropHandler::isFromGrid(const QDropEvent* info)
{
    return info && info->mimeData() && info->mimeData()->hasFormat(pb::kDragResourceItemsToNode);
}

bool GridDropHandler::mainSelectionIs(int nodeType) const
{
    SideBarDataSource* sideBar = m_ctx.sideBarDataSource;
    KPNode* selected = sideBar && sideBar->sideBarView() ? sideBar->sideBarView()->selectedNode() : nullptr;
    return selected && selected->nodeType() == nodeType;
}

std::optional<Qt::DropAction> GridDropHandler::draggingEnter(QDropEvent* info)
{
    if (m_ctx.collectionView)
        m_ctx.collectionView->setEnabled(false);
    if (isFromGrid(info))
        return Qt::IgnoreAction;
    QWidget* center = m_ctx.centerView;
    if (!m_draggingView && center) {
        m_draggingView = new KPImportDraggingView(center);
        // Over the grid, and see-through for the drag: the window hands drags to the widget
        // under the pointer, and an overlay that took them would end every drag from outside.
        KPCollectionView* grid = m_ctx.collectionView;
        const bool gridInCenter = grid && center->isAncestorOf(grid);
        m_draggingView->setGeometry(gridInCenter ? QRect(grid->mapTo(center, QPoint()), grid->size())
                                                 : QRect(QPoint(0, 0), grid ? grid->size() : center->size()));
        m_draggingView->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_draggingView->setIsInTagOrCollection(mainSelectionIs(T::TagsNode) || mainSelectionIs(T::CollectionsNode));
    }
    if (m_draggingView) {
        m_draggingView->raise();
        m_draggingView->show();
    }
    return filePaths(info).isEmpty() ? Qt::IgnoreAction : Qt::CopyAction;
}

std::optional<Qt::DropAction> GridDropHandler::draggingUpdated(QDropEvent* info)
{
    if (isFromGrid(info))
        return Qt::IgnoreAction;
    if (m_draggingView && info) {
        QPointF point = info->position();
        if (m_ctx.collectionView)
            point = m_draggingView->mapFromGlobal(m_ctx.collectionView->mapToGlobal(point));
        // The overlay works bottom-up; the hint follows Shift, which changes without a move.
        m_draggingView->trackMousePoint(QPointF(point.x(), m_draggingView->height() - point.y()));
        m_draggingView->update();
    }
    return Qt::CopyAction;
}

void GridDropHandler::draggingExited()
{
    removeDraggingView();
    if (m_ctx.collectionView)
        m_ctx.collectionView->setEnabled(true);
}

bool GridDropHandler::performDragOperation(QDropEvent* info)
{
    // The grid's own documents dropped back on it: nothing to import.
    if (isFromGrid(info) || filePaths(info).isEmpty()) {
        draggingExited();
        return false;
    }
    return true;
}

void GridDropHandler::concludeDragOperation(QDropEvent* info)
{
    if (m_ctx.collectionView)
        m_ctx.collectionView->setEnabled(true);
    const qint64 icon = m_draggingView ? m_draggingView->dragIconIndex() : KPImportDraggingView::kNotFound;
    const QStringList paths = filePaths(info);
    const bool move = info && info->modifiers().testFlag(Qt::ShiftModifier);
    if (paths.isEmpty()) {
        removeDraggingView();
        return;
    }
    if (icon == 0)
        return importWithTags(paths, move);
    removeDraggingView();
    if (icon == 1) {
        post({{K::Paths, paths},
              {ImportFlow::kBoolImportToDocument, true},
              {K::DoNewFolderAction, true},
              {K::NewFolderName, platform::localizedString(QStringLiteral("UntitledFolder"))},
              {K::CMD, move}});
        return;
    }
    post({{K::Paths, paths}, {ImportFlow::kBoolImportToDocument, !mainSelectionIs(T::CollectionsNode)}, {K::CMD, move}});
}

void GridDropHandler::importWithTags(const QStringList& paths, bool move)
{
    KPCollectionView* grid = m_ctx.collectionView;
    QWidget* center = m_ctx.centerView;
    // The stack and the tag popover anchored to it lie in the document area over whatever covers
    // the grid there (the empty library's view): inside the grid they would be hidden under it.
    QWidget* host = center ? center : static_cast<QWidget*>(grid);
    if (m_thumbStackView)
        delete m_thumbStackView.data();
    if (host) {
        const QRect area = grid && center && center->isAncestorOf(grid) ? QRect(grid->mapTo(center, QPoint()), grid->size())
                                                                        : host->rect();
        const QRect frame(area.left(), area.bottom() + 1 - kStackFromBottom, area.width(), kStackHeight);
        m_thumbStackView = new KPThumbStackView(paths, frame, host, previews);
        m_thumbStackView->raise();
    }
    auto& scheduler = m_ctx.scheduler ? *m_ctx.scheduler : platform::kit::Scheduler::current();
    m_popoverDelay = scheduler.after(kTagPopoverDelayMs, [this, paths, move] {
        auto finish = [this, alive = std::weak_ptr<bool>(m_alive), paths, move](int code, const QStringList& tags) {
            if (alive.expired())
                return;
            if (m_thumbStackView)
                m_thumbStackView->deleteLater();
            m_thumbStackView = nullptr;
            removeDraggingView();
            if (code != 1)
                return;
            // Import with no tag typed still imports, untagged.
            QVariantMap options{{K::Paths, paths}, {K::CMD, move}};
            if (!tags.isEmpty())
                options.insert(K::NewTags, tags);
            post(options);
        };
        if (!askImportTags)
            return finish(0, {});
        askImportTags(m_thumbStackView ? static_cast<QWidget*>(m_thumbStackView.data()) : m_ctx.centerView.data(),
                      std::move(finish));
    });
}

void GridDropHandler::defaultAskImportTags(QWidget* anchor, TagAnswer answer)
{
    if (!anchor)
        return answer(0, {});
    auto* popover = new platform::kit::Popover(platform::kit::Popover::Form::Overlay, anchor);
    auto state = std::make_shared<std::pair<int, QStringList>>(0, QStringList());
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    TagEditorCallbacks callbacks;
    callbacks.valueChange = [state](const QStringList& names) { state->second = names; };
    layout->addWidget(ItemViewServices::tokenTagEditor({}, callbacks), 1);
    auto* buttons = new QHBoxLayout;
    auto* cancel = new QPushButton(platform::localizedString(QStringLiteral("Cancel")));
    auto* import = new QPushButton(platform::localizedString(QStringLiteral("Import")));
    import->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(import);
    layout->addLayout(buttons);
    QObject::connect(cancel, &QPushButton::clicked, popover, [popover] { popover->close(); });
    QObject::connect(import, &QPushButton::clicked, popover, [popover, state] {
        state->first = 1;
        popover->close();
    });
    popover->setContentWidget(content);
    popover->setContentSize(kTagPopoverSize);
    popover->setOnClosed([popover, state, answer = std::move(answer)] {
        answer(state->first, state->second);
        popover->deleteLater();
    });
    popover->show(anchor, QRect(), platform::kit::PopoverEdge::MinY);
}

void GridDropHandler::removeDraggingView()
{
    if (m_draggingView)
        m_draggingView->deleteLater();
    m_draggingView = nullptr;
}

void GridDropHandler::post(const QVariantMap& options)
{
    (m_ctx.notifications ? *m_ctx.notifications : platform::NotificationCenter::defaultCenter())
        .post(ImportFlow::kAddFilesToLibrary, options);
}
