#include "MainWindow/Parts/WindowChrome.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/ItemViews/SortViewSettingController.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPViewSizeManager.h"
#include "Controls/VQTitlebarView.h"
#include "Controls/KPButtonGroups.h"
#include "Controls/KPCoustomDrawBGView.h"
#include "Controls/KPHorizontalStretchButton.h"
#include "Controls/KPSlider.h"
#include "Controls/KPThemeImageButton.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/KPSplitView.h"
#include "MainWindow/MainMenu.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/AnimationPolicy.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/MenuModel.h"
#include "Platform/Kit/Popover.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "SideBar/SideBarNodeType.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPSprite.h"
#include "Theme/KPTextStyle.h"
#include "Theme/KPThemeObject.h"
#include "Theme/ThemeContrast.h"

#include "App/AppDelegate.h"

#include <QEasingCurve>
#include <QEvent>
#include <QWindowStateChangeEvent>
#include <utility>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPaintEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QToolButton>
#include <QWindow>

namespace {

constexpr int kBackFrameMs = 16;
constexpr int kGroupWidth = 400;
constexpr int kGroupHeight = 22;
// The square buttons at the tool bar's ends, and the bottom bar's end that the zoom slider takes.
constexpr int kToolBarSideButtonWidth = 41;
constexpr int kZoomSliderRoom = 194;
constexpr int kCenterTitleWidth = 220;
const QString kTopbar = QStringLiteral("Topbar");

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

// The x of a frame frameWidth wide whose drawn part (content wide, centred in the frame) is
// centred in a bar width wide: in the middle of the bar where that keeps it clear of left and
// right points at the ends, else in the middle of the room between them.
double centredClearOf(int width, int frameWidth, int content, int left, int right)
{
    const double middle = width / 2.0;
    const bool clear = middle - content / 2.0 >= left && middle + content / 2.0 <= width - right;
    const double centre = clear ? middle : (left + width - right) / 2.0;
    return centre - frameWidth / 2.0;
}

// The width the buttons of a group take, from the first one's left to the last one's right.
int buttonsSpan(const KPButtonGroups* group)
{
    const auto& buttons = group->buttons();
    return buttons.empty() ? 0 : buttons.back()->geometry().right() + 1 - buttons.front()->x();
}

// Places control inside its parent bar at a y-up rectangle.
void placeUp(QWidget* control, int x, int y, int w, int h)
{
    if (!control || !control->parentWidget())
        return;
    control->setGeometry(x, control->parentWidget()->height() - y - h, w, h);
}

QToolButton* borderless(QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    button->setIconSize(QSize(41, 32));
    return button;
}

// The named image of the current theme stretched over rect; nothing when the theme lacks it.
void drawThemeImage(QPainter& painter, const QRect& rect, const QString& name)
{
    KPThemeObject* object = KPThemeObject::themeObjectWithName(name);
    const KPSprite* sprite = dynamic_cast<KPSprite*>(object);
    if (!sprite) {
        if (auto* multi = dynamic_cast<KPMultiSprite*>(object))
            sprite = multi->normalSprite();
    }
    if (sprite && !sprite->image().isNull())
        painter.drawImage(rect, sprite->image());
}

// A bar drawn from the theme: an optional colour, then an optional image over its bounds.
QWidget* bar(int height, const QString& imageName, const QString& colorName = {})
{
    auto* widget = new KPCoustomDrawBGView;
    widget->setFixedHeight(height);
    widget->setDrawBackgroudWithSelector([imageName, colorName](KPCoustomDrawBGView* view, QPainter& painter, const QRectF&) {
        if (!colorName.isEmpty())
            if (auto* color = KPThemeObject::themeObjectWithName<KPColor>(colorName); color && color->color())
                painter.fillRect(view->rect(), *color->color());
        drawThemeImage(painter, view->rect(), imageName);
    });
    return widget;
}

void setOpacity(QWidget* widget, double opacity)
{
    if (!widget)
        return;
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        widget->setGraphicsEffect(effect);
    }
    effect->setOpacity(opacity);
}

void clearOpacity(QWidget* widget)
{
    if (widget)
        widget->setGraphicsEffect(nullptr);
}

QVariantList items(std::initializer_list<std::pair<const char*, int>> list)
{
    QVariantList out;
    for (const auto& [title, tag] : list)
        out.append(QVariantMap{{QStringLiteral("Title"), platform::localizedString(QString::fromLatin1(title))},
                               {QStringLiteral("Tag"), tag}});
    return out;
}

} // namespace

WindowChrome::WindowChrome(MainWindowContext& ctx) : m_ctx(ctx) {}

WindowChrome::~WindowChrome()
{
    m_backFrames.cancel();
    for (QWidget* widget : {m_toolBar.data(), m_bottomBar.data(), m_leftBottomBar.data()})
        if (widget && !widget->parent())
            delete widget;
}

platform::kit::Scheduler& WindowChrome::scheduler() const
{
    return m_ctx.scheduler ? *m_ctx.scheduler : platform::kit::Scheduler::current();
}

platform::NotificationCenter& WindowChrome::center() const
{
    return m_ctx.notifications ? *m_ctx.notifications : platform::NotificationCenter::defaultCenter();
}

void WindowChrome::install()
{
    buildToolBar();
    buildBottomBars();
    for (QWidget* widget : {m_toolBar.data(), m_bottomBar.data()})
        widget->installEventFilter(this);
    if (m_ctx.window)
        m_ctx.window->installEventFilter(this);
    // The grid draws no ground of its own: the theme's is tiled behind it.
    if (m_ctx.collectionView)
        m_ctx.collectionView->viewport()->installEventFilter(this);

    auto& c = center();
    m_observers.push_back(c.addObserver(ContentSwitch::kUpdateLabCenterTitle,
                                        [this](const platform::Notification& n) { onUpdateLabCenterTitle(n.object); }));
    // The split views post to the shared center.
    m_observers.push_back(platform::NotificationCenter::defaultCenter().addObserver(KPSplitView::kToggledNotification,
                                        [this](const platform::Notification& n) { onKPSplitViewToogledChange(n.object); }));
    m_observers.push_back(c.addObserver(kMonitorResignWindowResign,
                                        [this](const platform::Notification&) { onMonitorResignWindowResign(); }));
    layoutToolBar();
    adjustLabItemCountPosition();
    keepToolBarRoom();
}

