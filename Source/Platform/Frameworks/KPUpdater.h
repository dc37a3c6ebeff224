// The update check. This build has no update feed to ask, so every check finds the running
// version current; the menu command reports that, and the launch check has nothing to do.
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
