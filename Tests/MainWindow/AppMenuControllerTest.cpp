#include "App/AppDelegate.h"
#include "App/SingleInstance.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/KeepWindowAskController.h"
#include "MainWindow/MainMenu.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/MenuModel.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Platform/Kit/Sheet.h"
#include "Support/TestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QUuid>
#include <QWidget>
#include <gtest/gtest.h>

using platform::kit::MenuItemModel;
using platform::kit::MenuModel;
using platform::kit::RecordingDialogService;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

class AppMenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const QString& key : {AppMenuController::kLibraryPathKey, AppMenuController::kRecentLibraryPathsKey,
                                   QStringLiteral("Bool_IsShowTitle"), QStringLiteral("Bool_IsShowRating"),
                                   QStringLiteral("Bool_IsShowTags"), KeepWindowAskController::kHierarchicalFolderKey,
                                   KeepWindowAskController::kKeepImportWindowAskKey})
            defaults().removeObjectForKey(key);
        menu.setDispatcher(&commands);
        menu.setDialogService(&dialogs);
    }

    // A folder that passes for a library when isValid says so.
    QString folder(const QString& name)
    {
        const QString path = root + QLatin1Char('/') + name;
        QDir().mkpath(path);
        return path;
    }

    void setRecent(const QVariantList& entries) { defaults().setObject(entries, AppMenuController::kRecentLibraryPathsKey); }

    static QVariantMap entry(const QVariant& path) { return {{QStringLiteral("Path"), path}}; }

    QStringList recentTitles() const
    {
        QStringList titles;
        for (const MenuItemModel& item : AppMenuController::recentLibraryItems())
            titles << (item.kind == MenuItemModel::Kind::Separator ? QStringLiteral("-") : item.title);
        return titles;
    }

    QString root = testsupport::makeTempDir(QStringLiteral("libs"));
    platform::kit::CommandDispatcher commands;
    RecordingDialogService dialogs;
    AppMenuController menu;
    QWidget window;
};

} // namespace

// ---- the menu bar ----

TEST_F(AppMenuTest, MenuBarHoldsTheSpecsWithTagsCommandsAndKeysAndPerformsByName)
{
    QMenuBar* bar = menu.buildMenuBar(&window);
    const auto models = mainmenu::mainMenuModels();
    ASSERT_EQ(bar->actions().size(), qsizetype(models.size()));
    EXPECT_EQ(bar->actions().front()->text(), QStringLiteral("Folivo 2"));

    // Read back, the menus are the models apart from the enabled states the BOOLs set and the
    // recent-libraries submenu, filled when built.
    for (size_t i = 0; i < models.size(); ++i) {
        MenuModel shown = platform::kit::fromQMenu(bar->actions()[qsizetype(i)]->menu());
        const auto strip = [](auto& self, std::vector<MenuItemModel>& items) -> void {
            for (MenuItemModel& item : items) {
                item.enabled = true;
                if (item.title == mainmenu::kRecentLibrary)
                    item.items.clear();
                self(self, item.items);
            }
        };
        strip(strip, shown.items);
        EXPECT_EQ(shown, models[i]) << models[i].title.toStdString();
    }

    // The zoom keys are Ctrl with + and -; the update item is shown.
    EXPECT_EQ(menu.itemZoomIn()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Plus));
    EXPECT_EQ(menu.itemZoomOut()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Minus));
    EXPECT_TRUE(menu.itemUpdate()->isVisible());
    for (QAction* outlet : {menu.itemOpenWith(), menu.itemFlag(), menu.itemRating(), menu.itemMoveCollection(),
                            menu.itemShare(), menu.itemShowHideSideBar(), menu.itemIconView(), menu.itemListView(),
                            menu.itemFullScreen(), menu.itemOrderBy(), menu.itemSortBy(), menu.itemRateThisApp()})
        EXPECT_NE(outlet, nullptr);
    ASSERT_NE(menu.itemDocumentMenu(), nullptr);

    // Choosing an item performs its command with its tag as sender.
    int rated = -1;
    auto token = commands.add(QStringLiteral("menuCollectionMenuRatingClick"),
                              [&](const QVariant& sender) { rated = platform::kit::senderTag(sender); });
    menu.setBHasFileSelected(true);
    menu.itemRating()->menu()->actions().at(4)->trigger();
    EXPECT_EQ(rated, 4);

    // Shortcuts still reach their actions with the bar hidden: they are the window's too.
    menu.attachShortcuts(&window);
    EXPECT_TRUE(window.actions().contains(menu.itemZoomIn()));
}

