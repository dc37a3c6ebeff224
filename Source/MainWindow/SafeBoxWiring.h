// Makes the SafeBox part of the main window, its hooks reading the window's context.
#pragma once

#include <memory>

struct MainWindowContext;
class GridContextMenu;
class SafeBoxPane;
class SideBarRequests;

std::unique_ptr<SafeBoxPane> makeSafeBoxPane(MainWindowContext& ctx);

// Documents dropped on the SafeBox row go to the SafeBox's copy sheet; the SafeBox list gets its
// menu; "menuCopySafeBoxClick" and "menuDeleteSafeBoxFile" are answered.
void wireSafeBox(MainWindowContext& ctx, SideBarRequests& requests, GridContextMenu& contextMenu);