void WindowChrome::buildToolBar()
{
    m_toolBar = bar(kToolBarHeight, QStringLiteral("CollectionViewTopToolBar"));
    m_toolBar->setObjectName(QStringLiteral("centerViewToolBar"));
    QWidget* tb = m_toolBar;

    m_btnShowHideSideBar = borderless(tb);
    connect(m_btnShowHideSideBar, &QToolButton::clicked, this, [this] {
        if (m_ctx.commands)
            m_ctx.commands->perform(QStringLiteral("menuShowHideSideBarClick"));
        else
            setBLeftSideBarExpand(!bLeftSideBarExpand());
    });
    m_btnShowHidePropertyView = borderless(tb);
    connect(m_btnShowHidePropertyView, &QToolButton::clicked, this, &WindowChrome::onRightButtonAction);
    m_btnViewMode = borderless(tb);
    connect(m_btnViewMode, &QToolButton::clicked, this, &WindowChrome::onBtnViewModeClick);
    buildViewModeMenu();

    auto* buttonTheme = KPThemeObject::customThemeObjectWithName(QStringLiteral("ButtonGroupsItem"));
    m_btnGroupButtons = new KPButtonGroups(QRect(0, 0, kGroupWidth, kGroupHeight), tb);
    m_btnGroupButtons->setCustomThemeObject(buttonTheme);
    m_btnGroupButtons->setupDatas(items({{"Title", 1}, {"Updated", 8}, {"Size", 4}, {"Kind", 5}, {"From", 10}}));
    m_btnGroupButtons->setupButtonGroupsClickAction([this](const QVariantMap& item) { onGroupButtonsClick(item); });
    m_btnGroupButtons->hide();
    m_btnRecentButtons = new KPButtonGroups(QRect(0, 0, kGroupWidth, kGroupHeight), tb);
    m_btnRecentButtons->setCustomThemeObject(buttonTheme);
    m_btnRecentButtons->setupDatas(items({{"Import", 0}, {"Last Open", 1}, {"Last Modified", 2}}));
    m_btnRecentButtons->setupButtonGroupsClickAction([this](const QVariantMap& item) { onGroupRecentButtonsClick(item); });
    m_btnRecentButtons->selectByTag(int(defaults().integerForKey(kRecentFilterKey)));
    m_btnRecentButtons->hide();

    m_btnLibraryNav = new KPHorizontalStretchButton(QRect(41, 3, 200, 32), tb);
    m_btnLibraryNav->setDelegate({[this](KPHorizontalStretchButton*) -> QMenu* {
        // Each press gets a fresh copy of the tree; the previous copy's run has ended by then.
        m_navMenu.reset(m_ctx.sideBarDataSource ? m_ctx.sideBarDataSource->duplicateMenuWithDataSource() : nullptr);
        return m_navMenu.get();
    }});
    m_btnLibraryNav->setAutoResizeByTitle(true);
    m_btnLibraryNav->setTitle(platform::localizedString(QStringLiteral("Library")));
    m_btnLibraryNav->hide();
    m_btnBack = new KPHorizontalStretchButton(QRect(48, 6, 200, 25), tb);
    m_btnBack->setupTargetAndAction([this](KPHorizontalStretchButton*) { onBackButtonClick(); });
    m_btnBack->setAutoResizeByTitle(true);
    m_btnBack->setTitle(platform::localizedString(QStringLiteral("Back")));
    m_btnBack->hide();

    m_labCenterTitle = new QLabel(tb);
    m_labCenterTitle->setAlignment(Qt::AlignCenter);
    m_labCenterTitle->hide();
    reloadTheme();
}

void WindowChrome::buildBottomBars()
{
    m_bottomBar = bar(kBottomBarHeight, QStringLiteral("CenterViewBottomToolBarBG"));
    m_bottomBar->setObjectName(QStringLiteral("centerViewBottomToolBar"));
    m_labItemCount = new QLabel(m_bottomBar);
    m_labItemCount->resize(200, 18);
    m_labItemCount->setAlignment(Qt::AlignCenter);
    QFont font = m_labItemCount->font();
    font.setPixelSize(11);
    m_labItemCount->setFont(font);
    m_labItemCount->setStyleSheet(QStringLiteral("color: rgb(96, 96, 96);"));

    m_zoomSlider = new KPSlider(QRect(0, 0, 170, 20), 1, m_bottomBar);
    m_zoomSlider->setMinValue(25);
    m_zoomSlider->setMaxValue(100);
    m_zoomSlider->setCurrentValue(double(defaults().integerForKey(kViewItemScaleKey)));
    m_zoomSlider->setDelegate({[this](double value) {
        if (hooks.sliderChange)
            hooks.sliderChange(value);
    }});

    m_leftBottomBar = bar(kBottomBarHeight, QStringLiteral("LeftBottomToolBarBG"), QStringLiteral("LeftBottomToolBarBGColor"));
    m_leftBottomBar->setObjectName(QStringLiteral("leftBottomToolBar"));
    m_addButton = new KPThemeImageButton(QRect(10, 1, 18, 18), m_leftBottomBar);
    m_addButton->setMultiSprite(KPThemeObject::themeObjectWithName<KPMultiSprite>(QStringLiteral("BottomAddButton")));
    m_addButton->setupCoustomPopupMenuBlock([this](KPThemeImageButton* button, QMouseEvent*) {
        QMenu* menu = hooks.addButonMenu ? hooks.addButonMenu() : nullptr;
        if (!menu)
            return;
        QFont small = menu->font();
        small.setPointSize(11);
        menu->setFont(small);
        // Opens upwards from the button, as a context menu does at the window's bottom.
        menu->popup(button->mapToGlobal(QPoint(0, 0) - QPoint(0, menu->sizeHint().height())));
    });
}