TEST_F(AppMenuTest, EachFlagEnablesExactlyItsActionsAndStartsAtItsLoadState)
{
    defaults().setBool(true, QStringLiteral("Bool_IsShowRating"));
    menu.setBEmptyTrash(true); // told before the bar exists: kept
    menu.buildMenuBar(&window);
    EXPECT_TRUE(menu.actionForCommand(QStringLiteral("menuViewSettingClick"), 2)->isChecked());
    EXPECT_FALSE(menu.actionForCommand(QStringLiteral("menuViewSettingClick"), 1)->isChecked());
    EXPECT_FALSE(menu.bHasFileSelected());
    EXPECT_TRUE(menu.bShowWindowItem());
    EXPECT_TRUE(menu.actionForCommand(QStringLiteral("menuEmptyTrash"))->isEnabled());

    using Flag = AppMenuController::Flag;
    const std::vector<std::pair<Flag, std::function<void(bool)>>> flags{
        {Flag::HasFileSelected, [&](bool on) { menu.setBHasFileSelected(on); }},
        {Flag::NewFolderFromSelection, [&](bool on) { menu.setBNewFolderFromSelection(on); }},
        {Flag::CanMerge, [&](bool on) { menu.setBCanMerge(on); }},
        {Flag::MoveToTrash, [&](bool on) { menu.setBMoveToTrash(on); }},
        {Flag::EnabledListView, [&](bool on) { menu.setBEnabledListView(on); }},
        {Flag::EmptyTrash, [&](bool on) { menu.setBEmptyTrash(on); }},
        {Flag::ShowWindowItem, [&](bool on) { menu.setBShowWindowItem(on); }},
    };
    EXPECT_EQ(menu.actionsForFlag(Flag::HasFileSelected).size(), 10u);
    for (const auto& [flag, setter] : flags) {
        for (const auto& [other, otherSetter] : flags)
            otherSetter(true);
        setter(false);
        for (const auto& [other, unused] : flags) {
            ASSERT_FALSE(menu.actionsForFlag(other).empty());
            for (QAction* action : menu.actionsForFlag(other))
                EXPECT_EQ(action->isEnabled(), other != flag) << action->text().toStdString();
        }
    }
    // A disabled item refuses its key equivalent as well as its menu entry.
    menu.setBMoveToTrash(false);
    bool trashed = false;
    auto token = commands.add(QStringLiteral("menuMoveToTrash"), [&](const QVariant&) { trashed = true; });
    menu.actionForCommand(QStringLiteral("menuMoveToTrash"))->trigger();
    EXPECT_FALSE(trashed);
}

TEST_F(AppMenuTest, TheApplicationDelegateReachesTheMainWindowItem)
{
    menu.buildMenuBar(&window);
    AppDelegate::Services services;
    services.setBShowWindowItem = [this](bool on) { menu.setBShowWindowItem(on); };
    AppDelegate delegate(services);
    menu.setBShowWindowItem(true); // the window was closed
    delegate.applicationShouldHandleReopen(false);
    EXPECT_FALSE(menu.bShowWindowItem());
    EXPECT_FALSE(menu.actionForCommand(QStringLiteral("showMainWindow"))->isEnabled());
}

// ---- recent libraries ----

