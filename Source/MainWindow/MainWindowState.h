// The little state of the main window that more than one of its parts reads. Each field names
// the one part that writes it; every other part only reads it.
//
// Threads: main thread only.
#pragma once

#include "SideBar/KPNode.h"

#include <QString>
#include <functional>
#include <map>

struct MainWindowState {
    // Written by ContentSwitch: the node whose content the grid shows (null before the restore).
    KPNode::Ptr shownNode;
    // Written by ContentSwitch: the node of the second side bar shown (null when none).
    KPNode::Ptr shownSubNode;
    // Written by GridInteraction (ContentSwitch clears it on a switch): what was typed so far to
    // find a title in the grid.
    QString searchTitleKeyDownCharStr;
    // Written by the search (ContentSwitch clears it on a switch): the key of the last search
    // across the library.
    QString globleSearchLastString;
    // Written by SearchCoordinator: the search field is in use, so a side-bar node change
    // clears it.
    bool searchTextEditoring = false;
    // Written by SortDisplayThemeHandlers: the display mode of the listing views, kept while a
    // tile view forces icons.
    int lastInnerDisplayMode = 1;
    // Written by WindowChrome: whether the main side bar and the inspector are shown.
    bool sideBarExpanded = true;
    bool inspectorExpanded = false;
    // Written by MainWindowController once both side bars have loaded and the last selection
    // was restored.
    bool restored = false;

    // ---- QuickLookController ----
    // Written by QuickLookController: whether the preview window is open and fed by the grid's
    // selection.
    bool isPreviewing = false;

    // ---- WindowChrome ----
    // The popovers of the window that are open now, each with what closes it (and saves what
    // it edits, as the tag editor writes the documents' tags). Each popover's owner adds its
    // entry when it opens and removes it when it closes; WindowChrome runs and empties them
    // all on a press anywhere outside them ("MonitorResignWindowResign").
    std::map<QString, std::function<void()>> openPopovers;
};