// The view-mode button's own menu (a right click): the modes and both sort orders at hand, their
// states kept by the sort and display handlers like the View menu's.
void WindowChrome::buildViewModeMenu()
{
    using platform::kit::MenuItemModel;
    const QString fileSort = QStringLiteral("menuPopupMenuItemFileSortClick");
    const QString sectionSort = QStringLiteral("menuSectionSortClick");
    auto check = [](const QString& title, int tag, const QString& command) {
        MenuItemModel item = MenuItemModel::item(platform::localizedString(title), tag, command);
        item.checkable = true;
        return item;
    };
    std::vector<MenuItemModel> sortBy;
    const QStringList sortTitles{QStringLiteral("Title"),      QStringLiteral("Size"),          QStringLiteral("Kind"),
                                 QStringLiteral("Date Created"), QStringLiteral("Date Added"), QStringLiteral("Date Modified"),
                                 QStringLiteral("Date Last Opened")};
    for (int type = 1; type <= int(sortTitles.size()); ++type)
        sortBy.push_back(check(sortTitles[type - 1], type, fileSort));
    sortBy.push_back(MenuItemModel::separator());
    sortBy.push_back(check(QStringLiteral("Ascending"), mainmenu::kAscendingTag, fileSort));
    sortBy.push_back(check(QStringLiteral("Descending"), mainmenu::kDescendingTag, fileSort));
    MenuItemModel orderMenu = MenuItemModel::submenu(platform::localizedString(mainmenu::kOrderBy),
                                                     {check(QStringLiteral("Ascending"), mainmenu::kAscendingTag, sectionSort),
                                                      check(QStringLiteral("Descending"), mainmenu::kDescendingTag, sectionSort)});
    orderMenu.tag = kViewModeMenuOrderTag;
    MenuItemModel sortMenu = MenuItemModel::submenu(platform::localizedString(mainmenu::kSortBy), std::move(sortBy));
    sortMenu.tag = kViewModeMenuSortTag;
    const QString switchMode = QStringLiteral("menuSwitchViewModeClick");
    const platform::kit::MenuModel model{
        {},
        {check(QStringLiteral("as Icons"), kViewModeMenuIconTag, switchMode),
         check(QStringLiteral("as List"), kViewModeMenuListTag, switchMode), MenuItemModel::separator(),
         std::move(orderMenu), std::move(sortMenu)}};
    m_btnViewModeMenu = platform::kit::toQMenu(model, m_btnViewMode, [this](QAction* action) {
        int tag = platform::kit::menuItemTag(action);
        const QString command = platform::kit::menuItemCommand(action);
        // The mode items answer to the View menu's command, which knows them by that menu's tags.
        if (command == QLatin1String("menuSwitchViewModeClick"))
            tag = tag == kViewModeMenuIconTag ? mainmenu::kIconViewTag : mainmenu::kListViewTag;
        platform::kit::CommandDispatcher& commands = m_ctx.commands ? *m_ctx.commands : platform::kit::CommandDispatcher::shared();
        commands.perform(command, platform::kit::makeSender(tag));
    });
    m_btnViewMode->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_btnViewMode, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_btnViewModeMenu->popup(m_btnViewMode->mapToGlobal(at)); });
}

QRect WindowChrome::upFrame(const QWidget* control)
{
    const QRect g = control->geometry();
    return QRect(g.x(), control->parentWidget()->height() - g.y() - g.height(), g.width(), g.height());
}

void WindowChrome::layoutToolBar()
{
    if (!m_toolBar)
        return;
    const int width = m_toolBar->width();
    // Centred in the bar; in a narrow document area (a small screen with the inspector open)
    // centred between the side bar button and the view buttons instead, so that no title lies
    // over them.
    auto groupX = [width](const KPButtonGroups* group) {
        return qRound(centredClearOf(width, kGroupWidth, group ? buttonsSpan(group) : 0, kToolBarSideButtonWidth,
                                     2 * kToolBarSideButtonWidth));
    };
    placeUp(m_btnGroupButtons, groupX(m_btnGroupButtons), 6, kGroupWidth, kGroupHeight);
    placeUp(m_btnRecentButtons, groupX(m_btnRecentButtons), 6, kGroupWidth, kGroupHeight);
    placeUp(m_btnShowHideSideBar, 0, 3, 41, 32);
    placeUp(m_btnShowHidePropertyView, width - 41, 3, 41, 32);
    placeUp(m_btnViewMode, qRound(width - 82.0), 3, 41, 32);
    placeUp(m_btnLibraryNav, 41, 3, m_btnLibraryNav->width(), 32);
    placeUp(m_btnBack, 48, 6, m_btnBack->width(), 25);
    placeUp(m_labCenterTitle, qRound((width - kCenterTitleWidth) / 2.0), 2, kCenterTitleWidth, kToolBarHeight - 2);
    // Where even the room between them is too narrow for the titles, the end buttons stay on top.
    for (QWidget* end : {static_cast<QWidget*>(m_btnShowHideSideBar.data()), static_cast<QWidget*>(m_btnViewMode.data()),
                         static_cast<QWidget*>(m_btnShowHidePropertyView.data())})
        if (end)
            end->raise();
}

