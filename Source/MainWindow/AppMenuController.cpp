#include "MainWindow/AppMenuController.h"

#include "MainWindow/MainMenu.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Frameworks/KPUpdater.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/DialogService.h"
#include "Store/DataBaseEngine.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>

namespace {

using platform::kit::MenuItemModel;

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

// Every action of menu and its submenus, depth first.
void collect(const QMenu* menu, std::vector<QAction*>& out)
{
    for (QAction* action : menu->actions()) {
        out.push_back(action);
        if (action->menu())
            collect(action->menu(), out);
    }
}

QAction* submenuAction(const QMenu* menu, const QString& title)
{
    for (QAction* action : menu->actions()) {
        if (action->menu()) {
            if (action->text() == title)
                return action;
            if (QAction* found = submenuAction(action->menu(), title))
                return found;
        }
    }
    return nullptr;
}

} // namespace

AppMenuController::AppMenuController() : AppMenuController(Services{}) {}

AppMenuController::AppMenuController(Services services) : m_services(std::move(services)) {}

AppMenuController::~AppMenuController() = default;

void AppMenuController::setServices(Services services)
{
    m_services = std::move(services);
}

void AppMenuController::set(bool& field, Flag flag, bool on)
{
    field = on;
    for (QAction* action : actionsForFlag(flag))
        action->setEnabled(on);
    if (onChange)
        onChange(flag, on);
}

QMenuBar* AppMenuController::buildMenuBar(QWidget* parent)
{
    m_menuBar = new QMenuBar(parent);
    // Handed to a desktop's global menu bar where there is one; the space in the title bar is
    // then left free.
    m_menuBar->setNativeMenuBar(true);
    const auto onTriggered = [this](QAction* action) { triggered(action); };
    for (const platform::kit::MenuModel& model : mainmenu::mainMenuModels()) {
        QMenu* menu = platform::kit::toQMenu(model, m_menuBar, onTriggered);
        m_menuBar->addMenu(menu);
        QObject::connect(menu, &QMenu::aboutToShow, menu, [this] { applyAvailability(); });
        if (model.title == mainmenu::kDocumentMenu)
            m_itemDocumentMenu = menu;
        if (model.title == mainmenu::kViewMenu)
            m_viewMenu = menu;
    }

    const auto sub = [this](const QString& title) -> QAction* {
        for (QAction* top : m_menuBar->actions())
            if (QAction* found = submenuAction(top->menu(), title))
                return found;
        return nullptr;
    };
    m_itemOpenWith = sub(mainmenu::kOpenWith);
    m_itemFlag = sub(mainmenu::kFlag);
    m_itemRating = sub(mainmenu::kRating);
    m_itemMoveCollection = sub(mainmenu::kMoveTo);
    m_itemShare = sub(mainmenu::kShare);
    m_itemSortBy = sub(mainmenu::kSortBy);
    m_itemOrderBy = sub(mainmenu::kOrderBy);
    if (QAction* recent = sub(mainmenu::kRecentLibrary)) {
        m_itemRecentLibraryMenu = recent->menu();
        QObject::connect(recent->menu(), &QMenu::aboutToShow, recent->menu(),
                         [this, menu = recent->menu()] { menuWillOpen(menu); });
        menuWillOpen(recent->menu());
    }
    m_itemShowHideSideBar = actionForCommand(QStringLiteral("menuShowHideSideBarClick"));
    m_itemIconView = actionForCommand(QStringLiteral("menuSwitchViewModeClick"), mainmenu::kIconViewTag);
    m_itemListView = actionForCommand(QStringLiteral("menuSwitchViewModeClick"), mainmenu::kListViewTag);
    m_itemFullScreen = actionForCommand(QStringLiteral("menuEnterFullScreenCliek"));
    m_itemRateThisApp = actionForCommand(QStringLiteral("menuRateThisApp"));
    m_itemZoomIn = actionForCommand(QStringLiteral("menuZoomInClick"));
    m_itemZoomOut = actionForCommand(QStringLiteral("menuZoomOutClick"));
    m_itemUpdate = actionForCommand(mainmenu::kCheckForUpdatesCommand);
    if (m_itemUpdate)
        m_itemUpdate->setVisible(true);

    // The view settings' marks follow what is stored.
    const QString viewSetting = QStringLiteral("menuViewSettingClick");
    const std::pair<int, const char*> settings[] = {{1, "Bool_IsShowTitle"}, {2, "Bool_IsShowRating"}, {3, "Bool_IsShowTags"}};
    for (const auto& [tag, key] : settings)
        if (QAction* action = actionForCommand(viewSetting, tag))
            action->setChecked(defaults().boolForKey(QString::fromLatin1(key)));

    // The load-time states; the list view and the trash keep what they were told before.
    setBNewFolderFromSelection(false);
    setBHasFileSelected(false);
    setBCanMerge(false);
    setBMoveToTrash(false);
    setBShowWindowItem(true);
    setBEnabledListView(m_enabledListView);
    setBEmptyTrash(m_emptyTrash);
    applyAvailability();
    return m_menuBar;
}

