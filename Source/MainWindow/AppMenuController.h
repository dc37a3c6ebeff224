// The program's menu bar and the menu states the window's code decides. The menu bar is built
// from MainMenu's models, one QAction per item carrying its tag and command; choosing an item
// performs its command by name. Each BOOL setter stores the value and enables that flag's
// actions (the table is in AppMenuController.cpp). The recent-libraries submenu is rebuilt each
// time it opens; choosing another valid library there stores it and relaunches the program.
//
// Without a menu bar built (tests of the window's parts) the BOOLs are plain values.
//
// Threads: main thread only.
#pragma once

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>
#include <vector>


namespace platform::kit {
class CommandDispatcher;
class DialogService;
struct MenuItemModel;
struct MenuModel;
} // namespace platform::kit

class AppMenuController {
public:
    enum class Flag { NewFolderFromSelection, HasFileSelected, CanMerge, MoveToTrash, EnabledListView, ShowWindowItem, EmptyTrash };
    // How an item whose command no flag governs is offered.
    enum class Availability { Available, Unavailable, Hidden };

    // What the controller asks of the rest of the program; the composition root fills it.
    struct Services {
        // Whether the folder holds a library of this program; DataBaseEngine's check if empty.
        std::function<bool(const QString& libraryPath)> isValidDatabase;
        // Ends the program and starts it again: AppDelegate::setBNeedRelaunch(true) followed by
        // requestTermination(), which saves the store before the new copy starts.
        std::function<void()> relaunch;
        // The preferences window on its Advanced pane, run application-modal.
        std::function<void()> createNewLibrary;
        // The window the alerts hang from (null: over the active window).
        std::function<QWidget*()> window;
        // How the items of a command are offered (unavailable ones are shown disabled), asked
        // when the bar is built and whenever a menu opens. Empty: every command is available.
        std::function<Availability(const QString& command)> availability;
    };

    static inline const QString kRecentLibraryPathsKey = QStringLiteral("Array_RecentLibrary_Paths");
    static inline const QString kLibraryPathKey = QStringLiteral("String_Library_Path");
    static inline const QString kCreateNewLibraryTitle = QStringLiteral("Create New Library");

    AppMenuController();
    explicit AppMenuController(Services services);
    ~AppMenuController();
    AppMenuController(const AppMenuController&) = delete;
    AppMenuController& operator=(const AppMenuController&) = delete;

    void setServices(Services services);
    // Commands chosen from the menus go here (the shared dispatcher unless set).
    void setDispatcher(platform::kit::CommandDispatcher* dispatcher) { m_dispatcher = dispatcher; }
    void setDialogService(platform::kit::DialogService* dialogs) { m_dialogs = dialogs; }

    // Builds the menu bar (owned by parent) and the outlets; the view settings' states come from
    // the user defaults and the BOOLs' current values enable the actions. Call once.
    QMenuBar* buildMenuBar(QWidget* parent);
    QMenuBar* menuBar() const { return m_menuBar; }
    // Adds every item to window, so that the key equivalents work while the bar is hidden or
    // handed to a desktop's global menu.
    void attachShortcuts(QWidget* window) const;

    // ---- the BOOLs ----
    bool bNewFolderFromSelection() const { return m_newFolderFromSelection; }
    bool bHasFileSelected() const { return m_hasFileSelected; }
    bool bCanMerge() const { return m_canMerge; }
    bool bMoveToTrash() const { return m_moveToTrash; }
    bool bEnabledListView() const { return m_enabledListView; }
    bool bShowWindowItem() const { return m_showWindowItem; }
    bool bEmptyTrash() const { return m_emptyTrash; }

    void setBNewFolderFromSelection(bool on) { set(m_newFolderFromSelection, Flag::NewFolderFromSelection, on); }
    void setBHasFileSelected(bool on) { set(m_hasFileSelected, Flag::HasFileSelected, on); }
    void setBCanMerge(bool on) { set(m_canMerge, Flag::CanMerge, on); }
    void setBMoveToTrash(bool on) { set(m_moveToTrash, Flag::MoveToTrash, on); }
    void setBEnabledListView(bool on) { set(m_enabledListView, Flag::EnabledListView, on); }
    void setBShowWindowItem(bool on) { set(m_showWindowItem, Flag::ShowWindowItem, on); }
    void setBEmptyTrash(bool on) { set(m_emptyTrash, Flag::EmptyTrash, on); }