int WindowChrome::toolBarButtonsWidth() const
{
    int widest = 0;
    for (const KPButtonGroups* group : {m_btnGroupButtons.data(), m_btnRecentButtons.data()})
        if (group)
            widest = std::max(widest, buttonsSpan(group));
    // A point of air at either end takes up the rounding of the centred groups.
    constexpr int kAir = 2;
    return kToolBarSideButtonWidth + widest + 2 * kToolBarSideButtonWidth + kAir;
}

void WindowChrome::keepToolBarRoom()
{
    // Each split's other pane holds the document area and the open panes between it and the
    // split; the inspector cannot give way (its width is fixed), the side bars can.
    KPSplitView* sub = m_ctx.subSplitView;
    KPSplitView* inspector = m_ctx.inspectorSplitView;
    const int buttons = toolBarButtonsWidth();
    auto open = [](const KPSplitView* split) { return split && split->isExpand() ? split->minValue() + 1 : 0.0; };
    if (sub)
        sub->setOtherMinimum(buttons);
    if (inspector)
        inspector->setOtherMinimum(buttons + open(sub));
    if (m_ctx.splitView)
        m_ctx.splitView->setOtherMinimum(buttons + open(sub) + open(inspector));
}

void WindowChrome::adjustLabItemCountPosition()
{
    if (!m_bottomBar)
        return;
    const int width = m_bottomBar->width();
    const int count = m_labItemCount->width();
    placeUp(m_labItemCount, int(centredClearOf(width, count, count, 0, kZoomSliderRoom)), 4, count, m_labItemCount->height());
    placeUp(m_zoomSlider, width - 186, 2, 170, 20);
}

void WindowChrome::adjustLeftViewPosition()
{
    if (!m_btnLibraryNav)
        return;
    if (bLeftSideBarExpand()) {
        m_btnLibraryNav->hide();
    } else if (m_btnBack && m_btnBack->isHidden()) {
        clearOpacity(m_btnLibraryNav);
        m_btnLibraryNav->show();
    }
}

namespace {

// Right-aligned in the title bar, clear of the full-screen button.
QRect idleSearchEditorRect(const QWidget* titleBar)
{
    constexpr int kWidth = 240, kHeight = 24, kRightMargin = 40;
    const int width = titleBar ? titleBar->width() : 0;
    return QRect(width - kRightMargin - kWidth, (WindowChrome::kTitleBarHeight - kHeight) / 2, kWidth, kHeight);
}

} // namespace

QRect WindowChrome::searchEditorRect() const
{
    const QRect idle = idleSearchEditorRect(m_titleBar);
    if (!m_ctx.state.searchTextEditoring)
        return idle;
    constexpr int kClosedSideBarLeft = 120, kMenuBarGap = 8;
    int left = m_ctx.state.sideBarExpanded && m_ctx.sideBarView ? m_ctx.sideBarView->width() : kClosedSideBarLeft;
    if (m_menuBar && m_menuBar->isVisible())
        left = std::max(left, m_menuBar->geometry().right() + 1 + kMenuBarGap);
    left = std::min(left, idle.x());
    return QRect(left, idle.y(), idle.right() + 1 - left, idle.height());
}

void WindowChrome::setSearchField(QWidget* field)
{
    m_searchField = field;
    m_searchFieldWide = m_ctx.state.searchTextEditoring;
    layoutSearchField();
}

void WindowChrome::layoutSearchField()
{
    if (m_searchField) {
        const QRect target = searchEditorRect();
        const bool wide = m_ctx.state.searchTextEditoring;
        const bool turn = std::exchange(m_searchFieldWide, wide) != wide;
        const bool moving = m_searchFieldMove && m_searchFieldMove->state() == QAbstractAnimation::Running;
        if (turn && m_searchField->isVisible()) {
            // From wherever a move the other way has got to.
            if (moving)
                m_searchFieldMove->stop();
            const platform::kit::AnimationPolicy& policy =
                m_ctx.animation ? *m_ctx.animation : platform::kit::AnimationPolicy::current();
            m_searchFieldMove = policy.animate(m_searchField, "geometry", target, kSearchFieldMoveMs);
            if (m_searchFieldMove)
                connect(m_searchFieldMove, &QVariantAnimation::valueChanged, this, [this] { updateTitleIconCover(); });
        } else if (moving) {
            m_searchFieldMove->setEndValue(target);
        } else {
            m_searchField->setGeometry(target);
        }
    }
    updateTitleIconCover();
}

void WindowChrome::updateTitleIconCover()
{
    auto* bar = dynamic_cast<VQTitlebarView*>(m_titleBar.data());
    if (!bar)
        return;
    // The bar's centred icon gives way to the search field grown for typing and to menu titles
    // reaching the middle of a narrow window, rather than showing through or around them.
    const QRect icon = bar->titleIconRect();
    bool covered = m_searchField && m_searchField->isVisible() && m_searchField->geometry().intersects(icon);
    if (m_menuBar && m_menuBar->isVisible()) {
        for (QAction* title : m_menuBar->actions())
            covered = covered || m_menuBar->actionGeometry(title).translated(m_menuBar->pos()).intersects(icon);
    }
    bar->setTitleIconHidden(covered);
}

