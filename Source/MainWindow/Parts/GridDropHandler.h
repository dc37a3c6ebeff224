// Files dragged from outside onto the grid: while they hover, the import overlay covers the
// document area and shows its two drop icons; the drop imports them plainly, into a new folder,
// or, on the tag icon, after a little stack of their previews and a popover where the tags are
// chosen. Shift held at the drop moves the files (the sources go once they are stored).
//
// Documents dragged out of the grid itself are refused, at the drop as well as while they hover.
//
// Threads: main thread only.
#pragma once

#include "MainWindow/Parts/KPThumbStackView.h"

#include <QPointer>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

#include "Platform/Kit/Scheduler.h"

class KPImportDraggingView;
class QDropEvent;
struct GridActions;
struct MainWindowContext;

class GridDropHandler {
public:
    // The tag popover is opened this long after the drop, on a timer of its own: the stack
    // falls once a worker has made its previews, which may be before, while or after it opens.
    static constexpr int kTagPopoverDelayMs = 1000;
    static constexpr int kStackHeight = 260;
    static constexpr int kStackFromBottom = 300;
    static constexpr QSize kTagPopoverSize{220, 160};

    // The answer of the tag popover: 1 imports with tags.
    using TagAnswer = std::function<void(int returnCode, const QStringList& tags)>;

    explicit GridDropHandler(MainWindowContext& ctx);
    ~GridDropHandler();
    GridDropHandler(const GridDropHandler&) = delete;
    GridDropHandler& operator=(const GridDropHandler&) = delete;

    // ---- hooks ----
    // Opens the tag popover over the stack; the default shows the Kit's popover with the tag
    // editor and Import / Cancel.
    std::function<void(QWidget* anchor, TagAnswer answer)> askImportTags;
    // The stack's previews (empty: ContentPreview's).
    KPThumbStackView::PreviewProvider previews;

    // Fills the grid's drag members.
    void install(GridActions& actions);

    // ---- the grid's drag callbacks ----
    std::optional<Qt::DropAction> draggingEnter(QDropEvent* info);
    std::optional<Qt::DropAction> draggingUpdated(QDropEvent* info);
    void draggingExited();
    bool performDragOperation(QDropEvent* info);
    void concludeDragOperation(QDropEvent* info);

    KPImportDraggingView* draggingView() const { return m_draggingView; }
    KPThumbStackView* thumbStackView() const { return m_thumbStackView; }

    // The local files a drag carries.
    static QStringList filePaths(const QDropEvent* info);
    static bool isFromGrid(const QDropEvent* info);

private:
    void removeDraggingView();
    void post(const QVariantMap& options);
    void importWithTags(const QStringList& paths, bool move);
    void defaultAskImportTags(QWidget* anchor, TagAnswer answer);
    bool mainSelectionIs(int nodeType) const;

    MainWindowContext& m_ctx;
    QPointer<KPImportDraggingView> m_draggingView;
    QPointer<KPThumbStackView> m_thumbStackView;
    platform::kit::Token m_popoverDelay;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
