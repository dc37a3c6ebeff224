// The menu bar's layout: every menu as a MenuModel, with the items' tags (the window's handlers
// tell the items of one command apart by them) and the command each performs. Key equivalents
// follow the program's mapping: Command is Ctrl, Option is Alt, Control is Meta.
//
// Items that need no command of the window are handled by AppMenuController itself: the update
// check and the recent libraries. Submenus that the window fills when they open (Open With,
// Flag, Move, Share) start empty.
#pragma once

#include "Platform/Kit/MenuModel.h"

#include <vector>

namespace mainmenu {

// Titles the code changes or looks actions up by.
inline const QString kHideSideBar = QStringLiteral("Hide SideBar");
inline const QString kShowSideBar = QStringLiteral("Show SideBar");
inline const QString kEnterFullScreen = QStringLiteral("Enter Full Screen");
inline const QString kExitFullScreen = QStringLiteral("Exit Full Screen");
inline const QString kDocumentMenu = QStringLiteral("Document");
inline const QString kViewMenu = QStringLiteral("View");
inline const QString kOpenWith = QStringLiteral("Open With");
inline const QString kRating = QStringLiteral("Rating");
inline const QString kFlag = QStringLiteral("Flag");
inline const QString kMoveTo = QStringLiteral("Move to");
inline const QString kShare = QStringLiteral("Share");
inline const QString kSortBy = QStringLiteral("Sort By");
inline const QString kOrderBy = QStringLiteral("Order By");
inline const QString kRecentLibrary = QStringLiteral("Switch Library");

// Commands answered by the menu controller rather than the window.
inline const QString kCheckForUpdatesCommand = QStringLiteral("checkForUpdates");

// The tags of the sort and order items (file sort types 1–7, directions 1001/1002).
constexpr int kAscendingTag = 1001;
constexpr int kDescendingTag = 1002;
// The view-mode items.
constexpr int kIconViewTag = 111;
constexpr int kListViewTag = 222;

std::vector<platform::kit::MenuModel> mainMenuModels();

} // namespace mainmenu