void WindowChrome::installTitleBar(QWidget* titleBar, QMenuBar* menuBar)
{
    m_titleBar = titleBar;
    m_menuBar = menuBar;
    if (!titleBar)
        return;
    titleBar->installEventFilter(this);
    // A still place in the bar above the side bar's end that keeps presses from dragging the
    // window. Beneath the bar's other controls: it never takes a press meant for a menu title
    // or the search field.
    if (!m_navButton) {
        m_navButton = new KPNavButton(QRect(), titleBar);
        m_navButton->setObjectName(QStringLiteral("navButton"));
        m_navButton->lower();
        placeNavButton();
    }
    if (menuBar) {
        menuBar->setParent(titleBar);
        // A desktop with a global menu bar takes the menus; the bar here then stays hidden.
        const bool global = menuBar->isNativeMenuBar() && menuBar->window() && !menuBar->isVisibleTo(titleBar)
                            && menuBar->sizeHint().height() == 0;
        menuBar->setVisible(!global);
        // The bar's own width only, over the title bar's background: the centred title-bar
        // button and the search field stay visible beside it.
        styleMenuBar();
        const int height = std::min(menuBar->sizeHint().height(), kTitleBarHeight);
        const int room = std::max(0, idleSearchEditorRect(titleBar).x() - kMenuBarX - 8);
        menuBar->setGeometry(kMenuBarX, (kTitleBarHeight - height) / 2, std::min(menuBar->sizeHint().width(), room),
                             height);
    }
    layoutSearchField();
}

void WindowChrome::placeNavButton()
{
    if (!m_navButton)
        return;
    int sideBar = 0;
    // The width the side bar was given: while the window opens it may give way for a moment to
    // the document area's tool bar (the second side bar is open until the first node shows).
    if (bLeftSideBarExpand())
        sideBar = m_ctx.splitView ? int(std::lround(m_ctx.splitView->keptExtent()))
                                  : (m_ctx.sideBarView ? m_ctx.sideBarView->width() : 0);
    // y-up kNavButtonY in the bar; the bar's height never changes, so its top stays put.
    m_navButton->move(sideBar - kNavButtonRightInset, kTitleBarHeight - kNavButtonY - KPNavButton::kSize.height());
}

void WindowChrome::showButtons(const ContentButtons& buttons)
{
    if (!m_toolBar)
        return;
    // Another node picked during the Back slide: its end would hide the new node's buttons.
    if (m_backFrames.isActive())
        stopBackSlide();
    m_btnBack->setVisible(buttons.backButton);
    m_btnRecentButtons->setVisible(buttons.recentButtons);
    m_btnGroupButtons->setVisible(buttons.groupButtons);
    setOpacity(m_btnGroupButtons, buttons.groupButtonsAlpha);
    m_btnViewMode->setVisible(buttons.viewModeButton);
    m_labCenterTitle->setVisible(buttons.centerTitleShown);
    if (!buttons.centerTitle.isEmpty())
        m_labCenterTitle->setText(buttons.centerTitle);
    m_btnLibraryNav->setTitle(buttons.navigationTitle.isEmpty() ? platform::localizedString(QStringLiteral("Library"))
                                                                : buttons.navigationTitle);
    m_navigationIcon = buttons.navigationIcon;
    if (!m_navigationIcon.isNull())
        m_btnLibraryNav->setIcon(navigationIconInk(m_navigationIcon));
    adjustLeftViewPosition();
    layoutToolBar();
}

// ---- actions ----

void WindowChrome::onBtnViewModeClick()
{
    if (!m_viewSettingPopver) {
        m_viewSettingPopver = std::make_unique<platform::kit::Popover>(platform::kit::Popover::Form::Popup);
        m_viewSettingPopver->setContentSize(QSize(SortViewSettingController::kWidth, SortViewSettingController::kHeight));
        connect(m_viewSettingPopver.get(), &platform::kit::Popover::closed, this,
                [this] { m_ctx.state.openPopovers.erase(kViewOptionsPopover); });
    }
    m_viewSettingController = std::make_unique<SortViewSettingController>();
    m_viewSettingPopver->setContentWidget(m_viewSettingController->takeView());
    m_ctx.state.openPopovers[kViewOptionsPopover] = [this] {
        if (m_viewSettingPopver)
            m_viewSettingPopver->close();
    };
    // Below the button: its bottom edge on screen.
    m_viewSettingPopver->show(m_btnViewMode, m_btnViewMode->rect(), platform::kit::PopoverEdge::MaxY);
}

void WindowChrome::onGroupButtonsClick(const QVariantMap& item)
{
    if (!m_ctx.gridDataSource || !m_ctx.sortManager || !m_ctx.dataSourceManager)
        return;
    QVariantMap setting{{GridDataSource::kGroupTypeKey, item.value(QStringLiteral("Tag")).toInt()},
                        {GridDataSource::kDisplayModeKey, m_ctx.viewSizeManager ? int(m_ctx.viewSizeManager->displayMode()) : 1},
                        {GridDataSource::kGroupAscendingKey, m_ctx.sortManager->groupAscending()},
                        {GridDataSource::kFileTypeKey, m_ctx.sortManager->fileSortType()},
                        {GridDataSource::kFileAscendingKey, m_ctx.sortManager->fileAscending()}};
    m_ctx.gridDataSource->grouping().createDataAndFileDataByGroupSortSetting(m_ctx.dataSourceManager->dataSource(), setting);
    m_ctx.gridDataSource->reloadData();
}

void WindowChrome::onGroupRecentButtonsClick(const QVariantMap& item)
{
    defaults().setInteger(item.value(QStringLiteral("Tag")).toInt(), kRecentFilterKey);
    defaults().synchronize();
    if (m_ctx.gridDataSource)
        m_ctx.gridDataSource->grouping().createRecentDataAndFillData();
}

void WindowChrome::onRightButtonAction()
{
    setBRightPropertyViewExpand(!bRightPropertyViewExpand());
    if (m_ctx.collectionView && !m_ctx.collectionView->selectedIndexs().isEmpty())
        m_ctx.collectionView->scrollItemWithSectionIndexSet(m_ctx.collectionView->selectedIndexs().first());
}

void WindowChrome::onUpdateLabCenterTitle(const QVariant& title)
{
    if (m_labCenterTitle && title.typeId() == QMetaType::QString && !title.toString().isEmpty())
        m_labCenterTitle->setText(title.toString());
}

