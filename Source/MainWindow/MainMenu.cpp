#include "MainWindow/MainMenu.h"

namespace mainmenu {

namespace {

using platform::kit::MenuItemModel;
using platform::kit::MenuModel;

MenuItemModel item(const QString& title, const QString& command, int tag = 0, const QKeySequence& key = {})
{
    MenuItemModel model = MenuItemModel::item(title, tag, command);
    model.keyEquivalent = key;
    return model;
}

MenuItemModel checkItem(const QString& title, const QString& command, int tag, const QKeySequence& key = {})
{
    MenuItemModel model = item(title, command, tag, key);
    model.checkable = true;
    return model;
}

MenuItemModel sep()
{
    return MenuItemModel::separator();
}

QKeySequence keys(QKeyCombination combination)
{
    return QKeySequence(combination);
}

MenuModel applicationMenu()
{
    return {QStringLiteral("Folivo 2"),
            {item(QStringLiteral("About Folivo 2"), QStringLiteral("orderFrontStandardAboutPanel")),
             sep(),
             item(QStringLiteral("Preferences…"), QStringLiteral("menuPreferencesClick"), 0, keys(Qt::CTRL | Qt::Key_Comma)),
             item(QStringLiteral("Check for Updates…"), kCheckForUpdatesCommand),
             sep(),
             item(QStringLiteral("Quit Folivo 2"), QStringLiteral("terminate"), 0, keys(Qt::CTRL | Qt::Key_Q))}};
}

MenuModel fileMenu()
{
    return {QStringLiteral("File"),
            {item(QStringLiteral("New Folder"), QStringLiteral("menuAddFolder"), 0, keys(Qt::CTRL | Qt::SHIFT | Qt::Key_N)),
             item(QStringLiteral("New Folder at Root"), QStringLiteral("menuAddFolderToRoot")),
             item(QStringLiteral("New Folder with Selection"), QStringLiteral("menuAddFolderFromSelection"), 0,
                  keys(Qt::CTRL | Qt::ALT | Qt::Key_N)),
             item(QStringLiteral("New Collection"), QStringLiteral("menuAddCollection")),
             item(QStringLiteral("New Smart Folder"), QStringLiteral("menuAddSmartFolder")),
             item(QStringLiteral("New Tag"), QStringLiteral("menuAddTag")),
             item(QStringLiteral("New Tag Group"), QStringLiteral("menuAddTagGroup")),
             sep(),
             item(QStringLiteral("Add Index Folder…"), QStringLiteral("menuAddIndexFolder")),
             item(QStringLiteral("Add Source…"), QStringLiteral("menuAddSource")),
             sep(),
             item(QStringLiteral("Import…"), QStringLiteral("menuImportFromLibrary"), 0, keys(Qt::CTRL | Qt::SHIFT | Qt::Key_I)),
             item(QStringLiteral("Export…"), QStringLiteral("menuExportClick"), 0, keys(Qt::CTRL | Qt::SHIFT | Qt::Key_E)),
             item(QStringLiteral("Scan…"), QStringLiteral("menuScanClick")),
             sep(),
             MenuItemModel::submenu(kRecentLibrary, {})}};
}

MenuModel editMenu()
{
    return {QStringLiteral("Edit"),
            {item(QStringLiteral("Find"), QStringLiteral("menuSearchClick"), 0, keys(Qt::CTRL | Qt::Key_F)),
             sep(),
             item(QStringLiteral("Check Duplicates…"), QStringLiteral("menuCheckDuplicateClick"))}};
}

MenuModel viewMenu()
{
    std::vector<MenuItemModel> sortBy;
    const QStringList sortTitles{QStringLiteral("Title"),        QStringLiteral("Size"),
                                 QStringLiteral("Kind"),         QStringLiteral("Date Created"),
                                 QStringLiteral("Date Added"),   QStringLiteral("Date Modified"),
                                 QStringLiteral("Date Last Opened")};
    const QString fileSort = QStringLiteral("menuPopupMenuItemFileSortClick");
    for (int type = 1; type <= sortTitles.size(); ++type)
        sortBy.push_back(checkItem(sortTitles[type - 1], fileSort, type));
    sortBy.push_back(sep());
    sortBy.push_back(checkItem(QStringLiteral("Ascending"), fileSort, kAscendingTag));
    sortBy.push_back(checkItem(QStringLiteral("Descending"), fileSort, kDescendingTag));

    const QString sectionSort = QStringLiteral("menuSectionSortClick");
    const QString viewSetting = QStringLiteral("menuViewSettingClick");
    const QString switchMode = QStringLiteral("menuSwitchViewModeClick");
    return {kViewMenu,
            {checkItem(QStringLiteral("as Icons"), switchMode, kIconViewTag, keys(Qt::CTRL | Qt::Key_1)),
             checkItem(QStringLiteral("as List"), switchMode, kListViewTag, keys(Qt::CTRL | Qt::Key_2)),
             sep(),
             MenuItemModel::submenu(kSortBy, std::move(sortBy)),
             MenuItemModel::submenu(kOrderBy, {checkItem(QStringLiteral("Ascending"), sectionSort, kAscendingTag),
                                              checkItem(QStringLiteral("Descending"), sectionSort, kDescendingTag)}),
             sep(),
             checkItem(QStringLiteral("Show Title"), viewSetting, 1),
             checkItem(QStringLiteral("Show Rating"), viewSetting, 2),
             checkItem(QStringLiteral("Show Tags"), viewSetting, 3),
             sep(),
             item(QStringLiteral("Zoom In"), QStringLiteral("menuZoomInClick"), 0, keys(Qt::CTRL | Qt::Key_Plus)),
             item(QStringLiteral("Zoom Out"), QStringLiteral("menuZoomOutClick"), 0, keys(Qt::CTRL | Qt::Key_Minus)),
             sep(),
             item(QStringLiteral("Documents"), QStringLiteral("menuSwitchNodeClick"), 11, keys(Qt::CTRL | Qt::ALT | Qt::Key_1)),
             item(QStringLiteral("Tags"), QStringLiteral("menuSwitchNodeClick"), 22, keys(Qt::CTRL | Qt::ALT | Qt::Key_2)),
             item(QStringLiteral("Collections"), QStringLiteral("menuSwitchNodeClick"), 33, keys(Qt::CTRL | Qt::ALT | Qt::Key_3)),
             sep(),
             item(kHideSideBar, QStringLiteral("menuShowHideSideBarClick"), 0, keys(Qt::CTRL | Qt::ALT | Qt::Key_S)),
             item(kEnterFullScreen, QStringLiteral("menuEnterFullScreenCliek"), 0, keys(Qt::CTRL | Qt::META | Qt::Key_F))}};
}

MenuModel documentMenu()
{
    std::vector<MenuItemModel> rating;
    const QString rate = QStringLiteral("menuCollectionMenuRatingClick");
    rating.push_back(item(QStringLiteral("None"), rate, 0));
    for (int stars = 1; stars <= 5; ++stars)
        rating.push_back(item(QString(stars, QChar(0x2605)), rate, stars));
    return {kDocumentMenu,
            {item(QStringLiteral("Open"), QStringLiteral("menuOpen"), 0, keys(Qt::CTRL | Qt::Key_O)),
             MenuItemModel::submenu(kOpenWith, {}),
             item(QStringLiteral("Quick Look"), QStringLiteral("menuQuickLook"), 0, keys(Qt::CTRL | Qt::Key_Y)),
             item(QStringLiteral("Show in Folder"), QStringLiteral("menuRevealInFinder"), 0, keys(Qt::CTRL | Qt::SHIFT | Qt::Key_R)),
             item(QStringLiteral("Show Original File"), QStringLiteral("menuShowOriginalFile")),
             item(QStringLiteral("Show Info"), QStringLiteral("menuShowInfo"), 0, keys(Qt::CTRL | Qt::Key_I)),
             sep(),
             MenuItemModel::submenu(kRating, std::move(rating)),
             MenuItemModel::submenu(kFlag, {}),
             MenuItemModel::submenu(kMoveTo, {}),
             MenuItemModel::submenu(kShare, {}),
             sep(),
             item(QStringLiteral("Merge PDFs…"), QStringLiteral("menuMergePDF")),
             item(QStringLiteral("Copy to SafeBox…"), QStringLiteral("menuCopySafeBoxClick")),
             item(QStringLiteral("Delete from SafeBox…"), QStringLiteral("menuDeleteSafeBoxFile")),
             sep(),
             item(QStringLiteral("Move to Trash"), QStringLiteral("menuMoveToTrash"), 0, keys(Qt::CTRL | Qt::Key_Backspace)),
             item(QStringLiteral("Empty Trash…"), QStringLiteral("menuEmptyTrash"), 0,
                  keys(Qt::CTRL | Qt::SHIFT | Qt::Key_Backspace))}};
}

MenuModel windowMenu()
{
    return {QStringLiteral("Window"),
            {item(QStringLiteral("Minimize"), QStringLiteral("performMiniaturize"), 0, keys(Qt::CTRL | Qt::Key_M)),
             item(QStringLiteral("Zoom"), QStringLiteral("performZoom")),
             sep(),
             item(QStringLiteral("Main Window"), QStringLiteral("showMainWindow"), 0, keys(Qt::CTRL | Qt::Key_0)),
             item(QStringLiteral("Welcome"), QStringLiteral("menuWelcomeClick"))}};
}

MenuModel helpMenu()
{
    return {QStringLiteral("Help"),
            {item(QStringLiteral("Folivo 2 Help"), QStringLiteral("menuShowHelpClick")),
             item(QStringLiteral("FAQ"), QStringLiteral("menuFAQClick")),
             sep(),
             item(QStringLiteral("Send Feedback…"), QStringLiteral("menuFeedBackClick")),
             item(QStringLiteral("Report a Bug…"), QStringLiteral("menuReportBugClick")),
             item(QStringLiteral("Rate This App…"), QStringLiteral("menuRateThisApp"))}};
}

} // namespace

std::vector<platform::kit::MenuModel> mainMenuModels()
{
    return {applicationMenu(), fileMenu(), editMenu(), viewMenu(), documentMenu(), windowMenu(), helpMenu()};
}

} // namespace mainmenu