void AppMenuController::applyAvailability()
{
    if (!m_menuBar || !m_services.availability)
        return;
    std::vector<QAction*> governed;
    for (Flag flag : {Flag::NewFolderFromSelection, Flag::HasFileSelected, Flag::CanMerge, Flag::MoveToTrash,
                      Flag::EnabledListView, Flag::ShowWindowItem, Flag::EmptyTrash}) {
        const std::vector<QAction*> actions = actionsForFlag(flag);
        governed.insert(governed.end(), actions.begin(), actions.end());
    }
    std::vector<QAction*> all;
    for (QAction* top : m_menuBar->actions())
        if (top->menu())
            collect(top->menu(), all);
    for (QAction* action : all) {
        const QString command = platform::kit::menuItemCommand(action);
        if (command.isEmpty() || std::find(governed.begin(), governed.end(), action) != governed.end())
            continue;
        const Availability availability = m_services.availability(command);
        action->setVisible(availability != Availability::Hidden);
        action->setEnabled(availability == Availability::Available);
    }
}

void AppMenuController::attachShortcuts(QWidget* window) const
{
    if (!m_menuBar || !window)
        return;
    std::vector<QAction*> all;
    for (QAction* top : m_menuBar->actions())
        if (top->menu())
            collect(top->menu(), all);
    for (QAction* action : all)
        if (!action->shortcut().isEmpty())
            window->addAction(action);
}

QAction* AppMenuController::actionForCommand(const QString& command, std::optional<int> tag) const
{
    if (!m_menuBar)
        return nullptr;
    std::vector<QAction*> all;
    for (QAction* top : m_menuBar->actions())
        if (top->menu())
            collect(top->menu(), all);
    for (QAction* action : all)
        if (platform::kit::menuItemCommand(action) == command && (!tag || platform::kit::menuItemTag(action) == *tag))
            return action;
    return nullptr;
}

std::vector<QAction*> AppMenuController::actionsForFlag(Flag flag) const
{
    std::vector<QAction*> out;
    const auto add = [&out](QAction* action) {
        if (action)
            out.push_back(action);
    };
    switch (flag) {
    case Flag::HasFileSelected:
        for (const char* command : {"menuOpen", "menuQuickLook", "menuRevealInFinder", "menuShowOriginalFile", "menuShowInfo"})
            add(actionForCommand(QString::fromLatin1(command)));
        for (QAction* submenu : {m_itemRating.data(), m_itemFlag.data(), m_itemMoveCollection.data(), m_itemShare.data(), m_itemOpenWith.data()})
            add(submenu);
        break;
    case Flag::NewFolderFromSelection:
        add(actionForCommand(QStringLiteral("menuAddFolderFromSelection")));
        break;
    case Flag::CanMerge:
        add(actionForCommand(QStringLiteral("menuMergePDF")));
        break;
    case Flag::MoveToTrash:
        add(actionForCommand(QStringLiteral("menuMoveToTrash")));
        break;
    case Flag::EnabledListView:
        add(actionForCommand(QStringLiteral("menuSwitchViewModeClick"), mainmenu::kListViewTag));
        break;
    case Flag::EmptyTrash:
        add(actionForCommand(QStringLiteral("menuEmptyTrash")));
        break;
    case Flag::ShowWindowItem:
        add(actionForCommand(QStringLiteral("showMainWindow")));
        break;
    }
    return out;
}