void WindowChrome::onBackButtonClick()
{
    KPCollectionView* grid = m_ctx.collectionView;
    if (!grid || !m_ctx.gridDataSource || !m_ctx.viewSizeManager || m_backFrames.isActive())
        return;
    QWidget* over = m_ctx.centerView ? m_ctx.centerView.data() : grid->parentWidget();
    auto* snapshot = new QLabel(over);
    snapshot->setPixmap(grid->grab());
    snapshot->setGeometry(grid->geometry());
    snapshot->show();
    m_backSnapshot = snapshot;

    const int type = m_ctx.state.shownNode ? m_ctx.state.shownNode->nodeType() : 0;
    KPGroupingEngine& grouping = m_ctx.gridDataSource->grouping();
    if (SideBarNodeType::isGroupedView(type)) {
        m_ctx.viewSizeManager->setItemViewType(KPItemViewType(1));
        m_ctx.viewSizeManager->setDisplayMode(KPDisplayModeIcon);
        switch (type) {
        case SideBarNodeType::FlaggedNode:
            m_ctx.viewSizeManager->setItemViewType(KPItemViewType(3));
            grouping.createFlagDataAndFillData();
            break;
        case SideBarNodeType::FileTypeNode:
            grouping.createFileTypeAndFileData();
            break;
        case SideBarNodeType::AuthorNode:
            grouping.createAuthorDataAndFillData();
            break;
        default:
            m_ctx.viewSizeManager->setItemViewType(KPItemViewType(2));
            grouping.createDateDataAndFileDate();
            break;
        }
    }
    m_labCenterTitle->show();
    setOpacity(m_labCenterTitle, 0);
    setOpacity(grid, 0.1);
    // Tiles select nothing.
    grid->setAllowSelection(false);
    grid->setAllowRegionSelection(false);
    grid->setAllowShiftSelection(false);

    m_backStart = scheduler().clockMs();
    const int slideWidth = grid->viewport() ? grid->viewport()->width() : grid->width();
    const bool navShown = !bLeftSideBarExpand();
    m_backFrames = scheduler().every(kBackFrameMs, [this, slideWidth, navShown] {
        const double linear = std::min(1.0, double(scheduler().clockMs() - m_backStart) / kBackSlideMs);
        const double p = QEasingCurve(QEasingCurve::InOutQuad).valueForProgress(linear);
        if (m_backSnapshot)
            m_backSnapshot->move(qRound(p * slideWidth), m_backSnapshot->y());
        setOpacity(m_ctx.collectionView, 0.1 + 0.9 * p);
        setOpacity(m_labCenterTitle, p);
        for (QWidget* fading : {static_cast<QWidget*>(m_btnBack.data()), static_cast<QWidget*>(m_btnGroupButtons.data()),
                                static_cast<QWidget*>(m_btnViewMode.data())})
            setOpacity(fading, 1 - p);
        if (navShown && m_btnLibraryNav) {
            m_btnLibraryNav->show();
            setOpacity(m_btnLibraryNav, p);
        }
        if (linear >= 1)
            finishBack();
    });
}

void WindowChrome::finishBack()
{
    stopBackSlide();
    for (QWidget* hidden : {static_cast<QWidget*>(m_btnBack.data()), static_cast<QWidget*>(m_btnGroupButtons.data()),
                            static_cast<QWidget*>(m_btnViewMode.data())})
        hidden->hide();
    m_btnLibraryNav->setVisible(!bLeftSideBarExpand());
}

void WindowChrome::stopBackSlide()
{
    m_backFrames.cancel();
    delete m_backSnapshot.data();
    if (m_ctx.collectionView) {
        clearOpacity(m_ctx.collectionView);
        m_ctx.collectionView->viewport()->update();
    }
    clearOpacity(m_labCenterTitle);
    for (QWidget* faded : {static_cast<QWidget*>(m_btnBack.data()), static_cast<QWidget*>(m_btnGroupButtons.data()),
                           static_cast<QWidget*>(m_btnViewMode.data()), static_cast<QWidget*>(m_btnLibraryNav.data())})
        clearOpacity(faded);
}

// ---- panes ----

bool WindowChrome::bLeftSideBarExpand() const
{
    return m_ctx.state.sideBarExpanded;
}

void WindowChrome::setBLeftSideBarExpand(bool expand)
{
    if (expand == m_ctx.state.sideBarExpanded)
        return;
    m_ctx.state.sideBarExpanded = expand;
    if (m_ctx.splitView)
        expand ? m_ctx.splitView->expand() : m_ctx.splitView->collapse();
    if (m_ctx.appMenu && m_ctx.appMenu->itemShowHideSideBar())
        m_ctx.appMenu->itemShowHideSideBar()->setText(expand ? mainmenu::kHideSideBar : mainmenu::kShowSideBar);
    setButtonSprite(m_btnShowHideSideBar, expand ? QStringLiteral("HideSideBarButtonIcon") : QStringLiteral("ShowSideBarButtonIcon"));
    adjustLeftViewPosition();
}

bool WindowChrome::bRightPropertyViewExpand() const
{
    return m_ctx.state.inspectorExpanded;
}

void WindowChrome::setBRightPropertyViewExpand(bool expand)
{
    if (expand == m_ctx.state.inspectorExpanded)
        return;
    m_ctx.state.inspectorExpanded = expand;
    if (m_ctx.inspectorSplitView)
        expand ? m_ctx.inspectorSplitView->expand() : m_ctx.inspectorSplitView->collapse();
    if (!expand) {
        if (hooks.refreshPropertyViewInfo)
            hooks.refreshPropertyViewInfo();
    } else if (m_ctx.inspector) {
        m_ctx.inspector->refreshDatas();
    }
}

