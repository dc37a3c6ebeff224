// What the main side bar takes from a drag: documents from the grid on SafeBox (while it is
// open) or on Documents (while Trash is shown: the documents are put back), and files from the
// file manager on Documents or the empty area, which start an import.
//
// Threads: main thread only.
#pragma once

#include "SideBar/SideBarContext.h"

class QDropEvent;
class QMimeData;

class SideBarDrops {
public:
    explicit SideBarDrops(SideBarContext& context) : m_ctx(context) {}

    // Whether a drop of data on target (nullptr: the empty area) is taken.
    bool validateDrop(const QMimeData& data, const KPNode* target) const;
    // Performs it; shiftHeld asks the import to remove the sources afterwards.
    bool acceptDrop(const QMimeData& data, const KPNode* target, bool shiftHeld);
    // A drag moving over the view (asks validateDrop) or its drop (also performs it).
    bool handleDrop(QDropEvent& event);

private:
    bool isSafeBoxOpen() const;

    SideBarContext& m_ctx;
};