TEST_F(AppMenuTest, RecentLibrariesListTheCurrentOnceFirstAndOnlyUsableEntries)
{
    const QString current = folder(QStringLiteral("Current"));
    defaults().setString(current, AppMenuController::kLibraryPathKey);

    // No stored list: the current library, a separator and the creation item.
    EXPECT_EQ(recentTitles(), (QStringList{current, QStringLiteral("-"), AppMenuController::kCreateNewLibraryTitle}));
    EXPECT_TRUE(AppMenuController::recentLibraryItems().front().checked);

    const QString other = folder(QStringLiteral("Other"));
    const QString third = folder(QStringLiteral("Third"));
    setRecent({entry(other), entry(current), entry(root + QStringLiteral("/Gone")), entry(other),
               entry(QStringLiteral("relative/lib")), entry(current + QLatin1Char('/')), entry(QString()),
               QStringLiteral("not a dictionary"), entry(third.toUpper()), entry(third)});
    // The trailing-slash spelling of the current library is a different string; it names an
    // existing folder, so it is listed, unchecked (paths compare exactly).
    EXPECT_EQ(recentTitles(), (QStringList{current, other, current + QLatin1Char('/'), third, QStringLiteral("-"),
                                            AppMenuController::kCreateNewLibraryTitle}));
    const auto items = AppMenuController::recentLibraryItems();
    EXPECT_EQ(std::count_if(items.begin(), items.end(), [](const MenuItemModel& i) { return i.checked; }), 1);
    // Entries not listed stay stored.
    EXPECT_EQ(defaults().arrayForKey(AppMenuController::kRecentLibraryPathsKey).size(), 10);

    // The submenu is rebuilt from the defaults each time it opens.
    menu.buildMenuBar(&window);
    QMenu* recent = menu.itemRecentLibraryMenu();
    setRecent({});
    Q_EMIT recent->aboutToShow();
    EXPECT_EQ(platform::kit::fromQMenu(recent).titles(),
              (QStringList{current, QStringLiteral("-"), AppMenuController::kCreateNewLibraryTitle}));
}

TEST_F(AppMenuTest, SwitchingLibrariesValidatesStoresAndRelaunchesOnlyForAnotherValidOne)
{
    const QString current = folder(QStringLiteral("Current"));
    const QString broken = folder(QStringLiteral("Broken"));
    const QString good = folder(QStringLiteral("Good"));
    defaults().setString(current, AppMenuController::kLibraryPathKey);
    int relaunches = 0;
    int newLibrary = 0;
    AppMenuController::Services services;
    services.isValidDatabase = [&](const QString& path) { return path == good || path == current; };
    services.relaunch = [&] { ++relaunches; };
    services.createNewLibrary = [&] { ++newLibrary; };
    menu.setServices(services);
    menu.buildMenuBar(&window);

    // The current library: nothing at all.
    menu.onItemClick(entry(current));
    EXPECT_EQ(dialogs.count(RecordingDialogService::Kind::Alert), 0);

    // Not a library: the alert, the default untouched, no relaunch.
    dialogs.scriptAlert(1);
    menu.onItemClick(entry(broken));
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.last(RecordingDialogService::Kind::Alert).answered; }));
    EXPECT_EQ(dialogs.last(RecordingDialogService::Kind::Alert).messageText,
              platform::localizedString(QStringLiteral("InvalidLibraryStr")));
    EXPECT_EQ(defaults().stringForKey(AppMenuController::kLibraryPathKey), current);
    EXPECT_EQ(relaunches, 0);

    // Another valid one, chosen from the submenu: stored before the user is told, then relaunched.
    setRecent({entry(good)});
    Q_EMIT menu.itemRecentLibraryMenu()->aboutToShow();
    dialogs.scriptAlert(1);
    menu.itemRecentLibraryMenu()->actions().at(1)->trigger();
    EXPECT_EQ(defaults().stringForKey(AppMenuController::kLibraryPathKey), good);
    ASSERT_TRUE(testsupport::spinUntil([&] { return relaunches == 1; }));

    menu.itemRecentLibraryMenu()->actions().last()->trigger();
    EXPECT_EQ(newLibrary, 1);
}

TEST_F(AppMenuTest, OnlyTheDefaultButtonOfTheSwitchAlertRelaunchesAndNeverAfterTheMenusWent)
{
    const QString good = folder(QStringLiteral("Good"));
    defaults().setString(folder(QStringLiteral("Current")), AppMenuController::kLibraryPathKey);
    int relaunches = 0;
    AppMenuController::Services services;
    services.isValidDatabase = [](const QString&) { return true; };
    services.relaunch = [&] { ++relaunches; };

    // The alert taken away with its window answers its cancel code: the library is switched
    // at the next start, not now.
    dialogs.scriptAlert(0);
    menu.setServices(services);
    menu.onItemClick(entry(good));
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.last(RecordingDialogService::Kind::Alert).answered; }));
    EXPECT_EQ(relaunches, 0);

    // The answer arriving after the menus' controller is gone (the window closing at quit).
    defaults().setString(folder(QStringLiteral("Current")), AppMenuController::kLibraryPathKey);
    dialogs.scriptAlert(1);
    auto gone = std::make_unique<AppMenuController>(services);
    gone->setDialogService(&dialogs);
    gone->onItemClick(entry(good));
    gone.reset();
    const int asked = int(dialogs.count(RecordingDialogService::Kind::Alert));
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.requests(RecordingDialogService::Kind::Alert).at(asked - 1).answered; }));
    EXPECT_EQ(relaunches, 0);
}

