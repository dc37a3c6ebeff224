// What the window does when the user types in the document grid or its selection changes: the
// key commands (rename, preview, arrow navigation, type-to-find on titles), the count text under
// the grid, the menu and inspector states, the floating action bar over a multiple selection and
// the two-finger swipe.
//
// Arrow navigation starts from a defined item however the selection was made: the selected
// addresses are ordered as the grid shows them, Up and Left start from the first, Down and Right
// from the last.
//
// Threads: main thread only.
#pragma once

#include "Browser/KPItemData.h"
#include "Browser/KPSectionIndexSet.h"
#include "Browser/KPTitleFinder.h"
#include "Platform/Kit/Scheduler.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

struct MainWindowContext;
class KPThemeImageButton;
class QKeyEvent;
class QWidget;

class GridInteraction {
public:
    static constexpr int kSearchTitleHideMs = 800;
    static constexpr int kSearchTitleFadeMs = 250;
    // A new listing's titles are folded for type-to-find this long after it was shown, a slice
    // of this many titles at a time with a short gap between slices, so that the first key
    // finds them ready and no slice holds the window for long.
    static constexpr int kTitlePrepareDelayMs = 300;
    static constexpr qsizetype kTitlesPerSlice = 2000;
    static constexpr int kTitleSliceGapMs = 1;
    static constexpr int kActionBarWidth = 266;
    static constexpr int kActionBarHeight = 50;

    // The command names the action bar's buttons perform (owned by the tag, share and menu parts).
    static inline const QString kShowTagsCommand = QStringLiteral("onShowTagsAction");
    static inline const QString kMergePDFCommand = QStringLiteral("menuMergePDF");
    static inline const QString kShareCommand = QStringLiteral("onShareClick");
    static inline const QString kMoveToTrashCommand = QStringLiteral("menuMoveToTrash");

    explicit GridInteraction(MainWindowContext& ctx);
    ~GridInteraction();
    GridInteraction(const GridInteraction&) = delete;
    GridInteraction& operator=(const GridInteraction&) = delete;

    // Takes the grid's key, selection and swipe actions (GridActions of ctx.gridDataSource).
    void install();

    // ---- hooks of the parts built beside this one (unset: nothing happens) ----
    // Space and the action bar's preview button: brings the preview window to the front.
    std::function<void()> togglePreview;
    // Whether the preview window follows the grid now, and its reload after a selection change.
    std::function<bool()> isPreviewing;
    std::function<void()> reloadPreviewItems;
    // The window chrome: the back button and the main side bar, for the swipes.
    std::function<bool()> backButtonVisible;
    std::function<void()> backButtonClick;
    std::function<void(bool expand)> setLeftSideBarExpand;
    // The count label under the grid: its text and whether it is shown.
    std::function<void(const QString& text, bool shown)> countTextChanged;

    // ---- the grid's delegate calls ----
    void collectionViewKeyDown(QKeyEvent* event);
    void collectionViewItemDidSelected();
    void collectionViewSwipeChange(int type);
    // Moves the selection by one of the arrow characters (keychar::UpArrow ... RightArrow);
    // also sent by the preview window. Nothing when nothing is selected.
    void navigationByArrowKey(char16_t key);

    // ---- the action bar ----
    void showActionWindow(bool show);
    // Centres the bar near the bottom of the centre view; sent again when the view resizes.
    void updateActionWindowPosition();
    QWidget* actionContentView() const { return m_actionContentView; }
    KPThemeImageButton* actionWindowMergeButton() const { return m_mergeButton; }
    KPThemeImageButton* actionWindowShareButton() const { return m_shareButton; }

    // ---- type-to-find ----
    void showSearchTitleWindow();
    void onSearchTitleContentViewHideTimer();
    QWidget* searchTitleWindowContentView() const;
    // The overlay's opacity now (1 shown, 0 faded).
    double searchTitleOpacity() const;
    // The grid's sections were loaded again: their titles are folded while nobody types.
    void gridReloaded();
    const KPTitleFinder& titleFinder() const { return m_titleFinder; }

    // ---- the count text ----
    const QString& countText() const { return m_countText; }
    bool isCountTextShown() const { return m_countShown; }

    // The shape of the listing the arrows move over.
    struct NavigationShape {
        qint64 sectionCount = 0;
        std::function<qint64(qint64 section)> itemCount;
        // Columns of a section's layout (at least 1 is assumed).
        std::function<qint64(qint64 section)> columnCount;
        bool oneItemPerRow = false;
    };
    // Where an arrow key moves a selection to; nothing for an empty selection or another key.
    static std::optional<KPSectionIndexSet> navigationTarget(QList<KPSectionIndexSet> selected, char16_t key,
                                                             const NavigationShape& shape);

private:
    class SearchTitleView;

    void showActionWindow(bool show, const QList<KPItemDataPtr>& items);
    bool typeToFind(char16_t character);
    void clearSearchTitle();
    // Shows the listing narrowed to text; started tells that this key began the search, so the
    // grid shows the whole listing now.
    void refilter(const QString& text, bool started = false);
    void prepareTitleSlice();
    void updateCountText(qsizetype selectedCount);
    void setCountText(const QString& text, bool shown);
    int itemViewType() const;

    MainWindowContext& m_ctx;
    QPointer<QWidget> m_actionContentView;
    QPointer<KPThemeImageButton> m_mergeButton;
    QPointer<KPThemeImageButton> m_shareButton;
    QPointer<SearchTitleView> m_searchTitleView;
    KPTitleFinder m_titleFinder;
    platform::kit::Token m_titlePrepareTimer;
    platform::kit::Token m_searchTitleHideTimer;
    QString m_countText;
    bool m_countShown = false;
    // Expires with this object: the action bar's buttons may outlive it by a moment.
    std::shared_ptr<bool> m_alive;
};
