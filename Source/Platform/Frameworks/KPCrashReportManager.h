// The crash-report service the program configures at launch. Reports stay on this machine:
// the manager only remembers who it reports for and where crash reports are kept, so that the
// crash handler and a later report viewer agree on the folder.
#pragma once

#include <QString>

namespace platform {

class KPCrashReportManager {
public:
    static KPCrashReportManager& sharedCrashReportManager();

    // 32 lower-case hexadecimal digits; anything else is refused (false).
    bool configureWithIdentifier(const QString& appIdentifier, const QString& companyName);
    bool startManager();

    bool isStarted() const { return m_started; }
    QString appIdentifier() const { return m_appIdentifier; }
    QString companyName() const { return m_companyName; }
    // "<data home>/<company>/CrashReports", created when the manager starts.
    QString reportsFolder() const;

private:
    QString m_appIdentifier;
    QString m_companyName;
    bool m_started = false;
};

} // namespace platform
