#include "Platform/Frameworks/KPCrashReportManager.h"

#include "Platform/Foundation/Paths.h"

#include <QDir>
#include <QRegularExpression>

namespace platform {

KPCrashReportManager& KPCrashReportManager::sharedCrashReportManager()
{
    static KPCrashReportManager manager;
    return manager;
}

bool KPCrashReportManager::configureWithIdentifier(const QString& appIdentifier, const QString& companyName)
{
    static const QRegularExpression hex32(QStringLiteral("^[0-9a-f]{32}$"));
    if (!hex32.match(appIdentifier).hasMatch() || companyName.isEmpty())
        return false;
    m_appIdentifier = appIdentifier;
    m_companyName = companyName;
    return true;
}

QString KPCrashReportManager::reportsFolder() const
{
    return QStringLiteral("%1/%2/CrashReports").arg(Paths::dataHome(), m_companyName);
}

bool KPCrashReportManager::startManager()
{
    if (m_appIdentifier.isEmpty())
        return false;
    m_started = QDir().mkpath(reportsFolder());
    return m_started;
}

} // namespace platform
