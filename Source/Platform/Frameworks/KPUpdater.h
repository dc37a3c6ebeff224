// The update check. Folivo 2 is updated with the system's packages, not by a feed of its own,
// so the menu command says which version runs and where updates come from, and the launch
// check has nothing to do.
#pragma once

#include <QString>

namespace platform {

class KPUpdater {
public:
    static KPUpdater& sharedUpdater();

    // The launch check: quiet, never interrupts the user.
    void checkForUpdatesInBackground();
    // The menu command; answers the text to show the user.
    QString checkForUpdates();
};

} // namespace platform
