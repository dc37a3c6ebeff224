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
    return QStringLiteral("This is Folivo 2 %1. Updates come with your system's packages: your software updater installs a newer version when your distribution offers one.").arg(version);
}

} // namespace platform
