// The window's side of the preview window: it opens and closes the window for the grid, serves
// the grid's selected documents as the window's items (in grid order), gives the window the
// on-screen rectangle of a thumbnail to zoom out of and the thumbnail to show while a file
// loads, and turns the arrow keys pressed in the window into moves of the grid's selection,
// which the window then follows.
//
// The root wires Space (GridInteraction), the action bar and the hover toolbar to
// togglePreview(), and every selection change of the grid to selectionChanged().
//
// Threads: main thread only.
#pragma once

#include "Browser/KPItemData.h"
#include "Platform/Preview/PreviewPanel.h"

#include <QMetaObject>
#include <QPointer>
#include <functional>

struct MainWindowContext;

class QuickLookController final : public platform::PreviewPanelDataSource, public platform::PreviewPanelDelegate {
public:
    explicit QuickLookController(MainWindowContext& ctx);
    ~QuickLookController() override;
    QuickLookController(const QuickLookController&) = delete;
    QuickLookController& operator=(const QuickLookController&) = delete;

    // The grid's arrow navigation (GridInteraction's navigationByArrowKey), given an arrow's
    // key character. Unset, an arrow moves to the previous (Up, Left) or next (Down, Right)
    // document in grid order.
    std::function<void(char16_t arrow)> navigationByArrowKey;

    // ---- entry points ----
    // Opens the window on the selection, or closes it when it is open.
    void togglePreview();
    // The grid's selection changed: an open window shows the new one.
    void selectionChanged();

    // ---- control of the window ----
    bool acceptsPreviewPanelControl(platform::PreviewPanel* panel) const { return panel != nullptr; }
    void beginPreviewPanelControl(platform::PreviewPanel* panel);
    void endPreviewPanelControl(platform::PreviewPanel* panel);
    bool isPreviewing() const;
    // The window, made on first use (a tool window of the main window).
    platform::PreviewPanel* previewPanel();

    // ---- items ----
    // The selected addresses in grid order (sections first, then items).
    QList<KPSectionIndexSet> previewIndexSets() const;
    // The document at the index-th selected address, with that address stored in it; null when
    // the address holds none.
    KPItemDataPtr previewItemAtIndex(qint64 index) const;
    // The thumbnail's rectangle on screen when the whole thumbnail is in view, else the null
    // rectangle.
    QRect sourceFrameOnScreenForPreviewItem(const KPItemDataPtr& item) const;

    // ---- PreviewPanelDataSource / PreviewPanelDelegate ----
    qint64 numberOfPreviewItemsInPreviewPanel(platform::PreviewPanel* panel) override;
    std::optional<platform::PreviewItem> previewPanelPreviewItemAtIndex(platform::PreviewPanel* panel,
                                                                        qint64 index) override;
    QRect previewPanelSourceFrameOnScreenForPreviewItem(platform::PreviewPanel* panel, qint64 index) override;
    QImage previewPanelTransitionImageForPreviewItem(platform::PreviewPanel* panel, qint64 index) override;
    bool previewPanelHandleEvent(platform::PreviewPanel* panel, QKeyEvent* event) override;

private:
    void stepSelection(char16_t arrow);

    MainWindowContext& m_ctx;
    QPointer<platform::PreviewPanel> m_panel;
    // The window being fed; null while not previewing.
    QPointer<platform::PreviewPanel> m_controlled;
    QMetaObject::Connection m_closedConnection;
};
