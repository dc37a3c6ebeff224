// The controls around the grid: the bar above it (show/hide side bar, library navigation and
// back, the group-by and recent buttons, the centre title, the view-mode button with its view
// options, the inspector button), the bar under it (item count, zoom slider), the bar under
// the side bar (add button), and what the title bar holds (the menu bar after the window
// buttons, the navigation button, the search field's place). It also shows and hides the side bar and the inspector,
// follows full screen and activation, and closes the window's popovers on a press elsewhere.
//
// The composition root places the three bars (toolBar() above the grid, bottomBar() under it,
// leftBottomBar() under the side bar) and hands the title bar to installTitleBar(). Controls
// are laid out in the given y-up numbers inside their fixed-height bars whenever a bar
// resizes. Which buttons show follows ContentSwitch::buttonsChanged through showButtons().
//
// Threads: main thread only.
#pragma once

#include "Controls/KPButtonGroups.h"
#include "Controls/KPHorizontalStretchButton.h"
#include "Controls/KPSlider.h"
#include "Controls/KPThemeImageButton.h"
#include "MainWindow/KPNavButton.h"
#include "MainWindow/Parts/ContentSwitch.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Scheduler.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QObject>
#include <QImage>
#include <QPointer>
#include <QRect>
#include <QToolButton>
#include <functional>
#include <memory>
#include <vector>

class SortViewSettingController;
class QPropertyAnimation;
class QWidget;
struct MainWindowContext;

namespace platform::kit {
class Popover;
}

class WindowChrome : public QObject {
public:
    static constexpr int kTitleBarHeight = 40;
    static constexpr int kToolBarHeight = 37;
    static constexpr int kBottomBarHeight = 23;
    static constexpr int kInspectorWidth = 280;
    static constexpr int kBackSlideMs = 300;
    // The search field widening when the search starts and narrowing when it ends.
    static constexpr int kSearchFieldMoveMs = 250;
    static constexpr int kMenuBarX = 76; // after the three window buttons
    // The navigation button: its left this far before the side bar's end, its bottom this high.
    static constexpr int kNavButtonRightInset = 63;
    static constexpr int kNavButtonY = 7;
    static inline const QString kMonitorResignWindowResign = QStringLiteral("MonitorResignWindowResign");
    static inline const QString kRecentFilterKey = QStringLiteral("Int_DocumentRecentFilterType");
    static inline const QString kViewItemScaleKey = QStringLiteral("Int_ViewItemScale");
    static inline const QString kViewOptionsPopover = QStringLiteral("ViewOptions");

    // What the chrome asks of the rest of the window.
    struct Hooks {
        // The zoom slider moved (the menu actions' handler).
        std::function<void(double value)> sliderChange;
        // The add button's pop-up menu.
        std::function<QMenu*()> addButonMenu;
        // The grid's selection changed (the inspector follows it after a toggle).
        std::function<void()> collectionViewItemDidSelected;
        // The inspector's fields re-read from the selection when it closes.
        std::function<void()> refreshPropertyViewInfo;
    };

    explicit WindowChrome(MainWindowContext& ctx);
    ~WindowChrome() override;

    Hooks hooks;

    // Builds the controls and starts observing; call once.
    void install();
    void installTitleBar(QWidget* titleBar, QMenuBar* menuBar);
    // Places the title bar's navigation button from the side bar as it is set up: 63 points
    // left of the side bar's right end, or out of sight left of the bar while the side bar is
    // collapsed. Runs when installTitleBar makes the button and again once the side bar has its
    // width; later changes of the window or the side bar leave it where it is.
    void placeNavButton();

    QWidget* toolBar() const { return m_toolBar; }
    QWidget* bottomBar() const { return m_bottomBar; }
    QWidget* leftBottomBar() const { return m_leftBottomBar; }

    // ---- controls (null before install) ----
    QToolButton* btnShowHideSideBar() const { return m_btnShowHideSideBar; }
    KPNavButton* navButton() const { return m_navButton; }
    QToolButton* btnShowHidePropertyView() const { return m_btnShowHidePropertyView; }
    QToolButton* btnViewMode() const { return m_btnViewMode; }
    // The view-mode button's menu: tags 1 and 2 the modes, 3 the section order, 4 the file sort.
    QMenu* btnViewModeMenu() const { return m_btnViewModeMenu; }
    static constexpr int kViewModeMenuIconTag = 1, kViewModeMenuListTag = 2, kViewModeMenuOrderTag = 3,
                         kViewModeMenuSortTag = 4;
    KPButtonGroups* btnGroupButtons() const { return m_btnGroupButtons; }
    KPButtonGroups* btnRecentButtons() const { return m_btnRecentButtons; }
    KPHorizontalStretchButton* btnLibraryNav() const { return m_btnLibraryNav; }
    KPHorizontalStretchButton* btnBack() const { return m_btnBack; }
    QLabel* labCenterTitle() const { return m_labCenterTitle; }
    QLabel* labItemCount() const { return m_labItemCount; }
    KPSlider* zoomSlider() const { return m_zoomSlider; }
    KPThemeImageButton* addButton() const { return m_addButton; }
    platform::kit::Popover* viewSettingPopver() const { return m_viewSettingPopver.get(); }

