// The window's side of the inspector: the document inspector in the right-hand pane, shown the
// grid's selection through the PropertyPane seam, its title, folder, flag and rating edits
// handed to InspectorEdits. While it exists the window's inspector pointer names it.
// Main thread only.
#pragma once

#include "MainWindow/MainWindowExtensions.h"

#include <memory>

class InspectorEdits;
class PropertyViewController;
struct MainWindowContext;
struct PropertyViewServices;

class InspectorPane : public PropertyPane {
public:
    InspectorPane(MainWindowContext& ctx, InspectorEdits& edits);
    ~InspectorPane() override;
    InspectorPane(const InspectorPane&) = delete;
    InspectorPane& operator=(const InspectorPane&) = delete;

    QWidget* view() override;
    void showItemDatas(const QList<KPItemDataPtr>& items, int itemViewType) override;
    void refreshDatas() override;
    void editTitleAgain(const KPItemDataPtr& item, const QString& text) override;

    PropertyViewController& controller() const { return *m_controller; }

private:
    MainWindowContext& m_ctx;
    std::unique_ptr<PropertyViewController> m_controller;
};