TEST_F(AppMenuTest, RelaunchGoesThroughTerminationAndFreesTheInstanceNameFirst)
{
    const QString good = folder(QStringLiteral("Good"));
    defaults().setString(folder(QStringLiteral("Current")), AppMenuController::kLibraryPathKey);
    const QString socketName = QStringLiteral("folivo2-test-") + QUuid::createUuid().toString(QUuid::Id128);
    SingleInstance instance(socketName);
    ASSERT_TRUE(instance.claim({}));

    QStringList steps;
    bool nameFreeAtRelaunch = false;
    AppDelegate::Services appServices;
    appServices.closeStores = [&] { steps << QStringLiteral("closeStores"); };
    appServices.mainWindowFrame = [&] {
        steps << QStringLiteral("frame");
        return QRect(10, 20, 1000, 680);
    };
    appServices.relaunch = [&] {
        instance.release();
        // What the new copy would do first: it must not find the dying one.
        SingleInstance next(socketName);
        nameFreeAtRelaunch = next.claim({});
        steps << QStringLiteral("relaunch");
    };
    appServices.quitEventLoop = [&] { steps << QStringLiteral("quit"); };
    AppDelegate delegate(appServices);

    AppMenuController::Services services;
    services.isValidDatabase = [](const QString&) { return true; };
    services.relaunch = [&] {
        delegate.setBNeedRelaunch(true);
        delegate.requestTermination();
    };
    menu.setServices(services);
    dialogs.scriptAlert(1);
    menu.onItemClick(entry(good));
    ASSERT_TRUE(testsupport::spinUntil([&] { return steps.contains(QStringLiteral("quit")); }));
    EXPECT_EQ(steps, (QStringList{QStringLiteral("closeStores"), QStringLiteral("frame"), QStringLiteral("relaunch"),
                                  QStringLiteral("quit")}));
    EXPECT_TRUE(nameFreeAtRelaunch);
    EXPECT_EQ(defaults().stringForKey(AppMenuController::kLibraryPathKey), good);
    EXPECT_FALSE(defaults().stringForKey(QStringLiteral("MainWindowFrame")).isEmpty());
}

// ---- the hierarchy question ----

TEST_F(AppMenuTest, HierarchySheetWritesItsAnswerAndTheInverseOfItsCheckBox)
{
    auto* ask = new KeepWindowAskController;
    EXPECT_TRUE(ask->checkBtn()->isChecked()) << "a missing value means: do not ask again is on";
    QPointer<KeepWindowAskController> alive(ask);
    int code = -1;
    dialogs.scriptSheetShown();
    ask->beginSheet(&window, dialogs, [&](int c) { code = c; });

    ask->checkBtn()->click(); // unchecked: keep asking
    EXPECT_TRUE(defaults().boolForKey(KeepWindowAskController::kKeepImportWindowAskKey));
    ask->checkBtn()->click();
    EXPECT_FALSE(defaults().objectForKey(KeepWindowAskController::kKeepImportWindowAskKey).isNull());
    EXPECT_FALSE(defaults().boolForKey(KeepWindowAskController::kKeepImportWindowAskKey));

    ask->noButton()->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return code == 0; }));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alive.isNull()) << "the controller goes with its sheet";
    EXPECT_FALSE(defaults().boolForKey(KeepWindowAskController::kHierarchicalFolderKey));
    EXPECT_TRUE(defaults().objectForKey(KeepWindowAskController::kHierarchicalFolderKey).isValid());

    defaults().setBool(true, KeepWindowAskController::kKeepImportWindowAskKey);
    auto* again = new KeepWindowAskController;
    EXPECT_FALSE(again->checkBtn()->isChecked());
    dialogs.scriptSheetShown();
    code = -1;
    again->beginSheet(&window, dialogs, [&](int c) { code = c; });
    again->yesButton()->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return code == 1; }));
    EXPECT_TRUE(defaults().boolForKey(KeepWindowAskController::kHierarchicalFolderKey));
}