    // A control's frame in its bar's y-up coordinates.
    static QRect upFrame(const QWidget* control);

    // ---- the content switch's buttons ----
    void showButtons(const ContentButtons& buttons);

    // ---- layout ----
    void adjustLeftViewPosition();
    void adjustLabItemCountPosition();
    void layoutToolBar();
    // The document area's least width: the tool bar's end buttons and the widest button
    // group's buttons side by side.
    int toolBarButtonsWidth() const;
    // Keeps that width for the document area: the side bars give way to it (down to their
    // minimum) where the window is narrow, and take back their widths when there is room.
    void keepToolBarRoom();
    // Where the search field sits in the title bar: the narrow idle frame, or while the search
    // is in use (searchTextEditoring) from the side bar's width (120 with it closed) to the idle
    // frame's right end, never over the title bar's menu bar.
    QRect searchEditorRect() const;
    // The title bar's search field, placed at searchEditorRect on every layout: moved there
    // over kSearchFieldMoveMs when the search starts or ends, at once otherwise (a resize while
    // it moves changes where it goes).
    void setSearchField(QWidget* field);
    void layoutSearchField();
    void updateTitleIconCover();

    // ---- actions ----
    void onBtnViewModeClick();
    void onGroupButtonsClick(const QVariantMap& item);
    void onGroupRecentButtonsClick(const QVariantMap& item);
    void onBackButtonClick();
    void onRightButtonAction();
    void onUpdateLabCenterTitle(const QVariant& title);

    // ---- panes ----
    bool bLeftSideBarExpand() const;
    void setBLeftSideBarExpand(bool expand);
    bool bRightPropertyViewExpand() const;
    void setBRightPropertyViewExpand(bool expand);
    void onKPSplitViewToogledChange(const QVariant& splitView);

    // ---- window state ----
    void windowDidEnterFullScreen();
    void windowDidExitFullScreen();
    void onNSWindowDidBecomeKeyNotification();
    void onMonitorResignWindowResign();

    // Re-reads the chrome's sprites (the theme handler calls it).
    void reloadTheme();
    // Shows the named "Topbar" sprite on the view-mode button.
    void setViewModeButtonImage(const QString& spriteName);
    QString viewModeButtonImage() const { return m_viewModeImage; }
    QString sideBarButtonImage() const { return m_sideBarImage; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildToolBar();
    void buildBottomBars();
    void setButtonSprite(QToolButton* button, const QString& spriteName, bool downAsAlternate = false);
    void finishBack();
    void buildViewModeMenu();
    void styleMenuBar();
    void styleLabels();
    QImage navigationIconInk(const QImage& icon) const;
    void onCenterViewDrawBG(QWidget* view, const QRect& dirty);
    // Ends the slide where it is, leaving every button as it is shown.
    void stopBackSlide();
    platform::kit::Scheduler& scheduler() const;
    platform::NotificationCenter& center() const;

    MainWindowContext& m_ctx;
    QPointer<QWidget> m_toolBar, m_bottomBar, m_leftBottomBar, m_titleBar;
    QPointer<QWidget> m_searchField;
    QPointer<QPropertyAnimation> m_searchFieldMove;
    bool m_searchFieldWide = false;   // placed for a search in use
    QPointer<QMenuBar> m_menuBar;
    QPointer<QToolButton> m_btnShowHideSideBar, m_btnShowHidePropertyView, m_btnViewMode;
    QPointer<QMenu> m_btnViewModeMenu;
    std::unique_ptr<QMenu> m_navMenu;
    QPointer<KPButtonGroups> m_btnGroupButtons, m_btnRecentButtons;
    QPointer<KPHorizontalStretchButton> m_btnLibraryNav, m_btnBack;
    QPointer<QLabel> m_labCenterTitle, m_labItemCount;
    QPointer<KPSlider> m_zoomSlider;
    QPointer<KPThemeImageButton> m_addButton;
    QPointer<KPNavButton> m_navButton;
    QPointer<QWidget> m_backSnapshot;
    std::unique_ptr<platform::kit::Popover> m_viewSettingPopver;
    std::unique_ptr<SortViewSettingController> m_viewSettingController;
    QString m_viewModeImage;
    QString m_sideBarImage;
    QImage m_centerViewThemeBG;
    QImage m_navigationIcon;
    platform::kit::Token m_backFrames;
    qint64 m_backStart = 0;
    std::vector<platform::ObserverToken> m_observers;
};
