#include "Platform/Frameworks/KPUpdater.h"

#include "Platform/Foundation/Bundle.h"

namespace platform {

KPUpdater& KPUpdater::sharedUpdater()
{
    static KPUpdater updater;
    return updater;
}

void KPUpdater::checkForUpdatesInBackground()
{
}

QString KPUpdater::checkForUpdates()
{
    const QString version =
        Bundle::mainBundle().objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString")).toString();
    return QStringLiteral("Folivo 2 %1 is the newest version available.").arg(version);
}

} // namespace platform