void WindowChrome::onKPSplitViewToogledChange(const QVariant& splitView)
{
    auto* split = dynamic_cast<KPSplitView*>(splitView.value<QObject*>());
    if (!split)
        return;
    // A nested split reports before the outer ones have their sizes; the outermost that moved
    // reports last, and the room is kept from there.
    if (!KPSplitView::isLayingOut() &&
        (split == m_ctx.splitView || split == m_ctx.inspectorSplitView || split == m_ctx.subSplitView))
        keepToolBarRoom();
    if (split == m_ctx.splitView) {
        // The divider was dragged: the state follows, the menu title and button do not.
        m_ctx.state.sideBarExpanded = split->isExpand();
        adjustLeftViewPosition();
    } else if (split == m_ctx.inspectorSplitView) {
        if (m_ctx.window)
            m_ctx.window->update(0, m_ctx.window->height() - kBottomBarHeight, m_ctx.window->width(), kBottomBarHeight);
        if (hooks.collectionViewItemDidSelected)
            hooks.collectionViewItemDidSelected();
    }
}

// ---- window state ----

void WindowChrome::windowDidEnterFullScreen()
{
    if (m_ctx.appMenu && m_ctx.appMenu->itemFullScreen())
        m_ctx.appMenu->itemFullScreen()->setText(platform::localizedString(mainmenu::kExitFullScreen));
}

void WindowChrome::windowDidExitFullScreen()
{
    if (m_ctx.appMenu && m_ctx.appMenu->itemFullScreen())
        m_ctx.appMenu->itemFullScreen()->setText(platform::localizedString(mainmenu::kEnterFullScreen));
}

void WindowChrome::onNSWindowDidBecomeKeyNotification()
{
    if (!m_ctx.appDelegate || !m_ctx.safeBox || m_ctx.appDelegate->safeBoxDisk().isEmpty())
        return;
    const QString mounted = m_ctx.safeBox->safeBoxAttactPath();
    if (mounted.isEmpty() || QFileInfo::exists(mounted))
        return;
    // The volume went away while the program was in the background.
    if (m_ctx.gridDataSource)
        m_ctx.gridDataSource->dataSource().clear();
    if (m_ctx.collectionView)
        m_ctx.collectionView->reloadData();
    if (m_ctx.sideBarDataSource && m_ctx.sideBarDataSource->safeBoxNode())
        m_ctx.sideBarDataSource->safeBoxNode()->setRightNumber(0);
    m_ctx.safeBox->forgetAttachedVolume();
    m_ctx.appDelegate->setSafeBoxDisk({});
    m_ctx.appDelegate->setTmpSBDicInfo({});
    if (m_ctx.state.shownNode && m_ctx.state.shownNode->nodeType() == SideBarNodeType::SafeBoxNode)
        m_ctx.safeBox->showSetupView(false);
}

void WindowChrome::onMonitorResignWindowResign()
{
    // Taken first: a closer may open or close popovers of its own.
    auto open = std::move(m_ctx.state.openPopovers);
    m_ctx.state.openPopovers.clear();
    for (auto& [name, close] : open)
        if (close)
            close();
    if (m_ctx.search)
        m_ctx.search->destroySearchResultPopver();
}

// ---- theme ----

void WindowChrome::styleMenuBar()
{
    if (!m_menuBar)
        return;
    QString ink;
    auto* group = KPThemeObject::customThemeObjectWithName(QStringLiteral("MainWindow"));
    auto colour = [group](const char* name) -> std::optional<QColor> {
        auto* c = group ? group->themeObjectWithName<KPColor>(QLatin1String(name)) : nullptr;
        return c ? c->color() : std::nullopt;
    };
    if (const auto start = colour("StartColor"), end = colour("EndColor"); start && end) {
        using namespace themecontrast;
        // The titles sit on the bar's gradient; white or near-black, whichever reads on both ends.
        const QColor dark(0x22, 0x22, 0x22);
        const QColor wanted = worstContrast(Qt::white, {*start, *end}) >= worstContrast(dark, {*start, *end}) ? QColor(Qt::white)
                                                                                                              : dark;
        const QColor active = readableOn({*start, *end}, wanted);
        // An inactive window's titles are disabled: softer, but still readable.
        const QColor inactive = readableOn({*start, *end}, blend(active, *start, 0.35));
        ink = QStringLiteral("QMenuBar::item { color: %1; } QMenuBar::item:disabled { color: %2; }")
                  .arg(active.name(), inactive.name());
    }
    m_menuBar->setStyleSheet(QStringLiteral("QMenuBar { background: transparent; }"
                                            "QMenuBar::item { background: transparent; padding: 3px 7px; }"
                                            "QMenuBar::item:selected { background: rgba(0, 0, 0, 40); border-radius: 3px; }")
                             + ink);
}

// The node's icon is drawn for the light navigation menu; on the button it takes the colour of
// the button's title, which the theme keeps readable on the button's plate.
QImage WindowChrome::navigationIconInk(const QImage& icon) const
{
    auto* group = KPThemeObject::customThemeObjectWithName(QStringLiteral("LibraryNavButton"));
    auto* style = group ? group->themeObjectWithName<KPTextStyle>(QStringLiteral("Text")) : nullptr;
    if (!style || icon.isNull())
        return icon;
    QImage tinted = icon.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&tinted);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(tinted.rect(), style->textAttribute().colorOrDefault());
    painter.end();
    return tinted;
}

