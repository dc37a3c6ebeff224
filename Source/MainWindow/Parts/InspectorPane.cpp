#include "MainWindow/Parts/InspectorPane.h"

#include "Inspector/PropertyViewController.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/InspectorEdits.h"
#include "Store/DBNode.h"

#include <QVBoxLayout>
#include <QWidget>

InspectorPane::InspectorPane(MainWindowContext& ctx, InspectorEdits& edits)
    : m_ctx(ctx)
{
    PropertyViewServices services;
    services.engine = ctx.store;
    services.notifications = ctx.notifications;
    m_controller = std::make_unique<PropertyViewController>(services);
    PropertyViewControllerDelegate delegate;
    delegate.onTitleChange = [&edits](PropertyViewController*, const KPItemDataPtr& item, const QString& title) {
        edits.onTitleChange(item, title);
    };
    delegate.onFolderChange = [&edits](PropertyViewController*, const DBNode& folder) { edits.onFolderChange(folder); };
    delegate.onFlagChange = [&edits](PropertyViewController*, int flag) { edits.onFlagChange(flag); };
    delegate.onRateChange = [&edits](PropertyViewController*, qint64 rate) { edits.onRateChange(int(rate)); };
    delegate.onFolderNameMenu = [&edits](PropertyViewController*, QMenu* menu,
                                         const std::function<void(const DBNode&)>& action) {
        edits.onFolderNameMenu(menu, action);
    };
    m_controller->setDelegate(std::move(delegate));
    m_controller->setCollectionView(ctx.collectionView);
    if (QWidget* pane = ctx.inspectorView) {
        auto* layout = pane->layout() ? pane->layout() : new QVBoxLayout(pane);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_controller->view());
    }
    m_ctx.inspector = this;
}

InspectorPane::~InspectorPane()
{
    if (m_ctx.inspector == this)
        m_ctx.inspector = nullptr;
}

QWidget* InspectorPane::view()
{
    return m_controller->view();
}

void InspectorPane::showItemDatas(const QList<KPItemDataPtr>& items, int itemViewType)
{
    m_controller->setCollectionView(m_ctx.collectionView);
    m_controller->showItemDatas(items, itemViewType);
}

void InspectorPane::refreshDatas()
{
    m_controller->refreshDatas();
}

void InspectorPane::editTitleAgain(const KPItemDataPtr& item, const QString& text)
{
    m_controller->editTitleAgain(item, text);
}