void AppMenuController::triggered(QAction* action)
{
    if (m_itemRecentLibraryMenu && action->parent() == m_itemRecentLibraryMenu) {
        const QVariant entry = platform::kit::menuItemData(action);
        if (entry.isValid())
            onItemClick(entry.toMap());
        else
            onCreateNewLibraryClick();
        return;
    }
    if (platform::kit::menuItemCommand(action) == mainmenu::kCheckForUpdatesCommand) {
        onCheckForUpdates();
        return;
    }
    (m_dispatcher ? *m_dispatcher : platform::kit::CommandDispatcher::shared()).performFromAction(action);
}

std::vector<MenuItemModel> AppMenuController::recentLibraryItems()
{
    const QString current = defaults().stringForKey(kLibraryPathKey);
    std::vector<QString> paths;
    if (!current.isEmpty())
        paths.push_back(current);
    for (const QVariant& stored : defaults().arrayForKey(kRecentLibraryPathsKey)) {
        const QString path = stored.toMap().value(QStringLiteral("Path")).toString();
        // A relative path would be resolved against wherever the program happens to run.
        if (path.isEmpty() || path == current || QFileInfo(path).isRelative() || !QFileInfo::exists(path))
            continue;
        if (std::find(paths.begin(), paths.end(), path) != paths.end())
            continue;
        paths.push_back(path);
    }
    std::vector<MenuItemModel> items;
    for (const QString& path : paths) {
        MenuItemModel item = MenuItemModel::item(path, 0, {}, QVariantMap{{QStringLiteral("Path"), path}});
        item.checked = path == current;
        items.push_back(std::move(item));
    }
    items.push_back(MenuItemModel::separator());
    items.push_back(MenuItemModel::item(kCreateNewLibraryTitle));
    return items;
}

void AppMenuController::menuWillOpen(QMenu* menu)
{
    if (!menu || menu != m_itemRecentLibraryMenu)
        return;
    menu->clear();
    platform::kit::fillQMenu(menu, recentLibraryItems(), [this](QAction* action) { triggered(action); });
}

void AppMenuController::onItemClick(const QVariantMap& entry)
{
    const QString path = entry.value(QStringLiteral("Path")).toString();
    if (path.isEmpty() || path == defaults().stringForKey(kLibraryPathKey))
        return;
    const bool valid = m_services.isValidDatabase ? m_services.isValidDatabase(path) : DataBaseEngine::isValidDatabase(path);
    if (!valid) {
        alert(platform::localizedString(QStringLiteral("InvalidLibraryStr")),
              platform::localizedString(QStringLiteral("InvalidLibraryTextStr")), {});
        return;
    }
    defaults().setString(path, kLibraryPathKey);
    defaults().synchronize();
    alert(platform::localizedString(QStringLiteral("Require relaunch Folivo to complete change library localtion.")),
          platform::localizedString(QStringLiteral("Click Relaunch to restart Folivo now.")), [this] {
              if (m_services.relaunch)
                  m_services.relaunch();
          });
}

void AppMenuController::onCreateNewLibraryClick()
{
    if (m_services.createNewLibrary)
        m_services.createNewLibrary();
}

void AppMenuController::onCheckForUpdates()
{
    alert(platform::KPUpdater::sharedUpdater().checkForUpdates(), {}, {});
}

void AppMenuController::alert(const QString& message, const QString& informative, std::function<void()> then)
{
    const auto shown = platform::kit::Alert::withMessage(message, QStringLiteral("OK"), {}, {}, informative);
    QWidget* window = m_services.window ? m_services.window() : nullptr;
    // The window going away answers the cancel code, possibly after this controller is gone.
    dialogs().alert(window, shown, [alive = std::weak_ptr<int>(m_alive), then = std::move(then)](int code) {
        if (then && code == platform::kit::Alert::kDefaultReturn && !alive.expired())
            then();
    });
}

platform::kit::DialogService& AppMenuController::dialogs() const
{
    return m_dialogs ? *m_dialogs : platform::kit::DialogService::shared();
}