// The count under the grid and the title over it read on whatever ground the theme gives their bars.
void WindowChrome::styleLabels()
{
    auto groundOf = [](const QString& name, const QColor& fallback) {
        KPThemeObject* object = KPThemeObject::themeObjectWithName(name);
        const KPSprite* sprite = dynamic_cast<KPSprite*>(object);
        return themecontrast::averageColor(sprite ? sprite->image() : QImage(), fallback);
    };
    if (m_labItemCount) {
        const QColor ground = groundOf(QStringLiteral("CenterViewBottomToolBarBG"), Qt::white);
        const QColor ink = themecontrast::readableOn(ground, QColor(96, 96, 96));
        m_labItemCount->setStyleSheet(QStringLiteral("color: %1;").arg(ink.name()));
    }
    if (m_labCenterTitle) {
        const QColor ground = groundOf(QStringLiteral("CollectionViewTopToolBar"), Qt::white);
        auto* style = KPThemeObject::themeObjectWithName<KPTextStyle>(QStringLiteral("CenterTitleTextField"));
        QColor ink = Qt::black;
        if (style) {
            m_labCenterTitle->setFont(style->textAttribute().font);
            ink = style->textAttribute().colorOrDefault();
        }
        m_labCenterTitle->setStyleSheet(
            QStringLiteral("color: %1;").arg(themecontrast::readableOn(ground, ink).name()));
    }
}

void WindowChrome::onCenterViewDrawBG(QWidget* view, const QRect& dirty)
{
    if (m_centerViewThemeBG.isNull())
        return;
    constexpr int kTile = 100;
    QPainter painter(view);
    painter.setClipRect(dirty.intersected(view->rect()));
    for (int y = 0; y < view->height(); y += kTile)
        for (int x = 0; x < view->width(); x += kTile)
            if (dirty.intersects(QRect(x, y, kTile, kTile)))
                painter.drawImage(QRect(x, y, kTile, kTile), m_centerViewThemeBG);
}

void WindowChrome::setButtonSprite(QToolButton* button, const QString& spriteName, bool downAsAlternate)
{
    if (!button)
        return;
    if (button == m_btnShowHideSideBar)
        m_sideBarImage = spriteName;
    KPCustomThemeObject* group = KPThemeObject::customThemeObjectWithName(kTopbar);
    auto* sprite = group ? group->themeObjectWithName<KPMultiSprite>(spriteName) : nullptr;
    QIcon icon;
    if (sprite && sprite->normalSprite())
        icon.addPixmap(QPixmap::fromImage(sprite->normalSprite()->image()), QIcon::Normal, QIcon::Off);
    KPSprite* alternate = sprite ? (downAsAlternate ? sprite->downSprite() : sprite->highlightSprite()) : nullptr;
    if (alternate)
        icon.addPixmap(QPixmap::fromImage(alternate->image()), QIcon::Active, QIcon::Off);
    // A theme without the sprite leaves a plain button that still works.
    button->setIcon(icon);
    if (icon.isNull())
        button->setText(spriteName.startsWith(QStringLiteral("Hide")) ? QStringLiteral("‹") : QStringLiteral("›"));
    else
        button->setText({});
}

void WindowChrome::setViewModeButtonImage(const QString& spriteName)
{
    m_viewModeImage = spriteName;
    setButtonSprite(m_btnViewMode, spriteName);
}

void WindowChrome::reloadTheme()
{
    if (m_addButton)
        m_addButton->setMultiSprite(KPThemeObject::themeObjectWithName<KPMultiSprite>(QStringLiteral("BottomAddButton")));
    if (m_btnBack)
        m_btnBack->setCustomThemeObject(KPThemeObject::customThemeObjectWithName(QStringLiteral("BackNavButton")));
    if (m_btnLibraryNav) {
        m_btnLibraryNav->setCustomThemeObject(KPThemeObject::customThemeObjectWithName(QStringLiteral("LibraryNavButton")));
        if (!m_navigationIcon.isNull())
            m_btnLibraryNav->setIcon(navigationIconInk(m_navigationIcon));
    }
    setButtonSprite(m_btnShowHideSideBar,
                    bLeftSideBarExpand() ? QStringLiteral("HideSideBarButtonIcon") : QStringLiteral("ShowSideBarButtonIcon"));
    setButtonSprite(m_btnShowHidePropertyView, QStringLiteral("ShowHidePropertyButtonIcon"), true);
    setViewModeButtonImage(QStringLiteral("IconViewIcon"));
    auto* centerBG = KPThemeObject::themeObjectWithName<KPSprite>(QStringLiteral("CenterViewBG"));
    m_centerViewThemeBG = centerBG ? centerBG->image() : QImage();
    styleMenuBar();
    styleLabels();
    if (m_ctx.collectionView)
        m_ctx.collectionView->viewport()->update();
    for (QWidget* widget : {m_toolBar.data(), m_bottomBar.data(), m_leftBottomBar.data()})
        if (widget)
            widget->update();
}

bool WindowChrome::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Paint:
        if (m_ctx.collectionView && watched == m_ctx.collectionView->viewport())
            onCenterViewDrawBG(m_ctx.collectionView->viewport(), static_cast<QPaintEvent*>(event)->rect());
        break;
    case QEvent::Resize:
        if (watched == m_toolBar)
            layoutToolBar();
        else if (watched == m_bottomBar)
            adjustLabItemCountPosition();
        else if (watched == m_titleBar)
            installTitleBar(m_titleBar, m_menuBar);
        break;
    case QEvent::Show:
        // Sizes set before the window showed were laid out while the menu bar was still hidden.
        if (watched == m_titleBar)
            updateTitleIconCover();
        break;
    case QEvent::WindowActivate:
        if (watched == m_ctx.window)
            onNSWindowDidBecomeKeyNotification();
        break;
    case QEvent::WindowStateChange:
        if (watched == m_ctx.window) {
            const auto* change = static_cast<QWindowStateChangeEvent*>(event);
            const bool was = change->oldState().testFlag(Qt::WindowFullScreen);
            const bool now = m_ctx.window->windowState().testFlag(Qt::WindowFullScreen);
            if (now && !was)
                windowDidEnterFullScreen();
            else if (was && !now)
                windowDidExitFullScreen();
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