    // Told after every setter call (also when the value did not change, as bindings are).
    std::function<void(Flag, bool)> onChange;

    // The actions a flag enables.
    std::vector<QAction*> actionsForFlag(Flag flag) const;
    // Shows, hides, enables and disables the items no flag governs by the availability service.
    void applyAvailability();

    // ---- outlets (null before buildMenuBar) ----
    QAction* itemOpenWith() const { return m_itemOpenWith; }
    QAction* itemFlag() const { return m_itemFlag; }
    QAction* itemRating() const { return m_itemRating; }
    QAction* itemMoveCollection() const { return m_itemMoveCollection; }
    QAction* itemShare() const { return m_itemShare; }
    QAction* itemShowHideSideBar() const { return m_itemShowHideSideBar; }
    QAction* itemIconView() const { return m_itemIconView; }
    QAction* itemListView() const { return m_itemListView; }
    QAction* itemFullScreen() const { return m_itemFullScreen; }
    QAction* itemOrderBy() const { return m_itemOrderBy; }
    QAction* itemSortBy() const { return m_itemSortBy; }
    QAction* itemRateThisApp() const { return m_itemRateThisApp; }
    QMenu* itemDocumentMenu() const { return m_itemDocumentMenu; }
    QAction* itemZoomIn() const { return m_itemZoomIn; }
    QAction* itemZoomOut() const { return m_itemZoomOut; }
    QAction* itemUpdate() const { return m_itemUpdate; }
    QMenu* itemRecentLibraryMenu() const { return m_itemRecentLibraryMenu; }
    QMenu* viewMenu() const { return m_viewMenu; }
    // The first action performing command (with tag when given), or null.
    QAction* actionForCommand(const QString& command, std::optional<int> tag = std::nullopt) const;

    // ---- recent libraries ----
    // The submenu's items for the current defaults: the current library first and checked,
    // then the stored ones whose folder exists, a separator and "Create New Library".
    static std::vector<platform::kit::MenuItemModel> recentLibraryItems();
    // Rebuilds the recent-libraries submenu when menu is it; any other menu is left alone.
    void menuWillOpen(QMenu* menu);
    // Switches to the library of entry ({"Path": folder}).
    void onItemClick(const QVariantMap& entry);
    void onCreateNewLibraryClick();
    // The update item: asks the updater and tells the user its answer.
    void onCheckForUpdates();

private:
    void set(bool& field, Flag flag, bool on);
    void triggered(QAction* action);
    void alert(const QString& message, const QString& informative, std::function<void()> then);
    platform::kit::DialogService& dialogs() const;

    Services m_services;
    platform::kit::CommandDispatcher* m_dispatcher = nullptr;
    platform::kit::DialogService* m_dialogs = nullptr;

    bool m_newFolderFromSelection = false;
    bool m_hasFileSelected = false;
    bool m_canMerge = false;
    bool m_moveToTrash = false;
    bool m_enabledListView = true;
    bool m_showWindowItem = true;
    bool m_emptyTrash = false;

    QPointer<QMenuBar> m_menuBar;
    QPointer<QAction> m_itemOpenWith, m_itemFlag, m_itemRating, m_itemMoveCollection, m_itemShare;
    QPointer<QAction> m_itemShowHideSideBar, m_itemIconView, m_itemListView, m_itemFullScreen;
    QPointer<QAction> m_itemOrderBy, m_itemSortBy, m_itemRateThisApp, m_itemZoomIn, m_itemZoomOut, m_itemUpdate;
    QPointer<QMenu> m_itemDocumentMenu, m_itemRecentLibraryMenu, m_viewMenu;
    // Held weakly by the answers of the alerts it shows.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
